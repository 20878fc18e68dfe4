#include "extractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <QString>

#include "notify-adapter.h"
#include "package-formats.h"
#include "log.h"
#include "strtable.h"

namespace {

const char kComponent[] = "extractor_debug";
const size_t kBlockSize = 10240;
// Unlink what is in the way, refuse "..", keep the platform's own metadata.
const int kWriteOptions =
    ARCHIVE_EXTRACT_UNLINK | ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_MAC_METADATA;

// Regular files (hard links included), folders and symbolic links; a device
// node, pipe or socket has no place in an application bundle.
bool IsAllowedType(archive_entry* entry)
{
    switch (archive_entry_filetype(entry)) {
    case 0:
    case AE_IFREG:
    case AE_IFDIR:
    case AE_IFLNK:
        return true;
    default:
        return false;
    }
}

ustring ReRooted(const ustring& root, const char* stored)
{
    ustring path(root);
    path += "/";
    path += stored;
    return path;
}

// The longest name a backup gives the bundle folder adds this many bytes
// ("_tmp9"): an entry must stay within PATH_MAX under that name too, or the
// backup could never be removed or moved back.
const size_t kBackupSuffixLength = 5;

// Every format libarchive reads, with zip read only through its central
// directory: a zip whose directory is missing or damaged (a truncated
// download) would otherwise be read entry by entry from the local headers,
// which lose symbolic links and permissions.
void SupportFormats(archive* handle)
{
    SupportPackageFormats(handle);
}

// libarchive's own error numbers, which its public header does not define:
// a damaged or unknown archive, a misuse of the library, anything else.
const int kArchiveFormatErrno = EILSEQ;
const int kArchiveProgrammerErrno = EINVAL;
const int kArchiveMiscErrno = -1;

// Whether an archive handle's error number is a failed system call's. The
// system's texts for libarchive's own numbers ("Invalid or incomplete
// multibyte or wide character" for a damaged archive) would only mislead.
bool IsSystemError(int error)
{
    return error > 0 && error != kArchiveFormatErrno && error != kArchiveProgrammerErrno &&
           error != kArchiveMiscErrno;
}

// libarchive's message without the line end some of its messages carry:
// the log line has its own.
std::string TrimmedMessage(const char* text)
{
    std::string message = text != nullptr ? text : "";
    const size_t end = message.find_last_not_of(" \t\r\n");
    message.erase(end == std::string::npos ? 0 : end + 1);
    return message;
}

}  // namespace

// Why a libarchive call failed, from whichever handle holds the reason: a
// failed archive_read_extract2 may leave it on the reader (a damaged entry)
// or on the writer (a full disk). Never null; the system's text for a
// failed system call's error number is added when the message does not
// already say it.
std::string Extractor::FailureReason(archive* first, archive* second)
{
    for (archive* handle : {first, second}) {
        if (handle == nullptr)
            continue;
        std::string reason = TrimmedMessage(archive_error_string(handle));
        const int error = archive_errno(handle);
        if (IsSystemError(error)) {
            const char* system = std::strerror(error);
            if (reason.find(system) == std::string::npos)
                reason += reason.empty() ? system : std::string(": ") + system;
        }
        if (!reason.empty())
            return reason;
    }
    return "unknown error";
}

// Opens the package for a listing pass (Count, List): every format and
// filter libarchive reads. Null, with the failing call logged, when it can't.
archive* Extractor::OpenForListing()
{
    if (dest_path.empty() || src_path.empty()) {
        LOG_ERROR(kComponent, "Invalid argument\n");
        return nullptr;
    }
    archive* handle = archive_read_new();
    if (handle == nullptr) {
        LOG_ERROR(kComponent, "Allocate archive failed\n");
        return nullptr;
    }
    SupportFormats(handle);
    if (archive_read_open_filename(handle, src_path.c_str_utf8(), kBlockSize) != ARCHIVE_OK) {
        LOG_ERROR(kComponent, "archive_read_open_filename failed: '%s'\n", FailureReason(handle).c_str());
        archive_read_free(handle);
        return nullptr;
    }
    return handle;
}

int Extractor::Count()
{
    count_failure.clear();
    archive* handle = OpenForListing();
    if (handle == nullptr)
        return -1;
    int count = 0;
    archive_entry* entry = nullptr;
    int r;
    while ((r = archive_read_next_header(handle, &entry)) == ARCHIVE_OK) {
        ++count;
        archive_read_data_skip(handle);
    }
    // Entries before a damaged one still count: the extraction reports the
    // damage itself when it gets there.
    if (r != ARCHIVE_EOF)
        count_failure = FailureReason(handle);
    archive_read_free(handle);
    return count;
}

