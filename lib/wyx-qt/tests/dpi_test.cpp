#include <QString>

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "dpiinfo.h"
#include "helper_process.h"

namespace {

TEST(DPIinfo, ScaleFollowsLogicalDpiInQuarterSteps)
{
    EXPECT_DOUBLE_EQ(DPIinfo::scaleForLogicalDpi(96), 1.0);
    EXPECT_DOUBLE_EQ(DPIinfo::scaleForLogicalDpi(120), 1.25);
    EXPECT_DOUBLE_EQ(DPIinfo::scaleForLogicalDpi(144), 1.5);
    EXPECT_DOUBLE_EQ(DPIinfo::scaleForLogicalDpi(192), 2.0);
    EXPECT_DOUBLE_EQ(DPIinfo::scaleForLogicalDpi(100), 1.0);
    // Never below standard size, and nonsense readings count as standard.
    EXPECT_DOUBLE_EQ(DPIinfo::scaleForLogicalDpi(72), 1.0);
    EXPECT_DOUBLE_EQ(DPIinfo::scaleForLogicalDpi(0), 1.0);
    EXPECT_DOUBLE_EQ(DPIinfo::scaleForLogicalDpi(-96), 1.0);
    EXPECT_DOUBLE_EQ(DPIinfo::scaleForLogicalDpi(std::numeric_limits<double>::quiet_NaN()), 1.0);
    EXPECT_DOUBLE_EQ(DPIinfo::scaleForLogicalDpi(std::numeric_limits<double>::infinity()), 1.0);
}

TEST(DPIinfo, ScalesOnlyPixelLengthsOfAStyleSheet)
{
    const QString dialog = QStringLiteral("QProgressDialog { background-color: WhiteSmoke; vertical-align: middle; }");
    EXPECT_EQ(DPIinfo::scaleStyleSheet(dialog, 2.0), dialog);

    const QString sheet = QStringLiteral("QLabel { font-size: 12px; border: 1px solid #12px; margin: 0.5px 3px; }");
    EXPECT_EQ(DPIinfo::scaleStyleSheet(sheet, 1.0), sheet);
    EXPECT_EQ(DPIinfo::scaleStyleSheet(sheet, 1.5),
              QStringLiteral("QLabel { font-size: 18px; border: 2px solid #12px; margin: 1px 5px; }"));
    EXPECT_EQ(DPIinfo::scaleStyleSheet(sheet, 2.0),
              QStringLiteral("QLabel { font-size: 24px; border: 2px solid #24px; margin: 1px 6px; }")
                  .replace(QStringLiteral("#24px"), QStringLiteral("#12px")));
    // Units other than px and names that merely end in digits are left alone.
    const QString other = QStringLiteral("QWidget#box2px { width: 10pt; height: 2em; padding: 4pxx; }");
    EXPECT_EQ(DPIinfo::scaleStyleSheet(other, 2.0), other);
}

TEST(DPIinfo, FixedScaleOverridesTheScreenUntilReset)
{
    DPIinfo* info = DPIinfo::getInstance();
    ASSERT_EQ(info, DPIinfo::getInstance());
    // This process has no GUI application: the measured scale is standard.
    EXPECT_DOUBLE_EQ(info->getDPI(), 1.0);
    info->setDPI(1.5);
    EXPECT_DOUBLE_EQ(info->getDPI(), 1.5);
    EXPECT_EQ(info->getScaledStyleSheet(QStringLiteral("a { b: 10px; }")), QStringLiteral("a { b: 15px; }"));
    info->setDPI(std::nan(""));
    EXPECT_DOUBLE_EQ(info->getDPI(), 1.0);
    info->setDPI(2.0);
    info->setDPI(0.0);
    EXPECT_DOUBLE_EQ(info->getDPI(), 1.0);
    EXPECT_EQ(info->getScaledStyleSheet(QStringLiteral("a { b: 10px; }")), QStringLiteral("a { b: 10px; }"));
}

}  // namespace
