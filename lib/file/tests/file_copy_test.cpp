// Copies, listings and the smaller helpers of the file layer.
#include <fcntl.h>
#include <limits.h>

#include <map>

#include "file_test_util.h"
#include "platform/fs-type.h"

using FileCopyTest = FileOpTest;

TEST_F(FileCopyTest, CopiesBytesAndTruncatesTheDestination)
{
    std::string data;
    for (int i = 0; i < 8192 * 3 + 17; ++i)
        data += static_cast<char>(i * 7);
    std::string src = Write("src", data);
    std::string dst = Write("dst", std::string(100000, 'z'));
    EXPECT_EQ(FSCopy(src, dst, false), 0);
    EXPECT_EQ(Read(dst), data);

    EXPECT_EQ(FSCopy(Write("empty", ""), Path("empty-copy"), false), 0);
    EXPECT_TRUE(Exists(Path("empty-copy")));
    EXPECT_EQ(Read(Path("empty-copy")), "");

    EXPECT_EQ(FSCopy(src, Path("moved"), true), 0);
    EXPECT_EQ(Read(Path("moved")), data);
    EXPECT_FALSE(Exists(src));
    EXPECT_EQ(LogLines(), 0);
}

TEST_F(FileCopyTest, FailuresLogOnceAndKeepTheSource)
{
    std::string src = Write("src", "keep me");
    EXPECT_EQ(FSCopy(Path("missing"), Path("d1"), true), -1);
    EXPECT_FALSE(Exists(Path("d1")));
    EXPECT_EQ(FSCopy(src, Path("no-folder/d2"), true), -1);
    EXPECT_EQ(LogLines(), 2);
    EXPECT_NE(LogText().find("CopyFile: open(" + Path("missing") + "): No such file or directory (2)"),
              std::string::npos);

    // A folder opens but can't be read: the destination stays, empty.
    EXPECT_EQ(FSCopy(Folder("folder"), Path("d3"), true), -1);
    EXPECT_TRUE(Exists(Path("folder")));
    EXPECT_EQ(Read(Path("d3")), "");
    EXPECT_EQ(LogLines(), 3);
    EXPECT_NE(LogText().find("CopyFile: read: Is a directory (21)"), std::string::npos);

    // The source as its own destination (directly or through a hard link)
    // would be emptied by the truncating open.
    ASSERT_EQ(link(src.c_str(), Path("hard").c_str()), 0);
    EXPECT_EQ(FSCopy(src, src, true), -1);
    EXPECT_EQ(FSCopy(src, Path("hard"), true), -1);
    EXPECT_EQ(Read(src), "keep me");
    EXPECT_EQ(LogLines(), 5);
}

TEST_F(FileCopyTest, FullDestinationIsReportedAndTheSourceKept)
{
    std::string src = Write("src", std::string(50000, 'q'));
    EXPECT_EQ(FSCopy(src, "/dev/full", true), -2);
    EXPECT_EQ(Read(src), std::string(50000, 'q'));
    EXPECT_EQ(LogLines(), 1);
    EXPECT_NE(LogText().find("CopyFile: write: No space left on device (28)"), std::string::npos);
}

TEST_F(FileCopyTest, SourceIsRemovedOnlyAfterTheDestinationIsFlushed)
{
    // Every byte reaches /dev/null but it can't be flushed: the move must
    // fail and the source stay.
    std::string src = Write("src", "only copy");
    EXPECT_EQ(FSCopy(src, "/dev/null", true), -1);
    EXPECT_EQ(Read(src), "only copy");
    EXPECT_EQ(FSCopy(src, "/dev/null", false), -1);
    EXPECT_EQ(LogLines(), 2);
    EXPECT_NE(LogText().find("CopyFile: fsync: Invalid argument (22)"), std::string::npos);
}

