#include "qtsingleapplication.h"

#include "instancelock.h"

#include <QDir>

QtSingleApplication::QtSingleApplication(int& argc, char** argv, bool GUIenabled)
    : QApplication(argc, argv), m_lock(new InstanceLock(QDir::homePath()))
{
    Q_UNUSED(GUIenabled);
    m_lock->tryAcquire();
    m_running = m_lock->heldElsewhere();
}

QtSingleApplication::~QtSingleApplication() = default;

bool QtSingleApplication::isRunning() const
{
    return m_running;
}

QString QtSingleApplication::lockError() const
{
    return m_lock->error();
}

QString QtSingleApplication::lockFilePath() const
{
    return m_lock->lockFilePath();
}

void QtSingleApplication::releaseLock()
{
    m_lock->release();
}
