// Service functions: firmware image load and the EEPROM record.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz {

inline constexpr char kFirmwareImagePath[] = "\\SD\\SW_Update\\Data\\Firmware.dfu";
inline constexpr char kEepromDevice[] = "E2P1:";
inline constexpr uint32_t kEepromWriteCode = 0x8000354C;   // type 0x8000, function 0xD53, buffered
inline constexpr size_t kEepromRecordSize = 1024;
inline constexpr size_t kLinkKeyBackupSize = 2048;
inline constexpr size_t kLinkKeyBackupEntry = 22;           // 6-byte address, 16-byte key

void LoadFirmwareImage();                                   // on CFM 24
// Inline handler of CFM 24 (receive thread): the confirmation's bytes are not used.
void OnFirmwareCfm(const uint8_t* msg, size_t len);
// The image of the last load (null, size 0 before one succeeded). Only for
// the receive thread and tests: a later load replaces it.
const uint8_t* LoadedFirmwareImage(size_t* size);
void WriteEepromRecord(const uint8_t* record, size_t length);
void BackupLinkKeysToEeprom();                              // event thread index 3

void ResetServiceState();

}  // namespace kz
