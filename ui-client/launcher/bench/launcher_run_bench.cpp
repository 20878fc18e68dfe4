// Timing harness: whole runs of a copy of the launcher bundle, from start to
// exit, with a temporary home and the offscreen platform.
//   upgrade:  an older client installed; the bundle ships a generated
//             bundle-like package (3,500 entries, about 120 MB, zip) that
//             holds the real client.
//   current:  the client installed and up to date, nothing to upgrade;
//             compared with a Qt Widgets program that only starts and quits
//             its event loop.
// Every client the runs start is stopped (ui.pid, SIGTERM).
// Usage: launcher_run_bench [work folder [rounds]]   (default: /tmp, 3 rounds)
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

#include "bench_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kLauncherBundle = LUMORA_LAUNCHER_BUNDLE;
const std::string kClientBundle = LUMORA_CLIENT_BUNDLE;
const std::string kMinimalApp = LUMORA_MINIMAL_APP;
const std::string kPackage = "/Contents/Resources/package/tidewell.vxa";

struct Best {
    double seconds = 1e9;
    long peak_kib = 0;
    bool ok = true;
    void Add(const bench::ChildRun& run, bool checked)
    {
        ok = ok && run.ok && checked;
        seconds = std::min(seconds, run.seconds);
        peak_kib = std::max(peak_kib, run.peak_kib);
    }
};

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Poll(const std::function<bool()>& condition, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

pid_t ClientPid(const std::string& home)
{
    std::istringstream in(Read(home + "/.Lumora/ui.pid"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("pid=", 0) == 0)
            return static_cast<pid_t>(std::atol(line.c_str() + 4));
    return 0;
}

// This process is the clients' subreaper, so an ended client is reaped here.
bool Ended(pid_t pid)
{
    return waitpid(pid, nullptr, WNOHANG) == pid || (kill(pid, 0) != 0 && errno == ESRCH);
}

// Waits for the client the run started, then stops it.
void StopClient(const std::string& home)
{
    pid_t pid = 0;
    if (!Poll([&] { return (pid = ClientPid(home)) > 0 && kill(pid, 0) == 0; }, 10000)) {
        std::fprintf(stderr, "no client started in %s\n", home.c_str());
        return;
    }
    if (kill(pid, SIGTERM) != 0)
        return;
    if (!Poll([&] { return Ended(pid); }, 10000)) {
        kill(pid, SIGKILL);
        Poll([&] { return Ended(pid); }, 5000);
    }
}

bool WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

// A home with the client of build 120 installed.
std::string OldInstallation(const std::string& work)
{
    const std::string home = bench::MakeTempDir(work, "home");
    std::error_code error;
    fs::create_directories(home + "/.Lumora", error);
    if (!error)
        fs::copy(kClientBundle, home + "/.Lumora/Lumora.app",
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error || home.empty() ||
        !WriteText(home + "/.Lumora/Lumora.app/Contents/Resources/INFO",
                   "[Version]\nmajor_version=3\nminor_version=2\nbuild_version=120\nicon_overlay_version=1\n")) {
        std::fprintf(stderr, "cannot prepare an old installation below %s\n", work.c_str());
        return std::string();
    }
    return home;
}

// A copy of the launcher bundle that ships `package`.
bool BundleWithPackage(const std::string& bundle, const std::string& package)
{
    std::error_code error;
    fs::copy(kLauncherBundle, bundle, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (!error)
        fs::remove(bundle + kPackage, error);
    if (!error)
        fs::rename(package, bundle + kPackage, error);
    if (error)
        std::fprintf(stderr, "cannot prepare the launcher bundle: %s\n", error.message().c_str());
    return !error;
}

bench::ChildRun RunLauncher(const std::string& bundle, const std::string& home, const std::string& output)
{
    sync();
    return bench::RunProgram({bundle + "/Contents/MacOS/lumora-launcher"},
                             {{"HOME", home}, {"QT_QPA_PLATFORM", "offscreen"}}, output);
}

bool Installed(const std::string& home)
{
    const std::string app = home + "/.Lumora/Lumora.app";
    return !fs::exists(app + ".upgrading") &&
           Read(app + "/Contents/Resources/INFO") == Read(kClientBundle + "/Contents/Resources/INFO") &&
           fs::exists(app + "/Contents/Frameworks/Kit11.framework/Versions/A/Kit11");
}

void Print(const char* what, const Best& best)
{
    std::printf("%-34s %7.3f s %8ld KiB peak%s\n", what, best.seconds, best.peak_kib,
                best.ok ? "" : "   (FAILED runs)");
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string parent = argc > 1 ? argv[1] : "/tmp";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
        std::perror("prctl(PR_SET_CHILD_SUBREAPER)");
    const std::string work = bench::MakeTempDir(parent, "launcher-run-bench");
    if (work.empty())
        return 1;
    const std::string output = work + "/output.log";
    const std::string bundle = work + "/Lumora Launcher.app";
    bench::TreeStats stats;
    bool ok = bench::WriteBundleTree(work + "/stage", kClientBundle, &stats) &&
              bench::PackZip(work + "/stage", work + "/package.zip");
    bench::RemoveTree(work + "/stage");
    ok = ok && BundleWithPackage(bundle, work + "/package.zip");

    Best upgrade, current, minimal;
    std::string home;
    for (int round = 0; ok && round < rounds; ++round) {
        if (!home.empty())
            bench::RemoveTree(home);
        home = OldInstallation(work);
        ok = !home.empty();
        if (ok) {
            const bench::ChildRun run = RunLauncher(bundle, home, output);
            upgrade.Add(run, Installed(home));
            StopClient(home);
        }
    }
    for (int round = 0; ok && round < rounds; ++round) {
        const bench::ChildRun run = RunLauncher(bundle, home, output);
        current.Add(run, Installed(home));
        StopClient(home);
    }
    for (int round = 0; ok && round < rounds; ++round)
        minimal.Add(bench::RunProgram({kMinimalApp}, {{"QT_QPA_PLATFORM", "offscreen"}}, output), true);

    if (ok) {
        std::printf("package: %ld entries, %.1f MB of generated data, %.1f MB zip; best of %d rounds\n",
                    stats.entries, static_cast<double>(stats.bytes) / 1e6,
                    static_cast<double>(bench::FileSize(bundle + kPackage)) / 1e6, rounds);
        Print("launcher, upgrade with the package", upgrade);
        Print("launcher, nothing to upgrade", current);
        Print("minimal Qt Widgets program", minimal);
        std::printf("nothing to upgrade / minimal program: ratio %.3f\n", current.seconds / minimal.seconds);
        ok = upgrade.ok && current.ok && minimal.ok;
    }
    if (!ok)
        std::fprintf(stderr, "see %s\n%s", output.c_str(), Read(output).c_str());
    bench::RemoveTree(work);
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    return ok ? 0 : 1;
}
