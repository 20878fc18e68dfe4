// Backup, extraction and rollback of the per-user bundle, with the mark that
// an installation is in progress.
#include <gtest/gtest.h>

#include "cloud-service.h"
#include "extractor_support.h"
#include "uipathmanager.h"

using namespace extractor_test;

namespace {

// The platform steps are not under test here.
class TestService : public Service {
public:
    void StopService() override {}
    int HandlePackageUpgrade() override { return PrepareUserEnv(); }
    void PostUpgrade() override {}
    void PreUpgrade() override {}
    bool IsNeedUpgrade() override { return true; }
};

// A home and a launcher bundle below a fresh folder, registered as the
// per-user and bundle paths; `old`: with an old bundle installed.
struct Installation {
    explicit Installation(bool old) : root(TempDir()), app(root + "/home/.Lumora/Lumora.app")
    {
        const std::string resources = root + "/bundle/Contents/Resources";
        package = resources + "/package/tidewell.vxa";
        fs::create_directories(resources + "/package");
        UIPathManager::getInstance()->setPath("user_lumora_app_path", QString::fromStdString(app));
        UIPathManager::getInstance()->setPath("user_lumora_ui_path",
                                              QString::fromStdString(app + "/Contents/MacOS/lumora-ui"));
        UIPathManager::getInstance()->setPath("root_resource_path", QString::fromStdString(resources));
        service.app_path = app.c_str();
        service.target_version.build_version = "130";
        mark = service.UpgradeMarkPath().c_str();
        fs::create_directories(root + "/home");
        if (old) {
            EXPECT_TRUE(WriteText(app + "/Contents/MacOS/lumora-ui", "old client"));
            fs::create_directory_symlink("MacOS", app + "/Contents/Current");
        }
    }
    void GoodPackage() { ASSERT_TRUE(WriteArchive(package, Zip, SamplePackage("130"))); }
    // Three good entries, then the archive ends mid-header.
    void DamagedPackage()
    {
        ASSERT_TRUE(WriteArchive(package, Tar, {{'d', "Contents"}, {'f', "Contents/new1", std::string(2000, 'a')},
                                                {'f', "Contents/new2", std::string(2000, 'b')},
                                                {'f', "Contents/new3", std::string(2000, 'c')}}));
        ASSERT_TRUE(CutTarAfter(package, 3));
    }
    std::string Backup(int i) const { return app + "_tmp" + (i == 0 ? std::string() : std::to_string(i)); }
    bool NewBundleInPlace() const
    {
        return ReadText(app + "/Contents/Resources/INFO") == "[Version]\nbuild_version=130\n" &&
               !Exists(app + "/Contents/Current") && ReadText(app + "/Contents/MacOS/lumora-ui") == "#!/bin/sh\nexit 0\n";
    }

