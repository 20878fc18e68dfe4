// Test helper: writes "pid=<own id>" to the file named by its argument once
// its SIGTERM handler is in place, then lingers 2.5 seconds after SIGTERM
// before it exits.
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_terminated = 0;

void OnTerminate(int)
{
    g_terminated = 1;
}

bool WritePidFile(const std::string& path)
{
    const std::string temporary = path + ".new";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr)
        return false;
    std::fprintf(file, "pid=%d\n", static_cast<int>(getpid()));
    if (std::fclose(file) != 0)
        return false;
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    struct sigaction action = {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGTERM, &action, nullptr) != 0 || !WritePidFile(argv[1]))
        return 1;
    while (!g_terminated)
        sigsuspend(&previous);
    struct timespec linger = {2, 500000000};
    while (nanosleep(&linger, &linger) != 0) {
    }
    return 0;
}
