// Runs a copy of the assembled launcher bundle in a temporary home folder and
// looks at what it leaves behind: its standard output, its log, its exit.
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cerrno>

#include <gtest/gtest.h>

#include "child_sanitizer.h"
#include "instancelock.h"

namespace {

const int kDeadlineMs = 60000;

const char* const kInfoKeys[] = {
    "user_tidewell_path",          "user_tidewell_app_path",        "user_tidewell_resource_path",
    "user_tidewell_data_path",     "user_tidewell_working_dir_path", "user_tidewell_lumora_ui_path",
    "root_resource_path",
};

struct RunResult {
    int exitCode = -1;
    QString out;
    QString err;
};

// Copies a folder tree, keeping permissions; skips the package so that no
// run installs or starts a client.
bool CopyTree(const QString& from, const QString& to)
{
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(from).relativeFilePath(path);
        if (rel.startsWith(QStringLiteral("Contents/Resources/package")))
            continue;
        const QString target = to + QLatin1Char('/') + rel;
        if (it.fileInfo().isDir()) {
            if (!QDir().mkpath(target))
                return false;
        } else if (!QFile::copy(path, target)) {
            return false;
        }
    }
    return true;
}

QStringList TreeListing(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << it.next();
    entries.sort();
    return entries;
}

bool ProcessGone(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Stops a client that a run may have started, through its pid file.
void StopClient(const QString& home)
{
    QFile file(home + QStringLiteral("/.Lumora/ui.pid"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QRegularExpression pidLine(QStringLiteral("^\\s*pid\\s*=\\s*(\\d+)"), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = pidLine.match(QString::fromUtf8(file.readAll()));
    if (!m.hasMatch())
        return;
    const pid_t pid = static_cast<pid_t>(m.captured(1).toLongLong());
    if (pid <= 1 || ::kill(pid, SIGTERM) != 0)
        return;
    QElapsedTimer timer;
    timer.start();
    while (!ProcessGone(pid) && timer.elapsed() < kDeadlineMs)
        QThread::msleep(10);
    if (!ProcessGone(pid))
        ::kill(pid, SIGKILL);
}

class LauncherRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        const QString base = QDir(root.path()).canonicalPath();
        bundle = base + QStringLiteral("/bündle dir/Lumora Launcher.app");
        ASSERT_TRUE(CopyTree(QStringLiteral(LUMORA_TEST_BUNDLE), bundle));
        home = base + QStringLiteral("/home");
        ASSERT_TRUE(QDir().mkpath(home));
    }

    void TearDown() override { StopClient(home); }

    void SetLevels(const QByteArray& text)
    {
        QFile file(LevelFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(text), text.size());
    }

    QString LevelFile() const { return bundle + QStringLiteral("/Contents/Resources/log/launcher.debug"); }
    QString LogFile() const { return home + QStringLiteral("/.Lumora/log/launcher.log"); }

    RunResult Launch(const QStringList& extraEnv = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        wyxqt_test::SuppressOffscreenLeaks(env, root.path());
        for (const QString& assignment : extraEnv) {
            const int eq = assignment.indexOf(QLatin1Char('='));
            env.insert(assignment.left(eq), assignment.mid(eq + 1));
        }
        QProcess process;
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(home);
        process.start(bundle + QStringLiteral("/Contents/MacOS/lumora-launcher"), QStringList());
        RunResult run;
        if (!process.waitForStarted(kDeadlineMs)) {
            ADD_FAILURE() << "launcher did not start: " << process.errorString().toStdString();
            return run;
        }
        if (!process.waitForFinished(kDeadlineMs)) {
            process.kill();
            process.waitForFinished(kDeadlineMs);
            ADD_FAILURE() << "launcher did not finish";
        }
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << run.err.toStdString();
        run.exitCode = process.exitCode();
        return run;
    }

    QString ReadLog() const
    {
        QFile file(LogFile());
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(file.readAll());
    }

    // The "key = value" pairs of the start-up INFO lines, in log order.
    static QVector<QPair<QString, QString>> InfoLines(const QString& log)
    {
        static const QRegularExpression line(QStringLiteral(
            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d \\( *\\d+: *\\d+\\) \\[INFO\\] main\\(\\d+\\): >>> (\\w+) = (.*)$"));
        QVector<QPair<QString, QString>> pairs;
        for (const QString& text : log.split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch m = line.match(text);
            if (m.hasMatch())
                pairs.append({m.captured(1), m.captured(2)});
        }
        return pairs;
    }

    void ExpectStartupLines(const QString& log)
    {
        const auto pairs = InfoLines(log);
        ASSERT_EQ(pairs.size(), 7) << log.toStdString();
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(pairs[i].first, QString::fromLatin1(kInfoKeys[i]));
        EXPECT_EQ(pairs[0].second, home + QStringLiteral("/.Tidewell"));
        EXPECT_EQ(pairs[2].second, home + QStringLiteral("/.Tidewell/Tidewell.app/Contents/Resources"));
        EXPECT_EQ(pairs[6].second, bundle + QStringLiteral("/Contents/Resources"));
        EXPECT_FALSE(pairs[6].second.contains(QStringLiteral("..")));
        // Keys start-up logs but never stores read as empty.
        for (int i : {1, 3, 4, 5})
            EXPECT_TRUE(pairs[i].second.isEmpty()) << kInfoKeys[i];
    }

    QTemporaryDir root;
    QString bundle;
    QString home;
};

TEST_F(LauncherRun, LogsWhereItLooksAndRunsTheLauncher)
{
    SetLevels("launcher_debug=7\n");
    const QStringList before = TreeListing(bundle);

    const RunResult run = Launch();
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.split(QLatin1Char('\n')).first(),
              QStringLiteral("lib path = '%1/Contents/Frameworks/plugins'").arg(bundle));

    const QString log = ReadLog();
    ExpectStartupLines(log);
    EXPECT_FALSE(log.contains(QStringLiteral("app has already launched")));
    // The worker ran: the launcher was created, started and waited for.
    EXPECT_TRUE(log.contains(QRegularExpression(QStringLiteral("\\[DEBUG\\] launcher\\(\\d+\\): running"))));
    // Nothing is written into the bundle.
    EXPECT_EQ(TreeListing(bundle), before);
}

TEST_F(LauncherRun, SecondInstanceLeavesWithoutRunningTheService)
{
    SetLevels("launcher_debug=7\n");
    InstanceLock first(home);
    ASSERT_TRUE(first.tryAcquire());

    const RunResult run = Launch();
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QString log = ReadLog();
    ExpectStartupLines(log);
    EXPECT_TRUE(log.trimmed().endsWith(QStringLiteral("app has already launched, return"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QRegularExpression(QStringLiteral("\\[DEBUG\\] main\\(\\d+\\): app has already"))));
    EXPECT_FALSE(log.contains(QStringLiteral("] launcher(")));
    EXPECT_FALSE(QFileInfo::exists(home + QStringLiteral("/.Lumora/Lumora.app")));

    // Without a level file the second start adds nothing to the log.
    ASSERT_TRUE(QFile::remove(LevelFile()));
    const RunResult quiet = Launch();
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(ReadLog(), log);
}

TEST_F(LauncherRun, AnotherHomeIsNotBlockedByARunningInstance)
{
    SetLevels("launcher_debug=7\n");
    InstanceLock elsewhere(home + QStringLiteral("-other"));
    ASSERT_TRUE(elsewhere.tryAcquire());

    const RunResult run = Launch();
    EXPECT_EQ(run.exitCode, 0);
    const QString log = ReadLog();
    EXPECT_FALSE(log.contains(QStringLiteral("app has already launched")));
    EXPECT_TRUE(log.contains(QStringLiteral("] launcher(")));
}

TEST_F(LauncherRun, BlockedLogFolderStillRunsWithoutALog)
{
    ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/.Lumora")));
    QFile blocker(home + QStringLiteral("/.Lumora/log"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const RunResult run = Launch();
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("lib path = '")));
    EXPECT_TRUE(QFileInfo(blocker.fileName()).isFile());
    EXPECT_EQ(QFileInfo(blocker.fileName()).size(), 0);
    EXPECT_TRUE(run.err.contains(QStringLiteral("QDir::mkpath(")));
}

TEST_F(LauncherRun, BrokenLevelFileLeavesOnlyWarningsAndErrors)
{
    // A syntax error empties the whole level map: no INFO line is written.
    SetLevels("launcher_debug=7\nthis is not a level line\n");
    RunResult run = Launch();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(QFileInfo(LogFile()).isFile());
    EXPECT_TRUE(InfoLines(ReadLog()).isEmpty());

    // A level file that cannot be read (a folder in its place) behaves like none.
    ASSERT_TRUE(QFile::remove(LevelFile()));
    ASSERT_TRUE(QDir().mkpath(LevelFile()));
    ASSERT_TRUE(QFile::remove(LogFile()));
    run = Launch();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(QFileInfo(LogFile()).isFile());
    EXPECT_TRUE(InfoLines(ReadLog()).isEmpty());
}

TEST_F(LauncherRun, HomeWithSpacesAndNonAsciiLetters)
{
    home = QDir(root.path()).canonicalPath() + QStringLiteral("/Jürgen Ødegård 日本 home");
    ASSERT_TRUE(QDir().mkpath(home));
    SetLevels("launcher_debug=7\n");

    const RunResult run = Launch();
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectStartupLines(ReadLog());

    // The same with a UTF-8 locale and a language that has its own font.
    ASSERT_TRUE(QFile::remove(LogFile()));
    const RunResult thai = Launch({QStringLiteral("LANG=th_TH.UTF-8")});
    EXPECT_EQ(thai.exitCode, 0) << thai.err.toStdString();
    ExpectStartupLines(ReadLog());
}

TEST_F(LauncherRun, AnyLanguageStartsCleanly)
{
    SetLevels("launcher_debug=7\n");
    for (const char* env : {"LANGUAGE=de", "LANG=zh_TW.UTF-8", "LANG=el_GR.UTF-8", "LANGUAGE=xx:yy"}) {
        const RunResult run = Launch({QString::fromLatin1(env)});
        EXPECT_EQ(run.exitCode, 0) << env << ": " << run.err.toStdString();
    }
    EXPECT_EQ(InfoLines(ReadLog()).size(), 4 * 7);
}

TEST(LauncherBundle, HoldsEverythingTheLauncherNeeds)
{
    const QString contents = QStringLiteral(LUMORA_TEST_BUNDLE "/Contents");
    EXPECT_TRUE(QFileInfo(contents + QStringLiteral("/MacOS/lumora-launcher")).isExecutable());

    QSettings info(contents + QStringLiteral("/Resources/INFO"), QSettings::IniFormat);
    EXPECT_EQ(info.status(), QSettings::NoError);
    EXPECT_EQ(info.value(QStringLiteral("Version/build_version")).toString(),
              QStringLiteral(LUMORA_TEST_BUILD_VERSION));
    for (const char* key : {"major_version", "minor_version", "icon_overlay_version"})
        EXPECT_FALSE(info.value(QStringLiteral("Version/") + QLatin1String(key)).toString().isEmpty()) << key;

    const QImage icon(contents + QStringLiteral("/Resources/images/ico_72_tidewell.png"), "PNG");
    EXPECT_EQ(icon.size(), QSize(72, 72));

    QFile levels(contents + QStringLiteral("/Resources/log/launcher.debug"));
    ASSERT_TRUE(levels.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(levels.readAll());
    for (const char* component : {"launcher_debug", "service_debug", "extractor_debug", "file_op_debug"})
        EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("(^|\\n)%1=6\\n").arg(QLatin1String(component)))))
            << component;

    for (const char* plugin : {"platforms/libqxcb.so", "platforms/libqoffscreen.so", "platforms/libqminimal.so"})
        EXPECT_TRUE(QFileInfo(contents + QStringLiteral("/Frameworks/plugins/") + QLatin1String(plugin)).isFile())
            << plugin;
}

}  // namespace
