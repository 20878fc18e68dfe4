#include "platform/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace {

QString Reason(const char* call, int error)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(call), QString::fromLocal8Bit(std::strerror(error)));
}

// Owns what posix_spawn needs and frees it on every path.
class SpawnSetup {
public:
    SpawnSetup()
    {
        actions_ok_ = posix_spawn_file_actions_init(&actions_) == 0;
        attributes_ok_ = posix_spawnattr_init(&attributes_) == 0;
    }
    ~SpawnSetup()
    {
        if (actions_ok_)
            posix_spawn_file_actions_destroy(&actions_);
        if (attributes_ok_)
            posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    int Prepare(const SpawnOptions& options, const QByteArray& folder)
    {
        if (!actions_ok_ || !attributes_ok_)
            return ENOMEM;
        for (int fd = 0; fd <= 2; ++fd) {
            const int r = posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
            if (r != 0)
                return r;
        }
        if (!folder.isEmpty()) {
            const int r = posix_spawn_file_actions_addchdir_np(&actions_, folder.constData());
            if (r != 0)
                return r;
        }
        sigset_t all, none;
        sigfillset(&all);
        sigemptyset(&none);
        short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
        if (options.newSession)
            flags |= POSIX_SPAWN_SETSID;
        int r = posix_spawnattr_setsigdefault(&attributes_, &all);
        if (r == 0)
            r = posix_spawnattr_setsigmask(&attributes_, &none);
        if (r == 0)
            r = posix_spawnattr_setflags(&attributes_, flags);
        return r;
    }

    posix_spawn_file_actions_t* actions() { return &actions_; }
    posix_spawnattr_t* attributes() { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
    bool actions_ok_ = false;
    bool attributes_ok_ = false;
};

// Waits for a child that nobody else waits for, so that a child that ends
// while the launcher still runs leaves no zombie behind (a zombie still
// answers kill(pid, 0) as if it ran).
void ReapWhenDone(pid_t child)
{
    std::thread([child] {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace

bool SpawnProgram(const QString& program, const QStringList& arguments, const SpawnOptions& options, long* pid,
                  QString* error)
{
    const QByteArray path = QFile::encodeName(program);
    const QByteArray folder = QFile::encodeName(options.workingFolder);
    std::vector<QByteArray> storage{path};
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    SpawnSetup setup;
    int r = setup.Prepare(options, folder);
    if (r != 0) {
        *error = Reason("posix_spawn set-up", r);
        return false;
    }
    pid_t child = 0;
    r = posix_spawn(&child, path.constData(), setup.actions(), setup.attributes(), argv.data(), environ);
    if (r != 0) {
        *error = Reason("posix_spawn", r);
        return false;
    }
    *pid = child;
    if (options.reap)
        ReapWhenDone(child);
    return true;
}

int RunProgram(const QString& program, const QStringList& arguments, QString* error)
{
    long pid = 0;
    if (!SpawnProgram(program, arguments, SpawnOptions(), &pid, error))
        return -1;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(static_cast<pid_t>(pid), &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        *error = Reason("waitpid", errno);
        return -1;
    }
    if (!WIFEXITED(status)) {
        *error = QStringLiteral("ended by signal %1").arg(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        return -1;
    }
    return WEXITSTATUS(status);
}
