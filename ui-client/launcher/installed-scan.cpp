#include "installed-scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "log.h"

namespace {

const char kComponent[] = "extractor_debug";
const size_t kChunk = 256 * 1024;
// A bundle is not deeper than this; a deeper tree is not read further.
const int kMaxDepth = 64;

}  // namespace

bool Crc32OfDescriptor(int fd, uint32_t* crc, const std::atomic<bool>* stop)
{
#ifdef POSIX_FADV_SEQUENTIAL
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    std::vector<unsigned char> buffer(kChunk);
    uLong value = crc32(0L, Z_NULL, 0);
    for (;;) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
            return false;
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        value = crc32(value, buffer.data(), static_cast<uInt>(n));
    }
    *crc = static_cast<uint32_t>(value);
    return true;
}

bool SameFileState(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

InstalledScan::InstalledScan(const ustring& app)
{
    // The root is opened here, before the bundle can be moved to its backup:
    // the walk then goes on below the same folder wherever it is renamed to.
    const int root = open(app.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (root < 0) {
        LOG_DEBUG(kComponent, "open(%s) for the scan of the installed files: %s\n", app.c_str(), std::strerror(errno));
        return;
    }
    try {
        thread_ = std::thread(&InstalledScan::Run, this, root);
    } catch (const std::system_error& e) {
        LOG_DEBUG(kComponent, "cannot start the scan of the installed files: %s\n", e.what());
        close(root);
    }
}

InstalledScan::~InstalledScan()
{
    stop_ = true;
    Wait();
}

void InstalledScan::Wait()
{
    std::lock_guard<std::mutex> lock(join_);
    if (thread_.joinable())
        thread_.join();
}

bool InstalledScan::Find(const std::string& relative, const struct stat& now, uint32_t* crc) const
{
    const auto found = files_.find(relative);
    if (found == files_.end() || !SameFileState(found->second.st, now))
        return false;
    *crc = found->second.crc;
    return true;
}

void InstalledScan::Run(int root)
{
    Walk(root, std::string(), 0);
    LOG_DEBUG(kComponent, "read %zu installed files for the upgrade%s\n", files_.size(),
              stop_ ? " (stopped)" : "");
}

// Takes ownership of `folder`.
void InstalledScan::Walk(int folder, const std::string& prefix, int depth)
{
    DIR* listing = fdopendir(folder);
    if (listing == nullptr) {
        close(folder);
        return;
    }
    while (!stop_) {
        errno = 0;
        const dirent* item = readdir(listing);
        if (item == nullptr)
            break;
        const std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st;
        if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const std::string relative = prefix.empty() ? name : prefix + "/" + name;
        if (S_ISDIR(st.st_mode) && depth < kMaxDepth) {
            const int sub = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0)
                Walk(sub, relative, depth + 1);
            continue;
        }
        if (!S_ISREG(st.st_mode))
            continue;
        const int file = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (file < 0)
            continue;
        Scanned scanned;
        // The state recorded is that of the file read, taken before reading:
        // a change while it is read shows in its change time.
        if (fstat(file, &scanned.st) == 0 && Crc32OfDescriptor(file, &scanned.crc, &stop_))
            files_.emplace(relative, scanned);
        close(file);
    }
    closedir(listing);
}
