// Host notifications: the three window channels, their records, and windows
// that are missing at one send and present at the next.
#include "events/notify.h"

#include <cstring>

#include "event_test_util.h"
#include "events/audio.h"

namespace {

using namespace kztest;

TEST(NotifyWindows, EachChannel_DroppedWithoutItsWindow_FoundWhenItAppears) {
    ResetAllState();
    kz::g_bCurrSrcA2DP = 1;
    EXPECT_EQ(kz::NotifyHost(KZ_NOTIFY_DEVICE_READY, 1, nullptr, 0), 0);
    kz::PostNavigStatus(2, 9);
    kz::SendCallInfo(4, "123");
    kz::SendNowPlaying(kz::kNowPlayingStateOnly);

    HostWindows host;
    host.Pump();
    EXPECT_TRUE(host.Notifications().empty() && host.NavigPosts().empty() && host.Inforbar().empty());
    kz::NotifyHost(KZ_NOTIFY_DEVICE_READY, 1, nullptr, 0);
    kz::PostNavigStatus(2, 4);
    kz::SendCallInfo(4, "123");
    kz::SendNowPlaying(kz::kNowPlayingStateOnly);
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{1}));
    EXPECT_EQ(host.Inforbar().size(), 2u);
    ASSERT_TRUE(host.WaitFor([&] { return !host.NavigPosts().empty(); }));
    EXPECT_EQ(host.NavigPosts()[0].wParam, 2u);
    EXPECT_EQ(host.NavigPosts()[0].lParam, 4);
    // Sent at once (the window ran during the send) or posted through the loop.
    kz::NotifyHost(KZ_NOTIFY_CALL_COUNT, 2, nullptr, 0, 0);
    EXPECT_EQ(host.Notifications().size(), 1u);
    ASSERT_TRUE(host.WaitFor([&] { return host.Notifications().size() == 2; }));
    EXPECT_EQ(host.Notifications()[1].param, 2u);
    ResetAllState();
}

class NotifyTest : public EventsTest {};

// Status-bar records: the size, tag and dwData of each kind, then the fields (spelled by Take).
void ExpectRecords(HostWindows& host, uintptr_t kind, size_t size, uint8_t tag, uintptr_t dwData) {
    for (const auto& b : host.Inforbar()) {
        EXPECT_EQ(b.kind, kind);
        ASSERT_EQ(b.bytes.size(), size);
        EXPECT_EQ(b.bytes[0], tag);
        EXPECT_EQ(b.dwData, dwData);
    }
}

TEST_F(NotifyTest, CallInfo_StateToKind_NumberCutTo79CharactersAndAZero) {
    for (uint32_t state : {4, 2, 0, 3}) kz::SendCallInfo(state, "+4912345");   // incoming, outgoing, active, ended
    kz::SendCallInfo(3, nullptr);
    kz::SendCallInfo(4, std::string(100, '7').c_str());
    ExpectRecords(host, KZ_INFORBAR_CALL_INFO, 168, 20, 2);
    EXPECT_EQ(Take(), (std::vector<std::string>{"call 0 +4912345", "call 1 +4912345", "call 2 +4912345",
                                                "call 3 +4912345", "call 3", "call 0 " + std::string(79, '7')}));
}

TEST_F(NotifyTest, NowPlaying_StateOnlyOrTexts_OnlyForTheMusicSource) {
    kz::SendNowPlaying(kz::kNowPlayingStateOnly);   // source is not A2DP
    EXPECT_TRUE(host.Inforbar().empty());

    kz::g_bCurrSrcA2DP = 1;
    std::strcpy(kz::g_TrackInfo.title, "Caf\xC3\xA9");
    std::strcpy(kz::g_TrackInfo.artist, "Artist");
    std::memset(kz::g_TrackInfo.album, 'A', 254);   // longer than the field: fills it, no zero
    std::strcpy(kz::g_TrackInfo.album + 254, "");
    for (int32_t state : {1, 2, 7}) {
        kz::g_nPlayState = state;
        kz::SendNowPlaying(kz::kNowPlayingStateOnly);
    }
    kz::SendNowPlaying(kz::kNowPlayingTexts | kz::kNowPlayingField20 | kz::kNowPlayingClearFourth);
    ExpectRecords(host, KZ_INFORBAR_NOW_PLAYING, 664, 13, 0);
    std::vector<uint32_t> field20;
    for (const auto& b : host.Inforbar()) {
        auto r = As<NowPlayingRecord>(b.bytes);
        field20.push_back(r.field20);
        EXPECT_EQ(Narrow(r.fourth), "");
    }
    EXPECT_EQ(field20, (std::vector<uint32_t>{0, 0, 0, 2}));
    EXPECT_EQ(Take(), (std::vector<std::string>{"playing 1 256 ||", "playing 2 256 ||", "playing 0 256 ||",
                                                "playing 0 193 Caf<e9>|Artist|" + std::string(80, 'A')}));
}

}  // namespace
