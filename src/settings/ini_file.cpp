// INI engine: one scanner over a whole-file text, prefix matching of section
// and key names, and whole-file rewrites that never lose the old content.
#include "settings/ini_file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/trace.h"
#include "events/notify.h"
#include "kz_platform.h"

namespace kz {

namespace {

constexpr char kSysSettingsPath[] = "\\NandFlash\\Application\\Profile\\KZ_SysSettings.ini";
constexpr char kDefaultDataPath[] = "\\BACKUP\\KZ_Config\\";
constexpr char kBtSettingName[] = "BTSetting.ini";
constexpr char kBluetoothIniName[] = "Bluetooth.ini";
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

// One file's text: at most kIniMaxText bytes, zero-terminated (a zero byte
// in the file ends the text there).
struct IniText {
    std::vector<char> buf = std::vector<char>(1, '\0');
    bool opened = false;
    bool oversized = false;   // the file holds more than kIniMaxText bytes
    const char* c_str() const { return buf.data(); }
    size_t length() const { return std::strlen(buf.data()); }
};

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

// Writers of one file in this process take turns, so that no read-modify-write
// works from a snapshot that another writer is about to replace.
std::mutex& IniWriteMutex() {
    static std::mutex m;
    return m;
}

// A value never carries a line end: it could start new keys or sections.
std::string SingleLineValue(const char* value) {
    std::string v = value ? value : "";
    for (char& c : v)
        if (IsLineEnd(c)) c = ' ';
    return v;
}

std::string SectionText(const char* section, const char* key, const std::string& value) {
    return std::string("[") + section + "]\n" + key + "=" + value + "\n";
}

// The new file text for one key set to `value` in the current text.
std::string BuildUpdatedText(const IniText& a, const char* section, const char* key,
                             const std::string& value) {
    const char* text = a.c_str();
    size_t length = a.length();
    IniPositions pos;
    bool found = IniFindKey(section, key, text, &pos);
    if (found) {
        return std::string(text, pos.valueStart) + value +
               std::string(text + pos.valueEnd, length - pos.valueEnd);
    }
    if (pos.sectionStart >= 0) {
        return std::string(text, pos.bodyStart) + key + "=" + value + "\n" +
               std::string(text + pos.bodyStart, length - pos.bodyStart);
    }
    if (length > 0) return std::string(text, length) + "\n" + SectionText(section, key, value);
    return SectionText(section, key, value);
}

}  // namespace

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

int IniWriteString(const char* section, const char* key, const char* value, const char* path) {
    if (!section || !key || !path) return 0;
    std::string clean = SingleLineValue(value);
    std::lock_guard<std::mutex> lock(IniWriteMutex());
    IniText a = LoadIniText(path);
    if (a.oversized) {
        KZ_TRACE("INI file too large, not rewritten: %s", path);
        return 0;
    }
    std::string b = a.opened ? BuildUpdatedText(a, section, key, clean)
                             : SectionText(section, key, clean);
    if (b.size() > kIniMaxText) {
        KZ_TRACE("INI write refused, %zu bytes do not fit: %s", b.size(), path);
        return 0;
    }
    if (!KzWriteFileAtomic(path, b.data(), b.size())) {
        KZ_TRACE("INI write failed: %s", path);
        return 0;
    }
    return 1;
}

int IniWriteSetting(const char* section, const char* key, const char* value, const char* path,
                    uint32_t file) {
    if (IniWriteString(section, key, value, path)) return 1;
    const char* name = key ? key : "";
    NotifyHost(KZ_NOTIFY_SETTING_NOT_SAVED, file, name, static_cast<uint32_t>(std::strlen(name)));
    return 0;
}

void GetBluetoothIniPath(char out[kIniPathSize]) {
    char exe[kIniPathSize] = {};
    KzGetModuleFileName(exe, sizeof exe);
    exe[kIniPathSize - 1] = '\0';
    const char* slash = std::strrchr(exe, '\\');
    int dirLength = slash ? int(slash - exe + 1) : 0;
    std::snprintf(out, kIniPathSize, "%.*s%s", dirLength, exe, kBluetoothIniName);
}

void GetBtSettingPath(char out[kIniPathSize]) {
    char dir[kDataPathSize] = {};
    IniReadString("DATAPATH", "PATH", dir, sizeof dir, kDefaultDataPath, kSysSettingsPath);
    std::snprintf(out, kIniPathSize, "%s%s", dir, kBtSettingName);
}

}  // namespace kz
