// Shared pieces of the launcher's timing harnesses: a generated bundle-like
// package, child processes timed with their own peak memory, and clean-up.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace bench {

// Totals of a generated tree.
struct TreeStats {
    long entries = 0;  // folders, files and symbolic links
    long long bytes = 0;
};

// Writes a bundle-like tree below `root` (root/Contents/...): frameworks with
// large binaries and Versions/Current-style symbolic links, plug-ins,
// translations, thousands of small images and headers. Half of the large
// data is pseudo-random, half compressible text. When `client_bundle` is not
// empty its Contents are copied in as well. Returns false on any failure.
bool WriteBundleTree(const std::string& root, const std::string& client_bundle, TreeStats* stats);

// The bsdtar program found at configuration time.
const char* Bsdtar();

// Packs root/Contents with bsdtar: the shipped zip format, or gzip'd tar.
bool PackZip(const std::string& root, const std::string& archive);
bool PackTarGz(const std::string& root, const std::string& archive);

// Outcome of one child process.
struct ChildRun {
    bool ok = false;        // exited normally with status 0
    int status = 0;         // as from waitpid
    double seconds = 0;     // wall clock from fork to exit
    double cpu_seconds = 0; // the child's own user + system time
    long peak_kib = 0;      // the child's own ru_maxrss
};

// Runs `work` in a forked child (its result is the exit status).
ChildRun RunForked(const std::function<int()>& work);
// Runs a program with extra environment variables; its standard output and
// error go to `output` (appended) when it is not empty.
ChildRun RunProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                    const std::string& output = std::string());

// Number of objects below `root` (links not followed).
long CountTree(const std::string& root);
bool RemoveTree(const std::string& path);
// A fresh folder below `parent` named after `prefix`.
std::string MakeTempDir(const std::string& parent, const std::string& prefix);
long long FileSize(const std::string& path);

}  // namespace bench
