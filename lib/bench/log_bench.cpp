// Cost of the logging call convention: a message the level file suppresses,
// and lines written to a log file (flushed per line) from one and two threads.
#include "log.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string scratch;

void openFileLog(const benchmark::State&)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "logbench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        perror("mkdtemp");
        std::exit(1);
    }
    scratch = pattern;
    if (Logger::Initialize(Logger::LOG_TYPE_FILE, scratch + "/launcher.log", "", 50,
                           Logger::SAFETY_THREAD) != 0) {
        fprintf(stderr, "Logger::Initialize failed in %s\n", scratch.c_str());
        std::exit(1);
    }
}

void closeFileLog(const benchmark::State&)
{
    Logger::Destroy();
    std::filesystem::remove_all(scratch);
}

void BM_SuppressedMessage(benchmark::State& state)
{
    int value = 0;
    for (auto _ : state) {
        LOG_DEBUG("launcher_debug", "suppressed %d %s\n", ++value, "text");
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_SuppressedMessage)->Setup(openFileLog)->Teardown(closeFileLog);

void BM_WrittenLine(benchmark::State& state)
{
    int value = 0;
    for (auto _ : state)
        LOG_ERROR("launcher_debug", "written line %d of a typical length: %s\n", ++value,
                  "/home/user/.lumora/data/something");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WrittenLine)
    ->Setup(openFileLog)
    ->Teardown(closeFileLog)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
