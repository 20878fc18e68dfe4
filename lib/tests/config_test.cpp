#include "config.h"
#include "temp_dir.h"

#include <vector>

struct Case {
    std::string bytes;
    Config::map pairs;
    bool keep_quotes = false;
};

TEST(ConfigRead, GrammarAndHostileBytes)
{
    TempDir dir;
    const std::string fits = "k=" + std::string(8189, 'x');  // one line piece of 8191 bytes
    const std::vector<Case> good = {
        {"launcher_debug=7\n", {{"launcher_debug", "7"}}},
        {"  pid = 4242 # client\n", {{"pid", "4242"}}},
        {"name='two words'\n=x\na.b-c_D9=v # note\n", {{"name", "two words"}, {"", "x"}, {"a.b-c_D9", "v"}}},
        {"k=a#b\nq='say \"hi\"'\nr=\"it's\"\ns=''\n", {{"k", "a#b"}, {"q", "say \"hi\""}, {"r", "it's"}, {"s", ""}}},
        {"crlf=1\r\nutf=\xc3\xa9t\nbad=\xff\xfe\n", {{"crlf", "1"}, {"utf", "\xc3\xa9t"}, {"bad", "\xff\xfe"}}},
        {"", {}},
        {"# a = b\n\n \t\r\nkey#comment\n", {}},
        {"a=1\nlonekey", {{"a", "1"}}},  // a key alone without a final line feed is ignored
        {"b=1\nb=2\n", {{"b", "2"}}},
        {std::string("a=1\0junk\n\0\nb=2\n", 16), {{"a", "1"}, {"b", "2"}}},  // NUL ends the line
        {fits + "\n", {{"k", fits.substr(2)}}},
        {std::string(9000, 'k') + "=1", {{std::string(9000 - 8191, 'k'), "1"}}},  // read in pieces
        {"name='x'\nq=\"a b\" # c\nb=bare\n", {{"name", "'x'"}, {"q", "\"a b\""}, {"b", "bare"}}, true},
    };
    for (Case c : good) {
        Config config;
        config.keep_quotes = c.keep_quotes;
        config["old"] = c.pairs["old"] = "1";  // a read adds to what is there
        EXPECT_EQ(config.read(dir.write("good", c.bytes)), 0) << c.bytes;
        EXPECT_EQ(config, c.pairs) << c.bytes;
    }

    for (const std::string& bytes : std::vector<std::string>{
             "lonekey\n", "key # comment\n", "key=\n", "key=   ", "key value\n", "k=a b\n", "[general]\n",
             "k='open\n", "k='tab\there'\n", "k=\"del\x7f\"\n", "k=a\x01\n", "k\xc3\xa9=1\n", "d=4\nlonekey\n",
             fits + "x\n", "#" + std::string(10000, 'c') + "\n"}) {
        Config config;
        config["old"] = "1";  // one bad line fails the read and empties the map, also of earlier reads
        EXPECT_EQ(config.read(dir.write("bad", bytes)), -1) << bytes;
        EXPECT_TRUE(config.empty()) << bytes;
    }
    EXPECT_EQ(Config().read(""), -1);
    EXPECT_EQ(Config().read(dir.file("absent")), -1);
}

TEST(ConfigGetInt, DecimalPrefix)
{
    Config config;
    for (const auto& [text, number] : std::map<std::string, int>{{"12abc", 12}, {"abc", 0}, {"-3", -3}, {" +8", 8}}) {
        config[text] = text;
        EXPECT_EQ(config.get_int(text), number) << text;
    }
    EXPECT_EQ(config.get_int("missing"), 0);
}
