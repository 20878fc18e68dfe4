#include "log.h"
#include "temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

using testing::HasSubstr;
using testing::Not;

namespace {

constexpr int64_t kStampBytes = 20;  // "YYYY-MM-DDTHH:MM:SS "

class LoggerTest : public testing::Test {
protected:
    void SetUp() override { Logger::log_level.clear(); }
    void TearDown() override { Logger::Destroy(); }

    // File destination on log in the scratch folder, levels from `levels`.
    int initFile(const std::string& levels = "", int rotate_count = 50)
    {
        std::string conf = levels.empty() ? "" : dir.write("launcher.debug", levels);
        return Logger::Initialize(Logger::LOG_TYPE_FILE, log, conf, rotate_count,
                                  Logger::SAFETY_THREAD);
    }

    TempDir dir;
    std::string log = dir.file("launcher.log");
};

// "YYYY-MM-DDTHH:MM:SS " at the start of the line.
bool hasTimestamp(const std::string& line)
{
    const std::string shape = "dddd-dd-ddTdd:dd:dd ";
    if (line.size() < shape.size())
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        bool ok = shape[i] == 'd' ? isdigit(static_cast<unsigned char>(line[i])) != 0
                                  : line[i] == shape[i];
        if (!ok)
            return false;
    }
    return true;
}

class LoggerThreads : public LoggerTest {};

int evaluations = 0;
int counted(int value)
{
    ++evaluations;
    return value;
}

}  // namespace

TEST_F(LoggerTest, LinePrefixAndLevelWords)
{
    ASSERT_EQ(initFile("launcher_debug=7\n"), 0);
    int line = __LINE__ + 1;
    LOG_DEBUG("launcher_debug", "cache warmed %d\n", 5);
    LOG_INFO("launcher_debug", "i\n");
    LOG_NOTE("launcher_debug", "n\n");
    LOG_WARNING("launcher_debug", "w\n");
    LOG_ERROR("launcher_debug", "e\n");

    std::string text = readAll(log);
    char prefix[128];
    snprintf(prefix, sizeof prefix, "(%5d:%5d) [DEBUG] log_test(%d): cache warmed 5\n",
             static_cast<int>(getpid()), LOGGER_THREAD_NUMBER(), line);
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l + "\n");
    ASSERT_EQ(lines.size(), 5u);
    for (const std::string& l : lines)
        EXPECT_TRUE(hasTimestamp(l)) << l;
    EXPECT_EQ(lines[0].substr(kStampBytes), prefix);
    const char* words[] = {"[INFO] ", "[NOTE] ", "[WARNING] ", "[ERROR] "};
    for (int i = 0; i < 4; ++i)
        EXPECT_THAT(lines[i + 1], HasSubstr(words[i]));
    EXPECT_EQ(static_cast<int64_t>(text.size()), *Logger::log_size);
}

TEST_F(LoggerTest, ForkedChildStampsItsOwnProcessId)
{
    ASSERT_EQ(initFile(), 0);
    LOG_ERROR("launcher_debug", "parent\n");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        LOG_ERROR("launcher_debug", "child\n");
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    char expected[32];
    snprintf(expected, sizeof expected, "(%5d:", static_cast<int>(child));
    std::string text = readAll(log);
    size_t child_line = text.find("child\n");
    ASSERT_NE(child_line, std::string::npos);
    EXPECT_EQ(text.substr(text.rfind('\n', child_line - 1) + 1 + kStampBytes, 7), expected);
}

TEST_F(LoggerTest, LevelFileDecidesPerComponent)
{
    ASSERT_EQ(initFile("# levels\nlauncher_debug=7\nservice_debug=abc\ndefault_component=7\n"), 0);
    EXPECT_EQ(Logger::GetCompLevel("launcher_debug"), 7);
    EXPECT_EQ(Logger::GetCompLevel("service_debug"), 0);
    EXPECT_EQ(Logger::GetCompLevel("extractor_debug"), 4);
    EXPECT_EQ(Logger::GetCompLevel("default_component"), 7);

    LOG_DEBUG("launcher_debug", "launcher debug\n");
    LOG_ERROR("service_debug", "service error\n");
    LOG_ERROR("extractor_debug", "extractor error\n");
    LOG_WARNING("extractor_debug", "extractor warning\n");
    LOG_NOTE("extractor_debug", "extractor note\n");
    LOG_DEBUG("file_op_debug", "file debug\n");
    std::string text = readAll(log);
    EXPECT_THAT(text, HasSubstr("launcher debug"));
    EXPECT_THAT(text, HasSubstr("extractor error"));
    EXPECT_THAT(text, HasSubstr("extractor warning"));
    EXPECT_THAT(text, Not(HasSubstr("service error")));
    EXPECT_THAT(text, Not(HasSubstr("extractor note")));
    EXPECT_THAT(text, Not(HasSubstr("file debug")));

    // A broken or missing level file never fails the set-up.
    Logger::log_level.clear();
    EXPECT_EQ(initFile("launcher_debug=7\nbroken line\n"), 0);
    EXPECT_EQ(Logger::GetCompLevel("launcher_debug"), 4);
    EXPECT_EQ(Logger::Initialize(Logger::LOG_TYPE_FILE, log, dir.file("absent"), 50,
                                 Logger::SAFETY_THREAD),
              0);
    EXPECT_EQ(Logger::log_level.size(), 1u);
}

