// The progress dialog as the launcher sets it up, its size at several display
// scales, and the launcher's progress arithmetic. No worker thread is started.

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>

#include <gtest/gtest.h>

#include <ostream>

#include "cloud-service.h"
#include "dpiinfo.h"
#include "launcher.h"
#include "uipathmanager.h"

void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

// A service the tests never run.
class IdleService : public Service {
public:
    void StopService() override {}
    int HandlePackageUpgrade() override { return 0; }
    void PostUpgrade() override {}
    void PreUpgrade() override {}
    bool IsNeedUpgrade() override { return false; }
};

QString IconPath()
{
    return UIPathManager::getInstance()->getPath("root_resource_path") + "/images/ico_72_tidewell.png";
}

class LauncherDialog : public ::testing::Test {
protected:
    void SetUp() override { DPIinfo::getInstance()->setDPI(1.0); }
    void TearDown() override
    {
        delete launcher;
        DPIinfo::getInstance()->setDPI(0.0);
        QFile::remove(IconPath());
    }

    ProcessingProgressDialog* Build()
    {
        delete launcher;
        launcher = new Launcher(new Worker(new IdleService()));
        return launcher->GetDialog();
    }

    void UpdateProgress(int total, int steps)
    {
        ASSERT_TRUE(QMetaObject::invokeMethod(launcher, "UpdateProgress", Qt::DirectConnection,
                                              Q_ARG(int, total), Q_ARG(int, steps)));
    }

    Launcher* launcher = nullptr;
};

TEST_F(LauncherDialog, IsSetUpHiddenModalAndWithoutCancel)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(IconPath()).path()));
    QImage icon(72, 72, QImage::Format_ARGB32);
    icon.fill(Qt::blue);
    ASSERT_TRUE(icon.save(IconPath(), "PNG"));

    ProcessingProgressDialog* dialog = Build();

    // Title and system-menu hints only; a window without a parent is always
    // of the window type.
    EXPECT_EQ(static_cast<unsigned>(dialog->windowFlags() & ~Qt::WindowType_Mask), 0x3000u);
    EXPECT_EQ(dialog->windowType(), Qt::Window);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->windowTitle(), QString("Lumora Client"));
    EXPECT_EQ(dialog->labelText(), QString("Lumora Client is initializing..."));
    EXPECT_EQ(dialog->minimum(), 0);
    EXPECT_EQ(dialog->maximum(), 100);
    EXPECT_FALSE(dialog->autoReset());
    EXPECT_TRUE(dialog->findChildren<QPushButton*>().isEmpty()) << "the dialog offers a cancel button";
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(dialog->styleSheet().contains("WhiteSmoke"));
    EXPECT_FALSE(dialog->windowIcon().pixmap(72, 72).isNull());
    EXPECT_EQ(dialog->font().toString(), QApplication::font().toString());

    // Without the icon file the dialog simply has no icon.
    ASSERT_TRUE(QFile::remove(IconPath()));
    dialog = Build();
    EXPECT_TRUE(dialog->windowIcon().pixmap(72, 72).isNull());
}

TEST_F(LauncherDialog, SizeFollowsTheDisplayScale)
{
    struct Case {
        double scale;
        QSize size;
    };
    const Case cases[] = {{1.0, QSize(400, 80)}, {1.5, QSize(600, 120)}, {2.0, QSize(800, 160)},
                          {1.25, QSize(500, 100)}, {1.009, QSize(403, 80)}};
    for (const Case& c : cases) {
        DPIinfo::getInstance()->setDPI(c.scale);
        ProcessingProgressDialog* dialog = Build();
        EXPECT_EQ(dialog->size(), c.size) << "scale " << c.scale;
        EXPECT_EQ(dialog->maximumSize(), dialog->minimumSize()) << "scale " << c.scale;
    }
}

TEST_F(LauncherDialog, ProgressIsAPercentageTruncatedTowardZero)
{
    ProcessingProgressDialog* dialog = Build();

    const struct {
        int total;
        int steps;
        int value;
    } cases[] = {{3, 1, 33}, {3, 2, 66}, {100, 100, 100}, {7, 1, 14}, {200, 1, 0},
                 // beyond 32-bit products
                 {100000000, 50000000, 50},
                 // no total: the value stays
                 {0, 5, 50}, {-3, 1, 50},
                 {40000000, 40000000, 100}};
    for (const auto& c : cases) {
        UpdateProgress(c.total, c.steps);
        EXPECT_EQ(dialog->value(), c.value) << c.steps << " of " << c.total;
    }

    // The launcher's label slot replaces the text as given.
    ASSERT_TRUE(QMetaObject::invokeMethod(launcher, "SetLabelText", Qt::DirectConnection,
                                          Q_ARG(QString, QString("extracting"))));
    EXPECT_EQ(dialog->labelText(), QString("extracting"));
}

}  // namespace
