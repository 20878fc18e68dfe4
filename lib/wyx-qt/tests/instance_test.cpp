#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

#include <gtest/gtest.h>

#include "child_sanitizer.h"
#include "helper_process.h"
#include "instancelock.h"

namespace {

using wyxqt_test::kDeadlineMs;

// A helper process holding the lock of one home folder until it is closed
// or killed.
class Holder {
public:
    explicit Holder(const QString& home)
    {
        process.start(QStringLiteral(WYXQT_TEST_HELPER), {QStringLiteral("hold"), home});
    }
    ~Holder()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(kDeadlineMs);
        }
    }
    QString Answer()
    {
        QElapsedTimer timer;
        timer.start();
        while (!process.canReadLine() && timer.elapsed() < kDeadlineMs)
            process.waitForReadyRead(kDeadlineMs - static_cast<int>(timer.elapsed()));
        return QString::fromUtf8(process.readLine()).trimmed();
    }
    QProcess process;
};

class InstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        home = dir.filePath(QStringLiteral("home with späces"));
        other = dir.filePath(QStringLiteral("other"));
        ASSERT_TRUE(QDir().mkpath(home));
        ASSERT_TRUE(QDir().mkpath(other));
    }
    QTemporaryDir dir;
    QString home;
    QString other;
};

TEST_F(InstanceLockTest, OneHolderPerHomeFolder)
{
    InstanceLock first(home);
    ASSERT_TRUE(first.tryAcquire());
    EXPECT_FALSE(first.heldElsewhere());
    EXPECT_TRUE(first.tryAcquire()) << "taking a held lock again must keep it";

    // The same folder spelled differently is the same instance.
    InstanceLock second(home + QStringLiteral("//"));
    EXPECT_EQ(second.lockFilePath(), first.lockFilePath());
    EXPECT_FALSE(second.tryAcquire());
    EXPECT_TRUE(second.heldElsewhere());

    // Another home folder of the same user is not blocked.
    InstanceLock elsewhere(other);
    EXPECT_NE(elsewhere.lockFilePath(), first.lockFilePath());
    EXPECT_TRUE(elsewhere.tryAcquire());

    // The lock lives in the temporary folder, never in the home folder.
    EXPECT_TRUE(first.lockFilePath().startsWith(QDir::tempPath() + QLatin1Char('/')));
    EXPECT_TRUE(QDir(home).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(InstanceLockTest, ReleasedWhenTheHolderEnds)
{
    {
        InstanceLock first(home);
        ASSERT_TRUE(first.tryAcquire());
    }
    InstanceLock next(home);
    EXPECT_TRUE(next.tryAcquire());
}

TEST_F(InstanceLockTest, AnotherProcessBlocksUntilItIsKilled)
{
    Holder holder(home);
    ASSERT_EQ(holder.Answer(), QStringLiteral("held"));

    InstanceLock mine(home);
    EXPECT_FALSE(mine.tryAcquire());
    EXPECT_TRUE(mine.heldElsewhere());

    // A holder that dies without cleaning up leaves its lock file behind;
    // it must not block the next start.
    const qint64 pid = holder.process.processId();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
    ASSERT_TRUE(holder.process.waitForFinished(kDeadlineMs));
    EXPECT_TRUE(QFileInfo::exists(mine.lockFilePath()));
    EXPECT_TRUE(mine.tryAcquire());
    EXPECT_FALSE(mine.heldElsewhere());

    // And the process that starts next sees it held again.
    Holder late(home);
    EXPECT_EQ(late.Answer(), QStringLiteral("busy"));
}

TEST_F(InstanceLockTest, ApplicationObjectReportsARunningInstance)
{
    InstanceLock mine(home);
    ASSERT_TRUE(mine.tryAcquire());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home);
    wyxqt_test::SuppressOffscreenLeaks(env, dir.path());
    EXPECT_EQ(wyxqt_test::RunHelper({QStringLiteral("app")}, env), QStringLiteral("running=1 dpi=1.00"));

    env.insert(QStringLiteral("HOME"), other);
    EXPECT_EQ(wyxqt_test::RunHelper({QStringLiteral("app")}, env), QStringLiteral("running=0 dpi=1.00"));
}

}  // namespace
