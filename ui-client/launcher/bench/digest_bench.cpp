// Cost of the package check: Sha256File over a file of the given size
// (default 120 MB of random bytes, written once and read from the page
// cache, as the launcher reads a package that was just installed or copied),
// against `sha256sum` of the same file. Medians of the given rounds, wall and
// CPU time.
// Usage: digest_bench [work folder [megabytes [rounds]]]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "sha256-file.h"

namespace {

double CpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string work = argc > 1 ? argv[1] : "/tmp";
    const long megabytes = argc > 2 ? std::atol(argv[2]) : 120;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
    const std::string path = work + "/digest-bench-" + std::to_string(getpid());
    {
        std::ofstream out(path, std::ios::binary);
        std::mt19937_64 generator(7);
        std::vector<uint64_t> block(1 << 17);
        for (long written = 0; written < megabytes * 1000000L; written += static_cast<long>(block.size() * 8)) {
            for (uint64_t& word : block)
                word = generator();
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
        }
    }
    std::vector<double> ours_wall, ours_cpu, tool_wall, tool_cpu;
    std::string digest, error;
    for (int r = 0; r < rounds; ++r) {
        auto start = std::chrono::steady_clock::now();
        double cpu = CpuSeconds(RUSAGE_SELF);
        if (!Sha256File(path.c_str(), &digest, &error)) {
            std::fprintf(stderr, "Sha256File: %s\n", error.c_str());
            return 1;
        }
        ours_wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        ours_cpu.push_back(CpuSeconds(RUSAGE_SELF) - cpu);

        start = std::chrono::steady_clock::now();
        cpu = CpuSeconds(RUSAGE_CHILDREN);
        const std::string command = "sha256sum '" + path + "' > /dev/null";
        if (std::system(command.c_str()) != 0)
            return 1;
        tool_wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        tool_cpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
    }
    std::remove(path.c_str());
    std::printf("%ld MB, median of %d: Sha256File %.3f s wall, %.3f s CPU (%.0f MB/s); sha256sum %.3f s wall, %.3f s CPU\n",
                megabytes, rounds, Median(ours_wall), Median(ours_cpu), megabytes / Median(ours_wall),
                Median(tool_wall), Median(tool_cpu));
    return 0;
}
