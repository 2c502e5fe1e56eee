// INI engine, writing: whole-file rewrites that never lose the old content.
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
#include "settings/ini_text.h"

namespace kz {

namespace {

constexpr char kBluetoothIniName[] = "Bluetooth.ini";

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

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

}  // namespace kz
