// File operations on ustring paths over the POSIX calls, with the canonical
// path of an object taken from the platform layer. This file keeps the small
// operations; the others have files of their own: look-ups
// (file-op-lookup.cpp), the folder walk (file-op-walk.cpp), removals
// (file-op-remove.cpp), copies (file-op-copy.cpp) and moves
// (file-op-move.cpp), sharing what file-op-internal.h declares.
#include "file-op.h"
#include "file-op-internal.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <exception>
#include <string>

#include "log.h"
#include "platform/canonical-path.h"
#include "platform/fs-type.h"
#include "tmp_name_gen.h"

using fileop_internal::TypeOfDirent;

namespace {

constexpr size_t kTempPathBufferSize = 4096;
constexpr size_t kLinkBufferSize = 1024;
constexpr unsigned short kDefaultMode = 0xFFFF;

ustring Joined(const ustring& dir, const char* name)
{
    ustring joined(dir);
    joined += "/";
    joined += name;
    return joined;
}

// ---------------------------------------------------------------- folders

// One step of FSMKDirP on the prefix ending at the current component.
int MakeComponent(const char* prefix, mode_t mode, bool force, bool last)
{
    struct stat st;
    if (stat(prefix, &st) != 0)
        return mkdir(prefix, mode) == 0 ? 0 : -1;
    if (S_ISDIR(st.st_mode))
        return 0;
    if (force) {
        if (remove(prefix) != 0)
            return -1;
        return mkdir(prefix, mode) == 0 ? 0 : -1;
    }
    if (last) {
        errno = EEXIST;
        LOG_INFO(FILE_OP_LOG, "FSMKDirP: path: %s is existing file or symbolic link pointed to file\n",
                 prefix);
        return -1;
    }
    return 0;
}

// Walks `copy` component by component; returns the result and leaves in
// `stop` the offset where the walk ended.
int MakeComponents(char* copy, mode_t mode, bool force, size_t& stop)
{
    size_t pos = copy[0] == '/' ? 1 : 0;
    for (;; ++pos) {
        if (copy[pos] != '/' && copy[pos] != '\0')
            continue;
        char separator = copy[pos];
        bool last = separator == '\0' || copy[pos + 1] == '\0';
        copy[pos] = '\0';
        int result = MakeComponent(copy, mode, force, last);
        copy[pos] = separator;
        if (result != 0 || last) {
            stop = pos;
            return result;
        }
    }
}

// ---------------------------------------------------------------- types

// Type name of the file system holding `path`; false with errno set.
bool TypeName(const ustring& path, std::string& name)
{
    return fileplatform::FileSystemTypeName(path.c_str(), name) == 0;
}

}  // namespace

// ==================================================================== folders

int FSMKDir(const ustring& path, bool recursive)
{
    if (path.empty())
        return -1;
    _FILE_INFO_tag info;
    if (GetFileInfo(path, info) != 0) {
        LOG_ERROR(FILE_OP_LOG, "FSMKDir: Failed to to file info '%s'\n", path.c_str());
        return -1;
    }
    if (info.exists) {
        if (info.type == FILE_TYPE_DIR)
            return 0;
        LOG_ERROR(FILE_OP_LOG, "FSMKDir: Create a folder but local file system is not directory '%s' (%d)\n",
                  path.c_str(), info.type);
        return -1;
    }
    int made = recursive ? FSMKDirP(path, nullptr, false, kDefaultMode) : mkdir(path.c_str(), 0777);
    if (made != 0) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "path = %s errno : %s\n", path.c_str(), strerror(err));
        return -2;
    }
    return 0;
}

int FSMKDirP(const ustring& path, char** fail_pos, bool force, unsigned short mode)
{
    if (path.empty())
        return -1;
    char* copy = strdup(path.c_str());
    if (copy == nullptr)
        return -1;
    bool exact_mode = mode != kDefaultMode;
    mode_t create_mode = exact_mode ? static_cast<mode_t>(mode) : 0777;
    mode_t previous_mask = exact_mode ? umask(0) : 0;
    size_t stop = 0;
    int result = MakeComponents(copy, create_mode, force, stop);
    int err = errno;
    if (fail_pos != nullptr)
        *fail_pos = const_cast<char*>(path.c_str()) + stop;
    if (exact_mode)
        umask(previous_mask);
    free(copy);
    errno = err;
    return result;
}

int FSMKDirFromRoot(const ustring& target, const ustring& root)
{
    if (root.length() > target.length()) {
        LOG_ERROR(FILE_OP_LOG, "Giving a root '%s' whose length is larger then target's '%s'.\n",
                  root.c_str(), target.c_str());
        return -1;
    }
    if (!FSIsParentFolder(root, target)) {
        LOG_ERROR(FILE_OP_LOG, "root '%s' is not a parent folder of target '%s'\n", root.c_str(),
                  target.c_str());
        return -1;
    }
    ustring rest = target.substr(root.length());
    ustring done;
    while (done != rest) {
        size_t slash = rest.find('/', done.length() + 1);
        done = rest.substr(0, slash);
        LOG_DEBUG(FILE_OP_LOG, "FSMKDirFromRoot: create %s\n", done.c_str());
        if (FSMKDir(root + done, false) < 0)
            return -1;
    }
    return 0;
}

// ==================================================================== listings

int FSOpenDir(const ustring& path, int flags, DIR_HANDLE& handle)
{
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "FSOpenDir: Failed to open directory '%s'. %s\n", path.c_str(), strerror(err));
        return -1;
    }
    handle.dir = dir;
    handle.path = path;
    handle.flags = flags;
    return 0;
}

