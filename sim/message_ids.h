// Module message ids the simulator sends or answers.
#pragma once
#include <cstdint>

namespace kzsim {

// Requests (confirmed with the same id).
inline constexpr uint16_t kReqRemoteName = 8;
inline constexpr uint16_t kReqInquiry = 10;
inline constexpr uint16_t kReqConnectProfile = 12;
inline constexpr uint16_t kReqDisconnectProfile = 13;
inline constexpr uint16_t kReqAudioToHandsfree = 14;
inline constexpr uint16_t kReqAudioToPhone = 15;
inline constexpr uint16_t kReqSetMicVolume = 23;
inline constexpr uint16_t kReqSdpQuery = 30;
inline constexpr uint16_t kReqAnswer = 80;
inline constexpr uint16_t kReqDial = 82;
inline constexpr uint16_t kReqCurrentCalls = 88;
inline constexpr uint16_t kReqCallHold = 90;
inline constexpr uint16_t kReqMediaOpen = 258;
inline constexpr uint16_t kReqMediaClose = 259;
inline constexpr uint16_t kReqAvrcpPassThrough = 288;
inline constexpr uint16_t kReqAvrcpVendor = 289;
inline constexpr uint16_t kReqPbapPull = 512;

// Indications.
inline constexpr uint16_t kIndModuleReady = 48;
inline constexpr uint16_t kIndInquiryResult = 49;
inline constexpr uint16_t kIndProfileConnected = 50;
inline constexpr uint16_t kIndProfileDisconnected = 51;
inline constexpr uint16_t kIndCallAudioOn = 52;
inline constexpr uint16_t kIndCallAudioOff = 53;
inline constexpr uint16_t kIndPairingResult = 59;
inline constexpr uint16_t kIndLinkKeyRequest = 60;
inline constexpr uint16_t kIndPinRequest = 61;
inline constexpr uint16_t kIndSdpRecord = 62;
inline constexpr uint16_t kIndAuthorise = 63;
inline constexpr uint16_t kIndInBandRing = 112;
inline constexpr uint16_t kIndHfpIndicator = 113;
inline constexpr uint16_t kIndCallSetupNumber = 115;
inline constexpr uint16_t kIndWaitingNumber = 116;
inline constexpr uint16_t kIndCurrentCall = 121;
inline constexpr uint16_t kIndCallCount = 122;
inline constexpr uint16_t kIndStreamStarted = 273;
inline constexpr uint16_t kIndStreamSuspended = 274;
inline constexpr uint16_t kIndMediaOpened = 275;
inline constexpr uint16_t kIndMediaClosed = 276;
inline constexpr uint16_t kIndMicMute = 277;
inline constexpr uint16_t kIndDependData = 308;
inline constexpr uint16_t kIndDependHeader = 310;
inline constexpr uint16_t kIndPbapComplete = 528;
inline constexpr uint16_t kIndPbapData = 529;

// Ids of the indications a module sends, which the host may answer with a
// 6-byte RES carrying the same id.
constexpr bool IsIndicationId(uint16_t id) {
    constexpr uint16_t kIds[] = {48,  49,  50,  51,  52,  53,  54,  55,  56,  58,  59,  62,
                                 64,  112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122,
                                 123, 124, 125, 162, 163, 164, 272, 273, 274, 275, 276, 277,
                                 308, 309, 310, 311, 528};
    for (uint16_t i : kIds) {
        if (i == id) return true;
    }
    return false;
}

// The host's full replies to security and phonebook-data indications carry
// the indication's id; the module does not confirm them.
constexpr bool IsIndicationReply(uint16_t id) {
    return id == kIndLinkKeyRequest || id == kIndPinRequest || id == kIndAuthorise ||
           id == kIndPbapData;
}

}  // namespace kzsim
