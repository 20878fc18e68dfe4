// The record is text, one line per entry, grouped by folder:
//
//   lumora-install-manifest 1
//   F <size> <name>            a regular file of the current folder
//   L <name> <target>          a symbolic link of the current folder
//   D <path>                   a folder, relative to the bundle; it becomes the current folder
//   end <number of F, L and D lines>
//
// The bundle folder's own entries come first, then each folder in depth-first
// order, so that a check opens every folder once, relative to its parent,
// and looks at its entries relative to that descriptor. Names and targets
// may hold any byte: everything outside the printable ASCII range, the space
// and the backslash are written as \xHH, so a field never holds a space, a
// line break or (in a name) a '/'.
#include "install-manifest.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "log.h"

namespace InstallManifest {

namespace {

const char kComponent[] = "service_debug";
const char kHeader[] = "lumora-install-manifest 1\n";
const char kTrailer[] = "end ";
// Far more than any bundle needs (about 40 bytes an entry); a larger file is
// not a record of ours.
const off_t kLargestManifest = 64 << 20;

#ifdef O_PATH
// A folder is only ever looked into, never read: no open-file permission check.
const int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
const int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

std::string SystemReason(const char* call, const std::string& path)
{
    return std::string(call) + "('" + path + "'): " + std::strerror(errno);
}

std::string Joined(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

// --- escaping ---

bool IsPlain(unsigned char c) { return c > ' ' && c < 0x7f && c != '\\'; }

void AppendEscaped(const std::string& raw, std::string* out)
{
    static const char kHex[] = "0123456789abcdef";
    for (const char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsPlain(c)) {
            out->push_back(ch);
        } else {
            const char escape[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
            out->append(escape, 4);
        }
    }
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Decodes [begin, end) into *out; false for a malformed escape, a NUL or a
// byte that is never written unescaped.
bool Unescape(const char* begin, const char* end, std::string* out)
{
    out->clear();
    for (const char* p = begin; p < end; ++p) {
        if (*p != '\\') {
            if (!IsPlain(static_cast<unsigned char>(*p)))
                return false;
            out->push_back(*p);
            continue;
        }
        if (end - p < 4 || p[1] != 'x')
            return false;
        const int high = HexValue(p[2]), low = HexValue(p[3]);
        if (high < 0 || low < 0 || (high | low) == 0)
            return false;
        out->push_back(static_cast<char>(high * 16 + low));
        p += 3;
    }
    return true;
}

// A name of one folder entry: not empty, no '/', not "." or "..".
bool IsEntryName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The target of the link `name` in the folder `fd`, however long.
bool ReadLinkAt(int fd, const char* name, std::string* target)
{
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = readlinkat(fd, name, buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (static_cast<size_t>(n) < buffer.size()) {
            target->assign(buffer.data(), static_cast<size_t>(n));
            return true;
        }
        buffer.resize(buffer.size() * 4);
    }
}

// --- writing ---

// Collects the record of a tree in memory.
class Recorder {
public:
    std::string text = kHeader;
    long lines = 0;
    std::string error;

    // Records the folder open at `fd` (taken over) and everything below it.
    // `relative` is its path below the bundle, `escaped` the same as written.
    bool Folder(int fd, const std::string& full, const std::string& relative, const std::string& escaped);

private:
    bool Entry(int fd, const std::string& full, const std::string& name, std::vector<std::string>* folders);
};

bool Recorder::Folder(int fd, const std::string& full, const std::string& relative, const std::string& escaped)
{
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        error = SystemReason("fdopendir", full);
        close(fd);
        return false;
    }
    std::vector<std::string> names;
    errno = 0;
    for (dirent* entry = readdir(dir); entry != nullptr; entry = readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    if (errno != 0) {
        error = SystemReason("readdir", full);
        closedir(dir);
        return false;
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> folders;
    bool ok = true;
    for (size_t i = 0; ok && i < names.size(); ++i)
        ok = Entry(dirfd(dir), full, names[i], &folders);
    for (size_t i = 0; ok && i < folders.size(); ++i) {
        std::string child_escaped = escaped.empty() ? std::string() : escaped + "/";
        AppendEscaped(folders[i], &child_escaped);
        text += "D " + child_escaped + "\n";
        ++lines;
        const std::string child_full = full + "/" + folders[i];
        const int child = openat(dirfd(dir), folders[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0) {
            error = SystemReason("openat", child_full);
            ok = false;
        } else {
            ok = Folder(child, child_full, Joined(relative, folders[i]), child_escaped);
        }
    }
    closedir(dir);
    return ok;
}

// Records one file or link of a folder; a folder is kept for later, so that
// the folder's own entries stay together. Other kinds are not recorded.
bool Recorder::Entry(int fd, const std::string& full, const std::string& name, std::vector<std::string>* folders)
{
    struct stat st;
    if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        error = SystemReason("fstatat", full + "/" + name);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        folders->push_back(name);
        return true;
    }
    if (S_ISREG(st.st_mode)) {
        text += "F " + std::to_string(st.st_size) + " ";
        AppendEscaped(name, &text);
    } else if (S_ISLNK(st.st_mode)) {
        std::string target;
        if (!ReadLinkAt(fd, name.c_str(), &target)) {
            error = SystemReason("readlinkat", full + "/" + name);
            return false;
        }
        text += "L ";
        AppendEscaped(name, &text);
        text += " ";
        AppendEscaped(target, &text);
    } else {
        return true;
    }
    text += "\n";
    ++lines;
    return true;
}

bool WriteWhole(int fd, const std::string& text)
{
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes `text` to `part`, durably, and renames it to `manifest`.
bool Replace(const std::string& part, const std::string& manifest, const std::string& text, std::string* error)
{
    const int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = SystemReason("open", part);
        return false;
    }
    const char* failed = !WriteWhole(fd, text) ? "write" : fsync(fd) != 0 ? "fsync" : nullptr;
    if (failed != nullptr)
        *error = SystemReason(failed, part);
    if (close(fd) != 0 && failed == nullptr) {
        *error = SystemReason("close", part);
        failed = "close";
    }
    if (failed == nullptr && rename(part.c_str(), manifest.c_str()) != 0) {
        *error = "rename('" + part + "', '" + manifest + "'): " + std::strerror(errno);
        failed = "rename";
    }
    if (failed != nullptr)
        unlink(part.c_str());
    return failed == nullptr;
}

// --- checking ---

// Reads the whole record into *text, with one read() in the common case.
// False with the reason in *why; *missing tells a record that is not there.
bool ReadRecord(const std::string& manifest, std::unique_ptr<char[]>* text, size_t* size, bool* missing,
                std::string* why)
{
    const int fd = open(manifest.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *missing = errno == ENOENT;
        *why = SystemReason("open", manifest);
        return false;
    }
    struct stat st;
    bool ok = false;
    if (fstat(fd, &st) != 0) {
        *why = SystemReason("fstat", manifest);
    } else if (!S_ISREG(st.st_mode) || st.st_size > kLargestManifest) {
        *why = "not a record: " + std::to_string(st.st_size) + " bytes";
    } else {
        *size = static_cast<size_t>(st.st_size);
        text->reset(new char[*size + 1]);
        size_t done = 0;
        ssize_t n = 1;
        while (done < *size && n > 0) {
            n = read(fd, text->get() + done, *size - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n < 0 && errno == EINTR)
                n = 1;
        }
        if (n < 0)
            *why = SystemReason("read", manifest);
        else if (done < *size)
            *why = "cut short while being read";
        ok = n >= 0 && done == *size;
    }
    close(fd);
    return ok;
}

// Parses a decimal number filling [begin, end) exactly.
bool ParseNumber(const char* begin, const char* end, long long* value)
{
    if (begin == end || end - begin > 18)
        return false;
    *value = 0;
    for (const char* p = begin; p < end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        *value = *value * 10 + (*p - '0');
    }
    return true;
}

// Walks the record's lines against the tree, keeping the folders on the
// way open.
class Checker {
public:
    Checker(const ustring& app, Damage* first) : app_(app.c_str(), app.length()), first_(first) {}
    ~Checker()
    {
        for (const Folder& folder : folders_)
            close(folder.fd);
    }

    enum class Step { Next, Damaged, Malformed };
    Step OpenBundle();
    Step Line(const char* begin, const char* end);

private:
    struct Folder {
        std::string relative;
        int fd;
    };

    Step File(const char* begin, const char* end);
    Step Link(const char* begin, const char* end);
    Step EnterFolder(const char* begin, const char* end);
    Step Report(const std::string& name, const std::string& what);
    Step ReportFailure(const std::string& name, const char* expected);
    std::string Describe(int fd, const std::string& name);

    const std::string app_;
    Damage* first_;
    std::vector<Folder> folders_;
    std::string name_, target_, actual_;  // reused: no allocation per entry
};

Checker::Step Checker::OpenBundle()
{
    // The bundle itself may be reached through a link (a home folder that is one).
    const int fd = open(app_.c_str(), kFolderFlags & ~O_NOFOLLOW);
    if (fd < 0) {
        first_->path = app_;
        first_->what = errno == ENOENT ? "missing" : "cannot be opened: " + std::string(std::strerror(errno));
        return Step::Damaged;
    }
    folders_.push_back({std::string(), fd});
    return Step::Next;
}

Checker::Step Checker::Line(const char* begin, const char* end)
{
    if (end - begin < 3 || begin[1] != ' ')
        return Step::Malformed;
    switch (begin[0]) {
    case 'F':
        return File(begin + 2, end);
    case 'L':
        return Link(begin + 2, end);
    case 'D':
        return EnterFolder(begin + 2, end);
    default:
        return Step::Malformed;
    }
}

Checker::Step Checker::File(const char* begin, const char* end)
{
    const char* space = static_cast<const char*>(std::memchr(begin, ' ', static_cast<size_t>(end - begin)));
    long long expected = 0;
    if (space == nullptr || !ParseNumber(begin, space, &expected) || !Unescape(space + 1, end, &name_) ||
        !IsEntryName(name_))
        return Step::Malformed;
    struct stat st;
    if (fstatat(folders_.back().fd, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return ReportFailure(name_, "a file");
    if (!S_ISREG(st.st_mode))
        return Report(name_, Describe(folders_.back().fd, name_) + ", expected a file");
    if (st.st_size != expected)
        return Report(name_, "has size " + std::to_string(st.st_size) + ", expected " + std::to_string(expected));
    return Step::Next;
}

Checker::Step Checker::Link(const char* begin, const char* end)
{
    const char* space = static_cast<const char*>(std::memchr(begin, ' ', static_cast<size_t>(end - begin)));
    if (space == nullptr || !Unescape(begin, space, &name_) || !IsEntryName(name_) ||
        !Unescape(space + 1, end, &target_) || target_.empty())
        return Step::Malformed;
    // One byte more than the recorded target: a longer one shows as a full buffer.
    actual_.resize(target_.size() + 1);
    const ssize_t n = readlinkat(folders_.back().fd, name_.c_str(), &actual_[0], actual_.size());
    if (n < 0) {
        if (errno != EINVAL)
            return ReportFailure(name_, "a symbolic link");
        return Report(name_, Describe(folders_.back().fd, name_) + ", expected a symbolic link");
    }
    if (static_cast<size_t>(n) == target_.size() && std::memcmp(actual_.data(), target_.data(), target_.size()) == 0)
        return Step::Next;
    return Report(name_, Describe(folders_.back().fd, name_) + ", expected one to '" + target_ + "'");
}

Checker::Step Checker::EnterFolder(const char* begin, const char* end)
{
    if (!Unescape(begin, end, &target_))
        return Step::Malformed;
    const size_t slash = target_.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string() : target_.substr(0, slash);
    name_ = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    if (!IsEntryName(name_))
        return Step::Malformed;
    // Depth-first order: the parent is the current folder or one above it.
    while (folders_.size() > 1 && folders_.back().relative != parent) {
        close(folders_.back().fd);
        folders_.pop_back();
    }
    if (folders_.back().relative != parent)
        return Step::Malformed;
    const int fd = openat(folders_.back().fd, name_.c_str(), kFolderFlags);
    if (fd < 0) {
        if (errno != ENOTDIR && errno != ELOOP)
            return ReportFailure(name_, "a folder");
        return Report(name_, Describe(folders_.back().fd, name_) + ", expected a folder");
    }
    folders_.push_back({target_, fd});
    return Step::Next;
}

Checker::Step Checker::Report(const std::string& name, const std::string& what)
{
    first_->path = app_ + "/" + Joined(folders_.back().relative, name);
    first_->what = what;
    return Step::Damaged;
}

// A failed look at `name`: missing, or what kept it from being examined.
Checker::Step Checker::ReportFailure(const std::string& name, const char* expected)
{
    if (errno == ENOENT)
        return Report(name, "missing");
    return Report(name, "cannot be examined (" + std::string(std::strerror(errno)) + "), expected " + expected);
}

// What is at `name` in the folder `fd`: "is a file", "is a symbolic link to 'x'", ...
std::string Checker::Describe(int fd, const std::string& name)
{
    struct stat st;
    if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? "is missing" : "cannot be examined (" + std::string(std::strerror(errno)) + ")";
    if (S_ISREG(st.st_mode))
        return "is a file";
    if (S_ISDIR(st.st_mode))
        return "is a folder";
    if (!S_ISLNK(st.st_mode))
        return "is a special file";
    std::string target;
    return ReadLinkAt(fd, name.c_str(), &target) ? "is a symbolic link to '" + target + "'" : "is a symbolic link";
}

// Checks the lines between the header and the trailer; `lines` is the
// number the trailer gives.
Result CheckLines(const ustring& app, const char* begin, const char* end, long long lines, Damage* first,
                  std::string* why)
{
    Checker checker(app, first);
    if (checker.OpenBundle() == Checker::Step::Damaged)
        return Result::Damaged;
    long long seen = 0;
    for (const char* line = begin; line < end; ++seen) {
        const char* stop = static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
        const Checker::Step step = checker.Line(line, stop);
        if (step == Checker::Step::Damaged)
            return Result::Damaged;
        if (step == Checker::Step::Malformed) {
            *why = "line " + std::to_string(seen + 2) + " is malformed";
            return Result::Unreadable;
        }
        line = stop + 1;
    }
    if (seen != lines) {
        *why = std::to_string(seen) + " entries, expected " + std::to_string(lines);
        return Result::Unreadable;
    }
    return Result::Intact;
}

// Finds the lines between the header and the trailer of a record.
bool FindLines(const char* text, size_t size, const char** begin, const char** end, long long* lines)
{
    const size_t header = sizeof kHeader - 1;
    if (size < header || std::memcmp(text, kHeader, header) != 0 || text[size - 1] != '\n')
        return false;
    const char* last = text + size - 1;
    const char* start = last;
    while (start > text + header && start[-1] != '\n')
        --start;
    const size_t trailer = sizeof kTrailer - 1;
    if (static_cast<size_t>(last - start) <= trailer || std::memcmp(start, kTrailer, trailer) != 0 ||
        !ParseNumber(start + trailer, last, lines))
        return false;
    *begin = text + header;
    *end = start;
    return true;
}

}  // namespace

ustring PathFor(const ustring& app)
{
    ustring manifest(app);
    manifest += ".manifest";
    return manifest;
}

bool Write(const ustring& app, const ustring& manifest, std::string* error)
{
    const std::string root(app.c_str(), app.length());
    const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = SystemReason("open", root);
        return false;
    }
    Recorder recorder;
    if (!recorder.Folder(fd, root, std::string(), std::string())) {
        *error = recorder.error;
        return false;
    }
    recorder.text += kTrailer + std::to_string(recorder.lines) + "\n";
    const std::string target(manifest.c_str(), manifest.length());
    return Replace(target + ".part", target, recorder.text, error);
}

Result Check(const ustring& app, const ustring& manifest, Damage* first)
{
    std::unique_ptr<char[]> text;
    size_t size = 0;
    bool missing = false;
    std::string why;
    if (!ReadRecord(std::string(manifest.c_str(), manifest.length()), &text, &size, &missing, &why)) {
        if (missing)
            return Result::NoManifest;
        LOG_WARNING(kComponent, "install manifest '%s' is not readable: %s\n", manifest.c_str(), why.c_str());
        return Result::Unreadable;
    }
    const char *begin = nullptr, *end = nullptr;
    long long lines = 0;
    Result result = Result::Unreadable;
    if (!FindLines(text.get(), size, &begin, &end, &lines))
        why = "no header or trailer";
    else
        result = CheckLines(app, begin, end, lines, first, &why);
    if (result == Result::Unreadable)
        LOG_WARNING(kComponent, "install manifest '%s' is not readable: %s\n", manifest.c_str(), why.c_str());
    return result;
}

}  // namespace InstallManifest
