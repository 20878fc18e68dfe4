#include "launcher.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QStyle>

#include <cstdio>
#include <limits>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

#include "cloud-service.h"
#include "dpiinfo.h"
#include "failure-box.h"
#include "log.h"
#include "mac/mac-service.h"
#include "platform/colour-scheme.h"
#include "qtsingleapplication.h"
#include "strtable.h"
#include "uipathmanager.h"

namespace {

const char kLogComponent[] = "launcher_debug";

const int kTextReady = 521;         // "%1 is ready."
const int kTextInitializing = 537;  // "%1 is initializing..."
const int kTextClientName = 841;    // "Lumora Client"

const char kIconFile[] = "/images/ico_72_tidewell.png";
const char kLogFile[] = "/log/launcher.log";
const double kDialogWidth = 400.0;
const double kDialogHeight = 80.0;
const qreal kFallbackPointSize = 12.0;

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

QFont LauncherFont()
{
    const QFont asked = QApplication::font();
    if (QFontInfo(asked).family().compare(asked.family(), Qt::CaseInsensitive) == 0)
        return asked;
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(asked.pointSizeF() > 0 ? asked.pointSizeF() : kFallbackPointSize);
    return font;
}

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
    const QString icon_path =
        UIPathManager::getInstance()->getPath("root_resource_path") + kIconFile;

    setWindowTitle(StrTable::LoadStr(kTextClientName));
    // The launcher's icon from the icon theme where it is installed (a
    // packaged launcher), the bundle's own picture otherwise.
    setWindowIcon(QIcon::fromTheme(QStringLiteral("com.lumora.launcher"), QIcon(icon_path)));
    // A title and a system menu, nothing else: a fixed-size window has
    // nothing to minimise or maximise. Without CustomizeWindowHint the
    // window system would add its default buttons.
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
    setCancelButton(nullptr);
    setAutoReset(false);
    setValue(0);
    setRange(0, 100);
    // The launcher decides when the window appears; QProgressDialog's own
    // show-when-slow estimate would bring it up after a few milliseconds.
    setMinimumDuration(std::numeric_limits<int>::max());
    label = findChild<QLabel*>();
    label->setWordWrap(true);
    setFont(LauncherFont());
    // A dark desktop whose colours the platform theme did not hand over.
    if (palette().color(QPalette::Window).lightness() >= 128 && DesktopPrefersDark())
        setPalette(DarkPalette(palette()));
    setModal(true);
    setWindowModality(Qt::WindowModal);
    const double scale = DPIinfo::getInstance()->getDPI();
    setFixedWidth(static_cast<int>(scale * kDialogWidth));
    base_height = static_cast<int>(scale * kDialogHeight);
    SetText(ClientText(kTextInitializing));
}

void ProcessingProgressDialog::SetText(const QString& text)
{
    setLabelText(text);
    FitHeight();
}

void ProcessingProgressDialog::reject()
{
    // Escape: the installation goes on; the launcher hides the window when done.
}

void ProcessingProgressDialog::closeEvent(QCloseEvent* event)
{
    // QProgressDialog would cancel and hide; the launcher hides the window itself.
    event->ignore();
}

// QProgressDialog puts the label at the top, over the whole width less the
// side margins (at most a tenth of the width each), and the bar under it,
// one spacing below, with the bottom margin under the bar. The label gets
// the height its wrapped text needs; the window never gets lower than its
// base height.
void ProcessingProgressDialog::FitHeight()
{
    const QStyle* s = style();
    const int spacing = s->pixelMetric(QStyle::PM_LayoutVerticalSpacing, nullptr, this);
    const int bottom = s->pixelMetric(QStyle::PM_LayoutBottomMargin, nullptr, this);
    const int left = qMin(width() / 10, s->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, this));
    const int right = qMin(width() / 10, s->pixelMetric(QStyle::PM_LayoutRightMargin, nullptr, this));
    const int text = label->heightForWidth(width() - left - right);
    const int bar = findChild<QProgressBar*>()->sizeHint().height();
    setFixedHeight(qMax(base_height, text + spacing + bar + bottom));
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
    int upgraded = 1;  // 1: nothing to do, 0: replaced, -1: failed
    if (service->IsNeedUpgrade()) {
        emit sigShowMsg();
        const int r = service->HandlePackageUpgrade();
        upgraded = r == 0 ? 0 : -1;
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
    const bool client_started = service->client_started;
    if (service->repair)
        emit sigExitStatus(ReportRepair(upgraded));
    LOG_DEBUG(kLogComponent, "done\n");
    emit sigServiceDone(client_started);
}

