#include "extractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>

#include <QString>

#include "installed-scan.h"
#include "notify-adapter.h"
#include "package-formats.h"
#include "package-reader.h"
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

namespace {

using package_reader::FdSource;

// At most this many threads write a package's files: beyond it the disk,
// not the decompression, sets the pace.
const int kMaxWorkers = 4;
// What creating one file costs beside its bytes, in bytes, when the files
// are shared out among the threads.
const int64_t kFileWeight = 16 * 1024;

int CoreCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

// The process's umask. The disk writer reads it the same way when it is
// made, so both are read before any thread writes files.
mode_t CurrentUmask()
{
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

int LinkThroughProc(int fd, const char* to)
{
    char from[64];
    std::snprintf(from, sizeof from, "/proc/self/fd/%d", fd);
    return linkat(AT_FDCWD, from, AT_FDCWD, to, AT_SYMLINK_FOLLOW);
}

// Opens `relative` below the folder `root` for reading, refusing any
// symbolic link on the way or at the end and any way out of the folder.
int OpenBeneath(int root, const char* relative)
{
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(syscall(SYS_openat2, root, relative, &how, sizeof how));
}

// Errors after which no other link of this extraction can succeed either.
bool LinksImpossible(int error)
{
    return error == EXDEV || error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EROFS;
}

Extractor::EntryInfo Describe(archive_entry* entry)
{
    Extractor::EntryInfo info;
    const char* name = archive_entry_pathname(entry);
    info.name = name != nullptr ? name : "";
    info.type = archive_entry_filetype(entry);
    info.hardlink = archive_entry_hardlink(entry) != nullptr;
    info.size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
    info.perm = archive_entry_perm(entry);
    info.mtime_set = archive_entry_mtime_is_set(entry) != 0;
    info.mtime = archive_entry_mtime(entry);
    info.mtime_nsec = archive_entry_mtime_nsec(entry);
    return info;
}

bool IsPlainFile(const Extractor::EntryInfo& info)
{
    return info.type == AE_IFREG && !info.hardlink;
}

// Whether the entries can be written in phases (folders, files, links)
// with the outcome of writing them in order: every name once, no ".." in a
// name, and only folders on the way to another entry. Any other package is
// written in order by one thread, with the checks of every entry.
bool WritableInPhases(const std::vector<Extractor::EntryInfo>& entries)
{
    std::unordered_map<std::string, bool> folders;  // name -> is a folder
    folders.reserve(entries.size());
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const Extractor::EntryInfo& info : entries) {
        std::string name = package_reader::NormalName(info.name);
        if (name.empty() || !folders.emplace(name, info.type == AE_IFDIR).second)
            return false;
        names.push_back(std::move(name));
    }
    for (const std::string& name : names) {
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
            const auto found = folders.find(name.substr(0, slash));
            if (found != folders.end() && !found->second)
                return false;
        }
    }
    return true;
}

// The phase an entry is written in: 0 folders, 1 regular files, 2 links and the rest.
int PhaseOf(const Extractor::EntryInfo& info)
{
    return info.type == AE_IFDIR ? 0 : IsPlainFile(info) ? 1 : 2;
}

}  // namespace

struct Extractor::WriteState {
    // Folders below dest_path already found to be real folders.
    std::unordered_set<std::string> safe_folders;
    // Paths this extraction has linked: an entry written there later gets a
    // new file, never the linked one.
    std::unordered_set<std::string> linked_paths;
    int linked = 0;
    int written = 0;
};

struct Extractor::LinkPlan {
    bool enabled = false;
    int source_fd = -1;
    mode_t umask = 022;
    uid_t uid = 0;
    std::unordered_map<std::string, package_reader::ZipCrc> crcs;
    std::atomic<bool> possible{true};
    ~LinkPlan()
    {
        if (source_fd >= 0)
            close(source_fd);
    }
};

// Opens the package for a listing pass (Count, List): every format and
// filter libarchive reads. Null, with the failing call logged, when it can't.
// On a descriptor the log line names the same call as on a path: it is the
// same failure to a reader of the log.
archive* Extractor::OpenForListing(int fd, FdSource* source)
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
    const int r = fd >= 0 ? package_reader::OpenOnDescriptor(handle, fd, source)
                          : archive_read_open_filename(handle, src_path.c_str_utf8(), kBlockSize);
    if (r != ARCHIVE_OK) {
        LOG_ERROR(kComponent, "archive_read_open_filename failed: '%s'\n", FailureReason(handle).c_str());
        archive_read_free(handle);
        return nullptr;
    }
    return handle;
}

