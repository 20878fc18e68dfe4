#include "notify-adapter.h"

#include <QtGlobal>

Notify_Adapter* Notify_Adapter::GetInstance()
{
    static Notify_Adapter instance;
    return &instance;
}

void Notify_Adapter::UpdateProgress(int total, int current)
{
    // The bar shows whole percent: a report that would not move it does not
    // cross to the main thread. A new total or a count going back starts a
    // new series.
    const int percent = total > 0 ? static_cast<int>(static_cast<qint64>(current) * 100 / total) : -1;
    if (total == last_total && current > last_current && percent == last_percent && current != total) {
        last_current = current;
        return;
    }
    last_total = total;
    last_current = current;
    last_percent = percent;
    emit sigUpdateProgress(total, current);
}

void Notify_Adapter::UpdateDialogText(QString text)
{
    emit sigUpdateDialogText(text);
}
