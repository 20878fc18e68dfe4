// ustring: a string of UTF-8 bytes with a UTF-16 form built on demand.
//
// The UTF-8 buffer is the authoritative text. The UTF-16 buffer is either
// empty (not built yet) or exactly the conversion of the UTF-8 text. Every
// change made through the byte interface (char strings, std::string, char)
// resets the UTF-16 form; every change made through the UTF-16 interface
// (unsigned short strings and units) edits the UTF-16 form and then rebuilds
// the UTF-8 text from it.
//
// All positions, lengths and counts of the byte interface are UTF-8 bytes;
// the counts of the UTF-16 interface are code units. npos means "not found"
// as a result and "to the end" as a count or position.
//
// Allocation failures throw std::bad_alloc; substr (and append/assign with a
// ustring and a position) throw std::out_of_range("substr"). Conversion and
// normalisation failures never throw: they write one warning line to
// standard error and leave the affected form empty.
//
// A ustring has no lock: const operations may build the UTF-16 form.
#ifndef LUMORA_USTRING_H
#define LUMORA_USTRING_H

#include <cstddef>
#include <iosfwd>
#include <string>

class ustring
{
public:
    enum normalization_form
    {
        NFC = 0,    // composed
        NFD = 1     // decomposed
    };

    static constexpr size_t npos = static_cast<size_t>(-1);

    // Construction and lifetime
    ustring();
    ustring(const ustring& s);
    ustring(const char* s);
    ustring(const unsigned short* s);
    ustring(const std::string& s);
    ustring(char c);
    ~ustring();

    void swap(ustring& other);

    // Append family: each adds text at the end and returns the string itself.
    ustring& append(const char* s);
    ustring& append(const char* s, size_t n);
    ustring& append(const std::string& s, size_t pos = 0, size_t n = npos);
    ustring& append(const ustring& s, size_t pos = 0, size_t n = npos);
    ustring& append(char c, size_t n = 1);
    ustring& append(const unsigned short* s);
    ustring& append(const unsigned short* s, size_t n);
    ustring& append(unsigned short u, size_t n = 1);

    // Assign family: empties both forms, then appends as the matching append.
    ustring& assign(const ustring& s, size_t pos = 0, size_t n = npos);
    ustring& assign(const char* s);
    ustring& assign(const char* s, size_t n);
    ustring& assign(const std::string& s, size_t pos = 0, size_t n = npos);
    ustring& assign(char c, size_t n = 1);
    ustring& assign(const unsigned short* s);
    ustring& assign(const unsigned short* s, size_t n);
    ustring& assign(unsigned short u, size_t n = 1);

    ustring& operator=(const ustring& s);
    ustring& operator=(const std::string& s);
    ustring& operator=(const char* s);
    ustring& operator=(const unsigned short* s);
    ustring& operator=(char c);
    ustring& operator=(unsigned short u);

    ustring& operator+=(const ustring& s);
    ustring& operator+=(const std::string& s);
    ustring& operator+=(const char* s);
    ustring& operator+=(const unsigned short* s);
    ustring& operator+=(char c);
    ustring& operator+=(unsigned short u);

    // Access
    const char* c_str() const;
    const char* c_str_utf8() const;
    const unsigned short* c_str_utf16() const;
    size_t length() const;
    size_t size() const;
    bool empty() const;
    char operator[](size_t i) const;
    char& operator[](size_t i);
    ustring substr(size_t pos = 0, size_t n = npos) const;
    void clear();
    void clear_data();
    void clear_wdata() const;
    int convert_from_data() const;
    int convert_from_wdata();

    // Search family: byte positions or npos.
    size_t find(const std::string& s, size_t pos = 0) const;
    size_t find(const char* s, size_t pos = 0) const;
    size_t find(const ustring& s, size_t pos = 0) const;
    size_t find(char c, size_t pos = 0) const;

