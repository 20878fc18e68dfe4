#include "log.h"
#include "temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <thread>

using testing::HasSubstr;
using testing::Not;

namespace {

constexpr int64_t kStampBytes = 20;  // "YYYY-MM-DDTHH:MM:SS "

class LoggerTest : public testing::Test {
protected:
    void SetUp() override { Logger::log_level.clear(); }
    void TearDown() override { Logger::Destroy(); }

    int initFile(const std::string& levels = "")
    {
        std::string conf = levels.empty() ? "" : dir.write("launcher.debug", levels);
        return Logger::Initialize(Logger::LOG_TYPE_FILE, log, conf, 50, Logger::SAFETY_THREAD);
    }
    void logAtLimit(const char* text)
    {
        *Logger::log_size = Logger::kRotateSize;
        Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "%s\n", text);
    }

    TempDir dir;
    std::string log = dir.file("launcher.log");
};
class LoggerThreads : public LoggerTest {};

bool hasTimestamp(const std::string& line)
{
    const std::string shape = "dddd-dd-ddTdd:dd:dd ";
    for (size_t i = 0; i < shape.size(); ++i)
        if (i >= line.size() || (shape[i] == 'd' ? !isdigit(static_cast<unsigned char>(line[i]))
                                                 : line[i] != shape[i]))
            return false;
    return true;
}

int evaluations = 0;
int counted(int value)
{
    return ++evaluations, value;
}

}  // namespace

TEST_F(LoggerTest, LinePrefixAndComponentLevels)
{
    ASSERT_EQ(initFile("launcher_debug=7\nservice_debug=abc\ndefault_component=7\n"), 0);
    EXPECT_EQ(Logger::GetCompLevel("service_debug"), 0);
    EXPECT_EQ(Logger::GetCompLevel("extractor_debug"), 4);
    int line = __LINE__ + 1;
    LOG_DEBUG("launcher_debug", "cache warmed %d\n", 5);
    LOG_ERROR("service_debug", "service error\n");
    LOG_WARNING("extractor_debug", "extractor warning\n");
    LOG_NOTE("extractor_debug", "extractor note\n");

    std::string text = readAll(log);
    char expected[128];
    snprintf(expected, sizeof expected, "(%5d:%5d) [DEBUG] log_test(%d): cache warmed 5\n",
             static_cast<int>(getpid()), LOGGER_THREAD_NUMBER(), line);
    EXPECT_TRUE(hasTimestamp(text));
    EXPECT_EQ(text.substr(kStampBytes, strlen(expected)), expected);
    EXPECT_THAT(text, HasSubstr("[WARNING] log_test("));
    EXPECT_THAT(text, Not(HasSubstr("service error")));
    EXPECT_THAT(text, Not(HasSubstr("extractor note")));
    EXPECT_EQ(static_cast<int64_t>(text.size()), *Logger::log_size);

    // A broken or missing level file changes nothing and fails nothing.
    Logger::log_level.clear();
    EXPECT_EQ(initFile("launcher_debug=7\nbroken line\n"), 0);
    EXPECT_EQ(Logger::log_level, (std::map<std::string, int32_t>{{"default_component", 4}}));
}

TEST_F(LoggerTest, DroppedMessagesDoNotEvaluateArguments)
{
    ASSERT_EQ(initFile(), 0);
    evaluations = 0;
    LOG_NOTE("launcher_debug", "%d\n", counted(1));
    LOG_WARNING("launcher_debug", "%d\n", counted(2));
    EXPECT_EQ(evaluations, 1);

    EXPECT_EQ(Logger::Initialize(Logger::LOG_TYPE_FILE, dir.file("no/such.log"), "", 50,
                                 Logger::SAFETY_THREAD),
              -1);
    LOG_ERROR("launcher_debug", "%d\n", counted(3));
    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "dropped\n");
    EXPECT_EQ(evaluations, 1);
    EXPECT_THAT(readAll(log), Not(HasSubstr("dropped")));
}

