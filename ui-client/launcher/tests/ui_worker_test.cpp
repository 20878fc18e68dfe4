// The launcher with its worker thread, driven by a recording service: order of
// the service calls, what the dialog shows and when, progress relayed from the
// worker thread, the warning when the client was not started, and the
// launcher's log lines.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTimer>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "cloud-service.h"
#include "launcher.h"
#include "log.h"
#include "strtable.h"
#include "uipathmanager.h"

using Calls = std::vector<std::string>;
const Calls kUpgradeCalls{"PreUpgrade", "IsNeedUpgrade", "HandlePackageUpgrade", "PostUpgrade"};
QString ClientText(int id) { return StrTable::LoadStr(id).arg(StrTable::LoadStr(841)); }
QString AgedFolder() { return UIPathManager::getInstance()->getPath("user_tidewell_path") + "/app"; }
bool OnMainThread() { return QThread::currentThread() == qApp->thread(); }
QString ReadLog()
{
    QFile file(QString::fromStdString(Logger::config.log_file));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Also the application's event filter: it notes the dialog's shows and its
// state when hidden, and answers a warning box as a user would.
struct LauncherRun : ::testing::Test, QObject {
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(AgedFolder()));
        qApp->installEventFilter(this);
    }
    void TearDown() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* progress = qobject_cast<ProcessingProgressDialog*>(object);
        if (progress && event->type() == QEvent::Show) {
            ++shows, shown.release();
        } else if (progress && event->type() == QEvent::Hide) {
            value_at_hide = progress->value(), label_at_hide = progress->labelText();
        } else if (event->type() == QEvent::Show && qobject_cast<QMessageBox*>(object)) {
            auto* box = static_cast<QMessageBox*>(object);
            ++boxes, box_text = box->text() + "\n" + box->informativeText();
            dialog_visible_at_box = dialog && dialog->isVisible();
            QTimer::singleShot(0, box->buttons().first(), &QAbstractButton::click);
        }
        return false;
    }
    int LogLines(const QString& level, const QString& message) const
    {
        return log.count(QRegularExpression("\\[" + level + "\\] launcher\\(\\d+\\): " + message + "\\n"));
    }
    void Run();
    // What the service answers and, when upgrading, reports as the extractor does.
    bool need = false, client_starts = true;
    int result = 0, total = 1;
    std::vector<int> steps;
    QString text;
    // Whether the upgrade waits until the dialog is on screen, and the launcher's show delay.
    bool wait_for_show = false;
    int show_delay = Launcher::kShowDelayMs;
    QSemaphore shown;
    bool show_seen = false;
    // Written by the service on the worker thread, read after the join.
    Calls calls;
    bool all_on_worker = true, aged_folder_gone = false, destroyed = false;
    // Seen on the main thread, with each bar value the label at that moment.
    QProgressDialog* dialog = nullptr;
    int shows = 0, value_at_hide = -1, boxes = 0, final_value = -1;
    bool built = false, dialog_visible_at_box = false;
    QString label_at_hide, log, box_text, final_label;
    std::vector<int> values;
    std::vector<QString> labels;
    bool off_main_thread = false;
};

struct RecordingService : Service {
    explicit RecordingService(LauncherRun* t) : t(t) {}
    ~RecordingService() override { t->destroyed = true; }
    void Note(const char* call) { t->calls.push_back(call), t->all_on_worker &= !OnMainThread(); }
    void StopService() override { Note("StopService"); }
    void PreUpgrade() override { Note("PreUpgrade"); }
    bool IsNeedUpgrade() override { return Note("IsNeedUpgrade"), t->need; }
    int HandlePackageUpgrade() override
    {
        Note("HandlePackageUpgrade");
        if (t->wait_for_show)  // bounded: a launcher that never shows fails the test, not the run
            t->show_seen = t->shown.tryAcquire(1, 60000);
        if (!t->text.isEmpty())
            Notify_Adapter::GetInstance()->UpdateDialogText(t->text);
        for (int current : t->steps)
            Notify_Adapter::GetInstance()->UpdateProgress(t->total, current);
        return t->result;
    }
    void PostUpgrade() override
    {
        Note("PostUpgrade"), t->aged_folder_gone = !QDir(AgedFolder()).exists();
        client_started = t->client_starts;
    }
    LauncherRun* t;
};

// Runs a launcher as start-up does, until LaunchDone quits the event loop or the deadline fails the test.
void LauncherRun::Run()
{
    const int log_start = ReadLog().size();
    auto* worker = new Worker(new RecordingService(this));
    auto* launcher = new Launcher(worker);
    launcher->SetShowDelay(show_delay);
    launcher->SetFailureWindowAlways(true);
    EXPECT_EQ(launcher->GetDialog(), nullptr) << "the dialog was built before a run needed it";
    // Queued after the launcher's own slot: the dialog exists then, and no
    // progress has reached it yet.
    connect(worker, &Worker::sigShowMsg, this, [this, launcher] {
        dialog = launcher->GetDialog();
        ASSERT_NE(dialog, nullptr) << "asked to show, the launcher built no dialog";
        connect(dialog->findChild<QProgressBar*>(), &QProgressBar::valueChanged, this, [this](int value) {
            values.push_back(value), labels.push_back(dialog->labelText()), off_main_thread |= !OnMainThread();
        });
    });
    bool timed_out = false;
    QObject deadline;
    QTimer::singleShot(60000, &deadline, [&timed_out] { timed_out = true, QCoreApplication::exit(1); });
    launcher->Run();
    launcher->Start();
    const int exit_code = QCoreApplication::exec();
    ASSERT_FALSE(timed_out) << "the launcher never finished";
    EXPECT_EQ(exit_code, client_starts ? 0 : 1);
    EXPECT_EQ(boxes, client_starts ? 0 : 1);
    EXPECT_TRUE(worker->GetThread()->isFinished());
    built = launcher->GetDialog() != nullptr;
    if (built) {
        EXPECT_FALSE(launcher->GetDialog()->isVisible());
        final_value = launcher->GetDialog()->value(), final_label = launcher->GetDialog()->labelText();
    }
    delete launcher;
    EXPECT_TRUE(destroyed) << "the service outlived the launcher";
    EXPECT_FALSE(off_main_thread) << "the dialog was changed off the main thread";
    EXPECT_TRUE(all_on_worker) << "the service ran on the main thread";
    EXPECT_TRUE(aged_folder_gone) << "aged folder still there when the client starts";
    log = ReadLog().mid(log_start);
}

