// The client's desktop entry: the launcher must read its Exec back and remove
// it, the desktop's validator must accept it, and the built client must keep
// it hidden from menus under the launcher's icon while it runs.
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>

#include "child_sanitizer.h"
#include "client-entry.h"
#include "platform/desktop-entry.h"
#include "platform/linux-app-registry.h"

namespace {

const client_entry::Names kNames{QStringLiteral("Lumora"), QStringLiteral(LUMORA_ICON_NAME),
                                 QStringLiteral(LUMORA_CLIENT_WM_CLASS)};

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 30000)
{
    QElapsedTimer timer;
    for (timer.start(); !condition(); QThread::msleep(10))
        if (timer.elapsed() > timeoutMs)
            return false;
    return true;
}

// The keys of the [Desktop Entry] group.
QMap<QString, QString> Keys(const QString& path)
{
    QMap<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    bool main = false;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(QLatin1Char('[')))
            main = line == QLatin1String("[Desktop Entry]");
        else if (main && line.contains(QLatin1Char('=')))
            keys.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
    return keys;
}

// desktop-file-validate's verdict: empty when it accepts the file, or when
// the tool is not installed.
QString ValidatorComplaints(const QString& path)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (tool.isEmpty())
        return QString();
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(tool, {path});
    if (!validate.waitForFinished(60000))
        return QStringLiteral("desktop-file-validate did not finish");
    const QString out = QString::fromUtf8(validate.readAll());
    return validate.exitCode() == 0 && out.trimmed().isEmpty() ? QString() : out + QStringLiteral("(exit ") +
                                                                                 QString::number(validate.exitCode()) + ')';
}

class ClientEntry : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString root = QDir(dir.path()).canonicalPath();

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(root + "/data"));
    }
    void TearDown() override { qunsetenv("XDG_DATA_HOME"); }
};

TEST_F(ClientEntry, TheLauncherReadsExecBackAndRemovesOnlyItsBundlesEntry)
{
    const QString entry = DesktopEntry::EntryPath();
    ASSERT_EQ(entry, root + "/data/applications/lumora-ui.desktop");
    const struct {
        QString folder;
        bool validates;  // a backslash is escaped once, as the launcher reads it, not twice
    } cases[] = {
        {"/home", true},
        {"/Jürgen Ødegård 日本/home", true},
        {"/it's a \"quoted\" `name`/home", true},
        {"/cost $HOME/home", true},
        {"/back\\slash/home", false},
    };
    LinuxAppRegistry registry;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder.toStdString());
        const QString bundle = root + c.folder + "/.Lumora/Lumora.app";
        const QString executable = bundle + "/Contents/MacOS/lumora-ui";
        QString error;
        ASSERT_TRUE(client_entry::Write(entry, kNames, executable, &error)) << error.toStdString();
        EXPECT_EQ(DesktopEntry::ExecProgram(entry), executable);
        // Desktops ignore the entry once the client it names is gone.
        if (!c.folder.contains('\\')) {
            QFile text(entry);
            ASSERT_TRUE(text.open(QIODevice::ReadOnly));
            EXPECT_TRUE(QString::fromUtf8(text.readAll()).split('\n').contains("TryExec=" + executable));
        }
        if (c.validates) {
            EXPECT_EQ(ValidatorComplaints(entry), QString());
        }
        EXPECT_EQ(registry.Unregister(bundle + "-other", &error), 0);
        EXPECT_TRUE(QFile::exists(entry)) << "another bundle's launcher keeps it";
        EXPECT_EQ(registry.Unregister(bundle, &error), 0) << error.toStdString();
        EXPECT_FALSE(QFile::exists(entry));
    }
}

TEST_F(ClientEntry, WriteFailsWhereNoFolderCanBeMade)
{
    ASSERT_TRUE(QFile(root + "/blocker").open(QIODevice::WriteOnly));
    QString error;
    EXPECT_FALSE(client_entry::Write(root + "/blocker/applications/lumora-ui.desktop", kNames, "/x", &error));
    EXPECT_FALSE(error.isEmpty());
}

// The built client, installed in a home with a blank in its path, lists
// itself hidden under the launcher's icon and window class.
TEST_F(ClientEntry, RunningClientKeepsAHiddenEntryUnderTheLaunchersIcon)
{
    qunsetenv("XDG_DATA_HOME");
    const QString home = root + "/a home", bundle = home + "/.Lumora/Lumora.app";
    ASSERT_TRUE(QDir().mkpath(home + "/.Lumora"));
    ASSERT_EQ(QProcess::execute("cp", {"-a", CLIENT_BUNDLE, bundle}), 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_DATA_HOME");
    env.insert("HOME", home);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    wyxqt_test::SuppressOffscreenLeaks(env, root);
    QProcess client;
    client.setProcessEnvironment(env);
    client.start(bundle + "/Contents/MacOS/lumora-ui", QStringList());
    ASSERT_TRUE(client.waitForStarted(30000));
    const QString entry = home + "/.local/share/applications/lumora-ui.desktop";
    const bool listed = WaitFor([&] { return QFile::exists(home + "/.Lumora/ui.pid") && QFile::exists(entry); });
    ::kill(static_cast<pid_t>(client.processId()), SIGTERM);
    EXPECT_TRUE(client.waitForFinished(30000));
    ASSERT_TRUE(listed) << client.readAllStandardError().toStdString();

    const QMap<QString, QString> keys = Keys(entry);
    EXPECT_EQ(keys.value("NoDisplay"), "true");
    EXPECT_EQ(keys.value("Icon"), LUMORA_ICON_NAME);
    EXPECT_EQ(keys.value("StartupWMClass"), LUMORA_CLIENT_WM_CLASS);
    EXPECT_EQ(DesktopEntry::ExecProgram(entry), bundle + "/Contents/MacOS/lumora-ui");
    EXPECT_EQ(ValidatorComplaints(entry), QString());
}

}  // namespace
