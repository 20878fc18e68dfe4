// Stopping and starting real processes, and the platform layer's files.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <csignal>
#include <future>
#include <sys/wait.h>
#include <unistd.h>

#include "mac/mac-service.h"
#include "platform/bundle-info.h"
#include "platform/desktop-entry.h"
#include "platform/linux-app-opener.h"
#include "platform/linux-app-registry.h"
#include "platform/system-process-control.h"
#include "service_fixture.h"

namespace {

// The system's process control, with every signal recorded.
class RecordingProcesses : public SystemProcessControl {
public:
    RecordingProcesses() { ProcessControl::SetCurrent(this); }
    ~RecordingProcesses() override { ProcessControl::SetCurrent(nullptr); }
    int Signal(pid_t pid, int sig) override
    {
        sent.push_back(sig);
        return SystemProcessControl::Signal(pid, sig);
    }
    std::vector<int> sent;
};

class ServiceProcess : public ServiceHome {
protected:
    // Copies `program` to `relative` below the home and makes it executable.
    void install(const QString& program, const QString& relative)
    {
        makeDir(QFileInfo(relative).path());
        ASSERT_TRUE(QFile::copy(program, path(relative)));
        ASSERT_TRUE(QFile::setPermissions(path(relative), QFile::ReadOwner | QFile::ExeOwner));
    }

