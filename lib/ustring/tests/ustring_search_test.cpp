// Searches, trims, comparisons and the Unicode services.
#include "ustring_test_util.h"

#include <gtest/gtest.h>

#include <vector>

const size_t npos = ustring::npos;
enum Op { FIND, RFIND, FIRST_OF, FIRST_NOT_OF, LAST_OF, LAST_NOT_OF };

template <typename Needle>
static size_t search(const ustring& s, Op op, const Needle& x, size_t pos)
{
    switch (op) {
    case FIND: return s.find(x, pos);
    case RFIND: return s.rfind(x, pos);
    case FIRST_OF: return s.find_first_of(x, pos);
    case FIRST_NOT_OF: return s.find_first_not_of(x, pos);
    case LAST_OF: return s.find_last_of(x, pos);
    default: return s.find_last_not_of(x, pos);
    }
}

TEST(UstringSearch, AllSixInEveryNeedleForm)
{
    const char* p = "path/to/file.txt";  // 16 bytes
    const char* e = "a\xc3\xa9" "b";     // a multi-byte character in a set stands for each of its bytes
    struct Case { const char* text; Op op; const char* needle; size_t pos, expected; };
    const std::vector<Case> cases = {
        {p, FIND, "to", 0, 5}, {p, FIND, "/", 5, 7}, {p, FIND, "txt", 13, 13}, {p, FIND, "txt", 14, npos},
        {p, FIND, "p", 100, npos}, {p, FIND, "", 3, 3}, {p, FIND, "", 0, 0}, {p, FIND, "", 16, npos},
        {"", FIND, "", 0, npos}, {e, FIND, "\xa9" "b", 0, 2}, {p, RFIND, "t", npos, 15}, {p, RFIND, "t", 14, 13},
        {p, RFIND, "to", 6, 5}, {p, RFIND, "file", 8, 8}, {p, RFIND, "file", 7, npos}, {p, RFIND, "txt", 1000, 13},
        {p, RFIND, "p", 0, 0}, {p, RFIND, "path/to/file.txt!", npos, npos}, {p, RFIND, "", npos, 15},
        {p, RFIND, "", 16, 15}, {p, RFIND, "", 3, 3}, {"", RFIND, "", npos, npos}, {p, FIRST_OF, "./", 0, 4},
        {p, FIRST_OF, "xyz", 0, 14}, {p, FIRST_OF, "/", 5, 7}, {p, FIRST_OF, "", 0, npos},
        {p, FIRST_OF, "/", 16, npos}, {e, FIRST_OF, "\xc3\xa8", 0, 1}, {p, FIRST_NOT_OF, "path", 0, 4},
        {p, FIRST_NOT_OF, "p", 0, 1}, {p, FIRST_NOT_OF, "", 3, 3}, {p, FIRST_NOT_OF, "ptxah/oefil.", 0, npos},
        {p, FIRST_NOT_OF, "", 16, npos}, {"", FIRST_NOT_OF, "", 0, npos}, {e, FIRST_NOT_OF, "a\xc3", 0, 2},
        {p, LAST_OF, "/", npos, 7}, {p, LAST_OF, "/", 6, 4}, {p, LAST_OF, "p", 500, 0},
        {p, LAST_OF, "", npos, npos}, {"", LAST_OF, "a", npos, npos}, {e, LAST_OF, "\xc3\xa8", npos, 1},
        {e, LAST_OF, "\xa9", npos, 2}, {p, LAST_NOT_OF, "txt.", npos, 11}, {p, LAST_NOT_OF, "t", 15, 14},
        {p, LAST_NOT_OF, "", npos, 15}, {p, LAST_NOT_OF, "", 3, 3}, {p, LAST_NOT_OF, "ptxah/oefil.", npos, npos},
        {"", LAST_NOT_OF, "", npos, npos}, {p, LAST_NOT_OF, "x", 16, 15},
    };
    for (const Case& c : cases) {
        const ustring s(c.text);
        SCOPED_TRACE(testing::Message() << "[" << c.text << "] op " << c.op << " [" << c.needle << "] at " << c.pos);
        EXPECT_EQ(search(s, c.op, c.needle, c.pos), c.expected);
        EXPECT_EQ(search(s, c.op, std::string(c.needle), c.pos), c.expected);
        EXPECT_EQ(search(s, c.op, ustring(c.needle), c.pos), c.expected);
        if (strlen(c.needle) <= 1) {  // the zero char is the empty needle
            EXPECT_EQ(search(s, c.op, c.needle[0], c.pos), c.expected) << "as char";
        }
    }
    EXPECT_EQ(ustring(p).find(std::string("fi\0zz", 5)), 8u);  // a std::string needle ends at its zero
}

