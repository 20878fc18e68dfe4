// Timing harness: Extractor::Extract against `bsdtar -xf` on a generated
// bundle-like package (3,000 entries, 150 MB, about 115 MB of zip), in the
// shipped zip format and as gzip'd tar. Neither side syncs.
//
// Each extraction runs in its own process (this program again, with
// --extract) into a fresh folder, so the peak memory reported is that
// run's own. Two references: `bsdtar -xf` as it is, which run as root
// also restores owners, permissions, times, ACLs, extended attributes and
// file flags, and `bsdtar -xf -m -o --no-same-permissions --no-acls
// --no-xattrs --no-fflags`, which writes what the Extractor writes.
// Then the parts of a launcher's installation besides the extraction, each
// in a process of its own: this program's start-up alone (the launcher's
// libraries, without the toolkit's application object), Extractor::Count
// (the listing pass before the extraction) and Sha256File (the package
// check).
//
// Usage: extractor_bench [work folder [rounds [entries [MB]]]]
//        (default: /tmp, 5 rounds, 3,000 entries, 150 MB)
// Rounds are triples in rotating order; the medians of each, by wall clock
// and by the process's own CPU time (steadier on a busy machine), and the
// medians of the per-round ratios are printed. Every extraction goes to a
// fresh folder in a block group of its own and nothing is deleted before the
// end, when everything created is removed (and the time noted in
// .lumora-bench-cleanup of the work folder's parent); a start within six
// minutes of another harness's clean-up waits for the rest of them (see
// bench::kDeletedInodesAgeSeconds).
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "extractor.h"
#include "sha256-file.h"
#include "strtable.h"

namespace {

struct Series {
    std::vector<double> seconds, cpu_seconds;
    long peak_kib = 0;
    bool ok = true;
    void Add(const bench::ChildRun& run)
    {
        ok = ok && run.ok;
        seconds.push_back(run.seconds);
        cpu_seconds.push_back(run.cpu_seconds);
        peak_kib = std::max(peak_kib, run.peak_kib);
    }
};

double MedianRatio(const std::vector<double>& ours, const std::vector<double>& theirs)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size() && i < theirs.size(); ++i)
        ratios.push_back(ours[i] / theirs[i]);
    return bench::Median(ratios);
}

// The modes this program runs in as a timed child.
int RunPart(const std::string& part, const std::string& archive, const std::string& dest)
{
    if (part == "--start-up")
        return 0;
    if (part == "--digest") {
        std::string digest, error;
        return Sha256File(ustring(archive), &digest, &error) ? 0 : 1;
    }
    StrTable::InitStrTable();
    Extractor extractor;
    extractor.src_path = ustring(archive);
    extractor.dest_path = ustring(dest.empty() ? std::string("/nonexistent") : dest);
    if (part == "--count")
        return extractor.Count() > 0 ? 0 : 1;
    return extractor.Extract() == 0 ? 0 : 1;
}

std::string SelfPath()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string("extractor_bench");
}

enum class Tool { kExtractor, kBsdtar, kPlainBsdtar };

// One timed extraction into a fresh folder, checked against the expected
// number of objects. The folder stays until the end.
bench::ChildRun TimeOne(Tool tool, const std::string& archive, const std::string& work, long expected)
{
    const std::string dest = bench::MakeTempDir(work, "out");
    if (dest.empty())
        return bench::ChildRun();
    sync();
    bench::ChildRun run;
    switch (tool) {
    case Tool::kExtractor:
        run = bench::RunProgram({SelfPath(), "--extract", archive, dest});
        break;
    case Tool::kBsdtar:
        run = bench::RunProgram({bench::Bsdtar(), "-xf", archive, "-C", dest});
        break;
    case Tool::kPlainBsdtar:
        run = bench::RunProgram({bench::Bsdtar(), "-xf", archive, "-m", "-o", "--no-same-permissions", "--no-acls",
                                 "--no-xattrs", "--no-fflags", "-C", dest});
        break;
    }
    const long found = bench::CountTree(dest);
    if (run.ok && found != expected) {
        std::fprintf(stderr, "%s wrote %ld objects, expected %ld\n", tool == Tool::kExtractor ? "Extractor" : "bsdtar",
                     found, expected);
        run.ok = false;
    }
    return run;
}

