// One lock per home folder, held for the life of its owner.
#pragma once

#include <QString>

// Tells whether another process already works on the same home folder. The
// lock is a kernel lock (flock) on "<home>/.Lumora/launcher.lock", inside
// the per-user folder that only its owner can write, with the home folder
// resolved to its canonical path: the same home spelled through a link, or
// with another TMPDIR, finds the same lock. The kernel drops the lock when
// its holder dies, and what the file contains never matters, so neither a
// crashed holder nor a damaged file ever blocks the next start. The file
// descriptor is closed on exec: a program started by the holder does not
// inherit the lock.
class InstanceLock {
public:
    explicit InstanceLock(const QString& homePath);
    ~InstanceLock();

    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries to take the lock without waiting. True when this object holds it
    // afterwards. When no lock can be taken at all (a read-only home, a file
    // system without locks) the answer is also true, with the reason in
    // error(): such a failure must not keep the application from running.
    bool tryAcquire();

    // Gives the lock up before the owner ends (a launcher about to wait for
    // the user must not keep a second start out meanwhile).
    void release();

    // True once tryAcquire found the lock held by another live process.
    bool heldElsewhere() const { return m_heldElsewhere; }

    // Why no lock could be taken; empty when it was, or is held elsewhere.
    QString error() const { return m_error; }

    QString lockFilePath() const { return m_path; }

    // Lock file of a home folder: <canonical home>/.Lumora/launcher.lock.
    static QString lockFilePathFor(const QString& homePath);

private:
    QString m_path;
    QString m_error;
    int m_fd = -1;
    bool m_held = false;
    bool m_heldElsewhere = false;
};
