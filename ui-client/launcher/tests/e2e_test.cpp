// The launcher bundle run as a user would run it, against temporary homes.
#include <sys/stat.h>

#include <QDirIterator>
#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <memory>

#include "bundle_runner.h"

using namespace bundle_runner;

namespace {

const QString kBundle = LUMORA_LAUNCHER_BUNDLE;
const QString kClient = LUMORA_CLIENT_BUNDLE;

QByteArray Info(int build) { return "[Version]\nbuild_version=" + QByteArray::number(build) + "\n"; }
QByteArray Installed(const Home& home, const QString& file = "Resources/INFO")
{
    return ReadFile(home.App() + "/Contents/" + file);
}
// The launcher's INFO without the package digest the build adds to it: the
// version keys the installed client must carry.
QByteArray LauncherVersion()
{
    QByteArray info = ReadFile(kBundle + "/Contents/Resources/INFO");
    const int at = info.indexOf("package_sha256=");
    return at < 0 ? info : info.left(at);
}

// The launcher's exit code; its error output goes to the test's on failure.
int RunLauncher(const Home& home, const QString& bundle = kBundle)
{
    const Result run = home.Run(bundle);
    if (run.exitCode != 0)
        std::cerr << run.err.toStdString() << "\n";
    return run.exitCode;
}

// An installation of the client at `build` from the built client bundle.
void Install(const Home& home, int build)
{
    ASSERT_TRUE(CopyTree(kClient, home.App()));
    ASSERT_TRUE(WriteFile(home.App() + "/Contents/Resources/INFO", Info(build)));
}

TEST(EndToEnd, FreshInstallThenNothingToDo)
{
    Home home;
    ASSERT_EQ(RunLauncher(home), 0);
    EXPECT_EQ(Installed(home), LauncherVersion()) << "package and launcher agree";
    EXPECT_EQ(Installed(home, "MacOS/lumora-ui"), ReadFile(kClient + "/Contents/MacOS/lumora-ui"));
    EXPECT_FALSE(QFileInfo::exists(home.App() + ".upgrading"));
    const pid_t first = home.WaitForClient();
    ASSERT_GT(first, 0);
    home.StopClient();
    ASSERT_TRUE(Poll([&] { return Gone(first); }));
    const auto inode = [&] {
        struct stat st {};
        return stat(QFile::encodeName(home.App() + "/Contents/MacOS/lumora-ui").constData(), &st) == 0 ? st.st_ino : 0;
    };
    const ino_t before = inode();
    ASSERT_EQ(RunLauncher(home), 0);
    EXPECT_EQ(inode(), before) << "an up-to-date installation is left alone";
    EXPECT_GT(home.WaitForClient(first), 0);
}

TEST(EndToEnd, UpgradeStopsTheRunningOldClient)
{
    Home home;
    Install(home, 120);
    const pid_t oldPid = home.StartInstalledClient();
    ASSERT_GT(oldPid, 0);
    ASSERT_EQ(RunLauncher(home), 0);
    EXPECT_TRUE(Poll([&] { return Gone(oldPid); }));
    EXPECT_EQ(Installed(home), LauncherVersion());
    const pid_t started = home.WaitForClient(oldPid);
    EXPECT_GT(started, 0);
    // The log says what was stopped and what was started.
    const QString log = home.Log();
    EXPECT_TRUE(log.contains(QString("[INFO] mac/mac-service(")) &&
                log.contains(QString(": stopped the client (pid %1)\n").arg(oldPid)))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QString("started the client '%1/Contents/MacOS/lumora-ui' (pid %2)\n").arg(home.App()).arg(started)))
        << log.toStdString();
    for (const char* leftover : {"_tmp", ".upgrading"})
        EXPECT_FALSE(QFileInfo::exists(home.App() + leftover)) << leftover;
}

TEST(EndToEnd, NoDowngradeAndTheAgedFolderGoes)
{
    Home home;
    Install(home, 9999);
    ASSERT_TRUE(WriteFile(home.App() + "/Contents/Resources/keep", "newer client's own file"));
    ASSERT_TRUE(WriteFile(home.path + "/.Tidewell/app/old", "aged"));
    const Result run = home.Run(kBundle, {});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(Installed(home), Info(9999));
    EXPECT_TRUE(home.Log().contains("installed build 9999 is newer than the shipped build ")) << home.Log().toStdString();
    EXPECT_TRUE(QFileInfo::exists(home.App() + "/Contents/Resources/keep"));
    EXPECT_FALSE(QFileInfo::exists(home.path + "/.Tidewell/app"));
    EXPECT_GT(home.WaitForClient(), 0);
}

TEST(EndToEnd, EarlierGenerationIsMigratedWithItsData)
{
    Home home;
    ASSERT_TRUE(WriteFile(home.path + "/.Tidewell/data/settings.db", "user data"));
    ASSERT_TRUE(WriteFile(home.path + "/.Tidewell/app/old", "aged"));
    ASSERT_EQ(RunLauncher(home), 0);
    EXPECT_EQ(ReadFile(home.Lumora() + "/data/settings.db"), "user data");
    EXPECT_FALSE(QFileInfo::exists(home.path + "/.Tidewell"));
    EXPECT_EQ(Installed(home), LauncherVersion());
    EXPECT_GT(home.WaitForClient(), 0);
}

enum class Kill { Landed, TooLate, NoExtraction };

