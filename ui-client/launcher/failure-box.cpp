#include "failure-box.h"

#include <QDir>
#include <QTimerEvent>

#include "launcher.h"
#include "strtable.h"

namespace {

const int kTextClientError = 542;    // "%1 encountered an error."
const int kTextClientLogFiles = 1044;  // "Client log files"
const int kTextClientName = 841;     // "Lumora Client"

}  // namespace

FailureBox::FailureBox(const QString& log_file, int timeout_ms)
    : QMessageBox(QMessageBox::Warning, StrTable::LoadStr(kTextClientName),
                  StrTable::LoadStr(kTextClientError).arg(StrTable::LoadStr(kTextClientName)), QMessageBox::Ok),
      timeout_ms(timeout_ms)
{
    setInformativeText(StrTable::LoadStr(kTextClientLogFiles) + QLatin1Char('\n') +
                       QDir::toNativeSeparators(log_file));
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
