// Folders and trees: FSMKDir, FSMKDirP, FSRemove and FSRename.
#include <limits.h>

#include <vector>

#include "file_test_util.h"

using FileTreeTest = FileOpTest;

TEST_F(FileTreeTest, MakeFolderChecksWhatIsInTheWay)
{
    std::string file = Write("file", "");
    std::string folder = Folder("folder");
    Link(folder, "folder-link");

    EXPECT_EQ(FSMKDir("", false), -1);
    EXPECT_EQ(FSMKDir(folder, false), 0);
    EXPECT_EQ(FSMKDir(Path("a/b/c"), true), 0);
    EXPECT_TRUE(std::filesystem::is_directory(Path("a/b/c")));
    EXPECT_EQ(LogLines(), 0);

    EXPECT_EQ(FSMKDir(file, true), -1);
    EXPECT_EQ(FSMKDir(Path("folder-link"), false), -1);
    EXPECT_EQ(LogLines(), 2);
    EXPECT_NE(LogText().find("is not directory '" + Path("folder-link") + "' (3)"), std::string::npos);

    EXPECT_EQ(FSMKDir(Path("x/y"), false), -2);
    EXPECT_EQ(FSMKDir(file + "/sub", true), -1);
    EXPECT_EQ(LogLines(), 4);
    EXPECT_NE(LogText().find("Failed to to file info '" + file + "/sub'"), std::string::npos);
    EXPECT_NE(LogText().find("path = " + Path("x/y") + " errno : No such file or directory"),
              std::string::npos);
}

