// Process-wide audio and remote-control state and its reset.
#include "events/audio.h"

#include <cstring>

namespace kz {

std::atomic<uint8_t> g_bCurrSrcA2DP{0};
std::atomic<uint8_t> g_bAvrcpServiceSupport{0};
std::atomic<int32_t> g_nPlayState{0};
std::atomic<int32_t> g_nDependType{0};
std::atomic<int32_t> g_nDependLength{0};
TrackInfoBlock g_TrackInfo{};
ElementAttributeCollector g_AttrCollector;

void ResetAudioState() {
    g_bCurrSrcA2DP = 0;
    g_bAvrcpServiceSupport = 0;
    g_nPlayState = 0;
    g_nDependType = 0;
    g_nDependLength = 0;
    std::memset(&g_TrackInfo, 0, sizeof g_TrackInfo);
    g_AttrCollector.Reset();
}

}  // namespace kz
