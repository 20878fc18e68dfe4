// A temporary home for service tests: the nine registry keys point into it,
// and the logger writes every level of the service and file components to a
// log file inside it.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

class ServiceHome : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString home() const { return m_dir.path(); }
    QString path(const QString& relative) const { return m_dir.path() + "/" + relative; }

    // Writes `content` to the file at `relative`, creating its folders.
    void writeFile(const QString& relative, const QByteArray& content);
    void makeDir(const QString& relative);
    bool exists(const QString& relative) const;

    // INFO files of the per-user installation and of the launcher's package.
    void writeSourceInfo(const QByteArray& content) { writeFile(kSourceInfo, content); }
    void writeTargetInfo(const QByteArray& content) { writeFile(kTargetInfo, content); }
    static QByteArray info(const QByteArray& build, const QByteArray& major = "3");
    void makeClientExecutable() { writeFile(kClientExecutable, "#!/bin/sh\n"); }

    QString log() const;
    bool logHas(const QString& text) const { return log().contains(text); }

    static const char kSourceInfo[];
    static const char kTargetInfo[];
    static const char kClientExecutable[];

private:
    QTemporaryDir m_dir;
    QByteArray m_savedHome;
    QByteArray m_savedDataHome;
    int m_writes = 0;
};

// Polls `condition` until it holds or `timeoutMs` passes.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs);