TEST_F(FileTreeTest, MakePathWalksComponentsAndReportsWhereItStopped)
{
    ustring deep(Path("p/q/r/"));
    char* stop = nullptr;
    EXPECT_EQ(FSMKDirP(deep, &stop, false, 0xFFFF), 0);
    EXPECT_TRUE(std::filesystem::is_directory(Path("p/q/r")));
    EXPECT_EQ(stop, deep.c_str() + deep.length() - 1);  // at the trailing separator

    Write("p/file", "keep");
    ustring through(Path("p/file/s1/s2"));
    EXPECT_EQ(FSMKDirP(through, &stop, false, 0xFFFF), -1);
    EXPECT_EQ(std::string(stop), "/s2");
    EXPECT_EQ(Read(Path("p/file")), "keep");

    EXPECT_EQ(FSMKDirP(Path("p/file"), &stop, false, 0xFFFF), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_NE(LogText().find("FSMKDirP: path: " + Path("p/file") + " is existing file"), std::string::npos);
    EXPECT_EQ(LogLines(), 1);

    EXPECT_EQ(FSMKDirP(Path("p/file/s1"), nullptr, true, 0xFFFF), 0);
    EXPECT_TRUE(std::filesystem::is_directory(Path("p/file/s1")));

    // An exact mode ignores the umask for the walk and restores it after.
    mode_t previous = umask(022);
    EXPECT_EQ(FSMKDirP(Path("m1/m2"), nullptr, false, 0775), 0);
    EXPECT_EQ(umask(previous), 022u);
    struct stat st;
    ASSERT_EQ(stat(Path("m1/m2").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0775u);
    EXPECT_EQ(FSMKDirP("", nullptr, false, 0xFFFF), -1);
}

TEST_F(FileTreeTest, RemoveNeverFollowsLinks)
{
    std::string kept = Folder("kept");
    Write("kept/precious", "p");
    Folder("tree/a/b");
    Write("tree/a/b/f", "f");
    Write("tree/top", "t");
    Link(kept, "tree/link-to-kept");
    Link(Path("nowhere"), "tree/dangling");
    std::string link = Link(kept, "kept-link");

    EXPECT_EQ(FSRemove("", false), -1);
    EXPECT_EQ(FSRemove(Path("missing"), false), 0);
    EXPECT_EQ(FSRemove(Path("tree/top/x"), false), -1);
    EXPECT_EQ(FSRemove(Path("tree"), false), 0);
    EXPECT_FALSE(Exists(Path("tree")));
    EXPECT_EQ(Read(Path("kept/precious")), "p");

    // Through a trailing separator the system would follow the link: the
    // folder behind it is not emptied.
    EXPECT_EQ(FSRemove(link + "/", false), -3);
    EXPECT_EQ(Read(Path("kept/precious")), "p");
    EXPECT_EQ(FSRemove(link, false), 0);
    EXPECT_FALSE(Exists(link));
    EXPECT_EQ(Read(Path("kept/precious")), "p");
    EXPECT_EQ(LogLines(), 0);
}

TEST_F(FileTreeTest, RemoveStopsAtAnEntryItCannotRemove)
{
    OpenToAll();
    std::string tree = Folder("tree");
    Folder("tree/guarded");
    Write("tree/guarded/f", "f");
    ASSERT_EQ(chown(tree.c_str(), 65534, 65534), 0);
    int result = RunAsNobody([&] { return FSRemove(tree, false); });
    if (result == 1000)
        GTEST_SKIP() << "cannot run a child process as user 65534";
    EXPECT_EQ(result, -3);
    EXPECT_TRUE(Exists(Path("tree/guarded/f")));
}

TEST_F(FileTreeTest, RenameOnOneVolume)
{
    std::string src = Write("src", "payload");
    EXPECT_EQ(FSRename("", src, false), -1);
    EXPECT_EQ(FSRename(src, "", false), -1);
    EXPECT_EQ(FSRename(Path("missing"), Path("d"), false), -2);
    EXPECT_EQ(FSRename(Path("./src"), Path("d"), true), -2);
    EXPECT_EQ(FSRename(src, Path(std::string(NAME_MAX + 1, 'n')), false), -100);
    EXPECT_EQ(FSRename(src, Path("no-folder/d"), false), -3);
    EXPECT_EQ(FSRename(src, Path("d"), true), 0);
    EXPECT_EQ(Read(Path("d")), "payload");
    EXPECT_FALSE(Exists(src));

    Folder("from");
    Write("from/entry", "e");
    Folder("full");
    Write("full/other", "o");
    Folder("empty");
    EXPECT_EQ(FSRename(Path("from"), Path("full"), false), -3);
    EXPECT_TRUE(Exists(Path("from/entry")));
    EXPECT_FALSE(Exists(Path("full/entry")));
    EXPECT_EQ(FSRename(Path("from"), Path("empty"), false), 0);
    EXPECT_EQ(Read(Path("empty/entry")), "e");
    EXPECT_EQ(LogLines(), 0);
}

class FileCrossVolumeTest : public FileOpTest {
protected:
    void SetUp() override
    {
        FileOpTest::SetUp();
        other_ = OtherVolumeFolder(root_);
        if (other_.empty())
            GTEST_SKIP() << "no second writable file system (/dev/shm) beside " << root_;
    }
    void TearDown() override
    {
        if (!other_.empty())
            std::filesystem::remove_all(other_);
        FileOpTest::TearDown();
    }
    std::string other_;
};

TEST_F(FileCrossVolumeTest, TreeMovesAndMergesIntoAnExistingFolder)
{
    Folder("tree/sub");
    Write("tree/a", std::string(20000, 'a'));
    Write("tree/sub/b", "b");
    std::string dst = other_ + "/tree";
    ASSERT_EQ(mkdir(dst.c_str(), 0755), 0);
    std::ofstream(dst + "/already") << "there";

    EXPECT_EQ(FSRename(Path("tree"), dst, true), 0);
    EXPECT_FALSE(Exists(Path("tree")));
    EXPECT_EQ(Read(dst + "/a"), std::string(20000, 'a'));
    EXPECT_EQ(Read(dst + "/sub/b"), "b");
    EXPECT_EQ(Read(dst + "/already"), "there");

    // A single file moves by copy, then removal of the source.
    std::string file = Write("single", "s");
    EXPECT_EQ(FSRename(file, other_ + "/single", false), 0);
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(Read(other_ + "/single"), "s");
}

TEST_F(FileCrossVolumeTest, LinkInsideStopsTheMoveAfterEarlierEntries)
{
    Folder("tree");
    for (const char* name : {"e1", "e2", "e3", "e4"})
        Write(std::string("tree/") + name, name);
    Link("e1", "tree/link");
    std::vector<std::string> order;
    for (const auto& entry : std::filesystem::directory_iterator(Path("tree")))
        order.push_back(entry.path().filename().string());
    std::string dst = other_ + "/tree";

    EXPECT_EQ(FSRename(Path("tree"), dst, false), -3);
    bool before_link = true;
    for (const std::string& name : order) {
        if (name == "link")
            before_link = false;
        EXPECT_EQ(Exists(dst + "/" + name), before_link) << name;
        EXPECT_EQ(Exists(Path("tree/" + name)), !before_link) << name;
    }
}
