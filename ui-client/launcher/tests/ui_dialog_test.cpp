// The progress dialog as the launcher sets it up, its size at several display
// scales and for long texts, the keys and the close button it ignores, the
// font it picks, the failure warning, the launcher's progress arithmetic, and
// the program that draws the dialog for the screenshots; no worker thread runs.
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include "cloud-service.h"
#include "dpiinfo.h"
#include "failure-box.h"
#include "launcher.h"
#include "strtable.h"
#include "uipathmanager.h"

// A service the tests never run.
struct IdleService : Service {
    void StopService() override {}
    int HandlePackageUpgrade() override { return 0; }
    void PostUpgrade() override {}
    void PreUpgrade() override {}
    bool IsNeedUpgrade() override { return false; }
};

std::unique_ptr<ProcessingProgressDialog> Build(double scale)
{
    DPIinfo::getInstance()->setDPI(scale);
    return std::unique_ptr<ProcessingProgressDialog>(new ProcessingProgressDialog());
}

std::unique_ptr<Launcher> BuildLauncher()
{
    DPIinfo::getInstance()->setDPI(1.0);
    return std::unique_ptr<Launcher>(new Launcher(new Worker(new IdleService())));
}

TEST(LauncherDialog, IsSetUpModalWithoutCancelScaledAndWithItsIcon)
{
    const QString icon = UIPathManager::getInstance()->getPath("root_resource_path") + "/images/ico_72_tidewell.png";
    ASSERT_TRUE(QDir().mkpath(QFileInfo(icon).path()));
    QImage image(72, 72, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(icon, "PNG"));
    std::unique_ptr<ProcessingProgressDialog> dialog = Build(1.0);
    ASSERT_TRUE(QFile::remove(icon));

    // Title and system-menu hints only, on a window of its own: no minimise
    // or maximise button on the fixed-size window.
    EXPECT_EQ(dialog->windowFlags(),
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
    EXPECT_FALSE(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Lumora Client");
    EXPECT_EQ(dialog->labelText().toStdString(), "Lumora Client is initializing...");
    EXPECT_FALSE(dialog->autoReset());
    EXPECT_TRUE(dialog->findChildren<QPushButton*>().isEmpty()) << "the dialog offers a cancel button";
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(dialog->windowIcon().pixmap(72, 72).isNull());
    // The platform's palette, not colours of its own.
    EXPECT_TRUE(dialog->styleSheet().isEmpty()) << dialog->styleSheet().toStdString();
    EXPECT_TRUE(dialog->findChild<QLabel*>()->wordWrap());
    // Without the icon file the dialog simply has no icon.
    EXPECT_TRUE(Build(1.0)->windowIcon().pixmap(72, 72).isNull());
    // A fixed size that follows the display scale while the text fits.
    const struct { double scale; QSize size; } cases[] = {
        {1.0, {400, 80}}, {1.5, {600, 120}}, {2.0, {800, 160}}, {1.25, {500, 100}}, {1.009, {403, 80}}};
    for (const auto& c : cases) {
        const std::unique_ptr<ProcessingProgressDialog> scaled = Build(c.scale);
        EXPECT_EQ(scaled->size(), c.size) << "scale " << c.scale;
        EXPECT_EQ(scaled->maximumSize(), scaled->minimumSize()) << "scale " << c.scale;
    }
}

// A text longer than a line makes the window taller, never wider, and a short
// one takes it back to its base height.
TEST(LauncherDialog, GrowsInHeightForALongTextAndShrinksBack)
{
    std::unique_ptr<ProcessingProgressDialog> dialog = Build(1.0);
    dialog->show();
    QLabel* label = dialog->findChild<QLabel*>();
    const QString long_text = QString("Lumora Client is initializing the per-user installation. ").repeated(4);
    const struct { QString text; bool taller; } cases[] = {
        {long_text, true}, {"Short.", false}, {long_text + long_text, true}, {"OK", false}};
    int last_tall = 0;
    for (const auto& c : cases) {
        dialog->SetText(c.text);
        EXPECT_EQ(dialog->width(), 400) << c.text.toStdString();
        EXPECT_EQ(dialog->height() > 80, c.taller) << dialog->height() << " for " << c.text.toStdString();
        const QRect needed = label->fontMetrics().boundingRect(label->contentsRect(),
                                                               Qt::TextWordWrap | label->alignment(), c.text);
        EXPECT_TRUE(label->contentsRect().contains(needed)) << c.text.toStdString();
        if (c.taller) {
            EXPECT_GT(dialog->height(), last_tall) << "a longer text, a taller window";
            last_tall = dialog->height();
        }
    }
}

TEST(LauncherDialog, EscapeAndTheCloseButtonLeaveItOpen)
{
    std::unique_ptr<ProcessingProgressDialog> dialog = Build(1.0);
    int canceled = 0;
    QObject::connect(dialog.get(), &QProgressDialog::canceled, [&canceled] { ++canceled; });
    dialog->show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(dialog.get(), &escape);
    EXPECT_TRUE(dialog->isVisible()) << "Escape closed the dialog";
    QCloseEvent close;
    QApplication::sendEvent(dialog.get(), &close);
    EXPECT_FALSE(close.isAccepted());
    EXPECT_FALSE(dialog->close());
    EXPECT_TRUE(dialog->isVisible()) << "the close button closed the dialog";
    EXPECT_EQ(canceled, 0);
    EXPECT_FALSE(dialog->wasCanceled());
    // The launcher's own hide still works.
    dialog->hide();
    EXPECT_FALSE(dialog->isVisible());
}

// The family asked for when the system has it, the desktop's UI font at the
// size asked for when fontconfig would put another family in its place.
TEST(LauncherDialog, FontIsTheAskedOneOrTheDesktopsWhenMissing)
{
    const QFont saved = QApplication::font();
    const QString system = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    const struct { const char* family; int size; QString expected; } cases[] = {
        {"Arial", 12, system}, {"Microsoft Sans Serif", 12, system}, {"No Such Family", 10, system},
        {"DejaVu Serif", 12, "DejaVu Serif"}, {"dejavu sans mono", 14, "dejavu sans mono"}};
    for (const auto& c : cases) {
        QApplication::setFont(QFont(c.family, c.size));
        const QFont font = LauncherFont();
        EXPECT_EQ(font.family(), c.expected) << c.family;
        EXPECT_EQ(font.pointSize(), c.size) << c.family;
        EXPECT_EQ(Build(1.0)->font().toString().toStdString(), font.toString().toStdString()) << c.family;
    }
    QApplication::setFont(saved);
}

// The dialog is built when a run first needs it, not with the launcher.
TEST(LauncherDialog, ProgressIsAPercentageTruncatedTowardZero)
{
    std::unique_ptr<Launcher> launcher = BuildLauncher();
    EXPECT_EQ(launcher->GetDialog(), nullptr);
    // {total, steps, value}; no total leaves the value as it was.
    const int cases[][3] = {{3, 1, 33}, {3, 2, 66}, {100, 100, 100}, {0, 5, 100}, {-3, 1, 100},
                            {200, 1, 0}, {100000000, 50000000, 50}};  // beyond 32-bit products
    for (const auto& c : cases) {
        ASSERT_TRUE(QMetaObject::invokeMethod(launcher.get(), "UpdateProgress", Qt::DirectConnection,
                                              Q_ARG(int, c[0]), Q_ARG(int, c[1])));
        ASSERT_NE(launcher->GetDialog(), nullptr);
        EXPECT_EQ(launcher->GetDialog()->value(), c[2]) << c[1] << " of " << c[0];
    }
}

// The warning names the log file under the translated texts, stays open
// until it is answered or its time is up, and closing it leaves the
// application running.
TEST(LauncherFailureBox, NamesTheLogAndClosesByItselfOrByItsButton)
{
    const QString log = QDir::homePath() + "/.Lumora/log/launcher.log";
    for (const bool press : {true, false}) {
        FailureBox box(log, press ? Launcher::kFailureBoxTimeoutMs : 1);
        EXPECT_EQ(box.icon(), QMessageBox::Warning);
        EXPECT_EQ(box.windowTitle(), StrTable::LoadStr(841));
        EXPECT_EQ(box.text(), StrTable::LoadStr(542).arg(StrTable::LoadStr(841)));
        EXPECT_EQ(box.informativeText(), StrTable::LoadStr(1044) + "\n" + log);
        EXPECT_FALSE(box.testAttribute(Qt::WA_QuitOnClose));
        ASSERT_EQ(box.buttons().size(), 1);
        if (press)
            QTimer::singleShot(0, box.buttons().first(), &QAbstractButton::click);
        bool timed_out = false;
        QTimer::singleShot(30000, &box, [&] { timed_out = true, box.reject(); });
        EXPECT_EQ(box.exec(), QMessageBox::Ok);
        EXPECT_FALSE(timed_out) << "the box stayed open";
        EXPECT_FALSE(box.isVisible());
    }
}

// The screenshot program draws the dialog at its base size, with its bar at 40 %.
TEST(DialogScreenshot, DrawsTheDialogToAPng)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_FONT_DPI", "96");
    env.insert("HOME", dir.path());
    helper.setProcessEnvironment(env);
    helper.start(DIALOG_SCREENSHOT, {"ger", dir.path() + "/ger.png"});
    ASSERT_TRUE(helper.waitForFinished(60000));
    ASSERT_EQ(helper.exitCode(), 0) << helper.readAllStandardError().toStdString();
    const QImage image(dir.path() + "/ger.png");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(400, 80));
    // The bar's fill: some pixels differ from the window's background.
    const QRgb background = image.pixel(0, 0);
    int other = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            other += image.pixel(x, y) != background;
    EXPECT_GT(other, 400);
}