TEST_F(LoggerTest, MessageCrossingLimitEndsOldFile)
{
    ASSERT_EQ(initFile(), 0);
    *Logger::log_size = Logger::kRotateSize - kStampBytes - 4;
    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "one\n");  // exactly at the limit
    EXPECT_FALSE(std::filesystem::exists(log + "_0"));
    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "two\n");
    EXPECT_EQ(*Logger::log_size, 0);
    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "three\n");

    std::string old_text = readAll(log + "_0");
    EXPECT_EQ(old_text.substr(kStampBytes), "one\n" + old_text.substr(0, kStampBytes) + "two\n");
    EXPECT_EQ(readAll(log).substr(kStampBytes), "three\n");
}

TEST_F(LoggerTest, RotationKeepsCountMinusOneOldFiles)
{
    ASSERT_EQ(initFile(), 0);
    for (int i = 1; i <= 60; ++i)
        logAtLimit(std::to_string(i).c_str());
    for (int i = 0; i <= 48; ++i)
        EXPECT_TRUE(std::filesystem::exists(log + "_" + std::to_string(i))) << i;
    EXPECT_FALSE(std::filesystem::exists(log + "_49"));
    EXPECT_EQ(readAll(log + "_0").substr(kStampBytes), "60\n");
    EXPECT_EQ(readAll(log + "_48").substr(kStampBytes), "12\n");
    EXPECT_EQ(readAll(log), "");
}

TEST_F(LoggerTest, FileOver2GiBStillRotates)
{
    const int64_t big = 3LL << 30;
    int fd = open(log.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, big), 0);
    close(fd);

    ASSERT_EQ(initFile(), 0);
    EXPECT_EQ(*Logger::log_size, big);
    Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "after\n");
    EXPECT_EQ(std::filesystem::file_size(log + "_0"), static_cast<uintmax_t>(big + kStampBytes + 6));
    EXPECT_EQ(readAll(log), "");
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
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    char expected[32];
    snprintf(expected, sizeof expected, "(%5d:", static_cast<int>(child));
    std::string text = readAll(log);
    size_t second_line = text.find('\n') + 1;
    EXPECT_EQ(text.substr(second_line + kStampBytes, 7), expected);
}

TEST(LoggerStartState, WritesUpToWarningToStandardError)
{
    // The death test runs in a fresh process, where Initialize never ran.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            LOG_WARNING("launcher_debug", "early warning\n");
            LOG_NOTE("launcher_debug", "early note\n");
            _exit(0);
        },
        testing::ExitedWithCode(0),
        testing::AllOf(testing::ContainsRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8} \\( *[0-9]+: *"
                                              "[0-9]+\\) \\[WARNING\\] log_test\\([0-9]+\\): "
                                              "early warning"),
                       Not(HasSubstr("early note"))));
}

TEST_F(LoggerThreads, LoseAndInterleaveNoLine)
{
    // 2 x 3000 lines of 2 KB cross the rotation limit at least twice.
    ASSERT_EQ(initFile(), 0);
    *Logger::log_size = Logger::kRotateSize - 100000;
    const int per_thread = 3000;
    const std::string padding(2000, 'p');
    auto writer = [&](int id) {
        for (int i = 0; i < per_thread; ++i)
            Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "T%d %d %s\n", id, i, padding.c_str());
    };
    std::thread first(writer, 1), second(writer, 2);
    first.join();
    second.join();

    ASSERT_TRUE(std::filesystem::exists(log + "_1"));
    ASSERT_FALSE(std::filesystem::exists(log + "_3"));
    std::string text = readAll(log + "_2") + readAll(log + "_1") + readAll(log + "_0") + readAll(log);
    int next[3] = {0, 0, 0};
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        int id = 0, number = -1, used = 0;
        ASSERT_TRUE(hasTimestamp(line));
        ASSERT_EQ(sscanf(line.c_str() + kStampBytes, "T%d %d %n", &id, &number, &used), 2);
        ASSERT_TRUE(id == 1 || id == 2);
        EXPECT_EQ(line.substr(kStampBytes + used), padding);
        EXPECT_EQ(number, next[id]) << "thread " << id;
        next[id] = number + 1;
    }
    EXPECT_EQ(next[1], per_thread);
    EXPECT_EQ(next[2], per_thread);
}
