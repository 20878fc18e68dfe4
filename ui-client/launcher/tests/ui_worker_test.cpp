// The launcher with its worker thread, driven by a recording service: the
// order of the service calls, what the progress dialog shows and when, the
// relay of progress from the worker thread, and the log lines.

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

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "cloud-service.h"
#include "launcher.h"
#include "log.h"
#include "strtable.h"
#include "uipathmanager.h"

namespace {

// Longer than any run of the sequence, so a hung launcher fails the test.
const int kDeadlineMs = 60000;

QString ClientText(int id)
{
    return StrTable::LoadStr(id).arg(StrTable::LoadStr(841));
}

QString AgedFolder()
{
    return UIPathManager::getInstance()->getPath("user_tidewell_path") + "/app";
}

// What the service saw; written on the worker thread, read on the main thread
// after the worker thread has been joined.
struct Record {
    std::vector<std::string> calls;
    bool on_worker_thread = true;
    bool aged_folder_gone_at_post_upgrade = false;
    std::atomic<bool> destroyed{false};
};

class RecordingService : public Service {
public:
    RecordingService(std::shared_ptr<Record> record, bool need_upgrade, int upgrade_result, int total,
                     std::vector<int> steps, QString text)
        : record(std::move(record)), need_upgrade(need_upgrade), upgrade_result(upgrade_result),
          total(total), steps(std::move(steps)), text(std::move(text))
    {
    }
    ~RecordingService() override { record->destroyed = true; }

    void StopService() override { Note("StopService"); }
    void PreUpgrade() override { Note("PreUpgrade"); }
    bool IsNeedUpgrade() override
    {
        Note("IsNeedUpgrade");
        return need_upgrade;
    }
    // Reports as the extractor does: a label, then progress per entry.
    int HandlePackageUpgrade() override
    {
        Note("HandlePackageUpgrade");
        Notify_Adapter* notify = Notify_Adapter::GetInstance();
        if (!text.isEmpty())
            notify->UpdateDialogText(text);
        for (int current : steps)
            notify->UpdateProgress(total, current);
        return upgrade_result;
    }
    void PostUpgrade() override
    {
        Note("PostUpgrade");
        record->aged_folder_gone_at_post_upgrade = !QDir(AgedFolder()).exists();
    }

private:
    void Note(const char* call)
    {
        record->calls.push_back(call);
        if (QThread::currentThread() == qApp->thread())
            record->on_worker_thread = false;
    }

    std::shared_ptr<Record> record;
    bool need_upgrade;
    int upgrade_result;
    int total;
    std::vector<int> steps;
    QString text;
};

// Watches the dialog on the main thread: shows, the state at the moment it is
// hidden, and every value of its bar with the label shown at that moment.
class DialogWatcher : public QObject {
public:
    explicit DialogWatcher(QProgressDialog* dialog) : dialog(dialog)
    {
        // The toolkit's own rule shows a slow dialog after a while; keep it
        // out of the way so a show can only come from the launcher.
        dialog->setMinimumDuration(24 * 3600 * 1000);
        dialog->installEventFilter(this);
        QProgressBar* bar = dialog->findChild<QProgressBar*>();
        if (bar) {
            connect(bar, &QProgressBar::valueChanged, this, [this](int value) {
                values.push_back(value);
                labels_at_values.push_back(Label());
                if (QThread::currentThread() != qApp->thread())
                    off_main_thread = true;
            });
        }
    }

    QString Label() const
    {
        QLabel* label = dialog->findChild<QLabel*>();
        return label ? label->text() : QString();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == dialog && event->type() == QEvent::Show) {
            ++shows;
            label_at_show = Label();
        } else if (watched == dialog && event->type() == QEvent::Hide) {
            ++hides;
            value_at_hide = dialog->value();
            label_at_hide = Label();
        }
        return false;
    }

    QProgressDialog* dialog;
    int shows = 0;
    int hides = 0;
    int value_at_hide = -1;
    QString label_at_show;
    QString label_at_hide;
    std::vector<int> values;
    std::vector<QString> labels_at_values;
    bool off_main_thread = false;
};

QString ReadLog()
{
    QFile file(QString::fromStdString(Logger::config.log_file));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

class LauncherRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        record = std::make_shared<Record>();
        ASSERT_TRUE(QDir().mkpath(AgedFolder()));
        log_before = ReadLog().size();
    }

    // Builds a launcher on a recording service and runs it the way start-up
    // does, until LaunchDone quits the event loop or the deadline passes.
    void RunLauncher(bool need_upgrade, int upgrade_result, int total = 1, std::vector<int> steps = {},
                     QString text = QString())
    {
        auto* service = new RecordingService(record, need_upgrade, upgrade_result, total, std::move(steps),
                                             std::move(text));
        auto* worker = new Worker(service);
        auto* launcher = new Launcher(worker);
        DialogWatcher watcher(launcher->GetDialog());

        bool timed_out = false;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [&timed_out] {
            timed_out = true;
            QCoreApplication::exit(1);
        });
        deadline.start(kDeadlineMs);

        launcher->Run();
        launcher->Start();
        exit_code = QCoreApplication::exec();
        deadline.stop();

        ASSERT_FALSE(timed_out) << "the launcher never finished";
        thread_finished = worker->GetThread()->isFinished();
        shows = watcher.shows;
        hides = watcher.hides;
        visible_after = launcher->GetDialog()->isVisible();
        value_at_hide = watcher.value_at_hide;
        label_at_show = watcher.label_at_show;
        label_at_hide = watcher.label_at_hide;
        values = watcher.values;
        labels_at_values = watcher.labels_at_values;
        off_main_thread = watcher.off_main_thread;
        delete launcher;
        log = ReadLog().mid(log_before);
    }

    int CountLines(const QString& text) const { return log.count(text); }

    std::shared_ptr<Record> record;
    int log_before = 0;
    int exit_code = -1;
    bool thread_finished = false;
    int shows = 0;
    int hides = 0;
    bool visible_after = true;
    int value_at_hide = -1;
    QString label_at_show;
    QString label_at_hide;
    std::vector<int> values;
    std::vector<QString> labels_at_values;
    bool off_main_thread = false;
    QString log;
};

