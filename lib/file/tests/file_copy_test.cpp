// Copies, listings and the smaller helpers of the file layer.
#include <fcntl.h>

#include <map>

#include "file_test_util.h"

using FileCopyTest = FileOpTest;

TEST_F(FileCopyTest, CopiesOrFailsKeepingTheSource)
{
    std::string data, src = Write("src", "keep me"), dst = Write("dst", std::string(100000, 'z'));
    for (int i = 0; i < 8192 * 3 + 17; ++i)
        data += static_cast<char>(i * 7);
    std::string big = Write("big", data);
    EXPECT_EQ(FSCopy(big, dst, false), 0);  // truncates the longer destination
    EXPECT_EQ(FSCopy(dst, Path("moved"), true), 0);
    EXPECT_EQ(Read(Path("moved")), data);
    EXPECT_FALSE(Exists(dst));
    EXPECT_EQ(LogLines(), 0);
    ASSERT_EQ(link(src.c_str(), Path("hard").c_str()), 0);
    const std::tuple<std::string, std::string, int, std::string> cases[] = {
        {Path("missing"), Path("d1"), -1, "CopyFile: open(" + Path("missing") + "): No such file or directory (2)"},
        {src, Path("no-folder/d2"), -1, "CopyFile: open(" + Path("no-folder/d2")},
        {Folder("folder"), Path("d3"), -1, "CopyFile: read: Is a directory (21)"},
        // The truncating open would empty a source that is its own destination.
        {src, src, -1, "are the same file"},
        {src, Path("hard"), -1, "are the same file"},
        {big, "/dev/full", -2, "CopyFile: write: No space left on device (28)"},
        // Every byte reaches /dev/null but can't be flushed: the source must stay.
        {src, "/dev/null", -1, "CopyFile: fsync: Invalid argument (22)"}};
    int lines = 0;
    for (const auto& [from, to, result, message] : cases) {
        EXPECT_EQ(FSCopy(from, to, true), result) << from << " -> " << to;
        EXPECT_EQ(LogLines(), ++lines) << from << " -> " << to;
        EXPECT_TRUE(Logged(message)) << message;
    }
    EXPECT_FALSE(Exists(Path("d1")));
    EXPECT_TRUE(Read(Path("d3")).empty() && Exists(Path("folder")));
    EXPECT_TRUE(Read(src) == "keep me" && Read(big) == data);
}

TEST_F(FileCopyTest, ListingReportsEntriesAndOptionalDetails)
{
    Write("file", "12345");
    Folder("sub");
    Link("file", "link");
    DIR_HANDLE handle;
    EXPECT_EQ(FSOpenDir(Path("none"), 0, handle), -1);
    DIR_ENTRY entry;
    for (int flags : {0, static_cast<int>(FS_READDIR_STAT)}) {
        ASSERT_EQ(FSOpenDir(root_, flags, handle), 0);
        std::map<std::string, DIR_ENTRY> seen;
        while (FSReadDir(handle, entry) == 1)
            seen[entry.name.c_str()] = entry;
        FSCloseDir(handle);
        ASSERT_EQ(seen.size(), 5u);
        for (const char* name : {".", "..", "sub"})
            EXPECT_EQ(seen[name].type, FILE_TYPE_DIR) << name;
        EXPECT_TRUE(seen["file"].type == FILE_TYPE_REGULAR && seen["link"].type == FILE_TYPE_LINK);
        EXPECT_TRUE(seen["file"].size == (flags ? 5 : 0) && (seen["file"].mtime != 0) == (flags != 0)) << flags;
    }
    // Entries removed after the listing began have no details left.
    for (int i = 0; i < 20; ++i)
        Write("gone/" + std::to_string(i), "x");
    ASSERT_EQ(FSOpenDir(Path("gone"), FS_READDIR_STAT, handle), 0);
    ASSERT_EQ(FSReadDir(handle, entry), 1);
    std::filesystem::remove_all(Path("gone"));
    int files = 0;
    for (; FSReadDir(handle, entry) == 1; files += entry.name.c_str()[0] != '.')
        EXPECT_TRUE(entry.size == 0 && entry.mtime == 0) << entry.name.c_str();
    FSCloseDir(handle);
    EXPECT_GT(files, 0);
    EXPECT_EQ(LogLines(), 1);
}

