// The file layer: free functions for every file-system step of the upgrade
// service (examining paths, creating folders, listing, copying, moving and
// removing trees) and the smaller path, link, time and ownership helpers.
//
// Paths are ustring values handed to the system as UTF-8 C strings. Results
// are int codes (0 success, negative failure) or bool; nothing throws.
// Failures are logged under the component "file_op_debug".
#pragma once

#include <dirent.h>

#include <cstdint>

#include "ustring.h"

// Kind of object at a path or in a listing. 4 is never produced.
enum {
    FILE_TYPE_NONE = 0,     // nothing there, or a listing entry of another kind
    FILE_TYPE_REGULAR = 1,
    FILE_TYPE_DIR = 2,
    FILE_TYPE_LINK = 3,     // the link itself; never followed
    FILE_TYPE_DEVICE = 5,   // character or block device
    FILE_TYPE_FIFO = 6,
    FILE_TYPE_SOCKET = 7,
};

// Information about one path, filled by GetFileInfo and FSStat. For an
// existing object `path` is its canonical path (absolute, links on the way
// resolved, spelled as the file system stores it); for a missing one it is
// the caller's path.
typedef struct _FILE_INFO_tag {
    ustring path;
    ustring name;       // last component of path
    int32_t type;       // FILE_TYPE_*
    int32_t mtime;      // seconds since the epoch, low 32 bits
    int64_t size;
    bool exists;
    uint32_t uid;
    uint32_t gid;
    int32_t mode;       // type and permission bits
    int64_t dev;

    _FILE_INFO_tag()
        : type(FILE_TYPE_NONE), mtime(0), size(0), exists(false), uid(0), gid(0), mode(0), dev(0)
    {
    }
} FILE_INFO;

// Compares exists, size, mtime, type, path and name, in that order.
bool operator==(const _FILE_INFO_tag& a, const _FILE_INFO_tag& b);
bool operator!=(const _FILE_INFO_tag& a, const _FILE_INFO_tag& b);

// Bit of DIR_HANDLE::flags asking FSReadDir to fill mtime and size.
enum { FS_READDIR_STAT = 1 };

// An open folder listing: FSOpenDir opens it, FSReadDir advances it, the
// caller closes it with FSCloseDir after every successful open.
struct DIR_HANDLE {
    ustring path;
    int32_t flags;
    DIR* dir;

    DIR_HANDLE() : flags(0), dir(nullptr) {}
};

// One listing entry ("." and ".." included).
struct DIR_ENTRY {
    ustring name;
    int32_t type;       // FILE_TYPE_*
    int32_t mtime;
    int64_t size;

    DIR_ENTRY() : type(FILE_TYPE_NONE), mtime(0), size(0) {}
};

// 0 when `info` was filled (exists or not); -1 on failure.
int GetFileInfo(const ustring& path, _FILE_INFO_tag& info);
// With `case_sensitive` the caller's path must equal the canonical path
// (up to Unicode composition) for the object to count as existing.
bool IsFileExist(const ustring& path, bool case_sensitive);
// 0 when `info` is valid (a missing object only sets exists false); -1 for an
// empty path; -2 when an existing object's information can't be read.
int FSStat(const ustring& path, _FILE_INFO_tag& info, bool case_sensitive);
// 0 when the folder exists afterwards; -1 bad path or a non-folder in the
// way; -2 when creating failed.
int FSMKDir(const ustring& path, bool recursive);
// Creates every missing component. `mode` 0xFFFF means 0777 under the
// umask. `fail_pos`, when given, points into path.c_str() where the walk
// stopped. 0 or -1.
int FSMKDirP(const ustring& path, char** fail_pos, bool force, unsigned short mode);
// Recursive removal that never follows links. It works relative to folder
// descriptors, at most 8 open at a time, so neither the depth of a tree nor
// the length of its paths limits it. Trailing "." components are dropped
// first ("link/." removes the link, not what it leads to); a path ending in
// ".." is refused. Folders inside the tree that their owner may not write
// are made writable when the caller owns them. 0 nothing remains; -1 bad,
// refused or unreadable path; -3 something could not be removed. The flag
// is unused.
int FSRemove(const ustring& path, bool flag);
// Move with a copy fallback across file systems: a folder is copied whole
// (merged into a folder already at `dst`), every copy is made durable, and
// only then are the sources removed; after a failed copy the entries copied
// before it are moved all the same. 0; -1 empty argument; -2 source missing;
// -3 move failed; -100 name too long.
int FSRename(const ustring& src, const ustring& dst, bool case_sensitive);
// Byte copy, made by the kernel where the system offers it and through an
// 8192-byte buffer otherwise, flushed before it counts as done; with
// `remove_src` the source is removed only after that. 0; -1 failure;
// -2 destination out of space or quota.
int FSCopy(const ustring& src, const ustring& dst, bool remove_src);
// 0 with the handle open; -1 on failure (handle untouched).
int FSOpenDir(const ustring& path, int flags, DIR_HANDLE& handle);
// 1 next entry; 0 end of listing; -1 the entry's details can't be read.
int FSReadDir(DIR_HANDLE& handle, DIR_ENTRY& entry);
void FSCloseDir(DIR_HANDLE& handle);

// Path-name arithmetic.
ustring FSParentPath(const ustring& path);
ustring FSBaseName(const ustring& path);
bool FSIsParentFolder(const ustring& parent, const ustring& child);
// Creates the folders below `root` down to `target`, one level at a time.
int FSMKDirFromRoot(const ustring& target, const ustring& root);

// Temporary files and names.
int FSMktemp(const ustring& dir, ustring& out);
int FSCreateTempPath(const ustring& dir, ustring& out);

// Times, access and file-system types.
int FSUTime(const ustring& path, long atime, long mtime);
bool FSTimeEqual(long a, long b);
bool isFileLocked(const ustring& path, int mode);
bool hasFilePermission(const ustring& path, int mode);
bool isMountPoint(const ustring& path);
bool IsMSDOS(const ustring& path);

// Canonical path following a final link; `path` unchanged on failure.
int FSGetRealPath(ustring& path);

// Links and ownership.
int FSCreateSymbolicLink(const ustring& target, const ustring& link_path);
int FSReadSymbolicLink(const ustring& path, ustring& target);
int FSChown(const ustring& path, unsigned int uid, unsigned int gid);
