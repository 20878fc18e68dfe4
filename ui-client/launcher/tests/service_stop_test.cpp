// Stopping the client through its pid file with a fake process table, the
// order of the upgrade steps, and launching the per-user bundle.
#include <QStringList>
#include <csignal>
#include <string>
#include <sys/stat.h>
#include "mac/mac-service.h"
#include "platform/app-opener.h"
#include "platform/app-registry.h"
#include "platform/process-control.h"
#include "service_fixture.h"

// Records signals ('p' a probe, 'T' terminate, 'K' kill) and sleeps; the
// process is "alive" until `exitAfter` probes have been answered (-1: never).
struct FakeProcesses : ProcessControl {
    FakeProcesses() { ProcessControl::SetCurrent(this); }
    ~FakeProcesses() override { ProcessControl::SetCurrent(nullptr); }
    int Signal(pid_t pid, int sig) override
    {
        sent += sig == 0 ? 'p' : sig == SIGTERM ? 'T' : sig == SIGKILL ? 'K' : '?';
        pids.push_back(pid);
        if (sig == SIGTERM)
            return termError;
        return sig == 0 && exitAfter >= 0 && probes++ >= exitAfter ? ESRCH : 0;
    }
    void SleepSeconds(unsigned int seconds) override { slept += seconds; }
    QString ExecutablePath(pid_t) override { return executable; }
    void reset(const QString& exe, int exits, int error = 0)
    {
        sent.clear(), pids.clear(), slept = 0, probes = 0, executable = exe, exitAfter = exits, termError = error;
    }

    std::string sent;
    std::vector<pid_t> pids;
    QString executable;
    int termError = 0, exitAfter = -1, probes = 0;
    unsigned int slept = 0;
};

class ServiceStop : public ServiceHome {
protected:
    // The resolved path the system reports for a process's executable.
    QString real(const QString& relative) const { return QFileInfo(home()).canonicalFilePath() + "/" + relative; }
    FakeProcesses processes;
};

TEST_F(ServiceStop, FollowsThePidFile)
{
    const QString client = real(kClientExecutable);
    const std::string killed = "pT" + std::string(15, 'p') + "K";  // 15 probes a second apart
    const struct { QList<QByteArray> pidFiles; QString executable; int exitAfter, termError; std::string sent;
                   unsigned int slept; QString logged; } rows[] = {
        {{QByteArray()}, client, -1, 0, "", 0, "/.Lumora/ui.pid' does not exist"},  // no pid file
        {{"pid=4242\n"}, client, 0, 0, "p", 0, ""},  // gone: no terminate, no wait
        // Malformed, huge, or a FIFO that would block the reader.
        {{"pid 12\n", "pid=1 2\n", "[main]\npid=12\n", "pid=12\n" + QByteArray(1 << 20, '#'), "fifo"},
         client, -1, 0, "", 0, "Failed to read pid file"},
        {{"other=12\n", "pid=\"\"\n", "pid=0\n", "pid=-1\n", "pid=abc\n", "pid=-0012\n", "pid=4294967297\n",
          "pid=99999999999999999999\n"}, client, -1, 0, "", 0, "names no process"},
        // A process running something else, or from elsewhere.
        {{"pid=4242\n"}, "/usr/bin/editor", -1, 0, "p", 0, "does not run from that folder"},
        {{"pid=4242\n"}, "", -1, 0, "p", 0, "does not run from that folder"},
        {{"pid=4242\n"}, home() + "/.Lumora-other/lumora-ui", -1, 0, "p", 0, "does not run from that folder"},
        {{"pid=4242\n"}, home() + "/.Lumora", -1, 0, "p", 0, "does not run from that folder"},
        // Terminate ignored, refused (logged), or obeyed after three probes.
        {{"pid=4242\n"}, client, -1, 0, killed, 15, ""},
        {{"pid=4242\n"}, client, -1, EPERM, killed, 15, QString("kill: %1 (%2)").arg(strerror(EPERM)).arg(EPERM)},
        {{"pid=4242\n"}, client, 4, 0, "pTpppp", 3, ""},
        {{"pid=\"  77abc\"\n"}, client, 1, 0, "pTp", 0, ""},  // atol semantics
    };
    for (const auto& row : rows) {
        for (const QByteArray& pidFile : row.pidFiles) {
            QDir(path(".Lumora")).removeRecursively();
            makeDir(".Lumora");
            if (pidFile == "fifo")
                ASSERT_EQ(0, ::mkfifo(QFile::encodeName(path(".Lumora/ui.pid")).constData(), 0600));
            else if (!pidFile.isNull())
                writeFile(".Lumora/ui.pid", pidFile);
            processes.reset(row.executable, row.exitAfter, row.termError);
            const int logStart = log().size();
            MacService().StopService();
            EXPECT_EQ(row.sent, processes.sent) << pidFile.left(30).constData();
            EXPECT_EQ(row.slept, processes.slept) << pidFile.left(30).constData();
            EXPECT_TRUE(log().mid(logStart).contains(row.logged)) << qPrintable(row.logged);
        }
    }
    EXPECT_EQ(std::vector<pid_t>(3, 77), processes.pids);
}

