// Stopping and starting real processes, and the platform layer's files.
#include <QProcess>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <future>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>
#include "mac/mac-service.h"
#include "platform/bundle-info.h"
#include "platform/desktop-entry.h"
#include "platform/linux-app-opener.h"
#include "platform/linux-app-registry.h"
#include "platform/spawn.h"
#include "platform/system-process-control.h"
#include "service_fixture.h"

// The system's process control, with every signal recorded.
struct RecordingProcesses : SystemProcessControl {
    RecordingProcesses() { ProcessControl::SetCurrent(this); }
    ~RecordingProcesses() override { ProcessControl::SetCurrent(nullptr); }
    int Signal(pid_t pid, int sig) override
    {
        sent.push_back(sig);
        return SystemProcessControl::Signal(pid, sig);
    }
    long count(int sig) const { return std::count(sent.begin(), sent.end(), sig); }
    std::vector<int> sent;
};

using ServiceProcess = ServiceHome;

TEST_F(ServiceProcess, ClientEndingAfterTerminateIsWaitedForNotKilled)
{
    makeDir(".Lumora/Lumora.app/Contents/MacOS");
    ASSERT_TRUE(QFile::copy(SERVICE_SLOW_CHILD, path(kClientExecutable)));
    ASSERT_TRUE(QFile::setPermissions(path(kClientExecutable), QFile::ReadOwner | QFile::ExeOwner));
    const QByteArray exe = QFile::encodeName(path(kClientExecutable));
    const QByteArray pid_file = QFile::encodeName(path(".Lumora/ui.pid"));
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(exe.constData(), exe.constData(), pid_file.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // A second thread reaps the child while the service waits for it.
    std::future<int> status = std::async(std::launch::async, [pid] {
        int s = 0;
        return ::waitpid(pid, &s, 0) == pid ? s : -1;
    });
    ASSERT_TRUE(WaitFor([&] { return exists(".Lumora/ui.pid"); }, 10000));

    RecordingProcesses processes;
    MacService().StopService();
    const int waitStatus = status.get();
    EXPECT_TRUE(WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0) << waitStatus;  // not killed
    EXPECT_EQ(1, processes.count(SIGTERM));
    // It lingers 2.5 s: the look and the probes at 1 and 2 s found it running.
    EXPECT_GE(processes.count(0), 4);

    // This test program lies outside the folder: it must survive.
    processes.sent.clear();
    writeFile(".Lumora/ui.pid", "pid=" + QByteArray::number(::getpid()) + "\n");
    MacService().StopService();
    EXPECT_TRUE(logHas("does not run from that folder"));
    EXPECT_EQ(0, processes.count(SIGTERM));
}

#ifndef __APPLE__
// The wait between two probes ends with the process, not with the interval:
// a client that quits at once costs no second of waiting. The interval here
// is an hour; the deadlines only keep a broken wait from hanging the test.
TEST(SystemProcessControlTest, WaitForEndReturnsWhenTheProcessEnds)
{
    int pipe_fds[2];
    ASSERT_EQ(0, ::pipe(pipe_fds));
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipe_fds[1]);
        char byte;
        ::_exit(::read(pipe_fds[0], &byte, 1) == 0 ? 0 : 1);  // ends when the pipe closes
    }
    ::close(pipe_fds[0]);
    SystemProcessControl processes;
    std::future<bool> waited = std::async(std::launch::async, [&] { return processes.WaitForEnd(pid, 3600); });
    EXPECT_EQ(std::future_status::timeout, waited.wait_for(std::chrono::milliseconds(100)))
        << "returned while the process still ran";
    ::close(pipe_fds[1]);
    ASSERT_EQ(std::future_status::ready, waited.wait_for(std::chrono::seconds(60)));
    EXPECT_TRUE(waited.get()) << "an ended process not yet reaped has ended all the same";
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // A process that is gone already: no wait at all.
    std::future<bool> gone = std::async(std::launch::async, [&] { return processes.WaitForEnd(pid, 3600); });
    ASSERT_EQ(std::future_status::ready, gone.wait_for(std::chrono::seconds(60)));
    EXPECT_TRUE(gone.get());
}
#endif

