// The launcher's user interface: the Launcher object on the main thread, the
// Worker that runs the upgrade service on its own thread, and the progress dialog.
#pragma once

#include <QObject>
#include <QProgressDialog>
#include <QString>
#include <QThread>

#include "notify-adapter.h"

class Service;

// The worker thread: it only runs an event loop.
class HandlerThread : public QThread {
    Q_OBJECT

public:
    HandlerThread() = default;

protected:
    void run() override;
};

// Fixed-size, window-modal progress window; created hidden.
class ProcessingProgressDialog : public QProgressDialog {
    Q_OBJECT

public:
    ProcessingProgressDialog();
};

// Runs the service sequence on its own thread. Owns the thread and the service.
class Worker : public QObject {
    Q_OBJECT

public:
    // Runs the platform's service.
    Worker();
    // Runs the given service; the worker takes ownership of it.
    explicit Worker(Service* service);
    ~Worker() override;

    void StartThread();
    void QuitThread();
    void JoinThread();

    HandlerThread* GetThread() const { return thread; }

signals:
    void sigServiceDone();
    void sigShowMsg();
    void sigUpdateProgress(int total, int steps);
    void sigSetLabelText(const QString& text);

private slots:
    void HandleServicce();

private:
    // The launcher wires its start signal to the private slot.
    friend class Launcher;

    HandlerThread* thread = nullptr;
    Service* service = nullptr;

    Q_DISABLE_COPY(Worker)
};

// Lives on the main thread: owns the worker and the dialog, forwards progress
// to the dialog and quits the application once the worker is done.
class Launcher : public QObject {
    Q_OBJECT

public:
    Launcher();
    // Uses the given worker; the launcher takes ownership of it.
    explicit Launcher(Worker* worker);
    ~Launcher() override;

    void Run();
    void Start();

    ProcessingProgressDialog* GetDialog() const { return dialog; }

signals:
    void sigStart();

private slots:
    void LaunchDone();
    void UpdateProgress(int total, int steps);
    void SetLabelText(const QString& text);
    void ShowMsgBox();

private:
    Worker* worker = nullptr;
    ProcessingProgressDialog* dialog = nullptr;

    Q_DISABLE_COPY(Launcher)
};
