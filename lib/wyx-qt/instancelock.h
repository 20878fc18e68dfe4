// One lock per user and home folder, held for the life of its owner.
#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

// Tells whether another process of the same user already works on the same
// home folder. The lock is a QLockFile in the temporary folder whose name
// carries the user id and a hash of the home path, so two users (or two test
// runs with different HOMEs) never block each other and nothing is written
// into the application bundle. The kernel drops the file's native lock when
// its holder dies, so a crashed holder never blocks the next start.
class InstanceLock {
public:
    explicit InstanceLock(const QString& homePath);
    ~InstanceLock();

    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries to take the lock without waiting. True when this object holds it
    // afterwards. When the lock cannot even be attempted (temporary folder
    // not writable) the answer is also true: such a failure must not keep the
    // application from running.
    bool tryAcquire();

    // True once tryAcquire found the lock held by another live process.
    bool heldElsewhere() const { return m_heldElsewhere; }

    QString lockFilePath() const { return m_path; }

    // Lock file path for a home folder, e.g. /tmp/lumora-launcher-1000-3f2a....lock
    static QString lockFilePathFor(const QString& homePath);

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    bool m_heldElsewhere = false;
};
