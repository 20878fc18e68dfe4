// Backup, extraction and rollback of the per-user bundle, with the mark that
// an installation is in progress.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "cloud-service.h"
#include "package-tools.h"
#include "sha256-file.h"
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
    // A zip of the sample bundle whose digest the service expects, shortened
    // by `cut` bytes afterwards.
    void RecordedPackage(size_t cut)
    {
        GoodPackage();
        std::string digest, error;
        ASSERT_TRUE(Sha256File(package.c_str(), &digest, &error)) << error;
        service.package_sha256 = digest.c_str();
        fs::resize_file(package, fs::file_size(package) - cut);
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
    std::string named;  // what the mark says while the package is extracted
    ProgressRecorder progress;
    progress.onCall = [&](int) { named = ReadText(in.mark); };
    const size_t mark = LogMark();
    ASSERT_EQ(in.service.PrepareUserEnv(), 0);
    EXPECT_EQ(named, "backup=2\n") << "an occupied slot is never named";
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
    // One line per attempt, the tenth too, then the line that gives up.
    EXPECT_EQ(LogCount(mark, "failed to backup app from"), 11) << LogSince(mark);
    EXPECT_EQ(LogCount(mark, "_tmp9'\n"), 1);
    EXPECT_EQ(LogCount(mark, "at max retries, exiting"), 1);
    EXPECT_EQ(Snapshot(in.root + "/home"), before);
}

// The tenth slot is a slot like the others: the mark names it.
TEST(Install, TheTenthBackupSlotIsUsedAndNamed)
{
    Installation in(true);
    in.GoodPackage();
    for (int i = 0; i <= 8; ++i)
        ASSERT_TRUE(WriteText(in.Backup(i) + "/leftover", std::to_string(i)));
    std::string named;
    ProgressRecorder progress;
    progress.onCall = [&](int) { named = ReadText(in.mark); };
    const size_t mark = LogMark();
    ASSERT_EQ(in.service.PrepareUserEnv(), 0) << LogSince(mark);
    EXPECT_EQ(named, "backup=9\n");
    EXPECT_EQ(LogCount(mark, "failed to backup app from"), 9);
    EXPECT_EQ(ReadText(in.Backup(9) + "/Contents/MacOS/lumora-ui"), "old client");
    EXPECT_TRUE(in.NewBundleInPlace());
}

