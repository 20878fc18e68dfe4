// Construction, the two forms and their conversion, the growth rule, and
// the append/assign families including a string given itself.
#include "ustring_test_util.h"

#include <gmock/gmock.h>

#include <sstream>
#include <stdexcept>
#include <tuple>
#include <vector>

using I = ustring_inspector;
using testing::ThrowsMessage;

template <typename F>
static std::string stderrOf(F action)
{
    return testing::internal::CaptureStderr(), action(), testing::internal::GetCapturedStderr();
}

TEST(UstringConstruction, EmptyCopyAndSwap)
{
    ustring empty;
    EXPECT_EQ(empty.length(), 0u);
    EXPECT_STREQ(empty.c_str(), "");
    EXPECT_EQ(empty.c_str_utf16()[0], 0);
    EXPECT_EQ(bytes_of(ustring(std::string("ab\0cd", 5))), "ab");
    EXPECT_EQ(bytes_of(ustring('x')), "x");
    EXPECT_EQ(bytes_of(ustring(static_cast<const char*>(nullptr))), "");

    ustring source(units(u"\u00e9t\u00e9")), copy(source), other("other");
    EXPECT_NE(copy.c_str(), source.c_str());
    EXPECT_EQ(I::wdata_len(copy), 0u);  // the copy builds its own UTF-16 form on demand
    EXPECT_EQ(utf16_of(copy), u"\u00e9t\u00e9");
    swap(source, other);  // all six fields: the UTF-16 forms too
    EXPECT_EQ(utf16_of(source), u"other");
    EXPECT_EQ(bytes_of(other), "\xc3\xa9t\xc3\xa9");
}

TEST(UstringConversion, BytesAndUnitsBothWays)
{
    ustring s("\xc3\xa9" "a");
    EXPECT_EQ(s.length(), 3u);
    EXPECT_EQ(I::wdata_len(s), 0u);  // built only on demand
    EXPECT_EQ(utf16_of(s), u"\u00e9a");
    EXPECT_EQ(I::wdata_len(s), 2u);
    s.append("b");  // a change through the byte interface drops the UTF-16 form
    EXPECT_EQ(I::wdata_len(s), 0u);
    EXPECT_EQ(utf16_of(s), u"\u00e9ab");
}

TEST(UstringConversion, FailuresWarnAndEmptyAForm)
{
    ustring bad("ok\x80" "x");
    std::string err = stderrOf([&] { EXPECT_EQ(bad.c_str_utf16()[0], 0); });
    EXPECT_EQ(err.rfind("Warning: u_strFromUTF8: error code 10 at line ", 0), 0u) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1);
    stderrOf([&] { EXPECT_EQ(bad.convert_from_data(), -1); });
    EXPECT_EQ(bytes_of(bad), "ok\x80x");
    ustring truncated("abc\xe2\x82");  // no read past the text
    stderrOf([&] { EXPECT_EQ(truncated.c_str_utf16()[0], 0); });
    stderrOf([&] { bad.append(units(u"yz")); });
    EXPECT_EQ(bytes_of(bad), "yz");  // rebuilt from the UTF-16 form alone
    ustring s("abc");
    err = stderrOf([&] { s.append(static_cast<unsigned short>(0xD800), 1); });  // unpaired surrogate
    EXPECT_EQ(err.rfind("Warning: u_strToUTF8: error code ", 0), 0u) << err;
    EXPECT_STREQ(s.c_str(), "");
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(I::wdata_len(s), 0u);
}

TEST(UstringGrowth, BuffersAreExactAndShrinkBelowHalf)
{
    ustring s;  // 4 bytes; a need of 5 is exact, of 6 and 5 keeps 11, of 4 shrinks below half of 11
    for (auto [text, cap] : std::vector<std::pair<const char*, size_t>>{
             {"a", 4}, {"abc", 4}, {"abcd", 5}, {"abcdefghij", 11}, {"abcde", 11}, {"abcd", 11}, {"abc", 4}}) {
        s.assign(text);
        EXPECT_EQ(I::data_cap(s), cap) << text;
    }
    EXPECT_EQ(I::data_cap(s.append('x', 20)), 24u);
    s.clear();  // keeps the allocation
    EXPECT_EQ(I::data_cap(s), 24u);
    auto units_cap = [](const ustring& w) { return w.c_str_utf16(), I::wdata_cap(w); };
    ustring w("0123456789");
    EXPECT_EQ(units_cap(w), 11u);
    EXPECT_EQ(units_cap(w.assign("\xc3\xa9")), 2u);
    EXPECT_EQ(I::wdata_cap(w.append(static_cast<unsigned short>('a'), 3)), 5u);
}