TEST_F(FileCopyTest, ListingReportsEntriesAndOptionalDetails)
{
    Write("file", "12345");
    Folder("sub");
    Link("file", "link");
    DIR_HANDLE handle;
    EXPECT_EQ(FSOpenDir(Path("none"), 0, handle), -1);
    EXPECT_EQ(handle.dir, nullptr);
    EXPECT_EQ(LogLines(), 1);

    for (int flags : {0, static_cast<int>(FS_READDIR_STAT)}) {
        ASSERT_EQ(FSOpenDir(root_, flags, handle), 0);
        std::map<std::string, DIR_ENTRY> seen;
        DIR_ENTRY entry;
        while (FSReadDir(handle, entry) == 1)
            seen[entry.name.c_str()] = entry;
        FSCloseDir(handle);
        EXPECT_EQ(handle.dir, nullptr);
        EXPECT_TRUE(handle.path.empty());
        ASSERT_EQ(seen.size(), 5u);
        EXPECT_EQ(seen["."].type, FILE_TYPE_DIR);
        EXPECT_EQ(seen[".."].type, FILE_TYPE_DIR);
        EXPECT_EQ(seen["file"].type, FILE_TYPE_REGULAR);
        EXPECT_EQ(seen["sub"].type, FILE_TYPE_DIR);
        EXPECT_EQ(seen["link"].type, FILE_TYPE_LINK);
        EXPECT_EQ(seen["file"].size, flags ? 5 : 0);
        EXPECT_EQ(seen["file"].mtime != 0, flags != 0);
    }

    // Entries that vanish after the folder was read have no details left.
    Folder("vanishing");
    for (int i = 0; i < 20; ++i)
        Write("vanishing/f" + std::to_string(i), "x");
    ASSERT_EQ(FSOpenDir(Path("vanishing"), FS_READDIR_STAT, handle), 0);
    DIR_ENTRY entry;
    ASSERT_EQ(FSReadDir(handle, entry), 1);
    for (int i = 0; i < 20; ++i)
        unlink(Path("vanishing/f" + std::to_string(i)).c_str());
    int files = 0;
    while (FSReadDir(handle, entry) == 1) {
        if (entry.name.c_str()[0] == 'f') {
            ++files;
            EXPECT_EQ(entry.size, 0);
            EXPECT_EQ(entry.mtime, 0);
        }
    }
    FSCloseDir(handle);
    EXPECT_GT(files, 0);
    EXPECT_EQ(LogLines(), 1);
}

TEST_F(FileCopyTest, PathNameArithmetic)
{
    EXPECT_STREQ(FSParentPath("/").c_str(), "/");
    EXPECT_STREQ(FSParentPath("name").c_str(), "/");
    EXPECT_STREQ(FSParentPath("/top").c_str(), "/");
    EXPECT_STREQ(FSParentPath("a/b").c_str(), "a");
    EXPECT_STREQ(FSParentPath("/a/b/").c_str(), "/a/b");
    EXPECT_STREQ(FSBaseName("/a/b/").c_str(), "");
    EXPECT_STREQ(FSBaseName("plain").c_str(), "plain");
    EXPECT_STREQ(FSBaseName("/a/b").c_str(), "b");
    EXPECT_TRUE(FSIsParentFolder("/a/x", "/a/x"));
    EXPECT_TRUE(FSIsParentFolder("/a/x", "/a/x/y"));
    EXPECT_FALSE(FSIsParentFolder("/a/x", "/a/xy"));
    EXPECT_FALSE(FSIsParentFolder("/", "/top"));
    EXPECT_FALSE(FSIsParentFolder("/a/x/y", "/a/x"));
    EXPECT_TRUE(FSIsParentFolder("", "/any"));
    EXPECT_TRUE(FSTimeEqual(5, 5));
    EXPECT_FALSE(FSTimeEqual(5, 6));
}

TEST_F(FileCopyTest, FoldersBelowARoot)
{
    std::string root = Folder("root");
    EXPECT_EQ(FSMKDirFromRoot(root + "/a/b/c", root), 0);
    EXPECT_TRUE(std::filesystem::is_directory(root + "/a/b/c"));
    EXPECT_EQ(FSMKDirFromRoot(root, root), 0);
    EXPECT_EQ(LogLines(), 0);

    EXPECT_EQ(FSMKDirFromRoot(root + "x/a", root), -1);
    EXPECT_FALSE(Exists(root + "x"));
    EXPECT_NE(LogText().find("root '" + root + "' is not a parent folder of target"), std::string::npos);
    EXPECT_EQ(FSMKDirFromRoot(root, root + "/a"), -1);
    EXPECT_NE(LogText().find("whose length is larger then target's"), std::string::npos);
    Write("root/file", "");
    EXPECT_EQ(FSMKDirFromRoot(root + "/file/x", root), -1);
    EXPECT_EQ(LogLines(), 3);
}

TEST_F(FileCopyTest, TemporaryFilesAndNames)
{
    ustring made;
    ASSERT_EQ(FSMktemp(root_, made), 0);
    std::string name = made.c_str();
    EXPECT_EQ(name.rfind(root_ + "/", 0), 0u);
    EXPECT_EQ(name.size(), root_.size() + 7);
    struct stat st;
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(FSMktemp(Path("missing"), made), -1);
    EXPECT_EQ(LogLines(), 1);

    ustring fresh;
    ASSERT_EQ(FSCreateTempPath(root_, fresh), 0);
    EXPECT_EQ(std::string(fresh.c_str()).size(), root_.size() + 9);
    EXPECT_FALSE(Exists(fresh.c_str()));
}

