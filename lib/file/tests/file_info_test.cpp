// Look-ups: GetFileInfo, IsFileExist, FSStat, real paths and stored spellings.
#include <limits.h>
#include <sys/time.h>

#include <vector>

#include "file_test_util.h"
#ifdef __linux__
#include "platform/stored-name.h"
#endif

using FileInfoTest = FileOpTest;

TEST_F(FileInfoTest, MissingUnreachableAndTooLongPaths)
{
    std::string file = Write("plain", "abc");
    Link(Path("loop"), "loop");
    FILE_INFO info, kept;
    info.size = kept.size = 99;
    kept.exists = true;
    EXPECT_EQ(GetFileInfo(Path("missing.txt"), info), 0);
    EXPECT_TRUE(!info.exists && info.size == 0);
    EXPECT_TRUE(info.name == "missing.txt" && info.path == Path("missing.txt").c_str()) << info.path.c_str();
    // FSStat of a missing object touches only `exists`.
    EXPECT_EQ(FSStat(Path("missing.txt"), kept, true), 0);
    EXPECT_TRUE(!kept.exists && kept.size == 99 && kept.path.empty());
    EXPECT_EQ(FSStat("", kept, false), -1);
    EXPECT_EQ(FSStat(file, kept, true), 0);
    EXPECT_TRUE(kept.exists && kept.size == 3);
    // A file on the way, an over-long name and a link loop are failures, not missing objects.
    for (const std::string& bad : {file + "/below", Path(std::string(NAME_MAX + 1, 'n')), Path("loop/in")}) {
        EXPECT_EQ(GetFileInfo(bad, info), -1) << bad;
        EXPECT_FALSE(IsFileExist(bad, false)) << bad;
    }
    EXPECT_EQ(LogLines(), 0);
    // A canonical path longer than 4096 bytes (each step short) fails and is logged once.
    std::string cwd = std::filesystem::current_path().string(), level(200, 'd');
    ASSERT_EQ(chdir(root_.c_str()), 0);
    int depth = 0;
    for (; depth < 22; ++depth)
        ASSERT_TRUE(mkdir(level.c_str(), 0755) == 0 && chdir(level.c_str()) == 0);
    std::ofstream("f") << "x";
    ustring real("f");
    EXPECT_EQ(GetFileInfo("f", info), -1);
    EXPECT_EQ(FSGetRealPath(real), -1);
    EXPECT_STREQ(real.c_str(), "f");  // unchanged on failure
    unlink("f");
    for (; depth > 0; --depth)
        ASSERT_TRUE(chdir("..") == 0 && rmdir(level.c_str()) == 0);
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    EXPECT_EQ(LogLines(), 1);
#ifdef __linux__
    EXPECT_TRUE(Logged("FSPathMakeRef: -36"));  // -ENAMETOOLONG
#endif
}

