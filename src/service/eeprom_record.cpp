// EEPROM record: one buffered control call to the "E2P1:" driver with a
// 1024-byte record, and the link-key backup built for it.
#include <algorithm>
#include <cstring>
#include <vector>

#include "kz_platform.h"
#include "service/service.h"
#include "settings/registry.h"

namespace kz {

static_assert(sizeof(LinkKeyEntry) == kLinkKeyBackupEntry, "22 bytes per phone");

void WriteEepromRecord(const uint8_t* record, size_t length) {
    uint8_t transfer[kEepromRecordSize] = {};
    uint32_t control = 0;
    KzHandle dev = KzCreateFile(kEepromDevice, KZ_GENERIC_READ | KZ_GENERIC_WRITE, 0,
                                KZ_CREATE_ALWAYS, 0);
    if (dev == KZ_INVALID_HANDLE || dev == nullptr) {
        KzDebugPrint("Create E2P failed!  Error code=(%d)\n", int(KzGetLastError()));
        return;
    }
    if (record) std::memcpy(transfer, record, std::min(length, sizeof transfer));
    if (!KzDeviceIoControl(dev, kEepromWriteCode, &control, sizeof control, transfer,
                           sizeof transfer, nullptr))
        KzDebugPrint("Write e2prom fails!\n");
    KzCloseHandle(dev);
}

void BackupLinkKeysToEeprom() {
    std::vector<LinkKeyEntry> entries = LinkKeySnapshot();
    std::vector<uint8_t> buffer(kLinkKeyBackupSize, 0);
    size_t used = 0;
    for (const LinkKeyEntry& e : entries) {
        if (used + kLinkKeyBackupEntry > buffer.size()) break;   // 93 phones fill it
        std::memcpy(&buffer[used], e.address, sizeof e.address);
        std::memcpy(&buffer[used + sizeof e.address], e.key, sizeof e.key);
        used += kLinkKeyBackupEntry;
    }
    if (used > 0) WriteEepromRecord(buffer.data(), used);
}

}  // namespace kz
