// Process-wide logger: four destinations, per-component levels read from a
// key=value level file, size-based rotation of the log file.
#pragma once

#include <pthread.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>

class Logger {
public:
    enum Type {
        LOG_TYPE_SYSLOG = 0,
        LOG_TYPE_STDOUT = 1,
        LOG_TYPE_STDERR = 2,
        LOG_TYPE_FILE = 3,
    };

    enum Level {
        LOG_LEVEL_ERROR = 3,
        LOG_LEVEL_WARNING = 4,
        LOG_LEVEL_NOTE = 5,
        LOG_LEVEL_INFO = 6,
        LOG_LEVEL_DEBUG = 7,
    };

    enum SafetyScope {
        SAFETY_NONE = 0,
        SAFETY_THREAD = 1,
        SAFETY_PROCESS = 2,
    };

    enum ConfigFlag {
        FLAG_NEWLINE = 2,
        FLAG_ERRNO = 4,
    };

    struct InitConfig {
        Type type = LOG_TYPE_STDOUT;
        std::string log_file;
        std::string conf_file;
        int32_t rotate_count = 50;
        SafetyScope safety_scope = SAFETY_THREAD;
    };

    // Size past which the log file is rotated (5 MiB).
    static constexpr int64_t kRotateSize = 5 * 1024 * 1024;

    static int Initialize(InitConfig& config);
    static int Initialize(Type type, const std::string& log_file, const std::string& conf_file,
                          int rotate_count, SafetyScope safety_scope);

    static bool IsNeedToLog(Level level, const std::string& component);
    // getpid() of this process, asked once (and again after a fork): it is a
    // system call, and every written line carries it.
    static int ProcessId();
    static int GetCompLevel(const std::string& component);

    static void LogMsg(Level level, const std::string& component, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    static void LogMsg2(Level level, const std::string& component, const char* format, va_list args)
        __attribute__((format(printf, 3, 0)));
    static void LogMsg3(Level level, const std::string& component, std::stringstream& stream,
                        ConfigFlag flags);

    static int PrintToFilePointer(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static int PrintToFilePointerV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
    static int FlushFileStream(long ignored);

    static int64_t GetFileSize(const std::string& path);
    static int RotateIfFileBig(int bytes);
    static int Rotate();
    static void ReloadLogFile();
    static void Destroy();

    static void InitializeLock();
    static void DestroyLock();
    static void Lock();
    static void Unlock();
    static void InitializeSharedData();
    static void DestroySharedData();
    static void InitializeFileLock();
    static void DestroyFileLock();

    // Process-wide state (see log.cpp for the initial values).
    static InitConfig config;
    static std::map<std::string, int32_t> log_level;
    // Stream of the standard-output and standard-error destinations; null
    // for the system log and the file.
    static FILE* log_fp;
    // The log file, opened for appending, written without stdio buffering:
    // each line goes out in one write(), so a line is either all there or
    // not at all. -1 while none is open (the next line opens it again).
    static int log_fd;
    static int64_t* log_size;  // 64 bits: a log file over 2 GiB must still rotate
    static std::string log_path;
    static pthread_mutex_t* log_lock;
    static uint64_t* log_rotated_count_shared;
    static uint64_t log_rotated_count_private;
    static bool log_initialized;
    static int log_flock;
};

// C-style entry: makes the component a string and calls Logger::LogMsg2.
void LogMSG_c(int level, const char* component, const char* format, va_list args);

// The build defines LOG_SOURCE_NAME for every source file (cmake/LogSourceName.cmake).
#ifndef LOG_SOURCE_NAME
#define LOG_SOURCE_NAME "unknown"
#endif

// Thread number of the line prefix: pthread_self() as unsigned 64-bit, modulo 100000.
#define LOGGER_THREAD_NUMBER() (static_cast<int>(static_cast<uint64_t>(pthread_self()) % 100000u))

// The one logging macro. The arguments are evaluated only when the message is
// written. `format` must be a string literal and carries its own newline.
#define LOGGER_LOG(level, word, component, format, ...)                                           \
    do {                                                                                          \
        if (Logger::IsNeedToLog((level), std::string(component))) {                               \
            Logger::LogMsg((level), std::string(component),                                       \
                           "(%5d:%5d) [" word "] " LOG_SOURCE_NAME "(%d): " format,               \
                           Logger::ProcessId(), LOGGER_THREAD_NUMBER(), __LINE__,                \
                           ##__VA_ARGS__);                                                        \
        }                                                                                         \
    } while (0)

#define LOG_ERROR(component, format, ...) \
    LOGGER_LOG(Logger::LOG_LEVEL_ERROR, "ERROR", component, format, ##__VA_ARGS__)
#define LOG_WARNING(component, format, ...) \
    LOGGER_LOG(Logger::LOG_LEVEL_WARNING, "WARNING", component, format, ##__VA_ARGS__)
#define LOG_NOTE(component, format, ...) \
    LOGGER_LOG(Logger::LOG_LEVEL_NOTE, "NOTE", component, format, ##__VA_ARGS__)
#define LOG_INFO(component, format, ...) \
    LOGGER_LOG(Logger::LOG_LEVEL_INFO, "INFO", component, format, ##__VA_ARGS__)
#define LOG_DEBUG(component, format, ...) \
    LOGGER_LOG(Logger::LOG_LEVEL_DEBUG, "DEBUG", component, format, ##__VA_ARGS__)