// A desktop that asks for dark colours gets a dark dialog, also where the
// platform theme passes none on (GTK_THEME, GTK 3's settings file).
TEST(LauncherDialog, FollowsADarkDesktop)
{
    const QByteArray saved = qgetenv("GTK_THEME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    qputenv("GTK_THEME", "Adwaita");
    EXPECT_GE(Build(1.0)->palette().color(QPalette::Window).lightness(), 128) << "light stays light";
    qputenv("GTK_THEME", "Adwaita:dark");
    EXPECT_LT(Build(1.0)->palette().color(QPalette::Window).lightness(), 128);
    qunsetenv("GTK_THEME");
    ASSERT_TRUE(QDir().mkpath(config.path() + "/gtk-3.0"));
    QFile settings(config.path() + "/gtk-3.0/settings.ini");
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[Settings]\ngtk-application-prefer-dark-theme=1\n");
    settings.close();
    const auto dialog = Build(1.0);
    EXPECT_LT(dialog->palette().color(QPalette::Window).lightness(), 128);
    EXPECT_GE(dialog->palette().color(QPalette::WindowText).lightness(), 128);
    qputenv("XDG_CONFIG_HOME", savedConfig);
    if (saved.isNull())
        qunsetenv("GTK_THEME");
    else
        qputenv("GTK_THEME", saved);
}
