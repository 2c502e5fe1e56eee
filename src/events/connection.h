// Connection and profile state: HFP, A2DP, AVRCP, PBAP; the current phone;
// automatic connection; the module-ready indication.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "KZ_Tarn.h"

namespace kz {

extern std::atomic<uint8_t> g_bHfpConnected;
extern std::atomic<uint8_t> g_bA2dpConnected;
extern std::atomic<uint8_t> g_bAvrcpConnected;
extern std::atomic<uint8_t> g_bPbapConnected;
extern std::atomic<uint8_t> g_bConnecting;
// The phone being connected or connected. Its address is what connect
// requests carry. Written by the caller's thread (exports) and the event and
// receive threads at moments the connection protocol keeps apart.
extern PairedDeviceRecord g_CurrDevice;
inline uint8_t (&g_abCurrAddr)[6] = g_CurrDevice.address;
inline char (&g_szCurrName)[32] = g_CurrDevice.name;
extern std::atomic<int32_t> g_nPairIndex;        // -1 none
extern std::atomic<uint8_t> g_bPairMode;
extern std::atomic<uint8_t> g_bAutoConnecting;
extern std::atomic<int32_t> g_nAutoConnectRetry;
extern std::atomic<int32_t> g_nPendingAction;    // 0 none, 1 disconnect, 2 inquiry
extern std::atomic<uint8_t> g_bPbapConnectDone;  // 1 at start
extern std::atomic<uint8_t> g_bUnknownPeer;
extern std::atomic<uint8_t> g_bModuleInited;
extern DeviceInfoRecord g_ConnectedDevice;

inline constexpr int32_t kPendingNone = 0;
inline constexpr int32_t kPendingDisconnect = 1;
inline constexpr int32_t kPendingInquiry = 2;

void SetConnecting(bool on);
// id 12 to the current device; a PBAP connect clears g_bPbapConnectDone,
// which the housekeeping timer watches until the connect is answered.
void REQ_CONNECT_PROFILE(uint8_t profile);
void REQ_SDP_QUERY();                          // id 30, the current device
void SendConnectedDevice();

// Handlers (event thread).
void OnModuleReady(const uint8_t* msg, size_t len);
void OnConnectCfm(const uint8_t* msg, size_t len);
void OnConnectInd(const uint8_t* msg, size_t len);
void OnDisconnectCfm(const uint8_t* msg, size_t len);
void OnDisconnectInd(const uint8_t* msg, size_t len);
// The remote-name result for a phone that connected on its own (from OnRemoteName).
void OnUnknownPeerNamed(const char* name);

// "%0.2d" into 8 bytes and 12 lower-case hex digits of an address.
void FormatSlotText(char out[8], int value);
void FormatAddressHex(char out[13], const uint8_t address[6]);

void ResetConnectionState();

}  // namespace kz
