#include "launcher.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QIcon>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

#include "cloud-service.h"
#include "dpiinfo.h"
#include "log.h"
#include "mac/mac-service.h"
#include "strtable.h"
#include "uipathmanager.h"

namespace {

const char kLogComponent[] = "launcher_debug";

const int kTextReady = 521;         // "%1 is ready."
const int kTextInitializing = 537;  // "%1 is initializing..."
const int kTextClientName = 841;    // "Lumora Client"

const char kIconFile[] = "/images/ico_72_tidewell.png";
const char kDialogStyleSheet[] =
    "QProgressDialog { background-color: WhiteSmoke; vertical-align: middle; }";
const double kDialogWidth = 400.0;
const double kDialogHeight = 80.0;

// QThread::wait synchronises inside QtCore, which ThreadSanitizer does not see
// when Qt is not built with it: mark the end of the thread's run and the
// owner's join explicitly so the sanitizer knows the thread is done with it.
void MarkThreadDone(QThread* thread)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(thread);
#else
    Q_UNUSED(thread);
#endif
}

void MarkThreadJoined(QThread* thread)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(thread);
#else
    Q_UNUSED(thread);
#endif
}

// A label text with the client's name in place of %1.
QString ClientText(int id)
{
    return StrTable::LoadStr(id).arg(StrTable::LoadStr(kTextClientName));
}

}  // namespace

// ---------------------------------------------------------------------------
// HandlerThread

void HandlerThread::run()
{
    exec();
    MarkThreadDone(this);
}

// ---------------------------------------------------------------------------
// ProcessingProgressDialog

ProcessingProgressDialog::ProcessingProgressDialog()
    : QProgressDialog(nullptr, Qt::WindowFlags())
{
    const QFont font = QApplication::font();
    const QString icon_path =
        UIPathManager::getInstance()->getPath("root_resource_path") + kIconFile;

    setWindowTitle(StrTable::LoadStr(kTextClientName));
    setWindowIcon(QIcon(icon_path));
    setWindowFlags(Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
    setValue(0);
    setRange(0, 100);
    setLabelText(ClientText(kTextInitializing));
    setFont(font);
    setModal(true);
    setWindowModality(Qt::WindowModal);
    setFixedSize(static_cast<int>(DPIinfo::getInstance()->getDPI() * kDialogWidth),
                 static_cast<int>(DPIinfo::getInstance()->getDPI() * kDialogHeight));
    setStyleSheet(DPIinfo::getInstance()->getScaledStyleSheet(kDialogStyleSheet));
}

// ---------------------------------------------------------------------------
// Worker

Worker::Worker()
    : Worker(new MacService())
{
}

Worker::Worker(Service* service)
    : thread(new HandlerThread()), service(service)
{
    moveToThread(thread);
}

Worker::~Worker()
{
    if (thread) {
        // Deleting a running QThread aborts the process; stop it first when
        // the owner did not.
        if (thread->isRunning()) {
            thread->quit();
            thread->wait();
        }
        MarkThreadJoined(thread);
        delete thread;
    }
    if (service) {
        delete service;
    }
}

void Worker::StartThread()
{
    thread->start(QThread::InheritPriority);
}

void Worker::QuitThread()
{
    thread->quit();
}

void Worker::JoinThread()
{
    thread->wait();
}

void Worker::HandleServicce()
{
    LOG_DEBUG(kLogComponent, "running\n");
    service->PreUpgrade();
    if (service->IsNeedUpgrade()) {
        emit sigShowMsg();
        const int r = service->HandlePackageUpgrade();
        if (r != 0) {
            LOG_ERROR(kLogComponent, "Failed to upgrade package\n");
        } else {
            emit sigUpdateProgress(100, 100);
            emit sigSetLabelText(ClientText(kTextReady));
        }
    } else {
        LOG_DEBUG(kLogComponent, "no need to upgrade\n");
    }
    service->RemoveAgedFolders();
    service->PostUpgrade();
    LOG_DEBUG(kLogComponent, "done\n");
    emit sigServiceDone();
}

// ---------------------------------------------------------------------------
// Launcher

Launcher::Launcher()
    : Launcher(new Worker())
{
}

Launcher::Launcher(Worker* worker)
    : worker(worker), dialog(new ProcessingProgressDialog())
{
    dialog->setCancelButton(nullptr);
    dialog->setAutoReset(false);

    Notify_Adapter* notify = Notify_Adapter::GetInstance();
    connect(this, &Launcher::sigStart, worker, &Worker::HandleServicce);
    connect(worker, &Worker::sigShowMsg, this, &Launcher::ShowMsgBox);
    connect(worker, &Worker::sigServiceDone, this, &Launcher::LaunchDone);
    connect(worker, &Worker::sigUpdateProgress, this, &Launcher::UpdateProgress);
    connect(worker, &Worker::sigSetLabelText, this, &Launcher::SetLabelText);
    connect(notify, &Notify_Adapter::sigUpdateProgress, this, &Launcher::UpdateProgress);
    connect(notify, &Notify_Adapter::sigUpdateDialogText, this, &Launcher::SetLabelText);
}

Launcher::~Launcher()
{
    if (worker) {
        delete worker;
    }
    if (dialog) {
        delete dialog;
    }
}

void Launcher::Run()
{
    worker->GetThread()->start(QThread::InheritPriority);
}

void Launcher::Start()
{
    emit sigStart();
}

void Launcher::UpdateProgress(int total, int steps)
{
    // A report without a total has no percentage; dividing would crash.
    if (total <= 0) {
        return;
    }
    // 64-bit product: archives with more than 21 million entries stay exact.
    dialog->setValue(static_cast<int>(static_cast<qint64>(steps) * 100 / total));
}

void Launcher::SetLabelText(const QString& text)
{
    dialog->setLabelText(text);
}

void Launcher::ShowMsgBox()
{
    dialog->show();
}

void Launcher::LaunchDone()
{
    dialog->setValue(100);
    dialog->hide();
    worker->GetThread()->quit();
    worker->GetThread()->wait();
    QCoreApplication::quit();
}