TEST_F(FileCopyTest, LinksTimesAndOwners)
{
    std::string target = Write("target", "t");
    EXPECT_EQ(FSCreateSymbolicLink("target", Path("l")), 0);
    EXPECT_EQ(FSCreateSymbolicLink("target", Path("l")), -1);
    ustring content;
    EXPECT_EQ(FSReadSymbolicLink(Path("l"), content), 0);
    EXPECT_STREQ(content.c_str(), "target");
    EXPECT_EQ(FSCreateSymbolicLink(std::string(1023, 'y'), Path("l1023")), 0);
    EXPECT_EQ(FSCreateSymbolicLink(std::string(1024, 'y'), Path("l1024")), 0);
    EXPECT_EQ(FSReadSymbolicLink(Path("l1023"), content), 0);
    EXPECT_EQ(content.length(), 1023u);
    EXPECT_EQ(FSReadSymbolicLink(Path("l1024"), content), -1);
    EXPECT_EQ(FSReadSymbolicLink(target, content), -1);
    EXPECT_EQ(LogLines(), 3);

    struct stat before;
    ASSERT_EQ(stat(target.c_str(), &before), 0);
    EXPECT_EQ(FSUTime(Path("l"), 1000, 2000), 0);
    EXPECT_EQ(FSChown(Path("l"), 65534, 65534), 0);
    struct stat link_st;
    struct stat after;
    ASSERT_EQ(lstat(Path("l").c_str(), &link_st), 0);
    ASSERT_EQ(stat(target.c_str(), &after), 0);
    EXPECT_EQ(link_st.st_mtime, 2000);
    EXPECT_EQ(link_st.st_uid, 65534u);
    EXPECT_EQ(after.st_mtime, before.st_mtime);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(FSUTime(Path("none"), 1, 1), -1);
    EXPECT_EQ(FSChown(Path("none"), 0, 0), -1);
    EXPECT_EQ(LogLines(), 4);
}

TEST_F(FileCopyTest, AccessAndFileSystemTypes)
{
    OpenToAll();
    std::string secret = Write("secret", "s");
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    std::string missing = Path("missing");
    EXPECT_FALSE(isFileLocked(missing, R_OK));
    EXPECT_TRUE(hasFilePermission(missing, R_OK));
    int result = RunAsNobody([&] {
        return (isFileLocked(secret, R_OK) ? 1 : 0) + (hasFilePermission(secret, R_OK) ? 2 : 0) +
               (isFileLocked(missing, R_OK) ? 4 : 0);
    });
    if (result == 1000)
        GTEST_SKIP() << "cannot run a child process as user 65534";
    EXPECT_EQ(result, 1);  // locked, no permission, a missing file is not locked

    EXPECT_FALSE(isMountPoint(root_));
    EXPECT_FALSE(IsMSDOS(root_));
    EXPECT_FALSE(isMountPoint(missing));
    EXPECT_FALSE(IsMSDOS(missing));
    EXPECT_EQ(LogLines(), 2);
    EXPECT_NE(LogText().find("IsSupportLargeFile: Failed to get file system info '" + missing), std::string::npos);
    std::string type;
#ifdef __linux__
    ASSERT_EQ(fileplatform::FileSystemTypeName("/dev/shm", type), 0);
    EXPECT_TRUE(type == "tmpfs" || type == "ext4" || type == "overlay") << type;
    ASSERT_EQ(fileplatform::FileSystemTypeName("/proc", type), 0);
    EXPECT_EQ(type, "0x9fa0");  // a type without a name keeps its number
#endif
}

TEST_F(FileCopyTest, MoveAcrossVolumesKeepsTheSourceWhenTheCopyFails)
{
    // rename() onto a device file of /dev fails with EXDEV, so the move falls
    // back to copy-then-remove; neither device can take the copy for good.
    struct stat here;
    struct stat dev;
    ASSERT_EQ(stat(root_.c_str(), &here), 0);
    ASSERT_EQ(stat("/dev", &dev), 0);
    if (here.st_dev == dev.st_dev)
        GTEST_SKIP() << root_ << " lies on the same file system as /dev";
    std::string src = Write("src", std::string(30000, 'm'));
    EXPECT_EQ(FSRename(src, "/dev/full", false), -3);
    EXPECT_EQ(Read(src), std::string(30000, 'm'));
    EXPECT_EQ(FSRename(src, "/dev/null", false), -3);
    EXPECT_EQ(Read(src), std::string(30000, 'm'));
    EXPECT_EQ(LogLines(), 2);
}