// Kills the launcher once the upgrade mark and the first extracted entry are
// on disk. TooLate when it had written the last entry or finished by itself.
Kill KillMidExtraction(const Home& home, const QString& bundle, const QString& lastEntry)
{
    QProcess launcher;
    home.Start(launcher, bundle);
    if (!launcher.waitForStarted(60000))
        return Kill::NoExtraction;
    bool ended = false;
    // waitForFinished(1) is the pause between two looks, and notices a
    // launcher that finished before the extraction was seen.
    const bool begun = Poll(
        [&] {
            ended = ended || launcher.waitForFinished(1);
            return ended || (QFileInfo::exists(home.App() + ".upgrading") &&
                             QFileInfo::exists(home.App() + "/Contents/" + FillerName(0)));
        },
        60000);
    if (!ended)
        ::kill(static_cast<pid_t>(launcher.processId()), SIGKILL);
    if (!launcher.waitForFinished(60000))
        return Kill::NoExtraction;
    if (ended || QFileInfo::exists(home.App() + "/" + lastEntry))
        return Kill::TooLate;
    return begun ? Kill::Landed : Kill::NoExtraction;
}

// A launcher killed while it extracts leaves a partial bundle and its
// upgrade mark; the next run must reinstall in full and tidy the backups. An
// extraction too quick for the kill is tried again with a larger package.
TEST(EndToEnd, LauncherKilledMidExtractionIsRepairedByTheNextRun)
{
    Home scratch;
    const QString bundle = scratch.root + "/Lumora Launcher.app";
    ASSERT_TRUE(CopyTree(kBundle, bundle));
    int filler = 0;
    QString lastEntry;
    std::unique_ptr<Home> home;
    Kill result = Kill::TooLate;
    for (int attempt = 0; attempt < 4 && result == Kill::TooLate; ++attempt) {
        filler = attempt == 0 ? 3000 : filler * 4;
        lastEntry = WritePackage(bundle + "/Contents/Resources/package/tidewell.vxa", filler, kClient);
        ASSERT_FALSE(lastEntry.isEmpty());
        ASSERT_TRUE(RecordPackageDigest(bundle));
        home = std::make_unique<Home>();
        Install(*home, 120);
        ASSERT_TRUE(WriteFile(home->App() + "/Contents/Resources/old-only", "old"));
        result = KillMidExtraction(*home, bundle, lastEntry);
        if (result == Kill::TooLate)
            std::cerr << "extraction of " << filler << " small files ended before the kill; trying a larger package\n";
    }
    ASSERT_EQ(result, Kill::Landed) << "launcher log:\n" << home->Log().toStdString();
    ASSERT_TRUE(QFileInfo::exists(home->App() + ".upgrading"));
    ASSERT_TRUE(QFileInfo::exists(home->App() + "_tmp")) << "the old installation was moved aside";
    ASSERT_EQ(RunLauncher(*home, bundle), 0);
    EXPECT_FALSE(QFileInfo::exists(home->App() + ".upgrading"));
    for (int i : {0, filler - 1})
        EXPECT_EQ(Installed(*home, FillerName(i)).toStdString(), FillerData(i));
    EXPECT_TRUE(QFileInfo::exists(home->App() + "/" + lastEntry)) << lastEntry.toStdString();
    EXPECT_EQ(Installed(*home, "MacOS/lumora-ui"), ReadFile(kClient + "/Contents/MacOS/lumora-ui"));
    EXPECT_EQ(Installed(*home), ReadFile(kClient + "/Contents/Resources/INFO"));
    EXPECT_FALSE(QFileInfo::exists(home->App() + "/Contents/Resources/old-only"));
    for (const char* leftover : {"_tmp", "_tmp1"})
        EXPECT_FALSE(QFileInfo::exists(home->App() + leftover)) << leftover;
    EXPECT_GT(home->WaitForClient(), 0);
}

#ifndef __APPLE__
// The archive and digest work comes with the package module of the bundle's
// Frameworks folder. A bundle whose module is missing, or is some other
// library, cannot check its package: nothing is moved, the installed
// client is started, and the log says why.
TEST(EndToEnd, WithoutItsPackageModuleTheInstalledClientIsKept)
{
    Home scratch;
    const QString bundle = scratch.root + "/Lumora Launcher.app";
    ASSERT_TRUE(CopyTree(kBundle, bundle));
    const QString module = bundle + "/Contents/Frameworks/liblumora-package.so";
    ASSERT_TRUE(QFile::remove(module));
    for (const QByteArray& replacement : {QByteArray(), QByteArray("not a library")}) {
        if (!replacement.isEmpty()) {
            ASSERT_TRUE(WriteFile(module, replacement));
        }
        Home home;
        Install(home, 120);
        ASSERT_TRUE(WriteFile(home.App() + "/Contents/Resources/old-only", "old"));
        ASSERT_EQ(RunLauncher(home, bundle), 0);
        EXPECT_EQ(Installed(home), Info(120));
        EXPECT_TRUE(QFileInfo::exists(home.App() + "/Contents/Resources/old-only"));
        for (const char* leftover : {"_tmp", ".upgrading"})
            EXPECT_FALSE(QFileInfo::exists(home.App() + leftover)) << leftover;
        EXPECT_TRUE(home.Log().contains("cannot load the package module: dlopen: ")) << home.Log().toStdString();
        EXPECT_GT(home.WaitForClient(), 0);
    }
}
#endif

}  // namespace
