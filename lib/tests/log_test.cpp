#include "log.h"
#include "temp_dir.h"

#include <gmock/gmock.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <ctime>
#include <thread>

using testing::AllOf, testing::ContainsRegex, testing::ExitedWithCode, testing::HasSubstr, testing::Not;
namespace fs = std::filesystem;

constexpr size_t kStamp = 20;
const char* const kStampPattern = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2} ";
int evaluations = 0;
int counted(int value) { return ++evaluations, value; }

struct LoggerTest : testing::Test {
    TempDir dir;
    std::string log = dir.file("launcher.log");
    void SetUp() override { Logger::log_level.clear(), evaluations = 0; }
    void TearDown() override { Logger::Destroy(); }
    int init(const std::string& conf = "")
    {
        return Logger::Initialize(Logger::LOG_TYPE_FILE, log, conf, 50, Logger::SAFETY_THREAD);
    }
    static void error(const std::string& text) { Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "%s", text.c_str()); }
    std::string rotated(int i) const { return log + "_" + std::to_string(i); }
};
struct LoggerThreads : LoggerTest {};

// The log file on a 64 KiB tmpfs of its own (root only; skipped elsewhere).
struct LoggerFullDisk : LoggerTest {
    std::string disk = dir.file("disk");
    bool mounted = false;
    void SetUp() override
    {
        LoggerTest::SetUp();
        fs::create_directory(disk);
        mounted = geteuid() == 0 && mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted) {
            GTEST_SKIP() << "cannot mount a small tmpfs here";
        }
        log = disk + "/launcher.log";
    }
    void TearDown() override
    {
        LoggerTest::TearDown();  // closes the log file first
        if (mounted) {
            EXPECT_EQ(umount2(disk.c_str(), MNT_DETACH), 0);
        }
    }
};

