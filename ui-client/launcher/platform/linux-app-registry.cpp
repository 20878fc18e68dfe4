#include "platform/linux-app-registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "log.h"
#include "platform/desktop-entry.h"
#include "platform/spawn.h"

namespace {

const char kComponent[] = "service_debug";

// Rebuilds the folder's MIME type cache, which lists the entries that
// declare MIME types; optional.
void RefreshDesktopDatabase(const QString& folder)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
    if (tool.isEmpty())
        return;
    QString reason;
    const int code = RunProgram(tool, QStringList() << QStringLiteral("-q") << folder, &reason);
    if (code != 0)
        LOG_WARNING(kComponent, "update-desktop-database '%s' exited with %d%s%s\n", folder.toUtf8().constData(),
                    code, reason.isEmpty() ? "" : ": ", reason.toUtf8().constData());
}

}  // namespace

bool LinuxAppRegistry::PointsInto(const QString& program, const QString& bundle)
{
    if (program.isEmpty() || bundle.isEmpty())
        return false;
    const QString prefix = QDir::cleanPath(bundle) + QLatin1Char('/');
    if (QDir::cleanPath(program).startsWith(prefix))
        return true;
    // The same places reached through symbolic links.
    const QString realBundle = QFileInfo(bundle).canonicalFilePath();
    const QString realProgram = QFileInfo(program).canonicalFilePath();
    return !realBundle.isEmpty() && !realProgram.isEmpty() &&
           realProgram.startsWith(realBundle + QLatin1Char('/'));
}

int LinuxAppRegistry::Unregister(const QString& bundle, QString* error)
{
    const QString entry = DesktopEntry::EntryPath();
    QFileInfo info(entry);
    if (!info.exists() && !info.isSymLink())
        return 0;
    const QHash<QString, QString> keys = DesktopEntry::MainGroup(entry);
    if (!PointsInto(DesktopEntry::ExecProgram(keys), bundle)) {
        LOG_DEBUG(kComponent, "desktop entry '%s' belongs to another installation, kept\n",
                  entry.toUtf8().constData());
        return 0;
    }
    // The cache names only entries with MimeType; desktop environments watch
    // the folder itself for entries coming and going.
    const bool cached = !keys.value(QStringLiteral("MimeType")).isEmpty();
    QFile file(entry);
    if (!file.remove()) {
        *error = QStringLiteral("cannot remove '%1': %2").arg(entry, file.errorString());
        return 1;
    }
    if (cached)
        RefreshDesktopDatabase(DesktopEntry::ApplicationsFolder());
    else
        LOG_DEBUG(kComponent, "desktop entry '%s' declared no MIME types, the MIME cache is left as it is\n",
                  entry.toUtf8().constData());
    return 0;
}
