#include "stored_settings.h"

#include <strings.h>

#include <fstream>

#include "kz_platform.h"

namespace kztool {

namespace {
constexpr char kSystemSettings[] = "\\NandFlash\\Application\\Profile\\KZ_SysSettings.ini";
constexpr char kDefaultDataPath[] = "\\BACKUP\\KZ_Config\\";
constexpr char kUserSettingsName[] = "BTSetting.ini";
constexpr char kEmptySlotId[] = "255";
constexpr int kSlots = 5;

std::string Trimmed(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}
}  // namespace

std::optional<std::string> ReadIniValue(const std::string& unitPath, const std::string& section,
                                        const std::string& key) {
    char hostPath[4096];
    if (!KzMapPath(unitPath.c_str(), hostPath, sizeof hostPath)) return std::nullopt;
    std::ifstream in(hostPath);
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        line = Trimmed(line);
        if (!line.empty() && line[0] == '[') {
            const size_t end = line.find(']');
            inSection = end != std::string::npos && strcasecmp(line.substr(1, end - 1).c_str(), section.c_str()) == 0;
            continue;
        }
        const size_t eq = line.find('=');
        if (inSection && eq != std::string::npos && strcasecmp(Trimmed(line.substr(0, eq)).c_str(), key.c_str()) == 0)
            return Trimmed(line.substr(eq + 1));
    }
    return std::nullopt;
}

std::string UserSettingsPath() {
    const auto dir = ReadIniValue(kSystemSettings, "DATAPATH", "PATH");
    return (dir && !dir->empty() ? *dir : std::string(kDefaultDataPath)) + kUserSettingsName;
}

bool PairedSlotUsed(int slot) {
    if (slot < 0 || slot >= kSlots) return false;
    const auto id = ReadIniValue(kRegistryPath, "Device" + std::to_string(slot), "id");
    const auto address = ReadIniValue(kRegistryPath, "Device" + std::to_string(slot), "address");
    return id && *id != kEmptySlotId && address && !address->empty();
}

}  // namespace kztool
