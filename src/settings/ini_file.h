// INI engine over whole-file buffers of 16384 bytes, with prefix matching of
// section and key names (stored files rely on these rules).
#pragma once
#include <cstddef>

namespace kz {

inline constexpr size_t kIniBufferSize = 16384;

int IniReadString(const char* section, const char* key, char* out, size_t size,
                  const char* defaultText, const char* path);
int IniReadInt(const char* section, const char* key, int defaultValue, const char* path);
int IniWriteString(const char* section, const char* key, const char* value, const char* path);

void GetBluetoothIniPath(char out[260]);
void GetBtSettingPath(char out[260]);

}  // namespace kz
