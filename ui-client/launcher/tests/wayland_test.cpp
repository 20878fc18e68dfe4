// The launcher bundle on a Wayland desktop: a headless compositor on a socket
// of its own, a copy of the bundle that must bring every plug-in the wayland
// platform loads, and a fresh home.
#include <sys/stat.h>
#include <sys/types.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <csignal>
#include <iostream>

#include "bundle_runner.h"

using namespace bundle_runner;

namespace {

const QString kBundle = LUMORA_LAUNCHER_BUNDLE;

bool IsSocket(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// Under AddressSanitizer, Qt's wayland platform leaves its display
// connection's allocations to the end of the process: the launcher gets the
// leak suppressions it runs with (LSAN_OPTIONS' file) plus rules for those,
// in a file in `scratchDir`. Nothing to add otherwise.
QStringList WaylandLeakSuppressions([[maybe_unused]] const QString& scratchDir)
{
#if defined(__SANITIZE_ADDRESS__)
    QString options = qEnvironmentVariable("LSAN_OPTIONS");
    QByteArray rules;
    const QRegularExpressionMatch m = QRegularExpression("suppressions=([^: ,]+)").match(options);
    if (m.hasMatch()) {
        rules = ReadFile(m.captured(1)) + '\n';
        options.remove(m.capturedStart(), m.capturedLength());
    }
    rules += "leak:libqoffscreen\nleak:libwayland-client\nleak:libQt5WaylandClient\nleak:libqwayland\n";
    const QString file = scratchDir + "/lsan-wayland.supp";
    EXPECT_TRUE(WriteFile(file, rules));
    // The system's libraries are built without frame pointers: the fast
    // unwinder can stop inside libwayland-client at an "unknown module"
    // frame, which no rule names. The full unwinder sees where they are.
    const QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    return {"LSAN_OPTIONS=" + options + (options.isEmpty() ? "" : ":") + "suppressions=" + file,
            "ASAN_OPTIONS=" + asan + (asan.isEmpty() ? "" : ":") + "fast_unwind_on_malloc=0"};
#else
    return {};
#endif
}

// A headless weston in a private runtime folder (mode 0700, as Wayland
// compositors insist on), without the machine's or the user's configuration.
// Stopped when the object goes.
class Compositor {
public:
    Compositor(const QString& runtimeDir, const QString& home, const QString& program)
        : runtime_(runtimeDir), socket_(QStringLiteral("lumora-test-%1").arg(::getpid()))
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"WAYLAND_DISPLAY", "WAYLAND_SOCKET", "DISPLAY"})
            env.remove(name);
        env.insert("XDG_RUNTIME_DIR", runtime_);
        env.insert("HOME", home);
        weston_.setProcessEnvironment(env);
        weston_.setProcessChannelMode(QProcess::MergedChannels);
        weston_.start(program, {"--backend=headless-backend.so", "--socket=" + socket_, "--no-config", "--idle-time=0"});
    }
    ~Compositor()
    {
        if (weston_.state() == QProcess::NotRunning)
            return;
        weston_.terminate();
        if (!weston_.waitForFinished(30000)) {
            weston_.kill();
            weston_.waitForFinished(30000);
        }
    }

    // Waits for the socket; false when weston ended first or missed the deadline.
    bool WaitForSocket()
    {
        if (!weston_.waitForStarted(30000))
            return false;
        return Poll([&] { return weston_.state() != QProcess::Running || IsSocket(runtime_ + '/' + socket_); }) &&
               weston_.state() == QProcess::Running;
    }
    QString Output() { return QString::fromLocal8Bit(weston_.readAll()); }
    const QString& socket() const { return socket_; }

private:
    const QString runtime_, socket_;
    QProcess weston_;
};

TEST(Wayland, LauncherInstallsAndStartsTheClientWithTheBundlesWaylandPlugins)
{
    const QString weston = QStandardPaths::findExecutable("weston");
    if (weston.isEmpty())
        GTEST_SKIP() << "weston is not installed";

    Home home;
    const QString runtime = home.root + "/runtime";
    ASSERT_EQ(::mkdir(QFile::encodeName(runtime).constData(), 0700), 0);
    const QString bundle = home.root + "/bundle copy/Lumora Launcher.app";
    ASSERT_TRUE(CopyTree(kBundle, bundle));
    // Long enough to extract that the progress dialog is shown (it waits
    // half a second), so the shell integration is loaded too.
    ASSERT_FALSE(WritePackage(bundle + "/Contents/Resources/package/tidewell.vxa", 20000, LUMORA_CLIENT_BUNDLE).isEmpty());
    ASSERT_TRUE(RecordPackageDigest(bundle));

    Compositor compositor(runtime, home.path, weston);
    ASSERT_TRUE(compositor.WaitForSocket()) << compositor.Output().toStdString();

    const Result run = home.Run(bundle, QStringList{"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=" + compositor.socket(),
                                                    "XDG_RUNTIME_DIR=" + runtime, "QT_DEBUG_PLUGINS=1"} +
                                            WaylandLeakSuppressions(home.root));
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << "\nweston:\n" << compositor.Output().toStdString();
    const auto build = [](const QString& app) {
        return QSettings(app + "/Contents/Resources/INFO", QSettings::IniFormat).value("Version/build_version");
    };
    EXPECT_EQ(build(home.App()), build(bundle));
    EXPECT_TRUE(QFileInfo(home.App() + "/Contents/MacOS/lumora-ui").isExecutable());
    EXPECT_TRUE(home.Log().contains("user installation is ready")) << home.Log().toStdString();
    // The platform, and the shell integration its progress dialog needs,
    // come from the copy's own plug-in folder.
    const QString plugins = bundle + "/Contents/Frameworks/plugins/";
    for (const char* plugin : {"platforms/libqwayland-generic.so", "wayland-shell-integration/libxdg-shell.so"})
        EXPECT_TRUE(run.err.contains("loaded library \"" + plugins + plugin + '"'))
            << plugin << " not loaded from the bundle:\n" << run.err.toStdString();
    EXPECT_GT(home.WaitForClient(), 0) << "the client it started on the compositor";
    home.StopClient();
}

}  // namespace
