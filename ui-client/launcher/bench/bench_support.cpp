#include "bench_support.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>
#include <thread>

#include "sha256-file.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr long kKiB = 1024;
constexpr long kMiB = 1024 * kKiB;
constexpr int kFrameworks = 12;
constexpr int kPluginGroups = 8;
constexpr int kPluginsPerGroup = 5;
constexpr int kTranslations = 60;
constexpr int kImagesPerSet = 100;
// Shares of the data: framework binaries, plug-ins, translations; headers
// and images have the rest. Of the small files, this share are headers.
constexpr double kFrameworkShare = 0.60;
constexpr double kPluginShare = 0.10;
constexpr double kTranslationShare = 0.10;
constexpr double kHeaderShare = 0.15;
// Of a framework binary, this share is pseudo-random, the rest text.
constexpr double kBinaryNoiseShare = 0.70;
// Framework n's binary weighs 2 + 2 * (n % 6) of 84 parts.
constexpr int kBinaryParts = 84;

// xorshift64*: fast, reproducible pseudo-random numbers.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next()
    {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }
    long Between(long low, long high) { return low + static_cast<long>(Next() % static_cast<uint64_t>(high - low + 1)); }

private:
    uint64_t state_;
};

// Incompressible bytes, as in machine code and packed images.
std::string NoiseBytes(Random& random, long size)
{
    std::string data(static_cast<size_t>(size), '\0');
    for (long i = 0; i < size; i += 8) {
        const uint64_t value = random.Next();
        std::memcpy(&data[static_cast<size_t>(i)], &value, static_cast<size_t>(std::min<long>(8, size - i)));
    }
    return data;
}

// Text from a small vocabulary: compresses about as well as source or
// string tables do.
std::string TextBytes(Random& random, long size)
{
    static const char* const kWords[] = {
        "const", "void", "return", "class", "struct", "static", "inline", "template", "typename", "virtual",
        "public:", "private:", "namespace", "include", "define", "unsigned", "int", "char", "size_t", "bool",
        "if", "else", "for", "while", "nullptr", "true", "false", "operator", "std::string", "QString",
        "QObject", "signals:", "slots:", "emit", "{", "}", "(", ");", "=", "==", "->", "::", "<key>", "</key>",
        "<string>", "</string>", "CFBundle", "Version", "Identifier", "Resources", "Frameworks", "Contents"};
    const size_t count = sizeof kWords / sizeof kWords[0];
    std::string data;
    data.reserve(static_cast<size_t>(size) + 32);
    while (static_cast<long>(data.size()) < size) {
        const uint64_t pick = random.Next();
        data += kWords[pick % count];
        data += (pick >> 32) % 9 == 0 ? '\n' : ' ';
    }
    data.resize(static_cast<size_t>(size));
    return data;
}

