// Unpacks the package archive below a destination folder, counting its
// entries first so that the progress dialog can show an exact percentage.
//
// A zip package is written by several threads (one per core, at most four),
// each with its own reader of the package: folders first, then the regular
// files spread over the threads, then symbolic and hard links on one thread,
// so that no link exists before every path that could lead through it has
// been written. Given the folder of the installation the package replaces
// (`link_source`), a regular file whose counterpart there is a regular file
// of the same size, permission bits and CRC-32 is hard-linked from it instead
// of being written.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "ustring.h"

struct archive;
struct archive_entry;
class InstalledScan;
namespace package_reader {
struct FdSource;
}

class Extractor {
public:
    // Writes every entry below dest_path: 0 when all were written, -1 on any
    // failure (what was written before the failure stays on disk).
    int Extract();
    // Number of entries, or -1 when the archive cannot be opened. Counting
    // stops at an entry whose header can't be read; count_failure then
    // holds the reason (it is empty when the listing reached its end).
    int Count();
    // Prints every entry name on standard output; 0, or -1 when the archive
    // cannot be opened.
    int List();
    // Copies the data blocks of the current entry from ar to aw.
    int copy_data(archive* ar, archive* aw);

    // Why a libarchive call failed: the first handle's reason, else the
    // second's; never null.
    static std::string FailureReason(archive* first, archive* second = nullptr);

    ustring dest_path;  // destination folder
    ustring src_path;   // archive file, named in the log (and opened when package_fd is -1)
    // The package already open (the descriptor whose digest was checked):
    // every reader reads it, src_path is never opened. Not closed here.
    int package_fd = -1;
    // The complete installation this one replaces, already moved aside:
    // unchanged files are linked from it. Empty: everything is written.
    ustring link_source;
    // CRC-32 of link_source's files read ahead (may be null, then each
    // candidate is read when it comes).
    InstalledScan* scan = nullptr;
    // Threads writing a zip's files; 0: one per core, at most 4.
    int workers = 0;
    // Makes `to` a hard link of the open file `fd`; tests put a failing call
    // here. Null: linkat through /proc/self/fd.
    int (*link_file)(int fd, const char* to) = nullptr;

    // What the last Extract did with the regular files.
    struct Stats {
        int linked = 0;
        int written = 0;
        int threads = 1;
    } stats;

    // One entry as the listing pass saw it.
    struct EntryInfo {
        std::string name;
        unsigned type = 0;  // AE_IF*; 0 unknown
        bool hardlink = false;
        int64_t size = -1;  // -1 not stored
        mode_t perm = 0;
        bool mtime_set = false;
        int64_t mtime = 0;
        long mtime_nsec = 0;
    };

    // Per-thread state of the writing: the folders found safe, the links made.
    struct WriteState;

private:
    // What linking from link_source needs: the package's CRC-32s, the folder.
    struct LinkPlan;

    archive* OpenForListing(int fd, package_reader::FdSource* source);
    archive* OpenForExtraction(int fd, package_reader::FdSource* source);
    int Survey(int fd, std::vector<EntryInfo>* entries, bool* zip);
    int ExtractSequential(int fd, int total, LinkPlan* plan);
    int ExtractParallel(int fd, const std::vector<EntryInfo>& entries, LinkPlan* plan, int threads);
    void PrepareLinking(int fd, LinkPlan* plan);
    int WriteEntry(archive* reader, archive* writer, archive_entry* entry, const EntryInfo& info, WriteState& state,
                   LinkPlan* plan);
    int PrepareEntry(archive_entry* entry, WriteState& state);
    bool ReachesThroughLink(const ustring& relative, bool include_last, WriteState& state);
    void ForgetSafeFolder(const ustring& relative, WriteState& state);
    bool TryLink(const EntryInfo& info, const char* path, LinkPlan* plan, WriteState& state);

    // Why the last Count stopped before the end of the listing; empty when it did not.
    std::string count_failure;
};
