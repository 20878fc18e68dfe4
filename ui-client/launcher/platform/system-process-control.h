// Process control through the C library: kill(2), nanosleep(2) and the
// system's record of a process's executable.
#pragma once

#include "platform/process-control.h"

class SystemProcessControl : public ProcessControl {
public:
    int Signal(pid_t pid, int sig) override;
    void SleepSeconds(unsigned int seconds) override;
    QString ExecutablePath(pid_t pid) override;
};
