// The launcher's entry point: prepares the process (locale, resources,
// plug-in folder, application object, path registry, log, single-instance
// guard, translation, string table, font), then runs the Launcher until it
// quits the event loop.
#include <QApplication>
#include <QByteArray>
#include <QSettings>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTranslator>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app-startup.h"
#include "cloud-service.h"
#include "failure-box.h"
#include "launcher.h"
#include "log.h"
#include "orvlocale.h"
#include "platform/executable-path.h"
#include "qtsingleapplication.h"
#include "strtable.h"
#include "uipathmanager.h"

// The compiled-in translations. The resource also registers itself
// when the program is loaded; doing it again is harmless. Q_INIT_RESOURCE
// must stand outside any namespace.
static void RegisterTranslationResource()
{
    Q_INIT_RESOURCE(texts);
}

namespace {

const char kComponent[] = "launcher_debug";
const int kLogRotateCount = 50;

// The running executable, from the system: argv[0] is whatever the caller
// made it (a link, an alias, "exec -a").
QString ExecutablePath(int argc, char** argv)
{
    const QString exe = RunningExecutablePath();
    if (!exe.isEmpty())
        return exe;
    return (argc > 0 && argv[0]) ? QString::fromUtf8(argv[0]) : QString();
}

// Makes the bundle's own plug-in folder the toolkit's only library path,
// before the application object looks for its platform plug-in.
void SetPluginFolder(const QString& exe)
{
    const QString folder = startup::PluginFolder(exe);
    QCoreApplication::setLibraryPaths(QStringList{folder});
    std::printf("lib path = '%s'\n", folder.toUtf8().constData());
    std::fflush(stdout);
}

// --help and --version are answered before anything else happens.
bool AnswerInformationOptions(int argc, char** argv, const QString& exe)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::printf("Usage: lumora-launcher [--repair] [--help] [--version]\n\n"
                        "Installs or updates this user's copy of the Lumora client (~/.Lumora) from\n"
                        "the package in the launcher's bundle, then starts it. A copy with a file\n"
                        "missing, or of the wrong size or type, is reinstalled. Only one launcher runs\n"
                        "per home folder. The log is ~/.Lumora/log/launcher.log.\n\n"
                        "      --repair   compare every file of the copy with the package, reinstall\n"
                        "                 what differs (files the package does not hold are kept),\n"
                        "                 start the client and print what was done; exit status 1\n"
                        "                 when the copy could not be repaired\n"
                        "  -h, --help     show this text and exit\n"
                        "      --version  show the version of the client the launcher installs and exit\n");
            return true;
        }
        if (std::strcmp(arg, "--version") == 0) {
            const QString info = QDir::cleanPath(exe + QStringLiteral("/../../Resources/INFO"));
            QSettings settings(info, QSettings::IniFormat);
            settings.beginGroup(QStringLiteral("Version"));
            std::printf("lumora-launcher %s.%s.%s\n", settings.value("major_version").toString().toUtf8().constData(),
                        settings.value("minor_version").toString().toUtf8().constData(),
                        settings.value("build_version").toString().toUtf8().constData());
            return true;
        }
    }
    return false;
}

// --repair, and what is left once the toolkit has taken its own options:
// an unknown option or a bare word is reported and ignored.
bool ReadArguments(const QStringList& arguments)
{
    bool repair = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--repair"))
            repair = true;
        else if (argument.startsWith(QLatin1Char('-')))
            std::fprintf(stderr, "lumora-launcher: unknown option '%s' ignored\n", argument.toLocal8Bit().constData());
        else
            std::fprintf(stderr, "lumora-launcher: unexpected argument '%s' ignored\n", argument.toLocal8Bit().constData());
    }
    return repair;
}

