// Paired-device registry: five slots in tarn.ini, the current slot, and the
// deletion of a phone with its phonebook files.
#include "settings/registry.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/trace.h"
#include "events/connection.h"
#include "events/inquiry.h"
#include "events/notify.h"
#include "kz_platform.h"
#include "settings/ini_file.h"
#include "settings/registry_internal.h"

namespace kz {

std::atomic<int32_t> g_CurrConnectIndex{kEmptySlot};

namespace {

constexpr char kPhoneBookPath[] = "\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook%.2d.dat";
constexpr char kPhoneBookNumPath[] = "\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBookNum%.2d.dat";
constexpr char kUnknownText[] = "UnKnown";
constexpr size_t kNameReadLimit = sizeof(PairedDeviceRecord::name);   // 32
// Address and key texts are read whole, then judged: anything but exactly
// 12 or 32 digits gives the defaults. The record shows at most 12 characters,
// as a read limited to 13 would.
constexpr size_t kHexReadSize = 64;
constexpr uint32_t kDeviceInfoLen = 5;      // nLen of notification 64
constexpr uint32_t kDeviceDeletedParam = 1;

using SlotList = std::array<PairedDeviceRecord, kSlotCount>;

// The five slots; empty until the first load. Every access holds slotMutex,
// and so does each change together with its tarn.ini write, so the file and
// the list change in the same order. No callback into the host runs under it.
std::mutex slotMutex;
bool slotsLoaded = false;
SlotList slots;

bool IsSlotIndex(int n) { return n >= 0 && n < kSlotCount; }

struct SectionName {
    char text[16];
    explicit SectionName(int slot) { std::snprintf(text, sizeof text, "Device%d", slot); }
};

void WriteKey(int slot, const char* key, const char* value) {
    IniWriteSetting(SectionName(slot).text, key, value, kTarnIniPath, kIniFilePairings);
}

void WriteNumber(int slot, const char* key, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    WriteKey(slot, key, text);
}

void WriteKeyHex(int slot, const uint8_t key[kKeyBytes]) {
    char text[kKeyHexChars + 1];
    FormatHex(key, kKeyBytes, text);
    WriteKey(slot, "key", text);
}

struct LoadedSlot {
    PairedDeviceRecord record = EmptyRecord();
    DeviceInfoRecord info{};
    bool used = false;
};

LoadedSlot ReadSlot(int k) {
    LoadedSlot s;
    SectionName section(k);
    int id = IniReadInt(section.text, "id", kEmptySlot, kTarnIniPath);
    if (id == kEmptySlot) return s;
    if (!IsSlotIndex(id)) {
        KZ_TRACE("tarn.ini: Device%d has id %d, taken as empty", k, id);
        return s;
    }
    PairedDeviceRecord& r = s.record;
    IniReadString(section.text, "name", r.name, kNameReadLimit, kUnknownText, kTarnIniPath);
    char address[kHexReadSize] = {};
    IniReadString(section.text, "address", address, sizeof address, kUnknownText, kTarnIniPath);
    TrimWhiteSpace(address);
    if (!ParseHexText(address, kAddressBytes, r.address)) std::memset(r.address, 0, kAddressBytes);
    char key[kHexReadSize] = {};
    IniReadString(section.text, "key", key, sizeof key, kUnknownText, kTarnIniPath);
    TrimWhiteSpace(key);
    if (!ParseHexText(key, kKeyBytes, r.key)) std::memset(r.key, kNoKeyByte, kKeyBytes);
    r.pb = uint8_t(IniReadInt(section.text, "pb", kNoPhonebook, kTarnIniPath));
    r.id = uint8_t(id);

    s.used = true;
    std::snprintf(s.info.slot, sizeof s.info.slot, "%.2d", id);
    std::memcpy(s.info.name, r.name, sizeof s.info.name);
    std::memcpy(s.info.address, address, kAddressHexChars);
    return s;
}

// The phone to register: the chosen inquiry result, or the current phone.
bool TakeCandidate(PairedDeviceRecord* out) {
    if (g_bPairMode == 1) {
        int32_t index = g_nPairIndex;
        if (index < 0) return false;
        std::lock_guard<std::mutex> lock(g_InquiryMutex);
        if (size_t(index) >= g_vecInquiry.size() || !g_vecInquiry[index]) return false;
        *out = *g_vecInquiry[index];
    } else {
        *out = g_CurrDevice;
    }
    out->name[sizeof out->name - 1] = '\0';
    return true;
}

// First used slot holding this address, -1 when none. Holds slotMutex.
int FindUsedSlot(const uint8_t address[6]) {
    for (int k = 0; k < kSlotCount; ++k) {
        const PairedDeviceRecord& r = slots[k];
        if (r.id != kEmptySlot && std::memcmp(r.address, address, kAddressBytes) == 0) return k;
    }
    return -1;
}

void DeletePhonebookFiles(int id) {
    char path[128];
    std::snprintf(path, sizeof path, kPhoneBookPath, id);
    KzDeleteFile(path);
    std::snprintf(path, sizeof path, kPhoneBookNumPath, id);
    KzDeleteFile(path);
}

void WriteEmptySlot(int n) {
    char noKey[kKeyHexChars + 1];
    std::memset(noKey, 'f', kKeyHexChars);
    noKey[kKeyHexChars] = '\0';
    WriteNumber(n, "id", kEmptySlot);
    WriteKey(n, "name", "");
    WriteKey(n, "address", "");
    WriteKey(n, "key", noKey);
    WriteNumber(n, "pb", kNoPhonebook);
}

// The disconnect export ends every profile of the current phone.
void DisconnectCurrentPhone() { KZ_BT_DisConnectPairedDevice(); }

}  // namespace

bool GetSlot(int slot, PairedDeviceRecord* out) {
    if (!IsSlotIndex(slot) || !out) return false;
    std::lock_guard<std::mutex> lock(slotMutex);
    if (!slotsLoaded) return false;
    *out = slots[slot];
    return true;
}

int FindSlotByAddress(const uint8_t address[6]) {
    if (!address) return -1;
    std::lock_guard<std::mutex> lock(slotMutex);
    return slotsLoaded ? FindUsedSlot(address) : -1;
}

bool HasFreeSlot() {
    std::lock_guard<std::mutex> lock(slotMutex);
    if (!slotsLoaded) return false;
    for (const PairedDeviceRecord& r : slots)
        if (r.id == kEmptySlot) return true;
    return false;
}

void LoadPairedDevices() {
    ReloadLinkKeys();
    std::array<LoadedSlot, kSlotCount> loaded;
    {
        std::lock_guard<std::mutex> lock(slotMutex);
        for (int k = 0; k < kSlotCount; ++k) {
            loaded[k] = ReadSlot(k);
            slots[k] = loaded[k].record;
        }
        slotsLoaded = true;
    }
    for (const LoadedSlot& s : loaded)
        if (s.used) NotifyHost(KZ_NOTIFY_DEVICE_INFO, 0, &s.info, kDeviceInfoLen);

    int current = IniReadInt("General", "CurrIndex", kEmptySlot, kTarnIniPath);
    if (IsSlotIndex(current) && loaded[current].record.id != kEmptySlot) {
        std::memcpy(g_abCurrAddr, loaded[current].record.address, kAddressBytes);
        g_CurrConnectIndex = current;
    } else {
        g_CurrConnectIndex = kEmptySlot;
    }
}

void RegisterConnectedDevice() {
    PairedDeviceRecord candidate;
    if (!TakeCandidate(&candidate)) return;
    std::lock_guard<std::mutex> lock(slotMutex);
    g_CurrConnectIndex = kEmptySlot;
    if (!slotsLoaded) {
        KZ_TRACE("Registry not loaded, phone not registered");
        return;
    }
    int slot = FindUsedSlot(candidate.address);
    if (slot < 0) {
        for (int k = 0; k < kSlotCount && slot < 0; ++k)
            if (slots[k].id == kEmptySlot) slot = k;
        if (slot < 0) {
            KZ_TRACE("All five slots used, phone not registered");
            return;
        }
    }
    int index = slots[slot].id == kEmptySlot ? slot : slots[slot].id;
    g_CurrConnectIndex = index;
    slots[slot] = candidate;
    slots[slot].id = uint8_t(index);

    char address[kAddressHexChars + 1];
    FormatHex(candidate.address, kAddressBytes, address);
    WriteNumber(index, "id", index);
    WriteKey(index, "name", candidate.name);
    WriteKey(index, "address", address);
    WriteKeyHex(index, candidate.key);
}

void WriteSlotKey(const PairedDeviceRecord& record) {
    if (!IsSlotIndex(record.id)) {
        KZ_TRACE("WriteSlotKey: no slot %d", record.id);
        return;
    }
    std::lock_guard<std::mutex> lock(slotMutex);
    WriteKeyHex(record.id, record.key);
}

void SetSlotKey(int slot, const uint8_t key[16]) {
    if (!IsSlotIndex(slot) || !key) return;
    std::lock_guard<std::mutex> lock(slotMutex);
    if (slotsLoaded) std::memcpy(slots[slot].key, key, kKeyBytes);
}

void DeletePairedDevice(int n) {
    if (!IsSlotIndex(n)) {
        KZ_TRACE("DeletePairedDevice: no slot %d", n);
        return;
    }
    if (n == g_CurrConnectIndex && g_bConnecting) {
        KZ_TRACE("Delete file error");
        return;
    }
    {
        std::lock_guard<std::mutex> lock(slotMutex);
        if (!slotsLoaded) {
            KZ_TRACE("Registry not loaded, slot %d not deleted", n);
            return;
        }
        DeletePhonebookFiles(slots[n].id);
        slots[n] = EmptyRecord();
        WriteEmptySlot(n);
    }
    char slotText[8] = {};
    std::snprintf(slotText, sizeof slotText, "%.2d", n);
    NotifyHost(KZ_NOTIFY_DEVICE_DELETED, kDeviceDeletedParam, slotText, 0);
    if (n == g_CurrConnectIndex) {
        DisconnectCurrentPhone();
        g_CurrConnectIndex = kEmptySlot;
        SetCurrentIndex(kEmptySlot);
        g_bAutoConnecting = 0;
    }
}

void SetCurrentIndex(int index) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", index);
    IniWriteSetting("General", "CurrIndex", text, kTarnIniPath, kIniFilePairings);
}

void MarkPhonebookStored() {
    int slot = g_CurrConnectIndex;
    if (!IsSlotIndex(slot)) return;
    std::lock_guard<std::mutex> lock(slotMutex);
    if (!slotsLoaded) return;
    slots[slot].pb = 1;
    WriteKey(slot, "pb", "1");
}

void SetSlotPhonebookFlag(int slot, uint8_t pb) {
    if (!IsSlotIndex(slot)) return;
    std::lock_guard<std::mutex> lock(slotMutex);
    if (slotsLoaded) slots[slot].pb = pb;
}

void ResetRegistryState() {
    {
        std::lock_guard<std::mutex> lock(slotMutex);
        slotsLoaded = false;
        slots.fill(EmptyRecord());
    }
    ResetLinkKeyState();
    g_CurrConnectIndex = kEmptySlot;
}

}  // namespace kz
