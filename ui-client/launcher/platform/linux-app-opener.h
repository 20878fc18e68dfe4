// Starts the bundle's executable as a new process in its own session.
#pragma once

#include "platform/app-opener.h"

class LinuxAppOpener : public AppOpener {
public:
    bool OpenNewInstance(const QString& bundle, QString* error) override;
    QString LastStarted() const override { return last_started; }

private:
    QString last_started;
};
