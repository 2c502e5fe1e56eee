// Call state: HFP indicators, call list, numbers, call audio, microphone.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "KZ_Tarn.h"
#include "kz_platform.h"

namespace kz {

extern std::atomic<int32_t> g_nCallSetup;        // 0 none, 1 incoming, 2 outgoing
extern std::atomic<int32_t> g_bCallActive;
extern std::atomic<uint8_t> g_bInCall;
extern std::atomic<int32_t> g_nCallCount;
extern std::atomic<int32_t> g_nHeldState;
extern std::atomic<uint8_t> g_bNoCallData;       // 1 at start
extern std::atomic<uint8_t> g_bCallPausedPb;
extern char g_szActiveCallNum[56];
extern char g_CallHeldNum[56];
extern std::atomic<int32_t> g_nAutoAnswerCountdown;
extern std::atomic<uint8_t> g_bMicMuted;
extern CallRecord g_CurrCall;

void OnHfpIndicator(const uint8_t* msg, size_t len);
void OnCallListResult(const uint8_t* msg, size_t len);
void OnCurrentCall(const uint8_t* msg, size_t len);
void OnCallSetupNumber(const uint8_t* msg, size_t len);
void OnWaitingNumber(const uint8_t* msg, size_t len);   // receive thread
void OnCallCount(const uint8_t* msg, size_t len);
void OnAudioTransferCfm(const uint8_t* msg, size_t len); // ids 14 and 15
void OnCallAudioInd(const uint8_t* msg, size_t len);     // ids 52 and 53
void OnMicVolumeCfm(const uint8_t* msg, size_t len);
void OnMicMuteInd(const uint8_t* msg, size_t len);
void OnMicGainCfm(const uint8_t* msg, size_t len);
void OnAfterCall();
// Dial confirmation with a refusal (receive thread): the dialled number was
// never a call's, so no later call may be reported with it.
void ForgetDialledNumber();

// The module loses the microphone gain when call audio comes to the car or
// the microphone is unmuted: a one-second timer on the control window sets
// it again. Restarting the timer kills the running one first.
extern std::atomic<uintptr_t> g_nGainTimerID;
void StartGainRestoreTimer();
void GainRestoreTimerProc(KzHwnd, uint32_t, uintptr_t, uint32_t);
void ResetGainRestoreTimer();

void ResetCallState();

}  // namespace kz
