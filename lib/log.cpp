#include "log.h"

#include "config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

Logger::InitConfig Logger::config;
std::map<std::string, int32_t> Logger::log_level;
FILE* Logger::log_fp = stderr;
int Logger::log_fd = -1;
int64_t* Logger::log_size = nullptr;
std::string Logger::log_path;
pthread_mutex_t* Logger::log_lock = nullptr;
uint64_t* Logger::log_rotated_count_shared = nullptr;
uint64_t Logger::log_rotated_count_private = 0;
bool Logger::log_initialized = true;
int Logger::log_flock = -1;

namespace {

// Level of a component the level file does not name.
constexpr int kDefaultLevel = Logger::LOG_LEVEL_WARNING;

std::string rotatedName(const std::string& path, int number)
{
    return path + "_" + std::to_string(number);
}

// Whether the log file's last write or open failed. The logger has no log
// of its own to report that in: standard error gets one line when the
// trouble starts, not one per lost message, and the next line that gets
// through clears it. It never stops the logger from trying.
bool file_failing = false;

void reportFileFailure(const char* call, int err)
{
    if (file_failing)
        return;
    file_failing = true;
    fprintf(stderr, "%s(%s): %s (%d)\n", call, Logger::log_path.c_str(), strerror(err), err);
}

// The log file opened for appending: every write lands at its end, also
// when another process appends to the same file.
int openLogFile()
{
    return open(Logger::log_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

void closeLogFile()
{
    if (Logger::log_fd >= 0 && close(Logger::log_fd) != 0)
        reportFileFailure("close", errno);
    Logger::log_fd = -1;
}

// Opens the log file again after a rotation or a reload could not; the
// size is then what the file holds.
bool reopenLogFile()
{
    const int fd = openLogFile();
    if (fd < 0) {
        reportFileFailure("open", errno);
        return false;
    }
    Logger::log_fd = fd;
    struct stat info;
    if (Logger::log_size != nullptr)
        *Logger::log_size = fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
    return true;
}

// Writes one whole line to the log file with a single write(), so that
// threads and processes appending to the same file never interleave within
// a line. A write the file system cuts short (a full disk takes what fits)
// is taken back off the file's end: a lost line is lost whole and the next
// one starts on a line of its own. The byte count, or -1.
int writeLogLine(const std::string& line)
{
    if (Logger::log_fd < 0 && !reopenLogFile())
        return -1;
    const ssize_t written = write(Logger::log_fd, line.data(), line.size());
    if (written == static_cast<ssize_t>(line.size())) {
        file_failing = false;
        return static_cast<int>(written);
    }
    if (written < 0) {
        reportFileFailure("write", errno);
        return -1;
    }
    // O_APPEND left the offset at the end of the piece that was written.
    const off_t end = lseek(Logger::log_fd, 0, SEEK_CUR);
    if (end < written)
        reportFileFailure("lseek", errno);
    else if (ftruncate(Logger::log_fd, end - written) != 0)
        reportFileFailure("ftruncate", errno);
    else
        reportFileFailure("write", ENOSPC);  // a short write of a regular file: no room left
    return -1;
}

// Last step of Initialize: point the stream at the configured destination.
int openDestination()
{
    if (Logger::config.type != Logger::LOG_TYPE_FILE) {
        if (Logger::config.type == Logger::LOG_TYPE_SYSLOG)
            Logger::log_fp = nullptr;
        else if (Logger::config.type == Logger::LOG_TYPE_STDOUT)
            Logger::log_fp = stdout;
        else
            Logger::log_fp = stderr;
        Logger::log_path.clear();
        *Logger::log_size = -1;
        *Logger::log_rotated_count_shared = 0;
        Logger::log_rotated_count_private = 0;
        Logger::log_initialized = true;
        return 0;
    }
    Logger::log_fp = nullptr;
    if (Logger::log_path.empty())
        return -1;
    const int fd = openLogFile();
    if (fd < 0) {
        int err = errno;
        fprintf(stderr, "open(%s): %s (%d)\n", Logger::log_path.c_str(), strerror(err), err);
        return -1;
    }
    Logger::log_fd = fd;
    file_failing = false;
    *Logger::log_rotated_count_shared = 0;
    Logger::log_rotated_count_private = 0;
    *Logger::log_size = Logger::GetFileSize(Logger::log_path);
    Logger::log_initialized = true;
    return 0;
}

// Process id of the line prefix; 0 means not asked yet (or forked since).
std::atomic<int> cached_pid{0};

void forgetProcessId()
{
    cached_pid.store(0, std::memory_order_relaxed);
}

// Local time "%Y-%m-%dT%H:%M:%S " (with the blank) of now. Each thread keeps
// the text of the last second it formatted, so the time conversion runs once
// a second rather than once a line.
const char* currentTimestamp(size_t* length)
{
    thread_local time_t formatted_second = static_cast<time_t>(-1);
    thread_local char stamp[512];
    thread_local size_t stamp_length = 0;
    time_t now = time(nullptr);
    if (now != formatted_second) {
        struct tm local;
        stamp_length = 0;
        if (localtime_r(&now, &local) != nullptr)
            stamp_length = strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S ", &local);
        stamp[stamp_length] = '\0';
        formatted_second = now;
    }
    *length = stamp_length;
    return stamp;
}

}  // namespace

// ---------------------------------------------------------------------------
// Set-up and shut-down

int Logger::Initialize(Type type, const std::string& log_file, const std::string& conf_file,
                       int rotate_count, SafetyScope safety_scope)
{
    InitConfig init;
    init.type = type;
    init.log_file = log_file;
    init.conf_file = conf_file;
    init.rotate_count = rotate_count;
    init.safety_scope = safety_scope;
    return Initialize(init);
}

int Logger::Initialize(InitConfig& init)
{
    DestroySharedData();
    DestroyLock();
    log_initialized = false;
    // A log file opened by an earlier Initialize would otherwise stay open.
    closeLogFile();

    config = init;
    log_path = config.log_file;
    if (config.type != LOG_TYPE_FILE)
        config.safety_scope = SAFETY_NONE;
    else
        InitializeLock();

    InitializeSharedData();
    if (log_size == nullptr || log_rotated_count_shared == nullptr)
        return -1;

    log_level["default_component"] = kDefaultLevel;
    if (!config.conf_file.empty()) {
        Config levels;
        levels.read(config.conf_file);
        for (const auto& entry : levels)
            log_level[entry.first] = levels.get_int(entry.first);
    }
    return openDestination();
}

void Logger::Destroy()
{
    log_initialized = false;
    closeLogFile();
    if (config.type == LOG_TYPE_FILE) {
        log_fp = stdout;
        config.type = LOG_TYPE_STDERR;
        log_path.clear();
    }
    DestroySharedData();
    DestroyLock();
}

void Logger::InitializeLock()
{
    if (config.safety_scope < SAFETY_THREAD || log_lock != nullptr)
        return;
    pthread_mutex_t* lock = new pthread_mutex_t;
    int rc = pthread_mutex_init(lock, nullptr);
    if (rc != 0) {
        fprintf(stderr, "pthread_mutex_init: %s (%d)\n", strerror(rc), rc);
        delete lock;
        return;
    }
    log_lock = lock;
}

void Logger::DestroyLock()
{
    if (log_lock == nullptr)
        return;
    pthread_mutex_destroy(log_lock);
    delete log_lock;
    log_lock = nullptr;
}

void Logger::Lock()
{
    if (log_lock != nullptr)
        pthread_mutex_lock(log_lock);
}

void Logger::Unlock()
{
    if (log_lock != nullptr)
        pthread_mutex_unlock(log_lock);
}

void Logger::InitializeSharedData()
{
    if (log_size != nullptr && log_rotated_count_shared != nullptr)
        return;
    DestroySharedData();
    log_size = new (std::nothrow) int64_t(0);
    log_rotated_count_shared = new (std::nothrow) uint64_t(0);
    if (log_size == nullptr || log_rotated_count_shared == nullptr)
        DestroySharedData();
}

void Logger::DestroySharedData()
{
    delete log_size;
    log_size = nullptr;
    delete log_rotated_count_shared;
    log_rotated_count_shared = nullptr;
}

// The file lock is never taken: the rotation counter covers several writers.
void Logger::InitializeFileLock() {}
void Logger::DestroyFileLock() {}

// ---------------------------------------------------------------------------
// Levels

int Logger::GetCompLevel(const std::string& component)
{
    auto it = log_level.find(component);
    return it == log_level.end() ? kDefaultLevel : it->second;
}

int Logger::ProcessId()
{
    int pid = cached_pid.load(std::memory_order_relaxed);
    if (pid != 0)
        return pid;
    static const int atfork_rc = pthread_atfork(nullptr, nullptr, forgetProcessId);
    if (atfork_rc != 0)
        return static_cast<int>(getpid());  // no fork notice: never cache
    pid = static_cast<int>(getpid());
    cached_pid.store(pid, std::memory_order_relaxed);
    return pid;
}

bool Logger::IsNeedToLog(Level level, const std::string& component)
{
    if (!log_initialized)
        return false;
    return static_cast<int>(level) <= GetCompLevel(component);
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// Formats one message onto the end of `line` and keeps it on one line:
// every control character other than the closing line end is written as an
// escape ("\\n", "\\r", "\\t", "\\x1b"), so text from outside (an archive's
// entry names, a file's contents) can never forge or overwrite a line of
// its own.
void AppendOneLine(std::string& line, const char* format, va_list args)
{
    char stack[1024];
    va_list copy;
    va_copy(copy, args);
    const int needed = vsnprintf(stack, sizeof stack, format, copy);
    va_end(copy);
    if (needed < 0)
        return;
    std::string heap;
    const char* text = stack;
    if (static_cast<size_t>(needed) >= sizeof stack) {
        heap.resize(static_cast<size_t>(needed) + 1);
        vsnprintf(&heap[0], heap.size(), format, args);
        text = heap.data();
    }
    size_t body = static_cast<size_t>(needed);
    if (body > 0 && text[body - 1] == '\n')
        --body;
    line.reserve(line.size() + static_cast<size_t>(needed));
    for (size_t i = 0; i < body; ++i) {
        size_t plain = i;  // text without control characters goes in one piece
        while (plain < body && static_cast<unsigned char>(text[plain]) >= 0x20 && text[plain] != 0x7f)
            ++plain;
        line.append(text + i, plain - i);
        if (plain == body)
            break;
        i = plain;
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\t') {
            line += "\\t";
        } else {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            line += hex;
        }
    }
    line.append(text + body, static_cast<size_t>(needed) - body);
}

}  // namespace

void Logger::LogMsg(Level level, const std::string& component, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogMsg2(level, component, format, args);
    va_end(args);
}

void Logger::LogMsg2(Level level, const std::string& component, const char* format, va_list args)
{
    if (!log_initialized)
        return;
    if (static_cast<int>(level) > GetCompLevel(component))
        return;

    Lock();
    // The stream is tested under the lock: a rotation on another thread
    // replaces it.
    if (config.type == LOG_TYPE_FILE && config.safety_scope >= SAFETY_PROCESS &&
        log_rotated_count_shared != nullptr &&
        log_rotated_count_private != *log_rotated_count_shared)
        ReloadLogFile();

    if (config.type == LOG_TYPE_SYSLOG) {
        vsyslog(LOG_ERR, format, args);
    } else {
        int written = PrintToFilePointerV(format, args);
        if (config.type == LOG_TYPE_FILE && written >= 0 && log_size != nullptr) {
            *log_size += written;
            if (*log_size > kRotateSize) {
                Rotate();
                *log_size = 0;
            }
        }
    }
    Unlock();
}

void Logger::LogMsg3(Level level, const std::string& component, std::stringstream& stream,
                     ConfigFlag flags)
{
    int saved_errno = errno;
    std::string format = "%s";
    if ((flags & FLAG_ERRNO) && saved_errno != 0) {
        stream << ", err=" << saved_errno << ":";
        format += "%m";
    }
    if (flags & FLAG_NEWLINE)
        format += "\n";
    std::string text = stream.str();
    errno = saved_errno;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    LogMsg(level, component, format.c_str(), text.c_str());
#pragma GCC diagnostic pop
}

void LogMSG_c(int level, const char* component, const char* format, va_list args)
{
    Logger::LogMsg2(static_cast<Logger::Level>(level), std::string(component ? component : ""),
                    format, args);
}

int Logger::PrintToFilePointer(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written = PrintToFilePointerV(format, args);
    va_end(args);
    return written;
}

// The whole line (time stamp, text, line end) is composed first and handed
// on in one piece.
int Logger::PrintToFilePointerV(const char* format, va_list args)
{
    const bool to_file = config.type == LOG_TYPE_FILE && !log_path.empty();
    if (!to_file && log_fp == nullptr)
        return 0;
    // "%m" in the message refers to the caller's errno, not to one left over
    // by the time conversion.
    int saved_errno = errno;
    size_t stamp_length = 0;
    const char* stamp = currentTimestamp(&stamp_length);
    errno = saved_errno;
    std::string line(stamp, stamp_length);
    AppendOneLine(line, format, args);
    if (to_file)
        return writeLogLine(line);
    const size_t written = fwrite(line.data(), 1, line.size(), log_fp);
    if (fflush(log_fp) != 0 || written != line.size())
        return -1;
    return static_cast<int>(written);
}

int Logger::FlushFileStream(long ignored)
{
    (void)ignored;
    // fflush(nullptr) would flush every stream of the process.
    if (log_fp == nullptr)
        return 0;
    return fflush(log_fp);
}

// ---------------------------------------------------------------------------
// Size and rotation

int64_t Logger::GetFileSize(const std::string& path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        int err = errno;
        PrintToFilePointer("stat(%s): %s (%d)\n", path.c_str(), strerror(err), err);
        return 0;
    }
    return static_cast<int64_t>(info.st_size);
}

