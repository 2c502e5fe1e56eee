// Service functions: firmware image load and the EEPROM record.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz {

void LoadFirmwareImage();                                   // on CFM 24
const uint8_t* LoadedFirmwareImage(size_t* size);
void WriteEepromRecord(const uint8_t* record, size_t length);
void BackupLinkKeysToEeprom();                              // event thread index 3

}  // namespace kz
