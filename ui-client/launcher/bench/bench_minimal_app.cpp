// The smallest Qt Widgets program: starts its event loop and quits it at
// once. The reference the launcher's run with nothing to upgrade is timed
// against.
#include <QApplication>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
