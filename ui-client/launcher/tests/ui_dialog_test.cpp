// The progress dialog as the launcher sets it up, its size at several display
// scales, and the launcher's progress arithmetic; no worker thread runs.
#include <QDir>
#include <QImage>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>
#include "cloud-service.h"
#include "dpiinfo.h"
#include "launcher.h"
#include "uipathmanager.h"

// A service the tests never run.
struct IdleService : Service {
    void StopService() override {}
    int HandlePackageUpgrade() override { return 0; }
    void PostUpgrade() override {}
    void PreUpgrade() override {}
    bool IsNeedUpgrade() override { return false; }
};

std::unique_ptr<Launcher> Build(double scale)
{
    DPIinfo::getInstance()->setDPI(scale);
    return std::unique_ptr<Launcher>(new Launcher(new Worker(new IdleService())));
}

TEST(LauncherDialog, IsSetUpModalWithoutCancelScaledAndWithItsIcon)
{
    const QString icon = UIPathManager::getInstance()->getPath("root_resource_path") + "/images/ico_72_tidewell.png";
    ASSERT_TRUE(QDir().mkpath(QFileInfo(icon).path()));
    QImage image(72, 72, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(icon, "PNG"));
    std::unique_ptr<Launcher> launcher = Build(1.0);
    ASSERT_TRUE(QFile::remove(icon));
    ProcessingProgressDialog* dialog = launcher->GetDialog();

    // Title and system-menu hints only, on a window of its own.
    EXPECT_EQ(static_cast<unsigned>(dialog->windowFlags()), 0x3000u | Qt::Window);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Lumora Client");
    EXPECT_EQ(dialog->labelText().toStdString(), "Lumora Client is initializing...");
    EXPECT_FALSE(dialog->autoReset());
    EXPECT_TRUE(dialog->findChildren<QPushButton*>().isEmpty()) << "the dialog offers a cancel button";
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(dialog->windowIcon().pixmap(72, 72).isNull());
    // Without the icon file the dialog simply has no icon.
    EXPECT_TRUE(Build(1.0)->GetDialog()->windowIcon().pixmap(72, 72).isNull());
    // A fixed size that follows the display scale.
    const struct { double scale; QSize size; } cases[] = {
        {1.0, {400, 80}}, {1.5, {600, 120}}, {2.0, {800, 160}}, {1.25, {500, 100}}, {1.009, {403, 80}}};
    for (const auto& c : cases) {
        const std::unique_ptr<Launcher> scaled = Build(c.scale);
        EXPECT_EQ(scaled->GetDialog()->size(), c.size) << "scale " << c.scale;
        EXPECT_EQ(scaled->GetDialog()->maximumSize(), scaled->GetDialog()->minimumSize()) << "scale " << c.scale;
    }
}

TEST(LauncherDialog, ProgressIsAPercentageTruncatedTowardZero)
{
    std::unique_ptr<Launcher> launcher = Build(1.0);
    // {total, steps, value}; no total leaves the value as it was.
    const int cases[][3] = {{3, 1, 33}, {3, 2, 66}, {100, 100, 100}, {0, 5, 100}, {-3, 1, 100},
                            {200, 1, 0}, {100000000, 50000000, 50}};  // beyond 32-bit products
    for (const auto& c : cases) {
        ASSERT_TRUE(QMetaObject::invokeMethod(launcher.get(), "UpdateProgress", Qt::DirectConnection,
                                              Q_ARG(int, c[0]), Q_ARG(int, c[1])));
        EXPECT_EQ(launcher->GetDialog()->value(), c[2]) << c[1] << " of " << c[0];
    }
}
