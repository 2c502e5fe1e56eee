// Host notifications: event records to "Bluetooth", status posts to
// "NavigRecive" and status-bar records to "KZ_INFORBAR". A missing window is
// not an error: the notification is dropped.
#include "events/notify.h"

#include <array>
#include <atomic>
#include <cstring>

#include "events/audio.h"
#include "kz_platform.h"

namespace kz {

namespace {

inline constexpr uint8_t kCallInfoTag = 20;
inline constexpr uintptr_t kCallInfoDwData = 2;
inline constexpr size_t kCallInfoMaxChars = 79;   // then the terminating zero

inline constexpr uint8_t kNowPlayingTag = 13;
inline constexpr uintptr_t kNowPlayingDwData = 0;
inline constexpr uint32_t kField20Marked = 2;
inline constexpr size_t kTrackTextMax = sizeof(TrackInfoBlock::title);

inline constexpr int32_t kPlayStatePlaying = 1;
inline constexpr int32_t kPlayStatePaused = 2;
inline constexpr uint32_t kPlayStateOther = 0;

// Call-record states (call state) and the status bar's call kinds.
struct KindMapping {
    uint32_t state;
    uint32_t kind;
};
inline constexpr std::array<KindMapping, 4> kKindMap = {{
    {4, 0},   // incoming
    {2, 1},   // outgoing
    {0, 2},   // active
    {3, 3},   // ended
}};

// The asynchronous form posts the record's address: keep recent records alive
// in a ring so the receiver reads a valid one (no sender uses this form).
inline constexpr size_t kAsyncRing = 64;
std::array<BtNotifyRecord, kAsyncRing> asyncRecords{};
std::atomic<size_t> asyncNext{0};

// The status-bar window of now-playing records, looked up at the first send.
std::atomic<KzHwnd> nowPlayingWnd{nullptr};

KzHwnd FindInforbar() { return KzFindWindow(KZ_WND_INFORBAR, KZ_WND_INFORBAR); }

KzLResult SendCopyData(KzHwnd wnd, uintptr_t kind, uintptr_t dwData, void* data, uint32_t size) {
    KzCopyDataStruct cds{dwData, size, data};
    return KzSendMessage(wnd, KZ_WM_COPYDATA, kind, reinterpret_cast<KzLParam>(&cds));
}

// Converts a UTF-8 track text into an 80-character field; a text of 80 or
// more characters fills the field without a terminating zero.
template <size_t N>
void FillWideField(uint16_t (&field)[N], const char* text) {
    std::array<uint16_t, N + 1> wide{};
    KzUtf8ToUtf16(text, strnlen(text, kTrackTextMax), wide.data(), wide.size());
    std::memcpy(field, wide.data(), sizeof field);
}

uint32_t PlayStateField(int32_t state) {
    return (state == kPlayStatePlaying || state == kPlayStatePaused) ? static_cast<uint32_t>(state)
                                                                      : kPlayStateOther;
}

KzHwnd NowPlayingWindow() {
    KzHwnd wnd = nowPlayingWnd.load();
    // Kept once found; a window that has gone away is looked up again.
    if (wnd && KzIsWindow(wnd)) return wnd;
    wnd = FindInforbar();
    nowPlayingWnd = wnd;
    return wnd;
}

}  // namespace

intptr_t NotifyHost(uint32_t nCode, uint32_t nParam, const void* pData, uint32_t nLen, int bSync) {
    KzHwnd wnd = KzFindWindow(nullptr, KZ_WND_NOTIFY_TITLE);
    if (!wnd) return 0;
    BtNotifyRecord rec{nCode, nParam, pData, nLen};
    if (bSync) return KzSendMessage(wnd, KZ_MSG_NOTIFY, reinterpret_cast<KzWParam>(&rec), 0);
    BtNotifyRecord& kept = asyncRecords[asyncNext.fetch_add(1) % kAsyncRing];
    kept = rec;
    return KzPostMessage(wnd, KZ_MSG_NOTIFY, reinterpret_cast<KzWParam>(&kept), 0);
}

void PostNavigStatus(uintptr_t wParam, intptr_t lParam) {
    KzHwnd wnd = KzFindWindow(nullptr, KZ_WND_NAVIG_TITLE);
    if (wnd) KzPostMessage(wnd, KZ_MSG_NAVIG_STATUS, wParam, lParam);
}

uint32_t CallKindFromState(uint32_t state) {
    for (const auto& m : kKindMap)
        if (m.state == state) return m.kind;
    return state;   // no other state is reported to the status bar
}

void SendCallInfo(uint32_t kind, const char* number) {
    KzHwnd wnd = FindInforbar();
    if (!wnd) return;
    CallInfoRecord rec{};
    rec.tag = kCallInfoTag;
    if (number) KzUtf8ToUtf16(number, static_cast<size_t>(-1), rec.number, kCallInfoMaxChars + 1);
    rec.kind = CallKindFromState(kind);
    SendCopyData(wnd, KZ_INFORBAR_CALL_INFO, kCallInfoDwData, &rec, sizeof rec);
}

void SendNowPlaying(uint32_t flags) {
    if (!g_bCurrSrcA2DP) return;
    KzHwnd wnd = NowPlayingWindow();
    if (!wnd) return;
    NowPlayingRecord rec{};
    rec.tag = kNowPlayingTag;
    rec.flags = flags;
    rec.playState = PlayStateField(g_nPlayState);
    if (flags & kNowPlayingField20) rec.field20 = kField20Marked;
    if (flags & kNowPlayingTexts) {
        FillWideField(rec.title, g_TrackInfo.title);
        FillWideField(rec.artist, g_TrackInfo.artist);
        FillWideField(rec.album, g_TrackInfo.album);
    }
    // kNowPlayingClearFourth: the record is built zeroed, so the fourth field is clear.
    SendCopyData(wnd, KZ_INFORBAR_NOW_PLAYING, kNowPlayingDwData, &rec, sizeof rec);
}

void ResetNotifyState() { nowPlayingWnd = nullptr; }

}  // namespace kz
