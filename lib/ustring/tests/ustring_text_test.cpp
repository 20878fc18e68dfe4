// Construction, the two forms and their conversion, the growth rule, and
// the append/assign families including a string given itself.
#include "ustring_test_util.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>

using I = ustring_inspector;

TEST(UstringConstruction, EmptyAndFromEachSource)
{
    ustring empty;
    EXPECT_EQ(empty.length(), 0u);
    EXPECT_TRUE(empty.empty());
    EXPECT_STREQ(empty.c_str(), "");
    ASSERT_NE(empty.c_str_utf16(), nullptr);
    EXPECT_EQ(empty.c_str_utf16()[0], 0);
    EXPECT_EQ(I::data_cap(empty), 4u);
    EXPECT_EQ(I::wdata_cap(empty), 4u);

    EXPECT_EQ(bytes_of(ustring("abc")), "abc");
    EXPECT_EQ(bytes_of(ustring(std::string("ab\0cd", 5))), "ab");
    EXPECT_EQ(bytes_of(ustring('x')), "x");
    EXPECT_EQ(bytes_of(ustring(units(u"caf\u00e9"))), "caf\xc3\xa9");
    EXPECT_EQ(bytes_of(ustring(static_cast<const char*>(nullptr))), "");

    ustring source("\xc3\xa9t\xc3\xa9");
    source.c_str_utf16();
    ustring copy(source);
    EXPECT_EQ(bytes_of(copy), bytes_of(source));
    EXPECT_NE(copy.c_str(), source.c_str());
    EXPECT_EQ(I::wdata_len(copy), 0u);
    EXPECT_EQ(utf16_of(copy), u"\u00e9t\u00e9");

    const unsigned short* source_units = source.c_str_utf16();
    ustring other("other");
    swap(source, other);            // all six fields, no allocation
    EXPECT_EQ(other.c_str_utf16(), source_units);
    EXPECT_EQ(bytes_of(source), "other");
}

TEST(UstringConversion, BytesAndUnitsCountDifferently)
{
    ustring s("\xc3\xa9" "a");
    EXPECT_EQ(s.length(), 3u);
    EXPECT_EQ(s.size(), 3u);
    EXPECT_EQ(I::wdata_len(s), 0u);   // built only on demand
    const unsigned short* w = s.c_str_utf16();
    EXPECT_EQ(w[0], 0xE9);
    EXPECT_EQ(w[1], 'a');
    EXPECT_EQ(w[2], 0);
    EXPECT_EQ(I::wdata_len(s), 2u);

    ustring astral(units(u"x\U0001F600"));
    EXPECT_EQ(bytes_of(astral), "x\xf0\x9f\x98\x80");
    EXPECT_EQ(I::wdata_len(astral), 3u);

    // Changing the text through the byte interface drops the UTF-16 form.
    s.append("b");
    EXPECT_EQ(I::wdata_len(s), 0u);
    EXPECT_EQ(utf16_of(s), u"\u00e9" u"ab");
}

