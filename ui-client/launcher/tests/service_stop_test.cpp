// Stopping the client through its pid file, and the order of the upgrade steps.
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include "mac/mac-service.h"
#include "service_fakes.h"
#include "service_fixture.h"

namespace {

class ServiceStop : public ServiceHome {
protected:
    void SetUp() override
    {
        ServiceHome::SetUp();
        processes.executable = real(kClientExecutable);
        makeDir(".Lumora");
    }
    void stop() { MacService().StopService(); }
    // The resolved path the system reports for a process's executable.
    QString real(const QString& relative) const
    {
        return QFileInfo(home()).canonicalFilePath() + "/" + relative;
    }

    FakeProcesses processes;
};

TEST_F(ServiceStop, NothingToStop)
{
    stop();
    EXPECT_TRUE(logHas(QString("pid file '%1/.Lumora/ui.pid' does not exist, no need to terminate")
                           .arg(home())));
    EXPECT_TRUE(processes.sent.empty());

    // The process has gone: no terminate signal, no waiting.
    processes.exitAfterProbes = 0;
    writeFile(".Lumora/ui.pid", "pid=4242\n");
    stop();
    EXPECT_EQ(0, processes.count(SIGTERM));
    EXPECT_EQ(0u, processes.slept);
}

TEST_F(ServiceStop, UnreadablePidFiles)
{
    const QByteArray malformed[] = {"pid 12\n", "pid=1 2\n", "[main]\npid=12\n"};
    for (const QByteArray& content : malformed) {
        writeFile(".Lumora/ui.pid", content);
        stop();
    }
    // A FIFO would block the reader, a huge file would take ages: neither is read.
    QFile::remove(path(".Lumora/ui.pid"));
    ASSERT_EQ(0, ::mkfifo(QFile::encodeName(path(".Lumora/ui.pid")).constData(), 0600));
    stop();
    QFile::remove(path(".Lumora/ui.pid"));
    writeFile(".Lumora/ui.pid", "pid=12\n" + QByteArray(1 << 20, '#'));
    stop();
    EXPECT_EQ(5, log().count("Failed to read pid file"));
    EXPECT_TRUE(processes.sent.empty());
}

TEST_F(ServiceStop, InvalidProcessIdsSignalNothing)
{
    const QByteArray values[] = {"other=12\n", "pid=\"\"\n", "pid=0\n",          "pid=-1\n",
                                 "pid=abc\n",  "pid=-0012\n", "pid=4294967297\n", "pid=99999999999999999999\n"};
    for (const QByteArray& content : values) {
        writeFile(".Lumora/ui.pid", content);
        stop();
        EXPECT_TRUE(processes.sent.empty()) << content.constData();
    }
    EXPECT_EQ(8, log().count("names no process"));

    // atol semantics: blanks and a trailing suffix are accepted.
    writeFile(".Lumora/ui.pid", "pid=\"  77abc\"\n");
    processes.exitAfterProbes = 1;
    stop();
    ASSERT_FALSE(processes.pids.empty());
    EXPECT_EQ(77, processes.pids.front());
}

TEST_F(ServiceStop, ForeignProcessIsNotSignalled)
{
    writeFile(".Lumora/ui.pid", "pid=4242\n");
    const QString others[] = {"/usr/bin/editor", "", home() + "/.Lumora-other/lumora-ui",
                              home() + "/.Lumora"};
    for (const QString& executable : others) {
        processes.executable = executable;
        stop();
    }
    EXPECT_EQ(0, processes.count(SIGTERM));
    EXPECT_EQ(0, processes.count(SIGKILL));
    EXPECT_EQ(4, log().count("does not run from that folder"));
}

TEST_F(ServiceStop, WaitsThenKillsAClientThatIgnoresTerminate)
{
    writeFile(".Lumora/ui.pid", "pid=4242\n");
    stop();
    // A look before, the terminate signal, 15 probes a second apart, the kill.
    const std::vector<int> expected = [] {
        std::vector<int> v{0, SIGTERM};
        v.insert(v.end(), 15, 0);
        v.push_back(SIGKILL);
        return v;
    }();
    EXPECT_EQ(expected, processes.sent);
    EXPECT_EQ(15u, processes.slept);
}

TEST_F(ServiceStop, EndsWaitingWhenTheClientExits)
{
    writeFile(".Lumora/ui.pid", "pid=4242\n");
    processes.exitAfterProbes = 4;  // the look before, then three probes find it running
    stop();
    EXPECT_EQ(0, processes.count(SIGKILL));
    EXPECT_EQ(3u, processes.slept);
    EXPECT_FALSE(logHas("kill:"));
}

TEST_F(ServiceStop, RefusedTerminateStillWaitsAndKills)
{
    writeFile(".Lumora/ui.pid", "pid=4242\n");
    processes.termError = EPERM;
    stop();
    EXPECT_TRUE(logHas(QString("kill: %1 (%2)").arg(strerror(EPERM)).arg(EPERM)));
    EXPECT_EQ(1, processes.count(SIGKILL));
    EXPECT_EQ(15u, processes.slept);
}

// The sequence with the installation step replaced.
class SequenceService : public MacService {
public:
    int PrepareUserEnv() override { return prepared++, prepareResult; }
    void MigrateService() override { ++migrated; }
    int prepared = 0;
    int migrated = 0;
    int prepareResult = 0;
};

TEST_F(ServiceStop, UpgradeStopsTheRightGeneration)
{
    writeFile(".Tidewell/ui.pid", "pid=1111\n");
    writeFile(".Tidewell/data/x", "x");
    processes.exitAfterProbes = 1;
    processes.executable = real(".Tidewell/Tidewell.app/Contents/MacOS/tidewell-ui");
    {
        // No installation yet: the earlier client is stopped, its folder migrated.
        SequenceService service;
        service.prepareResult = -1;
        EXPECT_EQ(-1, service.HandlePackageUpgrade());
        EXPECT_EQ(1, service.migrated);
        EXPECT_EQ(1, service.prepared);
        EXPECT_EQ(1111, processes.pids.front());
    }
    {
        // An installation exists: only the current client is stopped, no migration.
        makeClientExecutable();
        writeFile(".Lumora/ui.pid", "pid=2222\n");
        processes.pids.clear();
        processes.probes = 0;
        processes.executable = real(kClientExecutable);
        SequenceService service;
        EXPECT_EQ(0, service.HandlePackageUpgrade());
        EXPECT_EQ(0, service.migrated);
        EXPECT_TRUE(logHas("local appdata exist"));
        EXPECT_EQ(2222, processes.pids.front());
    }
}

TEST_F(ServiceStop, LaunchUnregistersThenOpens)
{
    FakeRegistry registry;
    FakeOpener opener;
    MacService service;
    const QString bundle = home() + "/.Lumora/Lumora.app";

    EXPECT_EQ(0, service.LaunchPerUserBin());
    EXPECT_EQ(QStringList{bundle}, registry.bundles);
    EXPECT_EQ(QStringList{bundle}, opener.bundles);
    EXPECT_FALSE(logHas("ERROR"));

    // A refused unregistration is logged; the client is started all the same.
    registry.result = 3;
    EXPECT_EQ(0, service.LaunchPerUserBin());
    EXPECT_EQ(1, log().count(QString("Cannot unregister bundle, %1").arg(bundle)));
    EXPECT_EQ(2, opener.bundles.size());

    opener.started = false;
    EXPECT_EQ(-1, service.LaunchPerUserBin());
    service.PostUpgrade();
    EXPECT_TRUE(logHas("Failed to launch Tidewell UI"));
}

}  // namespace
