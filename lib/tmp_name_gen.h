// Random names for temporary files and folders: eight characters drawn from a
// 64-character alphabet by one process-wide, mutex-guarded engine.
#pragma once

#include <cstdint>
#include <mutex>
#include <random>
#include <string>

class TmpNameGen {
public:
    // Length of a name and the characters it is made of.
    static constexpr int kNameLength = 8;
    static const char kAlphabet[64];

    // The one instance, created (and seeded) on first use. Throws what
    // std::random_device throws when the random device cannot be read; the
    // next call then tries again.
    static TmpNameGen& getInstance();

    // Seeds the engine anew from /dev/urandom.
    void reseed();
    // Seeds the engine from a given device value (reduced modulo 2^31 - 1;
    // a remainder of 0 seeds with 1).
    void reseed(uint32_t device_value);

    std::string getTmpName();
    // dir + "/" + a fresh name; nothing is created or checked.
    std::string getTmpPath(const std::string& dir);

    TmpNameGen(const TmpNameGen&) = delete;
    TmpNameGen& operator=(const TmpNameGen&) = delete;

private:
    TmpNameGen();
    ~TmpNameGen() = default;

    std::mutex mutex;
    std::minstd_rand engine;
};
