#include "ustring.h"

#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>
#include <utility>

static_assert(sizeof(unsigned short) == sizeof(UChar), "UTF-16 unit size differs from ICU's");
static_assert(alignof(unsigned short) == alignof(UChar), "UTF-16 unit alignment differs from ICU's");

namespace {

const size_t kInitialCapacity = 4;

UChar* icu_units(unsigned short* p)
{
    return reinterpret_cast<UChar*>(p);
}

// ICU takes capacities as int32_t; a larger buffer is reported as smaller.
int32_t icu_capacity(size_t cap)
{
    return cap > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(cap);
}

void warn(const char* call, UErrorCode status, int line)
{
    std::cerr << "Warning: " << call << ": error code " << static_cast<int>(status)
              << " at line " << line << std::endl;
}

size_t unit_length(const unsigned short* s, size_t max)
{
    size_t n = 0;
    while (n < max && s[n] != 0)
        ++n;
    return n;
}

size_t byte_length(const char* s)
{
    return s ? std::strlen(s) : 0;
}

size_t byte_length(const char* s, size_t max)
{
    return s ? strnlen(s, max) : 0;
}

// Marks the bytes of a zero-terminated set; a multi-byte character stands
// for each of its bytes.
struct ByteSet
{
    bool member[256];
    bool empty;

    explicit ByteSet(const char* set)
        : member(), empty(true)
    {
        if (!set)
            return;
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(set); *p; ++p) {
            member[*p] = true;
            empty = false;
        }
    }

    bool contains(char c) const { return member[static_cast<unsigned char>(c)]; }
};

// Folds the ASCII capitals A to Z onto the small letters; every other byte
// is its own image.
struct AsciiFoldTable
{
    unsigned char map[256];

    AsciiFoldTable()
    {
        for (int i = 0; i < 256; ++i)
            map[i] = static_cast<unsigned char>(i);
        for (int c = 'A'; c <= 'Z'; ++c)
            map[c] = static_cast<unsigned char>(c - 'A' + 'a');
    }
};

const AsciiFoldTable kFold;

// Compares at most limit bytes of a and b as unsigned values; the result is
// the difference of the first pair of bytes that differ.
int compare_bytes(const char* a, size_t alen, const char* b, size_t blen, size_t limit,
                  const unsigned char* fold)
{
    const unsigned char* ua = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* ub = reinterpret_cast<const unsigned char*>(b);
    size_t common = alen < blen ? alen : blen;
    if (common > limit)
        common = limit;
    for (size_t i = 0; i < common; ++i) {
        int ca = fold ? fold[ua[i]] : ua[i];
        int cb = fold ? fold[ub[i]] : ub[i];
        if (ca != cb)
            return ca - cb;
    }
    if (common == limit || alen == blen)
        return 0;
    // One text ends here: its terminator meets the other's next byte.
    int diff = static_cast<int>(ua[common]) - static_cast<int>(ub[common]);
    if (diff != 0)
        return diff;
    return alen < blen ? -1 : 1;
}

} // namespace

// ---------------------------------------------------------------- lifetime

void ustring::init()
{
    data = nullptr;
    wdata = nullptr;
    data_len = 0;
    wdata_len = 0;
    data_cap = 0;
    wdata_cap = 0;
    data = static_cast<char*>(std::malloc(kInitialCapacity));
    if (!data)
        throw std::bad_alloc();
    wdata = static_cast<unsigned short*>(std::malloc(kInitialCapacity * sizeof(unsigned short)));
    if (!wdata) {
        std::free(data);
        throw std::bad_alloc();
    }
    data[0] = 0;
    wdata[0] = 0;
    data_cap = kInitialCapacity;
    wdata_cap = kInitialCapacity;
}

ustring::ustring()
{
    init();
}

ustring::ustring(const ustring& s)
{
    init();
    try {
        append_bytes(s.data, s.data_len);
    } catch (...) {
        std::free(data);
        std::free(wdata);
        throw;
    }
}

