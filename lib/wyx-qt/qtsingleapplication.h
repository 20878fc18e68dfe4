// The launcher's application object with its single-instance guard.
#pragma once

#include <QApplication>

#include <memory>

class InstanceLock;

// A QApplication that, when it is built, takes the instance lock of the
// home folder (see InstanceLock). isRunning() then tells whether another
// launcher of the same user and home folder was already running.
class QtSingleApplication : public QApplication {
    Q_OBJECT
public:
    // GUIenabled is kept for the caller's sake; the application always has
    // a GUI.
    QtSingleApplication(int& argc, char** argv, bool GUIenabled = true);
    ~QtSingleApplication() override;

    // True exactly when another live instance holds the lock of the same
    // home folder.
    bool isRunning() const;
    // Why no lock could be taken (the application then runs unguarded);
    // empty when the lock is held by this or another instance.
    QString lockError() const;
    QString lockFilePath() const;
    // Gives the instance lock up: another launcher may start from now on.
    void releaseLock();

private:
    std::unique_ptr<InstanceLock> m_lock;
    bool m_running = false;
};
