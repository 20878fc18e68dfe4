// Entry of the launcher UI tests: an offscreen application, a temporary home
// with the paths the dialog and the service read, the string table, and the
// launcher's log at debug level.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include "log.h"
#include "strtable.h"
#include "uipathmanager.h"

#if defined(__SANITIZE_THREAD__)
// Qt is not instrumented and hands events between threads with futexes the
// sanitizer cannot see; races in launcher and test code are still reported.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libQt5Core.so.5\n"; }
#endif

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))  // test discovery runs without the test environment
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Text measures the same on every machine: the DejaVu fonts alone, and
    // the font DPI a test asks for ("--font-dpi=192").
    if (qEnvironmentVariableIsEmpty("FONTCONFIG_FILE"))
        qputenv("FONTCONFIG_FILE", UI_FONTS_CONF);
    for (int i = 1; i < argc; ++i)
        if (qstrncmp(argv[i], "--font-dpi=", 11) == 0)
            qputenv("QT_FONT_DPI", argv[i] + 11);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QTemporaryDir root;
    const QString home = root.path() + "/home", logDir = home + "/.Lumora/log";
    QFile level(root.path() + "/launcher.debug");
    if (!root.isValid() || !QDir().mkpath(logDir) || !level.open(QIODevice::WriteOnly) ||
        level.write("launcher_debug=7\n") != 17)
        return 1;
    level.close();
    qputenv("HOME", QFile::encodeName(home));
    const char* paths[][2] = {{"user_lumora_path", "/home/.Lumora"},
                              {"user_lumora_app_path", "/home/.Lumora/Lumora.app"},
                              {"user_tidewell_path", "/home/.Tidewell"},
                              {"root_resource_path", "/bundle/Contents/Resources"}};
    for (const auto& p : paths)
        UIPathManager::getInstance()->setPath(p[0], root.path() + p[1]);
    if (Logger::Initialize(Logger::LOG_TYPE_FILE, QFile::encodeName(logDir + "/launcher.log").toStdString(),
                           QFile::encodeName(level.fileName()).toStdString(), 50, Logger::SAFETY_THREAD) != 0)
        return 1;
    StrTable::InitStrTable();
    const int result = RUN_ALL_TESTS();
    Logger::Destroy();
    return result;
}