ustring::ustring(const char* s)
{
    init();
    try {
        append(s);
    } catch (...) {
        std::free(data);
        std::free(wdata);
        throw;
    }
}

ustring::ustring(const unsigned short* s)
{
    init();
    try {
        append(s);
    } catch (...) {
        std::free(data);
        std::free(wdata);
        throw;
    }
}

ustring::ustring(const std::string& s)
{
    init();
    try {
        append(s.c_str());
    } catch (...) {
        std::free(data);
        std::free(wdata);
        throw;
    }
}

ustring::ustring(char c)
{
    init();
    try {
        append(c, 1);
    } catch (...) {
        std::free(data);
        std::free(wdata);
        throw;
    }
}

ustring::~ustring()
{
    std::free(data);
    std::free(wdata);
}

void ustring::swap(ustring& other)
{
    std::swap(data, other.data);
    std::swap(data_len, other.data_len);
    std::swap(data_cap, other.data_cap);
    std::swap(wdata, other.wdata);
    std::swap(wdata_len, other.wdata_len);
    std::swap(wdata_cap, other.wdata_cap);
}

void swap(ustring& a, ustring& b)
{
    a.swap(b);
}

// ------------------------------------------------------------------ growth

// Keeps the buffer when it holds need bytes and is at most twice as large;
// otherwise reallocates it to exactly need bytes.
void ustring::realloc_data(size_t need)
{
    if (need <= data_cap && data_cap / 2 <= need)
        return;
    char* p = static_cast<char*>(std::realloc(data, need));
    if (!p)
        throw std::bad_alloc();
    data = p;
    data_cap = need;
}

void ustring::realloc_wdata(size_t need) const
{
    if (need <= wdata_cap && wdata_cap / 2 <= need)
        return;
    if (need > static_cast<size_t>(-1) / sizeof(unsigned short))
        throw std::bad_alloc();
    unsigned short* p = static_cast<unsigned short*>(std::realloc(wdata, need * sizeof(unsigned short)));
    if (!p)
        throw std::bad_alloc();
    wdata = p;
    wdata_cap = need;
}

// ------------------------------------------------------------- conversion

void ustring::clear_data()
{
    data_len = 0;
    data[0] = 0;
}

void ustring::clear_wdata() const
{
    wdata_len = 0;
    wdata[0] = 0;
}

void ustring::clear()
{
    clear_data();
    clear_wdata();
}

int ustring::convert_from_data() const
{
    if (data_len == 0) {
        clear_wdata();
        return 0;
    }
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, data, -1, &status);
    status = U_ZERO_ERROR;
    realloc_wdata(static_cast<size_t>(length < 0 ? 0 : length) + 1);
    u_strFromUTF8(icu_units(wdata), icu_capacity(wdata_cap), &length, data, -1, &status);
    if (U_FAILURE(status)) {
        warn("u_strFromUTF8", status, __LINE__);
        clear_wdata();
        return -1;
    }
    wdata_len = static_cast<size_t>(length);
    wdata[wdata_len] = 0;
    return 0;
}

int ustring::convert_from_wdata()
{
    if (wdata_len == 0) {
        clear_data();
        return 0;
    }
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8(nullptr, 0, &length, icu_units(wdata), -1, &status);
    status = U_ZERO_ERROR;
    realloc_data(static_cast<size_t>(length < 0 ? 0 : length) + 1);
    u_strToUTF8(data, icu_capacity(data_cap), &length, icu_units(wdata), -1, &status);
    if (U_FAILURE(status)) {
        warn("u_strToUTF8", status, __LINE__);
        clear();
        return -1;
    }
    data_len = static_cast<size_t>(length);
    data[data_len] = 0;
    return 0;
}

void ustring::prepare_utf16() const
{
    if (wdata_len == 0 && data_len != 0)
        convert_from_data();
}

