// Process-wide connection state and its reset.
#include <cstring>

#include "events/connection.h"

namespace kz {

std::atomic<uint8_t> g_bHfpConnected{0};
std::atomic<uint8_t> g_bA2dpConnected{0};
std::atomic<uint8_t> g_bAvrcpConnected{0};
std::atomic<uint8_t> g_bPbapConnected{0};
std::atomic<uint8_t> g_bConnecting{0};
PairedDeviceRecord g_CurrDevice{};
std::atomic<int32_t> g_nPairIndex{-1};
std::atomic<uint8_t> g_bPairMode{0};
std::atomic<uint8_t> g_bAutoConnecting{0};
std::atomic<int32_t> g_nAutoConnectRetry{0};
std::atomic<int32_t> g_nPendingAction{kPendingNone};
std::atomic<uint8_t> g_bPbapConnectDone{1};
std::atomic<uint8_t> g_bUnknownPeer{0};
std::atomic<uint8_t> g_bModuleInited{0};
DeviceInfoRecord g_ConnectedDevice{};

void ResetConnectionState() {
    g_bHfpConnected = 0;
    g_bA2dpConnected = 0;
    g_bAvrcpConnected = 0;
    g_bPbapConnected = 0;
    g_bConnecting = 0;
    std::memset(&g_CurrDevice, 0, sizeof g_CurrDevice);
    g_nPairIndex = -1;
    g_bPairMode = 0;
    g_bAutoConnecting = 0;
    g_nAutoConnectRetry = 0;
    g_nPendingAction = kPendingNone;
    g_bPbapConnectDone = 1;
    g_bUnknownPeer = 0;
    g_bModuleInited = 0;
    std::memset(&g_ConnectedDevice, 0, sizeof g_ConnectedDevice);
}

}  // namespace kz
