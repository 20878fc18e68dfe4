#include "instancelock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QString SystemError(const char* call, const QString& path)
{
    return QStringLiteral("%1(%2): %3").arg(QLatin1String(call), path, QString::fromLocal8Bit(std::strerror(errno)));
}

}  // namespace

QString InstanceLock::lockFilePathFor(const QString& homePath)
{
    QString home = QFileInfo(homePath).canonicalFilePath();
    if (home.isEmpty())
        home = QDir::cleanPath(homePath);
    return home + QStringLiteral("/.Lumora/launcher.lock");
}

InstanceLock::InstanceLock(const QString& homePath) : m_path(lockFilePathFor(homePath)) {}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        close(m_fd);  // releases the lock
}

void InstanceLock::release()
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    m_held = false;
}

bool InstanceLock::tryAcquire()
{
    if (m_held)
        return true;
    m_heldElsewhere = false;
    m_error.clear();
    if (m_fd < 0) {
        QDir().mkpath(QFileInfo(m_path).path());
        const QByteArray path = QFile::encodeName(m_path);
        m_fd = open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd < 0 && (errno == EROFS || errno == EACCES))
            m_fd = open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);  // a lock needs no write access
        if (m_fd < 0) {
            m_error = SystemError("open", m_path);
            return true;
        }
    }
    if (flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        m_held = true;
        return true;
    }
    if (errno == EWOULDBLOCK) {
        m_heldElsewhere = true;
        return false;
    }
    m_error = SystemError("flock", m_path);
    close(m_fd);
    m_fd = -1;
    return true;
}
