// Runs the test helper program as a second process.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace wyxqt_test {

const int kDeadlineMs = 30000;

// Runs the helper to completion and returns its standard output, trimmed.
inline QString RunHelper(const QStringList& args, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(WYXQT_TEST_HELPER), args);
    EXPECT_TRUE(process.waitForStarted(kDeadlineMs)) << process.errorString().toStdString();
    EXPECT_TRUE(process.waitForFinished(kDeadlineMs)) << "helper did not finish";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The environment without any locale variable, plus the given ones.
inline QProcessEnvironment LocaleEnvironment(const QStringList& assignments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        env.remove(QString::fromLatin1(name));
    for (const QString& assignment : assignments) {
        const int eq = assignment.indexOf(QLatin1Char('='));
        env.insert(assignment.left(eq), assignment.mid(eq + 1));
    }
    return env;
}

}  // namespace wyxqt_test
