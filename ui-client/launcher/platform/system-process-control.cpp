#include "platform/system-process-control.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <ctime>
#include <unistd.h>

#ifdef __APPLE__
#include <libproc.h>
#else
#include <poll.h>
#include <sys/syscall.h>
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

#ifndef __APPLE__
// A process file descriptor becomes readable when the process ends, so the
// wait is over as soon as the process is, not at the end of the interval.
// Without one (a kernel before 5.3) this is a plain sleep.
bool SystemProcessControl::WaitForEnd(pid_t pid, unsigned int seconds)
{
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
        if (errno == ESRCH)
            return true;
        SleepSeconds(seconds);
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    bool ended = false;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        struct pollfd end = {fd, POLLIN, 0};
        const int ready = ::poll(&end, 1, static_cast<int>(left));
        if (ready > 0) {
            ended = true;  // a process descriptor is readable once its process has ended
            break;
        }
        if (ready < 0 && errno != EINTR) {
            SleepSeconds(static_cast<unsigned int>((left + 999) / 1000));
            break;
        }
    }
    ::close(fd);
    return ended;
}
#endif

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