TEST_F(LoggerTest, LinePrefixAndLevels)
{
    ASSERT_EQ(init(dir.write("launcher.debug", "launcher_debug=7\nservice_debug=abc\ndefault_component=7\n")), 0);
    EXPECT_EQ(Logger::GetCompLevel("service_debug"), 0);
    int line = __LINE__ + 1;
    LOG_DEBUG("launcher_debug", "cache warmed %d\n", 5);
    LOG_ERROR("service_debug", "service error\n");
    LOG_WARNING("extractor_debug", "extractor warning %d\n", counted(1));  // absent: level 4
    LOG_NOTE("extractor_debug", "extractor note %d\n", counted(2));
    EXPECT_EQ(evaluations, 1);  // a dropped message does not evaluate its arguments

    std::string text = readAll(log);
    char expected[128];
    snprintf(expected, sizeof expected, "(%5d:%5d) [DEBUG] log_test(%d): cache warmed 5\n", getpid(),
             LOGGER_THREAD_NUMBER(), line);
    tm fields{};
    EXPECT_EQ(strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S ", &fields), text.c_str() + kStamp) << text;
    EXPECT_EQ(text.substr(kStamp, strlen(expected)), expected);
    EXPECT_THAT(text, AllOf(HasSubstr("extractor warning 1"), Not(HasSubstr("service")), Not(HasSubstr("note"))));

    pid_t child = fork();  // the process id is already known: the child must stamp its own
    if (child == 0) {
        LOG_ERROR("launcher_debug", "child\n");
        _exit(0);
    }
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    snprintf(expected, sizeof expected, "(%5d:", child);
    EXPECT_EQ(readAll(log).substr(text.size() + kStamp, 7), expected);

    Logger::log_level.clear();  // a level file with a syntax error sets no level and fails nothing
    EXPECT_EQ(init(dir.write("launcher.debug", "launcher_debug=7\nbroken line\n")), 0);
    EXPECT_EQ(Logger::log_level, (std::map<std::string, int32_t>{{"default_component", 4}}));

    // An unopenable log file fails and drops every message unevaluated.
    EXPECT_EQ(Logger::Initialize(Logger::LOG_TYPE_FILE, dir.file("no/such.log"), "", 50, Logger::SAFETY_THREAD), -1);
    LOG_ERROR("launcher_debug", "%d\n", counted(3));
    error("dropped\n");
    EXPECT_EQ(evaluations, 1);
    EXPECT_THAT(readAll(log), Not(HasSubstr("dropped")));
}

// Control characters of logged text (an entry name, say) are escaped, a
// carriage return included: raw, it would let the rest of the text overwrite
// the line's start on a terminal.
TEST_F(LoggerTest, ControlCharactersAreEscaped)
{
    ASSERT_EQ(init(), 0);
    error(std::string("entry 'a\rb\nc\td\x1b[2J\x7f' end\n"));
    const std::string text = readAll(log);
    EXPECT_EQ(text.substr(kStamp), "entry 'a\\rb\\nc\\td\\x1b[2J\\x7f' end\n");
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST_F(LoggerTest, RotationAtTheLimitAndBeyond2GiB)
{
    ASSERT_EQ(init(), 0);
    *Logger::log_size = Logger::kRotateSize - kStamp - 4;
    error("one\n");  // exactly at the limit: no rotation yet
    error("two\n");  // crosses it: still in the old file
    error("three\n");
    std::string old_text = readAll(rotated(0));
    EXPECT_EQ(old_text.substr(kStamp, 4) + old_text.substr(2 * kStamp + 4), "one\ntwo\n");
    EXPECT_EQ(readAll(log).substr(kStamp), "three\n");

    for (int i = 2; i <= 60; ++i) {
        *Logger::log_size = Logger::kRotateSize;
        error(std::to_string(i) + "\n");
    }
    for (int i = 0; i <= 48; ++i)
        EXPECT_TRUE(fs::exists(rotated(i))) << i;
    EXPECT_FALSE(fs::exists(rotated(49)));
    EXPECT_EQ(readAll(rotated(0)).substr(kStamp), "60\n");
    EXPECT_EQ(readAll(rotated(48)).substr(kStamp), "12\n");

    const int64_t big = 3LL << 30;  // needs a 64-bit size
    fs::resize_file(log, big);
    ASSERT_EQ(init(), 0);
    EXPECT_EQ(*Logger::log_size, big);
    error("after\n");
    EXPECT_EQ(fs::file_size(rotated(0)), static_cast<uintmax_t>(big + kStamp + 6));
}

TEST(LoggerStartState, WritesUpToWarningToStandardError)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: Initialize never ran
    const std::string warning =
        std::string(kStampPattern) + "\\( *[0-9]+: *[0-9]+\\) \\[WARNING\\] log_test\\([0-9]+\\): warn";
    EXPECT_EXIT({ LOG_WARNING("launcher_debug", "warn\n"); LOG_NOTE("launcher_debug", "quiet\n"); _exit(0); },
                ExitedWithCode(0), AllOf(ContainsRegex(warning), Not(HasSubstr("quiet"))));
}

TEST_F(LoggerThreads, LoseAndInterleaveNoLine)
{
    ASSERT_EQ(init(), 0);
    *Logger::log_size = Logger::kRotateSize - 100000;  // 2 x 3000 lines of 2 KB then rotate at least twice
    const std::string padding(2000, 'p');
    auto writer = [&](int id) {
        for (int i = 0; i < 3000; ++i)
            Logger::LogMsg(Logger::LOG_LEVEL_ERROR, "c", "T%d %d %s\n", id, i, padding.c_str());
    };
    std::thread first(writer, 1), second(writer, 2);
    first.join();
    second.join();
    ASSERT_TRUE(fs::exists(rotated(1)));
    ASSERT_FALSE(fs::exists(rotated(3)));
    std::istringstream in(readAll(rotated(2)) + readAll(rotated(1)) + readAll(rotated(0)) + readAll(log));
    int next[3] = {0, 0, 0};
    for (std::string line; std::getline(in, line);) {
        int id = 0, number = -1, used = 0;
        ASSERT_EQ(sscanf(line.c_str() + kStamp, "T%d %d %n", &id, &number, &used), 2) << line;
        ASSERT_TRUE(id == 1 || id == 2);
        EXPECT_EQ(line.substr(kStamp + used), padding);
        EXPECT_EQ(number, next[id]) << "thread " << id;
        next[id] = number + 1;
    }
    EXPECT_EQ(std::vector<int>(next, next + 3), (std::vector<int>{0, 3000, 3000}));
}

// Lines "<tag> <number> <payload>" of varied lengths, so that the disk fills
// up in the middle of a line as well as between lines.
std::string Payload(int number) { return std::string(40 + number * 37 % 300, 'x'); }

// Reads one such line, logged as an ERROR by this file: false unless it is
// whole, from its time stamp to the last letter of its payload.
bool ParseLine(const std::string& line, std::string& tag, int& number, size_t& payload)
{
    tm fields{};
    const char* rest = strptime(line.c_str(), "%Y-%m-%dT%H:%M:%S ", &fields);
    int pid = 0, thread = 0, source = 0, used = 0;
    char word[16] = "";
    if (rest != line.c_str() + kStamp ||
        sscanf(rest, "(%5d:%5d) [ERROR] log_test(%d): %15s %d %n", &pid, &thread, &source, word, &number, &used) != 5 ||
        used == 0)
        return false;
    tag = word;
    const std::string tail(rest + used);
    payload = tail.size();
    return !tail.empty() && tail.find_first_not_of('x') == std::string::npos;
}

TEST_F(LoggerFullDisk, LinesAreLostWholeAndWritingResumesWhenSpaceReturns)
{
    const std::string ballast = disk + "/ballast";
    std::ofstream(ballast, std::ios::binary) << std::string(16384, 'b');
    ASSERT_EQ(fs::file_size(ballast), 16384u);
    ASSERT_EQ(init(), 0);
    const int kBefore = 1000, kAfter = 20;  // 1,000 lines are well over 64 KiB
    for (int i = 0; i < kBefore; ++i)
        LOG_ERROR("c", "before %d %s\n", i, Payload(i).c_str());
    fs::remove(ballast);
    for (int i = 0; i < kAfter; ++i)
        LOG_ERROR("c", "after %d %s\n", i, Payload(i).c_str());

    const std::string text = readAll(log);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::istringstream in(text);
    int before = 0, last_before = -1, after = 0;
    for (std::string line; std::getline(in, line);) {
        std::string tag;
        int number = -1;
        size_t payload = 0;
        ASSERT_TRUE(ParseLine(line, tag, number, payload)) << line;
        EXPECT_EQ(payload, Payload(number).size()) << line;
        if (tag == "before") {
            EXPECT_EQ(after, 0) << "an earlier line after the later ones: " << line;
            EXPECT_GT(number, last_before);
            last_before = number;
            ++before;
        } else {
            EXPECT_EQ(tag, "after");
            EXPECT_EQ(number, after++) << "a line lost after space returned";
        }
    }
    EXPECT_GT(before, 0);
    EXPECT_LT(before, kBefore) << "the file system never filled up";
    EXPECT_EQ(after, kAfter);

    *Logger::log_size = Logger::kRotateSize;  // and rotation still works
    error("last of the old file\n");
    error("first of the new file\n");
    EXPECT_EQ(readAll(log).substr(kStamp), "first of the new file\n");
    EXPECT_THAT(readAll(rotated(0)), HasSubstr("after 19 "));
}
