// The launcher with its worker thread, driven by a recording service: order of
// the service calls, what the dialog shows and when, progress relayed from the
// worker thread, and the launcher's log lines.

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cloud-service.h"
#include "launcher.h"
#include "log.h"
#include "strtable.h"
#include "uipathmanager.h"

void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using Calls = std::vector<std::string>;

QString ClientText(int id) { return StrTable::LoadStr(id).arg(StrTable::LoadStr(841)); }
QString AgedFolder() { return UIPathManager::getInstance()->getPath("user_tidewell_path") + "/app"; }

// Written on the worker thread, read on the main thread after the join.
struct Record {
    Calls calls;
    bool all_on_worker_thread = true;
    bool aged_folder_gone_at_start = false;
    bool destroyed = false;
};

// Answers the decision as told and, when upgrading, reports as the extractor
// does: a label, then progress after each entry.
class RecordingService : public Service {
public:
    RecordingService(Record* record, bool need, int result, int total, std::vector<int> steps, QString text)
        : record(record), need(need), result(result), total(total), steps(std::move(steps)), text(text) {}
    ~RecordingService() override { record->destroyed = true; }

    void StopService() override { Note("StopService"); }
    void PreUpgrade() override { Note("PreUpgrade"); }
    bool IsNeedUpgrade() override { return Note("IsNeedUpgrade"), need; }
    int HandlePackageUpgrade() override
    {
        Note("HandlePackageUpgrade");
        if (!text.isEmpty())
            Notify_Adapter::GetInstance()->UpdateDialogText(text);
        for (int current : steps)
            Notify_Adapter::GetInstance()->UpdateProgress(total, current);
        return result;
    }
    void PostUpgrade() override
    {
        Note("PostUpgrade");
        record->aged_folder_gone_at_start = !QDir(AgedFolder()).exists();
    }

private:
    void Note(const char* call)
    {
        record->calls.push_back(call);
        record->all_on_worker_thread &= QThread::currentThread() != qApp->thread();
    }

    Record* record;
    bool need;
    int result, total;
    std::vector<int> steps;
    QString text;
};

// Watches the dialog: shows, its state when hidden, and each bar value with
// the label shown at that moment.
class DialogWatcher : public QObject {
public:
    explicit DialogWatcher(QProgressDialog* dialog) : dialog(dialog)
    {
        // Keep the toolkit's show-when-slow rule out of the way: only the
        // launcher may show the dialog here.
        dialog->setMinimumDuration(24 * 3600 * 1000);
        dialog->installEventFilter(this);
        connect(dialog->findChild<QProgressBar*>(), &QProgressBar::valueChanged, this, [this](int value) {
            values.push_back(value);
            labels_at_values.push_back(Label());
            off_main_thread |= QThread::currentThread() != qApp->thread();
        });
    }
    QString Label() const { return dialog->findChild<QLabel*>()->text(); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            ++shows;
            label_at_show = Label();
        } else if (event->type() == QEvent::Hide) {
            value_at_hide = dialog->value();
            label_at_hide = Label();
        }
        return false;
    }

    QProgressDialog* dialog;
    int shows = 0, value_at_hide = -1;
    QString label_at_show, label_at_hide;
    std::vector<int> values;
    std::vector<QString> labels_at_values;
    bool off_main_thread = false;
};

