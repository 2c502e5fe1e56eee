// A2DP media channel and stream, the phone's AVRCP version, vendor-dependent
// responses (play state, track information) and the audio-source switch.
#include "events/audio.h"

#include <algorithm>
#include <cstring>

#include "channel/inbound_view.h"
#include "channel/requests.h"
#include "core/trace.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/notify.h"

namespace kz {

namespace {

constexpr size_t kStatusOffset = 6;
constexpr size_t kSdpServiceOffset = 6;
constexpr size_t kSdpVersionOffset = 7;        // high byte first
constexpr size_t kDependTypeOffset = 6;        // IND 310
constexpr size_t kDependLengthOffset = 7;      // IND 310, high byte first
constexpr size_t kFragmentLenOffset = 7;       // IND 308
constexpr size_t kFragmentOffset = 8;
constexpr size_t kEventOffset = 12;            // notification event / interim event
constexpr size_t kEventValueOffset = 13;
constexpr size_t kRejectCodeOffset = 11;

constexpr uint8_t kServiceAvrcp = 4;
constexpr uint16_t kAvrcpMetadataVersion = 0x0103;
constexpr int kAvrcpPlay = 0x44;

// AV/C response types announced by IND 310.
constexpr int32_t kResponseRejected = 10;
constexpr int32_t kResponseStable = 12;     // GetElementAttributes answer
constexpr int32_t kResponseChanged = 13;    // notification
constexpr int32_t kResponseInterim = 15;    // registration accepted

constexpr uint8_t kEventPlayStatus = 1;
constexpr uint8_t kEventTrackChanged = 2;

constexpr int32_t kPlaying = 1;
constexpr int32_t kPaused = 2;
constexpr uint16_t kNibbleMask = 0x000F;
constexpr uint32_t kNowPlayingTexts = 0x01;
constexpr uint32_t kNowPlayingState = 0x100;
constexpr uint32_t kCallKindEnded = 3;
constexpr uintptr_t kSourceSelect = 1;
constexpr uintptr_t kSourceLeavePhone = 2;
constexpr intptr_t kSourcePhoneMusic = 1;

void PostPlaying() { PostNavigStatus(KZ_NAVIG_STATE_W, KZ_NAVIG_MUSIC_PLAYING_L); }
void PostPaused() { PostNavigStatus(KZ_NAVIG_STATE_W, KZ_NAVIG_MUSIC_PAUSED_L); }

void SetAndReportState(int32_t state) {
    g_nPlayState = state;
    NotifyHost(KZ_NOTIFY_PLAY_STATE, static_cast<uint32_t>(state), nullptr, 0);
    SendNowPlaying(kNowPlayingState);
}

// Playing, without asking the phone (AVRCP before 1.3, or a rejected request).
void ReportPlayingDirectly() {
    PostPlaying();
    REQ_SET_NIBBLE_MASK(kNibbleMask);
    SetAndReportState(kPlaying);
}

void ReportPausedDirectly() {
    PostPaused();
    SetAndReportState(kPaused);
}

void OnElementAttributes(const InboundView& m) {
    size_t n = std::min<size_t>(m.at(kFragmentLenOffset), m.available(kFragmentOffset));
    if (g_AttrCollector.Feed(m.ptr(kFragmentOffset), n) !=
        ElementAttributeCollector::Result::kComplete)
        return;
    // The track block's fields are 255 bytes: keep a terminating zero in each.
    std::memset(&g_TrackInfo, 0, sizeof g_TrackInfo);
    CopyTextCut(g_TrackInfo.title, sizeof g_TrackInfo.title, g_AttrCollector.title());
    CopyTextCut(g_TrackInfo.artist, sizeof g_TrackInfo.artist, g_AttrCollector.artist());
    CopyTextCut(g_TrackInfo.album, sizeof g_TrackInfo.album, g_AttrCollector.album());
    SendNowPlaying(kNowPlayingTexts);
    NotifyHost(KZ_NOTIFY_TRACK_INFO, 0, &g_TrackInfo, sizeof g_TrackInfo);
}

void OnAvrcpNotification(const InboundView& m) {
    switch (m.at(kEventOffset)) {
        case kEventPlayStatus:
            REQ_AVRCP_REGISTER_PLAY_STATUS();   // notifications are one-shot
            ReportPlayState(m.at(kEventValueOffset));
            break;
        case kEventTrackChanged:
            REQ_AVRCP_GET_ELEMENT_ATTRIBUTES();
            REQ_AVRCP_REGISTER_TRACK_CHANGE();
            break;
        default: break;
    }
}

}  // namespace

// ------------------------------------------------------------ media channel

void OnMediaOpenCfm(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    if (m.at(kStatusOffset) != 0) return;
    KZ_TRACE("CFM:The Media is Open\n");
    KZ_BT_AVRCPCmd(kAvrcpPlay);
}

void OnMediaOpenedInd(const uint8_t*, size_t) {
    KZ_TRACE("IND:The Media is Open\n");
    KZ_BT_AVRCPCmd(kAvrcpPlay);
}

// ------------------------------------------------------------------- stream

void OnStreamStarted(const uint8_t*, size_t) {
    if (g_bAvrcpServiceSupport) {
        KZ_TRACE("g_bAvrcpServiceSupport = true,RegistNotification");
        REQ_AVRCP_REGISTER_TRACK_CHANGE();
        REQ_AVRCP_REGISTER_PLAY_STATUS();
        REQ_AVRCP_GET_ELEMENT_ATTRIBUTES();
        return;
    }
    KZ_TRACE("g_bAvrcpServiceSupport = false,not RegistNotification");
    ReportPlayingDirectly();
}

void OnStreamSuspended(const uint8_t*, size_t) {
    if (g_bAvrcpServiceSupport) return;   // the phone's notifications report it
    ReportPausedDirectly();
}

void OnSdpServiceRecord(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    uint8_t service = m.at(kSdpServiceOffset);
    uint16_t version = m.be16(kSdpVersionOffset);
    KZ_TRACE("service = %d, versionis %04x", service, version);
    if (service != kServiceAvrcp) return;
    g_bAvrcpServiceSupport = version >= kAvrcpMetadataVersion ? 1 : 0;
}

// --------------------------------------------------------- vendor-dependent

void OnDependHeader(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    g_nDependType = m.at(kDependTypeOffset);
    g_nDependLength = m.be16(kDependLengthOffset);
}

void OnDependData(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    switch (g_nDependType.load()) {
        case kResponseStable: OnElementAttributes(m); break;
        case kResponseChanged: OnAvrcpNotification(m); break;
        case kResponseInterim:
            if (m.at(kEventOffset) == kEventPlayStatus) ReportPlayState(m.at(kEventValueOffset));
            break;
        case kResponseRejected:
            // The phone refused a metadata or notification request, so it will
            // not report the play state: fall back to what a phone without
            // AVRCP 1.3 gets, playing while the stream runs.
            KZ_TRACE("Error state -- 0x%02x", m.at(kRejectCodeOffset));
            ReportPlayingDirectly();
            break;
        default: break;
    }
}

void ReportPlayState(int32_t state) {
    if (!g_bHfpConnected) return;
    if (state == kPlaying) {
        PostPlaying();
        REQ_SET_NIBBLE_MASK(kNibbleMask);
    } else {
        PostPaused();
    }
    KZ_TRACE("Send play state to UI   -- %d", state);
    SetAndReportState(state);
}

// -------------------------------------------------------------- audio source

void SetAudioSource(uintptr_t wParam, intptr_t lParam) {
    if (wParam == kSourceSelect) {
        bool phoneMusic = lParam == kSourcePhoneMusic;
        KZ_TRACE("SetCurrSrcToA2DP = %d", phoneMusic ? 1 : 0);
        if (phoneMusic) {
            g_bCurrSrcA2DP = 1;
            if (g_bHfpConnected && !g_bA2dpConnected) REQ_CONNECT_PROFILE(kProfileA2dp);
            return;
        }
        g_bCurrSrcA2DP = 0;
        if (!g_bHfpConnected) return;
        REQ_DISCONNECT_PROFILE(kProfileA2dp);
        ReportPausedDirectly();
    } else if (wParam == kSourceLeavePhone) {
        if (g_bInCall) REQ_AUDIO_TO_PHONE();
        g_bCurrSrcA2DP = 0;
        SendCallInfo(kCallKindEnded, "");
        PostNavigStatus(KZ_NAVIG_SOURCE_W, KZ_NAVIG_SOURCE_NOT_A2DP_L);
    }
}

}  // namespace kz
