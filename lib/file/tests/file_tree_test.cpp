// Folders and trees: FSMKDir, FSMKDirP, FSRemove and FSRename.
#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>

#include <vector>

#include "file_test_util.h"

using FileTreeTest = FileOpTest;

TEST_F(FileTreeTest, MakeFolderAndPathCheckWhatIsInTheWay)
{
    std::string file = Write("p/file", "keep");
    Link(Folder("folder"), "folder-link");
    const std::tuple<std::string, bool, int> cases[] = {
        {"", false, -1},  {Path("folder"), false, 0},        {Path("a/b/c"), true, 0},       {file, true, -1},
        {Path("folder-link"), false, -1}, {Path("x/y"), false, -2}, {file + "/sub", true, -1}};
    for (const auto& [path, recursive, result] : cases)
        EXPECT_EQ(FSMKDir(path, recursive), result) << path;
    EXPECT_TRUE(std::filesystem::is_directory(Path("a/b/c")));
    EXPECT_EQ(LogLines(), 4);  // one per failure but the empty path

    // FSMKDirP reports where the walk stopped.
    ustring deep(Path("p/q/r/")), through(file + "/s1/s2");
    char* stop = nullptr;
    EXPECT_EQ(FSMKDirP(deep, &stop, false, 0xFFFF), 0);
    EXPECT_TRUE(std::filesystem::is_directory(Path("p/q/r")));
    EXPECT_EQ(stop, deep.c_str() + deep.length() - 1);  // at the trailing separator
    EXPECT_EQ(FSMKDirP(through, &stop, false, 0xFFFF), -1);
    EXPECT_STREQ(stop, "/s2");
    EXPECT_EQ(FSMKDirP(file, &stop, false, 0xFFFF), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(Read(file), "keep");
    EXPECT_EQ(LogLines(), 5);
    EXPECT_EQ(FSMKDirP(file + "/s1", nullptr, true, 0xFFFF), 0);  // force replaces the file
    EXPECT_TRUE(std::filesystem::is_directory(file + "/s1"));
    // An exact mode ignores the umask for the walk and restores it after.
    mode_t previous = umask(022);
    EXPECT_EQ(FSMKDirP(Path("m1/m2"), nullptr, false, 0775), 0);
    EXPECT_EQ(umask(previous), 022u);
    EXPECT_EQ(std::filesystem::status(Path("m1/m2")).permissions(), std::filesystem::perms(0775));
}

TEST_F(FileTreeTest, RemoveAndRenameOnOneVolume)
{
    std::string kept = Folder("kept"), link = Link(kept, "kept-link");
    Write("kept/precious", "p");
    Write("tree/a/b/f", "f");
    Link(kept, "tree/link-to-kept");
    Link(Path("nowhere"), "tree/dangling");
    EXPECT_EQ(FSRemove("", false), -1);
    EXPECT_EQ(FSRemove(Path("missing"), false), 0);
    EXPECT_EQ(FSRemove(Path("tree/a/b/f/x"), false), -1);
    EXPECT_EQ(FSRemove(Path("tree"), false), 0);
    EXPECT_FALSE(Exists(Path("tree")));
    EXPECT_EQ(FSRemove(link + "/", false), -3);  // removal never follows a link
    EXPECT_EQ(FSRemove(link, false), 0);
    EXPECT_FALSE(Exists(link));
    EXPECT_EQ(Read(Path("kept/precious")), "p");
    std::string src = Write("src", "payload");
    Folder("empty");
    Write("from/entry", "e");
    Write("full/other", "o");
    const std::tuple<std::string, std::string, bool, int> cases[] = {
        {"", src, false, -1}, {src, "", false, -1}, {Path("missing"), Path("d"), false, -2},
        {Path("SRC"), Path("d"), true, -2},  // not the stored spelling
        {src, Path(std::string(NAME_MAX + 1, 'n')), false, -100}, {src, Path("no-folder/d"), false, -3},
        {src, Path("d"), true, 0}, {Path("from"), Path("full"), false, -3}, {Path("from"), Path("empty"), false, 0}};
    for (const auto& [from, to, sensitive, result] : cases)
        EXPECT_EQ(FSRename(from, to, sensitive), result) << from << " -> " << to;
    EXPECT_EQ(Read(Path("d")) + Read(Path("empty/entry")), "payloade");
    EXPECT_FALSE(Exists(src) || Exists(Path("full/entry")));
    EXPECT_EQ(LogLines(), 0);
    // An entry the caller may not remove stops the removal with -3. Only root
    // can hand the folder to another user and leave its inside to itself.
    Write("guarded/inner/f", "f");
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run a child process as user 65534";
    ASSERT_EQ(chown(Path("guarded").c_str(), 65534, 65534), 0);
    int result = RunAsNobody([&] { return FSRemove(Path("guarded"), false); });
    if (result == 1000)
        GTEST_SKIP() << "cannot run a child process as user 65534";
    EXPECT_EQ(result, -3);
    EXPECT_TRUE(Exists(Path("guarded/inner/f")));
}

TEST_F(FileTreeTest, RenameAcrossVolumesMovesEntryByEntry)
{
    struct stat here, shm, dev;
    other_ = "/dev/shm/fileop-XXXXXX";
    ASSERT_TRUE(stat(root_.c_str(), &here) == 0 && stat("/dev", &dev) == 0);
    if (stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev || mkdtemp(other_.data()) == nullptr) {
        other_.clear();
        GTEST_SKIP() << "no second writable file system (/dev/shm) beside " << root_;
    }
    Write("tree/a", std::string(20000, 'a'));
    Write("tree/sub/b", "b");
    std::string dst = other_ + "/tree", file = Write("single", "s");
    ASSERT_EQ(mkdir(dst.c_str(), 0755), 0);
    std::ofstream(dst + "/already") << "there";
    EXPECT_EQ(FSRename(Path("tree"), dst, true), 0);  // merged into the existing folder
    EXPECT_EQ(FSRename(file, other_ + "/single", false), 0);
    EXPECT_FALSE(Exists(Path("tree")) || Exists(file));
    EXPECT_EQ(Read(dst + "/a"), std::string(20000, 'a'));
    EXPECT_EQ(Read(dst + "/sub/b") + Read(dst + "/already") + Read(other_ + "/single"), "btheres");
    // Onto a device of /dev the copy can't be kept: the source stays.
    ASSERT_NE(here.st_dev, dev.st_dev) << "a rename onto /dev/full would replace the device";
    std::string src = Write("src", std::string(30000, 'm'));
    EXPECT_EQ(FSRename(src, "/dev/full", false), -3);
    EXPECT_EQ(FSRename(src, "/dev/null", false), -3);
    EXPECT_EQ(Read(src), std::string(30000, 'm'));
    EXPECT_EQ(LogLines(), 2);
    // A symbolic link can't cross: entries listed before it have moved, the rest stay.
    for (const char* name : {"e1", "e2", "e3", "e4"})
        Write(std::string("linked/") + name, name);
    Link("e1", "linked/link");
    std::vector<std::string> order;
    for (const auto& entry : std::filesystem::directory_iterator(Path("linked")))
        order.push_back(entry.path().filename().string());
    EXPECT_EQ(FSRename(Path("linked"), other_ + "/linked", false), -3);
    bool before_link = true;
    for (const std::string& name : order) {
        before_link = before_link && name != "link";
        EXPECT_EQ(Exists(other_ + "/linked/" + name), before_link) << name;
        EXPECT_EQ(Exists(Path("linked/" + name)), !before_link) << name;
    }
}

namespace {

// Runs `body` in a child allowed 64 open descriptors; its exit status, or -1.
template <typename Body>
int RunWithFewDescriptors(Body body)
{
    pid_t child = fork();
    if (child == 0) {
        struct rlimit limit = {64, 64};
        _exit(setrlimit(RLIMIT_NOFILE, &limit) != 0 ? 100 : body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// A chain of `depth` folders called `name` below `top`, each level holding a
// file "f" with its level number. Made relative to descriptors, so the chain
// may reach past PATH_MAX; a link to `outside` sits halfway when given.
bool MakeChain(const std::string& top, const std::string& name, int depth, const std::string& outside = "")
{
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; fd >= 0 && level < depth; ++level) {
        int file = openat(fd, "f", O_WRONLY | O_CREAT, 0644);
        bool ok = file >= 0 && write(file, &level, sizeof level) == sizeof level && close(file) == 0 &&
                  mkdirat(fd, name.c_str(), 0755) == 0;
        if (level == depth / 2 && !outside.empty())
            ok = ok && symlinkat(outside.c_str(), fd, "link") == 0;
        int next = ok ? openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY) : -1;
        close(fd);
        fd = next;
    }
    return fd >= 0 && close(fd) == 0;
}

// Levels of a chain below `top` that hold their file as MakeChain wrote it.
int ChainLevels(const std::string& top, const std::string& name)
{
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
    int level = 0;
    for (; fd >= 0; ++level) {
        int file = openat(fd, "f", O_RDONLY);
        int stored = -1;
        bool ok = file >= 0 && read(file, &stored, sizeof stored) == sizeof stored && stored == level;
        if (file >= 0)
            close(file);
        int next = ok ? openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY) : -1;
        close(fd);
        fd = next;
        if (!ok)
            return level;
    }
    return level;
}

}  // namespace

// Trees deeper than the descriptors a process may open, and deeper than a path
// may be long, are removed and moved across file systems.
TEST_F(FileTreeTest, DeepTreesWithFewDescriptors)
{
    Write("kept/precious", "p");
    const std::pair<std::string, int> chains[] = {{"d", 300}, {std::string(200, 'n'), 25}};  // 25 * 201 > PATH_MAX
    for (const auto& [name, depth] : chains) {
        std::string tree = Folder("tree");
        ASSERT_TRUE(MakeChain(tree, name, depth, Path("kept")));
        EXPECT_EQ(RunWithFewDescriptors([&] { return FSRemove(tree, false) == 0 ? 0 : 1; }), 0) << depth;
        EXPECT_FALSE(Exists(tree)) << depth;
    }
    EXPECT_EQ(Read(Path("kept/precious")), "p");  // the links were removed, not followed
    EXPECT_EQ(LogLines(), 0);
    if (!MakeOtherVolumeFolder(root_, other_))
        GTEST_SKIP() << "no second writable file system (/dev/shm) beside " << root_;
    for (const auto& [name, depth] : chains) {  // onto tmpfs, where the fsyncs cost nothing
        std::string src = Folder("tree"), dst = other_ + "/moved";
        ASSERT_TRUE(MakeChain(src, name, depth));
        EXPECT_EQ(RunWithFewDescriptors([&] { return FSRename(src, dst, true) == 0 ? 0 : 1; }), 0) << depth;
        EXPECT_FALSE(Exists(src)) << depth;
        EXPECT_EQ(ChainLevels(dst, name), depth);
        EXPECT_EQ(FSRemove(dst, false), 0);
    }
    EXPECT_EQ(LogLines(), 0);
}

// A move across file systems that can't copy an entry keeps that entry's
// source, and every other entry ends in one place or the other, whole.
TEST_F(FileTreeTest, MoveAcrossVolumesKeepsWhatItCouldNotCopy)
{
    if (!MakeOtherVolumeFolder(root_, other_))
        GTEST_SKIP() << "no second writable file system (/dev/shm) beside " << root_;
    const std::string names[] = {"a", "b", "c", "sub/d", "sub/e"};
    // What stands in the destination's way, and what is logged for it.
    const std::tuple<std::string, bool, std::string, std::string> cases[] = {
        {"c", true, "c", "CopyFile: open(" + Path("dst/c") + "): Is a directory (21)"},
        {"sub", false, "sub/d", "FSRename: openat(" + Path("dst/sub") + "): Not a directory (20)"}};
    for (const auto& [blocker, is_folder, kept, message] : cases) {
        std::string src = other_ + "/tree", dst = Folder("dst");
        for (const std::string& name : names) {
            std::filesystem::create_directories(std::filesystem::path(src + "/" + name).parent_path());
            std::ofstream(src + "/" + name) << name;
        }
        if (is_folder)
            Folder("dst/" + blocker);
        else
            Write("dst/" + blocker, "in the way");
        EXPECT_EQ(FSRename(src, dst, false), -3) << blocker;
        EXPECT_TRUE(Logged(message)) << message;
        EXPECT_EQ(Read(src + "/" + kept), kept);
        for (const std::string& name : names) {
            bool at_src = Exists(src + "/" + name), at_dst = Read(dst + "/" + name) == name;
            EXPECT_NE(at_src, at_dst) << name;
            if (at_src) {
                EXPECT_EQ(Read(src + "/" + name), name);
            }
        }
        std::filesystem::remove_all(src);
        std::filesystem::remove_all(dst);
    }
}
