// Profile connections: the module-ready indication, the connect and
// disconnect confirmations and indications, the chaining HFP -> PBAP/A2DP ->
// AVRCP, the automatic connection with its three attempts, and the report of
// the connected phone. All handlers run on the event thread.
#include "events/connection.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "channel/command_queue.h"
#include "channel/inbound_view.h"
#include "channel/requests.h"
#include "core/sync_objects.h"
#include "core/trace.h"
#include "events/audio.h"
#include "events/calls.h"
#include "events/inquiry.h"
#include "events/notify.h"
#include "phonebook/download.h"
#include "settings/registry.h"

namespace kz {

namespace {

constexpr size_t kStatusOffset = 6;
constexpr size_t kConnectProfileOffset = 13;     // CFM 12 and IND 50
constexpr size_t kConnectAddressOffset = 7;      // IND 50
constexpr size_t kDisconnectProfileOffset = 7;   // CFM 13 and IND 51
constexpr size_t kVersionOffset = 7;             // IND 48: four version bytes
constexpr uint8_t kStatusOk = 0;
constexpr uint8_t kStatusLinkLost = 10;          // IND 51: handled like success
constexpr int32_t kAutoConnectAttempts = 3;
constexpr int32_t kNoPairIndex = -1;
constexpr uint32_t kPairConnected = 2;
constexpr uint32_t kPairFailed = 3;
constexpr uint32_t kPairIndexTextLen = 2;
constexpr uint32_t kConnectionLen = 1;           // nLen of notification 2
constexpr uint32_t kDeviceInfoLen = 5;           // nLen of notification 64
constexpr uint32_t kCallKindEnded = 3;

void NotifyConnection(uint32_t value) {
    NotifyHost(KZ_NOTIFY_CONNECTION, value, nullptr, kConnectionLen);
}

// Notification 66 with the two-digit position of the phone chosen for pairing.
void NotifyPairing(uint32_t value) {
    char text[8];
    FormatSlotText(text, g_nPairIndex.load());
    NotifyHost(KZ_NOTIFY_PAIRING, value, text, kPairIndexTextLen);
}

// The reports shared by the HFP disconnect confirmation and indication.
void ReportHfpDisconnected() {
    LoadPairedDevices();
    NotifyConnection(KZ_CONNECTION_DISCONNECTED);
    SendCallInfo(kCallKindEnded, "");
    if (g_bPairMode != 1) REQ_SET_VISIBLE_MODE(true);
}

// State cleared whenever HFP goes down.
void ClearHfpSessionState() {
    g_bPhoneBookDone = 0;
    ForgetOutstandingPulls();
    g_bCallPausedPb = 0;
    g_bHfpConnected = 0;
    g_nPendingAction = kPendingNone;
}

// ---------------------------------------------------------- connect CFM

void OnHfpConnected() {
    SetConnecting(false);
    g_bHfpConnected = 1;
    if (g_bAutoConnecting) {
        g_bAutoConnecting = 0;
        g_nAutoConnectRetry = 0;
        if (g_nPendingAction == kPendingInquiry) {
            g_nPendingAction = kPendingNone;
            StartInquiry();   // the inquiry that waited for the automatic connection
        }
    }
    REQ_CONNECT_PROFILE(kProfilePbap);
    REQ_SET_VISIBLE_MODE(false);
    PostNavigStatus(KZ_NAVIG_HFP_CONNECTED_W, KZ_NAVIG_HFP_CONNECTED_L);
    if (g_bCurrSrcA2DP && !g_bA2dpConnected) REQ_CONNECT_PROFILE(kProfileA2dp);
    if (g_bPairMode == 1) {
        if (g_nPairIndex == kNoPairIndex) return;
        RegisterConnectedDevice();
        NotifyPairing(kPairConnected);
    }
    if (g_CurrConnectIndex != kEmptySlot) {
        SendConnectedDevice();
        NotifyHost(KZ_NOTIFY_CONNECT_COMPLETE, 0, nullptr, 0);
    } else {
        KZ_TRACE("g_CurrConnectIndex error\n");
    }
}

void OnHfpConnectFailed() {
    g_bHfpConnected = 0;
    SetConnecting(false);
    NotifyConnection(KZ_CONNECTION_DISCONNECTED);
    if (g_bAutoConnecting) {
        if (g_nPendingAction == kPendingInquiry) {
            g_nPendingAction = kPendingNone;
            g_nAutoConnectRetry = 0;
            g_bAutoConnecting = 0;
            StartInquiry();
            return;
        }
        if (++g_nAutoConnectRetry < kAutoConnectAttempts) {
            REQ_CONNECT_PROFILE(kProfileHfp);
            SetConnecting(true);
            return;
        }
        g_nAutoConnectRetry = 0;
        g_bAutoConnecting = 0;
    }
    if (g_bPbapConnected) REQ_DISCONNECT_PROFILE(kProfilePbap);
    if (g_bA2dpConnected) REQ_DISCONNECT_PROFILE(kProfileA2dp);
    if (g_bPairMode == 1 && !g_bInquiryRunning) NotifyPairing(kPairFailed);
    NotifyConnection(KZ_CONNECTION_FAILED);
    if (g_bPairMode != 1) REQ_SET_VISIBLE_MODE(true);
}

void OnPbapUp() {
    g_nPendingAction = kPendingNone;
    if (g_bHfpConnected) RequestPhoneBook(KZ_PB_DIALED, 0, 0);
}

void OnAvrcpUp() {
    g_bAvrcpConnected = 1;
    if (g_bCurrSrcA2DP) REQ_SDP_QUERY();   // learn the phone's AVRCP version
}

// ---------------------------------------------------------- connect IND

void OnHfpConnectedByPhone() {
    SetConnecting(false);
    PostNavigStatus(KZ_NAVIG_HFP_CONNECTED_W, KZ_NAVIG_HFP_CONNECTED_L);
    g_bAutoConnecting = 0;
    if (g_bHfpConnected) return;
    g_bHfpConnected = 1;
    if (!g_bPbapConnected) REQ_CONNECT_PROFILE(kProfilePbap);
    if (!g_bA2dpConnected && g_bCurrSrcA2DP) REQ_CONNECT_PROFILE(kProfileA2dp);
    g_CurrConnectIndex = kEmptySlot;
    REQ_SET_VISIBLE_MODE(false);
    int slot = FindSlotByAddress(g_abCurrAddr);
    if (slot >= 0) {
        g_CurrConnectIndex = slot;
        SendConnectedDevice();
        NotifyHost(KZ_NOTIFY_CONNECT_COMPLETE, 0, nullptr, 0);
    } else {
        // Not registered: its name completes the connection (OnUnknownPeerNamed).
        g_bUnknownPeer = 1;
        REQ_REMOTE_NAME(g_abCurrAddr);
    }
}

}  // namespace

// ---------------------------------------------------------------- helpers

void REQ_CONNECT_PROFILE(uint8_t profile) {
    if (profile == kProfilePbap) g_bPbapConnectDone = 0;
    SendConnectProfile(profile, g_abCurrAddr);
}

void REQ_SDP_QUERY() { SendSdpQuery(g_abCurrAddr); }

void SetConnecting(bool on) {
    KZ_TRACE(on ? "!!!!!!!!!!!!!!!!!!!!!set connecting true" : "!!!!!!!!!!!!!!!!!!!!!set connecting false");
    g_bConnecting = on ? 1 : 0;
}

void FormatSlotText(char out[8], int value) {
    std::memset(out, 0, 8);
    std::snprintf(out, 8, "%.2d", value);   // "%0.2d": at least two digits
}

void FormatAddressHex(char out[13], const uint8_t address[6]) {
    for (int i = 0; i < 6; ++i) std::snprintf(out + 2 * i, 3, "%02x", address[i]);
}

void SendConnectedDevice() {
    std::memset(&g_ConnectedDevice, 0, sizeof g_ConnectedDevice);
    int slot = g_CurrConnectIndex;
    PairedDeviceRecord rec;
    if (!GetSlot(slot, &rec)) {
        KZ_TRACE("g_CurrConnectIndex error\n");
        return;
    }
    FormatSlotText(g_ConnectedDevice.slot, slot);
    std::memcpy(g_ConnectedDevice.name, rec.name, sizeof rec.name);
    g_ConnectedDevice.name[sizeof g_ConnectedDevice.name - 1] = '\0';
    char hex[13];
    FormatAddressHex(hex, rec.address);
    std::memcpy(g_ConnectedDevice.address, hex, 12);
    g_ConnectedDevice.connected = 1;
    SetCurrentIndex(slot);
    NotifyHost(KZ_NOTIFY_DEVICE_INFO, 0, &g_ConnectedDevice, kDeviceInfoLen);
    NotifyConnection(KZ_CONNECTION_CONNECTED);
}

// ---------------------------------------------------------------- handlers

void OnModuleReady(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    if (m.at(kStatusOffset) != kStatusOk) {
        NotifyHost(KZ_NOTIFY_DEVICE_READY, 0, nullptr, 0);
        return;
    }
    g_bHfpConnected = 0;
    g_bPbapConnected = 0;
    g_bA2dpConnected = 0;
    g_bAvrcpConnected = 0;
    g_bConnecting = 0;
    ForgetOutstandingPulls();
    g_bPhoneBookDone = 0;
    g_bInquiryRunning = 0;
    // The restart took the phone's link and its calls with it: a call still
    // counted here would hold the next download paused and keep the next
    // caller's number from being asked for.
    if (g_bInCall || g_bCallActive || g_nCallSetup) SendCallInfo(kCallKindEnded, "");
    ResetCallState();
    {
        // The module restarted: nothing it was asked before will be confirmed.
        NamedLock send(g_hMutexSend, "MUTEX_SEND");
        ClearCmdList();
        g_bCfmForTheLastREQ = 1;
    }
    g_bModuleInited = 1;   // after the clear: requests from now on are for the new module
    char version[32];
    int n = std::snprintf(version, sizeof version, "WBXE3_J%02x%02x_%02x%02x",
                          m.at(kVersionOffset), m.at(kVersionOffset + 1),
                          m.at(kVersionOffset + 2), m.at(kVersionOffset + 3));
    // The head unit shows module versions in upper case; the prefix already
    // is, so the conversion only affects the hexadecimal digits.
    for (int i = 0; i <= n; ++i)
        version[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(version[i])));
    NotifyHost(KZ_NOTIFY_MODULE_VERSION, 0, version, static_cast<uint32_t>(n));
}

