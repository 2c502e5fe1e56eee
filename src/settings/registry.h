// Paired-device registry (tarn.ini, five slots) and link-key store (tarn.dat).
#pragma once
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "KZ_Tarn.h"

namespace kz {

inline constexpr int kSlotCount = 5;
inline constexpr uint8_t kEmptySlot = 255;

struct LinkKeyEntry {
    uint8_t address[6];
    uint8_t key[16];
};

extern std::atomic<int32_t> g_CurrConnectIndex;   // 255 none

// Snapshot accessors: the lists are guarded inside the registry, readers get
// copies. Until the first LoadPairedDevices the paired list is empty: GetSlot
// and HasFreeSlot answer false, FindSlotByAddress -1.
bool GetSlot(int slot, PairedDeviceRecord* out);                  // false when slot outside 0..4
int FindSlotByAddress(const uint8_t address[6]);                  // first used slot, -1 when none
bool HasFreeSlot();
bool FindLinkKey(const uint8_t address[6], uint8_t key[16]);      // first match in list order
std::vector<LinkKeyEntry> LinkKeySnapshot();

void LoadPairedDevices();
// Registers the connected phone (g_CurrDevice, or the chosen inquiry result
// in pair mode). Before the first load, or with five phones, nothing is
// registered and g_CurrConnectIndex is 255.
void RegisterConnectedDevice();
void WriteSlotKey(const PairedDeviceRecord& record);
void SetSlotKey(int slot, const uint8_t key[16]);   // in memory
void StoreLinkKey(const LinkKeyEntry& entry);
void DeletePairedDevice(int slot);    // slots outside 0..4 are ignored
void SetCurrentIndex(int index);
void MarkPhonebookStored();
// Sets a slot's phonebook-stored flag in memory only (the phonebook load found
// the files missing); the settings entry is not changed. Ignores slots outside 0..4.
void SetSlotPhonebookFlag(int slot, uint8_t pb);
int DeleteTree(const char* path);
bool DirectoryExists(const char* path);

void ResetRegistryState();

}  // namespace kz
