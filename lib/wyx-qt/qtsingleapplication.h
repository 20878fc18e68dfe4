// The launcher's application object with its single-instance guard.
#pragma once

#include <QApplication>

#include <memory>

class InstanceLock;

// A QApplication that, when it is built, takes the per-user, per-home
// instance lock (see InstanceLock). isRunning() then tells whether another
// launcher of the same user and home folder was already running.
class QtSingleApplication : public QApplication {
    Q_OBJECT
public:
    // GUIenabled is kept for the caller's sake; the application always has
    // a GUI.
    QtSingleApplication(int& argc, char** argv, bool GUIenabled = true);
    ~QtSingleApplication() override;

    // True exactly when another instance holds the lock.
    bool isRunning() const;

private:
    std::unique_ptr<InstanceLock> m_lock;
    bool m_running = false;
};
