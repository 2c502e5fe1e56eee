// Host notifications: the three channels to the user interface.
#pragma once
#include <cstdint>

#include "KZ_Tarn.h"

namespace kz {

// Channel 1: message 1974 to "Bluetooth"; bSync nonzero uses SendMessage.
intptr_t NotifyHost(uint32_t nCode, uint32_t nParam, const void* pData, uint32_t nLen, int bSync = 1);
// Channel 2: message 1141 posted to "NavigRecive".
void PostNavigStatus(uintptr_t wParam, intptr_t lParam);
// Channel 3: call record; kind is the call-record state (4 incoming, 2 outgoing,
// 0 active, 3 ended), number UTF-8 (null = empty).
void SendCallInfo(uint32_t kind, const char* number);
// Channel 3: now-playing record, only while the source is A2DP.
inline constexpr uint32_t kNowPlayingTexts = 0x01;        // title, artist, album
inline constexpr uint32_t kNowPlayingField20 = 0x40;      // field at offset 20 = 2
inline constexpr uint32_t kNowPlayingClearFourth = 0x80;  // fourth text cleared
inline constexpr uint32_t kNowPlayingStateOnly = 0x100;   // only the play state changed
void SendNowPlaying(uint32_t flags);

// Call-record state to status-bar call kind: 4→0, 2→1, 0→2, 3→3.
uint32_t CallKindFromState(uint32_t state);

void ResetNotifyState();   // forgets the cached status-bar window (tests)

}  // namespace kz
