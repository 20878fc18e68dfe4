#include "bench_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr long kKiB = 1024;
constexpr long kMiB = 1024 * kKiB;
constexpr int kFrameworks = 12;
constexpr int kHeadersPerFramework = 40;
constexpr int kPluginGroups = 8;
constexpr int kPluginsPerGroup = 5;
constexpr int kTranslations = 60;
constexpr int kImageSets = 28;
constexpr int kImagesPerSet = 100;

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

// KitN.framework: one large binary, headers and resources in Versions/A,
// reached through Versions/Current and the top-level links.
bool WriteFramework(const std::string& frameworks, int n, Random& random, TreeStats* stats)
{
    const std::string name = "Kit" + std::to_string(n);
    const std::string top = frameworks + "/" + name + ".framework";
    const std::string version = top + "/Versions/A";
    bool ok = MakeDir(top, stats) && MakeDir(top + "/Versions", stats) && MakeDir(version, stats) &&
              MakeDir(version + "/Resources", stats) && MakeDir(version + "/Headers", stats);
    const long binary = (2 + 2 * (n % 6)) * kMiB;
    ok = ok && WriteFile(version + "/" + name, n % 2 == 0 ? NoiseBytes(random, binary) : TextBytes(random, binary),
                         0755, stats);
    ok = ok && WriteFile(version + "/Resources/Info.plist", TextBytes(random, kKiB), 0644, stats);
    for (int h = 0; ok && h < kHeadersPerFramework; ++h)
        ok = WriteFile(version + "/Headers/h" + std::to_string(h) + ".h",
                       TextBytes(random, random.Between(2 * kKiB, 10 * kKiB)), 0644, stats);
    return ok && MakeLink("A", top + "/Versions/Current", stats) &&
           MakeLink("Versions/Current/" + name, top + "/" + name, stats) &&
           MakeLink("Versions/Current/Resources", top + "/Resources", stats) &&
           MakeLink("Versions/Current/Headers", top + "/Headers", stats);
}

bool WritePlugins(const std::string& contents, Random& random, TreeStats* stats)
{
    bool ok = MakeDir(contents + "/PlugIns", stats);
    for (int g = 0; ok && g < kPluginGroups; ++g) {
        const std::string group = contents + "/PlugIns/group" + std::to_string(g);
        ok = MakeDir(group, stats);
        for (int p = 0; ok && p < kPluginsPerGroup; ++p)
            ok = WriteFile(group + "/libplugin" + std::to_string(p) + ".so",
                           NoiseBytes(random, random.Between(100 * kKiB, 600 * kKiB)), 0755, stats);
    }
    return ok;
}

bool WriteResources(const std::string& contents, Random& random, TreeStats* stats)
{
    const std::string resources = contents + "/Resources";
    bool ok = MakeDir(resources, stats) && MakeDir(resources + "/translations", stats) &&
              MakeDir(resources + "/images", stats);
    for (int l = 0; ok && l < kTranslations; ++l)
        ok = WriteFile(resources + "/translations/lang" + std::to_string(l) + ".qm",
                       TextBytes(random, random.Between(50 * kKiB, 200 * kKiB)), 0644, stats);
    for (int s = 0; ok && s < kImageSets; ++s) {
        const std::string set = resources + "/images/set" + std::to_string(s);
        ok = MakeDir(set, stats);
        for (int i = 0; ok && i < kImagesPerSet; ++i)
            ok = WriteFile(set + "/icon" + std::to_string(i) + ".png",
                           NoiseBytes(random, random.Between(kKiB, 8 * kKiB)), 0644, stats);
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

ChildRun Reap(pid_t pid, std::chrono::steady_clock::time_point start)
{
    ChildRun run;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    pid_t r;
    do {
        r = wait4(pid, &run.status, 0, &usage);
    } while (r < 0 && errno == EINTR);
    run.seconds = Since(start);
    if (r != pid) {
        std::fprintf(stderr, "wait4: %s\n", std::strerror(errno));
        return run;
    }
    run.peak_kib = usage.ru_maxrss;
    run.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ok = WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
    return run;
}

}  // namespace

bool WriteBundleTree(const std::string& root, const std::string& client_bundle, TreeStats* stats)
{
    Random random(2024);
    const std::string contents = root + "/Contents";
    if (!client_bundle.empty() && !CopyClient(client_bundle, root))
        return false;
    if (!MakeDir(root, stats) || !MakeDir(contents, stats) || !MakeDir(contents + "/Frameworks", stats))
        return false;
    for (int n = 0; n < kFrameworks; ++n)
        if (!WriteFramework(contents + "/Frameworks", n, random, stats))
            return false;
    if (!WritePlugins(contents, random, stats) || !WriteResources(contents, random, stats))
        return false;
    stats->entries = CountTree(contents) + 1;  // the client's entries included
    return true;
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

ChildRun RunForked(const std::function<int()>& work)
{
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "fork: %s\n", std::strerror(errno));
        return ChildRun();
    }
    if (pid == 0)
        _exit(work());
    return Reap(pid, start);
}

ChildRun RunProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                    const std::string& output)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "fork: %s\n", std::strerror(errno));
        return ChildRun();
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
    return Reap(pid, start);
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
