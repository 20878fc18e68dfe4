// Backup, extraction and rollback of the per-user bundle, with the mark that
// an installation is in progress.

#include <QString>

#include <gtest/gtest.h>

#include <filesystem>

#include "cloud-service.h"
#include "extractor_support.h"
#include "launcher.h"
#include "uipathmanager.h"

using namespace extractor_test;
namespace fs = std::filesystem;

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
// per-user and bundle paths.
struct Installation {
    Installation()
    {
        root = TempDir();
        app = root + "/home/.Lumora/Lumora.app";
        resources = root + "/bundle/Contents/Resources";
        package = resources + "/package/tidewell.vxa";
        fs::create_directories(resources + "/package");
        fs::create_directories(root + "/home");
        UIPathManager::getInstance()->setPath("user_lumora_app_path", QString::fromStdString(app));
        UIPathManager::getInstance()->setPath("root_resource_path", QString::fromStdString(resources));
        service.app_path = app.c_str();
        mark = service.UpgradeMarkPath().c_str();
    }
    void OldBundle()
    {
        ASSERT_TRUE(WriteText(app + "/Contents/Resources/INFO", "[Version]\nbuild_version=120\n"));
        ASSERT_TRUE(WriteText(app + "/Contents/MacOS/lumora-ui", "old client"));
        fs::create_directory_symlink("MacOS", app + "/Contents/Current");
    }
    void GoodPackage() { ASSERT_EQ(WriteSamplePackage(package, ArchiveBuilder::Zip, "130"), 9); }
    // Four good entries, then bytes that end the archive mid-header.
    void DamagedPackage()
    {
        const std::string tar = root + "/damaged.tar";
        {
            ArchiveBuilder b(tar, ArchiveBuilder::Tar);
            b.Dir("Contents");
            b.File("Contents/new1", std::string(2000, 'a'));
            b.File("Contents/new2", std::string(2000, 'b'));
            b.File("Contents/new3", std::string(2000, 'c'));
            b.File("Contents/new4", std::string(2000, 'd'));
            ASSERT_TRUE(b.Close());
        }
        const long cut = TarOffsetAfter(tar, 3);
        ASSERT_GT(cut, 0);
        fs::resize_file(tar, static_cast<uintmax_t>(cut + 100));
        fs::rename(tar, package);
    }
    std::string Backup(int i) const { return app + "_tmp" + (i == 0 ? std::string() : std::to_string(i)); }
    bool NewBundleInPlace() const
    {
        return ReadText(app + "/Contents/Resources/INFO") == "[Version]\nbuild_version=130\n" &&
               ReadText(app + "/Contents/MacOS/lumora-ui") == "#!/bin/sh\nexit 0\n" &&
               !Exists(app + "/Contents/Current");
    }

    std::string root, app, resources, package, mark;
    TestService service;
};

}  // namespace

TEST(Install, ReplacesTheBundleThroughBackupZeroAndMarksTheWork)
{
    Installation in;
    in.OldBundle();
    in.GoodPackage();
    bool marked_during_extraction = false;
    bool backed_up_during_extraction = false;
    {
        ProgressRecorder progress;
        QObject scope;  // ends the connection with this block
        QObject::connect(Notify_Adapter::GetInstance(), &Notify_Adapter::sigUpdateProgress, &scope, [&](int, int current) {
            if (current == 1) {
                marked_during_extraction = Exists(in.mark);
                backed_up_during_extraction = Exists(in.Backup(0) + "/Contents/MacOS/lumora-ui");
            }
        });
        const size_t mark = LogMark();
        ASSERT_EQ(in.service.PrepareUserEnv(), 0) << LogText().substr(mark);
        EXPECT_EQ(progress.calls.size(), 9u);
        EXPECT_EQ(LogCount(mark, "user installation is ready, removing backup app"), 1);
        EXPECT_EQ(LogCount(mark, "[ERROR]"), 0);
    }
    EXPECT_TRUE(marked_during_extraction);
    EXPECT_TRUE(backed_up_during_extraction);
    EXPECT_TRUE(in.NewBundleInPlace());
    EXPECT_FALSE(Exists(in.Backup(0)));
    EXPECT_FALSE(Exists(in.mark));

    // A fresh home: no backup, a leftover backup 0 is cleared all the same.
    Installation fresh;
    fresh.GoodPackage();
    ASSERT_TRUE(WriteText(fresh.Backup(0) + "/stale", "x"));
    ASSERT_EQ(fresh.service.PrepareUserEnv(), 0);
    EXPECT_TRUE(fresh.NewBundleInPlace());
    EXPECT_FALSE(Exists(fresh.Backup(0)));
    EXPECT_FALSE(Exists(fresh.mark));
}

TEST(Install, LeftoverBackupsArePassedOverThenRemoved)
{
    Installation in;
    in.OldBundle();
    in.GoodPackage();
    for (int i : {0, 1, 3})
        ASSERT_TRUE(WriteText(in.Backup(i) + "/leftover", "x"));
    const size_t mark = LogMark();
    ASSERT_EQ(in.service.PrepareUserEnv(), 0);
    EXPECT_EQ(LogCount(mark, "failed to backup app from"), 2);
    EXPECT_EQ(LogCount(mark, "_tmp1'\n"), 1);
    EXPECT_TRUE(in.NewBundleInPlace());
    for (int i : {0, 1, 2})
        EXPECT_FALSE(Exists(in.Backup(i))) << i;
    EXPECT_TRUE(Exists(in.Backup(3) + "/leftover")) << "higher leftovers stay";
}

