// Runs a copy of the launcher bundle and looks at its standard output, its
// log and its exit.
#include <QDirIterator>
#include <QImage>
#include <QRegularExpression>
#include <QSettings>
#include <gtest/gtest.h>

#include "bundle_runner.h"
#include "instancelock.h"

using namespace bundle_runner;

namespace {

const QString kLevels = "/Contents/Resources/log/launcher.debug";

// A copy below a folder with a space and a non-ASCII letter.
QString CopyBundle(const Home& home)
{
    const QString bundle = home.root + "/bündle dir/Lumora Launcher.app";
    EXPECT_TRUE(CopyTree(LUMORA_TEST_BUNDLE, bundle));
    EXPECT_TRUE(WriteFile(bundle + kLevels, "launcher_debug=7\n"));
    return bundle;
}

QStringList Listing(const QString& root)
{
    QStringList entries;
    for (QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext();)
        entries << it.next() + ' ' + QString::number(it.fileInfo().size());
    return entries.sort(), entries;
}

// The seven ">>> key = value" INFO lines of one start, with full normalised paths.
void ExpectStartupLines(const QString& log, const Home& home, const QString& bundle)
{
    static const QRegularExpression line(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d \( *\d+: *\d+\) \[INFO\] main\(\d+\): >>> (\w+ = .*)$)",
        QRegularExpression::MultilineOption);
    QStringList pairs;
    for (auto it = line.globalMatch(log); it.hasNext();)
        pairs << it.next().captured(1);
    const QString t = home.path + "/.Tidewell";
    EXPECT_EQ(pairs, QStringList({"user_tidewell_path = " + t, "user_tidewell_app_path = ",
                                  "user_tidewell_resource_path = " + t + "/Tidewell.app/Contents/Resources",
                                  "user_tidewell_data_path = ", "user_tidewell_working_dir_path = ",
                                  "user_tidewell_lumora_ui_path = ", "root_resource_path = " + bundle + "/Contents/Resources"}))
        << log.toStdString();
}

TEST(LauncherRun, LogsItsPathsRunsTheWorkerAndLeavesTheBundleAlone)
{
    Home home;
    const QString bundle = CopyBundle(home);
    InstanceLock elsewhere(home.path + "-other");  // another home does not block this one
    ASSERT_TRUE(elsewhere.tryAcquire());
    const QStringList before = Listing(bundle);
    const Result run = home.Run(bundle);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.section('\n', 0, 0), "lib path = '" + bundle + "/Contents/Frameworks/plugins'");
    const QString log = home.Log();
    ExpectStartupLines(log, home, bundle);
    EXPECT_FALSE(log.contains("app has already launched"));
    EXPECT_TRUE(log.contains(QRegularExpression(R"(\[DEBUG\] launcher\(\d+\): running)"))) << log.toStdString();
    EXPECT_EQ(Listing(bundle), before);
}

TEST(LauncherRun, SecondInstanceInTheSameHomeLeavesAtOnce)
{
    Home home;
    const QString bundle = CopyBundle(home);
    InstanceLock first(home.path);
    ASSERT_TRUE(first.tryAcquire());
    const Result run = home.Run(bundle);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QString log = home.Log();
    ExpectStartupLines(log, home, bundle);
    EXPECT_TRUE(log.contains(QRegularExpression(R"(\[DEBUG\] main\(\d+\): app has already launched, return\n$)")))
        << log.toStdString();
    EXPECT_FALSE(log.contains("] launcher(") || QFileInfo::exists(home.App()));
    // Without a level file the second start adds nothing to the log.
    ASSERT_TRUE(QFile::remove(bundle + kLevels));
    EXPECT_EQ(home.Run(bundle).exitCode, 0);
    EXPECT_EQ(home.Log(), log);
}

TEST(LauncherRun, BlockedLogFolderStillRunsWithoutALog)
{
    Home home;
    const QString bundle = CopyBundle(home), blocker = home.Lumora() + "/log";
    ASSERT_TRUE(WriteFile(blocker, ""));
    const Result run = home.Run(bundle);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("lib path = '"));
    EXPECT_TRUE(run.err.contains("QDir::mkpath(")) << run.err.toStdString();
    EXPECT_TRUE(QFileInfo(blocker).isFile() && QFileInfo(blocker).size() == 0);
}

TEST(LauncherRun, HomeWithSpacesAndNonAsciiLettersInAnyLanguage)
{
    Home home("Jürgen Ødegård 日本 home");
    const QString bundle = CopyBundle(home), log = home.Lumora() + "/log/launcher.log";
    // No locale, a language with its own font, a translated one, an unknown one.
    for (const QString env : {"LANG=C", "LANG=th_TH.UTF-8", "LANGUAGE=de", "LANGUAGE=xx:yy"}) {
        ASSERT_TRUE(!QFileInfo::exists(log) || QFile::remove(log));
        const Result run = home.Run(bundle, {env});
        EXPECT_EQ(run.exitCode, 0) << env.toStdString() << ": " << run.err.toStdString();
        ExpectStartupLines(home.Log(), home, bundle);
    }
}

TEST(LauncherBundle, CarriesTheBuildVersionAndTheDialogIcon)
{
    const QString resources = LUMORA_TEST_BUNDLE "/Contents/Resources";
    EXPECT_EQ(QSettings(resources + "/INFO", QSettings::IniFormat).value("Version/build_version").toString(),
              LUMORA_TEST_BUILD_VERSION);
    EXPECT_EQ(QImage(resources + "/images/ico_72_tidewell.png", "PNG").size(), QSize(72, 72));
}

}  // namespace
