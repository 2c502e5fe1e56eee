// INI engine, reading: one scanner over a whole-file text, prefix matching of
// section and key names. It needs nothing of the library but the platform's
// files, so `kztarn` reads stored settings with it too, by the same rules.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kz_platform.h"
#include "settings/ini_file.h"
#include "settings/ini_text.h"

namespace kz {

namespace {

constexpr char kSysSettingsPath[] = "\\NandFlash\\Application\\Profile\\KZ_SysSettings.ini";
constexpr char kDefaultDataPath[] = "\\BACKUP\\KZ_Config\\";
constexpr char kBtSettingName[] = "BTSetting.ini";
constexpr size_t kDataPathSize = 100;
constexpr size_t kIntTextSize = 32;

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }
bool IsLineEndOrZero(char c) { return c == '\0' || IsLineEnd(c); }
bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// `wanted` begins with the n characters at `text`.
bool StartsWith(const char* wanted, const char* text, size_t n) {
    return std::strncmp(wanted, text, n) == 0;
}

}  // namespace

IniText LoadIniText(const char* path) {
    constexpr size_t kChunk = 16384;
    IniText t;
    FILE* f = KzFopen(path, "r");
    if (!f) return t;
    t.opened = true;
    size_t n = 0;
    while (n < kIniMaxText) {
        t.buf.resize(std::min(n + kChunk, kIniMaxText) + 1);
        const size_t got = std::fread(t.buf.data() + n, 1, t.buf.size() - 1 - n, f);
        n += got;
        if (got == 0) break;
    }
    t.buf.resize(n + 1);
    t.buf[n] = '\0';
    if (n == kIniMaxText && std::fgetc(f) != EOF) t.oversized = true;
    std::fclose(f);
    return t;
}

bool IniFindKey(const char* section, const char* key, const char* text, IniPositions* pos) {
    long i = 0;
    for (;;) {
        if (text[i] == '\0') return false;
        if (i > 0 && !IsLineEnd(text[i - 1])) { ++i; continue; }
        if (text[i] != '[') { ++i; continue; }
        long s = i + 1;
        for (i = s; text[i] != '\0' && text[i] != ']'; ++i) {}
        if (!StartsWith(section, text + s, size_t(i - s))) continue;
        if (text[i] == ']') ++i;
        while (IsWhiteSpace(text[i])) ++i;
        pos->sectionStart = s;
        pos->bodyStart = i;
        // Lines of the section body, up to the next header or the end.
        for (;;) {
            if (IsLineEnd(text[i - 1]) && text[i] == '[') break;
            if (text[i] == '\0') break;
            long lineStart = i;
            while (!IsLineEndOrZero(text[i])) ++i;
            const char* line = text + lineStart;
            const char* eq = static_cast<const char*>(std::memchr(line, '=', size_t(i - lineStart)));
            bool skip = i == lineStart || line[0] == ';' || line[0] == '=' || eq == nullptr;
            if (!skip && StartsWith(key, line, size_t(eq - line))) {
                long eqPos = lineStart + long(eq - line);
                pos->keyStart = lineStart;
                pos->keyEnd = eqPos - 1;
                pos->valueStart = eqPos + 1;
                pos->valueEnd = i;
                return true;
            }
            // Step over one line-end character; never past the terminating zero.
            if (text[i] != '\0') ++i;
        }
    }
}

int IniReadString(const char* section, const char* key, char* out, size_t size,
                  const char* defaultText, const char* path) {
    if (!section || !key || !out || !path) return 0;
    IniText t = LoadIniText(path);
    IniPositions pos;
    if (t.opened && IniFindKey(section, key, t.c_str(), &pos)) {
        if (size == 0) return 1;
        size_t n = std::min(size - 1, size_t(pos.valueEnd - pos.valueStart));
        std::memset(out, 0, size);
        std::memcpy(out, t.c_str() + pos.valueStart, n);
        return 1;
    }
    if (defaultText && size > 0) {
        // Zero-padded copy, always terminated (a default that fills the buffer is cut).
        std::memset(out, 0, size);
        std::strncpy(out, defaultText, size - 1);
    }
    return 0;
}

int IniReadInt(const char* section, const char* key, int defaultValue, const char* path) {
    char text[kIntTextSize] = {};
    if (!IniReadString(section, key, text, sizeof text, nullptr, path)) return defaultValue;
    return std::atoi(text);
}

void GetBtSettingPath(char out[kIniPathSize]) {
    char dir[kDataPathSize] = {};
    IniReadString("DATAPATH", "PATH", dir, sizeof dir, kDefaultDataPath, kSysSettingsPath);
    std::snprintf(out, kIniPathSize, "%s%s", dir, kBtSettingName);
}

}  // namespace kz
