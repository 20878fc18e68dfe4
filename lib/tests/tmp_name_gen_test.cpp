#include "tmp_name_gen.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

static std::vector<std::string> draw(int count)
{
    std::vector<std::string> names(count);
    for (std::string& name : names)
        name = TmpNameGen::getInstance().getTmpName();
    return names;
}

TEST(TmpNameGen, NamesPathsAndSeeds)
{
    const std::string alphabet = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";
    std::set<char> seen, first;
    std::vector<std::string> names = draw(20000);
    for (const std::string& name : names) {
        ASSERT_EQ(name.size(), 8u);
        ASSERT_EQ(name.find_first_not_of(alphabet), std::string::npos) << name;
        seen.insert(name.begin(), name.end());
        first.insert(name[0]);
    }
    EXPECT_EQ(seen.size(), 64u);
    EXPECT_EQ(first.count('-') + first.count('_'), 2u);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());

    for (std::string dir : {"", "/tmp/dir/"}) {  // no separator handling: "/" is always added
        std::string path = TmpNameGen::getInstance().getTmpPath(dir);
        EXPECT_EQ(path.size(), dir.size() + 9) << path;
        EXPECT_EQ(path.substr(0, dir.size() + 1), dir + "/");
    }

    // The seed is reduced modulo 2147483647, a remainder of 0 becoming 1.
    auto sequence = [](uint32_t seed) { TmpNameGen::getInstance().reseed(seed); return draw(4); };
    const std::vector<std::string> one = sequence(1);
    for (uint32_t seed : {0u, 2147483647u, 2147483648u})
        EXPECT_EQ(sequence(seed), one) << seed;
    EXPECT_NE(sequence(2), one);
}

TEST(TmpNameGenThreads, TwoThreadsShareOneSequence)
{
    TmpNameGen::getInstance().reseed(12345);
    std::vector<std::string> all = draw(10000), a, b;
    TmpNameGen::getInstance().reseed(12345);
    std::thread first([&] { a = draw(5000); }), second([&] { b = draw(5000); });
    first.join();
    second.join();
    a.insert(a.end(), b.begin(), b.end());  // one sequence split between them: no name twice, none lost
    EXPECT_EQ(std::multiset<std::string>(a.begin(), a.end()), std::multiset<std::string>(all.begin(), all.end()));
}