void OnConnectCfm(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    uint8_t profile = m.at(kConnectProfileOffset);
    if (m.at(kStatusOffset) == kStatusOk) {
        switch (profile) {
            case kProfileHfp: OnHfpConnected(); break;
            case kProfilePbap:
                g_bPbapConnected = 1;
                OnPbapUp();
                g_bPbapConnectDone = 1;
                break;
            case kProfileA2dp:
                g_bA2dpConnected = 1;
                if (g_bHfpConnected && !g_bAvrcpConnected) REQ_CONNECT_PROFILE(kProfileAvrcp);
                break;
            case kProfileAvrcp: OnAvrcpUp(); break;
            default: break;
        }
        return;
    }
    if (profile == kProfileHfp) OnHfpConnectFailed();
    else if (profile == kProfilePbap) g_bPbapConnectDone = 1;
}

void OnConnectInd(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    if (m.at(kStatusOffset) != kStatusOk) return;
    m.address(kConnectAddressOffset, g_abCurrAddr);
    switch (m.at(kConnectProfileOffset)) {
        case kProfileHfp: OnHfpConnectedByPhone(); break;
        case kProfilePbap: OnPbapUp(); break;   // the flag itself comes with the CFM
        case kProfileA2dp:
            g_bA2dpConnected = 1;
            if (!g_bAvrcpConnected) REQ_CONNECT_PROFILE(kProfileAvrcp);
            break;
        case kProfileAvrcp: OnAvrcpUp(); break;
        default: break;
    }
}