// A reader for writing the entries; null, with the reason logged, when the
// package cannot be opened.
archive* Extractor::OpenForExtraction(int fd, FdSource* source)
{
    archive* reader = archive_read_new();
    if (reader == nullptr) {
        LOG_ERROR(kComponent, "Allocate extractor failed\n");
        return nullptr;
    }
    SupportFormats(reader);
    const int r = fd >= 0 ? package_reader::OpenOnDescriptor(reader, fd, source)
                          : archive_read_open_filename(reader, src_path.c_str_utf8(), kBlockSize);
    if (r != ARCHIVE_OK) {
        LOG_ERROR(kComponent, "Failed to read file '%s' ('%s')\n", src_path.c_str(), FailureReason(reader).c_str());
        archive_read_free(reader);
        return nullptr;
    }
    return reader;
}

// The listing pass: the number of entries and, when asked, what each is
// and whether the package is a zip.
int Extractor::Survey(int fd, std::vector<EntryInfo>* entries, bool* zip)
{
    count_failure.clear();
    FdSource source;
    archive* handle = OpenForListing(fd, &source);
    if (handle == nullptr)
        return -1;
    int count = 0;
    archive_entry* entry = nullptr;
    int r;
    while ((r = archive_read_next_header(handle, &entry)) == ARCHIVE_OK) {
        ++count;
        if (entries != nullptr)
            entries->push_back(Describe(entry));
        archive_read_data_skip(handle);
    }
    if (zip != nullptr)
        *zip = (archive_format(handle) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP;
    // Entries before a damaged one still count: the extraction reports the
    // damage itself when it gets there.
    if (r != ARCHIVE_EOF)
        count_failure = FailureReason(handle);
    archive_read_free(handle);
    return count;
}

int Extractor::Count()
{
    return Survey(package_fd, nullptr, nullptr);
}

int Extractor::List()
{
    FdSource source;
    archive* handle = OpenForListing(package_fd, &source);
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
    stats = Stats();
    Notify_Adapter::GetInstance()->UpdateDialogText(StrTable::LoadStr(537).arg(StrTable::LoadStr(841)));

    // Every reader reads one open file: the one given, else the path opened
    // once here. A path that cannot be opened is left to the listing pass,
    // which says why as it always has.
    int fd = package_fd;
    int own_fd = -1;
    if (fd < 0) {
        own_fd = open(src_path.c_str(), O_RDONLY | O_CLOEXEC);
        fd = own_fd;
    }
    std::vector<EntryInfo> entries;
    bool zip = false;
    const int total = Survey(fd, &entries, &zip);
    if (total < 1) {
        LOG_ERROR(kComponent, "Failed to calculate total file numbers, ret: %d\n", total);
        // -1: the package could not be opened, and OpenForListing said why.
        if (total == 0 && count_failure.empty())
            LOG_ERROR(kComponent, "package '%s' holds no entries\n", src_path.c_str());
        else if (total == 0)
            LOG_ERROR(kComponent, "package '%s': archive_read_next_header failed: '%s'\n", src_path.c_str(),
                      count_failure.c_str());
        if (own_fd >= 0)
            close(own_fd);
        return -1;
    }

    LinkPlan plan;
    if (zip && fd >= 0 && !link_source.empty())
        PrepareLinking(fd, &plan);
    int threads = 1;
    if (zip && fd >= 0 && count_failure.empty()) {
        const long files = std::count_if(entries.begin(), entries.end(), IsPlainFile);
        threads = static_cast<int>(std::min<long>({workers > 0 ? workers : CoreCount(), kMaxWorkers, files}));
        if (threads > 1 && !WritableInPhases(entries)) {
            LOG_DEBUG(kComponent, "package '%s' repeats a name or leads through a file, written in order\n",
                      src_path.c_str());
            threads = 1;
        }
    }
    stats.threads = std::max(threads, 1);
    const int result = stats.threads > 1 ? ExtractParallel(fd, entries, &plan, stats.threads)
                                         : ExtractSequential(fd, total, &plan);
    LOG_DEBUG(kComponent, "%d files linked from '%s', %d written, %d thread(s)\n", stats.linked,
              plan.enabled ? link_source.c_str() : "", stats.written, stats.threads);
    if (own_fd >= 0)
        close(own_fd);
    return result;
}

// Linking needs the CRC-32 of every entry (from the zip's central
// directory), the folder of the installation it replaces, and the reading of
// that installation's files done (InstalledScan). Without any of them every
// file is written.
void Extractor::PrepareLinking(int fd, LinkPlan* plan)
{
    plan->source_fd = open(link_source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (plan->source_fd < 0) {
        LOG_DEBUG(kComponent, "open(%s): %s, every file is written\n", link_source.c_str(), std::strerror(errno));
        return;
    }
    std::string error;
    if (!package_reader::ReadZipCrcs(fd, &plan->crcs, &error)) {
        LOG_DEBUG(kComponent, "package '%s': %s, every file is written\n", src_path.c_str(), error.c_str());
        return;
    }
    if (scan != nullptr)
        scan->Wait();
    plan->umask = CurrentUmask();
    plan->uid = geteuid();
    plan->enabled = true;
    LOG_DEBUG(kComponent, "unchanged files are linked from '%s'\n", link_source.c_str());
}

// Hard-links the entry at `path` (already re-rooted) from the installation
// it replaces, when the file there is a regular file of the entry's size,
// permission bits (as the disk writer would set them) and CRC-32, owned by
// this user. The link gets the entry's modification time; since it shares
// its inode with the old installation, the old file's time changes too,
// never its contents or mode. False: the entry is to be written.
bool Extractor::TryLink(const EntryInfo& info, const char* path, LinkPlan* plan, WriteState& state)
{
    if (plan == nullptr || !plan->enabled || !plan->possible.load(std::memory_order_relaxed) || !IsPlainFile(info) ||
        info.size < 0)
        return false;
    const std::string key = package_reader::NormalName(info.name);
    const auto known = plan->crcs.find(key);
    if (key.empty() || known == plan->crcs.end() || known->second.ambiguous ||
        known->second.size != static_cast<uint64_t>(info.size))
        return false;
    const int fd = OpenBeneath(plan->source_fd, key.c_str());
    if (fd < 0)
        return false;
    struct FdCloser {
        int fd;
        ~FdCloser() { close(fd); }
    } closer{fd};
    struct stat st;
    const mode_t wanted = info.perm & 0777 & ~plan->umask;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != info.size || (st.st_mode & 07777) != wanted ||
        st.st_uid != plan->uid)
        return false;
    uint32_t crc = 0;
    if ((scan == nullptr || !scan->Find(key, st, &crc)) && !Crc32OfDescriptor(fd, &crc))
        return false;
    if (crc != known->second.crc)
        return false;
    const int linked = link_file != nullptr ? link_file(fd, path) : LinkThroughProc(fd, path);
    if (linked != 0) {
        const int error = errno;
        LOG_DEBUG(kComponent, "cannot link '%s' from '%s' (%s), extracting it\n", path, link_source.c_str(),
                  std::strerror(error));
        if (LinksImpossible(error) && plan->possible.exchange(false))
            LOG_DEBUG(kComponent, "no hard links from '%s' to '%s', every file is written\n", link_source.c_str(),
                      dest_path.c_str());
        return false;
    }
    if (info.mtime_set && (st.st_mtim.tv_sec != info.mtime || st.st_mtim.tv_nsec != info.mtime_nsec)) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = static_cast<time_t>(info.mtime);
        times[1].tv_nsec = info.mtime_nsec;
        if (futimens(fd, times) != 0) {
            LOG_DEBUG(kComponent, "futimens(%s): %s, extracting it\n", path, std::strerror(errno));
            if (unlink(path) != 0)
                LOG_ERROR(kComponent, "unlink(%s): %s\n", path, std::strerror(errno));
            return false;
        }
    }
    state.linked_paths.insert(path);
    return true;
}

