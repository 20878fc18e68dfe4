// The CRC-32 of every regular file of an installed bundle, computed on a
// thread of its own while the package's digest is being checked, so that an
// upgrade can tell which of the package's files it already has without
// reading them again. It only reads the installed copy.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "ustring.h"

// CRC-32 (zlib's) of what is left to read on `fd`: true, or false when a
// read failed or `stop` was raised.
bool Crc32OfDescriptor(int fd, uint32_t* crc, const std::atomic<bool>* stop = nullptr);

// Whether two stats describe the same, unchanged file: inode, size,
// modification and change times.
bool SameFileState(const struct stat& a, const struct stat& b);

class InstalledScan {
public:
    // Starts reading the tree below `app` (symbolic links are not followed).
    explicit InstalledScan(const ustring& app);
    ~InstalledScan();  // stops the scan if it still runs

    // Waits until the scan has ended; afterwards Find may be called.
    void Wait();
    // The CRC-32 found for `relative` (a normalised name below the bundle)
    // when `now` still describes the file that was read.
    bool Find(const std::string& relative, const struct stat& now, uint32_t* crc) const;
    size_t Files() const { return files_.size(); }

private:
    struct Scanned {
        struct stat st;
        uint32_t crc;
    };
    void Run(int root);
    void Walk(int folder, const std::string& prefix, int depth);

    std::unordered_map<std::string, Scanned> files_;
    std::atomic<bool> stop_{false};
    std::mutex join_;
    std::thread thread_;

    InstalledScan(const InstalledScan&) = delete;
    InstalledScan& operator=(const InstalledScan&) = delete;
};