int Extractor::List()
{
    archive* handle = OpenForListing();
    if (handle == nullptr)
        return -1;
    archive_entry* entry = nullptr;
    while (archive_read_next_header(handle, &entry) == ARCHIVE_OK) {
        const char* name = archive_entry_pathname(entry);
        std::printf("%s\n", name != nullptr ? name : "");
        std::fflush(stdout);
        archive_read_data_skip(handle);
    }
    archive_read_close(handle);
    archive_read_free(handle);
    return 0;
}

int Extractor::copy_data(archive* ar, archive* aw)
{
    if (ar == nullptr || aw == nullptr) {
        LOG_ERROR(kComponent, "Invalid Argument\n");
        return -1;
    }
    for (;;) {
        const void* buffer = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        int r = archive_read_data_block(ar, &buffer, &size, &offset);
        if (r == ARCHIVE_EOF)
            return 0;
        if (r != ARCHIVE_OK) {
            LOG_ERROR(kComponent, "archive_read_data_block failed: '%s'\n", FailureReason(ar).c_str());
            return -1;
        }
        if (archive_write_data_block(aw, buffer, size, offset) != ARCHIVE_OK) {
            LOG_ERROR(kComponent, "archive_write_data_block failed: '%s'\n", FailureReason(aw).c_str());
            return -1;
        }
    }
}

int Extractor::Extract()
{
    if (src_path.empty() || dest_path.empty()) {
        LOG_ERROR(kComponent, "Invalid Argument\n");
        return -1;
    }
    LOG_DEBUG(kComponent, "decompress from '%s' to '%s'\n", src_path.c_str(), dest_path.c_str());
    safe_folders.clear();
    Notify_Adapter::GetInstance()->UpdateDialogText(StrTable::LoadStr(537).arg(StrTable::LoadStr(841)));

    int total = Count();
    if (total < 1) {
        LOG_ERROR(kComponent, "Failed to calculate total file numbers, ret: %d\n", total);
        // -1: the package could not be opened, and OpenForListing said why.
        if (total == 0 && count_failure.empty())
            LOG_ERROR(kComponent, "package '%s' holds no entries\n", src_path.c_str());
        else if (total == 0)
            LOG_ERROR(kComponent, "package '%s': archive_read_next_header failed: '%s'\n", src_path.c_str(),
                      count_failure.c_str());
        return -1;
    }
    archive* reader = archive_read_new();
    if (reader == nullptr) {
        LOG_ERROR(kComponent, "Allocate extractor failed\n");
        return -1;
    }
    archive* writer = archive_write_disk_new();
    if (writer == nullptr) {
        LOG_ERROR(kComponent, "Allocate extractor failed\n");
        archive_read_free(reader);
        return -1;
    }
    archive_write_disk_set_options(writer, kWriteOptions);
    SupportFormats(reader);

    int result = -1;
    if (archive_read_open_filename(reader, src_path.c_str_utf8(), kBlockSize) != ARCHIVE_OK)
        LOG_ERROR(kComponent, "Failed to read file '%s' ('%s')\n", src_path.c_str(), FailureReason(reader).c_str());
    else
        result = ExtractEntries(reader, writer, total);

    archive_read_free(reader);
    archive_write_free(writer);
    return result;
}

// The second pass: every entry re-rooted below dest_path and written, with
// one progress report per entry.
int Extractor::ExtractEntries(archive* reader, archive* writer, int total)
{
    for (int current = 1;; ++current) {
        archive_entry* entry = nullptr;
        int r = archive_read_next_header(reader, &entry);
        if (r == ARCHIVE_EOF)
            return 0;
        if (r != ARCHIVE_OK) {
            LOG_ERROR(kComponent, "archive_read_next_header failed: '%s'\n", FailureReason(reader).c_str());
            return -1;
        }
        if (PrepareEntry(entry) != 0)
            return -1;
        if (archive_read_extract2(reader, entry, writer) != ARCHIVE_OK) {
            LOG_ERROR(kComponent, "archive_read_extract2 failed: '%s'\n", FailureReason(writer, reader).c_str());
            return -1;
        }
        Notify_Adapter::GetInstance()->UpdateProgress(total, current);
        if (archive_write_finish_entry(writer) != ARCHIVE_OK) {
            LOG_ERROR(kComponent, "archive_write_finish_entry failed: '%s'\n", FailureReason(writer).c_str());
            return -1;
        }
    }
}