// ---------------------------------------------------------------- append

// Whether s points into the text held in one of the string's own buffers.
bool ustring::owns_bytes(const char* s) const
{
    const uintptr_t p = reinterpret_cast<uintptr_t>(s);
    const uintptr_t begin = reinterpret_cast<uintptr_t>(data);
    return p >= begin && p <= begin + data_len;
}

bool ustring::owns_units(const unsigned short* s) const
{
    const uintptr_t p = reinterpret_cast<uintptr_t>(s);
    const uintptr_t begin = reinterpret_cast<uintptr_t>(wdata);
    return p >= begin && p <= begin + wdata_len * sizeof(unsigned short);
}

// Appends len bytes; s may point into the string's own text, which a growth
// may move, so the source is found again by its offset.
ustring& ustring::append_bytes(const char* s, size_t len)
{
    if (len == 0)
        return *this;
    if (len > static_cast<size_t>(-1) - data_len - 1)
        throw std::bad_alloc();
    const bool own = owns_bytes(s);
    const size_t offset = own ? static_cast<size_t>(s - data) : 0;
    realloc_data(data_len + len + 1);
    const char* src = own ? data + offset : s;
    std::memcpy(data + data_len, src, len);
    data_len += len;
    data[data_len] = 0;
    clear_wdata();
    return *this;
}

ustring& ustring::append(const char* s)
{
    if (owns_bytes(s))
        return append_bytes(s, byte_length(s, data_len - static_cast<size_t>(s - data)));
    return append_bytes(s, byte_length(s));
}

ustring& ustring::append(const char* s, size_t n)
{
    if (owns_bytes(s)) {
        size_t avail = data_len - static_cast<size_t>(s - data);
        return append_bytes(s, byte_length(s, n < avail ? n : avail));
    }
    return append_bytes(s, byte_length(s, n));
}

ustring& ustring::append(const std::string& s, size_t pos, size_t n)
{
    std::string part(s, pos, n);
    return append(part.c_str());
}

ustring& ustring::append(const ustring& s, size_t pos, size_t n)
{
    ustring part = s.substr(pos, n);
    return append_bytes(part.data, part.data_len);
}

ustring& ustring::append(char c, size_t n)
{
    if (n == 0)
        return *this;
    if (n > static_cast<size_t>(-1) - data_len - 1)
        throw std::bad_alloc();
    realloc_data(data_len + n + 1);
    std::memset(data + data_len, c, n);
    data_len += n;
    data[data_len] = 0;
    clear_wdata();
    return *this;
}

// Appends len units to the UTF-16 form and rebuilds the UTF-8 text from it.
// s may point into the string's own UTF-16 form.
ustring& ustring::append_units(const unsigned short* s, size_t len)
{
    if (len > static_cast<size_t>(-1) / sizeof(unsigned short) - wdata_len - 1)
        throw std::bad_alloc();
    const bool own = owns_units(s);
    const size_t offset = own ? static_cast<size_t>(s - wdata) : 0;
    realloc_wdata(wdata_len + len + 1);
    const unsigned short* src = own ? wdata + offset : s;
    if (len)
        std::memcpy(wdata + wdata_len, src, len * sizeof(unsigned short));
    wdata_len += len;
    wdata[wdata_len] = 0;
    convert_from_wdata();
    return *this;
}

ustring& ustring::append(const unsigned short* s)
{
    return append(s, npos);
}

ustring& ustring::append(const unsigned short* s, size_t n)
{
    size_t len = 0;
    if (owns_units(s)) {
        // The caller's text is the UTF-16 form as it stands now.
        size_t avail = wdata_len - static_cast<size_t>(s - wdata);
        len = unit_length(s, n < avail ? n : avail);
        if (len == 0)
            return *this;
    } else {
        len = s ? unit_length(s, n) : 0;
        if (len == 0)
            return *this;
        prepare_utf16();
    }
    return append_units(s, len);
}

