// User settings: PIN, auto-connect, auto-answer, microphone mode and gains,
// local name, test mode.
#pragma once
#include <atomic>
#include <cstdint>

namespace kz {

// Four characters and a zero; bytes after a shorter PIN are zero. Written on
// the caller's thread, read by the receive thread for the PIN-code reply:
// read it through GetPinBytes, which takes the settings lock.
extern char g_szPinCode[5];
extern std::atomic<uint8_t> g_bAutoConnect;
extern std::atomic<uint8_t> g_bAutoAnswer;
extern std::atomic<int32_t> g_nMicMode;
extern std::atomic<uint8_t> g_bTestModeOn;

inline constexpr char kFixedBluetoothIniPath[] = "\\NandFlash\\Application\\Bluetooth\\Bluetooth.ini";
inline constexpr char kTestToolPath[] = "NandFlash\\Application\\TestMode\\BtTestMode.exe";
inline constexpr char kEnterTestModeCode[] = "7391";
inline constexpr char kStartTestToolCode[] = "5728";

void LoadPinCode();
void LoadAutoConnect();
void LoadAutoAnswer();
void LoadMicrophoneMode();     // KZ_BT_GetMicrophoneMode
void LoadMicrophoneGain();     // KZ_BT_GetMicrophoneGain
void SetPinCode(const char* pin);
void SetAutoConnect(int value);
void SetAutoAnswer(bool on);
// Stores the mode and sends it; with remute, a muted microphone is muted
// again on the new input (REQ_SET_MIC_VOLUME 0).
void SetMicrophoneMode(int mode, bool remute);
void SetMicrophoneGain(int gain);
void SendLocalDeviceName();
// Copies the four PIN bytes for the PIN-code reply. A PIN shorter than four
// characters is padded with zero bytes.
void GetPinBytes(uint8_t out[4]);

void ResetSettingsState();

}  // namespace kz