TEST(Install, AllTenBackupsOccupiedLeavesEverythingAsItWas)
{
    Installation in;
    in.OldBundle();
    in.GoodPackage();
    for (int i = 0; i <= 9; ++i)
        ASSERT_TRUE(WriteText(in.Backup(i) + "/leftover", std::to_string(i)));
    const Tree before = Snapshot(in.root + "/home");
    const size_t mark = LogMark();
    EXPECT_EQ(in.service.PrepareUserEnv(), -1);
    EXPECT_EQ(LogCount(mark, "failed to backup app from"), 10);
    EXPECT_EQ(LogCount(mark, "at max retries, exiting"), 1);
    EXPECT_EQ(Snapshot(in.root + "/home"), before);
    EXPECT_FALSE(Exists(in.mark));
}

TEST(Install, DamagedPackageRollsBackOrLeavesTheMark)
{
    Installation in;
    in.OldBundle();
    in.DamagedPackage();
    const Tree before = Snapshot(in.app);
    size_t mark = LogMark();
    EXPECT_EQ(in.service.PrepareUserEnv(), -1);
    EXPECT_EQ(LogCount(mark, "Failed to extract package, rollback to old installation"), 1);
    EXPECT_EQ(LogCount(mark, "archive_read_next_header failed"), 1);
    EXPECT_EQ(Snapshot(in.app), before) << "old bundle restored byte for byte";
    EXPECT_FALSE(Exists(in.Backup(0)));
    EXPECT_FALSE(Exists(in.mark)) << "a rolled back installation is complete";

    // Without an old bundle the partial one stays, and so does the mark, so
    // that the next run installs again.
    Installation fresh;
    fresh.DamagedPackage();
    mark = LogMark();
    EXPECT_EQ(fresh.service.PrepareUserEnv(), -1);
    EXPECT_EQ(LogCount(mark, "Failed to extract package, and no old installation to rollback"), 1);
    EXPECT_TRUE(Exists(fresh.app + "/Contents/new2"));
    EXPECT_TRUE(Exists(fresh.mark));

    // The next run with a good package completes the installation.
    fresh.GoodPackage();
    EXPECT_EQ(fresh.service.PrepareUserEnv(), 0);
    EXPECT_TRUE(fresh.NewBundleInPlace());
    EXPECT_FALSE(Exists(fresh.app + "/Contents/new2"));
    EXPECT_FALSE(Exists(fresh.mark));
    EXPECT_FALSE(Exists(fresh.Backup(0)));
}

TEST(Install, MarkOfAnInterruptedRunSurvivesARollback)
{
    // An earlier run died mid-extraction: a partial bundle and its mark.
    Installation in;
    ASSERT_TRUE(WriteText(in.app + "/Contents/partial", "half"));
    ASSERT_TRUE(WriteText(in.mark, ""));
    in.DamagedPackage();
    EXPECT_EQ(in.service.PrepareUserEnv(), -1);
    EXPECT_EQ(ReadText(in.app + "/Contents/partial"), "half");
    EXPECT_TRUE(Exists(in.mark)) << "the restored bundle is still the partial one";
}

TEST(Install, MaliciousPackageIsRolledBackWithNothingWrittenOutside)
{
    Installation in;
    in.OldBundle();
    const std::string outside = in.root + "/outside";
    fs::create_directories(outside);
    {
        ArchiveBuilder b(in.package, ArchiveBuilder::Tar);
        b.Dir("Contents");
        b.Symlink("Contents/x", outside);
        b.File("Contents/x/dropped", "escaped");
        ASSERT_TRUE(b.Close());
    }
    const Tree before = Snapshot(in.app);
    const size_t mark = LogMark();
    EXPECT_EQ(in.service.PrepareUserEnv(), -1);
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(Snapshot(in.app), before);
    // One message from the extractor, one from the rollback.
    EXPECT_EQ(LogCount(mark, "[ERROR]"), 2) << LogText().substr(mark);
}

TEST(Install, FSCopyPathCopiesFilesAndTrees)
{
    Installation in;
    const std::string src = in.root + "/src";
    ASSERT_TRUE(WriteText(src + "/a", "A"));
    ASSERT_TRUE(WriteText(src + "/sub/deeper/b", "B"));
    EXPECT_EQ(in.service.FSCopyPath(ustring((src + "/a").c_str()), ustring((in.root + "/one").c_str())), 0);
    EXPECT_EQ(ReadText(in.root + "/one"), "A");
    EXPECT_EQ(in.service.FSCopyPath(ustring(src.c_str()), ustring((in.root + "/x/y/copy").c_str())), 0);
    EXPECT_EQ(ReadText(in.root + "/x/y/copy/sub/deeper/b"), "B");
    EXPECT_EQ(ReadText(in.root + "/x/y/copy/a"), "A");
    const size_t mark = LogMark();
    EXPECT_EQ(in.service.FSCopyPath(ustring((in.root + "/none").c_str()), ustring((in.root + "/n").c_str())), -1);
    EXPECT_EQ(LogCount(mark, "does not exist"), 1);
}