// No mark, no move: an upgrade whose mark cannot be written leaves the
// installation where it is.
TEST(Install, AMarkThatCannotBeWrittenRefusesTheUpgrade)
{
    Installation in(true);
    in.GoodPackage();
    fs::create_directories(in.mark + ".part/occupied");
    const std::string before = Snapshot(in.app);
    const size_t mark = LogMark();
    EXPECT_EQ(in.service.PrepareUserEnv(), -1);
    EXPECT_EQ(LogCount(mark, "cannot mark the installation in progress"), 1) << LogSince(mark);
    EXPECT_EQ(Snapshot(in.app), before);
    EXPECT_FALSE(Exists(in.Backup(0)));
    EXPECT_FALSE(Exists(in.mark));
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

// A damaged package never reaches the disk: with a recorded digest it is
// refused before anything moves; without one, a zip cut short has no central
// directory and is not read from its local headers either.
TEST(Install, DamagedPackagesNeverReplaceAWorkingClient)
{
    for (size_t cut : {1, 100}) {
        Installation in(true);
        in.RecordedPackage(cut);
        const std::string before = Snapshot(in.root + "/home");
        const size_t mark = LogMark();
        EXPECT_EQ(in.service.PrepareUserEnv(), -1) << cut;
        EXPECT_EQ(LogCount(mark, "is damaged: sha256 "), 1) << LogSince(mark);
        EXPECT_EQ(LogCount(mark, std::string("expected ") + in.service.package_sha256.c_str()), 1);
        EXPECT_EQ(Snapshot(in.root + "/home"), before) << "nothing touched";

        // A well-formed package of the right build, but not the one recorded.
        Installation other(true);
        other.GoodPackage();
        other.service.package_sha256 = std::string(64, '0').c_str();
        const std::string untouched = Snapshot(other.root + "/home");
        const size_t mark3 = LogMark();
        EXPECT_EQ(other.service.PrepareUserEnv(), -1);
        EXPECT_EQ(LogCount(mark3, "is damaged: sha256 "), 1) << LogSince(mark3);
        EXPECT_EQ(Snapshot(other.root + "/home"), untouched);

        Installation unrecorded(true);
        unrecorded.GoodPackage();
        fs::resize_file(unrecorded.package, fs::file_size(unrecorded.package) - cut);
        const std::string old = Snapshot(unrecorded.app);
        const size_t mark2 = LogMark();
        EXPECT_EQ(unrecorded.service.PrepareUserEnv(), -1) << cut;
        EXPECT_EQ(LogCount(mark2, "no package digest recorded"), 1);
        EXPECT_EQ(LogCount(mark2, "rollback to old installation"), 1) << LogSince(mark2);
        EXPECT_EQ(Snapshot(unrecorded.app), old);
        EXPECT_FALSE(Exists(unrecorded.mark));
    }
}

// A readable package of the wrong shape is extracted, found unfit to start,
// and rolled back like a damaged one.
TEST(Install, PackagesOfTheWrongShapeAreRolledBack)
{
    const auto without = [](const std::string& name) {
        std::vector<Entry> entries;
        for (const Entry& e : SamplePackage("130"))
            if (e.name != name)
                entries.push_back(e);
        return entries;
    };
    std::vector<Entry> not_executable = SamplePackage("130");
    for (Entry& e : not_executable)
        if (e.name == "Contents/MacOS/lumora-ui")
            e.perm = 0644;
    const std::vector<std::pair<std::string, std::vector<Entry>>> cases = {
        {"no executable", without("Contents/MacOS/lumora-ui")},
        {"not executable", not_executable},
        {"no INFO", without("Contents/Resources/INFO")},
        {"no Info.plist", without("Contents/Info.plist")},
        {"other build", SamplePackage("129")},
    };
    for (const auto& c : cases) {
        Installation in(true);
        ASSERT_TRUE(WriteArchive(in.package, Zip, c.second));
        const std::string old = Snapshot(in.app);
        const size_t mark = LogMark();
        EXPECT_EQ(in.service.PrepareUserEnv(), -1) << c.first;
        EXPECT_EQ(LogCount(mark, "installation '"), 1) << c.first << LogSince(mark);
        EXPECT_EQ(Snapshot(in.app), old) << c.first;
        EXPECT_FALSE(Exists(in.mark) || Exists(in.Backup(0))) << c.first;
    }
}

// A run killed during a failing upgrade leaves the old bundle in a backup,
// a partial bundle in place and the mark. The next run, failing again, puts
// the complete backup back, whatever mark an earlier launcher wrote.
TEST(Install, AnInterruptedFailureRestoresTheCompleteBackup)
{
    const std::vector<std::pair<std::string, std::string>> marks = {
        {"names backup 0", "backup=0\n"}, {"older launcher's empty mark", ""}};
    for (const auto& m : marks) {
        for (bool refused_by_digest : {false, true}) {
            Installation in(true);
            const std::string old = Snapshot(in.app);
            fs::rename(in.app, in.Backup(0));
            ASSERT_TRUE(WriteText(in.app + "/Contents/half", "partial") && WriteText(in.mark, m.second));
            if (refused_by_digest)
                in.RecordedPackage(1);
            else
                in.DamagedPackage();
            const size_t mark = LogMark();
            EXPECT_EQ(in.service.PrepareUserEnv(), -1) << m.first;
            EXPECT_EQ(Snapshot(in.app), old) << m.first << refused_by_digest << LogSince(mark);
            EXPECT_FALSE(Exists(in.mark)) << m.first << refused_by_digest;
            in.service.RemoveLeftoverBackups();
            for (int i : {0, 1})
                EXPECT_FALSE(Exists(in.Backup(i))) << m.first << refused_by_digest << i;
        }
    }

    // Killed right after the first mark, before the move it announces: the
    // bundle in place is the complete one and the mark goes with the rollback.
    {
        Installation in(true);
        const std::string old = Snapshot(in.app);
        ASSERT_TRUE(WriteText(in.Backup(1) + "/leftover", "x") && WriteText(in.mark, "backup=0\n"));
        in.DamagedPackage();
        EXPECT_EQ(in.service.PrepareUserEnv(), -1);
        EXPECT_EQ(Snapshot(in.app), old);
        EXPECT_FALSE(Exists(in.mark));
    }

    // Killed again after its own backup: the mark still names the complete one.
    Installation in(true);
    const std::string old = Snapshot(in.app);
    fs::rename(in.app, in.Backup(0));
    ASSERT_TRUE(WriteText(in.Backup(1) + "/Contents/half", "partial") && WriteText(in.mark, "backup=0\n"));
    in.DamagedPackage();
    EXPECT_EQ(in.service.PrepareUserEnv(), -1);
    EXPECT_EQ(Snapshot(in.app), old);
}

// The per-user folder may be a link to a folder elsewhere: the mark is
// written there all the same, and the installation completes.
TEST(Install, TheMarkIsWrittenThroughALinkedFolder)
{
    Installation in(true);
    const std::string lumora = fs::path(in.app).parent_path();
    const std::string real = in.root + "/elsewhere";
    fs::rename(lumora, real);
    fs::create_directory_symlink(real, lumora);
    in.GoodPackage();
    bool marked = false;
    ProgressRecorder progress;
    progress.onCall = [&](int) { marked = marked || Exists(real + "/Lumora.app.upgrading"); };
    const size_t mark = LogMark();
    ASSERT_EQ(in.service.PrepareUserEnv(), 0) << LogSince(mark);
    EXPECT_TRUE(marked);
    EXPECT_EQ(LogCount(mark, "[ERROR]"), 0) << LogSince(mark);
    EXPECT_TRUE(fs::is_symlink(lumora) && in.NewBundleInPlace());
}

// The installed bundle as the extractor alone makes it from `entries`, at `app`.
void InstallFrom(const std::string& dir, const std::string& app, const std::vector<Entry>& entries)
{
    ASSERT_TRUE(WriteArchive(dir + "/installed.vxa", Zip, entries));
    ASSERT_EQ(PackageTools::Extract((dir + "/installed.vxa").c_str(), app.c_str()), 0);
}

ino_t Inode(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// An upgrade links the files it keeps from the installation it moved aside;
// a rollback after a failure halfway puts that installation back byte for
// byte, modes included, although the half-made bundle shared its files.
TEST(Install, AnUpgradeLinksWhatItKeepsAndRollsBackExactly)
{
    const std::string core = "/Contents/Frameworks/Core.framework/Versions/A/Core";
    {
        Installation in(false);
        InstallFrom(in.root, in.app, SamplePackage("129"));
        const ino_t kept = Inode(in.app + core);
        in.GoodPackage();
        const size_t mark = LogMark();
        ASSERT_EQ(in.service.PrepareUserEnv(), 0) << LogSince(mark);
        EXPECT_TRUE(in.NewBundleInPlace());
        EXPECT_EQ(Inode(in.app + core), kept) << "linked from the backup";
        EXPECT_EQ(Inode(in.Backup(0) + core), kept);
        EXPECT_NE(LogCount(mark, "files linked from '" + in.Backup(0) + "'"), 0) << LogSince(mark);
    }
    // The package fails on its last entry, after the unchanged ones were linked.
    Installation in(false);
    std::vector<Entry> old = SamplePackage("129");
    old.push_back({'f', "Contents/Resources/data", std::string(3000, 'd'), 0600});
    InstallFrom(in.root, in.app, old);
    const std::string before = Snapshot(in.app);
    std::vector<Entry> entries = SamplePackage("130");
    entries.push_back({'f', "Contents/Resources/data", std::string(3000, 'd'), 0600});
    std::string noise(100000, '\0');
    uint32_t seed = 3;
    for (char& c : noise)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    entries.push_back({'f', "Contents/Resources/zz-last", noise});
    ASSERT_TRUE(WriteArchive(in.package, Zip, entries));
    std::string bytes = ReadText(in.package);
    const size_t at = bytes.rfind("PK\3\4");
    ASSERT_EQ(bytes.compare(at + 30, 24, "Contents/Resources/zz-la"), 0);
    bytes[at + 30 + 30 + 60 + 50000] ^= 0x55;
    ASSERT_TRUE(WriteText(in.package, bytes));
    const size_t mark = LogMark();
    EXPECT_EQ(in.service.PrepareUserEnv(), -1);
    EXPECT_EQ(LogCount(mark, "Failed to extract package, rollback to old installation"), 1) << LogSince(mark);
    EXPECT_EQ(LogCount(mark, " 0 files linked"), 0) << LogSince(mark);
    EXPECT_EQ(Snapshot(in.app), before);
    EXPECT_FALSE(Exists(in.mark) || Exists(in.Backup(0)));
}

// What is installed is the package whose digest was checked, even when
// another file takes its path right after the check.
std::string g_swap_from, g_swap_to;
void SwapPackage()
{
    if (!g_swap_from.empty())
        fs::rename(g_swap_from, g_swap_to);
}

TEST(Install, APackageSwappedAfterItsCheckIsNotInstalled)
{
    Installation in(true);
    in.RecordedPackage(0);
    g_swap_from = in.root + "/other.vxa";
    g_swap_to = in.package;
    ASSERT_TRUE(WriteArchive(g_swap_from, Zip, SamplePackage("666")));
    PackageTools::SetAfterDigestHookForTesting(SwapPackage);
    const size_t mark = LogMark();
    const int result = in.service.PrepareUserEnv();
    PackageTools::SetAfterDigestHookForTesting(nullptr);
    ASSERT_EQ(result, 0) << LogSince(mark);
    EXPECT_FALSE(Exists(g_swap_from)) << "the swap took place";
    EXPECT_TRUE(in.NewBundleInPlace()) << ReadText(in.app + "/Contents/Resources/INFO");
    g_swap_from.clear();
}

}  // namespace
