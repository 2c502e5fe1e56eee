// The gain-restore timer (see calls.h).
#include "channel/requests.h"   // g_nMicGain
#include "core/sync_objects.h"
#include "events/calls.h"
#include "settings/settings.h"

namespace kz {

std::atomic<uintptr_t> g_nGainTimerID{0};

namespace {
inline constexpr uintptr_t kGainTimerId = 300;
inline constexpr uint32_t kGainTimerPeriodMs = 1000;
}  // namespace

void StartGainRestoreTimer() {
    // A running timer is replaced. On the window the same id would do that by
    // itself; without the window (not started) each call makes a new thread
    // timer, and the one no longer remembered would fire for good.
    if (uintptr_t running = g_nGainTimerID.exchange(0)) KzKillTimer(g_hBTWnd.load(), running);
    g_nGainTimerID =
        KzSetTimer(g_hBTWnd.load(), kGainTimerId, kGainTimerPeriodMs, GainRestoreTimerProc);
}

void GainRestoreTimerProc(KzHwnd, uint32_t, uintptr_t, uint32_t) {
    KzKillTimer(g_hBTWnd.load(), g_nGainTimerID.exchange(0));
    SetMicrophoneGain(g_nMicGain);
}

void ResetGainRestoreTimer() {
    if (uintptr_t timer = g_nGainTimerID.exchange(0)) KzKillTimer(g_hBTWnd.load(), timer);
}

}  // namespace kz
