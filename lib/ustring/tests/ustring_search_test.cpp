// Searches, trims, comparisons and the Unicode services.
#include "ustring_test_util.h"

#include <gtest/gtest.h>

#include <string>

namespace {
const size_t npos = ustring::npos;
}

TEST(UstringSearch, FindInAllNeedleForms)
{
    const ustring s("path/to/file.txt");
    EXPECT_EQ(s.find(std::string("to")), 5u);
    EXPECT_EQ(s.find("to"), 5u);
    EXPECT_EQ(s.find(ustring("to")), 5u);
    EXPECT_EQ(s.find('t'), 2u);
    EXPECT_EQ(s.find('/', 5), 7u);
    EXPECT_EQ(s.find("txt"), 13u);
    EXPECT_EQ(s.find("txt", 13), 13u);
    EXPECT_EQ(s.find("txt", 14), npos);      // needle longer than the rest
    EXPECT_EQ(s.find("p", 100), npos);
    EXPECT_EQ(s.find(std::string("fi\0zz", 5)), 8u);  // needle ends at its zero

    // Empty needles: the start inside the text, npos at or after the end.
    EXPECT_EQ(s.find("", 3), 3u);
    EXPECT_EQ(s.find(ustring()), 0u);
    EXPECT_EQ(s.find('\0', 4), 4u);
    EXPECT_EQ(s.find("", s.length()), npos);
    EXPECT_EQ(ustring().find(""), npos);
}

TEST(UstringSearch, RfindBackwardFromEffectiveStart)
{
    const ustring s("path/to/file.txt");
    EXPECT_EQ(s.rfind("t"), 15u);
    EXPECT_EQ(s.rfind('t', 14), 13u);
    EXPECT_EQ(s.rfind("to", 6), 5u);         // match may run past the start
    EXPECT_EQ(s.rfind(std::string("file"), 8), 8u);
    EXPECT_EQ(s.rfind(ustring("file"), 7), npos);
    EXPECT_EQ(s.rfind("txt", 1000), 13u);
    EXPECT_EQ(s.rfind('p', 0), 0u);
    EXPECT_EQ(s.rfind("path/to/file.txt!"), npos);

    EXPECT_EQ(s.rfind(""), 15u);             // last byte's position
    EXPECT_EQ(s.rfind("", 3), 3u);
    EXPECT_EQ(s.rfind('\0'), 15u);
    EXPECT_EQ(ustring().rfind(""), npos);
}

TEST(UstringSearch, ByteSets)
{
    const ustring s("path/to/file.txt");
    EXPECT_EQ(s.find_first_of("./"), 4u);
    EXPECT_EQ(s.find_first_of(std::string("."), 0), 12u);
    EXPECT_EQ(s.find_first_of(ustring("xyz")), 14u);
    EXPECT_EQ(s.find_first_of('/', 5), 7u);
    EXPECT_EQ(s.find_first_of(""), npos);
    EXPECT_EQ(s.find_first_of('\0'), npos);
    EXPECT_EQ(s.find_first_of("/", s.length()), npos);

    EXPECT_EQ(s.find_first_not_of("path"), 4u);
    EXPECT_EQ(s.find_first_not_of(ustring(), 3), 3u);
    EXPECT_EQ(s.find_first_not_of('p'), 1u);
    EXPECT_EQ(s.find_first_not_of(std::string("ptxah/oefil.")), npos);
    EXPECT_EQ(s.find_first_not_of("", s.length()), npos);

    EXPECT_EQ(s.find_last_of("/"), 7u);
    EXPECT_EQ(s.find_last_of(ustring("/"), 6), 4u);
    EXPECT_EQ(s.find_last_of('x', npos), 14u);
    EXPECT_EQ(s.find_last_of(std::string("p"), 500), 0u);
    EXPECT_EQ(s.find_last_of(""), npos);

    EXPECT_EQ(s.find_last_not_of("txt."), 11u);
    EXPECT_EQ(s.find_last_not_of(""), 15u);
    EXPECT_EQ(s.find_last_not_of(std::string(), 3), 3u);
    EXPECT_EQ(s.find_last_not_of('t', 15), 14u);
    EXPECT_EQ(s.find_last_not_of(ustring("ptxah/oefil.")), npos);

    const ustring none;
    EXPECT_EQ(none.find_last_of("a"), npos);
    EXPECT_EQ(none.find_last_not_of(""), npos);
    EXPECT_EQ(none.find_first_not_of(""), npos);

    // A multi-byte character in a set stands for each of its bytes.
    const ustring accented("a\xc3\xa9" "b");
    EXPECT_EQ(accented.find_first_of("\xc3\xa8"), 1u);
    EXPECT_EQ(accented.find_last_of("\xc3\xa8"), 1u);
    EXPECT_EQ(accented.find_first_not_of("a\xc3"), 2u);
    EXPECT_EQ(accented.find_last_of('\xa9'), 2u);
    EXPECT_EQ(accented.find("\xa9" "b"), 2u);
}

TEST(UstringTrim, InPlaceAndResetsUtf16)
{
    ustring s("  xx hello xx  ");
    s.ltrim(" x");
    EXPECT_EQ(bytes_of(s), "hello xx  ");
    s.rtrim(ustring(" x"));
    EXPECT_EQ(bytes_of(s), "hello");
    s.trim("");
    s.ltrim(ustring());
    s.rtrim("-");
    EXPECT_EQ(bytes_of(s), "hello");

    ustring t("--\xc3\xa9t\xc3\xa9--");
    EXPECT_EQ(utf16_of(t), u"--\u00e9t\u00e9--");
    t.trim(ustring("-\xc3\xa9"));
    EXPECT_EQ(bytes_of(t), "t");
    EXPECT_EQ(utf16_of(t), u"t");

    ustring all("   ");
    all.trim(" ");
    EXPECT_TRUE(all.empty());
    EXPECT_STREQ(all.c_str(), "");
    all.trim(" ");
    EXPECT_TRUE(all.empty());

    ustring self("abcba");
    self.trim(self);
    EXPECT_TRUE(self.empty());
    ustring own("aab");
    own.trim(own.c_str() + 2);
    EXPECT_EQ(bytes_of(own), "aa");
}