ustring& ustring::append(unsigned short u, size_t n)
{
    if (n == 0)
        return *this;
    prepare_utf16();
    if (n > static_cast<size_t>(-1) / sizeof(unsigned short) - wdata_len - 1)
        throw std::bad_alloc();
    realloc_wdata(wdata_len + n + 1);
    for (size_t i = 0; i < n; ++i)
        wdata[wdata_len + i] = u;
    wdata_len += n;
    wdata[wdata_len] = 0;
    convert_from_wdata();
    return *this;
}

// ---------------------------------------------------------------- assign

// Assigning a part of the string's own text: the part moves to the front.
ustring& ustring::assign_own_bytes(const char* s, size_t n)
{
    const size_t offset = static_cast<size_t>(s - data);
    const size_t avail = data_len - offset;
    const size_t len = byte_length(s, n < avail ? n : avail);
    if (offset == 0 && len == data_len)
        return *this;
    std::memmove(data, s, len);
    data_len = len;
    data[data_len] = 0;
    clear_wdata();
    return *this;
}

ustring& ustring::assign_own_units(const unsigned short* s, size_t n)
{
    const size_t offset = static_cast<size_t>(s - wdata);
    const size_t avail = wdata_len - offset;
    const size_t len = unit_length(s, n < avail ? n : avail);
    if (offset == 0 && len == wdata_len)
        return *this;
    std::memmove(wdata, s, len * sizeof(unsigned short));
    wdata_len = len;
    wdata[wdata_len] = 0;
    convert_from_wdata();
    return *this;
}

ustring& ustring::assign(const ustring& s, size_t pos, size_t n)
{
    if (&s == this) {
        ustring part = s.substr(pos, n);
        clear();
        return append_bytes(part.data, part.data_len);
    }
    if (pos > s.data_len)
        throw std::out_of_range("substr");
    clear();
    size_t avail = s.data_len - pos;
    return append(s.data + pos, n < avail ? n : avail);
}

ustring& ustring::assign(const char* s)
{
    if (owns_bytes(s))
        return assign_own_bytes(s, npos);
    clear();
    return append(s);
}

ustring& ustring::assign(const char* s, size_t n)
{
    if (owns_bytes(s))
        return assign_own_bytes(s, n);
    clear();
    return append(s, n);
}

ustring& ustring::assign(const std::string& s, size_t pos, size_t n)
{
    std::string part(s, pos, n);
    clear();
    return append(part.c_str());
}

ustring& ustring::assign(char c, size_t n)
{
    clear();
    return append(c, n);
}

ustring& ustring::assign(const unsigned short* s)
{
    if (owns_units(s))
        return assign_own_units(s, npos);
    clear();
    return append(s);
}

ustring& ustring::assign(const unsigned short* s, size_t n)
{
    if (owns_units(s))
        return assign_own_units(s, n);
    clear();
    return append(s, n);
}

ustring& ustring::assign(unsigned short u, size_t n)
{
    clear();
    return append(u, n);
}

// ------------------------------------------------------------- operators

ustring& ustring::operator=(const ustring& s) { return assign(s, 0, npos); }
ustring& ustring::operator=(const std::string& s) { return assign(s, 0, npos); }
ustring& ustring::operator=(const char* s) { return assign(s); }
ustring& ustring::operator=(const unsigned short* s) { return assign(s); }
ustring& ustring::operator=(char c) { return assign(c, 1); }
ustring& ustring::operator=(unsigned short u) { return assign(u, 1); }

ustring& ustring::operator+=(const ustring& s) { return append(s, 0, npos); }
ustring& ustring::operator+=(const std::string& s) { return append(s, 0, npos); }
ustring& ustring::operator+=(const char* s) { return append(s); }
ustring& ustring::operator+=(const unsigned short* s) { return append(s); }
ustring& ustring::operator+=(char c) { return append(c, 1); }
ustring& ustring::operator+=(unsigned short u) { return append(u, 1); }