TEST_F(LoggerTest, SuppressedMessagesDoNotEvaluateArguments)
{
    ASSERT_EQ(initFile("service_debug=0\n"), 0);
    evaluations = 0;
    LOG_NOTE("launcher_debug", "%d\n", counted(1));
    LOG_ERROR("service_debug", "%d\n", counted(2));
    EXPECT_EQ(evaluations, 0);
    LOG_WARNING("launcher_debug", "%d\n", counted(3));
    EXPECT_EQ(evaluations, 1);

    Logger::Destroy();
    LOG_ERROR("launcher_debug", "%d\n", counted(4));
    EXPECT_EQ(evaluations, 1);
}

TEST_F(LoggerTest, MessageCrossingLimitEndsOldFile)
{
    ASSERT_EQ(initFile(), 0);
    // Exactly at the limit: no rotation yet.
    *Logger::log_size = Logger::kRotateSize - kStampBytes - 4;
    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "one\n");
    EXPECT_EQ(*Logger::log_size, Logger::kRotateSize);
    EXPECT_FALSE(std::filesystem::exists(log + "_0"));

    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "two\n");
    EXPECT_EQ(*Logger::log_size, 0);
    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "three\n");
    std::string old_text = readAll(log + "_0");
    std::string new_text = readAll(log);
    EXPECT_THAT(old_text, HasSubstr("one\n"));
    EXPECT_EQ(old_text.substr(old_text.size() - 4), "two\n");
    EXPECT_EQ(new_text.size(), static_cast<size_t>(kStampBytes + 6));
    EXPECT_EQ(new_text.substr(kStampBytes), "three\n");
}

TEST_F(LoggerTest, RotationKeepsCountMinusOneOldFiles)
{
    ASSERT_EQ(initFile(), 0);
    for (int i = 1; i <= 60; ++i) {
        *Logger::log_size = Logger::kRotateSize;
        Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "message %d\n", i);
    }
    for (int i = 0; i <= 48; ++i)
        EXPECT_TRUE(std::filesystem::exists(log + "_" + std::to_string(i))) << i;
    EXPECT_FALSE(std::filesystem::exists(log + "_49"));
    EXPECT_EQ(readAll(log + "_0").substr(kStampBytes), "message 60\n");
    EXPECT_EQ(readAll(log + "_48").substr(kStampBytes), "message 12\n");
    EXPECT_EQ(readAll(log), "");

    // A count of 1 keeps a single old file.
    ASSERT_EQ(initFile("", 1), 0);
    for (int i = 0; i < 3; ++i) {
        *Logger::log_size = Logger::kRotateSize;
        Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "single %d\n", i);
    }
    EXPECT_EQ(readAll(log + "_0").substr(kStampBytes), "single 2\n");
    EXPECT_EQ(readAll(log + "_1").substr(kStampBytes), "message 59\n");  // untouched
}

TEST_F(LoggerTest, FileOver2GiBStillRotates)
{
    const int64_t big = 3LL * 1024 * 1024 * 1024;
    int fd = open(log.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, big), 0) << strerror(errno);
    close(fd);

    ASSERT_EQ(initFile(), 0);
    EXPECT_EQ(*Logger::log_size, big);
    EXPECT_EQ(Logger::GetFileSize(log), big);
    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "after\n");
    struct stat old_file;
    ASSERT_EQ(stat((log + "_0").c_str(), &old_file), 0);
    EXPECT_EQ(old_file.st_size, big + kStampBytes + 6);
    EXPECT_EQ(readAll(log), "");
}

TEST_F(LoggerTest, FailuresDropMessagesUntilNextInitialize)
{
    std::string unopenable = dir.file("missing/launcher.log");
    EXPECT_EQ(Logger::Initialize(Logger::LOG_TYPE_FILE, unopenable, "", 50, Logger::SAFETY_THREAD),
              -1);
    EXPECT_FALSE(Logger::IsNeedToLog(Logger::LOG_LEVEL_ERROR, "c"));
    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "dropped\n");
    EXPECT_EQ(Logger::Initialize(Logger::LOG_TYPE_FILE, "", "", 50, Logger::SAFETY_THREAD), -1);

    // A rotation that cannot move the live file leaves no stream.
    ASSERT_EQ(initFile(), 0);
    ASSERT_EQ(unlink(log.c_str()), 0);
    *Logger::log_size = Logger::kRotateSize;
    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "lost with the file\n");
    EXPECT_EQ(Logger::log_fp, nullptr);
    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "dropped\n");
    EXPECT_FALSE(std::filesystem::exists(log));

    ASSERT_EQ(initFile(), 0);
    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "back\n");
    EXPECT_EQ(readAll(log).substr(kStampBytes), "back\n");
}

