// Compares an installed bundle with its package as the extraction would have
// left it: every entry is read with the extractor's format choices, and its
// data is compared block by block with the installed file, which is read in
// place (no copy of either is made).
#include "package-compare.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "extractor.h"
#include "package-formats.h"

namespace {

using PackageTools::Comparison;
using PackageTools::Difference;

const size_t kBlockSize = 10240;
// The permission bits libarchive gives a folder it makes on the way to an
// entry, before the umask.
const mode_t kImplicitFolderMode = 0777;

// The process's file mode creation mask, which the extraction applies to
// every permission. Read from /proc rather than set and reset, which would
// change it for a moment under other threads creating files.
mode_t CurrentUmask()
{
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned value = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status) != nullptr)
            found = std::sscanf(line, "Umask: %o", &value) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(value & 0777);
    }
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// An entry's name as a path below the bundle: no empty or "." parts, no
// leading or trailing '/' (the extraction puts an absolute name below the
// destination too). False for a name with a ".." part, which the
// extraction refuses.
bool Normalize(const char* name, std::string* path)
{
    path->clear();
    const char* p = name;
    while (*p != '\0') {
        const char* end = std::strchr(p, '/');
        if (end == nullptr)
            end = p + std::strlen(p);
        const std::string part(p, static_cast<size_t>(end - p));
        if (part == "..")
            return false;
        if (!part.empty() && part != ".")
            *path += (path->empty() ? "" : "/") + part;
        p = *end == '/' ? end + 1 : end;
    }
    return true;
}

std::string ModeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string LinkTarget(const std::string& path)
{
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0)
            return std::string();
        if (static_cast<size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 4);
    }
}

// "a file", "a folder", "a symbolic link to 'x'", ... for what lstat found at `path`.
std::string Kind(const struct stat& st, const std::string& path)
{
    if (S_ISREG(st.st_mode))
        return "a file";
    if (S_ISDIR(st.st_mode))
        return "a folder";
    if (S_ISLNK(st.st_mode))
        return "a symbolic link to '" + LinkTarget(path) + "'";
    return "a special file";
}

// Whether the `length` bytes of `fd` from `offset` are `data` (zeros when
// null): 1 equal, 0 different (the file may also end first), -1 when the
// file cannot be read (errno set).
int RangeMatches(int fd, off_t offset, const char* data, size_t length, std::vector<char>* buffer)
{
    buffer->resize(std::min<size_t>(std::max<size_t>(length, 1), 1 << 20));
    while (length > 0) {
        const size_t want = std::min(length, buffer->size());
        const ssize_t n = pread(fd, buffer->data(), want, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            return 0;
        const size_t got = static_cast<size_t>(n);
        if (data != nullptr ? std::memcmp(buffer->data(), data, got) != 0
                            : std::any_of(buffer->begin(), buffer->begin() + n, [](char c) { return c != 0; }))
            return 0;
        if (data != nullptr)
            data += got;
        offset += n;
        length -= got;
    }
    return 1;
}

class Comparer {
public:
    Comparer(const ustring& app, Comparison* result)
        : app_(app.c_str(), app.length()), umask_(CurrentUmask()), result_(result)
    {
    }

    // Compares every entry; -1 with *error when the package cannot be read.
    int Entries(archive* reader, std::string* error);
    // Lists what below the bundle the package does not hold.
    void Extras(const std::string& relative);

private:
    int Entry(archive* reader, archive_entry* entry, const std::string& path, std::string* error);
    void Hold(const std::string& path, bool folder, mode_t perm);
    bool ParentsAreFolders(const std::string& path);
    bool Look(const std::string& path, const char* expected, struct stat* st);
    void Folder(const std::string& path);
    void Link(const std::string& path, const char* target);
    int File(archive* reader, archive_entry* entry, const std::string& path, std::string* error);
    int Contents(archive* reader, archive_entry* entry, const std::string& path, int fd, off_t file_size,
                 std::string* error);
    void HardLink(const std::string& path, const std::string& target);
    void Damaged(const std::string& path, const std::string& what) { result_->damaged.push_back({path.c_str(), what}); }
    std::string Full(const std::string& path) const { return path.empty() ? app_ : app_ + "/" + path; }

    const std::string app_;
    const mode_t umask_;
    Comparison* result_;
    // Paths the package holds, its entries' folders included.
    std::unordered_set<std::string> held_;
    // Permission bits of the folders the extraction makes, in the order it
    // makes them: an entry's own, or those of a folder made on the way to
    // an earlier entry (a later folder entry does not change them).
    std::unordered_map<std::string, mode_t> folder_modes_;
    // Folders looked at on disk: whether each is a real folder (one that is
    // not was reported once, and nothing below it is looked at).
    std::unordered_map<std::string, bool> folders_seen_;
    // Regular files of the package, for the hard links to them.
    std::unordered_set<std::string> files_;
    std::vector<char> buffer_;
};

int Comparer::Entries(archive* reader, std::string* error)
{
    int entries = 0;
    for (;;) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(reader, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK) {
            *error = "archive_read_next_header: " + Extractor::FailureReason(reader);
            return -1;
        }
        ++entries;
        const char* name = archive_entry_pathname(entry);
        if (name == nullptr) {
            *error = "archive_entry_pathname: entry " + std::to_string(entries) + " has no name";
            return -1;
        }
        std::string path;
        if (!Normalize(name, &path))
            Damaged(name, "leads out of the bundle");
        else if (!path.empty() && Entry(reader, entry, path, error) != 0)
            return -1;
    }
    if (entries == 0) {
        *error = "the package holds no entries";
        return -1;
    }
    return 0;
}

