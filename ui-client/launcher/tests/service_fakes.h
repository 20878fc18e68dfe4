// Stand-ins for the platform layer, installed for the life of the object.
#pragma once

#include <QString>
#include <QStringList>

#include <csignal>
#include <vector>

#include "platform/app-opener.h"
#include "platform/app-registry.h"
#include "platform/process-control.h"

// Records every signal and sleep; a process "alive" until `exitAfterProbes`
// probes have been answered (negative: never ends).
class FakeProcesses : public ProcessControl {
public:
    FakeProcesses() { ProcessControl::SetCurrent(this); }
    ~FakeProcesses() override { ProcessControl::SetCurrent(nullptr); }

    int Signal(pid_t pid, int sig) override
    {
        sent.push_back(sig);
        pids.push_back(pid);
        if (sig == SIGTERM)
            return termError;
        if (sig == 0 && exitAfterProbes >= 0 && probes++ >= exitAfterProbes)
            return ESRCH;
        return 0;
    }
    void SleepSeconds(unsigned int seconds) override { slept += seconds; }
    QString ExecutablePath(pid_t) override { return executable; }

    int count(int sig) const
    {
        int n = 0;
        for (int s : sent)
            n += (s == sig);
        return n;
    }

    std::vector<int> sent;
    std::vector<pid_t> pids;
    QString executable;
    int termError = 0;
    int exitAfterProbes = -1;
    int probes = 0;
    unsigned int slept = 0;
};

class FakeRegistry : public AppRegistry {
public:
    FakeRegistry() { AppRegistry::SetCurrent(this); }
    ~FakeRegistry() override { AppRegistry::SetCurrent(nullptr); }
    int Unregister(const QString& bundle, QString* error) override
    {
        bundles << bundle;
        if (result != 0)
            *error = "refused";
        return result;
    }
    QStringList bundles;
    int result = 0;
};

class FakeOpener : public AppOpener {
public:
    FakeOpener() { AppOpener::SetCurrent(this); }
    ~FakeOpener() override { AppOpener::SetCurrent(nullptr); }
    bool OpenNewInstance(const QString& bundle, QString* error) override
    {
        bundles << bundle;
        if (!started)
            *error = "cannot";
        return started;
    }
    QStringList bundles;
    bool started = true;
};
