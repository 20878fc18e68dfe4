// Signalling, probing and waiting on another process. One process-wide
// implementation, replaceable by tests so that waiting costs no real time.
#pragma once

#include <QString>

#include <sys/types.h>

class ProcessControl {
public:
    virtual ~ProcessControl() = default;

    // Sends `sig` to `pid` (0 probes). 0 on success, else the errno value.
    virtual int Signal(pid_t pid, int sig) = 0;
    // Blocks the calling thread for `seconds`.
    virtual void SleepSeconds(unsigned int seconds) = 0;
    // Blocks the calling thread until `pid` has ended or `seconds` have
    // passed, whichever comes first; by default simply for `seconds`. True
    // when the process is known to have ended: an ended process whose parent
    // has not reaped it yet still answers a probe.
    virtual bool WaitForEnd(pid_t pid, unsigned int seconds)
    {
        (void)pid;
        SleepSeconds(seconds);
        return false;
    }
    // Absolute, resolved path of the executable `pid` runs; empty when it
    // cannot be learned (no such process, or one of another user).
    virtual QString ExecutablePath(pid_t pid) = 0;

    static ProcessControl* Current();
    // Replaces the implementation in use (not owned); nullptr restores the system's.
    static void SetCurrent(ProcessControl* control);
};