TEST_F(ServiceProcess, ReadsTheBundleExecutable)
{
    QString error;
    EXPECT_EQ(QString(CLIENT_BUNDLE "/Contents/MacOS/lumora-ui"), BundleInfo::ExecutablePath(CLIENT_BUNDLE, &error));

    const QByteArray head = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n<key>";
    const struct { QByteArray content; QString expected; } cases[] = {
        // A nested dictionary's key is not the bundle's.
        {head + "Sub</key><dict><key>CFBundleExecutable</key><string>inner</string></dict>\n"
                "<key>CFBundleExecutable</key><string> outer </string></dict></plist>", "outer"},
        {head + "CFBundleName</key><string>x</string></dict></plist>", ""},  // no key, or no string
        {head + "CFBundleExecutable</key><integer>4</integer></dict></plist>", ""},
        {head + "CFBundleExecutable</key><string>../../../bin/sh</string></dict></plist>", ""},
        {head + "CFBundleExecutable</key><string>lumora-ui</string></dict>", ""},  // truncated
        {head + "CFBundleExecutable</key><string>a</strin></dict></plist>", ""},
        {"", ""}, {QByteArray("\x00\x01\xff\xfe binary", 12), ""}, {"<array><string>x</string></array>", ""},
    };
    for (const auto& c : cases) {
        writeFile("Info.plist", c.content);
        error.clear();
        EXPECT_EQ(c.expected, BundleInfo::ExecutableName(path("Info.plist"), &error)) << c.content.constData();
        EXPECT_EQ(c.expected.isEmpty(), !error.isEmpty()) << qPrintable(error);
    }
    EXPECT_TRUE(BundleInfo::ExecutableName(path("missing.plist"), &error).isEmpty());
    EXPECT_TRUE(error.contains("cannot open"));
    // The opener refuses a bundle whose executable is missing.
    makeDir("Broken.app/Contents");
    ASSERT_TRUE(QFile::copy(CLIENT_BUNDLE "/Contents/Info.plist", path("Broken.app/Contents/Info.plist")));
    EXPECT_FALSE(LinuxAppOpener().OpenNewInstance(path("Broken.app"), &error));
    EXPECT_TRUE(error.contains("not an executable")) << qPrintable(error);
}

TEST_F(ServiceProcess, UnregisterRemovesOnlyThisBundlesEntry)
{
    const QString bundle = path(".Lumora/Lumora.app");
    const QString entry = path("xdg/applications/lumora-ui.desktop");
    ASSERT_EQ(entry, DesktopEntry::EntryPath());
    LinuxAppRegistry registry;
    QString error;
    EXPECT_EQ(0, registry.Unregister(bundle, &error));  // nothing registered

    for (const QString& program : {bundle + "-old/Contents/MacOS/lumora-ui", QString("/usr/bin/lumora-ui"), bundle}) {
        ASSERT_TRUE(DesktopEntry::Write(entry, "Lumora", program, &error)) << qPrintable(error);
        EXPECT_EQ(0, registry.Unregister(bundle, &error));
        EXPECT_TRUE(QFileInfo::exists(entry)) << qPrintable(program);
    }
    // Pointing into the bundle, even with a blank and a quote in the path: removed.
    const QString odd = path(".Lumora/Lu mora\".app");
    ASSERT_TRUE(DesktopEntry::Write(entry, "Lumora", odd + "/Contents/MacOS/lumora-ui", &error));
    EXPECT_EQ(odd + "/Contents/MacOS/lumora-ui", DesktopEntry::ExecProgram(entry));
    EXPECT_EQ(0, registry.Unregister(odd, &error));
    EXPECT_FALSE(QFileInfo::exists(entry));
}

