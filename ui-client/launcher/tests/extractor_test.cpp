// The package extractor on archives written by the tests.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <random>

#include "extractor.h"
#include "extractor_support.h"

using namespace extractor_test;

namespace {

Extractor MakeExtractor(const std::string& archive, const std::string& dest)
{
    Extractor e;
    e.src_path = archive.c_str();
    e.dest_path = dest.c_str();
    return e;
}

// Writes `entries` as a tar in a fresh folder `*dir` and extracts it to *dir/app.
int ExtractTar(const std::vector<Entry>& entries, std::string* dir)
{
    *dir = TempDir();
    EXPECT_TRUE(WriteArchive(*dir + "/p.tar", Tar, entries));
    return MakeExtractor(*dir + "/p.tar", *dir + "/app").Extract();
}

TEST(Extractor, EveryEntryWrittenWithOneProgressReportEach)
{
    const std::vector<Entry> sample = SamplePackage("130");
    const int n = static_cast<int>(sample.size());
    for (Format format : {Zip, TarGz}) {
        const std::string dir = TempDir(), app = dir + "/app/Contents/";
        ASSERT_TRUE(WriteArchive(dir + "/p.vxa", format, sample));
        Extractor e = MakeExtractor(dir + "/p.vxa", dir + "/app");
        EXPECT_EQ(e.Count(), n);
        ProgressRecorder progress;
        ASSERT_EQ(e.Extract(), 0) << LogSince(0);
        ASSERT_EQ(progress.calls.size(), sample.size());
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(progress.calls[i], std::make_pair(n, i + 1));
        EXPECT_EQ(ReadText(app + "Resources/INFO"), "[Version]\nbuild_version=130\n");
        EXPECT_EQ(fs::status(app + "MacOS/lumora-ui").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
        EXPECT_TRUE(fs::is_symlink(app + "Frameworks/Core.framework/Core"));
        EXPECT_EQ(ReadText(app + "Frameworks/Core.framework/Core"), std::string(70000, 'c'));
        testing::internal::CaptureStdout();
        EXPECT_EQ(e.List(), 0);
        EXPECT_NE(testing::internal::GetCapturedStdout().find("Contents/Resources/INFO\n"), std::string::npos);
    }
}

TEST(Extractor, EmptyMissingGarbageAndUnnamedInputsFailWithoutProgress)
{
    const std::string dir = TempDir(), app = dir + "/app", counting = "Failed to calculate total file numbers, ret: ";
    ASSERT_TRUE(WriteArchive(dir + "/empty.tar", Tar, {}));
    ASSERT_TRUE(WriteText(dir + "/garbage.vxa", std::string(5000, '\x5a')));
    const struct {
        std::string src, dest, log;
        int count;
    } cases[] = {{dir + "/empty.tar", app, counting + "0", 0},
                 {dir + "/missing.vxa", app, counting + "-1", -1},
                 {dir + "/garbage.vxa", app, counting + "-1", -1},
                 {dir + "/empty.tar", "", "Invalid Argument", -1}};
    ProgressRecorder progress;
    for (const auto& c : cases) {
        Extractor e = MakeExtractor(c.src, c.dest);
        EXPECT_EQ(e.Count(), c.count) << c.src;
        const size_t mark = LogMark();
        EXPECT_EQ(e.Extract(), -1) << c.src;
        EXPECT_EQ(LogCount(mark, c.log), 1) << c.src << LogSince(mark);
    }
    EXPECT_EQ(Extractor().List(), -1);
    EXPECT_EQ(Extractor().copy_data(nullptr, nullptr), -1);
    EXPECT_TRUE(progress.calls.empty());
    EXPECT_FALSE(Exists(app));
}

TEST(Extractor, ArchiveDamagedAfterThirdEntryKeepsWhatWasWritten)
{
    const std::string dir = TempDir(), path = dir + "/p.tar";
    std::vector<Entry> files;
    for (char i = '1'; i <= '6'; ++i)
        files.push_back({'f', std::string("Contents/f") + i, std::string(3000, i)});
    ASSERT_TRUE(WriteArchive(path, Tar, files));
    ASSERT_TRUE(CutTarAfter(path, 3));
    Extractor e = MakeExtractor(path, dir + "/app");
    EXPECT_EQ(e.Count(), 3);
    ProgressRecorder progress;
    const size_t mark = LogMark();
    EXPECT_EQ(e.Extract(), -1);
    EXPECT_EQ(progress.calls.size(), 3u);
    EXPECT_EQ(LogCount(mark, "[ERROR]"), 1) << LogSince(mark);
    EXPECT_EQ(LogCount(mark, "archive_read_next_header failed"), 1);
    EXPECT_EQ(ReadText(dir + "/app/Contents/f3"), std::string(3000, '3'));
    EXPECT_FALSE(Exists(dir + "/app/Contents/f4"));
}

TEST(Extractor, NamesStayBelowTheDestination)
{
    // A read-only file is replaced; an absolute name lands below the destination.
    std::string dir = TempDir();
    ASSERT_TRUE(WriteText(dir + "/app/Contents/old", "old bytes that are longer"));
    ASSERT_EQ(chmod((dir + "/app/Contents/old").c_str(), 0444), 0);
    ASSERT_TRUE(WriteArchive(dir + "/p.tar", Tar, {{'f', "Contents/old", "new"}, {'f', "/abs/file", "abs"}}));
    ASSERT_EQ(MakeExtractor(dir + "/p.tar", dir + "/app").Extract(), 0);
    EXPECT_EQ(ReadText(dir + "/app/Contents/old"), "new");
    EXPECT_EQ(ReadText(dir + "/app/abs/file"), "abs");

    const size_t mark = LogMark();
    EXPECT_EQ(ExtractTar({{'f', "Contents/a", "a"}, {'f', "Contents/../../escaped", "x"}}, &dir), -1);
    EXPECT_EQ(LogCount(mark, "archive_read_extract2 failed"), 1);
    EXPECT_FALSE(Exists(dir + "/escaped") || Exists(dir + "/app/escaped"));

    // Hard-link targets are re-rooted below the destination (the working folder has no "Contents")...
    ASSERT_EQ(ExtractTar({{'f', "Contents/a", "shared"}, {'h', "Contents/b", "Contents/a"}}, &dir), 0);
    EXPECT_EQ(fs::hard_link_count(dir + "/app/Contents/a"), 2u);
    EXPECT_TRUE(fs::equivalent(dir + "/app/Contents/a", dir + "/app/Contents/b"));
    // ... so an absolute target names a missing file below it, not the outside one.
    const std::string victim = TempDir() + "/victim";
    ASSERT_TRUE(WriteText(victim, "precious"));
    EXPECT_EQ(ExtractTar({{'h', "Contents/c", victim}}, &dir), -1);
    EXPECT_EQ(fs::hard_link_count(victim), 1u);
    EXPECT_FALSE(Exists(dir + "/app/Contents/c"));
}

TEST(Extractor, PathsThroughSymbolicLinksAreRefused)
{
    const std::string outside = TempDir();
    ASSERT_TRUE(WriteText(outside + "/victim", "precious"));
    const std::string before = Snapshot(outside);
    const std::vector<std::vector<Entry>> cases = {
        {{'l', "Contents/x", outside}, {'f', "Contents/x/file", "escaped"}},
        {{'l', "Contents/x", outside}, {'d', "Contents/x/sub"}, {'f', "Contents/x/sub/file", "escaped"}},
        {{'l', "Contents/y", outside + "/victim"}, {'h', "Contents/z", "Contents/y"}},
        {{'l', "Contents", outside}, {'d', "Contents"}, {'f', "Contents/victim", "overwritten"}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        std::string dir;
        const size_t mark = LogMark();
        EXPECT_EQ(ExtractTar(cases[i], &dir), -1) << "case " << i;
        EXPECT_EQ(LogCount(mark, "[ERROR]"), 1) << "case " << i << LogSince(mark);
        EXPECT_EQ(Snapshot(outside), before) << "case " << i;
    }
}

TEST(Extractor, DestinationBelowASymbolicLinkIsUsedAndLeftAlone)
{
    const std::string dir = TempDir();
    fs::create_directories(dir + "/real/home");
    fs::create_directory_symlink(dir + "/real", dir + "/linked");
    ASSERT_TRUE(WriteArchive(dir + "/p.vxa", Zip, SamplePackage("130")));
    ASSERT_EQ(MakeExtractor(dir + "/p.vxa", dir + "/linked/home/.Lumora/Lumora.app").Extract(), 0) << LogSince(0);
    EXPECT_EQ(fs::read_symlink(dir + "/linked"), fs::path(dir + "/real"));
    EXPECT_EQ(ReadText(dir + "/real/home/.Lumora/Lumora.app/Contents/Resources/INFO"), "[Version]\nbuild_version=130\n");
}

TEST(Extractor, DevicesRefusedSetIdBitsDroppedLongNamesBounded)
{
    std::string dir;
    ASSERT_EQ(ExtractTar({{'f', "Contents/tool", "x", 06755}}, &dir), 0);
    struct stat st;
    ASSERT_EQ(stat((dir + "/app/Contents/tool").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & (S_ISUID | S_ISGID), 0u);
    for (char kind : {'c', 'p'}) {
        const size_t mark = LogMark();
        EXPECT_EQ(ExtractTar({{kind, "Contents/node"}}, &dir), -1) << kind;
        EXPECT_EQ(LogCount(mark, "refusing entry"), 1) << kind;
        EXPECT_FALSE(Exists(dir + "/app/Contents/node")) << kind;
    }

    // A ~4,000-byte name that fits below the destination is written; a longer one is refused.
    dir = TempDir();
    std::string fits = "Contents";
    while (dir.size() + 5 + fits.size() + 201 < PATH_MAX - 1)
        fits += "/" + std::string(200, 'n');
    ASSERT_GE(fits.size(), 3800u);
    const std::string too_long = fits + "/" + std::string(200, 'm') + "/" + std::string(200, 'm');
    ASSERT_TRUE(WriteArchive(dir + "/p.tar", Tar, {{'f', fits, "deep"}, {'f', too_long, "deeper"}}));
    const size_t mark = LogMark();
    EXPECT_EQ(MakeExtractor(dir + "/p.tar", dir + "/app").Extract(), -1);
    EXPECT_EQ(ReadText(dir + "/app/" + fits), "deep");
    EXPECT_EQ(LogCount(mark, "refusing entry"), 1);
}

// More entries than a 16-bit counter holds.
TEST(Extractor, ManyEntries)
{
    const int kEntries = 70000;
    std::vector<Entry> entries{{'d', "Contents"}};
    for (int i = 1; i < kEntries; ++i) {
        const std::string folder = "Contents/d" + std::to_string(i / 1000);
        entries.push_back(i % 1000 == 1 ? Entry{'d', folder} : Entry{'f', folder + "/" + std::to_string(i)});
    }
    std::string dir;
    ProgressRecorder progress;
    ASSERT_EQ(ExtractTar(entries, &dir), 0);
    // One report per whole percent (0 to 100) reaches the dialog, the last one exact.
    EXPECT_EQ(progress.calls.size(), 101u);
    EXPECT_EQ(progress.calls.back(), std::make_pair(kEntries, kEntries));
    EXPECT_TRUE(Exists(dir + "/app/Contents/d69/69999"));
}

// An entry whose path fits now but not under the backup's longer name
// ("_tmp9") is refused: such a backup could never be removed.
TEST(Extractor, NamesLeaveRoomForTheBackupSuffix)
{
    const std::string dir = TempDir();
    const std::string root = dir + "/app/";
    std::string name = "Contents";
    while (root.size() + name.size() + 201 <= PATH_MAX - 4)
        name += "/" + std::string(200, 'n');
    name += "/" + std::string(PATH_MAX - 3 - root.size() - name.size() - 1, 'x');  // path of PATH_MAX - 3 bytes
    ASSERT_EQ(root.size() + name.size(), static_cast<size_t>(PATH_MAX - 3));
    ASSERT_TRUE(WriteArchive(dir + "/p.tar", Tar, {{'f', name, "x"}}));
    const size_t mark = LogMark();
    EXPECT_EQ(MakeExtractor(dir + "/p.tar", dir + "/app").Extract(), -1);
    EXPECT_EQ(LogCount(mark, "path longer than"), 1) << LogSince(mark);
}

// A name carrying a line end cannot forge a log line of its own.
TEST(Extractor, RefusedNamesCannotForgeLogLines)
{
    const std::string forged = "2026-01-01T00:00:00 (    1:    1) [ERROR] forged(1): all is well";
    std::string dir;
    const size_t mark = LogMark();
    EXPECT_EQ(ExtractTar({{'p', "Contents/x\n" + forged + "\n\x1b[2J"}}, &dir), -1);
    const std::string log = LogSince(mark);
    EXPECT_EQ(log.find("\n" + forged), std::string::npos) << log;
    EXPECT_NE(log.find("Contents/x\\n2026-01-01"), std::string::npos) << log;
    EXPECT_NE(log.find("\\x1b[2J"), std::string::npos) << log;

    // A carriage return would let a terminal print the rest over the line's start.
    const size_t second = LogMark();
    EXPECT_EQ(ExtractTar({{'p', "Contents/y\r2026-01-01T00:00:00 all is well"}}, &dir), -1);
    const std::string returned = LogSince(second);
    EXPECT_EQ(returned.find('\r'), std::string::npos) << returned;
    EXPECT_NE(returned.find("'Contents/y\\r2026-01-01T00:00:00 all is well'"), std::string::npos) << returned;
}

std::string RandomBytes(size_t size);

// libarchive's message as it stands, without a line end of its own, and the
// system's text only where a system call failed: libarchive's own error
// numbers (EILSEQ for a damaged archive, EINVAL, -1) have misleading texts.
TEST(Extractor, FailureReasonNamesTheCauseOnly)
{
    archive* first = archive_read_new();
    archive* second = archive_read_new();
    ASSERT_TRUE(first != nullptr && second != nullptr);
    const struct {
        int error;
        const char* message;
        std::string reason;
    } cases[] = {
        {EILSEQ, "Unrecognized archive format", "Unrecognized archive format"},
        {-1, "Damaged Zip archive", "Damaged Zip archive"},
        {EINVAL, "ZIP uncompressed data is wrong size (read 1, expected 2)\n",
         "ZIP uncompressed data is wrong size (read 1, expected 2)"},
        {ENOSPC, "Write failed\r\n", "Write failed: No space left on device"},
        {EACCES, "Failed to open 'x': Permission denied", "Failed to open 'x': Permission denied"},
        {EIO, "", "Input/output error"},
    };
    for (const auto& c : cases) {
        archive_set_error(first, c.error, "%s", c.message);
        EXPECT_EQ(Extractor::FailureReason(first, second), c.reason) << c.message;
    }
    // A handle with nothing to say, or only one of libarchive's numbers, leaves it to the other.
    archive_set_error(first, EILSEQ, "%s", "");
    archive_set_error(second, EIO, "%s", "Read error\n");
    EXPECT_EQ(Extractor::FailureReason(first, second), "Read error: Input/output error");
    archive_clear_error(second);
    EXPECT_EQ(Extractor::FailureReason(first, second), "unknown error");
    archive_read_free(first);
    archive_read_free(second);
}

// A package that is no archive, or whose entries can't be listed, says why:
// in libarchive's words, or that it holds no entries.
TEST(Extractor, UnreadablePackagesSayWhy)
{
    const std::string dir = TempDir(), sample = dir + "/sample.vxa";
    ASSERT_TRUE(WriteArchive(sample, Zip, SamplePackage("130")));
    const std::string zip = ReadText(sample);
    const size_t directory = zip.find("PK\1\2");
    ASSERT_TRUE(zip.compare(0, 4, "PK\3\4") == 0 && directory != std::string::npos);
    std::string bad_directory = zip, bad_local = zip;
    bad_directory[directory + 2] ^= 0x55;  // the central directory's first signature
    bad_local[2] ^= 0x55;                  // the first local header's
    std::string text;
    while (text.size() < 4000)
        text += "Lumora package notes: this is not an archive.\n";
    const std::string unrecognized = "archive_read_open_filename failed: 'Unrecognized archive format'";
    const std::string unlisted = "': archive_read_next_header failed: '";
    const struct {
        std::string name, bytes, reason;
    } cases[] = {
        {"text.vxa", text, unrecognized},
        {"picture.vxa", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + RandomBytes(3000), unrecognized},
        {"cut.vxa", zip.substr(0, zip.size() - 1), unrecognized},
        {"zero.vxa", "", "' holds no entries"},
        {"directory.vxa", bad_directory, unlisted},
        {"local.vxa", bad_local, unlisted},
    };
    for (const auto& c : cases) {
        const std::string path = dir + "/" + c.name;
        ASSERT_TRUE(WriteText(path, c.bytes));
        const size_t mark = LogMark();
        EXPECT_EQ(MakeExtractor(path, dir + "/app").Extract(), -1) << c.name;
        const std::string log = LogSince(mark);
        EXPECT_EQ(LogCount(mark, "Failed to calculate total file numbers, ret: "), 1) << log;
        EXPECT_NE(log.find(c.reason), std::string::npos) << log;
        if (c.reason != unrecognized) {
            EXPECT_NE(log.find("package '" + path + c.reason), std::string::npos) << log;
        }
        for (const char* noise : {"multibyte", "Invalid argument", "\\n", "''", "unknown error"})
            EXPECT_EQ(log.find(noise), std::string::npos) << noise << " in " << log;
    }
    EXPECT_FALSE(Exists(dir + "/app"));
}

std::string RandomBytes(size_t size)  // incompressible
{
    std::mt19937 generator(42);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator());
    return bytes;
}

// Data damaged inside an entry: the reader's reason reaches the log.
TEST(Extractor, DamagedEntryDataNamesTheCause)
{
    const std::string dir = TempDir(), path = dir + "/p.vxa";
    const std::string random = RandomBytes(100000);
    ASSERT_TRUE(WriteArchive(path, Zip, {{'d', "Contents"}, {'f', "Contents/data", random}}));
    std::string bytes = ReadText(path);
    // The entry's local header, then its name and extra field, then its data.
    size_t at = bytes.find("PK\3\4");
    while (at != std::string::npos && bytes.compare(at + 30, 13, "Contents/data") != 0)
        at = bytes.find("PK\3\4", at + 1);
    ASSERT_NE(at, std::string::npos);
    const auto u16 = [&](size_t i) { return size_t(uint8_t(bytes[i])) | size_t(uint8_t(bytes[i + 1])) << 8; };
    const size_t data = at + 30 + u16(at + 26) + u16(at + 28);
    bytes[data + 50000] ^= 0x55;
    ASSERT_TRUE(WriteText(path, bytes));
    const size_t mark = LogMark();
    EXPECT_EQ(MakeExtractor(path, dir + "/app").Extract(), -1);
    const std::string log = LogSince(mark);
    EXPECT_EQ(log.find("(null)"), std::string::npos) << log;
    EXPECT_TRUE(log.find("CRC") != std::string::npos || log.find("ecompression") != std::string::npos) << log;
}

// A full disk: a small tmpfs (root only; skipped elsewhere).
TEST(Extractor, FullDiskNamesTheCause)
{
    const std::string dir = TempDir(), disk = dir + "/disk";
    fs::create_directories(disk);
    if (geteuid() != 0 || mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    const std::string random = RandomBytes(600000);
    ASSERT_TRUE(WriteArchive(dir + "/p.vxa", Zip, {{'d', "Contents"}, {'f', "Contents/big", random}}));
    const size_t mark = LogMark();
    EXPECT_EQ(MakeExtractor(dir + "/p.vxa", disk + "/app").Extract(), -1);
    umount2(disk.c_str(), MNT_DETACH);
    const std::string log = LogSince(mark);
    EXPECT_NE(log.find("No space left on device"), std::string::npos) << log;
    EXPECT_EQ(log.find("(null)"), std::string::npos) << log;
}

}  // namespace
