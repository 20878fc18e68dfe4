// An upgrade killed while it links the files it keeps: the next run
// installs the package whole, and nothing of the old installation leaks into
// it or is left behind.
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

// The package's filler files and the client at `home`, as an older build: an
// upgrade to the package keeps every filler file.
void InstallOlder(const Home& home, int filler)
{
    ASSERT_TRUE(CopyTree(kClient, home.App()));
    for (int i = 0; i < filler; ++i)
        ASSERT_TRUE(WriteFile(home.App() + "/Contents/" + FillerName(i), QByteArray::fromStdString(FillerData(i))));
    ASSERT_TRUE(WriteFile(home.App() + "/Contents/Resources/INFO", "[Version]\nbuild_version=120\n"));
}

bool Linked(const QString& path)
{
    struct stat st;
    return lstat(QFile::encodeName(path).constData(), &st) == 0 && st.st_nlink > 1;
}

TEST(DeltaEndToEnd, AKillWhileLinkingIsRepairedByTheNextRun)
{
    Home scratch;
    const QString bundle = scratch.root + "/Lumora Launcher.app";
    ASSERT_TRUE(CopyTree(kBundle, bundle));
    std::unique_ptr<Home> home;
    int filler = 0;
    bool landed = false;
    for (int attempt = 0; attempt < 3 && !landed; ++attempt) {
        filler = attempt == 0 ? 3000 : filler * 4;
        ASSERT_FALSE(WritePackage(bundle + "/Contents/Resources/package/tidewell.vxa", filler, kClient).isEmpty());
        ASSERT_TRUE(RecordPackageDigest(bundle));
        home = std::make_unique<Home>();
        InstallOlder(*home, filler);
        QProcess launcher;
        home->Start(launcher, bundle);
        ASSERT_TRUE(launcher.waitForStarted(60000));
        bool ended = false;
        const QString first = home->App() + "/Contents/" + FillerName(0);
        Poll([&] {
            ended = ended || launcher.waitForFinished(1);
            return ended || (QFileInfo::exists(home->App() + ".upgrading") && Linked(first));
        }, 60000);
        if (!ended)
            ::kill(static_cast<pid_t>(launcher.processId()), SIGKILL);
        ASSERT_TRUE(launcher.waitForFinished(60000));
        landed = !ended && QFileInfo::exists(home->App() + ".upgrading");
        if (!landed)
            std::cerr << "the upgrade of " << filler << " files ended before the kill; trying a larger package\n";
    }
    ASSERT_TRUE(landed) << home->Log().toStdString();
    const Result second = home->Run(bundle);
    ASSERT_EQ(second.exitCode, 0) << home->Log().toStdString();
    EXPECT_FALSE(QFileInfo::exists(home->App() + ".upgrading"));
    for (int i : {0, filler / 2, filler - 1})
        EXPECT_EQ(ReadFile(home->App() + "/Contents/" + FillerName(i)).toStdString(), FillerData(i)) << i;
    EXPECT_EQ(ReadFile(home->App() + "/Contents/Resources/INFO"), ReadFile(kClient + "/Contents/Resources/INFO"));
    EXPECT_GT(home->WaitForClient(), 0);
    EXPECT_TRUE(Poll([&] {
        return !QFileInfo::exists(home->App() + "_tmp") && !QFileInfo::exists(home->App() + "_tmp1");
    })) << "the backups go once the client runs";
}

}  // namespace