ustring operator+(const ustring& a, const ustring& b)
{
    ustring r(a);
    r.append(b, 0, ustring::npos);
    return r;
}

ustring operator+(const ustring& a, const char* b)
{
    ustring r(a);
    r.append(b);
    return r;
}

ustring operator+(const ustring& a, char b)
{
    ustring r(a);
    r.append(b, 1);
    return r;
}

ustring operator+(const ustring& a, const unsigned short* b)
{
    ustring r(a);
    r.append(b);
    return r;
}

ustring operator+(const ustring& a, unsigned short b)
{
    ustring r(a);
    r.append(b, 1);
    return r;
}

// ---------------------------------------------------------------- access

const char* ustring::c_str() const { return data; }
const char* ustring::c_str_utf8() const { return data; }

const unsigned short* ustring::c_str_utf16() const
{
    if (wdata_len == 0)
        convert_from_data();
    return wdata;
}

size_t ustring::length() const { return data_len; }
size_t ustring::size() const { return data_len; }
bool ustring::empty() const { return data_len == 0; }
char ustring::operator[](size_t i) const { return data[i]; }
char& ustring::operator[](size_t i) { return data[i]; }

ustring ustring::substr(size_t pos, size_t n) const
{
    if (pos > data_len)
        throw std::out_of_range("substr");
    size_t count = (n != npos && n <= data_len) ? n : data_len;
    size_t avail = data_len - pos;
    ustring r;
    r.append(data + pos, count < avail ? count : avail);
    return r;
}

// ---------------------------------------------------------------- search

size_t ustring::backward_start(size_t pos) const
{
    return (pos == npos || pos >= data_len) ? data_len - 1 : pos;
}

size_t ustring::find_bytes(const char* s, size_t slen, size_t pos) const
{
    if (pos >= data_len)
        return npos;
    if (slen == 0)
        return pos;
    if (slen > data_len - pos)
        return npos;
    const char* last = data + (data_len - slen);
    const char* p = data + pos;
    while (p <= last) {
        p = static_cast<const char*>(std::memchr(p, s[0], static_cast<size_t>(last - p) + 1));
        if (!p)
            return npos;
        if (std::memcmp(p + 1, s + 1, slen - 1) == 0)
            return static_cast<size_t>(p - data);
        ++p;
    }
    return npos;
}

size_t ustring::rfind_bytes(const char* s, size_t slen, size_t pos) const
{
    if (data_len == 0)
        return npos;
    size_t start = backward_start(pos);
    if (slen == 0)
        return start;
    if (slen > data_len)
        return npos;
    if (start > data_len - slen)
        start = data_len - slen;
    for (size_t i = start + 1; i-- > 0;) {
        if (data[i] == s[0] && std::memcmp(data + i + 1, s + 1, slen - 1) == 0)
            return i;
    }
    return npos;
}

// Forward scan for the first byte whose membership in the set equals member.
size_t ustring::find_first_of_bytes(const char* s, size_t pos, bool member) const
{
    if (pos >= data_len)
        return npos;
    ByteSet set(s);
    if (set.empty)
        return member ? npos : pos;
    for (size_t i = pos; i < data_len; ++i) {
        if (set.contains(data[i]) == member)
            return i;
    }
    return npos;
}

size_t ustring::find_last_of_bytes(const char* s, size_t pos, bool member) const
{
    if (data_len == 0)
        return npos;
    size_t start = backward_start(pos);
    ByteSet set(s);
    if (set.empty)
        return member ? npos : start;
    for (size_t i = start + 1; i-- > 0;) {
        if (set.contains(data[i]) == member)
            return i;
    }
    return npos;
}

