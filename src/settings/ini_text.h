// A settings file's whole text, as the INI engine's reader and writer see it.
#pragma once
#include <cstring>
#include <vector>

#include "settings/ini_file.h"

namespace kz {

// At most kIniMaxText bytes, zero-terminated (a zero byte in the file ends
// the text there).
struct IniText {
    std::vector<char> buf = std::vector<char>(1, '\0');
    bool opened = false;
    bool oversized = false;   // the file holds more than kIniMaxText bytes
    const char* c_str() const { return buf.data(); }
    size_t length() const { return std::strlen(buf.data()); }
};

IniText LoadIniText(const char* path);

}  // namespace kz