bool WriteFile(const std::string& path, const std::string& data, mode_t perm, TreeStats* stats)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, perm);
    if (fd < 0) {
        std::fprintf(stderr, "open(%s): %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) {
            std::fprintf(stderr, "write(%s): %s\n", path.c_str(), std::strerror(errno));
            close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0) {
        std::fprintf(stderr, "close(%s): %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    stats->entries += 1;
    stats->bytes += static_cast<long long>(data.size());
    return true;
}

bool MakeDir(const std::string& path, TreeStats* stats)
{
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "mkdir(%s): %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    stats->entries += 1;
    return true;
}

bool MakeLink(const std::string& target, const std::string& path, TreeStats* stats)
{
    if (symlink(target.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "symlink(%s): %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    stats->entries += 1;
    return true;
}

// How the entries and bytes of a TreeSpec are spread.
struct Layout {
    long long bytes = 0;
    long headers = 0;      // in all, spread over the frameworks
    long images = 0;       // in all, in sets of kImagesPerSet
    long small_bytes = 0;  // average size of a header or an image
};

// Entries written whatever the spec: Contents, Frameworks, PlugIns,
// Resources and its two folders; per framework five folders, binary,
// Info.plist and four links; plug-in folders and plug-ins; translations.
constexpr long kFixedEntries =
    6 + kFrameworks * 11 + kPluginGroups * (1 + kPluginsPerGroup) + kTranslations;

Layout Plan(const TreeSpec& spec, long client_entries)
{
    Layout layout;
    layout.bytes = std::max(spec.bytes, 1LL * kMiB);
    const long variable = std::max(0L, spec.entries - kFixedEntries - client_entries);
    layout.headers = static_cast<long>(static_cast<double>(variable) * kHeaderShare);
    const long rest = variable - layout.headers;
    const long sets = (rest + kImagesPerSet) / (kImagesPerSet + 1);
    layout.images = std::max(0L, rest - sets);
    const double small = static_cast<double>(layout.bytes) * (1 - kFrameworkShare - kPluginShare - kTranslationShare);
    layout.small_bytes = std::max(1L, static_cast<long>(small / std::max(1L, layout.headers + layout.images)));
    return layout;
}

// A size about `average`: uniformly from half to one and a half of it.
long AboutSize(Random& random, long average)
{
    return std::max(1L, random.Between(average / 2, average + average / 2));
}

// KitN.framework: one large binary, headers and resources in Versions/A,
// reached through Versions/Current and the top-level links.
bool WriteFramework(const std::string& frameworks, int n, const Layout& layout, Random& random, TreeStats* stats)
{
    const std::string name = "Kit" + std::to_string(n);
    const std::string top = frameworks + "/" + name + ".framework";
    const std::string version = top + "/Versions/A";
    bool ok = MakeDir(top, stats) && MakeDir(top + "/Versions", stats) && MakeDir(version, stats) &&
              MakeDir(version + "/Resources", stats) && MakeDir(version + "/Headers", stats);
    const long binary = static_cast<long>(static_cast<double>(layout.bytes) * kFrameworkShare *
                                          (2 + 2 * (n % 6)) / kBinaryParts);
    const long noise = static_cast<long>(static_cast<double>(binary) * kBinaryNoiseShare);
    ok = ok && WriteFile(version + "/" + name, NoiseBytes(random, noise) + TextBytes(random, binary - noise), 0755,
                         stats);
    ok = ok && WriteFile(version + "/Resources/Info.plist", TextBytes(random, kKiB), 0644, stats);
    const long headers = layout.headers / kFrameworks + (n < layout.headers % kFrameworks ? 1 : 0);
    for (long h = 0; ok && h < headers; ++h)
        ok = WriteFile(version + "/Headers/h" + std::to_string(h) + ".h",
                       TextBytes(random, AboutSize(random, layout.small_bytes)), 0644, stats);
    return ok && MakeLink("A", top + "/Versions/Current", stats) &&
           MakeLink("Versions/Current/" + name, top + "/" + name, stats) &&
           MakeLink("Versions/Current/Resources", top + "/Resources", stats) &&
           MakeLink("Versions/Current/Headers", top + "/Headers", stats);
}

bool WritePlugins(const std::string& contents, const Layout& layout, Random& random, TreeStats* stats)
{
    const long average =
        static_cast<long>(static_cast<double>(layout.bytes) * kPluginShare / (kPluginGroups * kPluginsPerGroup));
    bool ok = MakeDir(contents + "/PlugIns", stats);
    for (int g = 0; ok && g < kPluginGroups; ++g) {
        const std::string group = contents + "/PlugIns/group" + std::to_string(g);
        ok = MakeDir(group, stats);
        for (int p = 0; ok && p < kPluginsPerGroup; ++p)
            ok = WriteFile(group + "/libplugin" + std::to_string(p) + ".so",
                           NoiseBytes(random, AboutSize(random, average)), 0755, stats);
    }
    return ok;
}

bool WriteResources(const std::string& contents, const Layout& layout, Random& random, TreeStats* stats)
{
    const std::string resources = contents + "/Resources";
    const long translation =
        static_cast<long>(static_cast<double>(layout.bytes) * kTranslationShare / kTranslations);
    bool ok = MakeDir(resources, stats) && MakeDir(resources + "/translations", stats) &&
              MakeDir(resources + "/images", stats);
    for (int l = 0; ok && l < kTranslations; ++l)
        ok = WriteFile(resources + "/translations/lang" + std::to_string(l) + ".qm",
                       TextBytes(random, AboutSize(random, translation)), 0644, stats);
    for (long first = 0, s = 0; ok && first < layout.images; first += kImagesPerSet, ++s) {
        const std::string set = resources + "/images/set" + std::to_string(s);
        ok = MakeDir(set, stats);
        for (long i = first; ok && i < std::min<long>(layout.images, first + kImagesPerSet); ++i)
            ok = WriteFile(set + "/icon" + std::to_string(i - first) + ".png",
                           NoiseBytes(random, AboutSize(random, layout.small_bytes)), 0644, stats);
    }
    return ok;
}

bool CopyClient(const std::string& client_bundle, const std::string& root)
{
    std::error_code error;
    fs::copy(client_bundle, root, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error) {
        std::fprintf(stderr, "copy %s: %s\n", client_bundle.c_str(), error.message().c_str());
        return false;
    }
    return true;
}

double Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A timed program is started through bench_measure, which writes its wait
// status, CPU time and peak memory to a report file.
struct Started {
    pid_t pid = -1;
    std::string report;
};

// Reads a report of bench_measure into `run` (its wall clock is set by the caller).
bool ReadReport(const std::string& report, ChildRun* run)
{
    std::ifstream in(report);
    double user = 0, system = 0;
    if (!(in >> run->status >> user >> system >> run->peak_kib))
        return false;
    run->cpu_seconds = user + system;
    run->ok = WIFEXITED(run->status) && WEXITSTATUS(run->status) == 0;
    return true;
}

// The outcome of a started program whose bench_measure ended with `status`.
// `usage` is bench_measure's with the program it waited for (wait4).
ChildRun Finished(const Started& started, int status, std::chrono::steady_clock::time_point start,
                  const struct rusage& usage)
{
    ChildRun run;
    run.seconds = Since(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !ReadReport(started.report, &run)) {
        std::fprintf(stderr, "%s: no report from bench_measure (status %d)\n", started.report.c_str(), status);
        run = ChildRun();
        run.seconds = Since(start);
    }
    run.written_bytes = static_cast<long long>(usage.ru_oublock) * 512;
    unlink(started.report.c_str());
    return run;
}

ChildRun Reap(const Started& started, std::chrono::steady_clock::time_point start)
{
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    pid_t r;
    do {
        r = wait4(started.pid, &status, 0, &usage);
    } while (r < 0 && errno == EINTR);
    if (r != started.pid) {
        std::fprintf(stderr, "wait4: %s\n", std::strerror(errno));
        unlink(started.report.c_str());
        return ChildRun();
    }
    return Finished(started, status, start, usage);
}

// Starts a program with extra environment variables, its output appended
// to `output` when that is not empty; through bench_measure when `measured`.
Started Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              const std::string& output, bool measured)
{
    static int count = 0;
    Started started;
    std::vector<std::string> full;
    if (measured) {
        started.report = std::string(P_tmpdir) + "/lumora-bench-" + std::to_string(getpid()) + "-" +
                         std::to_string(++count) + ".report";
        full = {LUMORA_BENCH_MEASURE, started.report};
    }
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (const std::string& arg : full)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "fork: %s\n", std::strerror(errno));
        return started;
    }
    if (pid == 0) {
        for (const auto& [name, value] : env)
            if (setenv(name.c_str(), value.c_str(), 1) != 0)
                _exit(126);
        if (!output.empty()) {
            const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0 || dup2(fd, STDERR_FILENO) < 0)
                _exit(126);
            close(fd);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    started.pid = pid;
    return started;
}

}  // namespace

bool ChangeTenth(const std::string& root, const std::string& client_bundle, long* changed, long long* bytes, int every)
{
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root + "/Contents", error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_symlink() && it->is_regular_file()) {
            const std::string relative = it->path().lexically_relative(root).string();
            if (!fs::exists(fs::symlink_status(client_bundle + "/" + relative)))
                files.push_back(relative);
        }
    }
    if (error)
        return false;
    std::sort(files.begin(), files.end());
    Random random(4051);
    *changed = 0;
    *bytes = 0;
    for (size_t i = every > 1 ? static_cast<size_t>(every / 2) : 0; i < files.size(); i += static_cast<size_t>(every)) {
        const std::string path = root + "/" + files[i];
        const long size = static_cast<long>(fs::file_size(path, error));
        if (error)
            return false;
        // Written in place: the file keeps its mode.
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << NoiseBytes(random, size);
        if (!out)
            return false;
        ++*changed;
        *bytes += size;
    }
    return true;
}

