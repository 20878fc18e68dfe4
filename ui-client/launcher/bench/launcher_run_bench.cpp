// Timing harness: whole runs of a copy of the launcher bundle with a
// temporary home (XDG folders inside it) and the offscreen platform, in
// paired rounds against a reference, the order within a pair alternating.
// Medians of each side and the median of the per-pair ratios are printed.
//
//   upgrade  an older copy of the same generated bundle installed (its INFO
//            says build 120), the client's desktop entry as the client
//            leaves it. The bundle ships a generated package (3,000 entries,
//            150 MB, about 115 MB of zip) holding the real client. Timed:
//            start to the client's ui.pid (time to client), start to exit,
//            the launcher's CPU time (with the programs it waits for) and
//            peak memory. Reference: `bsdtar -xf` of the same package into
//            a fresh folder, then `sync -f` of it. Also the client started
//            by hand, start to ui.pid: the part of "time to client" that is
//            the client's own. The launcher deletes the older copy after
//            starting the client; the next timed run waits a minute for
//            that (see Settle).
//   delta    as upgrade, to a second release of the package in which a tenth
//            of the regular files (small and large alike) have new contents;
//            the older copy is the first release. Also the bytes the
//            launcher and the reference wrote (ru_oublock, with the programs
//            they waited for).
//   fresh    as upgrade, with no per-user folder at all.
//   current  the client installed and up to date, its desktop entry
//            present; reference: a Qt Widgets program that only starts and
//            quits its event loop, with the same environment. Also the
//            launcher with the desktop entry removed before each run.
//   growth   upgrades of 1,000 / 3,000 / 10,000 / 30,000 entries at 150 MB
//            and of 50 / 200 / 800 MB at 3,000 entries, each against its
//            reference, in alternating order; the 30,000-entry and 800 MB
//            cases run at most 3 rounds. The older copy is the bare client,
//            so that no round waits: "to exit" and "cpu" leave out the
//            deletion of a large older copy, which upgrade measures.
//   prepare  makes the 3,000-entry bundle copy and a home with an older
//            copy, prints how to run the launcher on them (under a profiler,
//            say) and keeps the work folder.
//
// Each round works in folders of its own (a new home, the older copy moved
// into it; a new reference folder), each in a block group of its own, and
// nothing is deleted until the end but what the launcher itself deletes; a
// timed run waits until the last large deletion is a minute old, or six
// minutes when it was another run's clean-up (see
// bench::kDeletedInodesAgeSeconds for why), and everything is synced before
// it. The end of the clean-up is recorded in the file .lumora-bench-cleanup
// of the work folder's parent, for the next run there.
// Every client the runs start is stopped (ui.pid, SIGTERM). The package in
// a bundle copy is replaced and the copy's INFO gets its SHA-256 digest.
// LUMORA_BENCH_PROFILE runs each launcher under a profiler (see Profiled);
// LUMORA_BENCH_UNCHECKED=1 ships the package without a recorded digest, so
// the launcher skips its package check.
// Usage: launcher_run_bench [work folder [rounds [mode ...]]]
//        (default: /tmp, 5 rounds, delta upgrade fresh current)
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
#include <map>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "bench_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kLauncherBundle = LUMORA_LAUNCHER_BUNDLE;
const std::string kClientBundle = LUMORA_CLIENT_BUNDLE;
const std::string kMinimalApp = LUMORA_MINIMAL_APP;
const std::string kPackage = "/Contents/Resources/package/tidewell.vxa";
const std::string kInfo = "/Contents/Resources/INFO";
const std::string kOlderBuild = "120";
// How long after the launcher's exit its client may take to write ui.pid.
const double kClientLinger = 20;
const long long kMB = 1000 * 1000;

// When the deleted inodes of the last large deletion are old enough, and how
// long the timed runs have waited for that in all.
std::chrono::steady_clock::time_point g_ready;
double g_waited_seconds = 0;

void NoteDeletion(double seconds_ago = 0, int age = bench::kDeletedInodesAgeSeconds)
{
    g_ready = std::chrono::steady_clock::now() +
              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                  std::chrono::duration<double>(age - seconds_ago));
}

// Before each timed run: everything written so far goes to disk, and the
// inodes of the last large deletion are old enough not to slow the run's
// creations down (see bench::kDeletedInodesAgeSeconds).
void Settle()
{
    sync();
    const auto now = std::chrono::steady_clock::now();
    if (now < g_ready) {
        g_waited_seconds += std::chrono::duration<double>(g_ready - now).count();
        std::this_thread::sleep_until(g_ready);
    }
}

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

bool Exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

