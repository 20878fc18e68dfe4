#include "service_fixture.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include "log.h"
#include "uipathmanager.h"

const char ServiceHome::kSourceInfo[] = ".Lumora/Lumora.app/Contents/Resources/INFO";
const char ServiceHome::kTargetInfo[] = "Launcher.app/Contents/Resources/INFO";
const char ServiceHome::kClientExecutable[] = ".Lumora/Lumora.app/Contents/MacOS/lumora-ui";

void ServiceHome::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    const QString h = m_dir.path();
    UIPathManager* paths = UIPathManager::getInstance();
    paths->setPath("user_lumora_path", h + "/.Lumora");
    paths->setPath("user_lumora_app_path", h + "/.Lumora/Lumora.app");
    paths->setPath("user_lumora_resource_path", h + "/.Lumora/Lumora.app/Contents/Resources");
    paths->setPath("user_lumora_data_path", h + "/.Lumora/data");
    paths->setPath("user_lumora_working_dir_path", h + "/.Lumora/Lumora.app/Contents/MacOS");
    paths->setPath("user_lumora_ui_path", h + "/" + kClientExecutable);
    paths->setPath("user_tidewell_path", h + "/.Tidewell");
    paths->setPath("user_tidewell_resource_path", h + "/.Tidewell/Tidewell.app/Contents/Resources");
    paths->setPath("root_resource_path", h + "/Launcher.app/Contents/Resources");

    // Whatever reads the home folder or the applications folder stays inside.
    m_savedHome = qgetenv("HOME");
    m_savedDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", QFile::encodeName(h));
    qputenv("XDG_DATA_HOME", QFile::encodeName(h + "/xdg"));

    writeFile("test.debug", "service_debug=7\nfile_op_debug=4\n");
    ASSERT_EQ(0, Logger::Initialize(Logger::LOG_TYPE_FILE, (h + "/test.log").toStdString(),
                                    (h + "/test.debug").toStdString(), 50, Logger::SAFETY_THREAD));
}

void ServiceHome::TearDown()
{
    Logger::Destroy();
    qputenv("HOME", m_savedHome);
    if (m_savedDataHome.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", m_savedDataHome);
}

void ServiceHome::writeFile(const QString& relative, const QByteArray& content)
{
    const QString full = path(relative);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(full).absolutePath()));
    QFile file(full);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(full);
    ASSERT_EQ(content.size(), file.write(content));
    // QSettings caches a file until its size or time changes; a rewrite of
    // the same size within one clock tick would read as the old content.
    ASSERT_TRUE(file.flush());
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(++m_writes),
                                 QFileDevice::FileModificationTime));
}

void ServiceHome::makeDir(const QString& relative)
{
    ASSERT_TRUE(QDir().mkpath(path(relative)));
}

bool ServiceHome::exists(const QString& relative) const
{
    return QFileInfo::exists(path(relative));
}

QByteArray ServiceHome::info(const QByteArray& build, const QByteArray& major)
{
    return "[Version]\nmajor_version=" + major + "\nminor_version=2\nbuild_version=" + build +
           "\nicon_overlay_version=1\n";
}

QString ServiceHome::log() const
{
    QFile file(path("test.log"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}