size_t ustring::find(const std::string& s, size_t pos) const { return find_bytes(s.c_str(), byte_length(s.c_str()), pos); }
size_t ustring::find(const char* s, size_t pos) const { return find_bytes(s, byte_length(s), pos); }
size_t ustring::find(const ustring& s, size_t pos) const { return find_bytes(s.data, byte_length(s.data), pos); }
size_t ustring::find(char c, size_t pos) const { return find_bytes(&c, c ? 1 : 0, pos); }

size_t ustring::rfind(const std::string& s, size_t pos) const { return rfind_bytes(s.c_str(), byte_length(s.c_str()), pos); }
size_t ustring::rfind(const char* s, size_t pos) const { return rfind_bytes(s, byte_length(s), pos); }
size_t ustring::rfind(const ustring& s, size_t pos) const { return rfind_bytes(s.data, byte_length(s.data), pos); }
size_t ustring::rfind(char c, size_t pos) const { return rfind_bytes(&c, c ? 1 : 0, pos); }

size_t ustring::find_first_of(const std::string& s, size_t pos) const { return find_first_of_bytes(s.c_str(), pos, true); }
size_t ustring::find_first_of(const char* s, size_t pos) const { return find_first_of_bytes(s, pos, true); }
size_t ustring::find_first_of(const ustring& s, size_t pos) const { return find_first_of_bytes(s.data, pos, true); }
size_t ustring::find_first_of(char c, size_t pos) const
{
    const char set[2] = { c, 0 };
    return find_first_of_bytes(set, pos, true);
}

size_t ustring::find_first_not_of(const std::string& s, size_t pos) const { return find_first_of_bytes(s.c_str(), pos, false); }
size_t ustring::find_first_not_of(const char* s, size_t pos) const { return find_first_of_bytes(s, pos, false); }
size_t ustring::find_first_not_of(const ustring& s, size_t pos) const { return find_first_of_bytes(s.data, pos, false); }
size_t ustring::find_first_not_of(char c, size_t pos) const
{
    const char set[2] = { c, 0 };
    return find_first_of_bytes(set, pos, false);
}

size_t ustring::find_last_of(const std::string& s, size_t pos) const { return find_last_of_bytes(s.c_str(), pos, true); }
size_t ustring::find_last_of(const char* s, size_t pos) const { return find_last_of_bytes(s, pos, true); }
size_t ustring::find_last_of(const ustring& s, size_t pos) const { return find_last_of_bytes(s.data, pos, true); }
size_t ustring::find_last_of(char c, size_t pos) const
{
    const char set[2] = { c, 0 };
    return find_last_of_bytes(set, pos, true);
}

size_t ustring::find_last_not_of(const std::string& s, size_t pos) const { return find_last_of_bytes(s.c_str(), pos, false); }
size_t ustring::find_last_not_of(const char* s, size_t pos) const { return find_last_of_bytes(s, pos, false); }
size_t ustring::find_last_not_of(const ustring& s, size_t pos) const { return find_last_of_bytes(s.data, pos, false); }
size_t ustring::find_last_not_of(char c, size_t pos) const
{
    const char set[2] = { c, 0 };
    return find_last_of_bytes(set, pos, false);
}

// ------------------------------------------------------------------ trims

void ustring::ltrim_bytes(const char* s)
{
    ByteSet set(s);
    if (set.empty || data_len == 0)
        return;
    size_t k = 0;
    while (k < data_len && set.contains(data[k]))
        ++k;
    if (k == 0)
        return;
    std::memmove(data, data + k, data_len - k + 1);
    data_len -= k;
    clear_wdata();
}

void ustring::rtrim_bytes(const char* s)
{
    ByteSet set(s);
    if (set.empty || data_len == 0)
        return;
    size_t end = data_len;
    while (end > 0 && set.contains(data[end - 1]))
        --end;
    if (end == data_len)
        return;
    data_len = end;
    data[data_len] = 0;
    clear_wdata();
}