void PrintRow(const char* what, const Series& series, const Series* reference)
{
    std::printf("    %-34s %7.3f s  cpu %7.3f s  %7.1f MiB peak", what, bench::Median(series.seconds),
                bench::Median(series.cpu_seconds), static_cast<double>(series.peak_kib) / 1024);
    if (reference != nullptr)
        std::printf("   Extractor / this: wall %.3f, cpu %.3f", MedianRatio(reference->seconds, series.seconds),
                    MedianRatio(reference->cpu_seconds, series.cpu_seconds));
    std::printf("%s\n", series.ok ? "" : "   (FAILED runs)");
}

bool Compare(const char* format, const std::string& archive, const std::string& work, long expected, int rounds)
{
    Series runs[3];
    const Tool tools[3] = {Tool::kExtractor, Tool::kBsdtar, Tool::kPlainBsdtar};
    for (int round = 0; round < rounds; ++round)
        // Rotate which goes first, so none always meets a busier disk.
        for (int k = 0; k < 3; ++k) {
            const int which = (round + k) % 3;
            runs[which].Add(TimeOne(tools[which], archive, work, expected));
        }
    std::printf("%s, %.1f MB (medians of %d rounds, load %s)\n", format,
                static_cast<double>(bench::FileSize(archive)) / 1e6, rounds, bench::LoadAverage().c_str());
    PrintRow("Extractor::Extract", runs[0], nullptr);
    PrintRow("bsdtar -xf", runs[1], &runs[0]);
    PrintRow("bsdtar -xf, Extractor's choices", runs[2], &runs[0]);
    return runs[0].ok && runs[1].ok && runs[2].ok;
}

// The parts of an installation besides the extraction, on the zip.
bool Parts(const std::string& archive, int rounds)
{
    const char* const parts[] = {"--start-up", "--count", "--digest"};
    const char* const names[] = {"start-up of this program", "Extractor::Count", "Sha256File"};
    std::printf("other parts, zip (medians of %d runs, load %s)\n", rounds, bench::LoadAverage().c_str());
    bool ok = true;
    for (int p = 0; p < 3; ++p) {
        Series series;
        for (int round = 0; round < rounds; ++round)
            series.Add(bench::RunProgram({SelfPath(), parts[p], archive}));
        PrintRow(names[p], series, nullptr);
        ok = ok && series.ok;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && argv[1][0] == '-' && argv[1][1] == '-')
        return RunPart(argv[1], argv[2], argc > 3 ? argv[3] : "");
    const std::string parent = argc > 1 ? argv[1] : "/tmp";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    bench::TreeSpec spec;
    if (argc > 3)
        spec.entries = std::max(1L, std::atol(argv[3]));
    if (argc > 4)
        spec.bytes = std::max(1LL, std::atoll(argv[4])) * 1000 * 1000;
    const std::string work = bench::MakeTempDir(parent, "extractor-bench");
    if (work.empty())
        return 1;
    std::string why;
    if (!bench::SpreadSubfolders(work, &why))
        std::printf("note: %s: %s; rounds may share block groups with deleted trees\n", work.c_str(), why.c_str());
    const double since = bench::SecondsSinceCleanup(parent);
    if (since < bench::kRewrittenInodesAgeSeconds) {
        std::printf("note: another run cleaned up here %.0f s ago; waiting %.0f s\n", since,
                    bench::kRewrittenInodesAgeSeconds - since);
        std::fflush(stdout);
        sleep(static_cast<unsigned>(bench::kRewrittenInodesAgeSeconds - std::max(0.0, since)) + 1);
    }
    const std::string stage = work + "/stage";
    bench::TreeStats stats;
    bool ok = bench::WriteBundleTree(stage, LUMORA_CLIENT_BUNDLE, spec, &stats) &&
              bench::PackZip(stage, work + "/package.zip") && bench::PackTarGz(stage, work + "/package.tar.gz");
    const long expected = ok ? bench::CountTree(stage) : -1;
    if (ok) {
        std::printf("package: %ld entries, %.1f MB of generated data\n", stats.entries,
                    static_cast<double>(stats.bytes) / 1e6);
        ok = Compare("zip", work + "/package.zip", work, expected, rounds);
        ok = Compare("tar.gz", work + "/package.tar.gz", work, expected, rounds) && ok;
        ok = Parts(work + "/package.zip", rounds) && ok;
    }
    bench::RemoveTree(work);
    bench::NoteCleanup(parent);
    return ok ? 0 : 1;
}