TEST_F(LoggerTest, StreamDestinationsAndStreamEntry)
{
    ASSERT_EQ(Logger::Initialize(Logger::LOG_TYPE_STDOUT, log, "", 50, Logger::SAFETY_THREAD), 0);
    EXPECT_EQ(Logger::config.safety_scope, Logger::SAFETY_NONE);
    EXPECT_EQ(Logger::log_lock, nullptr);
    EXPECT_EQ(*Logger::log_size, -1);
    EXPECT_TRUE(Logger::log_path.empty());

    testing::internal::CaptureStdout();
    std::stringstream stream;
    stream << "open failed";
    errno = ENOENT;
    Logger::LogMsg3(Logger::LOG_LEVEL_ERROR, "c", stream,
                    static_cast<Logger::ConfigFlag>(Logger::FLAG_NEWLINE | Logger::FLAG_ERRNO));
    std::stringstream plain;
    plain << "no errno";
    errno = 0;
    Logger::LogMsg3(Logger::LOG_LEVEL_ERROR, "c", plain, Logger::FLAG_ERRNO);
    std::string out = testing::internal::GetCapturedStdout();
    std::string first = "open failed, err=" + std::to_string(ENOENT) + ":" + strerror(ENOENT) + "\n";
    ASSERT_GT(out.size(), kStampBytes + first.size());
    EXPECT_EQ(out.substr(kStampBytes, first.size()), first);
    EXPECT_EQ(out.substr(kStampBytes + first.size() + kStampBytes), "no errno");
    EXPECT_FALSE(std::filesystem::exists(log));

    ASSERT_EQ(Logger::Initialize(Logger::LOG_TYPE_SYSLOG, "", "", 50, Logger::SAFETY_THREAD), 0);
    EXPECT_EQ(Logger::log_fp, nullptr);
    EXPECT_TRUE(Logger::IsNeedToLog(Logger::LOG_LEVEL_ERROR, "c"));
}

TEST(LoggerStartState, WritesUpToWarningToStandardError)
{
    // A fresh process, so the logger is in its state before any Initialize.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            LOG_WARNING("launcher_debug", "early warning\n");
            LOG_NOTE("launcher_debug", "early note\n");
            fflush(stdout);
            _exit(0);
        },
        testing::ExitedWithCode(0),
        testing::AllOf(testing::ContainsRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8} "
                                              "\\( *[0-9]+: *[0-9]+\\) \\[WARNING\\] "
                                              "log_test\\([0-9]+\\): early warning"),
                       Not(HasSubstr("early note"))));
}

TEST_F(LoggerThreads, LoseAndInterleaveNoLine)
{
    // Lines of about 2 KB: 2 x 3000 of them cross the rotation limit twice.
    ASSERT_EQ(initFile(), 0);
    *Logger::log_size = Logger::kRotateSize - 100000;
    const int per_thread = 3000;
    const std::string padding(2000, 'p');
    auto writer = [&](int id) {
        for (int i = 0; i < per_thread; ++i)
            Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "T%d %d %s\n", id, i, padding.c_str());
    };
    std::thread first(writer, 1);
    std::thread second(writer, 2);
    first.join();
    second.join();

    std::string text;
    int rotated = 0;
    for (int k = 49; k >= 0; --k) {
        std::string name = log + "_" + std::to_string(k);
        if (std::filesystem::exists(name)) {
            text += readAll(name);
            ++rotated;
        }
    }
    text += readAll(log);
    EXPECT_GE(rotated, 2);

    int next[3] = {0, 0, 0};
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        ASSERT_TRUE(hasTimestamp(line)) << line.substr(0, 80);
        int id = 0, number = -1, used = 0;
        ASSERT_EQ(sscanf(line.c_str() + kStampBytes, "T%d %d %n", &id, &number, &used), 2)
            << line.substr(0, 80);
        ASSERT_TRUE(id == 1 || id == 2) << line.substr(0, 80);
        EXPECT_EQ(line.substr(kStampBytes + used), padding) << line.substr(0, 80);
        EXPECT_EQ(number, next[id]) << "thread " << id;
        next[id] = number + 1;
    }
    EXPECT_EQ(next[1], per_thread);
    EXPECT_EQ(next[2], per_thread);
}
