// Test helper: once its SIGTERM handler is in place, writes "pid=<own id>"
// to the file named by its argument; exits 2.5 seconds after SIGTERM.
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <unistd.h>

static volatile sig_atomic_t g_terminated = 0;

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    struct sigaction action = {};
    action.sa_handler = [](int) { g_terminated = 1; };
    if (sigaction(SIGTERM, &action, nullptr) != 0)
        return 1;
    // Renamed into place so that a reader never sees a partial file.
    const std::string temporary = std::string(argv[1]) + ".new";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr || std::fprintf(file, "pid=%d\n", int(getpid())) < 0 || std::fclose(file) != 0 ||
        std::rename(temporary.c_str(), argv[1]) != 0)
        return 1;
    while (!g_terminated)
        sigsuspend(&previous);
    struct timespec linger = {2, 500000000};
    while (nanosleep(&linger, &linger) != 0)
        continue;
    return 0;
}