int Logger::RotateIfFileBig(int bytes)
{
    if (bytes < 0 || config.type != LOG_TYPE_FILE || log_size == nullptr)
        return 0;
    *log_size += bytes;
    if (*log_size <= kRotateSize)
        return 0;
    int rc = Rotate();
    *log_size = 0;
    return rc;
}

// No failure here stops the logging: when the live file can't be renamed
// it stays in use (the next rotation is due after another kRotateSize
// bytes), and when the new file can't be created the next line tries again.
int Logger::Rotate()
{
    const int count = config.rotate_count;
    for (int i = count - 2; i >= 0; --i)
        rename(rotatedName(log_path, i).c_str(), rotatedName(log_path, i + 1).c_str());
    if (count >= 1)
        remove(rotatedName(log_path, count - 1).c_str());

    if (rename(log_path.c_str(), rotatedName(log_path, 0).c_str()) != 0) {
        reportFileFailure("rename", errno);
        return -1;
    }
    if (log_rotated_count_shared != nullptr)
        ++*log_rotated_count_shared;
    ++log_rotated_count_private;
    closeLogFile();
    const int fd = openLogFile();
    if (fd < 0) {
        reportFileFailure("open", errno);
        return -1;
    }
    log_fd = fd;
    return 0;
}

void Logger::ReloadLogFile()
{
    if (config.type != LOG_TYPE_FILE || config.safety_scope < SAFETY_PROCESS)
        return;
    closeLogFile();
    if (!reopenLogFile())
        return;  // tried again before the next line
    if (log_rotated_count_shared != nullptr)
        log_rotated_count_private = *log_rotated_count_shared;
}
