#include "stored_settings.h"

#include "settings/ini_file.h"

namespace kztool {

namespace {
constexpr int kSlots = 5;
constexpr int kEmptySlot = 255;
constexpr size_t kValueLimit = 1024;
}  // namespace

// The library's own reader (src/settings/ini_read.cpp, built into this
// program as well): its prefix matching of section and key names decides
// what a setting holds, so the console cannot read a file another way.
std::optional<std::string> ReadIniValue(const std::string& unitPath, const std::string& section,
                                        const std::string& key) {
    char value[kValueLimit] = {};
    if (!kz::IniReadString(section.c_str(), key.c_str(), value, sizeof value, nullptr, unitPath.c_str()))
        return std::nullopt;
    return std::string(value);
}

std::string UserSettingsPath() {
    char path[kz::kIniPathSize] = {};
    kz::GetBtSettingPath(path);
    return path;
}

// Used as the library reads it at start: an id that is a slot number.
bool PairedSlotUsed(int slot) {
    if (slot < 0 || slot >= kSlots) return false;
    const int id = kz::IniReadInt(("Device" + std::to_string(slot)).c_str(), "id", kEmptySlot, kRegistryPath);
    return id != kEmptySlot && id >= 0 && id < kSlots;
}

}  // namespace kztool