bool WriteBundleTree(const std::string& root, const std::string& client_bundle, const TreeSpec& spec,
                     TreeStats* stats)
{
    Random random(2024);
    const std::string contents = root + "/Contents";
    long client_entries = 0;
    if (!client_bundle.empty()) {
        if (!CopyClient(client_bundle, root))
            return false;
        client_entries = CountTree(contents);
    }
    const Layout layout = Plan(spec, client_entries);
    if (!MakeDir(root, stats) || !MakeDir(contents, stats) || !MakeDir(contents + "/Frameworks", stats))
        return false;
    for (int n = 0; n < kFrameworks; ++n)
        if (!WriteFramework(contents + "/Frameworks", n, layout, random, stats))
            return false;
    if (!WritePlugins(contents, layout, random, stats) || !WriteResources(contents, layout, random, stats))
        return false;
    stats->entries = CountTree(contents) + 1;  // the client's entries included
    return true;
}

std::string Sha256File(const std::string& path)
{
    std::string digest, error;
    return ::Sha256File(ustring(path), &digest, &error) ? digest : std::string();
}

const char* Bsdtar()
{
    return LUMORA_BSDTAR;
}

bool PackZip(const std::string& root, const std::string& archive)
{
    return RunProgram({Bsdtar(), "--format", "zip", "-cf", archive, "-C", root, "Contents"}).ok;
}