bool Poll(const std::function<bool()>& condition, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Sets `key=value` in an INFO file, replacing the key's line or adding one
// at the end (INFO has the one [Version] group); an empty value removes the
// key's line.
bool SetInfoKey(const std::string& path, const std::string& key, const std::string& value)
{
    std::istringstream in(Read(path));
    std::string text, line;
    bool replaced = false;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) {
            if (value.empty())
                continue;
            line = key + "=" + value;
            replaced = true;
        }
        text += line + "\n";
    }
    if (!replaced && !value.empty())
        text += key + "=" + value + "\n";
    return WriteText(path, text);
}

bool Unchecked()
{
    const char* value = std::getenv("LUMORA_BENCH_UNCHECKED");
    return value != nullptr && *value != '\0' && std::string(value) != "0";
}

// The environment of every run below `home`.
std::map<std::string, std::string> Env(const std::string& home)
{
    return {{"HOME", home},
            {"QT_QPA_PLATFORM", "offscreen"},
            {"XDG_DATA_HOME", home + "/.local/share"},
            {"XDG_CONFIG_HOME", home + "/.config"},
            {"XDG_CACHE_HOME", home + "/.cache"}};
}

std::string App(const std::string& home)
{
    return home + "/.Lumora/Lumora.app";
}

std::string PidPath(const std::string& home)
{
    return home + "/.Lumora/ui.pid";
}

std::string DesktopEntryPath(const std::string& home)
{
    return home + "/.local/share/applications/lumora-ui.desktop";
}

