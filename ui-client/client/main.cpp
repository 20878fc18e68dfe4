// The per-user client. While it runs it keeps "ui.pid" in its per-user
// folder (the folder holding its bundle), lists itself in the user's
// applications folder (hidden from menus, under the launcher's icon) and
// shows a small window with its version. It ends on a termination signal or
// when its window is closed, and then removes "ui.pid".
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QSettings>

#include <csignal>
#include <cstdio>

#include "client-entry.h"
#include "client-window.h"
#include "pid-file.h"
#include "platform/desktop-entry.h"
#include "signal-watcher.h"

namespace {

const char kName[] = "Lumora";

// The executable runs from <folder>/<bundle>.app/Contents/MacOS.
QString BundleFolder()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../.."));
}

QString PerUserFolder()
{
    return QDir::cleanPath(BundleFolder() + QStringLiteral("/.."));
}

QString BundleVersion()
{
    QSettings info(BundleFolder() + QStringLiteral("/Contents/Resources/INFO"), QSettings::IniFormat);
    info.beginGroup(QStringLiteral("Version"));
    const QString major = info.value(QStringLiteral("major_version")).toString();
    const QString minor = info.value(QStringLiteral("minor_version")).toString();
    const QString build = info.value(QStringLiteral("build_version")).toString();
    if (build.isEmpty())
        return QStringLiteral("unknown");
    return QStringLiteral("%1.%2 (build %3)").arg(major, minor, build);
}

// Another client started from this very executable and still running.
bool SameClientRuns(const PidFile& pidFile)
{
    const qint64 pid = pidFile.ReadPid();
    if (pid <= 0 || pid == QCoreApplication::applicationPid())
        return false;
    const QString other = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    return !other.isEmpty() && other == QCoreApplication::applicationFilePath();
}

void RegisterDesktopEntry()
{
    const client_entry::Names names{QString::fromLatin1(kName), QStringLiteral(LUMORA_ICON_NAME),
                                    QStringLiteral(LUMORA_CLIENT_WM_CLASS)};
    QString error;
    if (!client_entry::Write(DesktopEntry::EntryPath(), names, QCoreApplication::applicationFilePath(), &error))
        std::fprintf(stderr, "lumora-ui: cannot register desktop entry: %s\n", qPrintable(error));
}

// The entry's base name ties the windows to it (the Wayland application id);
// the launcher's icon from the icon theme, else the copy built into the program.
void SetDesktopIdentity()
{
    QString entry = DesktopEntry::FileName();
    entry.chop(int(sizeof(".desktop")) - 1);
    QGuiApplication::setDesktopFileName(entry);
    QIcon builtIn;
    for (const char* size : {"32", "64", "128", "256"})
        builtIn.addFile(QStringLiteral(":/icons/%1.png").arg(QLatin1String(size)));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(LUMORA_ICON_NAME), builtIn));
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kName));
    SetDesktopIdentity();

    // Registered first, so that a launch that finds this client running
    // still leaves it listed.
    RegisterDesktopEntry();
    PidFile pidFile(PerUserFolder() + QStringLiteral("/ui.pid"));
    if (SameClientRuns(pidFile))
        return 0;

    SignalWatcher watcher;
    QString error;
    if (!watcher.Install(&error)) {
        std::fprintf(stderr, "lumora-ui: %s\n", qPrintable(error));
        return 1;
    }
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app, &QApplication::quit);

    if (!pidFile.Write(&error))
        std::fprintf(stderr, "lumora-ui: cannot write '%s': %s\n", qPrintable(pidFile.path()),
                     qPrintable(error));

    ClientWindow window(QString::fromLatin1(kName), BundleVersion());
    window.show();
    const int status = app.exec();
    pidFile.Remove();
    return status;
}
