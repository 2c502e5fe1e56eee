// The exported functions (all but start-up and shut-down, see lifecycle.cpp).
// Each one is a thin shell over a request builder, a settings operation, the
// registry or the phonebook download: it either refuses at once, with a trace
// and no effect, or sends its requests and returns. Results come back later
// as notifications.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "KZ_Tarn.h"
#include "channel/requests.h"
#include "core/trace.h"
#include "events/audio.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/inquiry.h"
#include "events/notify.h"
#include "frame/control_window.h"
#include "phonebook/download.h"
#include "phonebook/phonebook_store.h"
#include "settings/registry.h"
#include "settings/settings.h"

namespace kz {
namespace {

inline constexpr int kInquiryStart = 1;
inline constexpr uint8_t kHoldReleaseWaiting = 0;   // HFP AT+CHLD=0
inline constexpr uint8_t kHoldReleaseActive = 1;    // AT+CHLD=1
inline constexpr uint8_t kHoldSwap = 2;             // AT+CHLD=2
inline constexpr uint8_t kAnswerCall = 1;
inline constexpr uint8_t kHangUpCall = 0;
inline constexpr uint8_t kTransferToCar = 1;
inline constexpr uint8_t kTransferToPhone = 0;
inline constexpr uint16_t kMicVolumeMuted = 0;
inline constexpr uint16_t kMicVolumeFull = 15;
inline constexpr uint8_t kButtonPressed = 0;
inline constexpr uint8_t kButtonReleased = 1;
inline constexpr uint32_t kPairChosen = 1;
inline constexpr uint32_t kSlotTextLen = 2;
inline constexpr uint32_t kInquiryEnded = 0;
inline constexpr int32_t kNoConnectIndex = 255;

struct LevelSetting {
    uint8_t type;
    uint8_t level;
};
inline constexpr LevelSetting kInitialLevels[] = {{2, 10}, {1, 15}, {0, 15}};

uint8_t Low8(int v) { return static_cast<uint8_t>(v & 0xFF); }

// Index text: decimal, as atoi reads it, keeping the low 8 bits. Text that is
// not a number at all (or overflows) is refused instead of read as 0.
bool ParseIndex(const char* text, uint8_t* out) {
    if (!text) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE) return false;
    *out = Low8(static_cast<int>(v));
    return true;
}

// Connect, pair and retry wait until no phone is connected or connecting.
bool MayConnect() {
    if (g_bHfpConnected || g_bConnecting) {
        KZ_TRACE("IsConneting or connceted");
        return false;
    }
    return true;
}

// Sends the HFP connect to g_abCurrAddr and hides the unit while it runs.
void ConnectHfpHidden() {
    REQ_CONNECT_PROFILE(kProfileHfp);
    SetConnecting(true);
    REQ_SET_VISIBLE_MODE(false);
}

void EndInquiryMode() {
    REQ_SET_VISIBLE_MODE(true);
    g_bPairMode = 0;
    g_bInquiryWanted = 0;
    g_bNameFetching = 0;
    NotifyHost(KZ_NOTIFY_INQUIRY, kInquiryEnded, nullptr, 0);
}

}  // namespace
}  // namespace kz

using namespace kz;

