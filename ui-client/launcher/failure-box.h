// The warning shown when the launcher could not start the client.
#pragma once

#include <QBasicTimer>
#include <QMessageBox>
#include <QString>

// A warning that the client encountered an error, naming the launcher's log
// file. It has one button and closes by itself after timeout_ms; closing it
// does not quit the application.
class FailureBox : public QMessageBox {
    Q_OBJECT

public:
    FailureBox(const QString& log_file, int timeout_ms);
    // The warning with `detail` (what stands in the way) in place of the log
    // file's name.
    FailureBox(int timeout_ms, const QString& detail);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QBasicTimer close_timer;
    int timeout_ms;
};

// Tells the user that no client could be started: the message goes to
// standard error, and to a FailureBox on a platform that shows windows; on
// one that does not (offscreen, minimal) nobody would ever close it, so the
// caller goes on at once, unless `always_window` asks for the window
// anyway. `detail` is what the user should look at.
void ReportFailure(const QString& detail, bool detail_is_log_file, int timeout_ms, bool always_window = false);
