#include "config.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

struct Case {
    std::string line;
    int result;
    std::string key;
    std::string value;
};

void expectParses(const Config& config, const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        std::string buffer = c.line;
        char* key = nullptr;
        char* value = nullptr;
        int rc = config.parse(buffer.data(), buffer.size(), &key, &value);
        EXPECT_EQ(rc, c.result) << "line [" << c.line << "]";
        if (rc == Config::PARSE_PAIR && c.result == Config::PARSE_PAIR) {
            EXPECT_EQ(std::string(key), c.key) << "line [" << c.line << "]";
            EXPECT_EQ(std::string(value), c.value) << "line [" << c.line << "]";
        }
    }
}

long maxResidentKiB()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

TEST(ConfigParse, LineGrammar)
{
    const int P = Config::PARSE_PAIR, N = Config::PARSE_NOTHING, E = Config::PARSE_ERROR;
    expectParses(Config(), {
        {"launcher_debug=7\n", P, "launcher_debug", "7"},
        {"  pid = 4242 # client\n", P, "pid", "4242"},
        {"name='two words'\n", P, "name", "two words"},
        {"=x\n", P, "", "x"},
        {"a.b-c_D9=v # note\n", P, "a.b-c_D9", "v"},
        {"k=a#b\n", P, "k", "a#b"},
        {"q='say \"hi\"'\n", P, "q", "say \"hi\""},
        {"q=\"it's\"\n", P, "q", "it's"},
        {"q=''\n", P, "q", ""},
        {"crlf=1\r\n", P, "crlf", "1"},
        {"utf=\xc3\xa9t\xc3\xa9\n", P, "utf", "\xc3\xa9t\xc3\xa9"},
        {"bad=\xff\xfe\n", P, "bad", "\xff\xfe"},
        {"", N, "", ""},
        {" \t\r\n", N, "", ""},
        {"# comment = x\n", N, "", ""},
        {"lonekey", N, "", ""},
        {"key#comment\n", N, "", ""},
        {"lonekey\n", E, "", ""},
        {"key # comment\n", E, "", ""},
        {"key=\n", E, "", ""},
        {"key=   ", E, "", ""},
        {"key value\n", E, "", ""},
        {"k=a b\n", E, "", ""},
        {"[general]\n", E, "", ""},
        {"k='open\n", E, "", ""},
        {"k='tab\there'\n", E, "", ""},
        {"k=\"del\x7f\"\n", E, "", ""},
        {"k=a\x01\n", E, "", ""},
        {"k\xc3\xa9=1\n", E, "", ""},
    });

    Config quoted;
    quoted.keep_quotes = true;
    expectParses(quoted, {
        {"name='x'\n", P, "name", "'x'"},
        {"name=\"a b\" # c\n", P, "name", "\"a b\""},
        {"name=bare\n", P, "name", "bare"},
    });
}

TEST(ConfigRead, FilesAndMapUpdates)
{
    TempDir dir;
    Config config;
    EXPECT_EQ(config.read(dir.write("empty", "")), 0);
    EXPECT_EQ(config.read(dir.write("comments", "# a\n\n   \n#b=c\n")), 0);
    EXPECT_TRUE(config.empty());
    EXPECT_EQ(config.read(dir.write("lastkey", "a=1\nlonekey")), 0);
    EXPECT_EQ(config.read(dir.write("dups", "b=1\nb=2\nc='x y'\r\n")), 0);
    EXPECT_EQ(config, (Config::map{{"a", "1"}, {"b", "2"}, {"c", "x y"}}));

    // One bad line empties everything read so far, also by earlier calls.
    EXPECT_EQ(config.read(dir.write("lastkeylf", "d=4\nlonekey\n")), -1);
    EXPECT_TRUE(config.empty());

    EXPECT_EQ(config.read(""), -1);
    EXPECT_EQ(config.read(dir.file("absent")), -1);
    EXPECT_EQ(config.read(dir.path()), 0);  // a folder reads as an empty file
}

TEST(ConfigRead, HostileContent)
{
    TempDir dir;
    Config config;
    // A NUL byte ends the line's text; the rest of that line is not seen.
    std::string with_nul("a=1\0junk\n\0\nb=2\n", 16);
    EXPECT_EQ(config.read(dir.write("nul", with_nul)), 0);
    EXPECT_EQ(config, (Config::map{{"a", "1"}, {"b", "2"}}));

    // Lines are read in pieces of 8191 bytes, each parsed as a line.
    config.clear();
    std::string fits = "k=" + std::string(8189, 'x');
    EXPECT_EQ(config.read(dir.write("fits", fits + "\n")), 0);
    EXPECT_EQ(config["k"].size(), 8189u);
    EXPECT_EQ(config.read(dir.write("split", fits + "x\n")), -1);
    EXPECT_EQ(config.read(dir.write("longcomment", "#" + std::string(10000, 'c') + "\n")), -1);
    EXPECT_EQ(config.read(dir.write("longkey", std::string(9000, 'k') + "=1")), 0);
    EXPECT_EQ(config[std::string(9000 - 8191, 'k')], "1");

    // A large file is streamed, never held in memory.
    std::string big = dir.write("big", "");
    int fd = open(big.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 256L << 20), 0);
    ASSERT_EQ(lseek(fd, 0, SEEK_END), 256L << 20);
    ASSERT_EQ(write(fd, "\npid=7\n", 7), 7);
    close(fd);
    long before = maxResidentKiB();
    config.clear();
    EXPECT_EQ(config.read(big), 0);
    EXPECT_EQ(config, (Config::map{{"pid", "7"}}));
    EXPECT_LT(maxResidentKiB() - before, 64L * 1024);
}

TEST(ConfigGetInt, DecimalPrefix)
{
    Config config;
    config.insert({{"a", "12abc"}, {"b", "abc"}, {"c", "-3"}, {"d", " +8"}});
    EXPECT_EQ(config.get_int("a"), 12);
    EXPECT_EQ(config.get_int("b"), 0);
    EXPECT_EQ(config.get_int("c"), -3);
    EXPECT_EQ(config.get_int("d"), 8);
    EXPECT_EQ(config.get_int("missing"), 0);
    EXPECT_EQ(config.count("missing"), 1u);
}