extern "C" {

KZ_TARN_API void KZ_BT_InquiryDevice(int start) {
    if (start == kInquiryStart) StartInquiry();
    else EndInquiryMode();
}

KZ_TARN_API void KZ_BT_PairRemoteDevice(const char* index, const char* pin) {
    if (!MayConnect()) return;
    uint8_t n;
    uint8_t address[6];
    if (!ParseIndex(index, &n) || !pin || !GetInquiryAddress(n, address)) {
        KZ_TRACE("PairRemoteDevice: no inquiry result %s", index ? index : "(null)");
        return;
    }
    SetPinCode(pin);
    g_bPairMode = 1;
    g_nPairIndex = n;
    std::memcpy(g_abCurrAddr, address, sizeof address);
    char slot[8];
    FormatSlotText(slot, n);
    NotifyHost(KZ_NOTIFY_PAIRING, kPairChosen, slot, kSlotTextLen);
    ConnectHfpHidden();
}

KZ_TARN_API void KZ_BT_ConnectPairedDevice(const char* index) {
    if (!MayConnect()) return;
    uint8_t n;
    PairedDeviceRecord slot;
    if (!ParseIndex(index, &n) || !GetSlot(n, &slot)) {
        KZ_TRACE("ConnectPairedDevice: no slot %s", index ? index : "(null)");
        return;
    }
    g_bPairMode = 0;
    g_CurrConnectIndex = n;
    std::memcpy(g_abCurrAddr, slot.address, sizeof slot.address);
    ConnectHfpHidden();
}

KZ_TARN_API void KZ_BT_PairingRetry(void) {
    if (!MayConnect()) return;
    REQ_CONNECT_PROFILE(kProfileHfp);
    SetConnecting(true);
}

KZ_TARN_API void KZ_BT_DisConnectPairedDevice(void) {
    if (IsPhoneBookDownloading()) {
        // The download control disconnects when the current batch ends.
        KZ_TRACE("IsDownload phonebook");
        SetPhoneBookPendingAction(kPendingDisconnect);
        return;
    }
    if (!g_bHfpConnected) return;
    REQ_DISCONNECT_PROFILE(kProfileHfp);
    if (g_bA2dpConnected) REQ_DISCONNECT_PROFILE(kProfileA2dp);
}

KZ_TARN_API void KZ_BT_DisconnectA2DP(void) { REQ_DISCONNECT_PROFILE(kProfileA2dp); }

KZ_TARN_API void KZ_BT_DeletePairedDevice(const char* index) {
    uint8_t n;
    if (!ParseIndex(index, &n) || n >= kSlotCount) return;
    DeletePairedDevice(n);
}

KZ_TARN_API void KZ_BT_GetPairedDevices(void) { LoadPairedDevices(); }

KZ_TARN_API void KZ_BT_Dial(const char* number) { REQ_DIAL(number); }

KZ_TARN_API void KZ_BT_Answer(void) { REQ_ANSWER(kAnswerCall); }

KZ_TARN_API void KZ_BT_Hangup(void) { REQ_ANSWER(kHangUpCall); }

KZ_TARN_API void KZ_BT_End1stCall(void) { REQ_CALL_HOLD(kHoldReleaseActive); }

KZ_TARN_API void KZ_BT_Hold1stCall(void) { REQ_CALL_HOLD(kHoldSwap); }

// One entry point, two names.
KZ_TARN_API void KZ_BT_SwitchCalls(void) __attribute__((alias("KZ_BT_Hold1stCall")));

KZ_TARN_API void KZ_BT_EndWaitingCall(void) { REQ_CALL_HOLD(kHoldReleaseWaiting); }

KZ_TARN_API void KZ_BT_DTMF(int character) { REQ_DTMF(Low8(character)); }

KZ_TARN_API void KZ_BT_AudioTransfer(int where) {
    switch (Low8(where)) {
        case kTransferToCar: REQ_AUDIO_TO_HANDSFREE(); break;
        case kTransferToPhone: REQ_AUDIO_TO_PHONE(); break;
        default: KZ_TRACE("AudioTransfer: %d is neither car nor phone", where); break;
    }
}

KZ_TARN_API void KZ_BT_SetPhoneMute(int mute) {
    if (mute) {
        REQ_SET_MIC_VOLUME(kMicVolumeMuted);
        return;
    }
    REQ_SET_MIC_VOLUME(kMicVolumeFull);
    StartGainRestoreTimer();   // the module loses the gain on unmute
}

KZ_TARN_API void KZ_BT_AVRCPCmd(int operation) {
    if (!g_bHfpConnected || !g_bCurrSrcA2DP) return;
    if (!g_bA2dpConnected) {
        REQ_CONNECT_PROFILE(kProfileA2dp);
        return;
    }
    REQ_AVRCP_PASS_THROUGH(Low8(operation), kButtonPressed);
    REQ_AVRCP_PASS_THROUGH(Low8(operation), kButtonReleased);
}

KZ_TARN_API void KZ_BT_SetAudioService(void) {
    g_bCurrSrcA2DP = 1;
    KZ_TRACE("SetCurrSrcToA2DP = %d", 1);
}

KZ_TARN_API void KZ_BT_GetPhonBookSize(int type) { GetPhoneBookSize(type); }

KZ_TARN_API void KZ_BT_GetPhonebookData(int type, int count) { GetPhoneBookData(type, count); }

KZ_TARN_API void KZ_BT_GetContactsFromFile(void) { LoadContactsFromFile(); }

KZ_TARN_API void KZ_BT_ResetATCommand(void) { REQ_RESET_AT_COMMAND(); }

KZ_TARN_API void KZ_BT_SetInitialValue(void) {
    LoadMicrophoneMode();
    LoadPairedDevices();
    LoadMicrophoneGain();
    SendLocalDeviceName();
    REQ_SET_VISIBLE_MODE(true);
    for (const auto& l : kInitialLevels) REQ_SET_LEVEL(l.type, l.level);
    if (g_bAutoConnect && g_CurrConnectIndex != kNoConnectIndex) g_bAutoConnecting = 1;
    if (g_bAutoConnecting) {
        REQ_CONNECT_PROFILE(kProfileHfp);
        SetConnecting(true);
    }
}

KZ_TARN_API void KZ_BT_SetPinCode(const char* pin) {
    if (pin) SetPinCode(pin);
}

KZ_TARN_API void KZ_BT_SetLocalDeviceName(void) { SendLocalDeviceName(); }

KZ_TARN_API void KZ_BT_SetAutoAnswer(int on) { SetAutoAnswer(on != 0); }

KZ_TARN_API void KZ_BT_SetAutoConnect(int value) { SetAutoConnect(value); }

KZ_TARN_API void KZ_BT_SetMicrophoneMode(int mode) { SetMicrophoneMode(mode, true); }

KZ_TARN_API void KZ_BT_GetMicrophoneMode(void) { LoadMicrophoneMode(); }

KZ_TARN_API void KZ_BT_SetMicrophoneGain(int gain) { SetMicrophoneGain(gain); }

KZ_TARN_API void KZ_BT_GetMicrophoneGain(void) { LoadMicrophoneGain(); }

}  // extern "C"

// Exported under its C++ name; it has never had an effect.
KZ_TARN_API void KZ_BT_SetMute(bool) {}
