// The package extractor on archives written by the tests.

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>

#include "extractor.h"
#include "extractor_support.h"

using namespace extractor_test;
namespace fs = std::filesystem;

namespace {

Extractor MakeExtractor(const std::string& archive, const std::string& dest)
{
    Extractor e;
    e.src_path = archive.c_str();
    e.dest_path = dest.c_str();
    return e;
}

}  // namespace

TEST(Extractor, EveryEntryWrittenWithOneProgressReportEach)
{
    for (auto format : {ArchiveBuilder::Zip, ArchiveBuilder::TarGz}) {
        const std::string dir = TempDir();
        const int n = WriteSamplePackage(dir + "/p.vxa", format, "130");
        ASSERT_EQ(n, 9);
        Extractor e = MakeExtractor(dir + "/p.vxa", dir + "/app");
        EXPECT_EQ(e.Count(), n);

        ProgressRecorder progress;
        ASSERT_EQ(e.Extract(), 0);
        ASSERT_EQ(progress.calls.size(), static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(progress.calls[i], std::make_pair(n, i + 1));

        const Tree tree = Snapshot(dir + "/app");
        EXPECT_EQ(tree.at("Contents/Resources/INFO").content, "[Version]\nbuild_version=130\n");
        EXPECT_EQ(tree.at("Contents/MacOS/lumora-ui").perm & 0100, 0100u) << "executable bit kept";
        EXPECT_EQ(tree.at("Contents/Frameworks/Core.framework/Core").kind, 'l');
        EXPECT_EQ(ReadText(dir + "/app/Contents/Frameworks/Core.framework/Core"), std::string(70000, 'c'));
    }
}

TEST(Extractor, EmptyMissingAndUnnamedInputsFailWithoutProgress)
{
    const std::string dir = TempDir();
    ArchiveBuilder empty(dir + "/empty.tar", ArchiveBuilder::Tar);
    ASSERT_TRUE(empty.Close());

    ProgressRecorder progress;
    size_t mark = LogMark();
    Extractor e = MakeExtractor(dir + "/empty.tar", dir + "/app");
    EXPECT_EQ(e.Count(), 0);
    EXPECT_EQ(e.Extract(), -1);
    EXPECT_EQ(LogCount(mark, "Failed to calculate total file numbers, ret: 0"), 1);

    mark = LogMark();
    e.src_path = (dir + "/missing.vxa").c_str();
    EXPECT_EQ(e.Count(), -1);
    EXPECT_EQ(e.Extract(), -1);
    EXPECT_EQ(e.List(), -1);
    EXPECT_EQ(LogCount(mark, "Failed to calculate total file numbers, ret: -1"), 1);

    // Bytes that are no archive at all.
    ASSERT_TRUE(WriteText(dir + "/garbage.vxa", std::string(5000, '\x5a')));
    e.src_path = (dir + "/garbage.vxa").c_str();
    EXPECT_EQ(e.Extract(), -1);

    mark = LogMark();
    Extractor unnamed;
    unnamed.src_path = (dir + "/empty.tar").c_str();
    EXPECT_EQ(unnamed.Extract(), -1);
    EXPECT_EQ(unnamed.Count(), -1);
    EXPECT_EQ(unnamed.List(), -1);
    EXPECT_EQ(LogCount(mark, "Invalid Argument"), 1);
    EXPECT_EQ(LogCount(mark, "Invalid argument"), 2);
    EXPECT_EQ(unnamed.copy_data(nullptr, nullptr), -1);

    EXPECT_TRUE(progress.calls.empty());
    EXPECT_FALSE(Exists(dir + "/app"));
}

TEST(Extractor, ArchiveDamagedAfterThirdEntryKeepsWhatWasWritten)
{
    const std::string dir = TempDir();
    const std::string path = dir + "/p.tar";
    {
        ArchiveBuilder b(path, ArchiveBuilder::Tar);
        for (int i = 1; i <= 6; ++i)
            b.File("Contents/f" + std::to_string(i), std::string(3000, static_cast<char>('0' + i)));
        ASSERT_TRUE(b.Close());
    }
    const long cut = TarOffsetAfter(path, 3);
    ASSERT_GT(cut, 0);
    fs::resize_file(path, static_cast<uintmax_t>(cut + 100));  // a partial fourth header

    Extractor e = MakeExtractor(path, dir + "/app");
    EXPECT_EQ(e.Count(), 3);
    ProgressRecorder progress;
    const size_t mark = LogMark();
    EXPECT_EQ(e.Extract(), -1);
    EXPECT_EQ(progress.calls.size(), 3u);
    EXPECT_EQ(LogCount(mark, "[ERROR]"), 1) << LogText().substr(mark);
    EXPECT_EQ(LogCount(mark, "archive_read_next_header failed"), 1);
    EXPECT_EQ(ReadText(dir + "/app/Contents/f3"), std::string(3000, '3'));
    EXPECT_FALSE(Exists(dir + "/app/Contents/f4"));
}

TEST(Extractor, DotDotRefusedAbsoluteNamesKeptInsideAndExistingFilesReplaced)
{
    const std::string dir = TempDir();
    ASSERT_TRUE(WriteText(dir + "/app/Contents/old", "old bytes that are longer"));
    ASSERT_EQ(chmod((dir + "/app/Contents/old").c_str(), 0444), 0);
    {
        ArchiveBuilder b(dir + "/good.tar", ArchiveBuilder::Tar);
        b.File("Contents/old", "new");
        b.File("/abs/file", "abs");
        ASSERT_TRUE(b.Close());
    }
    Extractor e = MakeExtractor(dir + "/good.tar", dir + "/app");
    ASSERT_EQ(e.Extract(), 0);
    EXPECT_EQ(ReadText(dir + "/app/Contents/old"), "new");
    EXPECT_EQ(ReadText(dir + "/app/abs/file"), "abs");

    {
        ArchiveBuilder b(dir + "/dotdot.tar", ArchiveBuilder::Tar);
        b.File("Contents/a", "a");
        b.File("Contents/../../escaped", "x");
        ASSERT_TRUE(b.Close());
    }
    const size_t mark = LogMark();
    e.src_path = (dir + "/dotdot.tar").c_str();
    EXPECT_EQ(e.Extract(), -1);
    EXPECT_EQ(LogCount(mark, "archive_read_extract2 failed"), 1);
    EXPECT_FALSE(Exists(dir + "/escaped"));
    EXPECT_FALSE(Exists(dir + "/app/escaped"));
}

TEST(Extractor, HardLinksResolveInsideTheDestination)
{
    const std::string dir = TempDir();
    const std::string victim = dir + "/victim";
    ASSERT_TRUE(WriteText(victim, "precious"));
    {
        ArchiveBuilder b(dir + "/links.tar", ArchiveBuilder::Tar);
        b.File("Contents/a", "shared bytes");
        b.HardLink("Contents/b", "Contents/a");
        ASSERT_TRUE(b.Close());
    }
    // The working folder holds no "Contents": a target left as stored fails.
    Extractor e = MakeExtractor(dir + "/links.tar", dir + "/app");
    ASSERT_EQ(e.Extract(), 0) << LogText();
    struct stat a, b;
    ASSERT_EQ(lstat((dir + "/app/Contents/a").c_str(), &a), 0);
    ASSERT_EQ(lstat((dir + "/app/Contents/b").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);

    // A hard link to an absolute path outside names a file below dest_path
    // instead: there is none, so nothing links to the outside file.
    {
        ArchiveBuilder b2(dir + "/abs.tar", ArchiveBuilder::Tar);
        b2.HardLink("Contents/c", victim);
        ASSERT_TRUE(b2.Close());
    }
    e.src_path = (dir + "/abs.tar").c_str();
    EXPECT_EQ(e.Extract(), -1);
    struct stat v;
    ASSERT_EQ(lstat(victim.c_str(), &v), 0);
    EXPECT_EQ(v.st_nlink, 1u);
    EXPECT_FALSE(Exists(dir + "/app/Contents/c"));
}

TEST(Extractor, PathsThroughSymbolicLinksAreRefused)
{
    const std::string dir = TempDir();
    const std::string outside = dir + "/outside";
    fs::create_directories(outside);
    ASSERT_TRUE(WriteText(outside + "/victim", "precious"));
    const Tree before = Snapshot(outside);

    struct Case {
        const char* name;
        void (*build)(ArchiveBuilder&, const std::string&);
    };
    const Case cases[] = {
        {"file below a link",
         [](ArchiveBuilder& b, const std::string& out) {
             b.Symlink("Contents/x", out);
             b.File("Contents/x/file", "escaped");
         }},
        {"file below a link below a link",
         [](ArchiveBuilder& b, const std::string& out) {
             b.Symlink("Contents/x", out);
             b.Dir("Contents/x/sub");
             b.File("Contents/x/sub/file", "escaped");
         }},
        {"hard link to a link",
         [](ArchiveBuilder& b, const std::string& out) {
             b.Symlink("Contents/y", out + "/victim");
             b.HardLink("Contents/z", "Contents/y");
         }},
        {"folder entry over a link, then a file",
         [](ArchiveBuilder& b, const std::string& out) {
             b.Symlink("Contents", out);
             b.Dir("Contents");
             b.File("Contents/victim", "overwritten");
         }},
    };
    for (const Case& c : cases) {
        const std::string work = TempDir();
        ArchiveBuilder b(work + "/evil.tar", ArchiveBuilder::Tar);
        c.build(b, outside);
        ASSERT_TRUE(b.Close()) << c.name;
        Extractor e = MakeExtractor(work + "/evil.tar", work + "/app");
        const size_t mark = LogMark();
        EXPECT_EQ(e.Extract(), -1) << c.name;
        EXPECT_EQ(LogCount(mark, "[ERROR]"), 1) << c.name << LogText().substr(mark);
        EXPECT_EQ(Snapshot(outside), before) << c.name;
    }
}

TEST(Extractor, DestinationBelowASymbolicLinkIsUsedAndLeftAlone)
{
    const std::string dir = TempDir();
    fs::create_directories(dir + "/real/home");
    fs::create_directory_symlink(dir + "/real", dir + "/linked");
    const std::string package = dir + "/p.vxa";
    const int n = WriteSamplePackage(package, ArchiveBuilder::Zip, "130");

    Extractor e = MakeExtractor(package, dir + "/linked/home/.Lumora/Lumora.app");
    ProgressRecorder progress;
    ASSERT_EQ(e.Extract(), 0) << LogText();
    EXPECT_EQ(progress.calls.size(), static_cast<size_t>(n));
    EXPECT_TRUE(fs::is_symlink(dir + "/linked"));
    EXPECT_EQ(fs::read_symlink(dir + "/linked"), fs::path(dir + "/real"));
    EXPECT_EQ(ReadText(dir + "/real/home/.Lumora/Lumora.app/Contents/Resources/INFO"),
              "[Version]\nbuild_version=130\n");
}

TEST(Extractor, DevicesRefusedSetIdBitsDroppedLongNamesBounded)
{
    const std::string dir = TempDir();
    {
        ArchiveBuilder b(dir + "/suid.tar", ArchiveBuilder::Tar);
        b.File("Contents/tool", "x", 06755);
        ASSERT_TRUE(b.Close());
    }
    Extractor e = MakeExtractor(dir + "/suid.tar", dir + "/app");
    ASSERT_EQ(e.Extract(), 0);
    struct stat st;
    ASSERT_EQ(stat((dir + "/app/Contents/tool").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & (S_ISUID | S_ISGID), 0u);

    for (mode_t type : {AE_IFCHR, AE_IFIFO}) {
        const std::string work = TempDir();
        ArchiveBuilder b(work + "/node.tar", ArchiveBuilder::Tar);
        b.Node("Contents/node", type);
        ASSERT_TRUE(b.Close());
        Extractor n = MakeExtractor(work + "/node.tar", work + "/app");
        const size_t mark = LogMark();
        EXPECT_EQ(n.Extract(), -1);
        EXPECT_EQ(LogCount(mark, "refusing entry"), 1);
        EXPECT_FALSE(Exists(work + "/app/Contents/node"));
    }

    // A name that fits below the destination is written; one that does not
    // is refused before the disk writer sees it.
    const std::string work = TempDir();
    const std::string dest = work + "/app";
    std::string fits = "Contents";
    while (dest.size() + 1 + fits.size() + 201 < PATH_MAX - 1)
        fits += "/" + std::string(200, 'n');
    const std::string too_long = fits + "/" + std::string(200, 'm') + "/" + std::string(200, 'm');
    ASSERT_GE(fits.size(), 3800u);
    {
        ArchiveBuilder b(work + "/long.tar", ArchiveBuilder::Tar);
        b.File(fits, "deep");
        b.File(too_long, "deeper");
        ASSERT_TRUE(b.Close());
    }
    Extractor l = MakeExtractor(work + "/long.tar", dest);
    const size_t mark = LogMark();
    EXPECT_EQ(l.Extract(), -1);
    EXPECT_EQ(ReadText(dest + "/" + fits), "deep");
    EXPECT_EQ(LogCount(mark, "refusing entry"), 1);
}

TEST(Extractor, HundredThousandEntries)
{
    const std::string dir = TempDir();
    {
        ArchiveBuilder b(dir + "/many.tar", ArchiveBuilder::Tar);
        b.Dir("Contents");
        for (int d = 0; d < 100; ++d) {
            const std::string folder = "Contents/d" + std::to_string(d);
            b.Dir(folder);
            for (int f = 0; f < 999 - (d == 0 ? 1 : 0); ++f)
                b.File(folder + "/" + std::to_string(f), "");
        }
        ASSERT_TRUE(b.Close());
    }
    Extractor e = MakeExtractor(dir + "/many.tar", dir + "/app");
    EXPECT_EQ(e.Count(), 100000);
    ProgressRecorder progress;
    ASSERT_EQ(e.Extract(), 0);
    ASSERT_EQ(progress.calls.size(), 100000u);
    EXPECT_EQ(progress.calls.back(), std::make_pair(100000, 100000));
    EXPECT_TRUE(Exists(dir + "/app/Contents/d99/998"));
}

TEST(Extractor, ListAndCopyData)
{
    const std::string dir = TempDir();
    WriteSamplePackage(dir + "/p.vxa", ArchiveBuilder::Zip, "7");
    Extractor e = MakeExtractor(dir + "/p.vxa", dir + "/app");
    testing::internal::CaptureStdout();
    EXPECT_EQ(e.List(), 0);
    const std::string listed = testing::internal::GetCapturedStdout();
    EXPECT_NE(listed.find("Contents/Resources/INFO\n"), std::string::npos);
    EXPECT_NE(listed.find("Contents/Frameworks/Core.framework/Core\n"), std::string::npos);

    // copy_data moves one entry's blocks into a disk writer.
    archive* reader = archive_read_new();
    archive_read_support_format_all(reader);
    archive* writer = archive_write_disk_new();
    ASSERT_EQ(archive_read_open_filename(reader, (dir + "/p.vxa").c_str(), 10240), ARCHIVE_OK);
    archive_entry* entry = nullptr;
    bool copied = false;
    while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
        if (std::string(archive_entry_pathname(entry)) != "Contents/Resources/INFO")
            continue;
        archive_entry_set_pathname(entry, (dir + "/INFO.copy").c_str());
        ASSERT_EQ(archive_write_header(writer, entry), ARCHIVE_OK);
        EXPECT_EQ(e.copy_data(reader, writer), 0);
        archive_write_finish_entry(writer);
        copied = true;
    }
    archive_read_free(reader);
    archive_write_free(writer);
    EXPECT_TRUE(copied);
    EXPECT_EQ(ReadText(dir + "/INFO.copy"), "[Version]\nbuild_version=7\n");
}
