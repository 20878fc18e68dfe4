#pragma once

#include "ustring.h"

#include <string>

// Reads the buffer fields that the public interface does not show.
struct ustring_inspector {
    static size_t data_cap(const ustring& s) { return s.data_cap; }
    static size_t wdata_cap(const ustring& s) { return s.wdata_cap; }
    static size_t wdata_len(const ustring& s) { return s.wdata_len; }
};

inline const unsigned short* units(const char16_t* s) { return reinterpret_cast<const unsigned short*>(s); }
inline std::u16string utf16_of(const ustring& s) { return reinterpret_cast<const char16_t*>(s.c_str_utf16()); }
inline std::string bytes_of(const ustring& s) { return std::string(s.c_str(), s.length()); }
