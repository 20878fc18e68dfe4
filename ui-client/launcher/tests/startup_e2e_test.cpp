// The launcher started the ways users start it: through links, from a
// desktop without the usual environment, twice at once, on a linked home.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <QSettings>
#include <gtest/gtest.h>

#include <csignal>

#include "bundle_runner.h"

using namespace bundle_runner;

namespace {

const QString kBundle = LUMORA_LAUNCHER_BUNDLE;
const QString kClient = LUMORA_CLIENT_BUNDLE;
const QString kExe = kBundle + "/Contents/MacOS/lumora-launcher";

bool ClientInstalled(const QString& home)
{
    return QFileInfo(home + "/.Lumora/Lumora.app/Contents/MacOS/lumora-ui").isExecutable();
}

int Count(const QString& text, const QString& part) { return text.count(part); }

// Whatever an old or damaged lock file holds, a start installs and starts
// the client: only a live launcher of the same home blocks.
TEST(StartUp, NoLockFileContentsBlock)
{
    for (const QByteArray& content : {QByteArray(), QByteArray("\xff\xfe\x01garbage"),
                                      QByteArray::number(getpid()) + "\nlumora-launcher\nother-host\n"}) {
        Home home;
        ASSERT_TRUE(WriteFile(home.Lumora() + "/launcher.lock", content));
        const Result run = home.Run(kBundle);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(ClientInstalled(home.path)) << content.toStdString() << home.Log().toStdString();
        EXPECT_GT(home.WaitForClient(), 0);
    }
}

// A launcher that finds its home's lock held (the test holds it, so that the
// two overlap for certain) leaves at once, also when the home is spelled
// through a link; two launchers started together then upgrade once.
TEST(StartUp, TwoLaunchersOnOneHomeUpgradeOnce)
{
    Home home;
    const QString link = home.root + "/linked-home";
    ASSERT_TRUE(QFile::link(home.path, link));
    ASSERT_TRUE(QDir().mkpath(home.Lumora()));
    const QByteArray lockFile = QFile::encodeName(home.Lumora() + "/launcher.lock");
    const int held = open(lockFile.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    const Result blocked = home.Run(kBundle, {"HOME=" + link, "TMPDIR=" + home.root});
    close(held);
    EXPECT_EQ(blocked.exitCode, 0) << blocked.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(home.App())) << "a launcher that finds the lock held changes nothing";

    QProcess first, second;
    home.Start(first, kBundle);
    home.Start(second, kBundle, {"HOME=" + link, "TMPDIR=" + home.root});
    for (QProcess* p : {&first, &second}) {
        ASSERT_TRUE(p->waitForFinished(180000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }
    EXPECT_EQ(Count(home.Log(), "extract package:"), 1) << home.Log().toStdString();
    EXPECT_TRUE(ClientInstalled(home.path));
    EXPECT_GT(home.WaitForClient(), 0);
}

// Words the launcher does not know are reported and ignored: an unknown
// option, and a bare word, which is no option at all.
TEST(StartUp, UnknownArgumentsAreReportedAndIgnored)
{
    Home home;
    const Result run = home.RunProgram(kExe, {"--bogus", "foo"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("unknown option '--bogus' ignored")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("unexpected argument 'foo' ignored")) << run.err.toStdString();
    EXPECT_TRUE(ClientInstalled(home.path));
}

// The bundle is found from the running executable, not from argv[0].
TEST(StartUp, ThroughALinkOrAnyArgv0)
{
    Home linked;
    const QString link = linked.root + "/bin/lumora-launcher";
    ASSERT_TRUE(QDir().mkpath(linked.root + "/bin") && QFile::link(kExe, link));
    Result run = linked.RunProgram(link, {});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("lib path = '" + QFileInfo(kBundle).canonicalFilePath() + "/Contents/Frameworks/plugins'"))
        << run.out.toStdString();
    EXPECT_TRUE(ClientInstalled(linked.path));

    Home renamed;
    run = renamed.RunProgram("/bin/bash", {"-c", "exec -a lumora \"$0\"", kExe});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(ClientInstalled(renamed.path));
}

// Without a display, or without a usable home, the launcher says so and
// leaves everything as it was.
TEST(StartUp, NoDisplayOrNoUsableHomeTouchesNothing)
{
    Home home;
    Result run = home.Run(kBundle, {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("no display found")) << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(home.Lumora()));

    // A home whose name is not UTF-8 is refused rather than written to a twin.
    const QByteArray raw = QFile::encodeName(home.root) + "/h\xff";
    ASSERT_EQ(mkdir(raw.constData(), 0700), 0);
    // QProcess hands over text as UTF-8: the shell makes the raw name.
    run = home.RunProgram("/bin/bash", {"-c", "HOME=\"$(printf '%s/h\\377' \"$1\")\" exec \"$0\"", kExe, home.root});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("not valid UTF-8")) << run.err.toStdString();
    EXPECT_EQ(QDir(home.root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).filter(QChar(0xfffd)), QStringList());
    EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(raw + "/.Lumora")));
}

