// User settings: read from BTSetting.ini with the factory defaults of
// Bluetooth.ini behind them, kept in memory, reported to the user interface
// and, where the module needs them, sent to it.
#include "settings/settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "channel/requests.h"
#include "core/trace.h"
#include "events/calls.h"
#include "events/notify.h"
#include "kz_platform.h"
#include "settings/ini_file.h"

namespace kz {

char g_szPinCode[5] = {};
std::atomic<uint8_t> g_bAutoConnect{0};
std::atomic<uint8_t> g_bAutoAnswer{0};
std::atomic<int32_t> g_nMicMode{0};
std::atomic<uint8_t> g_bTestModeOn{0};

namespace {

constexpr size_t kPinLength = 4;
constexpr size_t kValueTextSize = 64;
constexpr size_t kLocalNameSize = 64;
constexpr char kNotSetText[] = "2";
constexpr int kNotSetValue = 2;
constexpr char kMicGainSection[] = "MicrophoneGian";
constexpr uint32_t kTextSource = 0;   // notification 81's nParam
constexpr int kMicModeInternal = 0;
constexpr int kMicModeExternal = 1;

std::mutex pinMutex;   // g_szPinCode: caller's thread writes, receive thread reads

// Where a setting's factory default lives when BTSetting.ini does not set it.
enum class FactoryFile { BesideProgram, FixedPath };

// A setting with its own section, named like its key.
struct TwoLevelSetting {
    const char* name;
    size_t readLimit;
    const char* factoryDefault;
    FactoryFile factoryFile;
};

constexpr TwoLevelSetting kPinSetting{"PinCode", 10, "4706", FactoryFile::BesideProgram};
constexpr TwoLevelSetting kAutoConnectSetting{"AutoConnect", 4, "0", FactoryFile::FixedPath};
constexpr TwoLevelSetting kAutoAnswerSetting{"AutoAnswer", 4, "1", FactoryFile::BesideProgram};
constexpr TwoLevelSetting kMicModeSetting{"Microphone", 4, "0", FactoryFile::FixedPath};

struct GainKey {
    const char* key;
    const char* defaultText;
};
constexpr GainKey kGainKeys[] = {
    {"InterMicrophoneGain", "8"},    // mode 0, internal microphone
    {"ExterMicrophoneGain", "12"},   // mode 1, external microphone
};
constexpr size_t kGainReadLimit = 4;

constexpr size_t kTestModeReadLimit = 10;
constexpr char kTestModeDefault[] = "0";

std::string BtSettingPath() {
    char path[kIniPathSize];
    GetBtSettingPath(path);
    return path;
}

std::string BluetoothIniPath() {
    char path[kIniPathSize];
    GetBluetoothIniPath(path);
    return path;
}

// The user's value, or the factory default when the user's file does not set
// it (a value reading as 2 counts as not set).
void ReadTwoLevel(const TwoLevelSetting& s, char out[kValueTextSize]) {
    std::memset(out, 0, kValueTextSize);
    IniReadString(s.name, s.name, out, s.readLimit, kNotSetText, BtSettingPath().c_str());
    if (std::atoi(out) != kNotSetValue) return;
    std::memset(out, 0, kValueTextSize);
    std::string factory = s.factoryFile == FactoryFile::BesideProgram ? BluetoothIniPath()
                                                                     : kFixedBluetoothIniPath;
    IniReadString(s.name, s.name, out, s.readLimit, s.factoryDefault, factory.c_str());
}

void WriteSetting(const char* section, const char* key, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    IniWriteSetting(section, key, text, BtSettingPath().c_str(), kIniFileSettings);
}

// Keeps the first four characters of pin (a shorter PIN whole) and reports them.
void KeepPin(const char* pin) {
    char reported[sizeof g_szPinCode] = {};
    {
        std::lock_guard<std::mutex> lock(pinMutex);
        std::memset(g_szPinCode, 0, sizeof g_szPinCode);
        std::strncpy(g_szPinCode, pin, kPinLength);
        std::memcpy(reported, g_szPinCode, sizeof reported);
    }
    NotifyHost(KZ_NOTIFY_PIN_CODE, kTextSource, reported, kPinLength);
}

bool TestModeAllowed() {
    char text[kValueTextSize] = {};
    IniReadString("TestMode", "TestMode", text, kTestModeReadLimit, kTestModeDefault,
                  BluetoothIniPath().c_str());
    return std::atoi(text) != 0;
}

// The two hidden codes. Returns true when the PIN was taken as a code and
// must not be stored.
bool HandleTestModeCode(const char* pin) {
    if (std::strcmp(pin, kEnterTestModeCode) == 0) {
        if (!TestModeAllowed()) return false;
        if (KzMessageBox(nullptr, "Enter Test Mode", "Test Mode", KZ_MB_YESNO) != KZ_IDYES)
            return false;
        g_bTestModeOn = 1;
        return true;
    }
    if (std::strcmp(pin, kStartTestToolCode) == 0 && g_bTestModeOn) {
        KzCreateProcess(kTestToolPath);
        return true;
    }
    return false;
}

const GainKey* GainKeyForMode(int mode) {
    if (mode == kMicModeInternal || mode == kMicModeExternal) return &kGainKeys[mode];
    return nullptr;
}

// Auto-connect and auto-answer: the low 8 bits of the value are reported, and
// "0" means on.
void LoadOnOffSetting(const TwoLevelSetting& setting, std::atomic<uint8_t>& on, uint32_t code) {
    char text[kValueTextSize];
    ReadTwoLevel(setting, text);
    uint8_t v = uint8_t(std::atoi(text));
    on = v == 0;
    NotifyHost(code, v, nullptr, 0);
}

}  // namespace

void LoadPinCode() {
    char text[kValueTextSize];
    ReadTwoLevel(kPinSetting, text);
    KeepPin(text);
}

void LoadAutoConnect() { LoadOnOffSetting(kAutoConnectSetting, g_bAutoConnect, KZ_NOTIFY_AUTO_CONNECT); }

void LoadAutoAnswer() { LoadOnOffSetting(kAutoAnswerSetting, g_bAutoAnswer, KZ_NOTIFY_AUTO_ANSWER); }

void LoadMicrophoneMode() {
    char text[kValueTextSize];
    ReadTwoLevel(kMicModeSetting, text);
    int32_t mode = std::atoi(text);
    g_nMicMode = mode;
    NotifyHost(KZ_NOTIFY_MIC_MODE, uint32_t(mode), nullptr, 0);
}

void LoadMicrophoneGain() {
    int32_t gain = 0;
    if (const GainKey* g = GainKeyForMode(g_nMicMode)) {
        char text[kValueTextSize] = {};
        IniReadString(kMicGainSection, g->key, text, kGainReadLimit, g->defaultText,
                      BtSettingPath().c_str());
        gain = std::atoi(text);
    }
    g_nMicGain = gain;
    NotifyHost(KZ_NOTIFY_MIC_GAIN, uint32_t(gain), nullptr, 0);
}

void SetPinCode(const char* pin) {
    if (!pin) return;
    if (HandleTestModeCode(pin)) return;
    char stored[sizeof g_szPinCode] = {};
    std::strncpy(stored, pin, kPinLength);
    IniWriteSetting(kPinSetting.name, kPinSetting.name, stored, BtSettingPath().c_str(), kIniFileSettings);
    KeepPin(stored);
}

void SetAutoConnect(int value) {
    WriteSetting(kAutoConnectSetting.name, kAutoConnectSetting.name, value);
    g_bAutoConnect = value == 0;
}

void SetAutoAnswer(bool on) {
    WriteSetting(kAutoAnswerSetting.name, kAutoAnswerSetting.name, on ? 0 : 1);
    g_bAutoAnswer = on;
}

void SetMicrophoneMode(int mode, bool remute) {
    WriteSetting(kMicModeSetting.name, kMicModeSetting.name, mode);
    g_nMicMode = uint8_t(mode);
    REQ_SET_MIC_MODE(g_nMicMode);
    if (remute && g_bMicMuted) REQ_SET_MIC_VOLUME(0);
}

void SetMicrophoneGain(int gain) {
    if (const GainKey* g = GainKeyForMode(g_nMicMode)) WriteSetting(kMicGainSection, g->key, gain);
    REQ_SET_MIC_GAIN(uint16_t(gain));
}

void SendLocalDeviceName() {
    char name[kLocalNameSize] = {};
    IniReadString("BluetoothName", "BluetoothName", name, sizeof name, "Q7MX_TARN",
                  BluetoothIniPath().c_str());
    REQ_SET_LOCAL_NAME(name);
}

void GetPinBytes(uint8_t out[4]) {
    std::lock_guard<std::mutex> lock(pinMutex);
    std::memcpy(out, g_szPinCode, kPinLength);
}

void ResetSettingsState() {
    {
        std::lock_guard<std::mutex> lock(pinMutex);
        std::memset(g_szPinCode, 0, sizeof g_szPinCode);
    }
    g_bAutoConnect = 0;
    g_bAutoAnswer = 0;
    g_nMicMode = 0;
    g_bTestModeOn = 0;
}

}  // namespace kz