TEST(UstringAppendAssign, ByteAndUtf16Families)
{
    ustring s("ab");
    s.append("cdef", 2).append("x\0y", 3).append(std::string("0123456"), 2, 3).append(std::string("q\0r", 3));
    s.append(ustring("hello"), 1, 3).append('-', 3).append('z', 0);
    EXPECT_EQ(bytes_of(s), "abcdx234qell---");  // counted forms stop early at a zero byte
    EXPECT_THROW(s.append(std::string("ab"), 3, 1), std::out_of_range);
    EXPECT_THAT([&] { s.append(ustring("ab"), 3, 1); }, ThrowsMessage<std::out_of_range>("substr"));
    EXPECT_EQ(bytes_of((s = "a") += std::string("b")), "ab");
    EXPECT_EQ(bytes_of(s + "y" + 'z' + units(u"\u00e9") + static_cast<unsigned short>(0xE8)), "abyz\xc3\xa9\xc3\xa8");

    ustring u("caf");
    u.append(units(u"\u00e9 na\u00efve"));
    EXPECT_EQ(bytes_of(u), "caf\xc3\xa9 na\xc3\xafve");
    EXPECT_EQ(I::wdata_len(u), 10u);  // already built: no conversion needed
    u.append(units(u"12345"), 2).append(units(u"x\0y"), 3).append(static_cast<unsigned short>(0xE8), 2);
    EXPECT_EQ(utf16_of(u), u"caf\u00e9 na\u00efve12x\u00e8\u00e8");
    EXPECT_EQ(bytes_of(u), "caf\xc3\xa9 na\xc3\xafve12x\xc3\xa8\xc3\xa8");
    EXPECT_EQ(bytes_of(ustring().append(units(u"\U0001F600"), 2)), "\xf0\x9f\x98\x80");  // both halves of a pair

    s.assign(units(u"old \u00e9"));  // each assign replaces both forms
    EXPECT_EQ(utf16_of(s.assign("new")), u"new");
    EXPECT_EQ(bytes_of(s.assign("abcdef", 3)), "abc");
    EXPECT_EQ(bytes_of(s.assign(std::string("0123456"), 4)), "456");
    EXPECT_EQ(bytes_of(s.assign(ustring("0123456"), 1, 2)), "12");
    EXPECT_EQ(bytes_of(s.assign('k', 3)), "kkk");
    EXPECT_EQ(bytes_of(s.assign(units(u"\u00fc"))), "\xc3\xbc");
    EXPECT_EQ(bytes_of(s.assign(units(u"abcdef"), 2)), "ab");
    EXPECT_EQ(bytes_of(s.assign(static_cast<unsigned short>(0xFC), 2)), "\xc3\xbc\xc3\xbc");
    EXPECT_EQ(bytes_of(s = std::string("std")), "std");
    EXPECT_EQ(bytes_of(s = static_cast<unsigned short>(0xE0)), "\xc3\xa0");
    EXPECT_THROW(s.assign(ustring("ab"), 3), std::out_of_range);
}

TEST(UstringSelf, AppendDoublesAndAssignKeepsOrCuts)
{
    ustring s("abc");
    EXPECT_EQ(bytes_of(s.append(s)), "abcabc");
    EXPECT_EQ(bytes_of(s += s), "abcabcabcabc");
    ustring big(std::string(1000, 'q'));  // the own buffer as a plain pointer, growing past it
    EXPECT_EQ(bytes_of(big.append(big.c_str())), std::string(2000, 'q'));
    big.assign("0123");
    EXPECT_EQ(bytes_of(big.append(big.c_str(), 2)), "012301");
    EXPECT_EQ(bytes_of(big.append(big.c_str(), 100)), "012301012301");  // at most the whole text
    ustring w(units(u"\u00e9x"));
    EXPECT_EQ(bytes_of(w.append(w.c_str_utf16())), "\xc3\xa9x\xc3\xa9x");
    EXPECT_EQ(utf16_of(w.append(w.c_str_utf16(), 1)), u"\u00e9x\u00e9x\u00e9");
    EXPECT_EQ(bytes_of(w.append(w, 2, 2)), "\xc3\xa9x\xc3\xa9x\xc3\xa9" "x\xc3");

    ustring h("hello world");
    EXPECT_EQ(bytes_of(h.assign(h.c_str())), "hello world");
    EXPECT_EQ(bytes_of(h = h), "hello world");
    EXPECT_EQ(bytes_of(h.assign(h, 6, 3)), "wor");
    EXPECT_EQ(bytes_of(h.assign(h.c_str(), 10)), "wor");  // not longer: unchanged
    EXPECT_EQ(bytes_of(h.assign(h.c_str(), 2)), "wo");
    ustring u(units(u"\u00e9\u00e8\u00ea"));
    EXPECT_EQ(utf16_of(u.assign(u.c_str_utf16())), u"\u00e9\u00e8\u00ea");
    EXPECT_EQ(bytes_of(u.assign(u.c_str_utf16(), 2)), "\xc3\xa9\xc3\xa8");
    EXPECT_EQ(utf16_of(u), u"\u00e9\u00e8");
}

TEST(UstringAccess, SubstrIndexingReplaceAndStreams)
{
    ustring s("abcdef");
    for (auto [pos, n, expected] : std::vector<std::tuple<size_t, size_t, const char*>>{
             {2, ustring::npos, "cdef"}, {2, 3, "cde"}, {4, 100, "ef"}, {0, ustring::npos, "abcdef"}, {6, 3, ""}})
        EXPECT_EQ(bytes_of(s.substr(pos, n)), expected) << pos << " " << n;
    EXPECT_THAT([&] { s.substr(7, 1); }, ThrowsMessage<std::out_of_range>("substr"));
    s[0] = 'A';
    EXPECT_EQ(static_cast<const ustring&>(s)[0], 'A');
    s.replace('c', 'C');
    EXPECT_EQ(utf16_of(s), u"AbCdef");
    s.replace('b', 'B');  // drops the UTF-16 form just built
    EXPECT_EQ(utf16_of(s), u"ABCdef");
    std::ostringstream out;
    EXPECT_EQ(static_cast<std::ostringstream&>(out << ustring("caf\xc3\xa9") << '|').str(), "caf\xc3\xa9|");
    std::istringstream in("  first second\n");
    ustring a, b, c("unchanged");
    EXPECT_FALSE(static_cast<bool>(in >> a >> b >> c));
    EXPECT_EQ(bytes_of(a) + "|" + bytes_of(b) + "|" + bytes_of(c), "first|second|unchanged");
}