int FSReadDir(DIR_HANDLE& handle, DIR_ENTRY& entry)
{
    struct dirent* next = readdir(handle.dir);
    if (next == nullptr)
        return 0;
    entry.mtime = 0;
    entry.size = 0;
    if (handle.flags & FS_READDIR_STAT) {
        ustring joined = Joined(handle.path, next->d_name);
        _FILE_INFO_tag info;
        if (FSStat(joined, info, true) < 0) {
            LOG_ERROR(FILE_OP_LOG, "FSOpenDir: Failed to get info for '%s'\n", joined.c_str());
            return -1;
        }
        entry.mtime = info.mtime;
        entry.size = info.size;
    }
    entry.name = next->d_name;
    entry.type = TypeOfDirent(next->d_type);
    return 1;
}

void FSCloseDir(DIR_HANDLE& handle)
{
    if (handle.dir != nullptr)
        closedir(handle.dir);
    handle.dir = nullptr;
    handle.path.clear();
}

// ==================================================================== temporaries

int FSMktemp(const ustring& dir, ustring& out)
{
    char buffer[kTempPathBufferSize];
    snprintf(buffer, sizeof buffer, "%s/XXXXXX", dir.c_str());
    int fd = mkstemp(buffer);
    if (fd < 0) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "mkstemp(%s): %s\n", buffer, strerror(err));
        return -1;
    }
    close(fd);
    out = buffer;
    chmod(buffer, 0644);
    return 0;
}

int FSCreateTempPath(const ustring& dir, ustring& out)
{
    try {
        out = TmpNameGen::getInstance().getTmpPath(std::string(dir.c_str()));
    } catch (const std::exception& error) {
        LOG_ERROR(FILE_OP_LOG, "FSCreateTempPath: %s\n", error.what());
        return -1;
    }
    return out.empty() ? -1 : 0;
}

// ==================================================================== times, access, types

int FSUTime(const ustring& path, long atime, long mtime)
{
    struct timeval times[2];
    times[0].tv_sec = static_cast<time_t>(atime);
    times[0].tv_usec = 0;
    times[1].tv_sec = static_cast<time_t>(mtime);
    times[1].tv_usec = 0;
    return lutimes(path.c_str(), times) < 0 ? -1 : 0;
}

bool FSTimeEqual(long a, long b)
{
    return a == b;
}

bool isFileLocked(const ustring& path, int mode)
{
    if (access(path.c_str(), mode) == 0)
        return false;
    return errno == EACCES || errno == EPERM;
}

bool hasFilePermission(const ustring& path, int mode)
{
    if (access(path.c_str(), mode) == 0)
        return true;
    return !(errno == EACCES || errno == EPERM);
}

bool isMountPoint(const ustring& path)
{
    std::string name;
    if (!TypeName(path, name)) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "isMountPoint: Failed to get file system info '%s'. %s\n", path.c_str(),
                  strerror(err));
        return false;
    }
    return name == "nfs" || name == "smbfs" || name == "afpfs";
}

bool IsMSDOS(const ustring& path)
{
    std::string name;
    if (!TypeName(path, name)) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "IsSupportLargeFile: Failed to get file system info '%s'. %s\n",
                  path.c_str(), strerror(err));
        return false;
    }
    if (name != "msdos")
        return false;
    LOG_WARNING(FILE_OP_LOG, "Detect a MSDOS platform for path '%s'.\n", path.c_str());
    return true;
}

// ==================================================================== real paths, links, owners

int FSGetRealPath(ustring& path)
{
    LOG_DEBUG(FILE_OP_LOG, " org path [%s]\n", path.c_str());
    std::string real;
    if (fileplatform::CanonicalPath(path.c_str(), true, real) != 0)
        return -1;
    path = real;
    LOG_DEBUG(FILE_OP_LOG, " get full path [%s]\n", path.c_str());
    return 0;
}

int FSCreateSymbolicLink(const ustring& target, const ustring& link_path)
{
    if (symlink(target.c_str(), link_path.c_str()) == 0)
        return 0;
    int err = errno;
    LOG_ERROR(FILE_OP_LOG, "FSCreateSymbolicLink: Failed to create symbolic link '%s' -> '%s' (code: %d, msg: %s)\n",
              target.c_str(), link_path.c_str(), err, strerror(err));
    return -1;
}

int FSReadSymbolicLink(const ustring& path, ustring& target)
{
    char buffer[kLinkBufferSize];
    memset(buffer, 0, sizeof buffer);
    ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
    if (length < 0) {
        int err = errno;
        LOG_ERROR(FILE_OP_LOG, "FSReadSymbolicLink: Failed to read symbolic link '%s' (code: %d, msg: %s)\n",
                  path.c_str(), err, strerror(err));
        return -1;
    }
    if (static_cast<size_t>(length) >= kLinkBufferSize) {
        LOG_ERROR(FILE_OP_LOG, "FSReadSymbolicLink: path of '%s' is more than %d\n", path.c_str(),
                  static_cast<int>(kLinkBufferSize));
        return -1;
    }
    buffer[length] = '\0';
    target = buffer;
    return 0;
}

int FSChown(const ustring& path, unsigned int uid, unsigned int gid)
{
    if (lchown(path.c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(gid)) == 0)
        return 0;
    int err = errno;
    LOG_ERROR(FILE_OP_LOG, "FSChown: Failed to chown '%s' (code: %d, msg: %s)\n", path.c_str(), err,
              strerror(err));
    return -1;
}
