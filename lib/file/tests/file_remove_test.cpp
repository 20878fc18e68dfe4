// FSRemove on the roots and trees that once defeated it: read-only folders,
// roots spelled with trailing "." or "..", and few free descriptors.
#include <dirent.h>
#include <sys/resource.h>

#include <set>
#include <vector>

#include "file_test_util.h"

using FileRemoveTest = FileOpTest;

namespace {

std::filesystem::perms Mode(const std::string& path)
{
    return std::filesystem::symlink_status(path).permissions();
}

// Every object below `top` with its kind and contents, sorted.
std::set<std::string> Listing(const std::string& top)
{
    std::set<std::string> listing;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
        std::string line = entry.path().lexically_relative(top).string();
        if (entry.is_symlink())
            line += " -> " + std::filesystem::read_symlink(entry.path()).string();
        else if (entry.is_regular_file())
            line += ": " + (std::ostringstream() << std::ifstream(entry.path()).rdbuf()).str();
        listing.insert(line);
    }
    return listing;
}

// `depth` nested folders "d" below `top`, each level wide: three files, two
// empty folders, a folder with a file of its own and, with `links`, a link.
void MakeWideTree(const std::string& top, int depth, bool links = true)
{
    std::string level = top;
    for (int i = 0; i < depth; ++i) {
        std::filesystem::create_directories(level + "/side");
        std::filesystem::create_directories(level + "/e0");
        std::filesystem::create_directories(level + "/e1");
        for (const char* name : {"/f0", "/f1", "/f2", "/side/g"})
            std::ofstream(level + name) << i << name;
        if (links)
            std::filesystem::create_symlink("f0", level + "/link");
        level += "/d";
    }
    std::filesystem::create_directories(level);
}

// Folders read-only (0555) and files 0444, deepest first, as some bundles ship them.
void MakeReadOnly(const std::string& top)
{
    std::vector<std::string> folders{top};
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
        if (entry.is_symlink())
            continue;
        if (entry.is_directory())
            folders.push_back(entry.path().string());
        else
            chmod(entry.path().c_str(), 0444);
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        chmod(it->c_str(), 0555);
}

// Lowers this process's soft limit of descriptors so that exactly `spare`
// numbers are free below it: the system hands out the lowest free number,
// so at most `spare` more descriptors can be open at once.
bool LeaveSpareDescriptors(int spare)
{
    std::set<int> open;
    DIR* fds = opendir("/proc/self/fd");
    if (fds == nullptr)
        return false;
    for (dirent* entry; (entry = readdir(fds)) != nullptr;)
        if (entry->d_name[0] != '.' && atoi(entry->d_name) != dirfd(fds))
            open.insert(atoi(entry->d_name));
    closedir(fds);
    rlim_t limit = 0;
    for (int found = 0; found < spare; ++limit)
        found += open.count(static_cast<int>(limit)) == 0;
    struct rlimit current;
    if (getrlimit(RLIMIT_NOFILE, &current) != 0 || current.rlim_cur < limit)
        return false;
    current.rlim_cur = limit;
    return setrlimit(RLIMIT_NOFILE, &current) == 0;
}

