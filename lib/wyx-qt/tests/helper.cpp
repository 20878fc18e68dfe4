// Second process for the support library's tests: "hold <home>" prints whether it took the
// instance lock ("held"/"busy") and keeps it until stdin closes; "app" builds the application
// object and prints "running=<0|1> dpi=<scale>"; "lang" prints the user's language code.
#include <cstdio>
#include <cstring>

#include "dpiinfo.h"
#include "instancelock.h"
#include "orvlocale.h"
#include "qtsingleapplication.h"

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0) {
        InstanceLock lock(QString::fromUtf8(argv[2]));
        std::printf("%s\n", lock.tryAcquire() ? "held" : "busy");
        std::fflush(stdout);
        for (char buffer[64]; std::fread(buffer, 1, sizeof buffer, stdin) > 0;) {
        }
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "app") == 0) {
        QtSingleApplication app(argc, argv, true);
        std::printf("running=%d dpi=%.2f\n", app.isRunning() ? 1 : 0, DPIinfo::getInstance()->getDPI());
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "lang") == 0) {
        std::printf("%s\n", OrvLocale::getInstance()->getDefaultLanguage().toUtf8().constData());
        return 0;
    }
    std::fprintf(stderr, "usage: %s hold <home> | app | lang\n", argv[0]);
    return 2;
}
