// Timing harness for the file layer against the system tools. Each case runs
// in pairs, ours and the tool's on identical fresh data, the order alternating
// from pair to pair, and reports the medians of wall and CPU time (user plus
// system; a tool's CPU time is its processes' own, from wait4) and the median
// of the per-pair ratios:
//   copy     FSCopy of a 256 MiB file            against cp + sync FILE
//   remove   FSRemove of a 20,000-entry tree     against rm -rf
//   move     FSRename of a 2,000-entry tree from /dev/shm to the work folder
//            against mv, which makes nothing durable: with the copies made
//            durable before the sources go (as the program moves), without
//            (as mv moves), and made durable against mv followed by sync -f
//   names    stored-name look-ups of every entry of an 8,000-entry folder
//            (no tool; the time per look-up)
// Usage: file_bench [work folder on a disk volume [copy|remove|move|names [pairs]]]
// (default: the temp folder, every case, 5 pairs)
// Everything the harness creates is removed before it exits.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "file-op-seams.h"
#include "file-op.h"
#ifdef __linux__
#include "platform/stored-name.h"
#endif

extern char** environ;

namespace {

constexpr size_t kCopyBytes = 256u * 1024 * 1024;
constexpr int kRemoveFolders = 100;
constexpr int kRemoveFilesPerFolder = 199;   // 100 + 100 * 199 = 20,000 entries
constexpr int kMoveFolders = 20;
constexpr int kMoveFilesPerFolder = 99;      // 20 + 20 * 99 = 2,000 entries
constexpr int kNameEntries = 8000;

struct Cost {
    double wall = 0;
    double cpu = 0;
};

double Seconds(const struct timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double CpuSeconds(const struct rusage& usage)
{
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

double Now()
{
    std::chrono::duration<double> since = std::chrono::steady_clock::now().time_since_epoch();
    return since.count();
}

// Cost of `work` run in this process (which has no other thread).
Cost Measure(const std::function<void()>& work)
{
    struct rusage before;
    struct rusage after;
    getrusage(RUSAGE_SELF, &before);
    double start = Now();
    work();
    Cost cost;
    cost.wall = Now() - start;
    getrusage(RUSAGE_SELF, &after);
    cost.cpu = CpuSeconds(after) - CpuSeconds(before);
    return cost;
}

using Command = std::vector<std::string>;

// Runs the commands one after the other, without a shell; their summed cost.
bool RunTools(const std::vector<Command>& commands, Cost& cost)
{
    cost = Cost();
    double start = Now();
    for (const Command& command : commands) {
        std::vector<char*> argv;
        for (const std::string& word : command)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            fprintf(stderr, "cannot start %s\n", argv[0]);
            return false;
        }
        int status = 0;
        struct rusage usage;
        if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fprintf(stderr, "%s failed (status %d)\n", argv[0], status);
            return false;
        }
        cost.cpu += CpuSeconds(usage);
    }
    cost.wall = Now() - start;
    return true;
}

bool Run(const Command& command)
{
    Cost ignored;
    return RunTools({command}, ignored);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Paired samples of one case against one tool.
struct Pairs {
    std::vector<Cost> ours;
    std::vector<Cost> theirs;

    void Add(const Cost& a, const Cost& b)
    {
        ours.push_back(a);
        theirs.push_back(b);
    }
    void Report(const char* what, const char* tool) const
    {
        if (ours.empty()) {
            printf("%s: no complete pair\n", what);
            return;
        }
        std::vector<double> ow, oc, tw, tc, rw, rc;
        for (size_t i = 0; i < ours.size(); ++i) {
            ow.push_back(ours[i].wall);
            oc.push_back(ours[i].cpu);
            tw.push_back(theirs[i].wall);
            tc.push_back(theirs[i].cpu);
            rw.push_back(ours[i].wall / theirs[i].wall);
            rc.push_back(theirs[i].cpu > 0 ? ours[i].cpu / theirs[i].cpu : 0);
        }
        printf("%s against %s (median of %zu pairs)\n", what, tool, ours.size());
        printf("    wall  ours %8.3f s   %-16s %8.3f s   ratio %.2f\n", Median(ow), tool, Median(tw), Median(rw));
        printf("    cpu   ours %8.3f s   %-16s %8.3f s   ratio %.2f\n", Median(oc), tool, Median(tc), Median(rc));
        fflush(stdout);
    }
};

bool WriteFile(const std::string& path, size_t bytes)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>((i * 2654435761u) >> 13);
    bool ok = true;
    for (size_t done = 0; ok && done < bytes; done += block.size())
        ok = write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
    ok = fsync(fd) == 0 && ok;
    return close(fd) == 0 && ok;
}

// A tree of `folders` folders holding `files` small files each.
bool MakeTree(const std::string& root, int folders, int files)
{
    if (mkdir(root.c_str(), 0755) != 0)
        return false;
    for (int d = 0; d < folders; ++d) {
        std::string folder = root + "/d" + std::to_string(d);
        if (mkdir(folder.c_str(), 0755) != 0)
            return false;
        for (int f = 0; f < files; ++f) {
            int fd = open((folder + "/f" + std::to_string(f)).c_str(), O_WRONLY | O_CREAT, 0644);
            if (fd < 0 || write(fd, "entry\n", 6) != 6 || close(fd) != 0)
                return false;
        }
    }
    return true;
}

// Runs one pair, ours first on even pairs and the tool first on odd ones.
bool RunPair(int pair, const std::function<bool(Cost&)>& ours, const std::function<bool(Cost&)>& theirs,
             Pairs& pairs)
{
    Cost a;
    Cost b;
    bool ok = pair % 2 == 0 ? ours(a) && theirs(b) : theirs(b) && ours(a);
    if (ok)
        pairs.Add(a, b);
    return ok;
}

void BenchCopy(const std::string& base, int count)
{
    std::string src = base + "/copy-src";
    std::string ours = base + "/copy-ours";
    std::string theirs = base + "/copy-cp";
    if (!WriteFile(src, kCopyBytes)) {
        fprintf(stderr, "cannot write %s\n", src.c_str());
        return;
    }
    Pairs pairs;
    for (int pair = 0; pair < count; ++pair) {
        auto run_ours = [&](Cost& cost) {
            int result = 0;
            sync();
            cost = Measure([&] { result = FSCopy(src, ours, false); });
            unlink(ours.c_str());
            if (result != 0)
                fprintf(stderr, "FSCopy failed: %d\n", result);
            return result == 0;
        };
        auto run_theirs = [&](Cost& cost) {
            sync();
            bool ok = RunTools({{"cp", src, theirs}, {"sync", theirs}}, cost);
            unlink(theirs.c_str());
            return ok;
        };
        if (!RunPair(pair, run_ours, run_theirs, pairs))
            break;
    }
    unlink(src.c_str());
    pairs.Report("FSCopy 256 MiB (fsync included)", "cp + sync FILE");
}

void BenchRemove(const std::string& base, int count)
{
    std::string ours = base + "/remove-ours";
    std::string theirs = base + "/remove-rm";
    Pairs pairs;
    // Each side removes a tree built just before, in the same state.
    auto build = [](const std::string& root) {
        bool ok = MakeTree(root, kRemoveFolders, kRemoveFilesPerFolder);
        if (!ok)
            fprintf(stderr, "cannot build %s\n", root.c_str());
        sync();
        return ok;
    };
    for (int pair = 0; pair < count; ++pair) {
        auto run_ours = [&](Cost& cost) {
            int result = -1;
            if (build(ours))
                cost = Measure([&] { result = FSRemove(ours, false); });
            if (result != 0)
                fprintf(stderr, "FSRemove failed: %d\n", result);
            return result == 0;
        };
        auto run_theirs = [&](Cost& cost) { return build(theirs) && RunTools({{"rm", "-rf", theirs}}, cost); };
        if (!RunPair(pair, run_ours, run_theirs, pairs))
            break;
    }
    Run({"rm", "-rf", ours, theirs});
    pairs.Report("FSRemove 20,000 entries", "rm -rf");
}

void BenchMove(const std::string& base, int count)
{
    struct stat here;
    struct stat shm;
    if (stat(base.c_str(), &here) != 0 || stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev) {
        printf("FSRename across volumes: skipped, /dev/shm is not a second file system\n");
        return;
    }
    std::string pattern = "/dev/shm/file-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return;
    std::string shm_root = pattern;
    std::string src_ours = shm_root + "/ours";
    std::string src_mv = shm_root + "/mv";
    std::string dst_ours = base + "/moved-ours";
    std::string dst_mv = base + "/moved-mv";
    // Ours durable against mv, ours not durable against mv, ours durable
    // against mv + sync -f.
    struct Variant {
        bool durable;
        bool tool_syncs;
        const char* what;
        const char* tool;
        Pairs pairs;
    } variants[] = {{true, false, "FSRename 2,000 entries /dev/shm -> disk, durable", "mv", {}},
                    {false, false, "FSRename 2,000 entries /dev/shm -> disk, not durable", "mv", {}},
                    {true, true, "FSRename 2,000 entries /dev/shm -> disk, durable", "mv + sync -f", {}}};
    // Each side moves a tree built just before, in the same state.
    auto build = [](const std::string& root) {
        bool ok = MakeTree(root, kMoveFolders, kMoveFilesPerFolder);
        if (!ok)
            fprintf(stderr, "cannot build %s\n", root.c_str());
        sync();
        return ok;
    };
    bool ok = true;
    for (Variant& variant : variants) {
        fileop_seams::SetDurableMoves(variant.durable);
        for (int pair = 0; ok && pair < count; ++pair) {
            auto run_ours = [&](Cost& cost) {
                int result = -1;
                if (build(src_ours))
                    cost = Measure([&] { result = FSRename(src_ours, dst_ours, true); });
                if (result != 0)
                    fprintf(stderr, "FSRename failed: %d\n", result);
                return result == 0;
            };
            auto run_theirs = [&](Cost& cost) {
                std::vector<Command> commands = {{"mv", src_mv, dst_mv}};
                if (variant.tool_syncs)
                    commands.push_back({"sync", "-f", dst_mv});
                return build(src_mv) && RunTools(commands, cost);
            };
            ok = RunPair(pair, run_ours, run_theirs, variant.pairs);
            Run({"rm", "-rf", src_ours, src_mv, dst_ours, dst_mv});
        }
    }
    fileop_seams::SetDurableMoves(true);
    Run({"rm", "-rf", shm_root});
    for (const Variant& variant : variants)
        variant.pairs.Report(variant.what, variant.tool);
}

void BenchNames(const std::string& base, int count)
{
#ifdef __linux__
    std::string folder = base + "/names";
    if (mkdir(folder.c_str(), 0755) != 0)
        return;
    std::vector<std::string> names;
    std::vector<struct stat> objects(kNameEntries);
    for (int i = 0; i < kNameEntries; ++i) {
        names.push_back("Entry-" + std::to_string(i));
        std::string path = folder + "/" + names.back();
        int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0 || close(fd) != 0 || lstat(path.c_str(), &objects[i]) != 0)
            return;
    }
    // An old enough folder time lets the listing be kept from one look-up
    // to the next.
    struct timeval past[2] = {{1000000000, 0}, {1000000000, 0}};
    utimes(folder.c_str(), past);
    std::vector<double> per_lookup;
    for (int run = 0; run < count; ++run) {
        int misses = 0;
        Cost cost = Measure([&] {
            std::string stored;
            for (int i = 0; i < kNameEntries; ++i) {
                // Asked for in upper case: found through the listing, as a
                // case-insensitive volume would make it.
                std::string asked = names[i];
                std::transform(asked.begin(), asked.end(), asked.begin(), ::toupper);
                misses += !fileplatform::StoredEntryName(folder, asked, objects[i], stored) || stored != names[i];
            }
        });
        if (misses != 0)
            fprintf(stderr, "stored names: %d look-ups wrong\n", misses);
        per_lookup.push_back(cost.wall / kNameEntries);
    }
    Run({"rm", "-rf", folder});
    printf("Stored-name look-ups, 8,000 entries in one folder (median of %d runs)\n", count);
    printf("    wall  %.2f us per look-up, %.3f s for the folder\n", Median(per_lookup) * 1e6,
           Median(per_lookup) * kNameEntries);
#else
    (void)base;
    (void)count;
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    std::string parent = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
    std::string pattern = parent + "/file-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    std::string base = pattern;
    std::string only = argc > 2 ? argv[2] : "";
    int count = argc > 3 ? std::max(1, atoi(argv[3])) : 5;
    if (only.empty() || only == "copy")
        BenchCopy(base, count);
    if (only.empty() || only == "remove")
        BenchRemove(base, count);
    if (only.empty() || only == "move")
        BenchMove(base, count);
    if (only.empty() || only == "names")
        BenchNames(base, count);
    Run({"rm", "-rf", base});
    return 0;
}