// The one line a repair prints: what it did, or why it could not.
int Worker::ReportRepair(int upgraded)
{
    QString failure = QString::fromStdString(service->repair_failure);
    if (failure.isEmpty() && upgraded < 0)
        failure = QStringLiteral("the installation could not be replaced (see the log)");
    if (failure.isEmpty() && !service->client_started)
        failure = QStringLiteral("the client could not be started (see the log)");
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "lumora-launcher: repair failed: %s\n", failure.toLocal8Bit().constData());
        return 1;
    }
    if (upgraded == 0 && service->repaired_files > 0)
        std::printf("repaired %d files\n", service->repaired_files);
    else if (upgraded == 0)
        std::printf("reinstalled the installation\n");
    else
        std::printf("installation is intact\n");
    std::fflush(stdout);
    return 0;
}

// ---------------------------------------------------------------------------
// Launcher

Launcher::Launcher()
    : Launcher(new Worker())
{
}

Launcher::Launcher(Worker* worker)
    : worker(worker)
{
    show_timer.setSingleShot(true);
    show_timer.setInterval(kShowDelayMs);

    Notify_Adapter* notify = Notify_Adapter::GetInstance();
    connect(this, &Launcher::sigStart, worker, &Worker::HandleServicce);
    connect(worker, &Worker::sigShowMsg, this, &Launcher::ShowMsgBox);
    connect(worker, &Worker::sigExitStatus, this, &Launcher::SetExitStatus);
    connect(worker, &Worker::sigServiceDone, this, &Launcher::LaunchDone);
    connect(worker, &Worker::sigUpdateProgress, this, &Launcher::UpdateProgress);
    connect(worker, &Worker::sigSetLabelText, this, &Launcher::SetLabelText);
    connect(notify, &Notify_Adapter::sigUpdateProgress, this, &Launcher::UpdateExtractionProgress);
    connect(notify, &Notify_Adapter::sigUpdateDialogText, this, &Launcher::SetLabelText);
    connect(&show_timer, &QTimer::timeout, this, &Launcher::ShowDialog);
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

void Launcher::SetRepair(bool repair)
{
    worker->service->repair = repair;
}

void Launcher::UpdateProgress(int total, int steps)
{
    // A report without a total has no percentage; dividing would crash.
    if (total <= 0) {
        return;
    }
    // 64-bit product: archives with more than 21 million entries stay exact.
    Dialog()->setValue(static_cast<int>(static_cast<qint64>(steps) * 100 / total));
}

// The extraction's own count ends below 100: the bar reaches 100 only once
// the worker reports the installation complete, after it is on disk.
void Launcher::UpdateExtractionProgress(int total, int steps)
{
    if (total <= 0)
        return;
    Dialog()->setValue(static_cast<int>(qMin<qint64>(static_cast<qint64>(steps) * 100 / total, kLastExtractionPercent)));
}

void Launcher::SetLabelText(const QString& text)
{
    Dialog()->SetText(text);
}

// Builds the dialog now, so that progress has somewhere to go, and shows it
// once the work has lasted the show delay: a short installation never
// flashes a window.
void Launcher::ShowMsgBox()
{
    Dialog();
    if (!show_timer.isActive())
        show_timer.start();
}

void Launcher::ShowDialog()
{
    Dialog()->show();
}

ProcessingProgressDialog* Launcher::Dialog()
{
    if (!dialog)
        dialog = new ProcessingProgressDialog();
    return dialog;
}

void Launcher::SetExitStatus(int status)
{
    exit_status = status;
}

void Launcher::LaunchDone(bool client_started)
{
    show_timer.stop();
    if (dialog) {
        dialog->setValue(100);
        dialog->hide();
    }
    worker->GetThread()->quit();
    worker->GetThread()->wait();
    if (client_started) {
        QCoreApplication::exit(exit_status);
        return;
    }
    // Another launcher may start while the message waits for the user.
    if (auto* app = qobject_cast<QtSingleApplication*>(QCoreApplication::instance()))
        app->releaseLock();
    const QString log_file = UIPathManager::getInstance()->getPath("user_lumora_path") + kLogFile;
    LOG_WARNING(kLogComponent, "the client was not started, telling the user\n");
    ReportFailure(log_file, true, kFailureBoxTimeoutMs, failure_window_always);
    QCoreApplication::exit(1);
}