int Comparer::Entry(archive* reader, archive_entry* entry, const std::string& path, std::string* error)
{
    const mode_t type = archive_entry_filetype(entry);
    const char* hardlink = archive_entry_hardlink(entry);
    if (type != 0 && type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
        Damaged(path, "is of a kind a bundle cannot hold (file type 0" + ModeText(type) + ")");
        return 0;
    }
    Hold(path, type == AE_IFDIR, archive_entry_perm(entry));
    if (!ParentsAreFolders(path))
        return 0;
    std::string target;
    if (hardlink != nullptr && archive_entry_size(entry) <= 0 && Normalize(hardlink, &target)) {
        HardLink(path, target);
        return 0;
    }
    if (type == AE_IFDIR) {
        Folder(path);
        return 0;
    }
    if (type == AE_IFLNK) {
        Link(path, archive_entry_symlink(entry));
        return 0;
    }
    return File(reader, entry, path, error);
}

// Records `path` and the folders on its way as held, with the permission
// bits the extraction gives each folder it makes.
void Comparer::Hold(const std::string& path, bool folder, mode_t perm)
{
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string parent = path.substr(0, slash);
        held_.insert(parent);
        folder_modes_.emplace(parent, kImplicitFolderMode & ~umask_);
    }
    held_.insert(path);
    if (folder)
        folder_modes_.emplace(path, perm & 0777 & ~umask_);
}

// Whether every folder on the way to `path` is a real folder on disk. The
// first one that is not is reported, once; the entries below it are not
// looked at.
bool Comparer::ParentsAreFolders(const std::string& path)
{
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string parent = path.substr(0, slash);
        auto seen = folders_seen_.find(parent);
        if (seen == folders_seen_.end()) {
            struct stat st;
            bool real = false;
            if (Look(parent, "a folder", &st)) {
                real = S_ISDIR(st.st_mode);
                if (!real)
                    Damaged(parent, "is " + Kind(st, Full(parent)) + ", expected a folder");
            }
            seen = folders_seen_.emplace(parent, real).first;
        }
        if (!seen->second)
            return false;
    }
    return true;
}

