#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

#include <gtest/gtest.h>

#include "app-startup.h"

namespace {

TEST(StartupFont, ThaiGetsItsOwnFamilyAtTwelvePoints)
{
    const QFont thai = startup::ApplicationFontFor(QStringLiteral("tha"));
    EXPECT_EQ(thai.family(), QStringLiteral("Microsoft Sans Serif"));
    EXPECT_EQ(thai.pointSize(), 12);
    EXPECT_EQ(thai.weight(), QFont::Normal);
    EXPECT_FALSE(thai.italic());
    // The comparison is case-sensitive; everything else is Arial.
    for (const char* code : {"THA", "Tha", "enu", "ger", ""}) {
        const QFont font = startup::ApplicationFontFor(QString::fromLatin1(code));
        EXPECT_EQ(font.family(), QStringLiteral("Arial")) << code;
        EXPECT_EQ(font.pointSize(), 12) << code;
    }
    EXPECT_EQ(startup::FontFamilyFor(QString()), QStringLiteral("Arial"));
}

TEST(StartupPaths, NineNormalisedEntriesInOrder)
{
    const auto table = startup::PathTable(QStringLiteral("/home/a b/../jürgen/"),
                                          QStringLiteral("/opt/x/Lumora Launcher.app/Contents/MacOS"));
    const QString home = QStringLiteral("/home/jürgen");
    const QVector<startup::PathEntry> expected = {
        {"user_lumora_path", home + "/.Lumora"},
        {"user_lumora_app_path", home + "/.Lumora/Lumora.app"},
        {"user_lumora_resource_path", home + "/.Lumora/Lumora.app/Contents/Resources"},
        {"user_lumora_data_path", home + "/.Lumora/data"},
        {"user_lumora_working_dir_path", home + "/.Lumora/Lumora.app/Contents/MacOS"},
        {"user_lumora_ui_path", home + "/.Lumora/Lumora.app/Contents/MacOS/lumora-ui"},
        {"user_tidewell_path", home + "/.Tidewell"},
        {"user_tidewell_resource_path", home + "/.Tidewell/Tidewell.app/Contents/Resources"},
        {"root_resource_path", "/opt/x/Lumora Launcher.app/Contents/Resources"},
    };
    ASSERT_EQ(table.size(), expected.size());
    for (int i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].first, expected[i].first);
        EXPECT_EQ(table[i].second, expected[i].second) << table[i].first.toStdString();
        EXPECT_FALSE(table[i].second.contains(QStringLiteral("//")));
        EXPECT_FALSE(table[i].second.contains(QStringLiteral("..")));
    }
}

TEST(StartupPaths, PluginFolderDoesNotDependOnHowTheLauncherWasStarted)
{
    EXPECT_EQ(startup::PluginFolder(QStringLiteral("/b/L L.app/Contents/MacOS/lumora-launcher")),
              QStringLiteral("/b/L L.app/Contents/Frameworks/plugins"));
    EXPECT_EQ(startup::PluginFolder(QStringLiteral("/b/L.app/Contents/MacOS/./lumora-launcher")),
              QStringLiteral("/b/L.app/Contents/Frameworks/plugins"));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bundle = QDir(dir.path()).canonicalPath() + QStringLiteral("/L.app");
    ASSERT_TRUE(QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS")));
    const QString exe = bundle + QStringLiteral("/Contents/MacOS/app-startup-test-launcher");
    QFile file(exe);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    // Started with a path relative to the current folder.
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(bundle + QStringLiteral("/Contents")));
    const QString relative = startup::PluginFolder(QStringLiteral("MacOS/app-startup-test-launcher"));
    ASSERT_TRUE(QDir::setCurrent(saved));
    EXPECT_EQ(relative, bundle + QStringLiteral("/Contents/Frameworks/plugins"));

    // Started by name through PATH.
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", (bundle + QStringLiteral("/Contents/MacOS:/usr/bin")).toUtf8());
    const QString byName = startup::PluginFolder(QStringLiteral("app-startup-test-launcher"));
    qputenv("PATH", savedPath);
    EXPECT_EQ(byName, bundle + QStringLiteral("/Contents/Frameworks/plugins"));
}

}  // namespace