// The set is read into a table before the text changes, so a string may be
// trimmed by a set that is the string itself.
void ustring::ltrim(const ustring& set) { ltrim_bytes(set.data); }
void ustring::ltrim(const char* set) { ltrim_bytes(set); }
void ustring::rtrim(const ustring& set) { rtrim_bytes(set.data); }
void ustring::rtrim(const char* set) { rtrim_bytes(set); }

void ustring::trim(const ustring& set)
{
    if (&set == this) {
        ustring copy(set);
        trim(copy);
        return;
    }
    ltrim_bytes(set.data);
    rtrim_bytes(set.data);
}

void ustring::trim(const char* set)
{
    if (owns_bytes(set)) {
        ustring copy(set);
        trim(copy);
        return;
    }
    ltrim_bytes(set);
    rtrim_bytes(set);
}

void ustring::replace(char from, char to)
{
    for (size_t i = 0; i < data_len; ++i) {
        if (data[i] == from)
            data[i] = to;
    }
    clear_wdata();
}

// ------------------------------------------------------------- comparison

int ustring::compare(const ustring& other) const
{
    return compare_bytes(data, data_len, other.data, other.data_len, npos, nullptr);
}

int ustring::compare(const ustring& other, size_t n) const
{
    return compare_bytes(data, data_len, other.data, other.data_len, n, nullptr);
}

int ustring::compare(const ustring& a, const ustring& b, bool ignore_case)
{
    return compare_bytes(a.data, a.data_len, b.data, b.data_len, npos,
                         ignore_case ? kFold.map : nullptr);
}

bool operator<(const ustring& a, const ustring& b) { return a.compare(b) < 0; }
bool operator>(const ustring& a, const ustring& b) { return a.compare(b) > 0; }
bool operator==(const ustring& a, const ustring& b) { return a.compare(b) == 0; }
bool operator!=(const ustring& a, const ustring& b) { return a.compare(b) != 0; }
bool operator<=(const ustring& a, const ustring& b) { return a.compare(b) <= 0; }
bool operator>=(const ustring& a, const ustring& b) { return a.compare(b) >= 0; }

// ---------------------------------------------------------------- Unicode

bool ustring::is_valid(const ustring& s)
{
    if (s.data_len == 0)
        return true;
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, s.data, -1, &status);
    return status != U_INVALID_CHAR_FOUND;
}

ustring ustring::normalize(const ustring& s, normalization_form form)
{
    ustring result;
    if (s.data_len == 0)
        return result;

    // Any form other than NFD composes.
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* norm = unorm2_getInstance(
        nullptr, "nfc", form == NFD ? UNORM2_DECOMPOSE : UNORM2_COMPOSE, &status);
    if (!norm || U_FAILURE(status)) {
        warn("unorm2_getInstance", status, __LINE__);
        return result;
    }

    s.prepare_utf16();

    int32_t length = unorm2_normalize(norm, icu_units(s.wdata), -1, nullptr, 0, &status);
    status = U_ZERO_ERROR;
    result.realloc_wdata(static_cast<size_t>(length < 0 ? 0 : length) + 1);
    length = unorm2_normalize(norm, icu_units(s.wdata), -1, icu_units(result.wdata),
                              icu_capacity(result.wdata_cap), &status);
    if (U_FAILURE(status)) {
        warn("unorm2_normalize", status, __LINE__);
        result.clear();
        return result;
    }
    result.wdata_len = static_cast<size_t>(length);
    result.wdata[result.wdata_len] = 0;
    result.convert_from_wdata();
    return result;
}

ustring ustring::normalize(normalization_form form) const
{
    return normalize(*this, form);
}

// ---------------------------------------------------------------- streams

std::ostream& operator<<(std::ostream& os, const ustring& s)
{
    return os.write(s.c_str(), static_cast<std::streamsize>(s.length()));
}

std::istream& operator>>(std::istream& is, ustring& s)
{
    std::string word;
    if (is >> word)
        s.assign(word, 0, ustring::npos);
    return is;
}