// Runs `body` in a child that may open `spare` more descriptors: its exit
// status, 100 when the limit could not be set, -1 when it did not exit.
template <typename Body>
int RunWithSpareDescriptors(int spare, Body body)
{
    pid_t child = fork();
    if (child == 0)
        _exit(LeaveSpareDescriptors(spare) ? body() : 100);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace

// A tree of read-only folders and files is removed by an ordinary user who
// owns it; the folder holding it is left as it was, also when that one is
// read-only and so keeps the (emptied) tree.
TEST_F(FileRemoveTest, ReadOnlyFoldersInsideTheTreeAreRemoved)
{
    const std::string parent = Folder("parent"), tree = Path("parent/tree");
    auto make_tree = [&] {
        Write("parent/tree/f", "f");
        Write("parent/tree/a/b/c/f", "deep");
        Folder("parent/tree/a/empty");
        Link("../nowhere", "parent/tree/a/link");
        MakeReadOnly(tree);
    };
    make_tree();
    ASSERT_EQ(chmod(parent.c_str(), 0755), 0);
    int result = RunUnprivileged(parent, [&] { return FSRemove(tree, false); });
    if (result == 1000)
        GTEST_SKIP() << "cannot run a child process as an ordinary user";
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(Exists(tree));
    EXPECT_EQ(Mode(parent), std::filesystem::perms(0755));
    EXPECT_EQ(LogLines(), 0);

    make_tree();
    ASSERT_EQ(chmod(parent.c_str(), 0555), 0);
    result = RunUnprivileged(parent, [&] { return FSRemove(tree, false); });
    chmod(parent.c_str(), 0755);  // for the clean-up of an ordinary user
    EXPECT_EQ(result, -3);
    ASSERT_TRUE(Exists(tree));
    EXPECT_TRUE(std::filesystem::is_empty(tree));
    EXPECT_TRUE(Logged("FSRemove: rmdir(" + tree + "): Permission denied (13)"));
    EXPECT_EQ(LogLines(), 1);
}

// A root ending in "." names the object its letters name: a link to a
// folder is removed as a link and what it leads to stays. A root ending in
// ".." is refused before anything is touched.
TEST_F(FileRemoveTest, RootsEndingInDotsNeverReachBeyondThemselves)
{
    const std::string target = Folder("target");
    Write("target/inner/f", "f");
    const std::set<std::string> before = Listing(target);
    for (const std::string suffix : {"/.", "/./", "/././/", "//."}) {
        const std::string link = Link(target, "link");
        EXPECT_EQ(FSRemove(link + suffix, false), 0) << suffix;
        EXPECT_FALSE(Exists(link)) << suffix;
        EXPECT_EQ(Listing(target), before) << suffix;
    }
    Write("plain/f", "f");
    EXPECT_EQ(FSRemove(Path("plain/."), false), 0);  // a real folder goes whole
    EXPECT_FALSE(Exists(Path("plain")));
    EXPECT_EQ(LogLines(), 0);

    const std::string link = Link(target, "link");
    int refusals = 0;
    for (const std::string& path : {Path("target/inner/.."), Path("target/inner/../"), Path("target/inner/../."),
                                    link + "/..", link + "/inner/.."}) {
        EXPECT_EQ(FSRemove(path, false), -1) << path;
        EXPECT_TRUE(Logged("FSRemove: refusing to remove '" + path + "': its last component is '..'")) << path;
        EXPECT_EQ(LogLines(), ++refusals);
    }
    // "." alone is the working folder: refused too.
    const std::string work = Folder("work");
    Write("work/canary", "c");
    char* previous = getcwd(nullptr, 0);
    ASSERT_NE(previous, nullptr);
    ASSERT_EQ(chdir(work.c_str()), 0);
    const int dot = FSRemove(".", false), dots = FSRemove("././", false);
    EXPECT_EQ(chdir(previous), 0);
    free(previous);
    EXPECT_EQ(dot, -1);
    EXPECT_EQ(dots, -1);
    EXPECT_TRUE(Logged("FSRemove: refusing to remove '.': it names the working folder"));
    EXPECT_EQ(Read(work + "/canary"), "c");
    EXPECT_EQ(Listing(target), before);
    EXPECT_TRUE(Exists(link));
}

// The walk keeps at most 8 folder descriptors open, however deep the tree:
// with just 8 free it removes a tree 40 levels deep. With fewer it stops
// where it ran out, cleanly, and a later removal finishes the job.
TEST_F(FileRemoveTest, RemovalHoldsAtMostEightDescriptors)
{
    const std::string tree = Path("tree");
    MakeWideTree(tree, 40);
    EXPECT_EQ(RunWithSpareDescriptors(8, [&] { return FSRemove(tree, false) == 0 ? 0 : 1; }), 0);
    EXPECT_FALSE(Exists(tree));
    EXPECT_EQ(LogLines(), 0);

    MakeWideTree(tree, 40);
    EXPECT_EQ(RunWithSpareDescriptors(3, [&] { return FSRemove(tree, false) == -3 ? 0 : 1; }), 0);
    EXPECT_TRUE(Logged("Too many open files (24)"));
    EXPECT_EQ(LogLines(), 1);
    ASSERT_TRUE(Exists(tree + "/d/d/d"));
    EXPECT_EQ(FSRemove(tree, false), 0);
    EXPECT_FALSE(Exists(tree));
}

// A move across file systems walks the source and the destination at once
// and has one file of each open while it copies: 2 x 8 + 2 descriptors.
TEST_F(FileRemoveTest, MoveAcrossVolumesHoldsAtMostEighteenDescriptors)
{
    if (!MakeOtherVolumeFolder(root_, other_))
        GTEST_SKIP() << "no second writable file system (/dev/shm) beside " << root_;
    const std::string src = Path("tree"), dst = other_ + "/moved";
    MakeWideTree(src, 40, false);  // a link can't cross file systems
    const std::set<std::string> before = Listing(src);
    EXPECT_EQ(RunWithSpareDescriptors(18, [&] { return FSRename(src, dst, true) == 0 ? 0 : 1; }), 0);
    EXPECT_FALSE(Exists(src));
    EXPECT_EQ(Listing(dst), before);
    EXPECT_EQ(LogLines(), 0);
}
