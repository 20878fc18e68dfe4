#include "platform/linux-app-opener.h"

#include <QFileInfo>
#include <QProcess>

#include "platform/bundle-info.h"

bool LinuxAppOpener::OpenNewInstance(const QString& bundle, QString* error)
{
    const QString executable = BundleInfo::ExecutablePath(bundle, error);
    if (executable.isEmpty())
        return false;
    const QFileInfo info(executable);
    if (!info.isFile() || !info.isExecutable()) {
        *error = QStringLiteral("'%1' is not an executable file").arg(executable);
        return false;
    }
    // A detached process gets its own session (setsid) and is reparented, so
    // it outlives the launcher; it inherits none of our standard streams.
    QProcess process;
    process.setProgram(executable);
    process.setWorkingDirectory(info.absolutePath());
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        *error = QStringLiteral("cannot start '%1': %2").arg(executable, process.errorString());
        return false;
    }
    return true;
}
