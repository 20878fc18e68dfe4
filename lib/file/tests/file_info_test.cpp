// Look-ups: GetFileInfo, IsFileExist, FSStat, real paths and the stored
// spelling of names.
#include <fcntl.h>
#include <limits.h>

#include "file_test_util.h"
#ifdef __linux__
#include "platform/stored-name.h"
#endif

using FileInfoTest = FileOpTest;

TEST_F(FileInfoTest, MissingAndUnreachablePaths)
{
    std::string file = Write("plain", "x");
    FILE_INFO info;
    info.size = 99;
    EXPECT_EQ(GetFileInfo(Path("missing.txt"), info), 0);
    EXPECT_FALSE(info.exists);
    EXPECT_EQ(info.type, FILE_TYPE_NONE);
    EXPECT_EQ(info.size, 0);
    EXPECT_STREQ(info.name.c_str(), "missing.txt");
    EXPECT_STREQ(info.path.c_str(), Path("missing.txt").c_str());

    EXPECT_EQ(GetFileInfo(Path("gone/"), info), 0);
    EXPECT_STREQ(info.name.c_str(), "");

    // A regular file as a middle component, an over-long name and a link loop
    // are failures, not missing objects; none of them is logged.
    EXPECT_EQ(GetFileInfo(file + "/below", info), -1);
    EXPECT_EQ(GetFileInfo(Path(std::string(NAME_MAX + 1, 'n')), info), -1);
    Link(Path("loop"), "loop");
    EXPECT_EQ(GetFileInfo(Path("loop/inside"), info), -1);
    EXPECT_EQ(LogLines(), 0);
    EXPECT_FALSE(IsFileExist(file + "/below", false));
    EXPECT_FALSE(IsFileExist("", false));
}

TEST_F(FileInfoTest, ExistingObjectsReportTheirOwnCanonicalPath)
{
    std::string file = Write("data.bin", "12345");
    Folder("real/inner");
    Write("real/inner/leaf", "abc");
    Link(Path("real"), "alias");
    Link(Path("nowhere"), "dangling");
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);

    FILE_INFO info;
    ASSERT_EQ(GetFileInfo(file, info), 0);
    EXPECT_TRUE(info.exists);
    EXPECT_EQ(info.type, FILE_TYPE_REGULAR);
    EXPECT_EQ(info.size, 5);
    EXPECT_EQ(info.mode & S_IFMT, S_IFREG);
    EXPECT_STREQ(info.path.c_str(), file.c_str());

    // A final link is the link itself; a link on the way is resolved.
    ASSERT_EQ(GetFileInfo(Path("alias"), info), 0);
    EXPECT_EQ(info.type, FILE_TYPE_LINK);
    EXPECT_EQ(info.size, static_cast<int64_t>(Path("real").size()));
    EXPECT_STREQ(info.path.c_str(), Path("alias").c_str());
    ASSERT_EQ(GetFileInfo(Path("alias/inner/leaf"), info), 0);
    EXPECT_STREQ(info.path.c_str(), Path("real/inner/leaf").c_str());
    EXPECT_STREQ(info.name.c_str(), "leaf");
    ASSERT_EQ(GetFileInfo(Path("dangling"), info), 0);
    EXPECT_TRUE(info.exists);
    EXPECT_EQ(info.type, FILE_TYPE_LINK);
    ASSERT_EQ(GetFileInfo(Path("pipe"), info), 0);
    EXPECT_EQ(info.type, FILE_TYPE_FIFO);
    ASSERT_EQ(GetFileInfo("/dev/null", info), 0);
    EXPECT_EQ(info.type, FILE_TYPE_DEVICE);

    // Dot components, doubled separators and a trailing separator resolve.
    ASSERT_EQ(GetFileInfo(Path("real/./inner//../inner/leaf"), info), 0);
    EXPECT_STREQ(info.path.c_str(), Path("real/inner/leaf").c_str());
    ASSERT_EQ(GetFileInfo(Path("alias/"), info), 0);
    EXPECT_EQ(info.type, FILE_TYPE_DIR);
    EXPECT_STREQ(info.path.c_str(), Path("real").c_str());
    ASSERT_EQ(GetFileInfo("/", info), 0);
    EXPECT_STREQ(info.path.c_str(), "/");

    // A relative path becomes absolute; passing the record's own path works.
    std::string cwd = std::filesystem::current_path().string();
    ASSERT_EQ(chdir(Path("real").c_str()), 0);
    EXPECT_EQ(GetFileInfo("inner/leaf", info), 0);
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    EXPECT_STREQ(info.path.c_str(), Path("real/inner/leaf").c_str());
    EXPECT_EQ(GetFileInfo(info.path, info), 0);
    EXPECT_STREQ(info.path.c_str(), Path("real/inner/leaf").c_str());
}