// What keeps the per-user folder from being used: empty when "~/.Lumora"
// is a folder, a link to one, or not there yet.
QString PerUserFolderObstacle()
{
    const QByteArray folder = QFile::encodeName(Service::GetUserInstallPath() + QStringLiteral("/.Lumora"));
    struct stat st;
    if (lstat(folder.constData(), &st) != 0)
        return QString();
    if (S_ISDIR(st.st_mode))
        return QString();
    if (stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return QString();
    return QStringLiteral("'~/.Lumora' is not a folder");
}

// HOME as every later step reads it: the account's home folder when HOME is
// unset or empty, made absolute when relative. False (and a line on
// standard error) when there is no usable home folder.
bool PrepareHome()
{
    const struct passwd* account = getpwuid(getuid());
    char cwd[4096];
    QString error;
    const QByteArray home = startup::ResolveHome(std::getenv("HOME"), account ? QByteArray(account->pw_dir) : QByteArray(),
                                                 getcwd(cwd, sizeof cwd) ? QByteArray(cwd) : QByteArray("/"), &error);
    if (home.isEmpty()) {
        std::fprintf(stderr, "lumora-launcher: %s; nothing was installed or started\n", error.toLocal8Bit().constData());
        return false;
    }
    setenv("HOME", home.constData(), 1);
    return true;
}

// A display to show the dialog on: the toolkit would abort without one.
bool PrepareDisplay()
{
    bool usable = false;
    const char* platform =
        startup::PlatformFor(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), &usable);
    if (!usable) {
        std::fprintf(stderr, "lumora-launcher: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                             "nothing was installed or started\n");
        return false;
    }
    if (*platform != '\0')
        setenv("QT_QPA_PLATFORM", platform, 1);
    return true;
}

// While the application object is made, a fatal message means the toolkit
// found no display it could open: say so and leave, instead of aborting.
QtMessageHandler g_previousHandler = nullptr;
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        // Qt's own text advises reinstalling; what the user needs is which
        // display could not be opened.
        const char* platform = std::getenv("QT_QPA_PLATFORM");
        const char* x11 = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        const bool onWayland = platform != nullptr && std::strncmp(platform, "wayland", 7) == 0;
        const char* display = onWayland ? wayland : x11;
        std::fprintf(stderr,
                     "lumora-launcher: cannot open the %s display '%s' (platform plug-in '%s'); "
                     "nothing was installed or started\n",
                     onWayland ? "Wayland" : "X11", display != nullptr ? display : "",
                     platform != nullptr && *platform != '\0' ? platform : "xcb");
        std::fflush(stderr);
        Q_UNUSED(message);
        _exit(1);
    }
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

// The nine per-user and bundle paths.
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

// Where this run looks for things, when the level file asks for it.
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

// The log file in the per-user log folder, with the level file
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

// The user's language, when a translation for it is compiled in.
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

// The application font for the language.
void SetApplicationFont(const QString& languageCode)
{
    QApplication::setFont(startup::ApplicationFontFor(languageCode));
}

// The upgrade service behind its dialog, until it is done.
int RunLauncher(QApplication& app, bool repair)
{
    Launcher* launcher = new Launcher();
    launcher->SetRepair(repair);
    launcher->Run();
    launcher->Start();
    const int result = app.exec();
    delete launcher;
    return result;
}

// Says what keeps the launcher from working, with the dialog's texts in the
// user's language; nothing is installed or started.
int ReportObstacle(int argc, char** argv, const QString& obstacle)
{
    g_previousHandler = qInstallMessageHandler(StartupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_previousHandler);
    std::unique_ptr<QTranslator> translator;
    const QString language = InstallTranslation(translator);
    StrTable::InitStrTable();
    SetApplicationFont(language);
    ReportFailure(obstacle + QStringLiteral("; nothing was installed or started"), false,
                  Launcher::kFailureBoxTimeoutMs);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    const QString exe = ExecutablePath(argc, argv);
    if (AnswerInformationOptions(argc, argv, exe))
        return 0;
    if (!PrepareHome() || !PrepareDisplay())
        return 1;
    RegisterTranslationResource();
    SetPluginFolder(exe);

    // The window class stays the same however the launcher was started.
    QCoreApplication::setApplicationName(QStringLiteral("lumora-launcher"));
    // Nothing is created below a per-user folder that is not a folder: not
    // the lock, not the log. The user is told what stands in the way.
    const QString obstacle = PerUserFolderObstacle();
    if (!obstacle.isEmpty())
        return ReportObstacle(argc, argv, obstacle);
    g_previousHandler = qInstallMessageHandler(StartupMessageHandler);
    QtSingleApplication app(argc, argv, true);
    qInstallMessageHandler(g_previousHandler);
    // The launcher's desktop entry: window class and Wayland application id.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.lumora.launcher"));
    const bool repair = ReadArguments(QCoreApplication::arguments());
    RegisterPaths();
    OpenLog();
    if (!app.lockError().isEmpty())
        LOG_WARNING(kComponent, "no single-instance lock (%s), running without it\n", app.lockError().toUtf8().constData());

    if (app.isRunning()) {
        LOG_DEBUG(kComponent, "app has already launched, return\n");
        if (!repair)
            return 0;
        // A repair that did not happen is not reported as done.
        std::fprintf(stderr, "lumora-launcher: repair failed: another launcher is running for this home folder\n");
        return 1;
    }

    std::unique_ptr<QTranslator> translator;
    const QString language = InstallTranslation(translator);
    StrTable::InitStrTable();  // the texts the dialog and the worker read
    SetApplicationFont(language);
    return RunLauncher(app, repair);
}
