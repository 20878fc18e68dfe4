// Cost of the install manifest's check, which every launcher run makes:
// InstallManifest::Check over a bundle-like tree of the launcher_run_bench
// shape (3,000 entries by default) with a warm cache, against the floor of
// any such check (fstatat of every entry in folders opened beforehand, no
// record read) and lstat of every path by its full name. Also the cost of
// writing the record.
// Medians (and the 10th / 90th percentiles) of the given number of checks,
// wall and CPU time of this thread.
// Usage: manifest_bench [work folder [checks [entries [MB]]]]
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "install-manifest.h"

namespace {

struct Timing {
    std::vector<double> wall, cpu;  // seconds
};

double Clock(clockid_t clock)
{
    timespec now {};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Runs `work` `runs` times after three unmeasured runs (which warm the cache).
bool Measure(int runs, const std::function<bool()>& work, Timing* timing)
{
    for (int i = 0; i < 3; ++i)
        if (!work())
            return false;
    for (int i = 0; i < runs; ++i) {
        const double wall = Clock(CLOCK_MONOTONIC), cpu = Clock(CLOCK_THREAD_CPUTIME_ID);
        if (!work())
            return false;
        timing->cpu.push_back(Clock(CLOCK_THREAD_CPUTIME_ID) - cpu);
        timing->wall.push_back(Clock(CLOCK_MONOTONIC) - wall);
    }
    return true;
}

double Percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(share * static_cast<double>(values.size() - 1))];
}

void Print(const char* what, const Timing& t)
{
    std::printf("%-34s wall %7.3f ms (p10 %.3f, p90 %.3f)   CPU %7.3f ms (p10 %.3f, p90 %.3f)\n", what,
                bench::Median(t.wall) * 1e3, Percentile(t.wall, 0.1) * 1e3, Percentile(t.wall, 0.9) * 1e3,
                bench::Median(t.cpu) * 1e3, Percentile(t.cpu, 0.1) * 1e3, Percentile(t.cpu, 0.9) * 1e3);
}

// Every file and link below `app`, by full path: what the record holds.
std::vector<std::string> RecordedPaths(const std::string& app)
{
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(app))
        if (!entry.is_directory() || entry.is_symlink())
            paths.push_back(entry.path().string());
    return paths;
}

// The same paths by folder, each folder open: the floor of any check that
// looks at every entry once.
struct OpenFolder {
    int fd = -1;
    std::vector<std::string> names;
};

std::map<std::string, OpenFolder> OpenFolders(const std::vector<std::string>& paths)
{
    std::map<std::string, OpenFolder> folders;
    for (const std::string& path : paths) {
        const std::filesystem::path p(path);
        OpenFolder& folder = folders[p.parent_path().string()];
        if (folder.fd < 0)
            folder.fd = open(p.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        folder.names.push_back(p.filename().string());
    }
    return folders;
}

int Run(const std::string& app, int checks)
{
    const ustring manifest = InstallManifest::PathFor(app);
    std::string error;
    Timing write, check, reference;
    if (!Measure(5, [&] { return InstallManifest::Write(app, manifest, &error); }, &write)) {
        std::fprintf(stderr, "InstallManifest::Write: %s\n", error.c_str());
        return 1;
    }
    InstallManifest::Damage damage;
    const bool checked = Measure(checks, [&] {
        return InstallManifest::Check(app, manifest, &damage) == InstallManifest::Result::Intact;
    }, &check);
    if (!checked) {
        std::fprintf(stderr, "InstallManifest::Check: '%s' %s\n", damage.path.c_str(), damage.what.c_str());
        return 1;
    }
    const std::vector<std::string> paths = RecordedPaths(app);
    Measure(checks, [&] {
        struct stat st;
        for (const std::string& path : paths)
            if (lstat(path.c_str(), &st) != 0)
                return false;
        return true;
    }, &reference);
    Timing floor;
    std::map<std::string, OpenFolder> folders = OpenFolders(paths);
    Measure(checks, [&] {
        struct stat st;
        for (const auto& folder : folders)
            for (const std::string& name : folder.second.names)
                if (fstatat(folder.second.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                    return false;
        return true;
    }, &floor);
    for (const auto& folder : folders)
        close(folder.second.fd);
    struct stat st;
    stat(manifest.c_str(), &st);
    std::printf("%zu files and links recorded in %lld bytes; medians of %d checks, 5 writes\n", paths.size(),
                static_cast<long long>(st.st_size), checks);
    Print("InstallManifest::Check", check);
    Print("fstatat of every entry (floor)", floor);
    Print("lstat of every path (reference)", reference);
    Print("InstallManifest::Write (fsync'ed)", write);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string work = argc > 1 ? argv[1] : "/tmp";
    const int checks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 201;
    bench::TreeSpec spec;
    if (argc > 3)
        spec.entries = std::max(1L, std::atol(argv[3]));
    if (argc > 4)
        spec.bytes = std::max(1LL, std::atoll(argv[4])) * 1000 * 1000;
    const std::string dir = bench::MakeTempDir(work, "manifest-bench");
    if (dir.empty())
        return 1;
    const std::string app = dir + "/Lumora.app";
    bench::TreeStats stats;
    int status = 1;
    if (bench::WriteBundleTree(app, std::string(), spec, &stats)) {
        std::printf("tree: %ld entries, %.1f MB (load %s)\n", stats.entries, static_cast<double>(stats.bytes) / 1e6,
                    bench::LoadAverage().c_str());
        status = Run(app, checks);
    }
    bench::RemoveTree(dir);
    return status;
}
