// The dialog's texts fit its window in every language: for the two labels the
// dialog shows, the wrapped text lies within the label, and the label within
// the window and above the bar. The display scale is the screen's: ctest runs
// this program at a font DPI of 96 (scale 1.0) and of 192 (scale 2.0).
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTranslator>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "app-startup.h"
#include "dpiinfo.h"
#include "launcher.h"
#include "strtable.h"

static void RegisterTexts()
{
    Q_INIT_RESOURCE(texts);
}

namespace {

std::vector<std::string> Languages()
{
    std::vector<std::string> codes;
    for (const QString& code : QString(LUMORA_LANGUAGES).split(',', Qt::SkipEmptyParts))
        codes.push_back(code.toStdString());
    return codes;
}

std::string Describe(const QRect& r)
{
    return QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

struct DialogFit : ::testing::TestWithParam<std::string> {};

TEST_P(DialogFit, LabelsFitTheWindow)
{
    RegisterTexts();
    const QString code = QString::fromStdString(GetParam());
    QTranslator translator;
    ASSERT_TRUE(translator.load(":/" + code + ".qm")) << "no translation " << GetParam();
    ASSERT_TRUE(QCoreApplication::installTranslator(&translator));
    const QFont saved = QApplication::font();
    QApplication::setFont(startup::ApplicationFontFor(code));
    const double scale = DPIinfo::scaleForLogicalDpi(QGuiApplication::primaryScreen()->logicalDotsPerInch());
    DPIinfo::getInstance()->setDPI(scale);

    const QString name = StrTable::LoadStr(841);
    const QString texts[] = {StrTable::LoadStr(537).arg(name), StrTable::LoadStr(521).arg(name)};
    ProcessingProgressDialog dialog;
    dialog.show();
    QLabel* label = dialog.findChild<QLabel*>();
    QProgressBar* bar = dialog.findChild<QProgressBar*>();
    ASSERT_TRUE(label && bar);
    for (const QString& text : texts) {
        dialog.SetText(text);
        const std::string what = GetParam() + " at " + std::to_string(scale) + ": '" + text.toStdString() + "'";
        EXPECT_EQ(label->text(), text);
        EXPECT_EQ(dialog.width(), static_cast<int>(scale * 400.0)) << what;
        EXPECT_GE(dialog.height(), static_cast<int>(scale * 80.0)) << what;
        const QRect area = label->contentsRect();
        const QRect needed =
            QFontMetrics(label->font()).boundingRect(area, Qt::TextWordWrap | label->alignment(), text);
        EXPECT_TRUE(area.contains(needed)) << what << ": text " << Describe(needed) << " in " << Describe(area);
        EXPECT_TRUE(dialog.rect().contains(label->geometry()))
            << what << ": label " << Describe(label->geometry()) << " in " << Describe(dialog.rect());
        EXPECT_TRUE(dialog.rect().contains(bar->geometry())) << what << ": bar " << Describe(bar->geometry());
        EXPECT_LE(label->geometry().bottom(), bar->geometry().top()) << what << ": label over the bar";
        RecordProperty(("size_" + std::to_string(&text - texts)).c_str(),
                       QString("%1x%2").arg(dialog.width()).arg(dialog.height()).toStdString());
    }
    EXPECT_EQ(dialog.windowTitle(), name);
    dialog.hide();
    QApplication::setFont(saved);
    QCoreApplication::removeTranslator(&translator);
}

INSTANTIATE_TEST_SUITE_P(Languages, DialogFit, ::testing::ValuesIn(Languages()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
