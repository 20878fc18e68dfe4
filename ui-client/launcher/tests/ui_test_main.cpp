// Shared entry of the launcher UI tests: an offscreen QApplication, a
// temporary home with the per-user and bundle paths registered, the string
// table, and a log file at debug level for the launcher.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "log.h"
#include "strtable.h"
#include "uipathmanager.h"

#if defined(__SANITIZE_THREAD__)
// Qt's own libraries are not built with ThreadSanitizer and synchronise queued
// events and thread hand-over with futexes it cannot see; ignore what the
// sanitizer's interceptors observe from inside QtCore. Races in the
// instrumented launcher and test code are still reported.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libQt5Core.so.5\n";
}
#endif

namespace {

bool WriteFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data) == data.size();
}

// Registers the paths the dialog and the service read, below `root`.
bool SetUpEnvironment(const QString& root)
{
    const QString home = root + "/home";
    const QString resources = root + "/bundle/Contents/Resources";
    const QString log_dir = home + "/.Lumora/log";
    if (!QDir().mkpath(home) || !QDir().mkpath(resources) || !QDir().mkpath(log_dir))
        return false;
    if (setenv("HOME", QFile::encodeName(home).constData(), 1) != 0)
        return false;

    UIPathManager* paths = UIPathManager::getInstance();
    paths->setPath("user_lumora_path", home + "/.Lumora");
    paths->setPath("user_lumora_app_path", home + "/.Lumora/Lumora.app");
    paths->setPath("user_tidewell_path", home + "/.Tidewell");
    paths->setPath("root_resource_path", resources);

    const QString level_file = root + "/launcher.debug";
    if (!WriteFile(level_file, "launcher_debug=7\n"))
        return false;
    return Logger::Initialize(Logger::LOG_TYPE_FILE, QFile::encodeName(log_dir + "/launcher.log").toStdString(),
                              QFile::encodeName(level_file).toStdString(), 50, Logger::SAFETY_THREAD) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Test discovery runs the binary without the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);

    QTemporaryDir root;
    if (!root.isValid() || !SetUpEnvironment(root.path())) {
        std::fprintf(stderr, "cannot set up the test environment below %s\n", qPrintable(root.path()));
        return 1;
    }
    StrTable::InitStrTable();

    const int result = RUN_ALL_TESTS();
    Logger::Destroy();
    return result;
}
