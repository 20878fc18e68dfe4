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

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QBasicTimer close_timer;
    int timeout_ms;
};