TEST_F(FileInfoTest, ExistingObjectsAndTheirCanonicalSpelling)
{
    std::string leaf = Write("real/inner/leaf", "abc"), file = Write("Report.txt", "r");
    std::string decomposed = Write("cafe\xcc\x81", ""), cwd = std::filesystem::current_path().string();
    Link(Path("real"), "alias");
    Link(Path("nowhere"), "dangling");
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    const std::tuple<std::string, int, std::string> cases[] = {
        {leaf, FILE_TYPE_REGULAR, leaf}, {Path("alias"), FILE_TYPE_LINK, Path("alias")},  // not followed
        {Path("alias/inner/leaf"), FILE_TYPE_REGULAR, leaf}, {Path("dangling"), FILE_TYPE_LINK, Path("dangling")},
        {Path("pipe"), FILE_TYPE_FIFO, Path("pipe")}, {"/dev/null", FILE_TYPE_DEVICE, "/dev/null"},
        {Path("real/./inner//../inner/leaf"), FILE_TYPE_REGULAR, leaf}, {Path("alias/"), FILE_TYPE_DIR, Path("real")},
        {"/", FILE_TYPE_DIR, "/"}};
    FILE_INFO info;
    for (const auto& [path, type, canonical] : cases) {
        ASSERT_EQ(GetFileInfo(path, info), 0) << path;
        EXPECT_TRUE(info.exists && info.type == type) << path << " type " << info.type;
        EXPECT_EQ(info.path.c_str(), canonical);
    }
    // Unlike GetFileInfo, the real path follows a final link.
    ustring real(Path("alias"));
    EXPECT_EQ(FSGetRealPath(real), 0);
    EXPECT_EQ(real.c_str(), Path("real"));
    // A relative path becomes absolute; the record's own path may be passed in.
    ASSERT_EQ(chdir(root_.c_str()), 0);
    EXPECT_EQ(GetFileInfo("real/inner/leaf", info), 0);
    EXPECT_EQ(GetFileInfo(info.path, info), 0);
    EXPECT_TRUE(info.path == leaf.c_str() && info.name == "leaf" && info.size == 3) << info.path.c_str();
    // Existence with case_sensitive wants the entry's stored spelling;
    // composition alone is forgiven. Folders above it may be spelled any
    // way that leads there: through a link, with "." or "..", relative.
    EXPECT_TRUE(IsFileExist(file, true) && IsFileExist(decomposed, true));
    EXPECT_FALSE(IsFileExist(Path("report.txt"), true) || IsFileExist(Path("REPORT.TXT"), false));
    EXPECT_FALSE(IsFileExist(Path("alias/inner/LEAF"), true));
    for (const std::string& path : {Path("./Report.txt"), Path("real/../Report.txt"), root_ + "//Report.txt",
                                    Path("alias/inner/leaf"), std::string("Report.txt")}) {
        EXPECT_TRUE(IsFileExist(path, true)) << path;
        EXPECT_TRUE(IsFileExist(path, false)) << path;
    }
    ASSERT_EQ(chdir(cwd.c_str()), 0);
#ifdef __linux__
    // The spelling look-up that case-insensitive volumes need, exercised directly.
    struct stat st, dir;
    std::string stored;
    file = Write("Stored.Name", "s");
    ASSERT_EQ(link(file.c_str(), Path("zz-hardlink").c_str()), 0);
    Write("stored.name", "a distinct file on a case-sensitive volume");
    ASSERT_TRUE(lstat(file.c_str(), &st) == 0 && lstat(root_.c_str(), &dir) == 0);
    ASSERT_TRUE(fileplatform::StoredEntryName(root_, "STORED.NAME", st, stored));
    EXPECT_TRUE(stored == "Stored.Name" || stored == "zz-hardlink") << stored;
    ASSERT_TRUE(fileplatform::StoredEntryName(root_, "zz-hardlink", st, stored));
    EXPECT_EQ(stored, "zz-hardlink");
    EXPECT_FALSE(fileplatform::MayMatchLoosely(root_, "Stored.Name", st));
    EXPECT_FALSE(fileplatform::StoredEntryName(root_, "x", dir, stored));
    EXPECT_EQ(errno, ENOENT);
#endif
}

#ifdef __linux__
// Look-ups of every entry of a folder read its listing once, and a changed
// folder is read again: renamed, removed and newly linked names are seen.
TEST_F(FileInfoTest, StoredNamesOfOneFolderComeFromOneListing)
{
    std::string dir = Folder("names"), stored;
    std::vector<struct stat> objects(500);
    for (size_t i = 0; i < objects.size(); ++i)
        ASSERT_EQ(lstat(Write("names/Entry-" + std::to_string(i), "").c_str(), &objects[i]), 0);
    struct timeval past[2] = {{1000000000, 0}, {1000000000, 0}};  // old enough to keep the listing
    ASSERT_EQ(utimes(dir.c_str(), past), 0);
    unsigned long before = fileplatform::FolderListingsRead();
    for (size_t i = 0; i < objects.size(); ++i) {
        // Asked for in another case, as a case-insensitive volume would have matched it.
        ASSERT_TRUE(fileplatform::StoredEntryName(dir, "ENTRY-" + std::to_string(i), objects[i], stored)) << i;
        EXPECT_EQ(stored, "Entry-" + std::to_string(i));
    }
    EXPECT_EQ(fileplatform::FolderListingsRead() - before, 1u);
    // Each change comes right after the previous one, within the folder's time granularity.
    ASSERT_EQ(rename((dir + "/Entry-1").c_str(), (dir + "/Renamed").c_str()), 0);
    ASSERT_EQ(link((dir + "/Entry-2").c_str(), (dir + "/AAA").c_str()), 0);
    ASSERT_EQ(link((dir + "/Entry-4").c_str(), (dir + "/BBB").c_str()), 0);
    ASSERT_EQ(unlink((dir + "/Entry-3").c_str()), 0);
    const std::tuple<std::string, int, std::string> cases[] = {
        {"AAA", 2, "AAA"}, {"ENTRY-1", 1, "Renamed"}, {"BBB", 4, "BBB"}, {"ENTRY-3", 3, ""}};
    for (const auto& [asked, object, expected] : cases) {
        stored.clear();
        EXPECT_EQ(fileplatform::StoredEntryName(dir, asked, objects[object], stored), !expected.empty()) << asked;
        EXPECT_EQ(stored, expected) << asked;
        if (expected.empty()) {
            EXPECT_EQ(errno, ENOENT) << asked;
        }
    }
}
#endif
