#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app-startup.h"

namespace {

TEST(Startup, FontIsMicrosoftSansSerifForExactlyThaiElseArial)
{
    const QVector<QPair<QString, QString>> cases = {
        {"tha", "Microsoft Sans Serif"}, {"THA", "Arial"}, {"Tha", "Arial"}, {"enu", "Arial"}, {"", "Arial"}};
    for (const auto& c : cases) {
        const QFont font = startup::ApplicationFontFor(c.first);
        EXPECT_EQ(font.family(), c.second) << c.first.toStdString();
        EXPECT_EQ(font.pointSize(), 12) << c.first.toStdString();
    }
}

TEST(Startup, PathTableHoldsNineNormalisedEntriesInOrder)
{
    const auto table = startup::PathTable("/home/a b/../jürgen/", "/opt/x/Lumora Launcher.app/Contents/MacOS");
    const QString h = "/home/jürgen", app = h + "/.Lumora/Lumora.app";
    const QVector<startup::PathEntry> expected = {
        {"user_lumora_path", h + "/.Lumora"},
        {"user_lumora_app_path", app},
        {"user_lumora_resource_path", app + "/Contents/Resources"},
        {"user_lumora_data_path", h + "/.Lumora/data"},
        {"user_lumora_working_dir_path", app + "/Contents/MacOS"},
        {"user_lumora_ui_path", app + "/Contents/MacOS/lumora-ui"},
        {"user_tidewell_path", h + "/.Tidewell"},
        {"user_tidewell_resource_path", h + "/.Tidewell/Tidewell.app/Contents/Resources"},
        {"root_resource_path", "/opt/x/Lumora Launcher.app/Contents/Resources"},
    };
    EXPECT_EQ(table, expected);
}

TEST(Startup, PluginFolderDoesNotDependOnHowTheLauncherWasStarted)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bundle = QDir(dir.path()).canonicalPath() + "/L L.app", plugins = bundle + "/Contents/Frameworks/plugins";
    QFile exe(bundle + "/Contents/MacOS/app-startup-test-launcher");
    ASSERT_TRUE(QDir().mkpath(bundle + "/Contents/MacOS") && exe.open(QIODevice::WriteOnly));
    ASSERT_TRUE(exe.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_EQ(startup::PluginFolder(exe.fileName()), plugins);
    EXPECT_EQ(startup::PluginFolder(bundle + "/Contents/MacOS/./app-startup-test-launcher"), plugins);
    // Relative to the current folder, and by name through PATH.
    const QString savedDir = QDir::currentPath();
    const QByteArray savedPath = qgetenv("PATH");
    ASSERT_TRUE(QDir::setCurrent(bundle + "/Contents"));
    const QString relative = startup::PluginFolder("MacOS/app-startup-test-launcher");
    ASSERT_TRUE(QDir::setCurrent(savedDir));
    qputenv("PATH", (bundle + "/Contents/MacOS:/usr/bin").toUtf8());
    const QString byName = startup::PluginFolder("app-startup-test-launcher");
    qputenv("PATH", savedPath);
    EXPECT_EQ(relative, plugins);
    EXPECT_EQ(byName, plugins);
}

}  // namespace
