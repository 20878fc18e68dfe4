// Reading the package through one open file: every libarchive reader of an
// extraction, and the zip listing that gives each entry's CRC-32, read the
// descriptor whose contents were verified, each at its own offset (pread),
// so a file renamed over the package's path afterwards is never read.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <unordered_map>

struct archive;

namespace package_reader {

// One reader's view of the shared descriptor: its own offset and buffer.
struct FdSource {
    int fd = -1;
    int64_t offset = 0;
    int64_t size = 0;
    std::string buffer;
    size_t next_read = 0;        // how much the next libarchive read asks for
    int64_t window_start = 0;    // what `buffer` holds for minizip's small reads
    size_t window_length = 0;
};

// Opens `handle` (formats already chosen) on `source`, which must outlive
// it: ARCHIVE_OK, or libarchive's result with the reason on the handle.
int OpenOnDescriptor(archive* handle, int fd, FdSource* source);

// What the zip's central directory says of one name. `ambiguous` when the
// name is listed more than once with different contents: no CRC can then be
// told for it.
struct ZipCrc {
    uint32_t crc = 0;
    uint64_t size = 0;
    bool ambiguous = false;
};

// Every entry of the zip on `fd` by normalised name (see NormalName): true,
// or false with the reason in `error` (not a zip minizip reads).
bool ReadZipCrcs(int fd, std::unordered_map<std::string, ZipCrc>* crcs, std::string* error);

// A stored name as a path below the destination: empty and "." parts
// dropped, no trailing '/'. Empty when a part is ".." (never below it).
std::string NormalName(const std::string& name);

}  // namespace package_reader
