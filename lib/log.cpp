#include "log.h"

#include "config.h"

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

bool isStandardStream(FILE* fp)
{
    return fp == stdin || fp == stdout || fp == stderr;
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
    FILE* fp = fopen(Logger::log_path.c_str(), "a");
    if (fp == nullptr) {
        int err = errno;
        fprintf(stderr, "fopen(%s): %s (%d)\n", Logger::log_path.c_str(), strerror(err), err);
        return -1;
    }
    Logger::log_fp = fp;
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
    if (config.type == LOG_TYPE_FILE && log_fp != nullptr && !isStandardStream(log_fp)) {
        fclose(log_fp);
        log_fp = nullptr;
    }

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
    if (config.type == LOG_TYPE_FILE) {
        if (log_fp != nullptr && !isStandardStream(log_fp))
            fclose(log_fp);
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

// Formats one message and keeps it on one line: every control character
// other than the closing line end is written as an escape ("\\n", "\\t",
// "\\x1b"), so text from outside (an archive's entry names, a file's
// contents) can never forge a line of its own.
std::string OneLine(const char* format, va_list args)
{
    char stack[1024];
    va_list copy;
    va_copy(copy, args);
    const int needed = vsnprintf(stack, sizeof stack, format, copy);
    va_end(copy);
    if (needed < 0)
        return std::string();
    std::string text;
    if (static_cast<size_t>(needed) < sizeof stack) {
        text.assign(stack, static_cast<size_t>(needed));
    } else {
        text.resize(static_cast<size_t>(needed) + 1);
        vsnprintf(&text[0], text.size(), format, args);
        text.resize(static_cast<size_t>(needed));
    }
    size_t body = text.size();
    if (body > 0 && text[body - 1] == '\n')
        --body;
    size_t first = 0;
    while (first < body && static_cast<unsigned char>(text[first]) >= 0x20 && text[first] != 0x7f)
        ++first;
    if (first == body)
        return text;
    std::string escaped(text, 0, first);
    for (size_t i = first; i < body; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != 0x7f) {
            escaped += static_cast<char>(c);
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\t') {
            escaped += "\\t";
        } else {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            escaped += hex;
        }
    }
    escaped.append(text, body, std::string::npos);
    return escaped;
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
    } else if (log_fp != nullptr) {
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

int Logger::PrintToFilePointerV(const char* format, va_list args)
{
    if (log_fp == nullptr)
        return 0;
    // "%m" in the message refers to the caller's errno, not to one left over
    // by the time conversion.
    int saved_errno = errno;
    size_t stamp_length = 0;
    const char* stamp = currentTimestamp(&stamp_length);
    int stamp_bytes = static_cast<int>(fwrite(stamp, 1, stamp_length, log_fp));
    if (stamp_bytes != static_cast<int>(stamp_length))
        stamp_bytes = -1;
    errno = saved_errno;
    const std::string text = OneLine(format, args);
    int text_bytes = static_cast<int>(fwrite(text.data(), 1, text.size(), log_fp));
    if (text_bytes != static_cast<int>(text.size()))
        text_bytes = -1;
    fflush(log_fp);
    if (stamp_bytes < 0 || text_bytes < 0)
        return -1;
    return stamp_bytes + text_bytes;
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

int Logger::Rotate()
{
    const int count = config.rotate_count;
    for (int i = count - 2; i >= 0; --i)
        rename(rotatedName(log_path, i).c_str(), rotatedName(log_path, i + 1).c_str());
    if (count >= 1)
        remove(rotatedName(log_path, count - 1).c_str());

    if (log_fp != nullptr && !isStandardStream(log_fp))
        fclose(log_fp);
    log_fp = nullptr;
    if (rename(log_path.c_str(), rotatedName(log_path, 0).c_str()) != 0)
        return -1;
    FILE* fp = fopen(log_path.c_str(), "a");
    if (fp == nullptr)
        return -1;
    log_fp = fp;
    if (log_rotated_count_shared != nullptr)
        ++*log_rotated_count_shared;
    ++log_rotated_count_private;
    return 0;
}

void Logger::ReloadLogFile()
{
    if (config.type != LOG_TYPE_FILE || config.safety_scope < SAFETY_PROCESS)
        return;
    if (log_fp != nullptr && !isStandardStream(log_fp))
        fclose(log_fp);
    log_fp = fopen(log_path.c_str(), "a");
    if (log_fp == nullptr)
        return;
    if (log_size != nullptr)
        *log_size = GetFileSize(log_path);
    if (log_rotated_count_shared != nullptr)
        log_rotated_count_private = *log_rotated_count_shared;
}
