// Reader of small key=value text files (the log level file, the client's pid
// file) into an ordered map of strings.
//
// Line grammar: optional whitespace, a key made of letters, digits, '_', '-'
// and '.', optional whitespace, '=', optional whitespace, a value (bare, or
// enclosed in matching single or double quotes), optional whitespace and an
// optional '#' comment. Empty lines, comment lines and a line that ends right
// after its key are ignored. Any other line is a syntax error, which empties
// the whole map.
//
// Config is the map itself: callers look keys up and walk it in key order.
#pragma once

#include <cstddef>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>

class Config : public std::map<std::string, std::string> {
public:
    enum ParseResult {
        PARSE_PAIR = 0,
        PARSE_NOTHING = 1,
        PARSE_ERROR = 2,
    };

    // Lines are read in pieces of at most kLineBufferSize - 1 bytes.
    static constexpr int kLineBufferSize = 8192;

    // When true, a quoted value is stored with its quote characters.
    bool keep_quotes = false;

    // Reads the file into the map (without emptying it first). 0 on success;
    // -1 for an empty path, a file that cannot be opened, or a syntax error
    // (the map is then empty).
    int read(const std::string& path)
    {
        if (path.empty())
            return -1;
        FILE* fp = std::fopen(path.c_str(), "r");
        if (fp == nullptr)
            return -1;
        int result = readStream(fp);
        std::fclose(fp);
        return result;
    }

    // Parses one zero-terminated line in place. On PARSE_PAIR, *key and *value
    // point into `line`, which gets a zero byte after the key and after the
    // value. `length` is not used: the line ends at its first zero byte.
    int parse(char* line, size_t length, char** key, char** value) const
    {
        (void)length;
        unsigned char* p = reinterpret_cast<unsigned char*>(line);
        p = skipSpace(p);
        unsigned char* key_begin = p;
        while (isKeyChar(*p))
            ++p;
        unsigned char* key_end = p;
        if (*p == '\0' || *p == '#')
            return PARSE_NOTHING;
        p = skipSpace(p);
        if (*p != '=')
            return PARSE_ERROR;
        p = skipSpace(p + 1);
        if (*p == '\0')
            return PARSE_ERROR;

        unsigned char* value_begin;
        unsigned char* value_end;
        if (*p == '"' || *p == '\'') {
            unsigned char quote = *p;
            unsigned char* q = p + 1;
            while (*q != quote) {
                if (isControl(*q))
                    return PARSE_ERROR;
                ++q;
            }
            value_begin = keep_quotes ? p : p + 1;
            value_end = keep_quotes ? q + 1 : q;
            p = q + 1;
        } else {
            value_begin = p;
            while (*p != ' ' && !isControl(*p))
                ++p;
            value_end = p;
        }
        p = skipSpace(p);
        if (*p != '\0' && *p != '#')
            return PARSE_ERROR;

        // Terminate only once the whole line is known to be valid; the value
        // terminator may overwrite the byte the tail check just examined.
        *key_end = '\0';
        *value_end = '\0';
        *key = reinterpret_cast<char*>(key_begin);
        *value = reinterpret_cast<char*>(value_begin);
        return PARSE_PAIR;
    }

    // The key's value as a decimal int: 0 when it is empty or not a number; a
    // missing key is added with an empty value.
    int get_int(const std::string& key)
    {
        std::istringstream stream((*this)[key]);
        int number = 0;
        stream >> number;
        return number;
    }

private:
    int readStream(FILE* fp)
    {
        char buffer[kLineBufferSize];
        while (std::fgets(buffer, sizeof buffer, fp) != nullptr) {
            char* key = nullptr;
            char* value = nullptr;
            int rc = parse(buffer, sizeof buffer, &key, &value);
            if (rc == PARSE_PAIR) {
                (*this)[key] = value;
            } else if (rc == PARSE_ERROR) {
                clear();
                return -1;
            }
        }
        return 0;
    }

    static bool isSpace(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
    static bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }
    static bool isKeyChar(unsigned char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.';
    }
    static unsigned char* skipSpace(unsigned char* p)
    {
        while (isSpace(*p))
            ++p;
        return p;
    }
};
