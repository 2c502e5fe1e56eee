// Host notifications: the three window channels, their records, and windows
// that are missing at one send and present at the next.
#include "events/notify.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "events/audio.h"
#include "support/test_support.h"

namespace {

class NotifyTest : public ::testing::Test {
protected:
    void SetUp() override { kztest::ResetAllState(); }
    void TearDown() override { kztest::ResetAllState(); }
};

uint32_t U32At(const std::vector<uint8_t>& b, size_t off) {
    uint32_t v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}

std::u16string WideAt(const std::vector<uint8_t>& b, size_t off, size_t maxChars) {
    std::u16string s;
    for (size_t i = 0; i < maxChars && b[off + 2 * i] | b[off + 2 * i + 1]; ++i)
        s.push_back(char16_t(b[off + 2 * i] | (b[off + 2 * i + 1] << 8)));
    return s;
}

TEST_F(NotifyTest, EachChannel_DroppedWithoutItsWindow_FoundWhenItAppears) {
    kz::g_bCurrSrcA2DP = 1;
    EXPECT_EQ(kz::NotifyHost(KZ_NOTIFY_DEVICE_READY, 1, nullptr, 0), 0);
    kz::PostNavigStatus(2, 9);
    kz::SendCallInfo(4, "123");
    kz::SendNowPlaying(kz::kNowPlayingStateOnly);

    kztest::HostWindows host;
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
}

TEST_F(NotifyTest, NotifyHost_SentAtOnceWithItsBlock_PostedFormThroughTheLoop) {
    kztest::HostWindows host;
    const char pin[4] = {'1', '2', '3', '4'};
    kz::NotifyHost(KZ_NOTIFY_PIN_CODE, 0, pin, 4);
    kz::NotifyHost(KZ_NOTIFY_SIGNAL, 3, nullptr, 0);
    auto notes = host.Notifications();   // no pump: the window ran during the send
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].code, 81u);
    EXPECT_EQ(notes[0].len, 4u);
    EXPECT_EQ(notes[0].Text(), "1234");
    EXPECT_EQ(notes[1].code, 3u);
    EXPECT_EQ(notes[1].param, 3u);

    kz::NotifyHost(KZ_NOTIFY_CALL_COUNT, 2, nullptr, 0, 0);
    EXPECT_EQ(host.Notifications().size(), 2u);
    ASSERT_TRUE(host.WaitFor([&] { return host.Notifications().size() == 3; }));
    EXPECT_EQ(host.Notifications()[2].param, 2u);
}

TEST_F(NotifyTest, CallInfo_StateToKind_NumberCutTo79CharactersAndAZero) {
    kztest::HostWindows host;
    const uint32_t states[] = {4, 2, 0, 3};   // incoming, outgoing, active, ended
    for (uint32_t s : states) kz::SendCallInfo(s, "+4912345");
    kz::SendCallInfo(3, nullptr);
    kz::SendCallInfo(4, std::string(100, '7').c_str());
    auto bar = host.Inforbar();
    ASSERT_EQ(bar.size(), 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        ASSERT_EQ(bar[i].bytes.size(), 168u);
        EXPECT_EQ(bar[i].kind, 4u);
        EXPECT_EQ(bar[i].dwData, 2u);
        EXPECT_EQ(bar[i].bytes[0], 20);
        EXPECT_EQ(bar[i].bytes[1], 0);
        if (i >= 4) continue;
        EXPECT_EQ(U32At(bar[i].bytes, 164), i);
        EXPECT_EQ(WideAt(bar[i].bytes, 2, 81), u"+4912345");
    }
    EXPECT_EQ(WideAt(bar[4].bytes, 2, 81), u"");
    EXPECT_EQ(WideAt(bar[5].bytes, 2, 81), std::u16string(79, u'7'));
}

TEST_F(NotifyTest, NowPlaying_StateOnlyOrTexts_OnlyForTheMusicSource) {
    kztest::HostWindows host;
    kz::SendNowPlaying(kz::kNowPlayingStateOnly);   // source is not A2DP
    EXPECT_TRUE(host.Inforbar().empty());

    kz::g_bCurrSrcA2DP = 1;
    std::strcpy(kz::g_TrackInfo.title, "Caf\xC3\xA9");
    std::strcpy(kz::g_TrackInfo.artist, "Artist");
    std::memset(kz::g_TrackInfo.album, 'A', 254);   // longer than the field
    for (int32_t state : {1, 2, 7}) {
        kz::g_nPlayState = state;
        kz::SendNowPlaying(kz::kNowPlayingStateOnly);
    }
    kz::SendNowPlaying(kz::kNowPlayingTexts | kz::kNowPlayingField20 | kz::kNowPlayingClearFourth);

    auto bar = host.Inforbar();
    ASSERT_EQ(bar.size(), 4u);
    const uint32_t playing[] = {1, 2, 0, 0};
    for (size_t i = 0; i < 4; ++i) {
        const auto& b = bar[i].bytes;
        ASSERT_EQ(b.size(), 664u);
        EXPECT_EQ(bar[i].kind, 3u);
        EXPECT_EQ(bar[i].dwData, 0u);
        EXPECT_EQ(b[0], 13);
        EXPECT_EQ(U32At(b, 4), i == 3 ? 0xC1u : 0x100u);
        EXPECT_EQ(U32At(b, 8), playing[i]) << i;
        EXPECT_EQ(U32At(b, 20), i == 3 ? 2u : 0u);
        EXPECT_EQ(WideAt(b, 24, 80), i == 3 ? u"Caf\u00E9" : u"");   // texts only when asked
    }
    EXPECT_EQ(WideAt(bar[3].bytes, 184, 80), u"Artist");
    EXPECT_EQ(WideAt(bar[3].bytes, 344, 80), std::u16string(80, u'A'));   // fills it, no zero
    EXPECT_EQ(WideAt(bar[3].bytes, 504, 80), u"");
}

}  // namespace
