// The process-wide relay through which worker-thread code that has no
// pointer to the user interface (the archive extractor) reports progress.
#pragma once

#include <QObject>
#include <QString>

// Relay for code that has no pointer to the Launcher (the archive extractor).
// Its signals are emitted on the worker thread and queued to the main thread.
class Notify_Adapter : public QObject {
    Q_OBJECT

public:
    static Notify_Adapter* GetInstance();

    // Called by one thread at a time (the worker's); emits sigUpdateProgress
    // only when the percentage it gives changes.
    void UpdateProgress(int total, int current);
    void UpdateDialogText(QString text);

signals:
    void sigUpdateProgress(int total, int current);
    void sigUpdateDialogText(QString text);

private:
    Notify_Adapter() = default;
    Q_DISABLE_COPY(Notify_Adapter)

    int last_total = 0;
    int last_current = 0;
    int last_percent = -1;
};
