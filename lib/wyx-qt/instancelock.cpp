#include "instancelock.h"

#include <QCryptographicHash>
#include <QDir>

#include <unistd.h>

QString InstanceLock::lockFilePathFor(const QString& homePath)
{
    const QByteArray home = QDir::cleanPath(homePath).toUtf8();
    const QByteArray hash = QCryptographicHash::hash(home, QCryptographicHash::Sha1).toHex().left(16);
    return QDir::tempPath() + QStringLiteral("/lumora-launcher-%1-%2.lock")
                                  .arg(static_cast<qulonglong>(getuid()))
                                  .arg(QString::fromLatin1(hash));
}

InstanceLock::InstanceLock(const QString& homePath)
    : m_path(lockFilePathFor(homePath)), m_lock(new QLockFile(m_path))
{
    // Only a dead holder makes the lock stale; its age never does, since one
    // run may last long while it installs the client.
    m_lock->setStaleLockTime(0);
}

InstanceLock::~InstanceLock() = default;

bool InstanceLock::tryAcquire()
{
    if (m_lock->isLocked())
        return true;
    if (m_lock->tryLock(0)) {
        m_heldElsewhere = false;
        return true;
    }
    m_heldElsewhere = (m_lock->error() == QLockFile::LockFailedError);
    return !m_heldElsewhere;
}
