// Language codes, the single-instance lock (the helper is the other process) and display scaling.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>

#include "child_sanitizer.h"
#include "dpiinfo.h"
#include "instancelock.h"
#include "orvlocale.h"

static const int kDeadlineMs = 30000;

// Runs the helper with the locale variables cleared and `assignments` added,
// and returns its first line of output; a `holder` is left running after it.
static QString Helper(const QStringList& args, const QStringList& assignments = {}, QProcess* holder = nullptr)
{
    static QTemporaryDir scratch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        env.remove(QString::fromLatin1(name));
    for (const QString& assignment : assignments)
        env.insert(assignment.section(QLatin1Char('='), 0, 0), assignment.section(QLatin1Char('='), 1));
    wyxqt_test::SuppressOffscreenLeaks(env, scratch.path());
    QProcess own;
    QProcess& process = holder ? *holder : own;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(WYXQT_TEST_HELPER), args);
    EXPECT_TRUE(process.waitForStarted(kDeadlineMs)) << process.errorString().toStdString();
    EXPECT_TRUE(holder || (process.waitForFinished(kDeadlineMs) && process.exitStatus() == QProcess::NormalExit &&
                           process.exitCode() == 0))
        << process.readAllStandardError().toStdString();
    while (!process.canReadLine() && process.waitForReadyRead(kDeadlineMs)) {
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}

TEST(OrvLocale, MapsLanguagesToCodesWithEnglishAsFallback)
{
    const std::pair<QStringList, const char*> cases[] = {
        {{"zh_CN"}, "chs"}, {{"zh_TW"}, "cht"}, {{"zh_HK"}, "cht"}, {{"zh_MO"}, "cht"}, {{"zh"}, "chs"},
        {{"zh-Hant-CN"}, "cht"}, {{"zh-Hans-HK"}, "chs"}, {{"cs_CZ"}, "csy"}, {{"da_DK"}, "dan"}, {{"en_GB"}, "enu"},
        {{"fr_CA"}, "fre"}, {{"de_AT"}, "ger"}, {{"it_IT"}, "ita"}, {{"ja_JP"}, "jpn"}, {{"ko_KR"}, "krn"},
        {{"nl_BE"}, "nld"}, {{"nb_NO"}, "nor"}, {{"nn_NO"}, "nor"}, {{"no"}, "nor"}, {{"pl_PL"}, "plk"},
        {{"pt_BR"}, "ptb"}, {{"pt"}, "ptb"}, {{"pt_PT"}, "ptg"}, {{"pt_AO"}, "ptg"}, {{"ru_RU"}, "rus"},
        {{"es_MX"}, "spn"}, {{"sv-FI"}, "sve"}, {{"th_TH"}, "tha"}, {{"tr_TR"}, "trk"}, {{"hu_HU"}, "hun"},
        {{"el_GR"}, "enu"}, {{"C"}, "enu"}, {{"not a locale"}, "enu"}, {{}, "enu"},
        {{"", "fi_FI", "ko-KR", "de"}, "krn"}};  // the first language that has a code wins
    for (const auto& [languages, code] : cases)
        EXPECT_EQ(OrvLocale::codeForLanguages(languages).toStdString(), code) << languages.join(',').toStdString();
}

TEST(OrvLocale, ReadsTheLanguageFromTheEnvironment)
{
    const std::pair<QStringList, const char*> cases[] = {
        {{"LANG=th_TH.UTF-8"}, "tha"}, {{"LANG=de_DE.UTF-8", "LC_MESSAGES=zh_TW.UTF-8"}, "cht"},
        {{"LC_ALL=de_DE.UTF-8", "LANGUAGE=ja:de"}, "jpn"}, {{}, "enu"}};
    for (const auto& [assignments, code] : cases)
        EXPECT_EQ(Helper({"lang"}, assignments).toStdString(), code) << assignments.join(' ').toStdString();
}

class InstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid() && QDir().mkpath(home) && QDir().mkpath(other));
    }
    QTemporaryDir dir;
    QString home = dir.filePath(QStringLiteral("home with späces"));
    QString other = dir.filePath(QStringLiteral("other"));
};

TEST_F(InstanceLockTest, OneHolderPerUserAndHomeFolder)
{
    {
        InstanceLock first(home);
        ASSERT_TRUE(first.tryAcquire());
        EXPECT_TRUE(first.tryAcquire()) << "taking a held lock again must keep it";
        InstanceLock same(home + QStringLiteral("//"));  // the same folder spelled differently
        EXPECT_FALSE(same.tryAcquire());
        EXPECT_TRUE(same.heldElsewhere());
        InstanceLock elsewhere(other);
        EXPECT_TRUE(elsewhere.tryAcquire());
        // The lock lives in the per-user folder of the home, not in a shared one.
        EXPECT_EQ(first.lockFilePath(), QFileInfo(home).canonicalFilePath() + "/.Lumora/launcher.lock");
        // The same home reached through a link is the same lock.
        ASSERT_TRUE(QFile::link(home, dir.filePath(QStringLiteral("link"))));
        InstanceLock linked(dir.filePath(QStringLiteral("link")));
        EXPECT_FALSE(linked.tryAcquire());
    }
    InstanceLock next(home);
    EXPECT_TRUE(next.tryAcquire()) << "released when its holder ends";
}

