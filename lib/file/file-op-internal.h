// What the sources of the file layer share among themselves: the kinds of
// entries, the bounded folder walk, and the kernel copy that a move across
// file systems also uses. Not part of the layer's interface (file-op.h).
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "file-op.h"

#define FILE_OP_LOG "file_op_debug"

namespace fileop_internal {

// ---------------------------------------------------------------- records
// (file-op-lookup.cpp)

// FILE_TYPE_* of a mode word, or -1 for a kind the layer does not know.
int TypeOfMode(mode_t mode);
int TypeOfDirent(unsigned char d_type);

// ---------------------------------------------------------------- tree walks
// (file-op-walk.cpp)

void LogCallFailure(const char* op, const char* call, const std::string& path, int err);

// One folder on the way from the top of a walk down to the current folder.
struct WalkFolder {
    std::string name;        // its name in its parent; the caller's path for the top
    dev_t dev = 0;
    ino_t ino = 0;
    mode_t mode = 0;         // as fstat found it when the folder was opened
    uid_t uid = 0;           // its owner
    DIR* dir = nullptr;      // null while closed to save descriptors
    bool listed = false;     // the listing was read to its end
    std::vector<std::string> subfolders;  // found by the listing, entered one by one
    size_t next = 0;         // subfolders[next] is the next to enter
    size_t removed = 0;      // entries a removal took out of it
    int pass = 1;            // which listing of the folder this is
    size_t record = 0;       // the move's record of the folder
};

// The folders of a walk from its top down to the current one. Only the
// deepest kOpenFolders are open; a closed folder is reopened through ".." of
// its child and must then be the same folder (device and inode) as before.
// A failed call leaves its name and errno in `failed_call`/`failed_errno`.
class FolderStack {
public:
    FolderStack() = default;
    FolderStack(const FolderStack&) = delete;
    FolderStack& operator=(const FolderStack&) = delete;
    ~FolderStack() { Clear(); }

    bool OpenTop(const std::string& path);
    bool Enter(const std::string& name);
    // Back to the parent of the current folder, reopening it if needed.
    bool Leave();
    void Clear();

    WalkFolder& Top() { return frames_.back(); }
    int TopFd() { return dirfd(frames_.back().dir); }
    size_t Depth() const { return frames_.size(); }
    // `name` in the current folder as a path from the top, for messages only.
    std::string PathOf(const std::string& name) const;
    std::string CurrentPath() const;

    const char* failed_call = "";
    int failed_errno = 0;

private:
    bool Fail(const char* call);
    // A descriptor of a folder as a listing, with the folder's identity;
    // with `known`, the identity must be the one recorded before.
    bool OpenListing(int fd, WalkFolder& folder, bool known);
    bool Push(int parent, const std::string& name);
    bool Reopen(WalkFolder& folder, int child);
    void Close(WalkFolder& folder);

    std::vector<WalkFolder> frames_;
    size_t open_ = 0;  // the open folders are always the deepest ones
};

int WalkFailed(const char* op, const FolderStack& stack, const std::string& path);

// The next entry of an open folder other than "." and "..", with its type:
// kEntry, kEnd, or a failure with errno set (kReadFailed, kTypeFailed). An
// entry gone between the listing and the look at its type is passed over.
const int kEntry = 1, kEnd = 0, kReadFailed = -1, kTypeFailed = -2;
int NextEntry(DIR* dir, int fd, struct dirent** entry, int& type);

// ---------------------------------------------------------------- copy
// (file-op-copy.cpp)

// Lets the disk write what is copied while the copy goes on; stops asking
// once the destination refuses.
struct Writeback {
    int fd;
    off_t started = 0;
    off_t written = 0;
    bool supported = true;

    void Advance(ssize_t length);
};

// What one copy, or all the copies of a tree, share: the byte loop's
// buffer, allocated on first use (a copy the kernel makes needs none), and
// whether the kernel still takes the files being copied.
class CopyState {
public:
    CopyState() = default;
    CopyState(const CopyState&) = delete;
    CopyState& operator=(const CopyState&) = delete;
    ~CopyState() { free(data_); }

    bool kernel_copy = true;

    char* Buffer();

private:
    char* data_ = nullptr;
};

// Copies `in` to `out` from their current offsets to the end of `in`: in the
// kernel while it takes the pair, then through the buffer for the rest. The
// first kernel copy failing for any reason hands the whole copy to the byte
// loop, whose read and write report a lasting failure in their own words. A
// kernel copy that copies nothing at all (an empty file, or a file system
// that reports a size it does not serve this way) is settled by the loop too.
int CopyContents(int in, int out, CopyState& state, Writeback& writeback);

}  // namespace fileop_internal
