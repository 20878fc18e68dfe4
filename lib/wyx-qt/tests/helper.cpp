// Second process for the support library's tests.
//   helper hold <home>   takes the instance lock of <home>, prints "held" or
//                        "busy", then waits until its standard input closes
//   helper app           builds the application object (home from HOME) and
//                        prints "running=<0|1> dpi=<scale>"
//   helper lang          prints the user's language code
#include <QString>

#include <cstdio>
#include <cstring>

#include "dpiinfo.h"
#include "instancelock.h"
#include "orvlocale.h"
#include "qtsingleapplication.h"

namespace {

int Hold(const char* home)
{
    InstanceLock lock(QString::fromUtf8(home));
    std::printf("%s\n", lock.tryAcquire() ? "held" : "busy");
    std::fflush(stdout);
    char buffer[64];
    while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
    }
    return 0;
}

int App(int argc, char** argv)
{
    QtSingleApplication app(argc, argv, true);
    std::printf("running=%d dpi=%.2f\n", app.isRunning() ? 1 : 0, DPIinfo::getInstance()->getDPI());
    return 0;
}

int Lang()
{
    std::printf("%s\n", OrvLocale::getInstance()->getDefaultLanguage().toUtf8().constData());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0)
        return Hold(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "app") == 0)
        return App(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "lang") == 0)
        return Lang();
    std::fprintf(stderr, "usage: %s hold <home> | app | lang\n", argv[0]);
    return 2;
}