// Whatever the file holds (left empty by a power loss, garbage, another
// host's name, a live process's pid), only a live holder blocks.
TEST_F(InstanceLockTest, TheFilesContentsNeverBlock)
{
    const QString path = InstanceLock::lockFilePathFor(home);
    for (const QByteArray& content : {QByteArray(), QByteArray("\xff\xfe garbage"),
                                      QByteArray("1\nlumora-launcher\nother-host\n"),
                                      QByteArray::number(getpid()) + "\nlumora-launcher\n"}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        InstanceLock lock(home);
        EXPECT_TRUE(lock.tryAcquire()) << content.toStdString();
        EXPECT_FALSE(lock.heldElsewhere());
        EXPECT_TRUE(lock.error().isEmpty()) << lock.error().toStdString();
    }
    // No lock at all (the per-user folder cannot be made): run, and say why.
    const QString blocked = dir.filePath(QStringLiteral("blocked"));
    ASSERT_TRUE(QDir().mkpath(blocked));
    QFile plain(blocked + "/.Lumora");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    InstanceLock none(blocked);
    EXPECT_TRUE(none.tryAcquire());
    EXPECT_FALSE(none.heldElsewhere());
    EXPECT_FALSE(none.error().isEmpty());
}

TEST_F(InstanceLockTest, AHolderKilledWithSigkillDoesNotBlock)
{
    QProcess holder, late;
    ASSERT_EQ(Helper({"hold", home}, {}, &holder), "held");
    InstanceLock mine(home);
    EXPECT_FALSE(mine.tryAcquire());
    EXPECT_TRUE(mine.heldElsewhere());
    holder.kill();  // SIGKILL: the holder leaves its lock file behind
    ASSERT_TRUE(holder.waitForFinished(kDeadlineMs));
    EXPECT_TRUE(QFileInfo::exists(mine.lockFilePath()));
    EXPECT_TRUE(mine.tryAcquire());
    EXPECT_FALSE(mine.heldElsewhere());
    // The process that starts next sees it held again.
    EXPECT_EQ(Helper({"hold", home}, {}, &late), "busy");
    late.kill();
    late.waitForFinished(kDeadlineMs);
}

TEST_F(InstanceLockTest, ApplicationObjectSeesAnInstanceOfTheSameHome)
{
    InstanceLock mine(home);
    ASSERT_TRUE(mine.tryAcquire());
    EXPECT_EQ(Helper({"app"}, {"QT_QPA_PLATFORM=offscreen", "HOME=" + home}), "running=1 dpi=1.00");
    EXPECT_EQ(Helper({"app"}, {"QT_QPA_PLATFORM=offscreen", "HOME=" + other}), "running=0 dpi=1.00");
}

TEST(DPIinfo, ScalesPixelLengthsInQuarterSteps)
{
    const double dpis[][2] = {{96, 1.0}, {120, 1.25}, {144, 1.5}, {192, 2.0}, {100, 1.0}, {72, 1.0}, {0, 1.0},
                              {-96, 1.0}, {NAN, 1.0}, {INFINITY, 1.0}};
    for (auto& d : dpis)
        EXPECT_DOUBLE_EQ(DPIinfo::scaleForLogicalDpi(d[0]), d[1]) << d[0];
    // Only px lengths scale: not colours, ids, other units or longer words.
    const QString sheet = QStringLiteral("QLabel { font-size: 12px; border: 1px solid #12px; margin: 0.5px 3px; }");
    const QString other = QStringLiteral("QWidget#box2px { width: 10pt; height: 2em; padding: 4pxx; }");
    EXPECT_EQ(DPIinfo::scaleStyleSheet(sheet, 1.0), sheet);
    EXPECT_EQ(DPIinfo::scaleStyleSheet(sheet, 1.5),
              QStringLiteral("QLabel { font-size: 18px; border: 2px solid #12px; margin: 1px 5px; }"));
    EXPECT_EQ(DPIinfo::scaleStyleSheet(other, 2.0), other);
    // A fixed scale overrides the screen until a nonsense value resets it.
    DPIinfo* info = DPIinfo::getInstance();
    info->setDPI(1.5);
    EXPECT_EQ(info->getScaledStyleSheet(QStringLiteral("a { b: 10px; }")), QStringLiteral("a { b: 15px; }"));
    info->setDPI(std::nan(""));
    EXPECT_DOUBLE_EQ(info->getDPI(), 1.0);
}