TEST_F(LauncherRun, NoUpgradeSkipsTheDialogAndStillCleansUpAndStartsTheClient)
{
    RunLauncher(false, 0);

    const std::vector<std::string> expected = {"PreUpgrade", "IsNeedUpgrade", "PostUpgrade"};
    EXPECT_EQ(record->calls, expected);
    EXPECT_TRUE(record->on_worker_thread);
    EXPECT_TRUE(record->aged_folder_gone_at_post_upgrade) << "aged folder not removed before the client starts";
    EXPECT_EQ(exit_code, 0);
    EXPECT_TRUE(thread_finished);
    EXPECT_EQ(shows, 0);
    EXPECT_FALSE(visible_after);
    EXPECT_TRUE(record->destroyed) << "the launcher did not delete the service";

    EXPECT_EQ(CountLines("] launcher("), 3) << qPrintable(log);
    EXPECT_EQ(CountLines("[DEBUG] launcher("), 3);
    EXPECT_TRUE(log.contains(QRegularExpression("\\[DEBUG\\] launcher\\(\\d+\\): running\\n")));
    EXPECT_TRUE(log.contains(QRegularExpression("\\[DEBUG\\] launcher\\(\\d+\\): no need to upgrade\\n")));
    EXPECT_TRUE(log.contains(QRegularExpression("\\[DEBUG\\] launcher\\(\\d+\\): done\\n")));
}

TEST_F(LauncherRun, SuccessfulUpgradeShowsProgressAndEndsReady)
{
    const QString extracting = "extracting";
    RunLauncher(true, 0, 7, {1, 2, 3, 4, 5}, extracting);

    const std::vector<std::string> expected = {"PreUpgrade", "IsNeedUpgrade", "HandlePackageUpgrade",
                                               "PostUpgrade"};
    EXPECT_EQ(record->calls, expected);
    EXPECT_TRUE(record->on_worker_thread);
    EXPECT_TRUE(record->aged_folder_gone_at_post_upgrade);
    EXPECT_EQ(exit_code, 0);
    EXPECT_TRUE(thread_finished);

    // Shown once, before any progress, with the first label; hidden at the end.
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(label_at_show, ClientText(537));
    EXPECT_GE(hides, 1);
    EXPECT_FALSE(visible_after);
    EXPECT_EQ(value_at_hide, 100);
    EXPECT_EQ(label_at_hide, ClientText(521));

    // The relayed progress arrives on the main thread, in order, after the
    // relayed label; the worker's own 100 comes before its ready label.
    const std::vector<int> expected_values = {14, 28, 42, 57, 71, 100};
    EXPECT_EQ(values, expected_values);
    EXPECT_FALSE(off_main_thread);
    for (const QString& label : labels_at_values)
        EXPECT_EQ(label, extracting);

    EXPECT_EQ(CountLines("] launcher("), 2) << qPrintable(log);
    EXPECT_EQ(CountLines("no need to upgrade"), 0);
    EXPECT_EQ(CountLines("[ERROR]"), 0);
}

TEST_F(LauncherRun, FailedUpgradeKeepsTheLabelAndStillStartsTheClient)
{
    RunLauncher(true, -1, 3, {1, 2});

    const std::vector<std::string> expected = {"PreUpgrade", "IsNeedUpgrade", "HandlePackageUpgrade",
                                               "PostUpgrade"};
    EXPECT_EQ(record->calls, expected);
    EXPECT_TRUE(record->aged_folder_gone_at_post_upgrade);
    EXPECT_EQ(exit_code, 0);
    EXPECT_TRUE(thread_finished);

    EXPECT_EQ(shows, 1);
    EXPECT_FALSE(visible_after);
    // No ready label: the dialog keeps what it showed; the bar is filled on exit.
    EXPECT_EQ(label_at_hide, ClientText(537));
    EXPECT_EQ(value_at_hide, 100);
    const std::vector<int> expected_values = {33, 66, 100};
    EXPECT_EQ(values, expected_values);

    EXPECT_EQ(CountLines("[ERROR] launcher("), 1) << qPrintable(log);
    EXPECT_TRUE(log.contains(QRegularExpression("\\[ERROR\\] launcher\\(\\d+\\): Failed to upgrade package\\n")));
    EXPECT_TRUE(log.contains(QRegularExpression("\\[DEBUG\\] launcher\\(\\d+\\): done\\n")));
}

}  // namespace