pid_t ClientPid(const std::string& home)
{
    std::istringstream in(Read(PidPath(home)));
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

// Waits for the client a run started (its pid file and desktop entry), then
// stops it. False when none was started.
bool StopClient(const std::string& home)
{
    pid_t pid = 0;
    if (!Poll([&] { return (pid = ClientPid(home)) > 0 && kill(pid, 0) == 0; }, 10000)) {
        std::fprintf(stderr, "no client started in %s\n", home.c_str());
        return false;
    }
    Poll([&] { return Exists(DesktopEntryPath(home)); }, 5000);
    if (kill(pid, SIGTERM) != 0)
        return false;
    if (!Poll([&] { return Ended(pid); }, 10000)) {
        kill(pid, SIGKILL);
        Poll([&] { return Ended(pid); }, 5000);
    }
    return true;
}

// A launcher bundle copy that ships a generated package.
struct Fixture {
    std::string bundle;
    std::string package;       // inside the bundle
    bench::TreeStats stats;    // of the generated tree
    long objects = 0;          // below an extracted bundle folder
    long long zip_bytes = 0;
};

bool ShipPackage(const std::string& work, const std::string& name, const std::string& zip, bool ok,
                 const bench::TreeSpec& spec, Fixture* fixture);

bool MakeFixture(const std::string& work, const std::string& name, const bench::TreeSpec& spec, Fixture* fixture)
{
    const std::string stage = work + "/" + name + "-stage";
    const std::string zip = work + "/" + name + ".zip";
    bool ok = bench::WriteBundleTree(stage, kClientBundle, spec, &fixture->stats) && bench::PackZip(stage, zip);
    fixture->objects = ok ? bench::CountTree(stage) : -1;
    return ShipPackage(work, name, zip, ok, spec, fixture);
}

// The second release of `first` (made by MakeFixture as `first_name`): a
// tenth of its regular files with new contents, the rest as they were.
bool MakeTenthChanged(const std::string& work, const std::string& first_name, const Fixture& first,
                      const std::string& name, Fixture* fixture, long* changed, long long* changed_bytes, int every)
{
    const std::string stage = work + "/" + name + "-stage";
    const std::string zip = work + "/" + name + ".zip";
    std::error_code error;
    fs::copy(work + "/" + first_name + "-stage", stage, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
             error);
    bool ok = !error && bench::ChangeTenth(stage, kClientBundle, changed, changed_bytes, every) && bench::PackZip(stage, zip);
    fixture->stats = first.stats;
    fixture->objects = first.objects;
    return ShipPackage(work, name, zip, ok, bench::TreeSpec(), fixture);
}

// A launcher bundle copy below work/name shipping `zip`, its digest recorded.
bool ShipPackage(const std::string& work, const std::string& name, const std::string& zip, bool ok,
                 const bench::TreeSpec& spec, Fixture* fixture)
{
    fixture->bundle = work + "/" + name + "/Lumora Launcher.app";
    fixture->package = fixture->bundle + kPackage;
    std::error_code error;
    if (ok) {
        fs::create_directories(work + "/" + name, error);
        if (!error)
            fs::copy(kLauncherBundle, fixture->bundle, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
                     error);
        if (!error)
            fs::remove(fixture->package, error);
        if (!error)
            fs::rename(zip, fixture->package, error);
        if (error)
            std::fprintf(stderr, "cannot prepare the launcher bundle: %s\n", error.message().c_str());
        ok = !error;
    }
    // The launcher refuses a package whose digest is not the one its INFO
    // records; with LUMORA_BENCH_UNCHECKED the bundle records none, and the
    // launcher installs without checking (what the check costs).
    if (Unchecked()) {
        ok = ok && SetInfoKey(fixture->bundle + kInfo, "package_sha256", std::string());
    } else {
        const std::string digest = ok ? bench::Sha256File(fixture->package) : std::string();
        ok = ok && !digest.empty() && SetInfoKey(fixture->bundle + kInfo, "package_sha256", digest);
    }
    fixture->zip_bytes = ok ? bench::FileSize(fixture->package) : 0;
    if (!ok)
        std::fprintf(stderr, "cannot prepare a bundle with a %ld-entry package\n", spec.entries);
    return ok;
}

// The installation in `home` is the fixture's package, complete, with no
// mark and no backup left.
bool Installed(const Fixture& fixture, const std::string& home)
{
    const std::string app = App(home);
    if (Exists(app + ".upgrading") || Exists(app + "_tmp"))
        return false;
    if (Read(app + kInfo) != Read(kClientBundle + kInfo))
        return false;
    const long found = bench::CountTree(app);
    if (found != fixture.objects) {
        std::fprintf(stderr, "%s holds %ld objects, expected %ld\n", app.c_str(), found, fixture.objects);
        return false;
    }
    return true;
}

// The client of the installation in `home` started by hand: seconds until
// it wrote ui.pid (-1 when it did not), then stopped. It leaves its desktop
// entry as it always does.
double StartClientByHand(const std::string& home, const std::string& output)
{
    Settle();
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid =
        bench::StartProgram({App(home) + "/Contents/MacOS/lumora-ui"}, Env(home), output);
    if (pid < 0)
        return -1;
    const bool seen = Poll([&] { return Exists(PidPath(home)); }, 20000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    StopClient(home);
    Poll([&] { return Ended(pid); }, 5000);
    return seen ? seconds : -1;
}

// An older copy in `home`: the fixture's package extracted with bsdtar
// (`full`), or only the real client bundle. Its INFO is made older, and
// the client is run once so that its desktop entry is there (the seconds
// it took to write ui.pid go to `by_hand` when given).
bool InstallOlder(const Fixture& fixture, const std::string& home, const std::string& output, bool full = true,
                  double* by_hand = nullptr)
{
    std::error_code error;
    if (full) {
        fs::create_directories(App(home), error);
        if (error || !bench::RunProgram({bench::Bsdtar(), "-xf", fixture.package, "-C", App(home)}).ok) {
            std::fprintf(stderr, "cannot install the package into %s\n", home.c_str());
            return false;
        }
    } else {
        fs::create_directories(home + "/.Lumora", error);
        if (!error)
            fs::copy(kClientBundle, App(home), fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
        if (error) {
            std::fprintf(stderr, "cannot copy the client into %s\n", home.c_str());
            return false;
        }
    }
    const double seconds = StartClientByHand(home, output);
    if (by_hand != nullptr)
        *by_hand = seconds;
    if (seconds < 0 || !Exists(DesktopEntryPath(home))) {
        std::fprintf(stderr, "the client in %s did not start\n", home.c_str());
        return false;
    }
    return SetInfoKey(App(home) + kInfo, "build_version", kOlderBuild);
}

// The installation of `from` moved into a new home below `work` and made
// older; the client is started there by hand once (the seconds it took to
// write ui.pid go to `by_hand`), which leaves its desktop entry. The new
// home, or empty.
std::string MoveOlder(const std::string& from, const std::string& work, const std::string& output, double* by_hand)
{
    const std::string home = bench::MakeTempDir(work, "home");
    std::error_code error;
    if (!home.empty())
        fs::create_directories(home + "/.Lumora", error);
    if (!home.empty() && !error)
        fs::rename(App(from), App(home), error);
    if (home.empty() || error || !SetInfoKey(App(home) + kInfo, "build_version", kOlderBuild)) {
        std::fprintf(stderr, "cannot move the installation of %s into a new home\n", from.c_str());
        return std::string();
    }
    *by_hand = StartClientByHand(home, output);
    if (*by_hand < 0 || !Exists(DesktopEntryPath(home))) {
        std::fprintf(stderr, "the client in %s did not start\n", home.c_str());
        return std::string();
    }
    return home;
}

// One timed run of the launcher. Success: status 0, the client started and
// the installation complete.
struct Sample {
    bench::ChildRun run;
    double client_seconds = -1;  // start to the client's ui.pid
};

// The launcher's command line, behind the words of LUMORA_BENCH_PROFILE
// when that is set ("%n" in it becomes the run's number), to run it under a
// profiler: LUMORA_BENCH_PROFILE="perf record -g -o /tmp/launcher-%n.perf --".
// The times then include the profiler's.
std::vector<std::string> Profiled(const std::vector<std::string>& command)
{
    static int runs = 0;
    const char* prefix = std::getenv("LUMORA_BENCH_PROFILE");
    if (prefix == nullptr || *prefix == '\0')
        return command;
    std::vector<std::string> words;
    std::istringstream in(prefix);
    const std::string number = std::to_string(++runs);
    for (std::string word; in >> word;) {
        for (size_t at; (at = word.find("%n")) != std::string::npos;)
            word.replace(at, 2, number);
        words.push_back(word);
    }
    words.insert(words.end(), command.begin(), command.end());
    return words;
}

// `replaces_tree`: the home holds an older copy of the fixture's size,
// which the run deletes once it has started the client.
Sample RunLauncher(const Fixture& fixture, const std::string& home, const std::string& output,
                   bool replaces_tree = false)
{
    Settle();
    Sample sample;
    sample.run = bench::RunProgramWatching(Profiled({fixture.bundle + "/Contents/MacOS/lumora-launcher"}), Env(home),
                                           output, PidPath(home), kClientLinger, &sample.client_seconds);
    if (replaces_tree)
        NoteDeletion();
    const bool installed = Installed(fixture, home);
    const bool stopped = StopClient(home);
    sample.run.ok = sample.run.ok && installed && stopped && sample.client_seconds >= 0;
    return sample;
}

// `bsdtar -xf` of the package into a fresh folder below `work`, then
// `sync -f` of it. The folder stays (see the top of this file).
bench::ChildRun RunReference(const Fixture& fixture, const std::string& work)
{
    const std::string dest = bench::MakeTempDir(work, "reference");
    if (dest.empty())
        return bench::ChildRun();
    Settle();
    const bench::ChildRun extract = bench::RunProgram({bench::Bsdtar(), "-xf", fixture.package, "-C", dest});
    const bench::ChildRun flush = bench::RunProgram({"sync", "-f", dest});
    bench::ChildRun both = bench::Sequence(extract, flush);
    const long found = bench::CountTree(dest);
    if (both.ok && found != fixture.objects) {
        std::fprintf(stderr, "bsdtar wrote %ld objects, expected %ld\n", found, fixture.objects);
        both.ok = false;
    }
    return both;
}

double MB(long long bytes)
{
    return static_cast<double>(bytes) / kMB;
}

// The samples of one side of a comparison.
struct Series {
    std::vector<double> client, wall, cpu, peak;
    bool ok = true;
    void Add(const bench::ChildRun& run, double client_seconds = -1)
    {
        ok = ok && run.ok;
        client.push_back(client_seconds);
        wall.push_back(run.seconds);
        cpu.push_back(run.cpu_seconds);
        peak.push_back(static_cast<double>(run.peak_kib));
    }
    double Client() const { return bench::Median(client); }
    double Wall() const { return bench::Median(wall); }
    double Cpu() const { return bench::Median(cpu); }
    double Peak() const { return bench::Median(peak); }
};

std::vector<double> Ratios(const std::vector<double>& ours, const std::vector<double>& theirs)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size() && i < theirs.size(); ++i)
        ratios.push_back(theirs[i] > 0 ? ours[i] / theirs[i] : 0);
    return ratios;
}

const char* Verdict(double value, double target)
{
    return value <= target ? "met" : "MISSED";
}

void PrintSpread(const char* what, const std::vector<double>& values, double scale = 1, const char* unit = "s")
{
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    std::printf("    %-28s median %8.3f %s   min %8.3f   max %8.3f\n", what, bench::Median(values) * scale, unit,
                sorted.empty() ? 0 : sorted.front() * scale, sorted.empty() ? 0 : sorted.back() * scale);
}

void PrintFixture(const Fixture& fixture)
{
    std::printf("package: %ld entries, %.1f MB of generated data, %.1f MB zip%s\n", fixture.stats.entries,
                static_cast<double>(fixture.stats.bytes) / kMB, static_cast<double>(fixture.zip_bytes) / kMB,
                Unchecked() ? ", no digest recorded (LUMORA_BENCH_UNCHECKED)" : "");
}

// Paired upgrades of an older copy against the reference, each round in a
// new home, the order within a pair alternating. With `full` the older copy
// is the previous round's installation moved into it: the launcher deletes
// it after starting the client, so the next timed run waits until those
// inodes are old (Settle). Otherwise the older copy is the bare client.
bool CompareUpgrades(const Fixture& fixture, const std::string& work, int rounds, const std::string& output,
                     bool full, Series* launcher, Series* reference, std::vector<double>* by_hand)
{
    std::string home;
    bool ok = true;
    if (full) {
        home = bench::MakeTempDir(work, "home");
        ok = !home.empty() && InstallOlder(fixture, home, output);
    }
    for (int round = 0; ok && round < rounds; ++round) {
        double client_by_hand = -1;
        if (full) {
            home = MoveOlder(home, work, output, &client_by_hand);
        } else {
            home = bench::MakeTempDir(work, "home");
            if (!home.empty() && !InstallOlder(fixture, home, output, false, &client_by_hand))
                home.clear();
        }
        ok = !home.empty();
        if (!ok)
            break;
        by_hand->push_back(client_by_hand);
        Sample sample;
        bench::ChildRun ref;
        const bool reference_first = round % 2 == 1;
        for (int k = 0; k < 2; ++k) {
            if ((k == 0) != reference_first)
                sample = RunLauncher(fixture, home, output, full);
            else
                ref = RunReference(fixture, work);
        }
        launcher->Add(sample.run, sample.client_seconds);
        reference->Add(ref);
        std::printf("  round %d: launcher to client %.3f s, to exit %.3f s, cpu %.3f s, %ld KiB, wrote %.1f MB   "
                    "bsdtar+sync %.3f s, cpu %.3f s, wrote %.1f MB   client by hand %.3f s%s\n",
                    round + 1, sample.client_seconds, sample.run.seconds, sample.run.cpu_seconds,
                    sample.run.peak_kib, MB(sample.run.written_bytes), ref.seconds, ref.cpu_seconds,
                    MB(ref.written_bytes), client_by_hand, sample.run.ok && ref.ok ? "" : "  (FAILED)");
        std::fflush(stdout);
        ok = sample.run.ok && ref.ok;
    }
    return ok && launcher->ok && reference->ok;
}

// Wall clock, CPU and peak memory of one side, each as median and spread.
void PrintSeries(const std::string& name, const Series& series, const char* wall = "wall")
{
    PrintSpread((name + ", " + wall).c_str(), series.wall);
    PrintSpread((name + ", cpu").c_str(), series.cpu);
    PrintSpread((name + ", peak memory").c_str(), series.peak, 1.0 / 1024, "MiB");
}

void PrintAgainstReference(const Series& launcher, const Series& reference, double target)
{
    PrintSpread("launcher, start to client", launcher.client);
    PrintSeries("launcher", launcher, "start to exit");
    PrintSeries("bsdtar -xf + sync -f", reference);
    const double wall = bench::Median(Ratios(launcher.client, reference.wall));
    const double exit = bench::Median(Ratios(launcher.wall, reference.wall));
    const double cpu = bench::Median(Ratios(launcher.cpu, reference.cpu));
    std::printf("    ratio (median of pairs): to client %.3f (target <= %.1f: %s), to exit %.3f, "
                "cpu %.3f (target <= %.1f: %s)\n",
                wall, target, Verdict(wall, target), exit, cpu, target, Verdict(cpu, target));
}

bool UpgradeMode(const Fixture& fixture, const std::string& work, int rounds, const std::string& output)
{
    std::printf("\n== upgrade over an older copy (load %s)\n", bench::LoadAverage().c_str());
    PrintFixture(fixture);
    Series launcher, reference;
    std::vector<double> by_hand;
    const bool ok = CompareUpgrades(fixture, work, rounds, output, true, &launcher, &reference, &by_hand);
    std::printf("  medians of %zu paired rounds (load %s)\n", launcher.wall.size(), bench::LoadAverage().c_str());
    PrintAgainstReference(launcher, reference, 1.1);
    PrintSpread("client by hand, start to pid", by_hand);
    std::printf("    waited %.0f s in all for deleted inodes to age\n", g_waited_seconds);
    return ok;
}

// The upgrade from the fixture's package to a second release of it in which
// a tenth of the regular files changed: each round a home with the first
// release (bsdtar) is upgraded to the second, against bsdtar -xf + sync -f
// of the second release into a fresh folder. Bytes written are the
// programs' own (ru_oublock), the deletion of the older copy included.
bool DeltaMode(const Fixture& first, const std::string& work, int rounds, const std::string& output, int every)
{
    std::printf("\n== upgrade to a release with %s of the files changed (load %s)\n",
                every == 1 ? "all" : "a tenth", bench::LoadAverage().c_str());
    Fixture second;
    long changed = 0;
    long long changed_bytes = 0;
    if (!MakeTenthChanged(work, "bundle", first, every == 1 ? "all" : "tenth", &second, &changed, &changed_bytes,
                          every))
        return false;
    PrintFixture(second);
    std::printf("changed: %ld files, %.1f MB\n", changed, MB(changed_bytes));
    Series launcher, reference;
    std::vector<double> launcher_written, reference_written;
    bool ok = true;
    for (int round = 0; ok && round < rounds; ++round) {
        const std::string home = bench::MakeTempDir(work, "home");
        ok = !home.empty() && InstallOlder(first, home, output);
        Sample sample;
        bench::ChildRun ref;
        for (int k = 0; ok && k < 2; ++k) {
            if ((k == 0) == (round % 2 == 0))
                sample = RunLauncher(second, home, output, true);
            else
                ref = RunReference(second, work);
        }
        launcher.Add(sample.run, sample.client_seconds);
        reference.Add(ref);
        launcher_written.push_back(MB(sample.run.written_bytes));
        reference_written.push_back(MB(ref.written_bytes));
        std::printf("  round %d: launcher to client %.3f s, to exit %.3f s, cpu %.3f s, wrote %.1f MB   "
                    "bsdtar+sync %.3f s, cpu %.3f s, wrote %.1f MB%s\n",
                    round + 1, sample.client_seconds, sample.run.seconds, sample.run.cpu_seconds,
                    MB(sample.run.written_bytes), ref.seconds, ref.cpu_seconds, MB(ref.written_bytes),
                    sample.run.ok && ref.ok ? "" : "  (FAILED)");
        std::fflush(stdout);
        ok = ok && sample.run.ok && ref.ok;
    }
    std::printf("  medians of %zu paired rounds (load %s)\n", launcher.wall.size(), bench::LoadAverage().c_str());
    PrintAgainstReference(launcher, reference, every == 1 ? 0.8 : 0.3);
    PrintSpread("launcher, written", launcher_written, 1, "MB");
    PrintSpread("bsdtar -xf + sync -f, written", reference_written, 1, "MB");
    return ok && launcher.ok && reference.ok;
}

bool FreshMode(const Fixture& fixture, const std::string& work, int rounds, const std::string& output)
{
    std::printf("\n== fresh install, no per-user folder (load %s)\n", bench::LoadAverage().c_str());
    PrintFixture(fixture);
    Series launcher, reference;
    bool ok = true;
    for (int round = 0; ok && round < rounds; ++round) {
        const std::string home = bench::MakeTempDir(work, "home");
        ok = !home.empty();
        Sample sample;
        bench::ChildRun ref;
        for (int k = 0; ok && k < 2; ++k) {
            if ((k == 0) == (round % 2 == 0))
                sample = RunLauncher(fixture, home, output);
            else
                ref = RunReference(fixture, work);
        }
        launcher.Add(sample.run, sample.client_seconds);
        reference.Add(ref);
        std::printf("  round %d: launcher to client %.3f s, to exit %.3f s, cpu %.3f s, %ld KiB, wrote %.1f MB   "
                    "bsdtar+sync %.3f s, cpu %.3f s, wrote %.1f MB%s\n",
                    round + 1, sample.client_seconds, sample.run.seconds, sample.run.cpu_seconds,
                    sample.run.peak_kib, MB(sample.run.written_bytes), ref.seconds, ref.cpu_seconds,
                    MB(ref.written_bytes), sample.run.ok && ref.ok ? "" : "  (FAILED)");
        std::fflush(stdout);
        ok = ok && sample.run.ok && ref.ok;
    }
    std::printf("  medians of %zu paired rounds (load %s)\n", launcher.wall.size(), bench::LoadAverage().c_str());
    PrintAgainstReference(launcher, reference, 0.8);
    return ok;
}

bool CurrentMode(const Fixture& fixture, const std::string& work, int rounds, const std::string& output)
{
    std::printf("\n== nothing to upgrade, client's desktop entry present (load %s)\n", bench::LoadAverage().c_str());
    const std::string home = bench::MakeTempDir(work, "home");
    // A first run installs the client, which writes its desktop entry.
    bool ok = !home.empty() && RunLauncher(fixture, home, output).run.ok;
    Series launcher, minimal, bare;
    for (int round = 0; ok && round < rounds; ++round) {
        ok = Exists(DesktopEntryPath(home));
        if (!ok) {
            std::fprintf(stderr, "no desktop entry in %s\n", home.c_str());
            break;
        }
        Sample sample;
        bench::ChildRun reference;
        for (int k = 0; k < 2; ++k) {
            if ((k == 0) == (round % 2 == 0)) {
                sample = RunLauncher(fixture, home, output);
            } else {
                Settle();
                reference = bench::RunProgram({kMinimalApp}, Env(home), output);
            }
        }
        launcher.Add(sample.run, sample.client_seconds);
        minimal.Add(reference);
        std::printf("  round %d: launcher %.3f s, cpu %.3f s, %ld KiB   minimal %.3f s, cpu %.3f s, %ld KiB%s\n",
                    round + 1, sample.run.seconds, sample.run.cpu_seconds, sample.run.peak_kib, reference.seconds,
                    reference.cpu_seconds, reference.peak_kib, sample.run.ok && reference.ok ? "" : "  (FAILED)");
        std::fflush(stdout);
        ok = sample.run.ok && reference.ok;
    }
    // The same with the desktop entry gone: what its removal costs.
    for (int round = 0; ok && round < rounds; ++round) {
        std::error_code error;
        fs::remove(DesktopEntryPath(home), error);
        const Sample sample = RunLauncher(fixture, home, output);
        bare.Add(sample.run, sample.client_seconds);
        ok = sample.run.ok;
    }
    std::printf("  medians of %zu paired rounds (load %s)\n", launcher.wall.size(), bench::LoadAverage().c_str());
    PrintSeries("launcher", launcher);
    PrintSeries("minimal program", minimal);
    PrintSeries("launcher, no entry", bare);
    const double cpu = bench::Median(Ratios(launcher.cpu, minimal.cpu));
    const double wall = bench::Median(Ratios(launcher.wall, minimal.wall));
    std::vector<double> extra;
    for (size_t i = 0; i < launcher.peak.size() && i < minimal.peak.size(); ++i)
        extra.push_back((launcher.peak[i] - minimal.peak[i]) / 1024);
    const double more = bench::Median(extra);
    std::printf("    ratio (median of pairs): cpu %.3f (target <= 1.4: %s), wall %.3f; peak memory %+.2f MiB "
                "over the minimal program (target <= 3: %s)\n",
                cpu, Verdict(cpu, 1.4), wall, more, Verdict(more, 3.0));
    return ok && launcher.ok && minimal.ok && bare.ok;
}

bool GrowthMode(const std::string& work, int rounds, const std::string& output)
{
    struct Case {
        const char* series;
        long entries;
        long long mb;
    };
    const Case cases[] = {{"entries", 1000, 150},  {"entries", 3000, 150}, {"entries", 10000, 150},
                          {"entries", 30000, 150}, {"size", 3000, 50},     {"size", 3000, 200},
                          {"size", 3000, 800}};
    std::printf("\n== growth (load %s, %.1f GB free in %s)\n", bench::LoadAverage().c_str(),
                static_cast<double>(bench::FreeBytes(work)) / 1e9, work.c_str());
    struct Row {
        Case c;
        Fixture fixture;
        Series launcher, reference;
    };
    std::vector<Row> rows;
    bool ok = true;
    for (const Case& c : cases) {
        const int n = c.entries >= 30000 || c.mb >= 800 ? std::min(rounds, 3) : rounds;
        const auto begun = std::chrono::steady_clock::now();
        Row row;
        row.c = c;
        bench::TreeSpec spec;
        spec.entries = c.entries;
        spec.bytes = c.mb * kMB;
        std::printf("-- %ld entries, %lld MB, %d rounds (load %s, %.1f GB free)\n", c.entries, c.mb, n,
                    bench::LoadAverage().c_str(), static_cast<double>(bench::FreeBytes(work)) / 1e9);
        // Each case keeps its folders until the end: the generated tree, the
        // package, a reference per round and the installation, and room to spare.
        if (bench::FreeBytes(work) < spec.bytes * (n + 5) + 2000 * kMB) {
            std::fprintf(stderr, "not enough free space in %s for this case\n", work.c_str());
            ok = false;
            break;
        }
        const std::string folder = bench::MakeTempDir(work, "case");
        std::string why;
        if (folder.empty() || !bench::SpreadSubfolders(folder, &why) ||
            !MakeFixture(folder, "growth", spec, &row.fixture)) {
            ok = false;
            break;
        }
        PrintFixture(row.fixture);
        std::vector<double> by_hand;
        const bool compared =
            CompareUpgrades(row.fixture, folder, n, output, false, &row.launcher, &row.reference, &by_hand);
        std::printf("   case took %.0f s (load %s)\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count(),
                    bench::LoadAverage().c_str());
        rows.push_back(row);
        if (!compared) {
            ok = false;
            break;
        }
    }
    std::printf("\n%-7s %7s %7s %7s | %9s %9s %9s | %9s %9s | %6s %6s | %8s %8s %8s %8s\n", "series", "entries",
                "MB", "zip MB", "to client", "to exit", "cpu", "ref wall", "ref cpu", "wall x", "cpu x",
                "us/entry", "ref", "ms/MB", "ref");
    for (const Row& row : rows) {
        const double entries = static_cast<double>(row.fixture.stats.entries);
        const double mb = static_cast<double>(row.fixture.stats.bytes) / kMB;
        std::printf("%-7s %7ld %7.1f %7.1f | %9.3f %9.3f %9.3f | %9.3f %9.3f | %6.3f %6.3f | %8.1f %8.1f %8.2f %8.2f\n",
                    row.c.series, row.fixture.stats.entries, mb, static_cast<double>(row.fixture.zip_bytes) / kMB,
                    row.launcher.Client(), row.launcher.Wall(), row.launcher.Cpu(), row.reference.Wall(),
                    row.reference.Cpu(), bench::Median(Ratios(row.launcher.client, row.reference.wall)),
                    bench::Median(Ratios(row.launcher.cpu, row.reference.cpu)), row.launcher.Client() / entries * 1e6,
                    row.reference.Wall() / entries * 1e6, row.launcher.Client() / mb * 1e3,
                    row.reference.Wall() / mb * 1e3);
    }
    std::printf("(medians; to client = launcher start to the client's ui.pid; ref = bsdtar -xf + sync -f; "
                "x = median of per-pair ratios to client / ref wall and cpu / ref cpu)\n");
    return ok;
}

bool PrepareMode(const Fixture& fixture, const std::string& work, const std::string& output)
{
    const std::string home = bench::MakeTempDir(work, "home");
    if (home.empty() || !InstallOlder(fixture, home, output))
        return false;
    PrintFixture(fixture);
    std::printf("kept %s\nolder copy in %s (INFO says build %s; set it again before each run)\nrun:\n"
                "  env HOME='%s' QT_QPA_PLATFORM=offscreen XDG_DATA_HOME='%s/.local/share' \\\n"
                "      '%s/Contents/MacOS/lumora-launcher'\n"
                "then stop the client: kill $(sed -n 's/^pid=//p' '%s')\n",
                work.c_str(), App(home).c_str(), kOlderBuild.c_str(), home.c_str(), home.c_str(),
                fixture.bundle.c_str(), PidPath(home).c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string parent = argc > 1 ? argv[1] : "/tmp";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<std::string> modes;
    for (int i = 3; i < argc; ++i)
        modes.push_back(argv[i]);
    if (modes.empty())
        modes = {"delta", "allchanged", "upgrade", "fresh", "current"};
    for (const std::string& mode : modes)
        if (mode != "upgrade" && mode != "delta" && mode != "allchanged" && mode != "fresh" && mode != "current" &&
            mode != "growth" && mode != "prepare") {
            std::fprintf(stderr, "unknown mode '%s' (upgrade, delta, allchanged, fresh, current, growth, prepare)\n",
                         mode.c_str());
            return 2;
        }
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
        std::perror("prctl(PR_SET_CHILD_SUBREAPER)");
    const std::string work = bench::MakeTempDir(parent, "launcher-run-bench");
    if (work.empty())
        return 1;
    std::string why;
    if (!bench::SpreadSubfolders(work, &why))
        std::printf("note: %s: %s; rounds may share block groups with deleted trees\n", work.c_str(), why.c_str());
    // A harness that has just removed its work folder here.
    const double since = bench::SecondsSinceCleanup(parent);
    if (since < bench::kRewrittenInodesAgeSeconds) {
        NoteDeletion(std::max(0.0, since), bench::kRewrittenInodesAgeSeconds);
        std::printf("note: another run cleaned up here %.0f s ago; the first timed run waits for %.0f s\n", since,
                    bench::kRewrittenInodesAgeSeconds - since);
    }
    const std::string output = work + "/output.log";
    std::printf("work folder %s, %.1f GB free, load %s, %d rounds\n", work.c_str(),
                static_cast<double>(bench::FreeBytes(work)) / 1e9, bench::LoadAverage().c_str(), rounds);

    bool ok = true;
    bool keep = false;
    Fixture fixture;
    const bool needs_fixture =
        std::any_of(modes.begin(), modes.end(), [](const std::string& mode) { return mode != "growth"; });
    if (needs_fixture)
        ok = MakeFixture(work, "bundle", bench::TreeSpec(), &fixture);
    for (const std::string& mode : modes) {
        if (!ok)
            break;
        if (mode == "upgrade")
            ok = UpgradeMode(fixture, work, rounds, output);
        else if (mode == "delta")
            ok = DeltaMode(fixture, work, rounds, output, 10);
        else if (mode == "allchanged")
            ok = DeltaMode(fixture, work, rounds, output, 1);
        else if (mode == "fresh")
            ok = FreshMode(fixture, work, rounds, output);
        else if (mode == "current")
            ok = CurrentMode(fixture, work, rounds, output);
        else if (mode == "prepare")
            ok = keep = PrepareMode(fixture, work, output);
        else
            ok = GrowthMode(work, rounds, output);
    }
    if (!ok)
        std::fprintf(stderr, "see %s\n%s", output.c_str(), Read(output).c_str());
    if (!keep) {
        bench::RemoveTree(work);
        bench::NoteCleanup(parent);
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    return ok ? 0 : 1;
}
