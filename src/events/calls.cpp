// Call state from the HFP indicators, the call list and the number
// indications; call audio and microphone confirmations; the after-call work.
// Everything runs on the event thread except OnWaitingNumber (receive thread).
#include "events/calls.h"

#include <cstring>

#include "channel/inbound_view.h"
#include "channel/module_ids.h"
#include "channel/requests.h"
#include "core/sync_objects.h"
#include "core/trace.h"
#include "events/connection.h"
#include "events/notify.h"
#include "phonebook/download.h"
#include "settings/settings.h"

namespace kz {

namespace {

constexpr size_t kStatusOffset = 6;
constexpr size_t kIndicatorOffset = 6;
constexpr size_t kIndicatorValueOffset = 7;
constexpr size_t kCallListOffset = 6;
constexpr size_t kCurrentIndexOffset = 7;
constexpr size_t kCurrentStateOffset = 9;
constexpr size_t kCurrentNumberLenOffset = 13;
constexpr size_t kCurrentNumberOffset = 15;
constexpr size_t kSetupNumberLenOffset = 6;
constexpr size_t kSetupNumberOffset = 8;
constexpr size_t kCallCountOffset = 6;
constexpr size_t kMicMuteOffset = 6;

enum Indicator : uint8_t {
    kIndService = 0,
    kIndCall = 1,
    kIndCallSetup = 2,
    kIndHeld = 3,
    kIndSignal = 4,
    kIndRoaming = 5,
    kIndBattery = 6,
};

constexpr int32_t kSetupNone = 0;
constexpr int32_t kSetupIncoming = 1;
constexpr int32_t kSetupOutgoing = 2;
constexpr int32_t kMaxHeldState = 2;

// Call-record states.
constexpr uint32_t kStateActive = 0;
constexpr uint32_t kStateOutgoing = 2;
constexpr uint32_t kStateEnded = 3;
constexpr uint32_t kStateIncoming = 4;

constexpr int32_t kAutoAnswerTicks = 5;
constexpr uint16_t kMicVolumeFull = 15;
constexpr uint16_t kMicVolumeMuted = 0;

uint16_t MessageId(const InboundView& m) {
    return static_cast<uint16_t>(m.at(4) | (m.at(5) << 8));
}

// Copies a zero-terminated number between 56-byte buffers (cut at 55).
void CopyNumber(char (&dst)[56], const char* src) {
    CopyTextCut(dst, sizeof dst, src);
}

// Number from a message: length field at lenOffset (high byte first), text after it.
void ReadNumber(const InboundView& m, size_t lenOffset, size_t textOffset, char (&dst)[56]) {
    std::memset(dst, 0, sizeof dst);
    m.text(textOffset, m.be16(lenOffset), dst, sizeof dst);
}

void NotifyCallRecord() {
    NotifyHost(KZ_NOTIFY_CALL_RECORD, 0, &g_CurrCall, sizeof g_CurrCall);
}

void NotifyCallCount(int32_t count) {
    NotifyHost(KZ_NOTIFY_CALL_COUNT, static_cast<uint32_t>(count), nullptr, 0);
}

void PostCallPresent() { PostNavigStatus(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_PRESENT_L); }

void SignalAfterCall() {
    g_bInCall = 0;
    SignalEvent(g_hAfterCallEvent);
}

// State and number into the call record, then the status bar, notification
// 16 and a call count of one.
void ReportCall(uint32_t state, const char* number) {
    g_CurrCall.state = state;
    std::memset(g_CurrCall.number, 0, sizeof g_CurrCall.number);
    if (number && number[0]) CopyNumber(g_CurrCall.number, number);
    SendCallInfo(state, g_CurrCall.number);
    NotifyCallRecord();
    g_nCallCount = 1;
    NotifyCallCount(1);
}

void OnCallIndicator(uint8_t value) {
    if (value == 1) {
        g_bCallActive = 1;
        g_bInCall = 1;
        if (g_bNoCallData == 0) REQ_CURRENT_CALLS();
        return;
    }
    if (value != 0) return;
    std::memset(&g_CurrCall, 0, sizeof g_CurrCall);
    g_bCallActive = 0;
    std::memset(g_szActiveCallNum, 0, sizeof g_szActiveCallNum);
    // The calls ended: their set-up number belongs to none of the next ones.
    std::memset(g_CallSetupNum, 0, sizeof g_CallSetupNum);
    g_bNoCallData = 1;
    if (!g_bInCall) return;
    if (g_bAutoAnswer) g_nAutoAnswerCountdown = 0;
    REQ_CURRENT_CALLS();
    if (g_nCallCount <= 1 && g_bHfpConnected) SignalAfterCall();
}

void OnCallSetupIndicator(uint8_t value) {
    switch (value) {
        case kSetupIncoming:
            g_nCallSetup = kSetupIncoming;
            if (g_bAutoAnswer) g_nAutoAnswerCountdown = kAutoAnswerTicks;
            if (!g_bInCall) REQ_CURRENT_CALLS();
            g_bCallPausedPb = 1;
            break;
        case kSetupOutgoing:
            g_nCallSetup = kSetupOutgoing;
            REQ_CURRENT_CALLS();
            g_bCallPausedPb = 1;
            break;
        case kSetupNone:
            g_nCallSetup = kSetupNone;
            std::memset(g_CallSetupNum, 0, sizeof g_CallSetupNum);
            if (g_bHfpConnected) REQ_CURRENT_CALLS();
            // A set-up call that never became active (missed or rejected).
            if (g_nCallCount <= 1 && g_bHfpConnected && !g_bInCall) SignalAfterCall();
            break;
        default:   // 3: the remote party is being alerted
            break;
    }
}

}  // namespace

void OnHfpIndicator(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    uint8_t value = m.at(kIndicatorValueOffset);
    switch (m.at(kIndicatorOffset)) {
        case kIndCall: OnCallIndicator(value); break;
        case kIndCallSetup: OnCallSetupIndicator(value); break;
        case kIndHeld:
            if (value <= kMaxHeldState) g_nHeldState = value;
            NotifyHost(KZ_NOTIFY_CALL_HELD, value, nullptr, 0);
            break;
        case kIndSignal: NotifyHost(KZ_NOTIFY_SIGNAL, value, nullptr, 0); break;
        case kIndBattery: NotifyHost(KZ_NOTIFY_BATTERY, 0, nullptr, value); break;
        case kIndService:
        case kIndRoaming:
        default: break;
    }
}

void OnCallListResult(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    if (m.at(kCallListOffset) == 0) {
        g_bNoCallData = 1;
        return;
    }
    g_bNoCallData = 0;
    int32_t setup = g_nCallSetup;
    bool active = g_bCallActive != 0;
    if (setup == kSetupIncoming && !active) {
        ReportCall(kStateIncoming, g_CallSetupNum);
    } else if ((setup == kSetupIncoming || setup == kSetupOutgoing) && active) {
        // A second call while one is active: the record shows the active one.
        CopyNumber(g_szActiveCallNum, g_CallSetupNum);
        ReportCall(kStateActive, g_szActiveCallNum);
    } else if (setup == kSetupOutgoing && !active) {
        ReportCall(kStateOutgoing, g_CallSetupNum);
    } else if (setup == kSetupNone && !active) {
        g_nCallCount = 0;
        NotifyCallCount(0);
        return;
    } else {
        return;
    }
    if (g_nCallCount != 0) PostCallPresent();
}

void OnCurrentCall(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    uint32_t state = m.at(kCurrentStateOffset);
    g_CurrCall.index = m.at(kCurrentIndexOffset);
    g_CurrCall.state = state;
    ReadNumber(m, kCurrentNumberLenOffset, kCurrentNumberOffset, g_CurrCall.number);
    NotifyCallRecord();
    uint32_t kind = state == kStateIncoming ? kStateIncoming
                    : state == kStateActive ? kStateActive
                                            : kStateOutgoing;
    SendCallInfo(kind, g_CurrCall.number);
}

void OnCallSetupNumber(const uint8_t* msg, size_t len) {
    if (g_bNoCallData != 0) return;
    InboundView m(msg, len);
    ReadNumber(m, kSetupNumberLenOffset, kSetupNumberOffset, g_CallSetupNum);
    if (g_nCallSetup == kSetupIncoming && !g_bCallActive) {
        ReportCall(kStateIncoming, g_CallSetupNum);
        PostCallPresent();
    }
}

void OnWaitingNumber(const uint8_t* msg, size_t len) {
    if (g_bNoCallData != 0) return;
    InboundView m(msg, len);
    ReadNumber(m, kSetupNumberLenOffset, kSetupNumberOffset, g_CallHeldNum);
}

void OnCallCount(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    int32_t count = m.at(kCallCountOffset);
    g_nCallCount = count;
    NotifyCallCount(count);
    if (count != 0) PostCallPresent();
}

void OnAudioTransferCfm(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    if (m.at(kStatusOffset) != 0) return;
    uint16_t id = MessageId(m);
    if (id == msgid::kAudioToHandsfree) {
        NotifyHost(KZ_NOTIFY_CALL_AUDIO, 1, nullptr, 0);
        PostNavigStatus(KZ_NAVIG_STATE_W, KZ_NAVIG_AUDIO_IN_CAR_L);
        REQ_SET_MIC_VOLUME(kMicVolumeFull);
        StartGainRestoreTimer();
    } else if (id == msgid::kAudioToPhone) {
        NotifyHost(KZ_NOTIFY_CALL_AUDIO, 0, nullptr, 0);
        PostNavigStatus(KZ_NAVIG_STATE_W, KZ_NAVIG_AUDIO_ON_PHONE_L);
    }
}

void OnCallAudioInd(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    if (m.at(kStatusOffset) != 0) return;
    uint16_t id = MessageId(m);
    if (id == msgid::kCallAudioOn) {
        NotifyHost(KZ_NOTIFY_CALL_AUDIO, 1, nullptr, 0);
        REQ_SET_MIC_VOLUME(kMicVolumeFull);
        StartGainRestoreTimer();
    } else if (id == msgid::kCallAudioOff) {
        NotifyHost(KZ_NOTIFY_CALL_AUDIO, 0, nullptr, 0);
    }
}

void OnMicVolumeCfm(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    if (m.at(kStatusOffset) != 0) return;
    int32_t volume = g_nMicVolume;
    if (volume == kMicVolumeFull) {
        g_bMicMuted = 0;
        NotifyHost(KZ_NOTIFY_MIC_MUTE, 1, nullptr, 0);
    } else if (volume == kMicVolumeMuted) {
        g_bMicMuted = 1;
        NotifyHost(KZ_NOTIFY_MIC_MUTE, 0, nullptr, 0);
    }
}

void OnMicMuteInd(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    NotifyHost(KZ_NOTIFY_MIC_MUTE, m.at(kMicMuteOffset) != 0 ? 1 : 0, nullptr, 0);
}

void OnMicGainCfm(const uint8_t*, size_t) {
    NotifyHost(KZ_NOTIFY_MIC_GAIN, static_cast<uint32_t>(g_nMicGain.load()), nullptr, 0);
}

void ForgetDialledNumber() { std::memset(g_CallSetupNum, 0, sizeof g_CallSetupNum); }

void OnAfterCall() {
    char number[56];
    CopyNumber(number, g_CurrCall.number);
    SendCallInfo(kStateEnded, number);
    KZ_TRACE("SendMessageToMain BT_HANG_DOWN\n");
    PostNavigStatus(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L);
    PhoneBookAfterCall();   // resumes the download that the call paused
}

}  // namespace kz