// Writes one entry (or links it), with the checks of PrepareEntry: 0, or
// -1 with the reason logged.
int Extractor::WriteEntry(archive* reader, archive* writer, archive_entry* entry, const EntryInfo& info,
                          WriteState& state, LinkPlan* plan)
{
    if (PrepareEntry(entry, state) != 0)
        return -1;
    const char* path = archive_entry_pathname(entry);
    if (TryLink(info, path, plan, state)) {
        ++state.linked;
        return 0;
    }
    // A path linked earlier in this extraction (a name the package lists
    // twice) is unlinked before anything is written there, so the old
    // installation's file is never opened for writing. The disk writer
    // unlinks too (ARCHIVE_EXTRACT_UNLINK); this does not depend on it.
    if (state.linked_paths.erase(path) > 0 && unlink(path) != 0 && errno != ENOENT) {
        LOG_ERROR(kComponent, "unlink(%s): %s\n", path, std::strerror(errno));
        return -1;
    }
    if (archive_read_extract2(reader, entry, writer) != ARCHIVE_OK) {
        LOG_ERROR(kComponent, "archive_read_extract2 failed: '%s'\n", FailureReason(writer, reader).c_str());
        return -1;
    }
    if (archive_write_finish_entry(writer) != ARCHIVE_OK) {
        LOG_ERROR(kComponent, "archive_write_finish_entry failed: '%s'\n", FailureReason(writer).c_str());
        return -1;
    }
    if (IsPlainFile(info))
        ++state.written;
    return 0;
}

