// Upgrades that link the files they keep from the installation moved aside,
// and zip packages written by several threads.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "extractor.h"
#include "extractor_support.h"
#include "installed-scan.h"

using namespace extractor_test;

namespace {

struct stat Stat(const std::string& path)
{
    struct stat st;
    std::memset(&st, 0, sizeof st);
    lstat(path.c_str(), &st);
    return st;
}

bool SameInode(const std::string& a, const std::string& b)
{
    const struct stat x = Stat(a), y = Stat(b);
    return x.st_ino != 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

// An installed bundle in dir/old made from `before` (by the extractor, as
// the launcher made it), and `after` as a zip in dir/p.vxa.
struct Upgrade {
    Upgrade(const std::vector<Entry>& before, const std::vector<Entry>& after, Format format = Zip)
        : dir(TempDir()), old(dir + "/old"), app(dir + "/app")
    {
        EXPECT_TRUE(WriteArchive(dir + "/old.vxa", Zip, before));
        Extractor first = Make(dir + "/old.vxa", old);
        EXPECT_EQ(first.Extract(), 0) << LogSince(0);
        package = dir + (format == Zip ? "/p.vxa" : "/p.tgz");
        EXPECT_TRUE(WriteArchive(package, format, after));
        snapshot = Snapshot(old);
    }
    static Extractor Make(const std::string& archive, const std::string& dest)
    {
        Extractor e;
        e.src_path = archive.c_str();
        e.dest_path = dest.c_str();
        return e;
    }
    Extractor Linking(int workers) const
    {
        Extractor e = Make(package, app);
        e.link_source = old.c_str();
        e.workers = workers;
        return e;
    }
    std::string dir, old, app, package, snapshot;
};

const std::string kBig = std::string(50000, 'b');

// What linking must never do: put bytes, modes or kinds in place other than
// the package's. Each path's outcome is compared with a plain extraction.
TEST(Delta, OnlyFilesOfTheSameBytesAndModeAreLinked)
{
    const std::vector<Entry> before = {
        {'d', "Contents"},
        {'f', "Contents/same", kBig},
        {'f', "Contents/other-bytes", std::string(5000, 'x')},
        {'f', "Contents/other-mode", "mode", 0644},
        {'f', "Contents/becomes-link", "file"},
        {'l', "Contents/becomes-file", "same"},
        {'d', "Contents/folder-becomes-file"},
        {'f', "Contents/tool", "#!/bin/sh\n", 0755},
    };
    const std::vector<Entry> after = {
        {'d', "Contents"},
        {'f', "Contents/same", kBig},
        {'f', "Contents/other-bytes", std::string(4999, 'x') + "y"},
        {'f', "Contents/other-mode", "mode", 0755},
        {'l', "Contents/becomes-link", "same"},
        {'f', "Contents/becomes-file", kBig},
        {'f', "Contents/folder-becomes-file", "now a file"},
        {'f', "Contents/tool", "#!/bin/sh\n", 0755},
        {'f', "Contents/new", "new"},
    };
    for (int workers : {1, 4}) {
        Upgrade up(before, after);
        Extractor e = up.Linking(workers);
        ASSERT_EQ(e.Extract(), 0) << LogSince(0);
        Extractor plain = Upgrade::Make(up.package, up.dir + "/plain");
        ASSERT_EQ(plain.Extract(), 0);
        EXPECT_EQ(Snapshot(up.app), Snapshot(up.dir + "/plain")) << workers;
        EXPECT_EQ(Snapshot(up.old), up.snapshot) << "the old installation is untouched";
        EXPECT_EQ(e.stats.linked, 2) << workers;
        for (const char* kept : {"same", "tool"})
            EXPECT_TRUE(SameInode(up.app + "/Contents/" + kept, up.old + "/Contents/" + kept)) << kept;
        for (const char* changed : {"other-bytes", "other-mode", "becomes-file"})
            EXPECT_EQ(Stat(up.app + "/Contents/" + changed).st_nlink, 1u) << changed;
        // The linked file carries the entry's time (the archive's 1700000000).
        EXPECT_EQ(Stat(up.app + "/Contents/same").st_mtim.tv_sec, 1700000000);
    }
}

// A name listed twice: the second entry replaces the linked file with a new
// one; the old installation's file keeps its bytes, mode and single link.
TEST(Delta, ANameListedTwiceNeverWritesIntoTheOldFile)
{
    const std::vector<Entry> before = {{'d', "Contents"}, {'f', "Contents/a", kBig, 0644}};
    const std::vector<std::vector<Entry>> cases = {
        {{'d', "Contents"}, {'f', "Contents/a", kBig, 0644}, {'f', "Contents/a", kBig, 0600}},
        {{'d', "Contents"}, {'f', "Contents/a", kBig, 0644}, {'f', "Contents/a", std::string(50000, 'z'), 0644}},
        {{'d', "Contents"}, {'f', "Contents/a", kBig, 0644}, {'l', "Contents/a", "elsewhere"}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        Upgrade up(before, cases[i]);
        const struct stat old = Stat(up.old + "/Contents/a");
        Extractor e = up.Linking(4);
        ASSERT_EQ(e.Extract(), 0) << i << LogSince(0);
        const struct stat now = Stat(up.old + "/Contents/a");
        EXPECT_EQ(now.st_ino, old.st_ino) << i;
        EXPECT_EQ(now.st_nlink, 1u) << i;
        EXPECT_EQ(now.st_mode, old.st_mode) << i;
        EXPECT_EQ(Snapshot(up.old), up.snapshot) << i;
        EXPECT_FALSE(SameInode(up.app + "/Contents/a", up.old + "/Contents/a")) << i;
    }
}

int g_link_error = 0;
int RefusedLink(int, const char*)
{
    errno = g_link_error;
    return -1;
}

// Where no hard link can be made the files are written, each refusal said
// in a DEBUG line; a refusal that holds for every file stops the attempts.
TEST(Delta, RefusedLinksAreWritten)
{
    std::vector<Entry> files = {{'d', "Contents"}};
    for (int i = 0; i < 6; ++i)
        files.push_back({'f', "Contents/f" + std::to_string(i), std::string(3000 + i, 'a' + i)});
    for (int error : {EXDEV, EPERM, EMLINK}) {
        Upgrade up(files, files);
        g_link_error = error;
        Extractor e = up.Linking(2);
        e.link_file = RefusedLink;
        const size_t mark = LogMark();
        ASSERT_EQ(e.Extract(), 0) << LogSince(mark);
        EXPECT_EQ(e.stats.linked, 0);
        EXPECT_EQ(e.stats.written, 6);
        const int lines = LogCount(mark, "cannot link '");
        if (error == EMLINK)
            EXPECT_EQ(lines, 6) << LogSince(mark);
        else
            EXPECT_TRUE(lines >= 1 && lines <= 2) << LogSince(mark);  // at most one per thread
        EXPECT_EQ(Snapshot(up.app), Snapshot(up.old));
        EXPECT_EQ(Stat(up.old + "/Contents/f0").st_nlink, 1u);
    }
}

// A tar.gz is written in full on one thread; so is a zip whose old
// installation is not named.
TEST(Delta, TarPackagesAreWrittenInFull)
{
    const std::vector<Entry> files = {{'d', "Contents"}, {'f', "Contents/a", kBig}};
    Upgrade up(files, files, TarGz);
    Extractor e = up.Linking(4);
    ASSERT_EQ(e.Extract(), 0);
    EXPECT_EQ(e.stats.linked, 0);
    EXPECT_EQ(e.stats.threads, 1);
    EXPECT_EQ(Snapshot(up.app), Snapshot(up.old));
}

// A file changed after the scan read it is read again, not taken from the scan.
TEST(Delta, AScanOfAFileChangedSinceIsNotTrusted)
{
    const std::vector<Entry> before = {{'d', "Contents"}, {'f', "Contents/a", kBig}};
    const std::vector<Entry> after = {{'d', "Contents"}, {'f', "Contents/a", std::string(50000, 'q')}};
    Upgrade up(before, after);
    InstalledScan scan(up.old.c_str());
    scan.Wait();
    ASSERT_EQ(scan.Files(), 1u);
    ASSERT_TRUE(WriteText(up.old + "/Contents/a", std::string(50000, 'q')));  // same size, now the new bytes
    Extractor e = up.Linking(1);
    e.scan = &scan;
    ASSERT_EQ(e.Extract(), 0);
    EXPECT_EQ(e.stats.linked, 1) << "its bytes are the entry's now";
    EXPECT_EQ(ReadText(up.app + "/Contents/a"), std::string(50000, 'q'));
}

// Several threads: the tree of one thread, and one progress report per
// entry from the calling thread, in order.
TEST(Parallel, ManyFilesGiveTheTreeOfOneThread)
{
    std::vector<Entry> entries = {{'d', "Contents"}};
    for (int d = 0; d < 8; ++d) {
        const std::string folder = "Contents/d" + std::to_string(d);
        entries.push_back({'d', folder});
        for (int f = 0; f < 150; ++f)
            entries.push_back({'f', folder + "/" + std::to_string(f), std::string(100 + 37 * f, 'a' + d),
                               mode_t(f % 7 == 0 ? 0755 : 0644)});
        entries.push_back({'l', folder + "/link", "0"});
    }
    const std::string dir = TempDir();
    ASSERT_TRUE(WriteArchive(dir + "/p.vxa", Zip, entries));
    Extractor one = Upgrade::Make(dir + "/p.vxa", dir + "/one");
    one.workers = 1;
    ASSERT_EQ(one.Extract(), 0);
    Extractor four = Upgrade::Make(dir + "/p.vxa", dir + "/four");
    four.workers = 4;
    ProgressRecorder progress;
    ASSERT_EQ(four.Extract(), 0) << LogSince(0);
    EXPECT_EQ(four.stats.threads, 4);
    EXPECT_EQ(Snapshot(dir + "/four"), Snapshot(dir + "/one"));
    const int n = static_cast<int>(entries.size());
    ASSERT_FALSE(progress.calls.empty());
    EXPECT_EQ(progress.calls.back(), std::make_pair(n, n));
    for (size_t i = 1; i < progress.calls.size(); ++i)
        EXPECT_GT(progress.calls[i].second, progress.calls[i - 1].second);
    EXPECT_LE(progress.calls.size(), 102u);
}

// The refusals of one thread hold with several: escapes, paths through
// links in the package or already on disk, hard links to links.
TEST(Parallel, HostileEntriesAreRefusedWithSeveralThreads)
{
    const std::string outside = TempDir();
    ASSERT_TRUE(WriteText(outside + "/victim", "precious"));
    const std::string before = Snapshot(outside);
    std::vector<Entry> filler;
    for (int i = 0; i < 8; ++i)
        filler.push_back({'f', "Contents/f" + std::to_string(i), std::string(2000, 'f')});
    const std::vector<std::vector<Entry>> cases = {
        {{'l', "Contents/x", outside}, {'f', "Contents/x/file", "escaped"}},
        {{'l', "Contents/x", outside}, {'d', "Contents/x/sub"}, {'f', "Contents/x/sub/file", "escaped"}},
        {{'l', "Contents/y", outside}, {'l', "Contents/y/z", "victim"}},
        {{'l', "Contents", outside}, {'d', "Contents"}, {'f', "Contents/victim", "overwritten"}},
        {{'f', "Contents/a", "a"}, {'f', "Contents/../../escaped", "x"}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        std::vector<Entry> entries = filler;
        entries.insert(entries.end(), cases[i].begin(), cases[i].end());
        const std::string dir = TempDir();
        ASSERT_TRUE(WriteArchive(dir + "/p.vxa", Zip, entries));
        Extractor e = Upgrade::Make(dir + "/p.vxa", dir + "/app");
        e.workers = 4;
        const size_t mark = LogMark();
        EXPECT_EQ(e.Extract(), -1) << "case " << i;
        EXPECT_GE(LogCount(mark, "[ERROR]"), 1) << "case " << i;
        EXPECT_EQ(Snapshot(outside), before) << "case " << i;
        EXPECT_FALSE(Exists(dir + "/escaped")) << "case " << i;
        EXPECT_EQ(fs::hard_link_count(outside + "/victim"), 1u) << "case " << i;
    }
    // A link already below the destination is not passed through by any thread.
    const std::string dir = TempDir();
    fs::create_directories(dir + "/app/Contents");
    fs::create_directory_symlink(outside, dir + "/app/Contents/x");
    std::vector<Entry> entries = filler;
    entries.push_back({'f', "Contents/x/victim", "overwritten"});
    ASSERT_TRUE(WriteArchive(dir + "/p.vxa", Zip, entries));
    Extractor e = Upgrade::Make(dir + "/p.vxa", dir + "/app");
    e.workers = 4;
    const size_t mark = LogMark();
    EXPECT_EQ(e.Extract(), -1);
    EXPECT_EQ(e.stats.threads, 4);
    EXPECT_EQ(LogCount(mark, "leads through a symbolic link"), 1) << LogSince(mark);
    EXPECT_EQ(Snapshot(outside), before);
}

// A damaged entry met by one thread stops the others and names the cause.
TEST(Parallel, ADamagedEntryFailsTheExtraction)
{
    std::vector<Entry> entries = {{'d', "Contents"}};
    uint32_t seed = 7;
    for (int i = 0; i < 20; ++i) {
        std::string noise(20000, '\0');
        for (char& c : noise)
            c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
        entries.push_back({'f', "Contents/f" + std::to_string(i), noise});
    }
    const std::string dir = TempDir(), path = dir + "/p.vxa";
    ASSERT_TRUE(WriteArchive(path, Zip, entries));
    std::string bytes = ReadText(path);
    size_t at = bytes.find("PK\3\4");
    while (at != std::string::npos && bytes.compare(at + 30, 12, "Contents/f10") != 0)
        at = bytes.find("PK\3\4", at + 1);
    ASSERT_NE(at, std::string::npos);
    const auto u16 = [&](size_t i) { return size_t(uint8_t(bytes[i])) | size_t(uint8_t(bytes[i + 1])) << 8; };
    bytes[at + 30 + u16(at + 26) + u16(at + 28) + 10000] ^= 0x55;
    ASSERT_TRUE(WriteText(path, bytes));
    Extractor e = Upgrade::Make(path, dir + "/app");
    e.workers = 4;
    const size_t mark = LogMark();
    EXPECT_EQ(e.Extract(), -1);
    const std::string log = LogSince(mark);
    EXPECT_TRUE(log.find("CRC") != std::string::npos || log.find("ecompression") != std::string::npos) << log;
}

}  // namespace