bool PackTarGz(const std::string& root, const std::string& archive)
{
    return RunProgram({Bsdtar(), "-czf", archive, "-C", root, "Contents"}).ok;
}

pid_t StartProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                   const std::string& output)
{
    return Spawn(argv, env, output, false).pid;
}

ChildRun RunProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                    const std::string& output)
{
    const auto start = std::chrono::steady_clock::now();
    const Started started = Spawn(argv, env, output, true);
    return started.pid < 0 ? ChildRun() : Reap(started, start);
}

ChildRun RunProgramWatching(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                            const std::string& output, const std::string& watched, double linger_seconds,
                            double* seen_seconds)
{
    *seen_seconds = -1;
    const auto start = std::chrono::steady_clock::now();
    const Started started = Spawn(argv, env, output, true);
    if (started.pid < 0)
        return ChildRun();
    ChildRun run;
    bool exited = false;
    for (;;) {
        if (!exited) {
            int status = 0;
            struct rusage usage;
            std::memset(&usage, 0, sizeof usage);
            const pid_t r = wait4(started.pid, &status, WNOHANG, &usage);
            if (r == started.pid) {
                run = Finished(started, status, start, usage);
                exited = true;
            } else if (r < 0 && errno != EINTR) {
                std::fprintf(stderr, "waitpid: %s\n", std::strerror(errno));
                return ChildRun();
            }
        }
        if (*seen_seconds < 0 && access(watched.c_str(), F_OK) == 0)
            *seen_seconds = Since(start);
        if (exited && (*seen_seconds >= 0 || Since(start) - run.seconds > linger_seconds))
            return run;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

ChildRun Sequence(const ChildRun& first, const ChildRun& second)
{
    ChildRun both;
    both.ok = first.ok && second.ok;
    both.status = first.ok ? second.status : first.status;
    both.seconds = first.seconds + second.seconds;
    both.cpu_seconds = first.cpu_seconds + second.cpu_seconds;
    both.peak_kib = std::max(first.peak_kib, second.peak_kib);
    both.written_bytes = first.written_bytes >= 0 && second.written_bytes >= 0
                             ? first.written_bytes + second.written_bytes
                             : -1;
    return both;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

long long FreeBytes(const std::string& path)
{
    struct statvfs st;
    if (statvfs(path.c_str(), &st) != 0)
        return -1;
    return static_cast<long long>(st.f_bavail) * static_cast<long long>(st.f_frsize);
}

long CountTree(const std::string& root)
{
    std::error_code error;
    long count = 0;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error))
        ++count;
    return error ? -1 : count;
}

bool RemoveTree(const std::string& path)
{
    std::error_code error;
    fs::remove_all(path, error);
    if (error)
        std::fprintf(stderr, "remove %s: %s\n", path.c_str(), error.message().c_str());
    return !error;
}

bool SpreadSubfolders(const std::string& folder, std::string* why)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *why = std::string("open: ") + std::strerror(errno);
        return false;
    }
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags |= FS_TOPDIR_FL;
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (!ok)
        *why = std::string("FS_IOC_SETFLAGS: ") + std::strerror(errno);
    close(fd);
    return ok;
}

namespace {

std::string CleanupStamp(const std::string& parent)
{
    return parent + "/.lumora-bench-cleanup";
}

}  // namespace

void NoteCleanup(const std::string& parent)
{
    const int fd = open(CleanupStamp(parent).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0)
        close(fd);
}

double SecondsSinceCleanup(const std::string& parent)
{
    struct stat st;
    if (stat(CleanupStamp(parent).c_str(), &st) != 0)
        return 1e9;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec - st.st_mtim.tv_sec) +
           static_cast<double>(now.tv_nsec - st.st_mtim.tv_nsec) / 1e9;
}

std::string MakeTempDir(const std::string& parent, const std::string& prefix)
{
    // Absolute, since the folder may become a child's HOME.
    std::error_code error;
    std::string pattern = fs::absolute(parent, error).string() + "/" + prefix + "-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        std::fprintf(stderr, "mkdtemp(%s): %s\n", pattern.c_str(), std::strerror(errno));
        return std::string();
    }
    return pattern;
}

long long FileSize(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

}  // namespace bench