// update-desktop-database rebuilds the MIME cache, which lists only entries
// with MimeType: it runs when the removed entry declared some, and only then.
TEST_F(ServiceProcess, UnregisterRefreshesTheMimeCacheOnlyForEntriesInIt)
{
    const QString bundle = path(".Lumora/Lumora.app");
    const QString entry = path("xdg/applications/lumora-ui.desktop");
    writeFile("bin/update-desktop-database", "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/ran\"\n");
    ASSERT_TRUE(QFile::setPermissions(path("bin/update-desktop-database"), QFile::ReadOwner | QFile::ExeOwner));
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(path("bin")) + ":" + savedPath);
    QString error;
    ASSERT_TRUE(DesktopEntry::Write(entry, "Lumora", bundle + "/Contents/MacOS/lumora-ui", &error));
    EXPECT_EQ(0, LinuxAppRegistry().Unregister(bundle, &error));
    EXPECT_FALSE(QFileInfo::exists(entry));
    EXPECT_FALSE(exists("bin/ran")) << "an entry without MIME types is not in the cache";
    EXPECT_TRUE(logHas("declared no MIME types"));

    ASSERT_TRUE(DesktopEntry::Write(entry, "Lumora", bundle + "/Contents/MacOS/lumora-ui", &error));
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("MimeType=x-scheme-handler/lumora;\n");
    file.close();
    EXPECT_EQ("x-scheme-handler/lumora;", DesktopEntry::Value(entry, "MimeType"));
    EXPECT_EQ(0, LinuxAppRegistry().Unregister(bundle, &error));
    qputenv("PATH", savedPath);
    EXPECT_FALSE(QFileInfo::exists(entry));
    QFile ran(path("bin/ran"));
    ASSERT_TRUE(ran.open(QIODevice::ReadOnly));
    EXPECT_EQ(QByteArray("-q ") + QFile::encodeName(path("xdg/applications")) + "\n", ran.readAll());
}

TEST_F(ServiceProcess, LaunchStartsTheClientInItsOwnSession)
{
    makeDir(".Lumora");
    ASSERT_EQ(0, QProcess::execute("cp", {"-a", CLIENT_BUNDLE, path(".Lumora/Lumora.app")}));
    // Under ThreadSanitizer the client is instrumented too, and Debian's Qt is
    // not: its own thread pools may be reported and end it early. Its session
    // is what this test is about.
    const QByteArray sanitizer = qgetenv("TSAN_OPTIONS");
    qputenv("TSAN_OPTIONS", "report_bugs=0");
    EXPECT_EQ(0, MacService().LaunchPerUserBin());
    qputenv("TSAN_OPTIONS", sanitizer);
    ASSERT_TRUE(WaitFor([&] { return exists(".Lumora/ui.pid"); }, 30000));
    QFile pidFile(path(".Lumora/ui.pid"));
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const QByteArray line = pidFile.readAll();
    const pid_t pid = line.startsWith("pid=") ? line.mid(4).trimmed().toInt() : 0;
    ASSERT_GT(pid, 0) << line.constData();
    // Detached into another session: it outlives the launcher and its terminal.
    EXPECT_NE(-1, ::getsid(pid));
    EXPECT_NE(::getsid(0), ::getsid(pid));
    // The client removes its pid file when asked to end.
    ASSERT_EQ(0, ::kill(pid, SIGTERM));
    EXPECT_TRUE(WaitFor([&] { return !exists(".Lumora/ui.pid"); }, 30000));
}

// A started program that nobody waits for is reaped when it ends: a zombie
// would still answer kill(pid, 0) as if it ran.
TEST(SpawnTest, AReapedChildLeavesNoZombie)
{
    SpawnOptions options;
    options.newSession = true;
    options.reap = true;
    long pid = 0;
    QString error;
    ASSERT_TRUE(SpawnProgram(QStringLiteral("/bin/true"), QStringList(), options, &pid, &error))
        << error.toStdString();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (kill(static_cast<pid_t>(pid), 0) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_NE(kill(static_cast<pid_t>(pid), 0), 0) << "the ended child is gone, not a zombie";
}
