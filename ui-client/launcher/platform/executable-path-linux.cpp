#include "platform/executable-path.h"

#include <QFile>

#include <climits>
#include <unistd.h>

QString RunningExecutablePath()
{
    char buffer[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buffer - 1))
        return QString();
    return QFile::decodeName(QByteArray(buffer, static_cast<int>(n)));
}
