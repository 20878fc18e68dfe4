#include "failure-box.h"

#include <QDir>
#include <QGuiApplication>
#include <QTimerEvent>

#include <cstdio>

#include "launcher.h"
#include "strtable.h"

namespace {

const int kTextClientError = 542;    // "%1 encountered an error."
const int kTextClientLogFiles = 1044;  // "Client log files"
const int kTextClientName = 841;     // "Lumora Client"

}  // namespace

FailureBox::FailureBox(const QString& log_file, int timeout_ms)
    : FailureBox(timeout_ms, StrTable::LoadStr(kTextClientLogFiles) + QLatin1Char('\n') +
                                 QDir::toNativeSeparators(log_file))
{
}

FailureBox::FailureBox(int timeout_ms, const QString& detail)
    : QMessageBox(QMessageBox::Warning, StrTable::LoadStr(kTextClientName),
                  StrTable::LoadStr(kTextClientError).arg(StrTable::LoadStr(kTextClientName)), QMessageBox::Ok),
      timeout_ms(timeout_ms)
{
    setInformativeText(detail);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFont(LauncherFont());
    setAttribute(Qt::WA_QuitOnClose, false);
}

void FailureBox::showEvent(QShowEvent* event)
{
    QMessageBox::showEvent(event);
    close_timer.start(timeout_ms, this);
}

void FailureBox::hideEvent(QHideEvent* event)
{
    close_timer.stop();
    QMessageBox::hideEvent(event);
}

void FailureBox::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != close_timer.timerId()) {
        QMessageBox::timerEvent(event);
        return;
    }
    close_timer.stop();
    done(QMessageBox::Ok);  // as if its only button was pressed
}

namespace {

// Platforms without a screen a person looks at.
bool ShowsNoWindows()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

}  // namespace

void ReportFailure(const QString& detail, bool detail_is_log_file, int timeout_ms, bool always_window)
{
    const QString message = StrTable::LoadStr(kTextClientError).arg(StrTable::LoadStr(kTextClientName));
    const QString shown = detail_is_log_file ? QDir::toNativeSeparators(detail) : detail;
    std::fprintf(stderr, "lumora-launcher: %s %s%s\n", message.toLocal8Bit().constData(),
                 detail_is_log_file ? "See " : "", shown.toLocal8Bit().constData());
    std::fflush(stderr);
    if (ShowsNoWindows() && !always_window)
        return;
    if (detail_is_log_file) {
        FailureBox box(detail, timeout_ms);
        box.exec();
    } else {
        FailureBox box(timeout_ms, detail);
        box.exec();
    }
}
