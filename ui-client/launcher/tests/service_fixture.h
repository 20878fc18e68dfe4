// A temporary home for service tests: every registered path points into it and
// the service and file components log at every level to a file inside it.
#pragma once

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include "log.h"
#include "uipathmanager.h"

class ServiceHome : public ::testing::Test {
protected:
    static constexpr const char* kSourceInfo = ".Lumora/Lumora.app/Contents/Resources/INFO";
    static constexpr const char* kTargetInfo = "Launcher.app/Contents/Resources/INFO";
    static constexpr const char* kClientExecutable = ".Lumora/Lumora.app/Contents/MacOS/lumora-ui";

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        const char* paths[][2] = {
            {"user_lumora_path", ".Lumora"}, {"user_lumora_app_path", ".Lumora/Lumora.app"},
            {"user_lumora_resource_path", ".Lumora/Lumora.app/Contents/Resources"},
            {"user_lumora_data_path", ".Lumora/data"}, {"user_lumora_ui_path", kClientExecutable},
            {"user_lumora_working_dir_path", ".Lumora/Lumora.app/Contents/MacOS"},
            {"user_tidewell_path", ".Tidewell"},
            {"user_tidewell_resource_path", ".Tidewell/Tidewell.app/Contents/Resources"},
            {"root_resource_path", "Launcher.app/Contents/Resources"}};
        for (const auto& p : paths)
            UIPathManager::getInstance()->setPath(p[0], path(p[1]));
        // Whatever reads the home or the applications folder stays inside.
        qputenv("HOME", QFile::encodeName(home()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(path("xdg")));
        writeFile("test.debug", "service_debug=7\nfile_op_debug=4\n");
        ASSERT_EQ(0, Logger::Initialize(Logger::LOG_TYPE_FILE, path("test.log").toStdString(),
                                        path("test.debug").toStdString(), 50, Logger::SAFETY_THREAD));
    }
    void TearDown() override
    {
        Logger::Destroy();
        qputenv("HOME", m_savedHome);
        qputenv("XDG_DATA_HOME", m_savedDataHome);
    }

    QString home() const { return m_dir.path(); }
    QString path(const QString& relative) const { return home() + "/" + relative; }
    bool exists(const QString& relative) const { return QFileInfo::exists(path(relative)); }
    void makeDir(const QString& relative) { ASSERT_TRUE(QDir().mkpath(path(relative))); }
    void makeClientExecutable() { writeFile(kClientExecutable, "#!/bin/sh\n"); }
    void writeFile(const QString& relative, const QByteArray& content)
    {
        QFile file(path(relative));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(file).absolutePath()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(relative);
        ASSERT_EQ(content.size(), file.write(content));
        // QSettings caches by size and time: a same-size rewrite must look newer.
        ASSERT_TRUE(file.flush());
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(++m_writes),
                                     QFileDevice::FileModificationTime));
    }
    static QByteArray info(const QByteArray& build, const QByteArray& major = "3")
    {
        return "[Version]\nmajor_version=" + major + "\nminor_version=2\nbuild_version=" + build +
               "\nicon_overlay_version=1\n";
    }
    QString log() const
    {
        QFile file(path("test.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    bool logHas(const QString& text) const { return log().contains(text); }

private:
    QTemporaryDir m_dir;
    const QByteArray m_savedHome = qgetenv("HOME"), m_savedDataHome = qgetenv("XDG_DATA_HOME");
    int m_writes = 0;
};

// Polls `condition` until it holds or `timeoutMs` passes.
template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() <= timeoutMs)
        QThread::msleep(20);
    return condition();
}
