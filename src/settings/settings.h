// User settings: PIN, auto-connect, auto-answer, microphone mode and gains,
// local name, test mode.
#pragma once
#include <atomic>
#include <cstdint>

namespace kz {

extern char g_szPinCode[5];                 // four characters and a zero
extern std::atomic<uint8_t> g_bAutoConnect;
extern std::atomic<uint8_t> g_bAutoAnswer;
extern std::atomic<int32_t> g_nMicMode;
extern std::atomic<uint8_t> g_bTestModeOn;

void LoadPinCode();
void LoadAutoConnect();
void LoadAutoAnswer();
void LoadMicrophoneMode();     // KZ_BT_GetMicrophoneMode
void LoadMicrophoneGain();     // KZ_BT_GetMicrophoneGain
void SetPinCode(const char* pin);
void SetAutoConnect(int value);
void SetAutoAnswer(bool on);
void SetMicrophoneMode(int mode, bool remute);
void SetMicrophoneGain(int gain);
void SendLocalDeviceName();
// Copies the four PIN bytes for the PIN-code reply.
void GetPinBytes(uint8_t out[4]);

void ResetSettingsState();

}  // namespace kz
