// tarn.ini and tarn.dat as found on disk, loaded into the paired-device
// registry and the link-key store, then one new link key stored (which
// appends to or rewrites tarn.dat). Slots stay within 0..4, names and texts
// stay terminated, the current index is a used slot or 255.
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "settings/registry.h"

namespace {
constexpr const char* kTarnIni = "\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini";
constexpr const char* kTarnDat = "\\BACKUP\\KZ_TARN\\tarn.dat";
constexpr size_t kMaxIni = 18000;
constexpr size_t kMaxDat = 4096;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kzfuzz::InitOnce();
    kzfuzz::ResetAll();
    kzfuzz::Input in(data, size);
    size_t n = 0;
    const uint8_t* ini = in.Take(in.Word() % kMaxIni, &n);
    kzfuzz::WriteUnitFile(kTarnIni, ini, n);
    const uint8_t* dat = in.Take(in.Word() % kMaxDat, &n);
    kzfuzz::WriteUnitFile(kTarnDat, dat, n);

    kz::LoadPairedDevices();
    const int32_t current = kz::g_CurrConnectIndex;
    if (current != kz::kEmptySlot && (current < 0 || current >= kz::kSlotCount)) std::abort();
    for (int k = 0; k < kz::kSlotCount; ++k) {
        PairedDeviceRecord r;
        if (!kz::GetSlot(k, &r)) std::abort();
        if (r.id != kz::kEmptySlot && r.id >= kz::kSlotCount) std::abort();
        if (std::memchr(r.name, 0, sizeof r.name) == nullptr) std::abort();
    }
    if (current != kz::kEmptySlot) {
        PairedDeviceRecord r;
        kz::GetSlot(current, &r);
        if (r.id == kz::kEmptySlot) std::abort();
    }
    kz::LinkKeyEntry entry{};
    size_t got = 0;
    const uint8_t* e = in.Take(sizeof entry, &got);
    std::memcpy(&entry, e, got);
    kz::StoreLinkKey(entry);
    uint8_t key[16];
    if (!kz::FindLinkKey(entry.address, key)) std::abort();
    kzfuzz::PumpHost();
    return 0;
}