// Checks one entry and re-roots its path name (and a hard link's target)
// below dest_path. Refused: kinds of file a bundle never holds, paths too
// long to name without changing the working folder, and paths that would
// pass through a symbolic link already on disk below dest_path, since the
// disk writer would follow it out of the folder. Set-user-ID and
// set-group-ID bits are dropped.
int Extractor::PrepareEntry(archive_entry* entry)
{
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr) {
        LOG_ERROR(kComponent, "archive_entry_pathname failed\n");
        return -1;
    }
    if (!IsAllowedType(entry)) {
        LOG_ERROR(kComponent, "refusing entry '%s' of file type 0%o\n", name,
                  static_cast<unsigned>(archive_entry_filetype(entry)));
        return -1;
    }
    const char* link = archive_entry_hardlink(entry);
    ustring path = ReRooted(dest_path, name);
    ustring link_path = link != nullptr ? ReRooted(dest_path, link) : ustring();
    const size_t limit = PATH_MAX - 1 - kBackupSuffixLength;
    if (path.length() > limit || link_path.length() > limit) {
        LOG_ERROR(kComponent, "refusing entry '%s': path longer than %d bytes\n", name, static_cast<int>(limit));
        return -1;
    }
    // A hard link to a symbolic link would let the entry's data be written
    // through it, so a hard link's target is checked down to its last part.
    if (ReachesThroughLink(ustring(name), false) || (link != nullptr && ReachesThroughLink(ustring(link), true))) {
        LOG_ERROR(kComponent, "refusing entry '%s': its path leads through a symbolic link\n", name);
        return -1;
    }
    archive_entry_set_perm(entry, archive_entry_perm(entry) & ~static_cast<mode_t>(S_ISUID | S_ISGID));
    ForgetSafeFolder(ustring(name));
    archive_entry_set_pathname(entry, path.c_str_utf8());
    if (link != nullptr)
        archive_entry_set_hardlink(entry, link_path.c_str_utf8());
    return 0;
}

// Walks the components of a stored path below dest_path with lstat and
// answers whether one of them is a symbolic link, or cannot be examined.
// The walk stops at the first component that does not exist or is not a
// folder (the disk writer creates or replaces it), and at "..", which the
// disk writer refuses itself. dest_path and the folders above it are
// never looked at, so a home folder reached through a link keeps working. A
// folder found to be a real folder is not examined again during the same
// extraction unless an entry replaces it (see ForgetSafeFolder).
// An entry replaces whatever is at its path: a folder found safe there may
// become a link, so it is examined again next time. The key is spelled as
// ReachesThroughLink spells it (no empty or "." parts); a name with ".."
// forgets everything.
void Extractor::ForgetSafeFolder(const ustring& relative)
{
    std::string key(dest_path.c_str(), dest_path.length());
    const std::string text(relative.c_str(), relative.length());
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string part = text.substr(start, end - start);
        if (part == "..") {
            safe_folders.clear();
            return;
        }
        if (!part.empty() && part != ".")
            key += "/" + part;
        start = end + 1;
    }
    safe_folders.erase(key);
}

bool Extractor::ReachesThroughLink(const ustring& relative, bool include_last)
{
    const char* text = relative.c_str();
    const size_t length = relative.length();
    ustring path(dest_path);
    size_t start = 0;
    while (start < length) {
        size_t end = relative.find('/', start);
        if (end == ustring::npos)
            end = length;
        const size_t size = end - start;
        const bool last = relative.find_first_not_of('/', end) == ustring::npos;
        if (last && !include_last)
            return false;
        if (size == 2 && text[start] == '.' && text[start + 1] == '.')
            return false;
        if (size > 0 && !(size == 1 && text[start] == '.')) {
            path += "/";
            path.append(text + start, size);
            std::string key(path.c_str(), path.length());
            if (safe_folders.count(key) == 0) {
                struct stat st;
                if (lstat(path.c_str(), &st) != 0)
                    return !(errno == ENOENT || errno == ENOTDIR);
                if (S_ISLNK(st.st_mode))
                    return true;
                if (!S_ISDIR(st.st_mode))
                    return false;
                safe_folders.insert(std::move(key));
            }
        }
        start = end + 1;
    }
    return false;
}
