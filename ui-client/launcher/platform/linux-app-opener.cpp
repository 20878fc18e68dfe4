#include "platform/linux-app-opener.h"

#include <QFileInfo>

#include "platform/bundle-info.h"
#include "platform/spawn.h"

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
    // The client leads a session of its own, so it outlives the launcher,
    // and inherits none of our standard streams.
    SpawnOptions options;
    options.workingFolder = info.absolutePath();
    options.newSession = true;
    options.reap = true;
    long pid = 0;
    QString reason;
    if (!SpawnProgram(executable, QStringList(), options, &pid, &reason)) {
        *error = QStringLiteral("cannot start '%1': %2").arg(executable, reason);
        return false;
    }
    last_started = QStringLiteral("'%1' (pid %2)").arg(executable).arg(pid);
    return true;
}
