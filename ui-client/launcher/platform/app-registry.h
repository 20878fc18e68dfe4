// The platform's registry of applications: forgetting a bundle before it is
// started afresh. One process-wide implementation, replaceable by tests.
#pragma once

#include <QString>

class AppRegistry {
public:
    virtual ~AppRegistry() = default;

    // Removes what the platform has registered for `bundle`. 0 on success,
    // also when nothing was registered; a non-zero code on failure, with a
    // short reason in `error`.
    virtual int Unregister(const QString& bundle, QString* error) = 0;

    // The registry in use: the one set last, or the system's.
    static AppRegistry* Current();
    // Replaces the registry in use (not owned); nullptr restores the system's.
    // Set it before the worker thread starts.
    static void SetCurrent(AppRegistry* registry);
};
