// Turns termination signals into a Qt signal on the main thread: the handler
// only writes the signal number into a socket pair, a QSocketNotifier reads it.
#pragma once

#include <QObject>

class QSocketNotifier;

class SignalWatcher : public QObject {
    Q_OBJECT

public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // Installs the handler for SIGTERM, SIGINT and SIGHUP. False, with the
    // failing call in `error`, when that is not possible.
    bool Install(QString* error);

signals:
    void terminationRequested(int signalNumber);

private slots:
    void readSignal();

private:
    QSocketNotifier* m_notifier = nullptr;
};