// Every entry in the package's order on this thread, one progress report
// per entry.
int Extractor::ExtractSequential(int fd, int total, LinkPlan* plan)
{
    archive* writer = archive_write_disk_new();
    if (writer == nullptr) {
        LOG_ERROR(kComponent, "Allocate extractor failed\n");
        return -1;
    }
    archive_write_disk_set_options(writer, kWriteOptions);
    FdSource source;
    archive* reader = OpenForExtraction(fd, &source);
    if (reader == nullptr) {
        archive_write_free(writer);
        return -1;
    }
    WriteState state;
    int result = -1;
    for (int current = 1;; ++current) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(reader, &entry);
        if (r == ARCHIVE_EOF) {
            result = 0;
            break;
        }
        if (r != ARCHIVE_OK) {
            LOG_ERROR(kComponent, "archive_read_next_header failed: '%s'\n", FailureReason(reader).c_str());
            break;
        }
        if (WriteEntry(reader, writer, entry, Describe(entry), state, plan) != 0)
            break;
        Notify_Adapter::GetInstance()->UpdateProgress(total, current);
    }
    stats.linked = state.linked;
    stats.written = state.written;
    archive_read_free(reader);
    archive_write_free(writer);
    return result;
}

namespace {

// One reader and disk writer of the package, with the state of its thread.
struct Lane {
    FdSource source;
    archive* reader = nullptr;
    archive* writer = nullptr;
    std::unique_ptr<Extractor::WriteState> state;
    ~Lane()
    {
        if (reader != nullptr)
            archive_read_free(reader);
        if (writer != nullptr)
            archive_write_free(writer);
    }
};

// The entries' completion count, shared by the writing threads and read by
// the thread that reports progress.
struct Progress {
    std::mutex mutex;
    std::condition_variable changed;
    int done = 0;
    int running = 0;
    std::atomic<bool> failed{false};
};

}  // namespace

