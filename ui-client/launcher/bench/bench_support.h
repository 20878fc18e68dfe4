// Shared pieces of the launcher's timing harnesses: a generated bundle-like
// package, child processes timed with their own peak memory, and clean-up.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

// Totals of a generated tree.
struct TreeStats {
    long entries = 0;  // folders, files and symbolic links
    long long bytes = 0;
};

// Shape of a generated tree: about this many entries (Contents included)
// holding about this many bytes of file data. Fewer than about 300 entries
// cannot be had: the frameworks, plug-ins and translations come first.
struct TreeSpec {
    long entries = 3000;
    long long bytes = 150LL * 1000 * 1000;
};

// Writes a bundle-like tree below `root` (root/Contents/...): 12 frameworks
// with large binaries and Versions/Current-style symbolic links, 40
// plug-ins, 60 translations (80 % of the bytes between them), then headers
// and small images in folders of 100 up to the entry count (the other
// 20 %). About 70 % of the data is pseudo-random, the rest compressible
// text, so a zip of it is about 0.8 of its size. When `client_bundle` is not
// empty its Contents are copied in first, so the tree is an installable
// client. Returns false on any failure.
bool WriteBundleTree(const std::string& root, const std::string& client_bundle, const TreeSpec& spec,
                     TreeStats* stats);
inline bool WriteBundleTree(const std::string& root, const std::string& client_bundle, TreeStats* stats)
{
    return WriteBundleTree(root, client_bundle, TreeSpec(), stats);
}

// Gives a tenth of the regular files below root/Contents (every tenth in
// name order, small and large alike) new contents of the same size, leaving
// alone every file that `client_bundle` holds at the same path (the client
// must still start). The number changed goes to `changed`, their bytes to
// `bytes`. False on any failure.
// `every`: 10 changes every tenth file, 1 every file.
bool ChangeTenth(const std::string& root, const std::string& client_bundle, long* changed, long long* bytes,
                 int every = 10);

// SHA-256 of a file's contents in lower-case hex; empty when it cannot be read.
std::string Sha256File(const std::string& path);

// The bsdtar program found at configuration time.
const char* Bsdtar();

// Packs root/Contents with bsdtar: the shipped zip format, or gzip'd tar.
bool PackZip(const std::string& root, const std::string& archive);
bool PackTarGz(const std::string& root, const std::string& archive);

// Outcome of one child process.
struct ChildRun {
    bool ok = false;        // exited normally with status 0
    int status = 0;         // as from waitpid
    double seconds = 0;     // wall clock from start to exit
    double cpu_seconds = 0; // the program's own user + system time, with the children it waited for
    long peak_kib = 0;      // the program's own ru_maxrss (and of the children it waited for)
    long long written_bytes = -1;  // ru_oublock * 512: bytes it (and the children it waited for) sent to storage
};

// Runs a program with extra environment variables, through bench_measure
// (so the peak memory is the program's own, not this process's at the
// fork); its standard output and error go to `output` (appended) when it is
// not empty.
ChildRun RunProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                    const std::string& output = std::string());

// Starts a program as RunProgram does, unmeasured, and returns at once: its
// pid, or -1.
pid_t StartProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                   const std::string& output = std::string());

// As RunProgram, and meanwhile looks for `watched` every millisecond: the
// seconds from the start until it exists go to `seen_seconds` (-1 when it
// did not appear). After the program has exited the look-out goes on for up
// to `linger_seconds`, for a file that a process it started writes.
ChildRun RunProgramWatching(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                            const std::string& output, const std::string& watched, double linger_seconds,
                            double* seen_seconds);

// Two ChildRuns one after the other, as one: times and CPU added, the
// larger peak.
ChildRun Sequence(const ChildRun& first, const ChildRun& second);

// Median of the values (0 for none); the mean of the middle two for an even count.
double Median(std::vector<double> values);

// The system's load averages, as /proc/loadavg gives them ("0.52 0.58 0.59").
std::string LoadAverage();
// Free space on the file system of `path` in bytes, -1 when unknown.
long long FreeBytes(const std::string& path);

// Number of objects below `root` (links not followed).
long CountTree(const std::string& root);
bool RemoveTree(const std::string& path);
// Deleted inodes and the trees written after them. On ext4 without a
// journal (as here) a new file is not given an inode deleted less than a
// minute ago, or six minutes while the inode's table block has unwritten
// changes (which new files next to it make): the allocator examines and
// skips each such inode, for every file it creates. A tree written into a
// block group just after a large deletion there comes out far slower than
// any real first install or upgrade, and every run of a timing harness
// deletes large trees. So the harnesses delete nothing before their end but
// what the launcher itself deletes, put each round's folders into block
// groups of their own (SpreadSubfolders), wait a minute after each large
// deletion, and six minutes after another harness's clean-up.
constexpr int kDeletedInodesAgeSeconds = 61;
constexpr int kRewrittenInodesAgeSeconds = 361;

// Marks `folder` as the top of a hierarchy (FS_TOPDIR_FL): ext4 then puts
// each folder made directly in it into a block group chosen afresh (one with
// few folders, from a start that depends on the name), as it does with the
// folders of the root, instead of next to its parent. False, with the
// reason, when the flag cannot be set (another file system).
bool SpreadSubfolders(const std::string& folder, std::string* why);

// Records in `parent` that a harness has just removed its work folder there.
void NoteCleanup(const std::string& parent);
// Seconds since a harness last removed its work folder in `parent`; a large
// value when none did.
double SecondsSinceCleanup(const std::string& parent);

// A fresh folder below `parent` named after `prefix`.
std::string MakeTempDir(const std::string& parent, const std::string& prefix);
long long FileSize(const std::string& path);

}  // namespace bench