// --help and --version answer before anything happens; other options are
// reported and ignored.
TEST(StartUp, CommandLine)
{
    Home home;
    const QString build = QSettings(kBundle + "/Contents/Resources/INFO", QSettings::IniFormat).value("Version/build_version").toString();
    Result run = home.RunProgram(kExe, {"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.startsWith("lumora-launcher ") && run.out.trimmed().endsWith("." + build)) << run.out.toStdString();
    run = home.RunProgram(kExe, {"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.startsWith("Usage: lumora-launcher")) << run.out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(home.Lumora()));
    run = home.RunProgram(kExe, {"--frobnicate"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("unknown option '--frobnicate' ignored")) << run.err.toStdString();
    EXPECT_TRUE(ClientInstalled(home.path));
}

// A relative HOME is made absolute; an unset or empty one is the account's
// home (seen here through a private mount namespace, so nothing real is
// touched).
TEST(StartUp, RelativeUnsetOrEmptyHome)
{
    Home relative;
    Result run = relative.Run(kBundle, {"HOME=../home"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(ClientInstalled(relative.path));
    EXPECT_GT(relative.WaitForClient(), 0) << "the client starts from an absolute path";

    const struct passwd* account = getpwuid(getuid());
    if (geteuid() != 0 || account == nullptr || QProcess::execute("unshare", {"-m", "true"}) != 0)
        GTEST_SKIP() << "no private mount namespace here";
    for (const QString& env : {QString("-u HOME"), QString("HOME=")}) {
        Home home;
        run = home.RunProgram("unshare", {"-m", "/bin/sh", "-c", "mount --bind \"$1\" \"$2\" && exec env " + env + " \"$3\"",
                                          "sh", home.path, QFile::decodeName(account->pw_dir), kExe});
        EXPECT_EQ(run.exitCode, 0) << env.toStdString() << run.err.toStdString();
        EXPECT_TRUE(ClientInstalled(home.path)) << env.toStdString();
        EXPECT_GT(home.WaitForClient(), 0) << env.toStdString();
    }
}

// A home reached through a link: the running earlier client is stopped and
// its data migrated, as on a plain home.
TEST(StartUp, LinkedHomeStopsAndMigrates)
{
    Home home;
    const QString link = home.root + "/linked-home";
    ASSERT_TRUE(QFile::link(home.path, link));
    ASSERT_TRUE(CopyTree(kClient, home.path + "/.Tidewell/Tidewell.app"));
    ASSERT_TRUE(WriteFile(home.path + "/.Tidewell/data/settings.db", "user data"));
    QProcess old;
    old.setProcessEnvironment(home.Env({"HOME=" + link}));
    old.setProgram(link + "/.Tidewell/Tidewell.app/Contents/MacOS/lumora-ui");
    qint64 oldPid = 0;
    ASSERT_TRUE(old.startDetached(&oldPid));
    ASSERT_TRUE(Poll([&] { return ReadFile(home.path + "/.Tidewell/ui.pid").contains(QByteArray::number(oldPid)); }));
    const Result run = home.Run(kBundle, {"HOME=" + link});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(Poll([&] { return Gone(static_cast<pid_t>(oldPid)); })) << home.Log().toStdString();
    EXPECT_EQ(ReadFile(home.Lumora() + "/data/settings.db"), "user data") << home.Log().toStdString();
    EXPECT_FALSE(QFileInfo::exists(home.path + "/.Tidewell"));
    EXPECT_GT(home.WaitForClient(), 0);
}

// An earlier client that cannot be stopped (its pid names a process running
// from elsewhere) keeps its data where it is; a later run migrates it.
TEST(StartUp, EarlierClientThatCannotBeStoppedIsMigratedLater)
{
    Home home;
    QProcess other;
    other.start("sleep", {"300"});
    ASSERT_TRUE(other.waitForStarted());
    ASSERT_TRUE(WriteFile(home.path + "/.Tidewell/data/settings.db", "user data"));
    ASSERT_TRUE(WriteFile(home.path + "/.Tidewell/ui.pid", "pid=" + QByteArray::number(other.processId()) + "\n"));
    Result run = home.Run(kBundle);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(ReadFile(home.path + "/.Tidewell/data/settings.db"), "user data");
    EXPECT_FALSE(QFileInfo::exists(home.Lumora() + "/data"));
    EXPECT_TRUE(home.Log().contains("its data is migrated on a later run")) << home.Log().toStdString();
    EXPECT_TRUE(ClientInstalled(home.path));
    EXPECT_EQ(other.state(), QProcess::Running) << "a process of another program is never signalled";
    other.kill();
    other.waitForFinished();
    home.StopClient();
    run = home.Run(kBundle);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(ReadFile(home.Lumora() + "/data/settings.db"), "user data") << home.Log().toStdString();
    EXPECT_FALSE(QFileInfo::exists(home.path + "/.Tidewell"));
}

}  // namespace
