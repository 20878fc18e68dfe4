// The launcher's user interface: the Launcher object on the main thread, the
// Worker that runs the upgrade service on its own thread, and the progress dialog.
#pragma once

#include <QFont>
#include <QObject>
#include <QProgressDialog>
#include <QString>
#include <QThread>
#include <QTimer>

#include "notify-adapter.h"

class QCloseEvent;
class QLabel;
class Service;

// The font of the launcher's windows: the application font when the system
// has its family, otherwise the desktop's own UI font at the size asked for
// (fontconfig would silently substitute an arbitrary family).
QFont LauncherFont();

// The worker thread: it only runs an event loop.
class HandlerThread : public QThread {
    Q_OBJECT

public:
    HandlerThread() = default;

protected:
    void run() override;
};

// Window-modal progress window of a fixed width, created hidden, without a
// cancel button. Its label wraps, and the window grows taller than its base
// height when the text needs it. The running installation cannot be
// interrupted from it: Escape and the window's close button do nothing.
class ProcessingProgressDialog : public QProgressDialog {
    Q_OBJECT

public:
    ProcessingProgressDialog();

    // Sets the label and fits the height to it.
    void SetText(const QString& text);

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FitHeight();

    QLabel* label = nullptr;
    int base_height = 0;
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
    // client_started: whether the service could start the client.
    void sigServiceDone(bool client_started);
    // The launcher's exit status when it differs from the default (a repair
    // that failed); sent before sigServiceDone.
    void sigExitStatus(int status);
    void sigShowMsg();
    void sigUpdateProgress(int total, int steps);
    void sigSetLabelText(const QString& text);

private slots:
    void HandleServicce();

private:
    int ReportRepair(int upgraded);

    // The launcher wires its start signal to the private slot.
    friend class Launcher;

    HandlerThread* thread = nullptr;
    Service* service = nullptr;

    Q_DISABLE_COPY(Worker)
};

// Lives on the main thread: owns the worker and the dialog, forwards progress
// to the dialog and quits the application once the worker is done. The
// dialog is built only when a run needs it, and appears only when the work
// lasts longer than the show delay. When the client could not be started,
// a warning naming the log file is shown and the event loop ends with 1.
class Launcher : public QObject {
    Q_OBJECT

public:
    static constexpr int kShowDelayMs = 500;
    static constexpr int kFailureBoxTimeoutMs = 60000;
    // Where the extraction's progress stops until the installation is durable.
    static constexpr int kLastExtractionPercent = 99;

    Launcher();
    // Uses the given worker; the launcher takes ownership of it.
    explicit Launcher(Worker* worker);
    ~Launcher() override;

    void Run();
    void Start();
    // Asks the service for a repair (--repair) instead of a plain run; only
    // before Run.
    void SetRepair(bool repair);

    // The dialog, or null while no run has needed it.
    ProcessingProgressDialog* GetDialog() const { return dialog; }
    // How long the work runs before the dialog appears (tests change it).
    void SetShowDelay(int msec) { show_timer.setInterval(msec); }
    // Shows the failure warning also on platforms that show no windows
    // (offscreen tests look at it).
    void SetFailureWindowAlways(bool always) { failure_window_always = always; }

signals:
    void sigStart();

private slots:
    void SetExitStatus(int status);
    void LaunchDone(bool client_started);
    void UpdateProgress(int total, int steps);
    void UpdateExtractionProgress(int total, int steps);
    void SetLabelText(const QString& text);
    void ShowMsgBox();
    void ShowDialog();

private:
    // The dialog, built on first use.
    ProcessingProgressDialog* Dialog();

    Worker* worker = nullptr;
    ProcessingProgressDialog* dialog = nullptr;
    QTimer show_timer;
    int exit_status = 0;
    bool failure_window_always = false;

    Q_DISABLE_COPY(Launcher)
};
