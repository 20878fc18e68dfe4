#include "platform/system-process-control.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <unistd.h>

#ifdef __APPLE__
#include <libproc.h>
#endif

int SystemProcessControl::Signal(pid_t pid, int sig)
{
    return ::kill(pid, sig) == 0 ? 0 : errno;
}

void SystemProcessControl::SleepSeconds(unsigned int seconds)
{
    struct timespec rest = {static_cast<time_t>(seconds), 0};
    while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

QString SystemProcessControl::ExecutablePath(pid_t pid)
{
#ifdef __APPLE__
    char buffer[PROC_PIDPATHINFO_MAXSIZE];
    if (proc_pidpath(pid, buffer, sizeof buffer) <= 0)
        return QString();
    return QFile::decodeName(buffer);
#else
    char buffer[PATH_MAX];
    const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
    const ssize_t length = ::readlink(link.constData(), buffer, sizeof buffer - 1);
    if (length <= 0)
        return QString();
    return QFile::decodeName(QByteArray(buffer, static_cast<int>(length)));
#endif
}
