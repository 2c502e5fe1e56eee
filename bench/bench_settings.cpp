// Settings files: INI reads and writes on realistic files, and the load of the
// paired-device registry (five used slots, a 100-entry link-key store).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench_util.h"
#include "settings/ini_file.h"
#include "settings/registry.h"

namespace {

using namespace kz;

constexpr const char* kSettingsPath = "\\BACKUP\\KZ_Config\\BTSetting.ini";
constexpr const char* kRegistryPath = "\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini";
constexpr const char* kLinkKeyPath = "\\BACKUP\\KZ_TARN\\tarn.dat";
constexpr int kLinkKeys = 100;

// Writes a file below the head-unit root, creating its folders (an existing
// folder of another spelling is reused, as the platform matches names
// case-insensitively).
void WriteUnitFile(const char* unitPath, const std::string& text) {
    char host[1024];
    if (KzMapPath(unitPath, host, sizeof host) < 0) return;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(host).parent_path(), ec);
    if (FILE* f = std::fopen(host, "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

// The user settings file as a head unit has it after some use: one section
// per setting (the gains share one), CR LF line ends, a comment.
std::string SettingsFile() {
    return "; user settings\r\n"
           "[PinCode]\r\nPinCode=4706\r\n\r\n"
           "[AutoConnect]\r\nAutoConnect=0\r\n\r\n"
           "[AutoAnswer]\r\nAutoAnswer=1\r\n\r\n"
           "[Microphone]\r\nMicrophone=0\r\n\r\n"
           "[MicrophoneGian]\r\nInterMicrophoneGain=8\r\nExterMicrophoneGain=12\r\n\r\n"
           "[BluetoothName]\r\nBluetoothName=Q7MX_TARN\r\n\r\n"
           "[TestMode]\r\nTestMode=0\r\n";
}

std::string Hex(const uint8_t* b, size_t n) {
    std::string s;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", b[i]);
        s += two;
    }
    return s;
}

// tarn.ini with all five slots used and the current one set.
std::string RegistryFile() {
    std::string s = "[General]\nCurrIndex=2\n";
    for (int k = 0; k < kSlotCount; ++k) {
        uint8_t addr[6] = {0x00, 0x1A, 0x7D, 0xDA, 0x71, static_cast<uint8_t>(0x10 + k)};
        uint8_t key[16];
        for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(k * 16 + i);
        s += "\n[Device" + std::to_string(k) + "]\nid=" + std::to_string(k) + "\nname=Phone of driver " +
             std::to_string(k) + "\naddress=" + Hex(addr, 6) + "\nkey=" + Hex(key, 16) +
             "\npb=" + (k % 2 ? "1" : "255") + "\n";
    }
    return s;
}

std::string LinkKeyFile() {
    std::string s;
    for (int n = 0; n < kLinkKeys; ++n) {
        uint8_t addr[6] = {0x00, 0x1A, 0x7D, 0xDA, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
        uint8_t key[16];
        for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(n + i * 7);
        s += Hex(addr, 6) + Hex(key, 16);
    }
    return s;
}

void BM_IniReadString(benchmark::State& state) {
    kzbench::TempRoot root;
    WriteUnitFile(kSettingsPath, SettingsFile());
    char out[64];
    for (auto _ : state) {
        // The last section of the file: the whole text is scanned.
        if (!IniReadString("TestMode", "TestMode", out, sizeof out, "0", kSettingsPath))
            state.SkipWithError("not found");
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IniReadString);

void BM_IniReadInt(benchmark::State& state) {
    kzbench::TempRoot root;
    WriteUnitFile(kSettingsPath, SettingsFile());
    for (auto _ : state) {
        benchmark::DoNotOptimize(IniReadInt("MicrophoneGian", "ExterMicrophoneGain", 12, kSettingsPath));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IniReadInt);

// Replacing a value: the whole file is read, rebuilt and rewritten.
void BM_IniWriteString(benchmark::State& state) {
    kzbench::TempRoot root;
    WriteUnitFile(kSettingsPath, SettingsFile());
    int gain = 0;
    char value[8];
    for (auto _ : state) {
        std::snprintf(value, sizeof value, "%d", gain++ % 16);
        if (!IniWriteString("MicrophoneGian", "InterMicrophoneGain", value, kSettingsPath))
            state.SkipWithError("write failed");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IniWriteString);

// The registry file's slot update as registering a phone does it.
void BM_IniWriteRegistrySlot(benchmark::State& state) {
    kzbench::TempRoot root;
    WriteUnitFile(kRegistryPath, RegistryFile());
    for (auto _ : state) {
        IniWriteString("Device4", "name", "Phone of driver 4", kRegistryPath);
        IniWriteString("Device4", "key", "000102030405060708090a0b0c0d0e0f", kRegistryPath);
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_IniWriteRegistrySlot);

void BM_LoadPairedDevices(benchmark::State& state) {
    kzbench::TempRoot root;
    WriteUnitFile(kRegistryPath, RegistryFile());
    WriteUnitFile(kLinkKeyPath, LinkKeyFile());
    for (auto _ : state) {
        LoadPairedDevices();
    }
    if (LinkKeySnapshot().size() != kLinkKeys) state.SkipWithError("link keys not loaded");
    PairedDeviceRecord r;
    if (!GetSlot(kSlotCount - 1, &r) || r.id != kSlotCount - 1) state.SkipWithError("slots not loaded");
    state.SetItemsProcessed(state.iterations());
    ResetRegistryState();
}
BENCHMARK(BM_LoadPairedDevices);

}  // namespace

BENCHMARK_MAIN();
