// Process control through the C library: kill(2), nanosleep(2), the
// system's record of a process's executable and, on Linux, a process file
// descriptor to wait on another process's end.
#pragma once

#include "platform/process-control.h"

class SystemProcessControl : public ProcessControl {
public:
    int Signal(pid_t pid, int sig) override;
    void SleepSeconds(unsigned int seconds) override;
#ifndef __APPLE__
    bool WaitForEnd(pid_t pid, unsigned int seconds) override;
#endif
    QString ExecutablePath(pid_t pid) override;
};