// The sequence with the installation step replaced.
struct SequenceService : MacService {
    int PrepareUserEnv() override { return ++prepared, prepareResult; }
    void MigrateService() override { ++migrated; }
    int prepared = 0, migrated = 0, prepareResult = 0;
};

TEST_F(ServiceStop, UpgradeStopsTheRightGeneration)
{
    // Not installed: the earlier client is stopped and its folder migrated.
    // Installed: only the current client is stopped, nothing migrated.
    writeFile(".Tidewell/ui.pid", "pid=1111\n");
    writeFile(".Lumora/ui.pid", "pid=2222\n");
    for (const bool installed : {false, true}) {
        if (installed)
            makeClientExecutable();
        processes.reset(real(installed ? kClientExecutable : ".Tidewell/Tidewell.app/Contents/MacOS/tidewell-ui"), 1);
        SequenceService service;
        service.prepareResult = installed ? 0 : -1;
        EXPECT_EQ(service.prepareResult, service.HandlePackageUpgrade());
        EXPECT_EQ(1, service.prepared);
        EXPECT_EQ(installed ? 0 : 1, service.migrated);
        ASSERT_FALSE(processes.pids.empty());
        EXPECT_EQ(std::vector<pid_t>(processes.pids.size(), installed ? 2222 : 1111), processes.pids);
    }
}

// Records the bundles unregistered and opened; fails when told to.
struct FakeLaunch : AppRegistry, AppOpener {
    FakeLaunch() { AppRegistry::SetCurrent(this), AppOpener::SetCurrent(this); }
    ~FakeLaunch() override { AppRegistry::SetCurrent(nullptr), AppOpener::SetCurrent(nullptr); }
    int Unregister(const QString& bundle, QString* error) override
    {
        unregistered << bundle;
        if (unregisterResult)
            *error = "refused";
        return unregisterResult;
    }
    bool OpenNewInstance(const QString& bundle, QString* error) override
    {
        opened << bundle;
        if (!started)
            *error = "cannot";
        return started;
    }
    QStringList unregistered, opened;
    int unregisterResult = 0;
    bool started = true;
};

TEST_F(ServiceStop, LaunchUnregistersThenOpens)
{
    FakeLaunch fake;
    MacService service;
    const QStringList bundle{home() + "/.Lumora/Lumora.app"};
    EXPECT_EQ(0, service.LaunchPerUserBin());
    EXPECT_EQ(bundle, fake.unregistered);
    EXPECT_EQ(bundle, fake.opened);
    EXPECT_FALSE(logHas("ERROR"));
    // A refused unregistration is logged; the client is started all the same.
    fake.unregisterResult = 3;
    EXPECT_EQ(0, service.LaunchPerUserBin());
    EXPECT_EQ(1, log().count("Cannot unregister bundle, " + bundle[0]));
    EXPECT_EQ(2, fake.opened.size());
    // A failed start: -1, and the step after the upgrade logs it.
    fake.started = false;
    EXPECT_EQ(-1, service.LaunchPerUserBin());
    service.PostUpgrade();
    EXPECT_TRUE(logHas("Failed to launch Tidewell UI"));
}
