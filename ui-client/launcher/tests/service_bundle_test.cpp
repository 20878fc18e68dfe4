// The launcher bundle run as a user would: a temporary home where the client
// is installed and as new as the package, so nothing is upgraded and the
// installed client is started.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace {

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class LauncherBundle : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(home.isValid()); }

    // Ends the client the launcher started, so nothing outlives the test.
    void TearDown() override
    {
        const QString pidPath = home.path() + "/.Lumora/ui.pid";
        const QByteArray line = ReadFile(pidPath).trimmed();
        if (!line.startsWith("pid="))
            return;
        const pid_t pid = line.mid(4).toInt();
        if (pid > 0 && ::kill(pid, SIGTERM) == 0)
            EXPECT_TRUE(WaitFor([&] { return !QFileInfo::exists(pidPath); }, 30000));
    }

    QTemporaryDir home;
};

TEST_F(LauncherBundle, UpToDateClientIsStartedWithoutUpgrade)
{
    const QString h = home.path();
    const QString launcher = h + "/Launcher.app";
    ASSERT_EQ(0, QProcess::execute("cp", {"-a", LAUNCHER_BUNDLE, launcher}));
    ASSERT_TRUE(QDir().mkpath(h + "/.Lumora"));
    ASSERT_EQ(0, QProcess::execute("cp", {"-a", CLIENT_BUNDLE, h + "/.Lumora/Lumora.app"}));
    {
        QFile levels(launcher + "/Contents/Resources/log/launcher.debug");
        ASSERT_TRUE(levels.open(QIODevice::WriteOnly | QIODevice::Truncate));
        levels.write("launcher_debug=7\nservice_debug=7\n");
    }

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", h);
    env.insert("XDG_DATA_HOME", h + "/xdg");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setProgram(launcher + "/Contents/MacOS/lumora-launcher");
    process.start();
    ASSERT_TRUE(process.waitForStarted(30000));
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(QProcess::NormalExit, process.exitStatus());
    EXPECT_EQ(0, process.exitCode());

    const QByteArray log = ReadFile(h + "/.Lumora/log/launcher.log");
    EXPECT_TRUE(log.contains("no need to upgrade")) << log.constData();
    EXPECT_TRUE(log.contains("source version = 130, target version = 130")) << log.constData();
    EXPECT_FALSE(log.contains("[ERROR]")) << log.constData();
    EXPECT_FALSE(QFileInfo::exists(h + "/.Lumora/Lumora.app_tmp"));

    EXPECT_TRUE(WaitFor([&] { return QFileInfo::exists(h + "/.Lumora/ui.pid"); }, 30000));
    EXPECT_TRUE(WaitFor([&] { return QFileInfo::exists(h + "/xdg/applications/lumora-ui.desktop"); },
                        30000));
}

}  // namespace
