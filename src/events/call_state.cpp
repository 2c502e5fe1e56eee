// Process-wide call state and its reset.
#include <cstring>

#include "events/calls.h"

namespace kz {

std::atomic<int32_t> g_nCallSetup{0};
std::atomic<int32_t> g_bCallActive{0};
std::atomic<uint8_t> g_bInCall{0};
std::atomic<int32_t> g_nCallCount{0};
std::atomic<int32_t> g_nHeldState{0};
std::atomic<uint8_t> g_bNoCallData{1};
std::atomic<uint8_t> g_bCallPausedPb{0};
char g_szActiveCallNum[56] = {};
char g_CallHeldNum[56] = {};
std::atomic<int32_t> g_nAutoAnswerCountdown{0};
std::atomic<uint8_t> g_bMicMuted{0};
CallRecord g_CurrCall{};

void ResetCallState() {
    g_nCallSetup = 0;
    g_bCallActive = 0;
    g_bInCall = 0;
    g_nCallCount = 0;
    g_nHeldState = 0;
    g_bNoCallData = 1;
    g_bCallPausedPb = 0;
    std::memset(g_szActiveCallNum, 0, sizeof g_szActiveCallNum);
    std::memset(g_CallHeldNum, 0, sizeof g_CallHeldNum);
    g_nAutoAnswerCountdown = 0;
    g_bMicMuted = 0;
    std::memset(&g_CurrCall, 0, sizeof g_CurrCall);
}

}  // namespace kz
