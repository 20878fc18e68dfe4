// Draws the progress dialog to a PNG as the launcher shows it during an
// installation, in one language, at 40 %; scripts/screenshots runs it for
// every language.
//
//   dialog_screenshot <language code> <output.png> [launcher bundle]
//
// With a bundle, the toolkit's plug-ins (platform, theme) and the dialog's
// icon come from it, as for the launcher itself.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPixmap>
#include <QTranslator>
#include <QWindow>

#include <cstdio>

#include "app-startup.h"
#include "launcher.h"
#include "strtable.h"
#include "uipathmanager.h"

static void RegisterTexts()
{
    Q_INIT_RESOURCE(texts);
}

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s <language code> <output.png> [launcher bundle]\n", argv[0]);
        return 2;
    }
    const QString code = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    const QString bundle = argc > 3 ? QDir(QString::fromLocal8Bit(argv[3])).absolutePath() : QString();
    if (!bundle.isEmpty()) {
        if (!QFileInfo(bundle + "/Contents/Resources").isDir()) {
            std::fprintf(stderr, "%s: not a launcher bundle\n", argv[3]);
            return 2;
        }
        QCoreApplication::setLibraryPaths({bundle + "/Contents/Frameworks/plugins"});
        UIPathManager::getInstance()->setPath("root_resource_path", bundle + "/Contents/Resources");
    }
    QApplication app(argc, argv);
    RegisterTexts();
    QTranslator translator;
    if (!translator.load(":/" + code + ".qm") || !QCoreApplication::installTranslator(&translator)) {
        std::fprintf(stderr, "no translation '%s'\n", argv[1]);
        return 2;
    }
    StrTable::InitStrTable();
    QApplication::setFont(startup::ApplicationFontFor(code));

    ProcessingProgressDialog dialog;
    dialog.setValue(40);
    dialog.show();
    // Drawn once the window system has the window, or after two seconds.
    QElapsedTimer waited;
    waited.start();
    while (!(dialog.windowHandle() && dialog.windowHandle()->isExposed()) && waited.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();
    if (!dialog.grab().save(output, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%s %dx%d\n", argv[1], dialog.width(), dialog.height());
    return 0;
}
