#include "tmp_name_gen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> draw(int count)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back(TmpNameGen::getInstance().getTmpName());
    return names;
}

}  // namespace

TEST(TmpNameGen, NamesAndPaths)
{
    const std::string alphabet = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";
    std::set<char> seen, first;
    std::set<std::string> distinct;
    for (const std::string& name : draw(20000)) {
        ASSERT_EQ(name.size(), 8u);
        ASSERT_EQ(name.find_first_not_of(alphabet), std::string::npos) << name;
        seen.insert(name.begin(), name.end());
        first.insert(name[0]);
        distinct.insert(name);
    }
    EXPECT_EQ(seen.size(), 64u);
    EXPECT_EQ(first.count('-') + first.count('_'), 2u);
    EXPECT_EQ(distinct.size(), 20000u);

    std::string root = TmpNameGen::getInstance().getTmpPath("");
    EXPECT_TRUE(root.size() == 9 && root[0] == '/') << root;
    std::string path = TmpNameGen::getInstance().getTmpPath("/tmp/dir/");
    EXPECT_EQ(path.size(), 18u);
    EXPECT_EQ(path.substr(0, 10), "/tmp/dir//");
}

TEST(TmpNameGen, SeedIsReducedModuloTheEngine)
{
    auto sequence = [](uint32_t seed) {
        TmpNameGen::getInstance().reseed(seed);
        return draw(4);
    };
    std::vector<std::string> one = sequence(1);
    EXPECT_EQ(sequence(0), one);
    EXPECT_EQ(sequence(2147483647u), one);
    EXPECT_EQ(sequence(2147483648u), one);
    EXPECT_NE(sequence(2), one);
}

TEST(TmpNameGenThreads, TwoThreadsShareOneSequence)
{
    TmpNameGen::getInstance().reseed(12345);
    std::vector<std::string> expected = draw(10000);
    TmpNameGen::getInstance().reseed(12345);
    std::vector<std::string> a, b;
    std::thread first([&] { a = draw(5000); }), second([&] { b = draw(5000); });
    first.join();
    second.join();
    a.insert(a.end(), b.begin(), b.end());
    std::sort(a.begin(), a.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(a, expected);
}