QString ReadLog()
{
    QFile file(QString::fromStdString(Logger::config.log_file));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class LauncherRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(AgedFolder())); }

    // Runs a launcher on a recording service as start-up does, until
    // LaunchDone quits the event loop or the deadline fails the test.
    void Run(bool need, int result, int total = 1, std::vector<int> steps = {}, QString text = QString())
    {
        const int log_start = ReadLog().size();
        auto* worker = new Worker(new RecordingService(&record, need, result, total, std::move(steps), text));
        auto* launcher = new Launcher(worker);
        DialogWatcher watcher(launcher->GetDialog());
        bool timed_out = false;
        QTimer::singleShot(60000, &watcher, [&timed_out] { timed_out = true, QCoreApplication::exit(1); });

        launcher->Run();
        launcher->Start();
        const int exit_code = QCoreApplication::exec();
        ASSERT_FALSE(timed_out) << "the launcher never finished";
        EXPECT_EQ(exit_code, 0);
        EXPECT_TRUE(worker->GetThread()->isFinished());
        EXPECT_FALSE(launcher->GetDialog()->isVisible());
        delete launcher;
        EXPECT_TRUE(record.destroyed) << "the service outlived the launcher";

        shows = watcher.shows, value_at_hide = watcher.value_at_hide;
        label_at_show = watcher.label_at_show, label_at_hide = watcher.label_at_hide;
        values = watcher.values, labels_at_values = watcher.labels_at_values;
        EXPECT_FALSE(watcher.off_main_thread) << "the dialog was changed off the main thread";
        EXPECT_TRUE(record.all_on_worker_thread) << "the service ran on the main thread";
        EXPECT_TRUE(record.aged_folder_gone_at_start) << "aged folder still there when the client starts";
        log = ReadLog().mid(log_start);
    }

    int LogLines(const QString& level, const QString& message) const
    {
        return log.count(QRegularExpression("\\[" + level + "\\] launcher\\(\\d+\\): " + message + "\\n"));
    }

    Record record;
    int shows = 0, value_at_hide = -1;
    QString label_at_show, label_at_hide, log;
    std::vector<int> values;
    std::vector<QString> labels_at_values;
};

TEST_F(LauncherRun, NoUpgradeNeverShowsTheDialogButStillStartsTheClient)
{
    Run(false, 0);

    EXPECT_EQ(record.calls, (Calls{"PreUpgrade", "IsNeedUpgrade", "PostUpgrade"}));
    EXPECT_EQ(shows, 0);
    EXPECT_EQ(log.count("] launcher("), 3) << log.toStdString();
    EXPECT_EQ(LogLines("DEBUG", "running"), 1);
    EXPECT_EQ(LogLines("DEBUG", "no need to upgrade"), 1);
    EXPECT_EQ(LogLines("DEBUG", "done"), 1);
}

TEST_F(LauncherRun, SuccessfulUpgradeShowsProgressThenReady)
{
    Run(true, 0, 7, {1, 2, 3, 4, 5}, "extracting");

    EXPECT_EQ(record.calls, (Calls{"PreUpgrade", "IsNeedUpgrade", "HandlePackageUpgrade", "PostUpgrade"}));
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(label_at_show, ClientText(537));
    // Relayed progress in order after the relayed label; then the worker's
    // own 100, then its ready label, all before the dialog hides.
    EXPECT_EQ(values, (std::vector<int>{14, 28, 42, 57, 71, 100}));
    EXPECT_EQ(labels_at_values, std::vector<QString>(6, "extracting"));
    EXPECT_EQ(value_at_hide, 100);
    EXPECT_EQ(label_at_hide, ClientText(521));
    EXPECT_EQ(log.count("] launcher("), 2) << log.toStdString();
    EXPECT_EQ(log.count("[ERROR]"), 0);
}

TEST_F(LauncherRun, FailedUpgradeKeepsTheLabelAndStillStartsTheClient)
{
    Run(true, -1, 3, {1, 2});

    EXPECT_EQ(record.calls, (Calls{"PreUpgrade", "IsNeedUpgrade", "HandlePackageUpgrade", "PostUpgrade"}));
    EXPECT_EQ(shows, 1);
    // No ready text: the label stays; only the exit fills the bar.
    EXPECT_EQ(values, (std::vector<int>{33, 66, 100}));
    EXPECT_EQ(labels_at_values, std::vector<QString>(3, ClientText(537)));
    EXPECT_EQ(value_at_hide, 100);
    EXPECT_EQ(label_at_hide, ClientText(537));
    EXPECT_EQ(log.count("[ERROR] launcher("), 1) << log.toStdString();
    EXPECT_EQ(LogLines("ERROR", "Failed to upgrade package"), 1);
    EXPECT_EQ(LogLines("DEBUG", "done"), 1);
}

TEST_F(LauncherRun, DeletingALauncherStopsAThreadStillRunning)
{
    auto* worker = new Worker(new RecordingService(&record, false, 0, 1, {}, QString()));
    auto* launcher = new Launcher(worker);
    launcher->Run();
    ASSERT_TRUE(worker->GetThread()->isRunning());
    delete launcher;  // must not abort on a running thread
    EXPECT_TRUE(record.destroyed);
    EXPECT_TRUE(record.calls.empty());
}

}  // namespace