void OnDisconnectCfm(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    if (m.at(kStatusOffset) != kStatusOk) return;
    switch (m.at(kDisconnectProfileOffset)) {
        case kProfileHfp:
            ClearHfpSessionState();
            if (g_bPbapConnected) REQ_DISCONNECT_PROFILE(kProfilePbap);
            ReportHfpDisconnected();
            break;
        case kProfileA2dp:
            g_bA2dpConnected = 0;
            REQ_DISCONNECT_PROFILE(kProfileAvrcp);
            break;
        case kProfileAvrcp: g_bAvrcpConnected = 0; break;
        case kProfilePbap:
            g_bPbapConnected = 0;
            ForgetOutstandingPulls();   // nothing asked of the old session will be answered
            break;
        default: break;
    }
}

void OnDisconnectInd(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    uint8_t status = m.at(kStatusOffset);
    if (status != kStatusOk && status != kStatusLinkLost) return;
    switch (m.at(kDisconnectProfileOffset)) {
        case kProfileHfp:
            ClearHfpSessionState();
            if (g_bPbapConnected) REQ_DISCONNECT_PROFILE(kProfilePbap);
            if (g_bA2dpConnected) REQ_DISCONNECT_PROFILE(kProfileA2dp);
            ReportHfpDisconnected();
            break;
        case kProfileA2dp:
            g_bA2dpConnected = 0;
            if (g_bAvrcpConnected) REQ_DISCONNECT_PROFILE(kProfileAvrcp);
            break;
        case kProfileAvrcp: g_bAvrcpConnected = 0; break;
        case kProfilePbap:
            g_bPbapConnected = 0;
            ForgetOutstandingPulls();   // nothing asked of the old session will be answered
            break;
        default: break;
    }
}

void OnUnknownPeerNamed(const char* name) {
    CopyTextCut(g_szCurrName, sizeof g_szCurrName, name);
    g_bUnknownPeer = 0;
    RegisterConnectedDevice();
    if (g_CurrConnectIndex != kEmptySlot) SendConnectedDevice();
}

}  // namespace kz