TEST_F(FileCopyTest, SmallerHelpers)
{
    const char* parents[][2] = {{"/", "/"}, {"name", "/"}, {"/top", "/"}, {"a/b", "a"}, {"/a/b/", "/a/b"}};
    for (auto& p : parents)
        EXPECT_STREQ(FSParentPath(p[0]).c_str(), p[1]) << p[0];
    EXPECT_TRUE(FSBaseName("/a/b/").empty());
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"/a/x", "/a/x", true}, {"/a/x", "/a/x/y", true}, {"/a/x", "/a/xy", false},
        {"/", "/top", false},   {"/a/x/y", "/a/x", false}, {"", "/any", true}};
    for (const auto& [parent, child, is] : cases)
        EXPECT_EQ(FSIsParentFolder(parent, child), is) << parent << " " << child;
    std::string top = FSParentPath(Write("top/file", "")).c_str();
    EXPECT_EQ(FSMKDirFromRoot(top + "/a/b/c", top), 0);
    EXPECT_TRUE(std::filesystem::is_directory(top + "/a/b/c"));
    EXPECT_EQ(FSMKDirFromRoot(top, top), 0);
    EXPECT_EQ(LogLines(), 0);
    EXPECT_EQ(FSMKDirFromRoot(top + "x/a", top), -1);  // a textual prefix, not a parent
    EXPECT_FALSE(Exists(top + "x"));
    EXPECT_EQ(FSMKDirFromRoot(top, top + "/a"), -1);
    EXPECT_EQ(FSMKDirFromRoot(top + "/file/x", top), -1);
    EXPECT_EQ(LogLines(), 3);
    // A temporary file is new, empty and readable by all.
    ustring made, content;
    struct stat st, target_st;
    ASSERT_EQ(FSMktemp(root_, made), 0);
    ASSERT_EQ(stat(made.c_str(), &st), 0);
    EXPECT_EQ(FSParentPath(made).c_str(), root_);
    EXPECT_EQ(made.length(), root_.size() + 7);
    EXPECT_TRUE((st.st_mode & 0777) == 0644 && st.st_size == 0) << std::oct << st.st_mode;
    EXPECT_EQ(FSMktemp(Path("missing"), made), -1);
    // Link contents of 1023 bytes fit the buffer, 1024 do not.
    std::string target = Write("target", "t");
    EXPECT_EQ(FSCreateSymbolicLink(std::string(1023, 'y'), Path("l1023")), 0);
    EXPECT_EQ(FSCreateSymbolicLink(std::string(1024, 'y'), Path("l1024")), 0);
    EXPECT_EQ(FSReadSymbolicLink(Path("l1023"), content), 0);
    EXPECT_EQ(content.length(), 1023u);
    EXPECT_EQ(FSReadSymbolicLink(Path("l1024"), content), -1);
    // Times and owner of a link are its own; the target keeps its.
    EXPECT_EQ(FSCreateSymbolicLink("target", Path("l")), 0);
    EXPECT_EQ(FSUTime(Path("l"), 1000, 2000), 0);
    EXPECT_EQ(FSChown(Path("l"), 65534, 65534), 0);
    ASSERT_EQ(lstat(Path("l").c_str(), &st), 0);
    ASSERT_EQ(stat(target.c_str(), &target_st), 0);
    EXPECT_TRUE(st.st_mtime == 2000 && st.st_uid == 65534u);
    EXPECT_TRUE(target_st.st_mtime != 2000 && target_st.st_uid == getuid());
    EXPECT_EQ(FSChown(Path("none"), 0, 0), -1);
    EXPECT_EQ(LogLines(), 6);
    // Access and file-system type tests; only a refusal counts as locked.
    std::string secret = Write("secret", "s"), missing = Path("missing");
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    EXPECT_FALSE(isFileLocked(missing, R_OK));
    EXPECT_TRUE(hasFilePermission(missing, R_OK));
    EXPECT_FALSE(isMountPoint(root_) || IsMSDOS(root_) || isMountPoint(missing) || IsMSDOS(missing));
    EXPECT_EQ(LogLines(), 8);
    int result = RunAsNobody([&] {
        return (isFileLocked(secret, R_OK) ? 1 : 0) + (hasFilePermission(secret, R_OK) ? 2 : 0);
    });
    if (result == 1000)
        GTEST_SKIP() << "cannot run a child process as user 65534";
    EXPECT_EQ(result, 1);  // locked, without permission
}

// The kernel copy (same file system) and the byte loop it falls back to
// (from /dev/shm) give the same bytes, holes read back as zeros.
TEST_F(FileCopyTest, KernelCopyAndByteLoopGiveTheSameBytes)
{
    std::string shm;
    struct stat here, other;
    if (stat(root_.c_str(), &here) == 0 && stat("/dev/shm", &other) == 0 && here.st_dev != other.st_dev) {
        other_ = "/dev/shm/fileop-XXXXXX";
        if (mkdtemp(other_.data()) == nullptr)
            other_.clear();
    }
    // Holes before, between and after the data; and 20 MiB and a bit, more
    // than two kernel copy calls.
    std::string sparse(9 << 20, '\0'), large(20 * 1024 * 1024 + 123, '\0');
    sparse.replace(1 << 20, 4, "head");
    sparse.replace(5 << 20, 4, "tail");
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>((i * 2654435761u) >> 13);
    const std::pair<std::string, const std::string*> files[] = {{"sparse", &sparse}, {"large", &large}};
    int copies = 0;
    for (const std::string& dir : {root_, other_}) {
        if (dir.empty())
            continue;
        for (const auto& [name, bytes] : files) {
            std::string src = dir + "/" + name, dst = Path("copy-" + std::to_string(++copies));
            int fd = open(src.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ASSERT_GE(fd, 0);
            if (name == "sparse") {
                ASSERT_TRUE(pwrite(fd, "head", 4, 1 << 20) == 4 && pwrite(fd, "tail", 4, 5 << 20) == 4);
                ASSERT_EQ(ftruncate(fd, static_cast<off_t>(sparse.size())), 0);
            } else {
                ASSERT_EQ(write(fd, large.data(), large.size()), static_cast<ssize_t>(large.size()));
            }
            close(fd);
            EXPECT_EQ(FSCopy(src, dst, true), 0) << src;
            EXPECT_TRUE(Read(dst) == *bytes) << src;
            EXPECT_FALSE(Exists(src)) << src;
        }
    }
    if (other_.empty())
        GTEST_SKIP() << "no second file system (/dev/shm) for the byte loop beside " << root_;
    EXPECT_EQ(LogLines(), 0);
}