// lstat of `path`: false, with the difference reported, when there is
// nothing to look at.
bool Comparer::Look(const std::string& path, const char* expected, struct stat* st)
{
    if (lstat(Full(path).c_str(), st) == 0)
        return true;
    if (errno == ENOENT)
        Damaged(path, "missing");
    else
        Damaged(path, "cannot be examined (" + std::string(std::strerror(errno)) + "), expected " + expected);
    return false;
}

void Comparer::Folder(const std::string& path)
{
    struct stat st;
    const bool found = Look(path, "a folder", &st);
    folders_seen_[path] = found && S_ISDIR(st.st_mode);
    if (!found)
        return;
    if (!S_ISDIR(st.st_mode)) {
        Damaged(path, "is " + Kind(st, Full(path)) + ", expected a folder");
        return;
    }
    const mode_t expected = folder_modes_[path];
    if ((st.st_mode & 0777) != expected)
        Damaged(path, "mode " + ModeText(st.st_mode & 0777) + ", expected " + ModeText(expected));
}

void Comparer::Link(const std::string& path, const char* target)
{
    struct stat st;
    if (!Look(path, "a symbolic link", &st))
        return;
    if (!S_ISLNK(st.st_mode)) {
        Damaged(path, "is " + Kind(st, Full(path)) + ", expected a symbolic link");
        return;
    }
    const std::string actual = LinkTarget(Full(path)), expected = target != nullptr ? target : "";
    if (actual != expected)
        Damaged(path, "link target '" + actual + "', expected '" + expected + "'");
}

// A regular file (or a hard link that carries its own data): type, size,
// permission bits, then the contents.
int Comparer::File(archive* reader, archive_entry* entry, const std::string& path, std::string* error)
{
    files_.insert(path);
    struct stat st;
    if (!Look(path, "a file", &st))
        return 0;
    if (!S_ISREG(st.st_mode)) {
        Damaged(path, "is " + Kind(st, Full(path)) + ", expected a file");
        return 0;
    }
    if (archive_entry_size_is_set(entry) && st.st_size != archive_entry_size(entry)) {
        Damaged(path, "has size " + std::to_string(st.st_size) + ", expected " +
                          std::to_string(archive_entry_size(entry)));
        return 0;
    }
    // A hard link takes its permissions from the file it links to.
    const mode_t expected = archive_entry_perm(entry) & 0777 & ~umask_;
    if (archive_entry_hardlink(entry) == nullptr && (st.st_mode & 0777) != expected) {
        Damaged(path, "mode " + ModeText(st.st_mode & 0777) + ", expected " + ModeText(expected));
        return 0;
    }
    const int fd = open(Full(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Damaged(path, "cannot be read (open: " + std::string(std::strerror(errno)) + ")");
        return 0;
    }
    const int result = Contents(reader, entry, path, fd, st.st_size, error);
    close(fd);
    return result;
}

// Reads the entry's data and compares it with the file open at `fd`. A
// stretch the archive skips (a sparse entry's hole) must read as zeros.
// After a difference the data is still read to its end, without comparing,
// so that a damaged package (a bad checksum at the entry's end) is told
// from a damaged file.
int Comparer::Contents(archive* reader, archive_entry* entry, const std::string& path, int fd, off_t file_size,
                       std::string* error)
{
    la_int64_t covered = 0;
    int match = 1;
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(reader, &block, &size, &offset);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK) {
            *error = "archive_read_data_block: " + Extractor::FailureReason(reader) + " ('" + path + "')";
            return -1;
        }
        if (match == 1 && offset > covered)
            match = RangeMatches(fd, covered, nullptr, static_cast<size_t>(offset - covered), &buffer_);
        if (match == 1)
            match = RangeMatches(fd, offset, static_cast<const char*>(block), size, &buffer_);
        covered = std::max<la_int64_t>(covered, offset + static_cast<la_int64_t>(size));
    }
    const la_int64_t length = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : covered;
    if (match == 1 && length > covered)
        match = RangeMatches(fd, covered, nullptr, static_cast<size_t>(length - covered), &buffer_);
    if (match < 0)
        Damaged(path, "cannot be read (pread: " + std::string(std::strerror(errno)) + ")");
    else if (match == 0)
        Damaged(path, "contents differ");
    else if (file_size != length)
        Damaged(path, "has size " + std::to_string(file_size) + ", expected " + std::to_string(length));
    return 0;
}