TEST_F(LauncherRun, NoUpgradeNeverShowsTheDialogButStillStartsTheClient)
{
    Run();
    EXPECT_EQ(calls, (Calls{"PreUpgrade", "IsNeedUpgrade", "PostUpgrade"}));
    EXPECT_EQ(shows, 0);
    EXPECT_FALSE(built) << "a run with nothing to upgrade built the dialog";
    EXPECT_EQ(log.count("] launcher("), 3) << log.toStdString();
    EXPECT_EQ(LogLines("DEBUG", "(running|no need to upgrade|done)"), 3);
}

TEST_F(LauncherRun, SuccessfulUpgradeShowsProgressThenReady)
{
    need = true, total = 7, steps = {1, 2, 3, 4, 5}, text = "extracting", wait_for_show = true;
    Run();
    EXPECT_EQ(calls, kUpgradeCalls);
    EXPECT_TRUE(show_seen) << "the dialog never appeared while the upgrade ran";
    EXPECT_EQ(shows, 1);
    // Relayed label and progress in order, then the worker's own 100 and its
    // ready label, all before the dialog hides.
    EXPECT_EQ(values, (std::vector<int>{14, 28, 42, 57, 71, 100}));
    EXPECT_EQ(labels, std::vector<QString>(6, "extracting"));
    EXPECT_EQ(value_at_hide, 100);
    EXPECT_EQ(label_at_hide, ClientText(521));
    EXPECT_EQ(log.count("] launcher("), 2) << log.toStdString();
    EXPECT_EQ(log.count("[ERROR]"), 0);
}

TEST_F(LauncherRun, FailedUpgradeKeepsTheLabelAndStillStartsTheClient)
{
    need = true, result = -1, total = 3, steps = {1, 2}, wait_for_show = true;
    Run();
    EXPECT_EQ(calls, kUpgradeCalls);
    EXPECT_TRUE(show_seen);
    EXPECT_EQ(shows, 1);
    // No ready text: the label stays; only the exit fills the bar.
    EXPECT_EQ(values, (std::vector<int>{33, 66, 100}));
    EXPECT_EQ(labels, std::vector<QString>(3, ClientText(537)));
    EXPECT_EQ(value_at_hide, 100);
    EXPECT_EQ(label_at_hide, ClientText(537));
    EXPECT_EQ(LogLines("ERROR", "Failed to upgrade package"), 1);
    EXPECT_EQ(log.count("[ERROR]"), 1) << log.toStdString();
}

// An upgrade done before the show delay never puts a window on screen, yet the
// hidden dialog still ends at 100 with the ready label.
TEST_F(LauncherRun, QuickUpgradeNeverShowsTheDialog)
{
    need = true, total = 4, steps = {1, 2, 3, 4}, show_delay = 3600 * 1000;
    Run();
    EXPECT_EQ(calls, kUpgradeCalls);
    EXPECT_TRUE(built);
    EXPECT_EQ(shows, 0);
    // The extraction's last step stops at 99: 100 means the installation is
    // on disk, which only the worker's report says.
    EXPECT_EQ(values, (std::vector<int>{25, 50, 75, 99, 100}));
    EXPECT_EQ(final_value, 100);
    EXPECT_EQ(final_label, ClientText(521));
}

// A run that ends without a client, with or without an upgrade: the dialog
// is gone, a warning names the log file, and the event loop ends with 1.
TEST_F(LauncherRun, ClientNotStartedWarnsNamingTheLogAndEndsWithOne)
{
    client_starts = false;
    Run();
    EXPECT_FALSE(built);
    EXPECT_TRUE(box_text.contains(UIPathManager::getInstance()->getPath("user_lumora_path") + "/log/launcher.log"))
        << box_text.toStdString();
    EXPECT_TRUE(box_text.startsWith(StrTable::LoadStr(542).arg(StrTable::LoadStr(841)))) << box_text.toStdString();
    EXPECT_EQ(LogLines("WARNING", "the client was not started, telling the user"), 1) << log.toStdString();
}

TEST_F(LauncherRun, FailedUpgradeWithoutAClientHidesTheDialogBeforeTheWarning)
{
    need = true, result = -1, total = 2, steps = {1}, wait_for_show = true, client_starts = false;
    Run();
    EXPECT_EQ(shows, 1);
    EXPECT_FALSE(dialog_visible_at_box);
    EXPECT_EQ(value_at_hide, 100);
    EXPECT_EQ(LogLines("ERROR", "Failed to upgrade package"), 1);
}

TEST_F(LauncherRun, DeletingALauncherStopsAThreadStillRunning)
{
    auto* worker = new Worker(new RecordingService(this));
    auto* launcher = new Launcher(worker);
    launcher->Run();
    ASSERT_TRUE(worker->GetThread()->isRunning());
    delete launcher;  // must not abort on a running thread
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(calls.empty());
}
