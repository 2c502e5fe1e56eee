// The hidden control window "KZ_BTWidnow" and the library's timers.
#pragma once
#include <atomic>
#include <cstdint>

#include "kz_platform.h"

namespace kz {

extern std::atomic<int32_t> g_nMediaOpenTicks;     // 4 at start
extern std::atomic<int32_t> g_nPbapWaitTicks;      // 3
extern std::atomic<int32_t> g_nPbapDoneTicks;      // 3
extern std::atomic<uint8_t> g_bPbapNoticeSent;

KzLResult ControlWndProc(KzHwnd wnd, uint32_t msg, KzWParam wParam, KzLParam lParam);
void HousekeepingTimerProc(KzHwnd, uint32_t, uintptr_t, uint32_t);
void ResetControlWindowState();

}  // namespace kz