// A hard link without data of its own: the extraction links it to its
// target, so it must be the same file, or one with the same contents.
void Comparer::HardLink(const std::string& path, const std::string& target)
{
    struct stat st, target_st;
    if (!Look(path, "a file", &st))
        return;
    if (!S_ISREG(st.st_mode)) {
        Damaged(path, "is " + Kind(st, Full(path)) + ", expected a file");
        return;
    }
    if (files_.count(target) == 0 || lstat(Full(target).c_str(), &target_st) != 0 || !S_ISREG(target_st.st_mode)) {
        Damaged(path, "is a link to '" + target + "', which is not a file of the package");
        return;
    }
    if (st.st_dev == target_st.st_dev && st.st_ino == target_st.st_ino)
        return;
    if (st.st_size != target_st.st_size) {
        Damaged(path, "has size " + std::to_string(st.st_size) + ", expected " + std::to_string(target_st.st_size));
        return;
    }
    const int fd = open(Full(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const int target_fd = open(Full(target).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    int match = fd >= 0 && target_fd >= 0 ? 1 : -1;
    std::vector<char> block(1 << 16);
    for (off_t offset = 0; match == 1 && offset < st.st_size;) {
        const ssize_t n = pread(target_fd, block.data(), block.size(), offset);
        match = n > 0 ? RangeMatches(fd, offset, block.data(), static_cast<size_t>(n), &buffer_) : n == 0 ? 0 : -1;
        offset += n > 0 ? n : 0;
    }
    if (match < 0)
        Damaged(path, "cannot be read (" + std::string(std::strerror(errno)) + ")");
    else if (match == 0)
        Damaged(path, "contents differ");
    for (const int open_fd : {fd, target_fd})
        if (open_fd >= 0)
            close(open_fd);
}

// Lists the names below the folder `relative` that the package does not
// hold, in name order; descends only into what the package holds as a
// folder and is one on disk (a folder where a file belongs is damage, not a
// place for extra files).
void Comparer::Extras(const std::string& relative)
{
    DIR* dir = opendir(Full(relative).c_str());
    if (dir == nullptr) {
        // A missing bundle or folder is a difference already reported.
        if (errno != ENOENT && errno != ENOTDIR)
            Damaged(relative, "cannot be listed (opendir: " + std::string(std::strerror(errno)) + ")");
        return;
    }
    std::vector<std::string> names;
    for (dirent* entry = readdir(dir); entry != nullptr; entry = readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = relative.empty() ? name : relative + "/" + name;
        struct stat st;
        if (held_.count(path) == 0)
            result_->extra.push_back(path.c_str());
        else if (folder_modes_.count(path) != 0 && lstat(Full(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            Extras(path);
    }
}

}  // namespace

int ComparePackage(const ustring& package, const ustring& app, PackageTools::Comparison* result, std::string* error)
{
    *result = PackageTools::Comparison();
    archive* reader = archive_read_new();
    if (reader == nullptr) {
        *error = "archive_read_new failed";
        return -1;
    }
    SupportPackageFormats(reader);
    int status = -1;
    if (archive_read_open_filename(reader, package.c_str_utf8(), kBlockSize) != ARCHIVE_OK) {
        *error = "archive_read_open_filename('" + std::string(package.c_str()) + "'): " +
                 Extractor::FailureReason(reader);
    } else {
        Comparer comparer(app, result);
        status = comparer.Entries(reader, error);
        if (status == 0)
            comparer.Extras(std::string());
    }
    archive_read_free(reader);
    if (status != 0)
        *result = PackageTools::Comparison();
    return status;
}