TEST(UstringConversion, InvalidUtf8WarnsAndLeavesUtf16Empty)
{
    ustring bad("ok\x80" "x");
    testing::internal::CaptureStderr();
    const unsigned short* w = bad.c_str_utf16();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(w[0], 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(bad.convert_from_data(), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Warning: u_strFromUTF8: error code 10 at line ", 0), 0u) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1);
    EXPECT_EQ(bytes_of(bad), "ok\x80x");

    // Truncated sequence at the very end: no read past the text.
    ustring truncated("abc\xe2\x82");
    testing::internal::CaptureStderr();
    EXPECT_EQ(truncated.c_str_utf16()[0], 0);
    testing::internal::GetCapturedStderr();

    // Appending UTF-16 rebuilds the bytes from the UTF-16 form alone.
    testing::internal::CaptureStderr();
    bad.append(units(u"yz"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(bytes_of(bad), "yz");
}

TEST(UstringConversion, UnpairedSurrogateEmptiesBothForms)
{
    ustring s("abc");
    testing::internal::CaptureStderr();
    s.append(static_cast<unsigned short>(0xD800), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Warning: u_strToUTF8: error code ", 0), 0u) << err;
    EXPECT_TRUE(s.empty());
    EXPECT_STREQ(s.c_str(), "");
    EXPECT_EQ(I::wdata_len(s), 0u);
    EXPECT_EQ(s.c_str_utf16()[0], 0);
}

TEST(UstringGrowth, BuffersAreExactAndShrinkBelowHalf)
{
    ustring s;
    s.append("a");                  // needs 2 of 4: kept
    EXPECT_EQ(I::data_cap(s), 4u);
    s.append("bc");                 // needs 4: kept
    EXPECT_EQ(I::data_cap(s), 4u);
    s.append("d");                  // needs 5: exactly 5
    EXPECT_EQ(I::data_cap(s), 5u);
    s.assign("abcdefghij");         // needs 11
    EXPECT_EQ(I::data_cap(s), 11u);
    s.assign("abcde");              // needs 6, half of 11 is 5: kept
    EXPECT_EQ(I::data_cap(s), 11u);
    s.assign("abcd");               // needs 5: kept
    EXPECT_EQ(I::data_cap(s), 11u);
    s.assign("abc");                // needs 4, below half: shrinks to 4
    EXPECT_EQ(I::data_cap(s), 4u);
    s.append('x', 20);              // 3 + 20 + 1
    EXPECT_EQ(I::data_cap(s), 24u);

    s.clear();
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(I::data_cap(s), 24u); // clear keeps the allocation

    ustring w("0123456789");
    w.c_str_utf16();                // 10 units + terminator
    EXPECT_EQ(I::wdata_cap(w), 11u);
    w.assign("\xc3\xa9");
    w.c_str_utf16();                // needs 2, below half of 11
    EXPECT_EQ(I::wdata_cap(w), 2u);
    w.append(static_cast<unsigned short>('a'), 3);
    EXPECT_EQ(I::wdata_cap(w), 5u);
    EXPECT_EQ(bytes_of(w), "\xc3\xa9" "aaa");
}

TEST(UstringAppend, ByteFamily)
{
    ustring s("ab");
    s.append("cdef", 2);
    EXPECT_EQ(bytes_of(s), "abcd");
    s.append("x\0y", 3);            // stops at the zero byte
    EXPECT_EQ(bytes_of(s), "abcdx");
    s.append(std::string("0123456"), 2, 3);
    EXPECT_EQ(bytes_of(s), "abcdx234");
    s.append(std::string("q\0r", 3));
    EXPECT_EQ(bytes_of(s), "abcdx234q");
    s.append(ustring("hello"), 1, 3);
    EXPECT_EQ(bytes_of(s), "abcdx234qell");
    s.append('-', 3);
    s.append('z', 0);
    EXPECT_EQ(bytes_of(s), "abcdx234qell---");

    EXPECT_THROW(s.append(std::string("ab"), 3, 1), std::out_of_range);
    try {
        s.append(ustring("ab"), 3, 1);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "substr");
    }
    EXPECT_EQ(bytes_of(s), "abcdx234qell---");

    ustring t("a");
    t += std::string("b");
    t += units(u"\u00e9");
    EXPECT_EQ(bytes_of(t), "ab\xc3\xa9");

    ustring base("x");
    EXPECT_EQ(bytes_of(base + "y" + 'z'), "xyz");
    EXPECT_EQ(bytes_of(base + static_cast<unsigned short>(0xE9)), "x\xc3\xa9");
    EXPECT_EQ(bytes_of(base), "x");
}

TEST(UstringAppend, Utf16PathRebuildsBytes)
{
    ustring s("caf");
    s.append(units(u"\u00e9 na\u00efve"));
    EXPECT_EQ(bytes_of(s), "caf\xc3\xa9 na\xc3\xafve");
    EXPECT_EQ(I::wdata_len(s), 10u);   // already built: no conversion needed
    EXPECT_EQ(utf16_of(s), u"caf\u00e9 na\u00efve");

    s.append(units(u"12345"), 2);
    s.append(units(u"x\0y"), 3);
    s.append(static_cast<unsigned short>(0xE8), 2);
    EXPECT_EQ(utf16_of(s), u"caf\u00e9 na\u00efve12x\u00e8\u00e8");
    EXPECT_EQ(bytes_of(s), "caf\xc3\xa9 na\xc3\xafve12x\xc3\xa8\xc3\xa8");

    // A surrogate pair given in two steps becomes one 4-byte character.
    ustring pair;
    pair.append(units(u"\U0001F600"), 2);
    EXPECT_EQ(bytes_of(pair), "\xf0\x9f\x98\x80");
}

TEST(UstringAssign, ReplacesBothForms)
{
    ustring s(units(u"old \u00e9"));
    s.assign("new");
    EXPECT_EQ(bytes_of(s), "new");
    EXPECT_EQ(utf16_of(s), u"new");
    s.assign("abcdef", 3);
    EXPECT_EQ(bytes_of(s), "abc");
    s.assign(std::string("0123456"), 4);
    EXPECT_EQ(bytes_of(s), "456");
    s.assign(ustring("0123456"), 1, 2);
    EXPECT_EQ(bytes_of(s), "12");
    s.assign('k', 3);
    EXPECT_EQ(bytes_of(s), "kkk");
    s.assign(units(u"\u00fc"));
    EXPECT_EQ(bytes_of(s), "\xc3\xbc");
    s.assign(units(u"abcdef"), 2);
    EXPECT_EQ(bytes_of(s), "ab");
    s.assign(static_cast<unsigned short>(0xFC), 2);
    EXPECT_EQ(bytes_of(s), "\xc3\xbc\xc3\xbc");

    s = std::string("std");
    EXPECT_EQ(bytes_of(s), "std");
    s = static_cast<unsigned short>(0xE0);
    EXPECT_EQ(bytes_of(s), "\xc3\xa0");

    EXPECT_THROW(s.assign(ustring("ab"), 3), std::out_of_range);
}

TEST(UstringSelf, AppendToItselfDoubles)
{
    ustring s("abc");
    s.append(s);
    EXPECT_EQ(bytes_of(s), "abcabc");
    s += s;
    EXPECT_EQ(bytes_of(s), "abcabcabcabc");

    // Own buffer passed as a plain pointer, growing past the old buffer.
    ustring big(std::string(1000, 'q'));
    big.append(big.c_str());
    EXPECT_EQ(bytes_of(big), std::string(2000, 'q'));
    big.assign("0123");
    big.append(big.c_str(), 2);
    EXPECT_EQ(bytes_of(big), "012301");
    big.append(big.c_str(), 100);   // at most the whole text
    EXPECT_EQ(bytes_of(big), "012301012301");
    big.append(std::string(100, 'z').c_str());
    big.append(big.c_str() + 6);    // inside the text, moved by the growth
    EXPECT_EQ(bytes_of(big), "012301012301" + std::string(100, 'z') + "012301" + std::string(100, 'z'));

    ustring w(units(u"\u00e9x"));
    w.append(w.c_str_utf16());
    EXPECT_EQ(bytes_of(w), "\xc3\xa9x\xc3\xa9x");
    w.append(w.c_str_utf16(), 1);
    EXPECT_EQ(utf16_of(w), u"\u00e9x\u00e9x\u00e9");
    w.append(w, 2, 2);
    EXPECT_EQ(bytes_of(w), "\xc3\xa9x\xc3\xa9x\xc3\xa9" "x\xc3");
}

TEST(UstringSelf, AssignFromItself)
{
    ustring s("hello world");
    s.assign(s.c_str());
    EXPECT_EQ(bytes_of(s), "hello world");
    s = s;
    EXPECT_EQ(bytes_of(s), "hello world");
    s.assign(s, 6, 3);
    EXPECT_EQ(bytes_of(s), "wor");
    s.assign(s.c_str(), 10);        // not longer: unchanged
    EXPECT_EQ(bytes_of(s), "wor");
    s.assign(s.c_str(), 2);
    EXPECT_EQ(bytes_of(s), "wo");

    ustring w(units(u"\u00e9\u00e8\u00ea"));
    w.assign(w.c_str_utf16());
    EXPECT_EQ(utf16_of(w), u"\u00e9\u00e8\u00ea");
    w.assign(w.c_str_utf16(), 2);
    EXPECT_EQ(bytes_of(w), "\xc3\xa9\xc3\xa8");
    EXPECT_EQ(utf16_of(w), u"\u00e9\u00e8");
}

TEST(UstringAccess, SubstrAndIndexing)
{
    ustring s("abcdef");
    EXPECT_EQ(bytes_of(s.substr(2)), "cdef");
    EXPECT_EQ(bytes_of(s.substr(2, 3)), "cde");
    EXPECT_EQ(bytes_of(s.substr(4, 100)), "ef");
    EXPECT_EQ(bytes_of(s.substr(0, ustring::npos)), "abcdef");
    EXPECT_TRUE(s.substr(6, 3).empty());
    try {
        s.substr(7, 1);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "substr");
    }

    EXPECT_EQ(s[0], 'a');
    s[0] = 'A';
    EXPECT_EQ(bytes_of(s), "Abcdef");
    const ustring& cs = s;
    EXPECT_EQ(cs[5], 'f');
    EXPECT_EQ(s.c_str_utf8(), s.c_str());

    s.replace('c', 'C');
    EXPECT_EQ(bytes_of(s), "AbCdef");
    EXPECT_EQ(utf16_of(s), u"AbCdef");
    s.replace('b', 'B');             // drops the UTF-16 form just built
    EXPECT_EQ(utf16_of(s), u"ABCdef");
}

TEST(UstringStreams, WriteBytesReadWords)
{
    std::ostringstream out;
    out << ustring("caf\xc3\xa9") << '|';
    EXPECT_EQ(out.str(), "caf\xc3\xa9|");

    std::istringstream in("  first second\n");
    ustring a, b, c("unchanged");
    in >> a >> b;
    EXPECT_EQ(bytes_of(a), "first");
    EXPECT_EQ(bytes_of(b), "second");
    EXPECT_FALSE(static_cast<bool>(in >> c));
    EXPECT_EQ(bytes_of(c), "unchanged");
}
