// Linux canonical paths: realpath resolves the folders on the way, and the
// last component is looked up in its folder to learn the spelling the
// directory stores. Where the file system matched the name loosely, every
// component is respelled from its folder's own entries.
#include "platform/canonical-path.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/stored-name.h"

namespace fileplatform {
namespace {

// The result must fit the 4096-byte buffer the Apple call fills.
constexpr size_t kPathBufferSize = 4096;

int ErrnoStatus()
{
    return errno != 0 ? -errno : -EIO;
}

std::string Join(const std::string& dir, const std::string& name)
{
    return dir == "/" ? dir + name : dir + "/" + name;
}

bool MakeAbsolute(const char* path, std::string& absolute)
{
    if (path[0] == '/') {
        absolute = path;
        return true;
    }
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr)
        return false;
    absolute = Join(cwd, path);
    free(cwd);
    return true;
}

bool RealPath(const std::string& path, std::string& resolved)
{
    char* result = realpath(path.c_str(), nullptr);
    if (result == nullptr)
        return false;
    resolved = result;
    free(result);
    return true;
}

// Splits an absolute path without a trailing separator into its folder and
// its last component.
void Split(const std::string& path, std::string& dir, std::string& leaf)
{
    size_t slash = path.rfind('/');
    dir = slash == 0 ? "/" : path.substr(0, slash);
    leaf = path.substr(slash + 1);
}

// Respells `leaf` as `dir` stores it. Sets `loose` when the look-up matched
// another spelling than the exact one.
bool RespellLeaf(const std::string& dir, std::string& leaf, bool& loose)
{
    struct stat st;
    if (lstat(Join(dir, leaf).c_str(), &st) != 0)
        return false;
    loose = MayMatchLoosely(dir, leaf, st);
    if (!loose)
        return true;
    std::string stored;
    if (!StoredEntryName(dir, leaf, st, stored))
        return false;
    leaf = stored;
    return true;
}

// Respells every component of a resolved absolute folder path.
bool RespellFolders(std::string& folder)
{
    std::string respelled = "/";
    size_t start = 1;
    while (start < folder.size()) {
        size_t end = folder.find('/', start);
        if (end == std::string::npos)
            end = folder.size();
        std::string leaf = folder.substr(start, end - start);
        bool loose = false;
        if (!RespellLeaf(respelled, leaf, loose))
            return false;
        respelled = Join(respelled, leaf);
        start = end + 1;
    }
    folder = respelled;
    return true;
}

// The folder (resolved) and last component the canonical path is made of.
bool ResolveParts(const char* path, bool follow_leaf, std::string& dir, std::string& leaf)
{
    std::string absolute;
    if (!MakeAbsolute(path, absolute))
        return false;
    bool trailing = absolute.size() > 1 && absolute.back() == '/';
    while (absolute.size() > 1 && absolute.back() == '/')
        absolute.pop_back();
    Split(absolute, dir, leaf);
    // A trailing separator makes the system follow a final link, and "." and
    // ".." name folders that realpath resolves as a whole.
    if (follow_leaf || trailing || leaf == "." || leaf == "..") {
        std::string resolved;
        if (!RealPath(absolute, resolved))
            return false;
        Split(resolved, dir, leaf);
        return true;
    }
    std::string resolved_dir;
    if (!RealPath(dir, resolved_dir))
        return false;
    dir = resolved_dir;
    return true;
}

}  // namespace

int CanonicalPath(const char* path, bool follow_leaf, std::string& out)
{
    errno = 0;
    std::string dir;
    std::string leaf;
    if (!ResolveParts(path, follow_leaf, dir, leaf))
        return ErrnoStatus();
    if (leaf.empty()) {  // the root folder
        out = "/";
        return 0;
    }
    bool loose = false;
    if (!RespellLeaf(dir, leaf, loose))
        return ErrnoStatus();
    if (loose && !RespellFolders(dir))
        return ErrnoStatus();
    std::string canonical = Join(dir, leaf);
    if (canonical.size() >= kPathBufferSize)
        return -ENAMETOOLONG;
    out = canonical;
    return 0;
}

}  // namespace fileplatform