    // Starts `program` with one argument; a second thread reaps it and
    // yields its wait status.
    pid_t spawn(const QString& program, const QString& argument, std::future<int>* status)
    {
        const QByteArray exe = QFile::encodeName(program);
        const QByteArray arg = QFile::encodeName(argument);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(exe.constData(), exe.constData(), arg.constData(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        *status = std::async(std::launch::async, [pid] {
            int s = 0;
            return ::waitpid(pid, &s, 0) == pid ? s : -1;
        });
        return pid;
    }
};

TEST_F(ServiceProcess, ClientEndingAfterTerminateIsWaitedForNotKilled)
{
    install(SERVICE_SLOW_CHILD, kClientExecutable);
    std::future<int> status;
    spawn(path(kClientExecutable), path(".Lumora/ui.pid"), &status);
    ASSERT_TRUE(WaitFor([&] { return exists(".Lumora/ui.pid"); }, 10000));

    RecordingProcesses processes;
    MacService().StopService();
    const int waitStatus = status.get();
    EXPECT_TRUE(WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0) << waitStatus;
    EXPECT_EQ(0, std::count(processes.sent.begin(), processes.sent.end(), SIGKILL));
    EXPECT_EQ(1, std::count(processes.sent.begin(), processes.sent.end(), SIGTERM));
    // It lingers 2.5 s: at least the probes at 0, 1 and 2 s found it running.
    EXPECT_GE(std::count(processes.sent.begin(), processes.sent.end(), 0), 4);
}

TEST_F(ServiceProcess, StalePidFileNamingOtherProcesses)
{
    RecordingProcesses processes;
    // This test program lies outside the folder: it must survive.
    writeFile(".Lumora/ui.pid", "pid=" + QByteArray::number(::getpid()) + "\n");
    MacService().StopService();
    EXPECT_TRUE(logHas("does not run from that folder"));
    EXPECT_EQ(0, std::count(processes.sent.begin(), processes.sent.end(), SIGTERM));

    // A process that has ended and been reaped: nothing to stop.
    std::future<int> status;
    const pid_t gone = spawn("/bin/true", "", &status);
    status.get();
    writeFile(".Lumora/ui.pid", "pid=" + QByteArray::number(gone) + "\n");
    processes.sent.clear();
    MacService().StopService();
    EXPECT_EQ(std::vector<int>{0}, processes.sent);
}

TEST_F(ServiceProcess, ReadsTheBundleExecutable)
{
    QString error;
    EXPECT_EQ("lumora-ui", BundleInfo::ExecutableName(CLIENT_BUNDLE "/Contents/Info.plist", &error));
    EXPECT_EQ(QString(CLIENT_BUNDLE "/Contents/MacOS/lumora-ui"),
              BundleInfo::ExecutablePath(CLIENT_BUNDLE, &error));

    const QByteArray head = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n";
    struct Case {
        QByteArray content;
        QString expected;
    };
    const Case cases[] = {
        // A nested dictionary's key is not the bundle's.
        {head + "<key>Sub</key><dict><key>CFBundleExecutable</key><string>inner</string></dict>\n"
                "<key>CFBundleExecutable</key><string> outer </string></dict></plist>",
         "outer"},
        {head + "<key>CFBundleName</key><string>x</string></dict></plist>", ""},  // no key
        {head + "<key>CFBundleExecutable</key><integer>4</integer></dict></plist>", ""},
        {head + "<key>CFBundleExecutable</key><string>../../../bin/sh</string></dict></plist>", ""},
        {head + "<key>CFBundleExecutable</key><string>lumora-ui</string></dict>", ""},  // truncated
        {head + "<key>CFBundleExecutable</key><string>a</strin></dict></plist>", ""},
        {"", ""},
        {QByteArray("\x00\x01\xff\xfe binary", 12), ""},
        {"<array><string>lumora-ui</string></array>", ""},
    };
    for (const Case& c : cases) {
        writeFile("Info.plist", c.content);
        error.clear();
        EXPECT_EQ(c.expected, BundleInfo::ExecutableName(path("Info.plist"), &error)) << c.content.constData();
        EXPECT_EQ(c.expected.isEmpty(), !error.isEmpty()) << qPrintable(error);
    }
    EXPECT_TRUE(BundleInfo::ExecutableName(path("missing.plist"), &error).isEmpty());
    EXPECT_TRUE(error.contains("cannot open"));
}

TEST_F(ServiceProcess, UnregisterRemovesOnlyThisBundlesEntry)
{
    const QString bundle = path(".Lumora/Lumora.app");
    const QString entry = path("xdg/applications/lumora-ui.desktop");
    ASSERT_EQ(entry, DesktopEntry::EntryPath());
    LinuxAppRegistry registry;
    QString error;

    EXPECT_EQ(0, registry.Unregister(bundle, &error));  // nothing registered

    const QString others[] = {bundle + "-old/Contents/MacOS/lumora-ui", "/usr/bin/lumora-ui", bundle};
    for (const QString& program : others) {
        ASSERT_TRUE(DesktopEntry::Write(entry, "Lumora", program, &error)) << qPrintable(error);
        EXPECT_EQ(0, registry.Unregister(bundle, &error));
        EXPECT_TRUE(QFileInfo::exists(entry)) << qPrintable(program);
    }
    // Written by the client for itself, with a blank and a quote in the path.
    const QString odd = path(".Lumora/Lu mora\".app");
    ASSERT_TRUE(DesktopEntry::Write(entry, "Lumora", odd + "/Contents/MacOS/lumora-ui", &error));
    EXPECT_EQ(odd + "/Contents/MacOS/lumora-ui", DesktopEntry::ExecProgram(entry));
    EXPECT_EQ(0, registry.Unregister(odd, &error));
    EXPECT_FALSE(QFileInfo::exists(entry));

    // Exec outside the main group does not count.
    writeFile("xdg/applications/lumora-ui.desktop",
              "[Desktop Action x]\nExec=" + bundle.toUtf8() + "/Contents/MacOS/lumora-ui\n"
              "[Desktop Entry]\nName=Lumora\n");
    EXPECT_EQ(0, registry.Unregister(bundle, &error));
    EXPECT_TRUE(QFileInfo::exists(entry));
}

TEST_F(ServiceProcess, OpenerRefusesBrokenBundles)
{
    LinuxAppOpener opener;
    QString error;
    EXPECT_FALSE(opener.OpenNewInstance(path("nothing.app"), &error));
    EXPECT_FALSE(error.isEmpty());

    // A valid property list naming a missing executable, then a directory.
    makeDir("Broken.app/Contents");
    ASSERT_TRUE(QFile::copy(CLIENT_BUNDLE "/Contents/Info.plist", path("Broken.app/Contents/Info.plist")));
    error.clear();
    EXPECT_FALSE(opener.OpenNewInstance(path("Broken.app"), &error));
    EXPECT_TRUE(error.contains("not an executable")) << qPrintable(error);
    makeDir("Broken.app/Contents/MacOS/lumora-ui");
    EXPECT_FALSE(opener.OpenNewInstance(path("Broken.app"), &error));

    // The sequence reports it: -1 and the launch failure in the log.
    MacService service;
    EXPECT_EQ(-1, service.LaunchPerUserBin());
    service.PostUpgrade();
    EXPECT_TRUE(logHas("Failed to launch Tidewell UI"));
}

TEST_F(ServiceProcess, LaunchStartsTheClientInItsOwnSession)
{
    makeDir(".Lumora");
    ASSERT_EQ(0, QProcess::execute("cp", {"-a", CLIENT_BUNDLE, path(".Lumora/Lumora.app")}));

    EXPECT_EQ(0, MacService().LaunchPerUserBin());
    ASSERT_TRUE(WaitFor([&] { return exists(".Lumora/ui.pid"); }, 30000));
    QFile pidFile(path(".Lumora/ui.pid"));
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const QByteArray line = pidFile.readAll().trimmed();
    ASSERT_TRUE(line.startsWith("pid="));
    const pid_t pid = line.mid(4).toInt();
    ASSERT_GT(pid, 0);
    // Detached into another session: it outlives the launcher and its terminal.
    EXPECT_NE(::getsid(0), ::getsid(pid));
    EXPECT_NE(-1, ::getsid(pid));
    ASSERT_TRUE(WaitFor([&] { return exists("xdg/applications/lumora-ui.desktop"); }, 10000));
    EXPECT_EQ(path(kClientExecutable),
              DesktopEntry::ExecProgram(path("xdg/applications/lumora-ui.desktop")));

    // The client removes its pid file when asked to end.
    ASSERT_EQ(0, ::kill(pid, SIGTERM));
    EXPECT_TRUE(WaitFor([&] { return !exists(".Lumora/ui.pid"); }, 30000));
}

}  // namespace
