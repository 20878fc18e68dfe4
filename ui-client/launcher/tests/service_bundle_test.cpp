// The launcher bundle run as a user would, against a home where the client is
// installed and as new as the package: nothing is upgraded, the client starts.
#include <QFileInfo>

#include <gtest/gtest.h>

#include "bundle_runner.h"

using namespace bundle_runner;

TEST(LauncherBundle, UpToDateClientIsStartedWithoutUpgrade)
{
    Home home;
    const QString launcher = home.root + "/Launcher.app";
    ASSERT_TRUE(CopyTree(LAUNCHER_BUNDLE, launcher));
    ASSERT_TRUE(CopyTree(CLIENT_BUNDLE, home.App()));
    ASSERT_TRUE(WriteFile(launcher + "/Contents/Resources/log/launcher.debug", "launcher_debug=7\nservice_debug=7\n"));

    const Result run = home.Run(launcher, {"XDG_DATA_HOME=" + home.root + "/xdg"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const std::string log = home.Log().toStdString();
    EXPECT_NE(log.find("no need to upgrade"), std::string::npos) << log;
    EXPECT_NE(log.find("source version = 130, target version = 130"), std::string::npos) << log;
    EXPECT_EQ(log.find("[ERROR]"), std::string::npos) << log;
    EXPECT_FALSE(QFileInfo::exists(home.App() + "_tmp"));
    EXPECT_GT(home.WaitForClient(), 0);
    EXPECT_TRUE(Poll([&] { return QFileInfo::exists(home.root + "/xdg/applications/lumora-ui.desktop"); }));
}
