// Reading back what the library stored in its settings files, so that a
// command whose effect is only stored can show what the file now holds.
#pragma once
#include <optional>
#include <string>

namespace kztool {

// The value of key in section of the INI file at unitPath (a head-unit path
// such as "\\BACKUP\\KZ_Config\\BTSetting.ini"), or nothing when the file or
// the key is missing.
std::optional<std::string> ReadIniValue(const std::string& unitPath, const std::string& section,
                                        const std::string& key);

// The user settings file and the paired-device registry, where the library
// keeps them.
std::string UserSettingsPath();
inline constexpr char kRegistryPath[] = "\\BACKUP\\KZ_Config\\BlueTooth\\tarn.ini";

// Whether paired-device slot (0 to 4) holds a phone.
bool PairedSlotUsed(int slot);

}  // namespace kztool
