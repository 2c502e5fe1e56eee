// INI engine over whole-file texts of up to 1 MiB, with prefix matching of
// section and key names (stored files rely on these rules).
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz {

// A settings file holds a few hundred bytes, a registry of five phones a few
// kilobytes; 1 MiB leaves room for anything a head unit keeps there and still
// bounds what a damaged or foreign file costs to read.
inline constexpr size_t kIniBufferSize = 1024 * 1024;
// A file text is at most this long: one byte of the buffer stays the terminating zero.
inline constexpr size_t kIniMaxText = kIniBufferSize - 1;
inline constexpr size_t kIniPathSize = 260;

// Positions of a lookup in a file text, each -1 until set.
struct IniPositions {
    long sectionStart = -1;   // first character of the matched section name
    long bodyStart = -1;      // first non-white-space character after the header's "]"
    long keyStart = -1;       // first character of the matched key line
    long keyEnd = -1;         // last character of the key text
    long valueStart = -1;     // character after the "="
    long valueEnd = -1;       // LF, CR or terminating zero that ends the value
};

// Looks a key up in a zero-terminated text. A header matches when `section`
// begins with its name; a key line matches when `key` begins with its key text.
bool IniFindKey(const char* section, const char* key, const char* text, IniPositions* pos);

int IniReadString(const char* section, const char* key, char* out, size_t size,
                  const char* defaultText, const char* path);
int IniReadInt(const char* section, const char* key, int defaultValue, const char* path);
int IniWriteString(const char* section, const char* key, const char* value, const char* path);

// The setter exports return nothing, so a write of the user's settings or
// pairings that was refused or failed is told to the host as well:
// KZ_NOTIFY_SETTING_NOT_SAVED with `file` (1 settings, 2 pairings) and the key.
inline constexpr uint32_t kIniFileSettings = 1;
inline constexpr uint32_t kIniFilePairings = 2;
int IniWriteSetting(const char* section, const char* key, const char* value, const char* path,
                    uint32_t file);

void GetBluetoothIniPath(char out[kIniPathSize]);
void GetBtSettingPath(char out[kIniPathSize]);

}  // namespace kz