TEST(UstringCompare, ByteOrderAndCounts)
{
    EXPECT_EQ(ustring("abc").compare(ustring("abc")), 0);
    EXPECT_LT(ustring("abc").compare(ustring("abd")), 0);
    EXPECT_LT(ustring("ab").compare(ustring("abc")), 0);
    EXPECT_GT(ustring("abc").compare(ustring("ab")), 0);
    EXPECT_EQ(ustring("b").compare(ustring("a")), 1);
    EXPECT_GT(ustring("\xc3\xa9").compare(ustring("z")), 0);  // unsigned bytes
    EXPECT_LT(ustring("").compare(ustring("a")), 0);

    EXPECT_EQ(ustring("abcX").compare(ustring("abcY"), 3), 0);
    EXPECT_LT(ustring("abcX").compare(ustring("abcY"), 4), 0);
    EXPECT_EQ(ustring("x").compare(ustring("y"), 0), 0);
    EXPECT_LT(ustring("ab").compare(ustring("abc"), 10), 0);

    EXPECT_EQ(ustring::compare(ustring("ABC"), ustring("abc"), true), 0);
    EXPECT_LT(ustring::compare(ustring("ABC"), ustring("abc"), false), 0);
    EXPECT_NE(ustring::compare(ustring("\xc3\x89"), ustring("\xc3\xa9"), true), 0);
    EXPECT_NE(ustring::compare(ustring("["), ustring("{"), true), 0);

    // A text with a zero byte inside is not equal to its prefix.
    ustring a("a");
    ustring b("a");
    b.append('\0', 1);
    EXPECT_LT(a.compare(b), 0);
    EXPECT_GT(b.compare(a), 0);
}

TEST(UstringCompare, OperatorsIncludingNonStrict)
{
    const ustring a("apple");
    const ustring b("banana");
    const ustring a2("apple");

    EXPECT_TRUE(a < b);
    EXPECT_TRUE(b > a);
    EXPECT_TRUE(a == a2);
    EXPECT_TRUE(a != b);

    EXPECT_TRUE(a <= b);
    EXPECT_TRUE(a <= a2);
    EXPECT_FALSE(b <= a);
    EXPECT_TRUE(b >= a);
    EXPECT_TRUE(a >= a2);
    EXPECT_FALSE(a >= b);

    // UTF-8 byte order is code point order, also beyond the BMP.
    EXPECT_TRUE(ustring("\xef\xbf\xbd") < ustring("\xf0\x9f\x98\x80"));
    EXPECT_TRUE(ustring("abc") == "abc");
}

TEST(UstringUnicode, NormalizeBothForms)
{
    const ustring decomposed("e\xcc\x81");
    const ustring composed("\xc3\xa9");

    ustring nfc = ustring::normalize(decomposed, ustring::NFC);
    EXPECT_EQ(bytes_of(nfc), "\xc3\xa9");
    EXPECT_EQ(utf16_of(nfc), u"\u00e9");
    EXPECT_EQ(bytes_of(ustring::normalize(composed, ustring::NFD)), "e\xcc\x81");
    EXPECT_EQ(bytes_of(composed.normalize(ustring::NFD)), "e\xcc\x81");
    EXPECT_EQ(bytes_of(decomposed.normalize(ustring::NFC)), "\xc3\xa9");
    EXPECT_EQ(bytes_of(decomposed), "e\xcc\x81");      // source untouched

    // A syllable that decomposes into more units than it had.
    EXPECT_EQ(bytes_of(ustring("\xea\xb0\x80").normalize(ustring::NFD)),
              "\xe1\x84\x80\xe1\x85\xa1");
    EXPECT_EQ(bytes_of(ustring("plain ascii/path").normalize(ustring::NFC)), "plain ascii/path");
    EXPECT_TRUE(ustring().normalize(ustring::NFD).empty());

    std::string longer;
    for (int i = 0; i < 200; ++i)
        longer += "Ame\xcc\x81lie ";
    std::string expected;
    for (int i = 0; i < 200; ++i)
        expected += "Am\xc3\xa9lie ";
    EXPECT_EQ(bytes_of(ustring(longer).normalize(ustring::NFC)), expected);

    ustring bad("x\x80");
    testing::internal::CaptureStderr();
    ustring none = bad.normalize(ustring::NFC);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(none.empty());
    EXPECT_NE(err.find("Warning: u_strFromUTF8: error code"), std::string::npos);
}

TEST(UstringUnicode, IsValid)
{
    EXPECT_TRUE(ustring::is_valid(ustring()));
    EXPECT_TRUE(ustring::is_valid(ustring("ascii")));
    EXPECT_TRUE(ustring::is_valid(ustring("\xc3\xa9\xf0\x9f\x98\x80")));
    EXPECT_FALSE(ustring::is_valid(ustring("\x80")));
    EXPECT_FALSE(ustring::is_valid(ustring("ab\xc3")));          // truncated
    EXPECT_FALSE(ustring::is_valid(ustring("\xc0\xaf")));        // overlong
    EXPECT_FALSE(ustring::is_valid(ustring("\xed\xa0\x80")));    // surrogate
}