// The zip's entries in three phases: folders on this thread; regular files
// shared out among `threads` threads by size, each reading the package with
// its own reader; then links and anything else on this thread, in the
// package's order. This thread reports the progress of all of them.
int Extractor::ExtractParallel(int fd, const std::vector<EntryInfo>& entries, LinkPlan* plan, int threads)
{
    const int total = static_cast<int>(entries.size());
    // Which lane writes each entry: 0 the folders, 1..threads the files
    // (the least loaded one takes the next), threads + 1 the rest.
    std::vector<int> lane_of(entries.size());
    std::vector<int64_t> load(threads, 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        const int phase = PhaseOf(entries[i]);
        if (phase == 1) {
            const int least = static_cast<int>(std::min_element(load.begin(), load.end()) - load.begin());
            load[least] += std::max<int64_t>(entries[i].size, 0) + kFileWeight;
            lane_of[i] = 1 + least;
        } else {
            lane_of[i] = phase == 0 ? 0 : threads + 1;
        }
    }
    // Every reader and writer is made before any file is written: making a
    // disk writer changes the process's umask for a moment.
    std::vector<Lane> lanes(threads + 2);
    for (Lane& lane : lanes) {
        lane.writer = archive_write_disk_new();
        if (lane.writer == nullptr) {
            LOG_ERROR(kComponent, "Allocate extractor failed\n");
            return -1;
        }
        archive_write_disk_set_options(lane.writer, kWriteOptions);
        lane.reader = OpenForExtraction(fd, &lane.source);
        if (lane.reader == nullptr)
            return -1;
        lane.state.reset(new WriteState);
    }
    Progress progress;
    // Writes the entries of lane `n`; false on the first failure, or when
    // another lane failed.
    const auto run_lane = [&](int n, const std::function<void()>& written) {
        Lane& lane = lanes[n];
        for (size_t i = 0; i < entries.size(); ++i) {
            if (progress.failed.load(std::memory_order_relaxed))
                return false;
            archive_entry* entry = nullptr;
            if (archive_read_next_header(lane.reader, &entry) != ARCHIVE_OK) {
                LOG_ERROR(kComponent, "archive_read_next_header failed: '%s'\n", FailureReason(lane.reader).c_str());
                return false;
            }
            if (lane_of[i] != n)
                continue;
            const EntryInfo info = Describe(entry);
            if (info.name != entries[i].name) {
                LOG_ERROR(kComponent, "package '%s' changed while it was read: entry %zu is '%s', was '%s'\n",
                          src_path.c_str(), i + 1, info.name.c_str(), entries[i].name.c_str());
                return false;
            }
            if (WriteEntry(lane.reader, lane.writer, entry, info, *lane.state, plan) != 0)
                return false;
            written();
        }
        return true;
    };
    int reported = 0;
    const auto report_on_this_thread = [&] { Notify_Adapter::GetInstance()->UpdateProgress(total, ++reported); };

    bool ok = run_lane(0, report_on_this_thread);
    if (ok) {
        progress.running = threads;
        std::vector<std::thread> pool;
        for (int n = 1; n <= threads; ++n) {
            try {
                pool.emplace_back([&, n] {
                const bool done = run_lane(n, [&] {
                    std::lock_guard<std::mutex> lock(progress.mutex);
                    ++progress.done;
                    progress.changed.notify_one();
                });
                std::lock_guard<std::mutex> lock(progress.mutex);
                if (!done)
                    progress.failed = true;
                --progress.running;
                progress.changed.notify_one();
                });
            } catch (const std::system_error& e) {
                LOG_ERROR(kComponent, "cannot start a thread to write the package: %s\n", e.what());
                std::lock_guard<std::mutex> lock(progress.mutex);
                progress.failed = true;
                progress.running -= threads - n + 1;
                break;
            }
        }
        // The threads' counts reach the dialog from here, one report per
        // entry as from one thread (the relay drops those that do not move
        // the bar).
        const int base = reported;
        std::unique_lock<std::mutex> lock(progress.mutex);
        for (;;) {
            progress.changed.wait(lock, [&] { return progress.running == 0 || base + progress.done > reported; });
            const int target = base + progress.done;
            const bool finished = progress.running == 0;
            lock.unlock();
            while (reported < target)
                report_on_this_thread();
            lock.lock();
            if (finished && base + progress.done == reported)
                break;
        }
        lock.unlock();
        for (std::thread& thread : pool)
            thread.join();
        ok = !progress.failed;
    }
    if (ok)
        ok = run_lane(threads + 1, report_on_this_thread);
    for (const Lane& lane : lanes) {
        stats.linked += lane.state->linked;
        stats.written += lane.state->written;
    }
    return ok ? 0 : -1;
}

// Checks one entry and re-roots its path name (and a hard link's target)
// below dest_path. Refused: kinds of file a bundle never holds, paths too
// long to name without changing the working folder, and paths that would
// pass through a symbolic link already on disk below dest_path, since the
// disk writer would follow it out of the folder. Set-user-ID and
// set-group-ID bits are dropped.
int Extractor::PrepareEntry(archive_entry* entry, WriteState& state)
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
    if (ReachesThroughLink(ustring(name), false, state) ||
        (link != nullptr && ReachesThroughLink(ustring(link), true, state))) {
        LOG_ERROR(kComponent, "refusing entry '%s': its path leads through a symbolic link\n", name);
        return -1;
    }
    archive_entry_set_perm(entry, archive_entry_perm(entry) & ~static_cast<mode_t>(S_ISUID | S_ISGID));
    ForgetSafeFolder(ustring(name), state);
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
void Extractor::ForgetSafeFolder(const ustring& relative, WriteState& state)
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
            state.safe_folders.clear();
            return;
        }
        if (!part.empty() && part != ".")
            key += "/" + part;
        start = end + 1;
    }
    state.safe_folders.erase(key);
}

bool Extractor::ReachesThroughLink(const ustring& relative, bool include_last, WriteState& state)
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
            if (state.safe_folders.count(key) == 0) {
                struct stat st;
                if (lstat(path.c_str(), &st) != 0)
                    return !(errno == ENOENT || errno == ENOTDIR);
                if (S_ISLNK(st.st_mode))
                    return true;
                if (!S_ISDIR(st.st_mode))
                    return false;
                state.safe_folders.insert(std::move(key));
            }
        }
        start = end + 1;
    }
    return false;
}
