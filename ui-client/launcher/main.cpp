// The launcher's entry point: prepares the process (locale, resources,
// plug-in folder, application object, path registry, log, single-instance
// guard, translation, string table, font), then runs the Launcher until it
// quits the event loop.
#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <QStringList>
#include <QTranslator>

#include <clocale>
#include <cstdio>
#include <memory>

#include "app-startup.h"
#include "cloud-service.h"
#include "launcher.h"
#include "log.h"
#include "orvlocale.h"
#include "qtsingleapplication.h"
#include "strtable.h"
#include "uipathmanager.h"

// Step 2: the compiled-in translations. The resource also registers itself
// when the program is loaded; doing it again is harmless. Q_INIT_RESOURCE
// must stand outside any namespace.
static void RegisterTranslationResource()
{
    Q_INIT_RESOURCE(texts);
}

namespace {

const char kComponent[] = "launcher_debug";
const int kLogRotateCount = 50;

// Step 3: make the bundle's own plug-in folder the toolkit's only library
// path, before the application object looks for its platform plug-in.
void SetPluginFolder(int argc, char** argv)
{
    const QString exe = (argc > 0 && argv[0]) ? QString::fromUtf8(argv[0]) : QString();
    const QString folder = startup::PluginFolder(exe);
    QCoreApplication::setLibraryPaths(QStringList{folder});
    std::printf("lib path = '%s'\n", folder.toUtf8().constData());
    std::fflush(stdout);
}

// Step 5: the nine per-user and bundle paths.
void RegisterPaths()
{
    UIPathManager* paths = UIPathManager::getInstance();
    const auto table = startup::PathTable(Service::GetUserInstallPath(), QCoreApplication::applicationDirPath());
    for (const startup::PathEntry& entry : table)
        paths->setPath(entry.first, entry.second);
}

QByteArray PathUtf8(const char* key)
{
    return UIPathManager::getInstance()->getPath(QString::fromLatin1(key)).toUtf8();
}

// Step 9: where this run looks for things, when the level file asks for it.
void LogStartupPaths()
{
    LOG_INFO(kComponent, ">>> user_tidewell_path = %s\n", PathUtf8("user_tidewell_path").constData());
    LOG_INFO(kComponent, ">>> user_tidewell_app_path = %s\n", PathUtf8("user_tidewell_app_path").constData());
    LOG_INFO(kComponent, ">>> user_tidewell_resource_path = %s\n",
             PathUtf8("user_tidewell_resource_path").constData());
    LOG_INFO(kComponent, ">>> user_tidewell_data_path = %s\n", PathUtf8("user_tidewell_data_path").constData());
    LOG_INFO(kComponent, ">>> user_tidewell_working_dir_path = %s\n",
             PathUtf8("user_tidewell_working_dir_path").constData());
    LOG_INFO(kComponent, ">>> user_tidewell_lumora_ui_path = %s\n",
             PathUtf8("user_tidewell_lumora_ui_path").constData());
    LOG_INFO(kComponent, ">>> root_resource_path = %s\n", PathUtf8("root_resource_path").constData());
}

// Steps 6 to 9: the log file in the per-user log folder, with the level file
// of the bundle. Without a log folder the logger keeps its initial state.
void OpenLog()
{
    const QByteArray debugFile = PathUtf8("root_resource_path") + "/log/launcher.debug";
    const QByteArray logFolder = PathUtf8("user_lumora_path") + "/log";
    if (!QDir().mkpath(QString::fromUtf8(logFolder))) {
        LOG_WARNING(kComponent, "QDir::mkpath(%s) failed, running without a log file\n", logFolder.constData());
        return;
    }
    const QByteArray logFile = logFolder + "/launcher.log";
    if (Logger::Initialize(Logger::LOG_TYPE_FILE, logFile.toStdString(), debugFile.toStdString(),
                           kLogRotateCount, Logger::SAFETY_THREAD) != 0) {
        // The logger drops every message now; standard error is all that is left.
        std::fprintf(stderr, "Logger::Initialize(%s) failed, running without a log file\n", logFile.constData());
        return;
    }
    LogStartupPaths();
}

// Step 11: the user's language, when a translation for it is compiled in.
// The installed translator is handed to the caller, which keeps it for the
// rest of the run and frees it before the application object goes.
// Returns the language code.
QString InstallTranslation(std::unique_ptr<QTranslator>& installed)
{
    const QString code = OrvLocale::getInstance()->getDefaultLanguage();
    std::unique_ptr<QTranslator> translator(new QTranslator());
    translator->load(QStringLiteral(":/") + code + QStringLiteral(".qm"), QString(), QStringLiteral(""),
                     QStringLiteral(""));
    if (translator->isEmpty()) {
        LOG_DEBUG(kComponent, "no translation for language %s\n", code.toUtf8().constData());
        return code;
    }
    if (!QCoreApplication::installTranslator(translator.get())) {
        LOG_WARNING(kComponent, "QCoreApplication::installTranslator(%s) failed\n", code.toUtf8().constData());
        return code;
    }
    installed = std::move(translator);
    return code;
}

// Step 13.
void SetApplicationFont(const QString& languageCode)
{
    QApplication::setFont(startup::ApplicationFontFor(languageCode));
}

// Steps 14 and 15: the upgrade service behind its dialog, until it is done.
int RunLauncher(QApplication& app)
{
    Launcher* launcher = new Launcher();
    launcher->Run();
    launcher->Start();
    const int result = app.exec();
    delete launcher;
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    RegisterTranslationResource();
    SetPluginFolder(argc, argv);

    QtSingleApplication app(argc, argv, true);
    RegisterPaths();
    OpenLog();

    if (app.isRunning()) {
        LOG_DEBUG(kComponent, "app has already launched, return\n");
        return 0;
    }

    std::unique_ptr<QTranslator> translator;
    const QString language = InstallTranslation(translator);
    StrTable::InitStrTable();  // step 12: the texts the dialog and the worker read
    SetApplicationFont(language);
    return RunLauncher(app);
}
