// A2DP stream and AVRCP remote control: play state and track information.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "KZ_Tarn.h"
#include "events/element_attributes.h"

namespace kz {

extern std::atomic<uint8_t> g_bCurrSrcA2DP;
extern std::atomic<uint8_t> g_bAvrcpServiceSupport;
extern std::atomic<int32_t> g_nPlayState;      // 1 playing, 2 paused
extern std::atomic<int32_t> g_nDependType;
extern std::atomic<int32_t> g_nDependLength;
extern TrackInfoBlock g_TrackInfo;
// The GetElementAttributes response being collected (event thread only).
extern ElementAttributeCollector g_AttrCollector;

// Media channel opened: start playback with AVRCP PLAY. The dispatcher keeps
// g_bMediaOpen for ids 258, 259, 275 and 276 itself (after these handlers).
void OnMediaOpenCfm(const uint8_t* msg, size_t len);    // CFM 258, receive thread
void OnMediaOpenedInd(const uint8_t* msg, size_t len);  // IND 275
void OnStreamStarted(const uint8_t* msg, size_t len);   // IND 273, event thread
void OnStreamSuspended(const uint8_t* msg, size_t len); // IND 274, event thread
void OnSdpServiceRecord(const uint8_t* msg, size_t len);// IND 62, receive thread
void OnDependHeader(const uint8_t* msg, size_t len);    // IND 310, event thread
void OnDependData(const uint8_t* msg, size_t len);      // IND 308, event thread
void ReportPlayState(int32_t state);
void SetAudioSource(uintptr_t wParam, intptr_t lParam);

void ResetAudioState();

}  // namespace kz
