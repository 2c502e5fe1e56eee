// The hidden control window "KZ_BTWidnow": commands from other applications,
// the one-second housekeeping timer and the one-shot gain-restore timer. All
// of it runs on the thread that created the window and dispatches messages.
#include "frame/control_window.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "KZ_Tarn.h"
#include "channel/requests.h"
#include "core/trace.h"
#include "events/audio.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/dispatcher.h"
#include "events/notify.h"
#include "frame/lifecycle.h"
#include "settings/registry.h"
#include "settings/settings.h"

namespace kz {

namespace {

inline constexpr int32_t kMediaOpenTicks = 4;
inline constexpr int32_t kPbapNoticeTicks = 3;


// Message 2126: which call key.
inline constexpr KzWParam kCallKeyAnswer = 1;
inline constexpr KzWParam kCallKeyHangUp = 2;
inline constexpr uint8_t kAnswer = 1;
inline constexpr uint8_t kHangUp = 0;

// Message 1949 deletes the link-key store only when lParam confirms it.
inline constexpr KzLParam kDeleteConfirmed = 1;
inline constexpr const char* kLinkKeyStoreDir = "\\BACKUP\\KZ_TARN";

// Message 1951: select or deselect the phone's music, or leave the phone.
inline constexpr KzWParam kSourceSelect = 1;
inline constexpr KzWParam kSourceLeavePhone = 2;

// The WM_COPYDATA command block: command number, then the value.
struct CommandBlock {
    uint32_t command;
    uint32_t value;
};

inline constexpr uint32_t kNibble = 0xF;
inline constexpr uint32_t kNibbleBits = 4;
inline constexpr uint32_t kMaskBits = 32;   // shifts of 32 bits or more add nothing

// Mask of `count` low nibbles, cut to 16 bits: 3 -> 0x0FFF, 4 or more -> 0xFFFF.
uint16_t NibbleMask(uint16_t count) {
    uint32_t mask = 0;
    for (uint32_t i = 0; i < count && i * kNibbleBits < kMaskBits; ++i)
        mask |= kNibble << (i * kNibbleBits);
    return static_cast<uint16_t>(mask & 0xFFFF);
}

uint8_t LowByte(uint16_t v) { return static_cast<uint8_t>(v & 0xFF); }

void CmdMicGain(uint16_t v) { REQ_SET_MIC_GAIN(v); }
void CmdNibbleMask(uint16_t v) { REQ_SET_NIBBLE_MASK(NibbleMask(v)); }
void CmdMicVolume(uint16_t v) { REQ_SET_MIC_VOLUME(v); }
void CmdLevel0(uint16_t v) { REQ_SET_LEVEL(0, LowByte(v)); }
void CmdLevel1(uint16_t v) { REQ_SET_LEVEL(1, LowByte(v)); }
void CmdLevel2(uint16_t v) { REQ_SET_LEVEL(2, LowByte(v)); }
// The first half of KZ_BT_SetMicrophoneMode: store and send, no re-mute.
void CmdMicMode(uint16_t v) { SetMicrophoneMode(v, false); }
void CmdOption6(uint16_t v) { REQ_SET_OPTION_6(LowByte(v)); }
void CmdOption26(uint16_t v) { REQ_SET_OPTION_26(LowByte(v)); }
void CmdDutMode(uint16_t) {
    if (!g_bDutMode) REQ_ENTER_DUT_MODE();
}

struct Command {
    uint32_t number;
    void (*run)(uint16_t value);
};
inline constexpr std::array<Command, 10> kCommands = {{
    {1, CmdMicGain},
    {2, CmdNibbleMask},
    {3, CmdMicVolume},
    {4, CmdLevel0},
    {5, CmdLevel1},
    {6, CmdLevel2},
    {7, CmdMicMode},
    {8, CmdOption6},
    {9, CmdOption26},
    {10, CmdDutMode},
}};

void OnCopyData(KzWParam wParam, KzLParam lParam) {
    if (wParam != KZ_COPYDATA_COMMAND) return;
    const auto* cds = reinterpret_cast<const KzCopyDataStruct*>(lParam);
    // A block shorter than the two words it must hold is not read.
    if (!cds || !cds->lpData || cds->cbData < sizeof(CommandBlock)) return;
    CommandBlock block;
    std::memcpy(&block, cds->lpData, sizeof block);
    const uint16_t value = static_cast<uint16_t>(block.value & 0xFFFF);
    KZ_TRACE("nMode = %d,value = %.2x", static_cast<int>(block.command), value);
    auto it = std::find_if(kCommands.begin(), kCommands.end(),
                           [&](const Command& c) { return c.number == block.command; });
    if (it != kCommands.end()) it->run(value);
}

void OnCallKey(KzWParam wParam) {
    if (wParam == kCallKeyAnswer) REQ_ANSWER(kAnswer);
    else if (wParam == kCallKeyHangUp) REQ_ANSWER(kHangUp);
}

void OnDeleteLinkKeys(KzLParam lParam) {
    if (lParam == kDeleteConfirmed) DeleteTree(kLinkKeyStoreDir);
}

void OnAudioSource(KzWParam wParam, KzLParam lParam) {
    if (wParam == kSourceSelect || wParam == kSourceLeavePhone) SetAudioSource(wParam, lParam);
}

// Counts an atomic down by one; true when it has just gone from 1 to 0.
bool CountDownToZero(std::atomic<int32_t>& counter) { return counter.fetch_sub(1) == 1; }

void AutoAnswerTick() {
    if (!g_bModuleInited || !g_bHfpConnected || !g_bAutoAnswer) return;
    if (g_nAutoAnswerCountdown <= 0) return;
    if (CountDownToZero(g_nAutoAnswerCountdown)) REQ_ANSWER(kAnswer);
}

// The media channel is requested once, on the fourth tick with it closed.
void MediaOpenTick() {
    if (!g_bA2dpConnected) {
        g_nMediaOpenTicks = kMediaOpenTicks;
        g_bMediaOpen = 0;
        return;
    }
    if (g_bMediaOpen) {
        g_nMediaOpenTicks = kMediaOpenTicks;
        return;
    }
    if (CountDownToZero(g_nMediaOpenTicks)) REQ_MEDIA_OPEN();
}

// Tells the user interface when a PBAP connect has been pending three ticks,
// and three ticks after it was answered.
void PbapNoticeTick() {
    const bool done = g_bPbapConnectDone != 0;
    if (!done) {
        if (CountDownToZero(g_nPbapWaitTicks)) {
            NotifyHost(KZ_NOTIFY_PBAP_PENDING, 1, nullptr, 0);
            g_bPbapNoticeSent = 1;
        }
        return;
    }
    g_nPbapWaitTicks = kPbapNoticeTicks;
    if (g_bPbapNoticeSent && CountDownToZero(g_nPbapDoneTicks)) {
        NotifyHost(KZ_NOTIFY_PBAP_PENDING, 0, nullptr, 0);
        g_nPbapDoneTicks = kPbapNoticeTicks;
        g_bPbapNoticeSent = 0;
    }
}

}  // namespace

std::atomic<int32_t> g_nMediaOpenTicks{kMediaOpenTicks};
std::atomic<int32_t> g_nPbapWaitTicks{kPbapNoticeTicks};
std::atomic<int32_t> g_nPbapDoneTicks{kPbapNoticeTicks};
std::atomic<uint8_t> g_bPbapNoticeSent{0};

KzLResult ControlWndProc(KzHwnd, uint32_t msg, KzWParam wParam, KzLParam lParam) {
    switch (msg) {
        case KZ_MSG_CALL_KEY: OnCallKey(wParam); break;
        case KZ_MSG_DELETE_LINK_KEYS: OnDeleteLinkKeys(lParam); break;
        case KZ_MSG_ACCEPTED_NO_ACTION: break;
        case KZ_MSG_AUDIO_SOURCE: OnAudioSource(wParam, lParam); break;
        case KZ_WM_COPYDATA: OnCopyData(wParam, lParam); break;
        default: break;   // no default processing
    }
    return 0;
}

void HousekeepingTimerProc(KzHwnd, uint32_t, uintptr_t, uint32_t) {
    AutoAnswerTick();
    MediaOpenTick();
    PbapNoticeTick();
}

void ResetControlWindowState() {
    g_nMediaOpenTicks = kMediaOpenTicks;
    g_nPbapWaitTicks = kPbapNoticeTicks;
    g_nPbapDoneTicks = kPbapNoticeTicks;
    g_bPbapNoticeSent = 0;
}

}  // namespace kz
