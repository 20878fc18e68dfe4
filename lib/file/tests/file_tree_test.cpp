// Folders and trees: FSMKDir, FSMKDirP, FSRemove and FSRename.
#include <limits.h>

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
        {Path("./src"), Path("d"), true, -2},  // not the canonical spelling
        {src, Path(std::string(NAME_MAX + 1, 'n')), false, -100}, {src, Path("no-folder/d"), false, -3},
        {src, Path("d"), true, 0}, {Path("from"), Path("full"), false, -3}, {Path("from"), Path("empty"), false, 0}};
    for (const auto& [from, to, sensitive, result] : cases)
        EXPECT_EQ(FSRename(from, to, sensitive), result) << from << " -> " << to;
    EXPECT_EQ(Read(Path("d")) + Read(Path("empty/entry")), "payloade");
    EXPECT_FALSE(Exists(src) || Exists(Path("full/entry")));
    EXPECT_EQ(LogLines(), 0);
    // An entry the caller may not remove stops the removal with -3.
    Write("guarded/inner/f", "f");
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