    size_t rfind(const std::string& s, size_t pos = npos) const;
    size_t rfind(const char* s, size_t pos = npos) const;
    size_t rfind(const ustring& s, size_t pos = npos) const;
    size_t rfind(char c, size_t pos = npos) const;

    size_t find_first_of(const std::string& s, size_t pos = 0) const;
    size_t find_first_of(const char* s, size_t pos = 0) const;
    size_t find_first_of(const ustring& s, size_t pos = 0) const;
    size_t find_first_of(char c, size_t pos = 0) const;

    size_t find_first_not_of(const std::string& s, size_t pos = 0) const;
    size_t find_first_not_of(const char* s, size_t pos = 0) const;
    size_t find_first_not_of(const ustring& s, size_t pos = 0) const;
    size_t find_first_not_of(char c, size_t pos = 0) const;

    size_t find_last_of(const std::string& s, size_t pos = npos) const;
    size_t find_last_of(const char* s, size_t pos = npos) const;
    size_t find_last_of(const ustring& s, size_t pos = npos) const;
    size_t find_last_of(char c, size_t pos = npos) const;

    size_t find_last_not_of(const std::string& s, size_t pos = npos) const;
    size_t find_last_not_of(const char* s, size_t pos = npos) const;
    size_t find_last_not_of(const ustring& s, size_t pos = npos) const;
    size_t find_last_not_of(char c, size_t pos = npos) const;

    // Editing in place
    void ltrim(const ustring& set);
    void ltrim(const char* set);
    void rtrim(const ustring& set);
    void rtrim(const char* set);
    void trim(const ustring& set);
    void trim(const char* set);
    void replace(char from, char to);

    // Comparison of the UTF-8 bytes as unsigned values.
    int compare(const ustring& other) const;
    int compare(const ustring& other, size_t n) const;
    static int compare(const ustring& a, const ustring& b, bool ignore_case);

    // Unicode
    static bool is_valid(const ustring& s);
    static ustring normalize(const ustring& s, normalization_form form);
    ustring normalize(normalization_form form) const;

private:
    // Read access to the buffer fields for the unit tests.
    friend struct ustring_inspector;

    void init();
    void realloc_data(size_t need);
    void realloc_wdata(size_t need) const;
    ustring& append_bytes(const char* s, size_t len);
    ustring& append_units(const unsigned short* s, size_t len);
    ustring& assign_own_bytes(const char* s, size_t n);
    ustring& assign_own_units(const unsigned short* s, size_t n);
    bool owns_bytes(const char* s) const;
    bool owns_units(const unsigned short* s) const;
    void prepare_utf16() const;
    void ltrim_bytes(const char* set);
    void rtrim_bytes(const char* set);

    size_t find_bytes(const char* s, size_t slen, size_t pos) const;
    size_t rfind_bytes(const char* s, size_t slen, size_t pos) const;
    size_t find_first_of_bytes(const char* s, size_t pos, bool member) const;
    size_t find_last_of_bytes(const char* s, size_t pos, bool member) const;
    size_t backward_start(size_t pos) const;

    char* data;
    size_t data_len;
    size_t data_cap;
    mutable unsigned short* wdata;
    mutable size_t wdata_len;
    mutable size_t wdata_cap;
};

void swap(ustring& a, ustring& b);

ustring operator+(const ustring& a, const ustring& b);
ustring operator+(const ustring& a, const char* b);
ustring operator+(const ustring& a, char b);
ustring operator+(const ustring& a, const unsigned short* b);
ustring operator+(const ustring& a, unsigned short b);

bool operator<(const ustring& a, const ustring& b);
bool operator>(const ustring& a, const ustring& b);
bool operator==(const ustring& a, const ustring& b);
bool operator!=(const ustring& a, const ustring& b);
bool operator<=(const ustring& a, const ustring& b);
bool operator>=(const ustring& a, const ustring& b);

std::ostream& operator<<(std::ostream& os, const ustring& s);
std::istream& operator>>(std::istream& is, ustring& s);

#endif // LUMORA_USTRING_H
