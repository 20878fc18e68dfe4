// Timing harness: Extractor::Extract against `bsdtar -xf` on a generated
// bundle-like package (3,500 entries, about 120 MB), in the shipped zip
// format and as gzip'd tar. Each extraction runs in its own child process
// into a fresh folder, so the peak memory reported is that run's own.
// Usage: extractor_bench [work folder [rounds]]   (default: /tmp, 3 rounds)
// The best round of each is compared, by wall clock and by the child's own
// CPU time (steadier on a busy machine); everything created is removed.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "extractor.h"
#include "strtable.h"

namespace {

struct Best {
    double seconds = 1e9;
    double cpu_seconds = 1e9;
    long peak_kib = 0;
    bool ok = true;
    void Add(const bench::ChildRun& run)
    {
        ok = ok && run.ok;
        seconds = std::min(seconds, run.seconds);
        cpu_seconds = std::min(cpu_seconds, run.cpu_seconds);
        peak_kib = std::max(peak_kib, run.peak_kib);
    }
};

int ExtractWithExtractor(const std::string& archive, const std::string& dest)
{
    Extractor extractor;
    extractor.src_path = ustring(archive);
    extractor.dest_path = ustring(dest);
    return extractor.Extract() == 0 ? 0 : 1;
}

// One timed extraction into a fresh folder, checked against the expected
// number of objects and removed again.
bench::ChildRun TimeOne(bool with_extractor, const std::string& archive, const std::string& work, long expected)
{
    const std::string dest = work + (with_extractor ? "/out-extractor" : "/out-bsdtar");
    bench::RemoveTree(dest);
    sync();
    bench::ChildRun run = with_extractor
                              ? bench::RunForked([&] { return ExtractWithExtractor(archive, dest); })
                              : bench::RunProgram({"mkdir", "-p", dest}).ok
                                    ? bench::RunProgram({bench::Bsdtar(), "-xf", archive, "-C", dest})
                                    : bench::ChildRun();
    const long found = bench::CountTree(dest);
    if (run.ok && found != expected) {
        std::fprintf(stderr, "%s wrote %ld objects, expected %ld\n", with_extractor ? "Extractor" : "bsdtar", found,
                     expected);
        run.ok = false;
    }
    bench::RemoveTree(dest);
    return run;
}

bool Compare(const char* format, const std::string& archive, const std::string& work, long expected, int rounds)
{
    Best extractor, bsdtar;
    for (int round = 0; round < rounds; ++round) {
        // Alternate which goes first, so neither always meets a busier disk.
        const bool extractor_first = round % 2 == 0;
        for (int k = 0; k < 2; ++k) {
            const bool with_extractor = (k == 0) == extractor_first;
            (with_extractor ? extractor : bsdtar).Add(TimeOne(with_extractor, archive, work, expected));
        }
    }
    std::printf("%-7s %5.1f MB  Extractor %6.3f s (cpu %6.3f s) %6ld KiB peak   bsdtar -xf %6.3f s (cpu %6.3f s) "
                "%6ld KiB peak   ratio %.3f (cpu %.3f)%s\n",
                format, static_cast<double>(bench::FileSize(archive)) / 1e6, extractor.seconds,
                extractor.cpu_seconds, extractor.peak_kib, bsdtar.seconds, bsdtar.cpu_seconds, bsdtar.peak_kib,
                extractor.seconds / bsdtar.seconds, extractor.cpu_seconds / bsdtar.cpu_seconds,
                extractor.ok && bsdtar.ok ? "" : "   (FAILED runs)");
    return extractor.ok && bsdtar.ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string parent = argc > 1 ? argv[1] : "/tmp";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    StrTable::InitStrTable();
    const std::string work = bench::MakeTempDir(parent, "extractor-bench");
    if (work.empty())
        return 1;
    const std::string stage = work + "/stage";
    bench::TreeStats stats;
    bool ok = bench::WriteBundleTree(stage, LUMORA_CLIENT_BUNDLE, &stats) &&
              bench::PackZip(stage, work + "/package.zip") && bench::PackTarGz(stage, work + "/package.tar.gz");
    const long expected = ok ? bench::CountTree(stage) : -1;
    bench::RemoveTree(stage);
    if (ok) {
        std::printf("package: %ld entries, %.1f MB of generated data; best of %d rounds\n", stats.entries,
                    static_cast<double>(stats.bytes) / 1e6, rounds);
        ok = Compare("zip", work + "/package.zip", work, expected, rounds);
        ok = Compare("tar.gz", work + "/package.tar.gz", work, expected, rounds) && ok;
    }
    bench::RemoveTree(work);
    return ok ? 0 : 1;
}
