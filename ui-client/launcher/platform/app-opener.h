// Starting a bundle as a new, independent application instance. One
// process-wide implementation, replaceable by tests.
#pragma once

#include <QString>

class AppOpener {
public:
    virtual ~AppOpener() = default;

    // Starts a new instance of `bundle` without waiting for it. True when it
    // was started; false with a short reason in `error` otherwise.
    virtual bool OpenNewInstance(const QString& bundle, QString* error) = 0;

    // What the last successful OpenNewInstance started, for the log: the
    // executable and its process id, where the platform knows them.
    virtual QString LastStarted() const { return QString(); }

    static AppOpener* Current();
    // Replaces the opener in use (not owned); nullptr restores the system's.
    static void SetCurrent(AppOpener* opener);
};