    std::string root, app, package, mark;
    TestService service;
};

TEST(Install, ReplacesTheBundleThroughBackupZeroAndMarksTheWork)
{
    Installation in(true);
    in.GoodPackage();
    bool marked = false, backed_up = false;
    ProgressRecorder progress;
    progress.onCall = [&](int current) {
        marked = marked || (current == 1 && Exists(in.mark));
        backed_up = backed_up || (current == 1 && ReadText(in.Backup(0) + "/Contents/MacOS/lumora-ui") == "old client");
    };
    const size_t mark = LogMark();
    ASSERT_EQ(in.service.PrepareUserEnv(), 0) << LogSince(mark);
    EXPECT_EQ(progress.calls.size(), SamplePackage("130").size());
    EXPECT_EQ(LogCount(mark, "user installation is ready, removing backup app"), 1);
    EXPECT_EQ(LogCount(mark, "[ERROR]"), 0) << LogSince(mark);
    EXPECT_TRUE(marked && backed_up) << "the mark and the backup exist while extracting";
    EXPECT_TRUE(in.NewBundleInPlace());
    EXPECT_FALSE(Exists(in.mark));
    // The backup goes once the client has been started.
    in.service.RemoveLeftoverBackups();
    EXPECT_FALSE(Exists(in.Backup(0)));
}

TEST(Install, LeftoverBackupsArePassedOverThenRemoved)
{
    Installation in(true);
    in.GoodPackage();
    for (int i : {0, 1, 3})
        ASSERT_TRUE(WriteText(in.Backup(i) + "/leftover", "x"));
    const size_t mark = LogMark();
    ASSERT_EQ(in.service.PrepareUserEnv(), 0);
    EXPECT_EQ(LogCount(mark, "failed to backup app from"), 2);
    EXPECT_EQ(LogCount(mark, "_tmp1'\n"), 1);
    EXPECT_TRUE(in.NewBundleInPlace());
    EXPECT_TRUE(Exists(in.Backup(2)) && Exists(in.Backup(3))) << "kept until the client runs";
    // Every backup goes once the installation is complete, this run's and
    // those of earlier runs; never while a mark says it is not.
    ASSERT_TRUE(WriteText(in.mark, ""));
    in.service.RemoveLeftoverBackups();
    EXPECT_TRUE(Exists(in.Backup(2)));
    fs::remove(in.mark);
    in.service.RemoveLeftoverBackups();
    for (int i : {0, 1, 2, 3})
        EXPECT_FALSE(Exists(in.Backup(i))) << i;
}

TEST(Install, AllTenBackupsOccupiedLeavesEverythingAsItWas)
{
    Installation in(true);
    in.GoodPackage();
    for (int i = 0; i <= 9; ++i)
        ASSERT_TRUE(WriteText(in.Backup(i) + "/leftover", std::to_string(i)));
    const std::string before = Snapshot(in.root + "/home");
    const size_t mark = LogMark();
    EXPECT_EQ(in.service.PrepareUserEnv(), -1);
    EXPECT_EQ(LogCount(mark, "at max retries, exiting"), 1);
    EXPECT_EQ(Snapshot(in.root + "/home"), before);
}

TEST(Install, DamagedPackageRollsBackOrLeavesTheMark)
{
    Installation in(true);
    in.DamagedPackage();
    const std::string before = Snapshot(in.app);
    size_t mark = LogMark();
    EXPECT_EQ(in.service.PrepareUserEnv(), -1);
    EXPECT_EQ(LogCount(mark, "Failed to extract package, rollback to old installation"), 1);
    EXPECT_EQ(Snapshot(in.app), before) << "old bundle restored byte for byte";
    EXPECT_FALSE(Exists(in.Backup(0)));
    EXPECT_FALSE(Exists(in.mark)) << "a rolled back installation is complete";

    // Without an old bundle the partial one and the mark stay; the next run installs again.
    Installation fresh(false);
    fresh.DamagedPackage();
    mark = LogMark();
    EXPECT_EQ(fresh.service.PrepareUserEnv(), -1);
    EXPECT_EQ(LogCount(mark, "Failed to extract package, and no old installation to rollback"), 1);
    EXPECT_TRUE(Exists(fresh.app + "/Contents/new2") && Exists(fresh.mark));
    fresh.GoodPackage();
    EXPECT_EQ(fresh.service.PrepareUserEnv(), 0);
    EXPECT_TRUE(fresh.NewBundleInPlace());
    EXPECT_FALSE(Exists(fresh.app + "/Contents/new2") || Exists(fresh.mark));

    // Rolling back to the partial bundle of an interrupted run keeps its mark.
    Installation partial(false);
    ASSERT_TRUE(WriteText(partial.app + "/Contents/partial", "half") && WriteText(partial.mark, ""));
    partial.DamagedPackage();
    EXPECT_EQ(partial.service.PrepareUserEnv(), -1);
    EXPECT_EQ(ReadText(partial.app + "/Contents/partial"), "half");
    EXPECT_TRUE(Exists(partial.mark));
}

TEST(Install, FSCopyPathCopiesFilesAndTrees)
{
    Installation in(false);
    const std::string src = in.root + "/src";
    ASSERT_TRUE(WriteText(src + "/a", "A") && WriteText(src + "/sub/deeper/b", "B"));
    EXPECT_EQ(in.service.FSCopyPath(ustring((src + "/a").c_str()), ustring((in.root + "/one").c_str())), 0);
    EXPECT_EQ(ReadText(in.root + "/one"), "A");
    EXPECT_EQ(in.service.FSCopyPath(ustring(src.c_str()), ustring((in.root + "/x/y/copy").c_str())), 0);
    EXPECT_EQ(Snapshot(in.root + "/x/y/copy"), Snapshot(src));
    const size_t mark = LogMark();
    EXPECT_EQ(in.service.FSCopyPath(ustring((in.root + "/none").c_str()), ustring((in.root + "/n").c_str())), -1);
    EXPECT_EQ(LogCount(mark, "does not exist"), 1);
    EXPECT_FALSE(Exists(in.root + "/n"));
}

}  // namespace