TEST(UstringTrim, InPlaceInBothSetFormsAndResetsUtf16)
{
    auto trim = [](ustring& s, char d, const auto& x) { d == 'l' ? s.ltrim(x) : d == 'r' ? s.rtrim(x) : s.trim(x); };
    struct Case { const char* text; char side; const char* set; const char* expected; };
    for (const Case& c : std::vector<Case>{{"  xx hello xx  ", 'l', " x", "hello xx  "},
                                           {"hello xx  ", 'r', " x", "hello"}, {"hello", 'b', "", "hello"},
                                           {"hello", 'r', "-", "hello"}, {"--\xc3\xa9t\xc3\xa9--", 'b', "-\xc3\xa9", "t"},
                                           {"   ", 'b', " ", ""}, {"", 'l', " ", ""}}) {
        for (bool as_ustring : {false, true}) {
            ustring s(c.text);
            s.c_str_utf16();
            as_ustring ? trim(s, c.side, ustring(c.set)) : trim(s, c.side, c.set);
            EXPECT_EQ(bytes_of(s), c.expected) << c.text << " " << c.side << " [" << c.set << "]";
            EXPECT_EQ(utf16_of(s), utf16_of(ustring(c.expected))) << c.text;
        }
    }
    ustring self("abcba"), own("aab");
    self.trim(self);
    own.trim(own.c_str() + 2);
    EXPECT_TRUE(self.empty());
    EXPECT_EQ(bytes_of(own), "aa");
}

TEST(UstringCompare, ByteOrderIgnoreCaseAndAllOperators)
{
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    struct Case { const char* a; const char* b; int order, folded; };
    for (const Case& c : std::vector<Case>{
             {"abc", "abc", 0, 0}, {"abc", "abd", -1, -1}, {"ab", "abc", -1, -1}, {"", "a", -1, -1},
             {"\xc3\xa9", "z", 1, 1},                                   // unsigned bytes
             {"\xef\xbf\xbd", "\xf0\x9f\x98\x80", -1, -1},              // code point order beyond the BMP
             {"ABC", "abc", -1, 0}, {"\xc3\x89", "\xc3\xa9", -1, -1}, {"[", "{", -1, -1}}) {  // only ASCII folds
        const ustring a(c.a), b(c.b);
        SCOPED_TRACE(testing::Message() << "[" << c.a << "] [" << c.b << "]");
        EXPECT_EQ(sign(a.compare(b)), c.order);
        EXPECT_EQ(sign(b.compare(a)), -c.order);
        EXPECT_EQ(sign(ustring::compare(a, b, false)), c.order);
        EXPECT_EQ(sign(ustring::compare(a, b, true)), c.folded);
        EXPECT_EQ((std::vector<bool>{a < b, a > b, a == b, a != b, a <= b, a >= b}),  // <= and >= are not strict
                  (std::vector<bool>{c.order < 0, c.order > 0, c.order == 0, c.order != 0, c.order <= 0, c.order >= 0}));
    }
    EXPECT_EQ(ustring("b").compare(ustring("a")), 1);  // the difference of the bytes
    EXPECT_EQ(ustring("abcX").compare(ustring("abcY"), 3), 0);
    EXPECT_LT(ustring("abcX").compare(ustring("abcY"), 4), 0);
    EXPECT_EQ(ustring("x").compare(ustring("y"), 0), 0);
    EXPECT_LT(ustring("ab").compare(ustring("abc"), 10), 0);
    EXPECT_GT(ustring("a").append('\0', 1).compare(ustring("a")), 0);  // a zero byte inside still counts
}

TEST(UstringUnicode, NormalizeAndIsValid)
{
    std::string decomposed, composed;
    for (int i = 0; i < 200; ++i)
        decomposed += "Ame\xcc\x81lie ", composed += "Am\xc3\xa9lie ";
    const auto NFC = ustring::NFC, NFD = ustring::NFD;
    struct Case { std::string text; ustring::normalization_form form; std::string expected; };
    for (const Case& c : std::vector<Case>{{"e\xcc\x81", NFC, "\xc3\xa9"}, {"\xc3\xa9", NFD, "e\xcc\x81"}, {"", NFD, ""},
                                           {"\xea\xb0\x80", NFD, "\xe1\x84\x80\xe1\x85\xa1"},  // grows
                                           {"plain/path", NFC, "plain/path"}, {decomposed, NFC, composed}}) {
        const ustring source(c.text);
        ustring result = ustring::normalize(source, c.form);
        EXPECT_EQ(bytes_of(result), c.expected) << c.text;
        EXPECT_EQ(utf16_of(result), utf16_of(ustring(c.expected))) << c.text;
        EXPECT_EQ(bytes_of(source.normalize(c.form)), c.expected) << c.text;
        EXPECT_EQ(bytes_of(source), c.text);  // source untouched
    }
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ustring("x\x80").normalize(ustring::NFC).empty());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Warning: u_strFromUTF8: error code"), std::string::npos);

    for (const char* valid : {"", "ascii", "\xc3\xa9\xf0\x9f\x98\x80"})
        EXPECT_TRUE(ustring::is_valid(ustring(valid))) << valid;
    for (const char* invalid : {"\x80", "ab\xc3", "\xc0\xaf", "\xed\xa0\x80"})  // lone, truncated, overlong, surrogate
        EXPECT_FALSE(ustring::is_valid(ustring(invalid))) << invalid;
}