TEST_F(FileInfoTest, CaseSensitiveExistenceWantsTheCanonicalSpelling)
{
    std::string file = Write("Report.txt", "r");
    Folder("real");
    Write("real/x", "");
    Link(Path("real"), "alias");
    const char nfd_name[] = "cafe\xcc\x81";  // e + combining acute, stored decomposed
    std::string decomposed = Write(nfd_name, "");

    EXPECT_TRUE(IsFileExist(file, true));
    EXPECT_TRUE(IsFileExist(file, false));
    EXPECT_FALSE(IsFileExist(Path("report.txt"), true));
    EXPECT_FALSE(IsFileExist(Path("REPORT.TXT"), false));
    for (const std::string& other : {Path("./Report.txt"), Path("real/../Report.txt"),
                                     root_ + "//Report.txt", Path("alias/x")}) {
        EXPECT_FALSE(IsFileExist(other, true)) << other;
        EXPECT_TRUE(IsFileExist(other, false)) << other;
    }
    std::string cwd = std::filesystem::current_path().string();
    ASSERT_EQ(chdir(root_.c_str()), 0);
    EXPECT_FALSE(IsFileExist("Report.txt", true));
    EXPECT_TRUE(IsFileExist("Report.txt", false));
    ASSERT_EQ(chdir(cwd.c_str()), 0);

    // Composition differences alone are forgiven in the comparison.
    EXPECT_TRUE(IsFileExist(decomposed, true));
}

TEST_F(FileInfoTest, StatTouchesOnlyExistsForMissingObjects)
{
    FILE_INFO info;
    info.size = 7;
    info.type = FILE_TYPE_DIR;
    info.exists = true;
    EXPECT_EQ(FSStat("", info, false), -1);
    EXPECT_EQ(FSStat(Path("none"), info, true), 0);
    EXPECT_FALSE(info.exists);
    EXPECT_EQ(info.size, 7);
    EXPECT_EQ(info.type, FILE_TYPE_DIR);

    std::string file = Write("f", "abc");
    EXPECT_EQ(FSStat(file, info, true), 0);
    EXPECT_TRUE(info.exists);
    EXPECT_EQ(info.size, 3);

    FILE_INFO other = info;
    other.uid = 4;
    other.mode = 0;
    EXPECT_TRUE(other == info);
    other.name = "g";
    EXPECT_TRUE(other != info);
}

TEST_F(FileInfoTest, CanonicalPathTooLongForTheBufferIsLoggedOnce)
{
    // Build a chain of folders whose absolute path exceeds 4096 bytes while
    // every path handed to the system stays short.
    std::string cwd = std::filesystem::current_path().string();
    ASSERT_EQ(chdir(root_.c_str()), 0);
    const std::string level(200, 'd');
    int depth = 0;
    for (; depth < 22; ++depth)
        ASSERT_TRUE(mkdir(level.c_str(), 0755) == 0 && chdir(level.c_str()) == 0);
    std::ofstream("f") << "x";
    FILE_INFO info;
    int result = GetFileInfo("f", info);
    ustring real("f");
    int real_result = FSGetRealPath(real);
    unlink("f");
    for (; depth > 0; --depth)
        ASSERT_TRUE(chdir("..") == 0 && rmdir(level.c_str()) == 0);
    ASSERT_EQ(chdir(cwd.c_str()), 0);

    EXPECT_EQ(result, -1);
    EXPECT_EQ(real_result, -1);
    EXPECT_STREQ(real.c_str(), "f");
    EXPECT_EQ(LogLines(), 1);
#ifdef __linux__
    EXPECT_NE(LogText().find("FSPathMakeRef: -36"), std::string::npos);  // -ENAMETOOLONG
#endif
}

TEST_F(FileInfoTest, RealPathFollowsTheFinalLink)
{
    std::string target = Folder("target");
    Link(target, "to-target");
    ustring path(Path("to-target"));
    EXPECT_EQ(FSGetRealPath(path), 0);
    EXPECT_STREQ(path.c_str(), target.c_str());
    ustring missing(Path("none"));
    EXPECT_EQ(FSGetRealPath(missing), -1);
    EXPECT_STREQ(missing.c_str(), Path("none").c_str());
}

#ifdef __linux__
TEST_F(FileInfoTest, StoredNameIsFoundByIdentityNotSpelling)
{
    std::string file = Write("Stored.Name", "s");
    ASSERT_EQ(link(file.c_str(), Path("zz-hardlink").c_str()), 0);
    Write("stored.name", "a distinct file on a case-sensitive volume");
    struct stat st;
    ASSERT_EQ(lstat(file.c_str(), &st), 0);

    std::string stored;
    ASSERT_TRUE(fileplatform::StoredEntryName(root_, "STORED.NAME", st, stored));
    EXPECT_TRUE(stored == "Stored.Name" || stored == "zz-hardlink") << stored;
    ASSERT_TRUE(fileplatform::StoredEntryName(root_, "zz-hardlink", st, stored));
    EXPECT_EQ(stored, "zz-hardlink");
    EXPECT_FALSE(fileplatform::MayMatchLoosely(root_, "Stored.Name", st));

    struct stat other;
    ASSERT_EQ(lstat(root_.c_str(), &other), 0);
    EXPECT_FALSE(fileplatform::StoredEntryName(root_, "x", other, stored));
    EXPECT_EQ(errno, ENOENT);
}
#endif  // __linux__
