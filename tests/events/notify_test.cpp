// Host notifications: the three window channels, their records and the
// behaviour when a target window is missing.
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
    void SetUp() override {
        kztest::ResetAllState();
        kz::ResetNotifyState();
        kz::ResetAudioState();
    }
};

uint32_t U32At(const std::vector<uint8_t>& b, size_t off) {
    uint32_t v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}

std::u16string WideAt(const std::vector<uint8_t>& b, size_t off, size_t maxChars) {
    std::u16string s;
    for (size_t i = 0; i < maxChars; ++i) {
        char16_t c = char16_t(b[off + 2 * i] | (b[off + 2 * i + 1] << 8));
        if (!c) break;
        s.push_back(c);
    }
    return s;
}

// ----------------------------------------------------------- channel 1

TEST_F(NotifyTest, NotifyHost_DeliversTheRecordSynchronously) {
    kztest::HostWindows host;
    const char pin[4] = {'1', '2', '3', '4'};
    kz::NotifyHost(KZ_NOTIFY_PIN_CODE, 0, pin, 4);
    kz::NotifyHost(KZ_NOTIFY_SIGNAL, 3, nullptr, 0);
    auto notes = host.Notifications();   // no pump: SendMessage ran the window at once
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].code, 81u);
    EXPECT_EQ(notes[0].len, 4u);
    EXPECT_EQ(std::string(notes[0].data.begin(), notes[0].data.end()), "1234");
    EXPECT_EQ(notes[1].code, 3u);
    EXPECT_EQ(notes[1].param, 3u);
}

TEST_F(NotifyTest, NotifyHost_WithoutBluetoothWindowSendsNothing) {
    EXPECT_EQ(kz::NotifyHost(KZ_NOTIFY_DEVICE_READY, 1, nullptr, 0), 0);
    // A window that appears later is found at the next send.
    kztest::HostWindows host;
    kz::NotifyHost(KZ_NOTIFY_DEVICE_READY, 1, nullptr, 0);
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{1}));
}

TEST_F(NotifyTest, NotifyHost_AsynchronousFormArrivesThroughTheLoop) {
    kztest::HostWindows host;
    kz::NotifyHost(KZ_NOTIFY_CALL_COUNT, 2, nullptr, 0, 0);
    EXPECT_TRUE(host.WaitFor([&] { return host.Notifications().size() == 1; }));
    EXPECT_EQ(host.Notifications()[0].param, 2u);
}

// ----------------------------------------------------------- channel 2

TEST_F(NotifyTest, PostNavigStatus_PostsToNavigRecive) {
    kz::PostNavigStatus(2, 9);   // no window: dropped
    kztest::HostWindows host;
    kz::PostNavigStatus(2, 4);
    ASSERT_TRUE(host.WaitFor([&] { return !host.NavigPosts().empty(); }));
    auto posts = host.NavigPosts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].wParam, 2u);
    EXPECT_EQ(posts[0].lParam, 4);
}

// ----------------------------------------------------------- channel 3

TEST_F(NotifyTest, CallInfo_LongNumberIsCutTo79CharactersAndAZero) {
    kztest::HostWindows host;
    const std::string number(100, '7');
    kz::SendCallInfo(4, number.c_str());
    auto bar = host.Inforbar();
    ASSERT_EQ(bar.size(), 1u);
    EXPECT_EQ(bar[0].kind, 4u);
    EXPECT_EQ(bar[0].dwData, 2u);
    ASSERT_EQ(bar[0].bytes.size(), 168u);
    EXPECT_EQ(bar[0].bytes[0], 20);
    EXPECT_EQ(bar[0].bytes[1], 0);
    EXPECT_EQ(WideAt(bar[0].bytes, 2, 81), std::u16string(79, u'7'));
    EXPECT_EQ(U32At(bar[0].bytes, 164), 0u);
}

TEST_F(NotifyTest, CallInfo_MapsCallStatesToStatusBarKinds) {
    kztest::HostWindows host;
    const uint32_t states[] = {4, 2, 0, 3};
    const uint32_t kinds[] = {0, 1, 2, 3};
    for (uint32_t s : states) kz::SendCallInfo(s, "+4912345");
    kz::SendCallInfo(3, nullptr);
    auto bar = host.Inforbar();
    ASSERT_EQ(bar.size(), 5u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(U32At(bar[i].bytes, 164), kinds[i]) << "state " << states[i];
        EXPECT_EQ(WideAt(bar[i].bytes, 2, 81), u"+4912345");
    }
    EXPECT_EQ(WideAt(bar[4].bytes, 2, 81), u"");
}

TEST_F(NotifyTest, CallInfo_WithoutStatusBarSendsNothing) {
    kz::SendCallInfo(4, "123");   // must not fail
    kztest::HostWindows host;
    EXPECT_TRUE(host.Inforbar().empty());
}

TEST_F(NotifyTest, NowPlaying_NothingUnlessSourceIsA2dp) {
    kztest::HostWindows host;
    kz::g_bCurrSrcA2DP = 0;
    kz::SendNowPlaying(kz::kNowPlayingStateOnly);
    EXPECT_TRUE(host.Inforbar().empty());
}

TEST_F(NotifyTest, NowPlaying_PlayStateOnly) {
    kztest::HostWindows host;
    kz::g_bCurrSrcA2DP = 1;
    std::strcpy(kz::g_TrackInfo.title, "Song");
    for (int32_t state : {1, 2, 7}) {
        kz::g_nPlayState = state;
        kz::SendNowPlaying(kz::kNowPlayingStateOnly);
    }
    auto bar = host.Inforbar();
    ASSERT_EQ(bar.size(), 3u);
    const uint32_t expected[] = {1, 2, 0};
    for (size_t i = 0; i < 3; ++i) {
        const auto& b = bar[i].bytes;
        ASSERT_EQ(b.size(), 664u);
        EXPECT_EQ(bar[i].kind, 3u);
        EXPECT_EQ(bar[i].dwData, 0u);
        EXPECT_EQ(b[0], 13);
        EXPECT_EQ(U32At(b, 4), 0x100u);
        EXPECT_EQ(U32At(b, 8), expected[i]);
        EXPECT_EQ(U32At(b, 20), 0u);
        EXPECT_EQ(WideAt(b, 24, 80), u"");   // texts only with flag 0x01
    }
}

TEST_F(NotifyTest, NowPlaying_TextsAndMarkedField) {
    kztest::HostWindows host;
    kz::g_bCurrSrcA2DP = 1;
    kz::g_nPlayState = 1;
    std::strcpy(kz::g_TrackInfo.title, "Caf\xC3\xA9");
    std::strcpy(kz::g_TrackInfo.artist, "Artist");
    std::memset(kz::g_TrackInfo.album, 'A', 254);   // longer than the field
    kz::SendNowPlaying(kz::kNowPlayingTexts | kz::kNowPlayingField20 | kz::kNowPlayingClearFourth);
    auto bar = host.Inforbar();
    ASSERT_EQ(bar.size(), 1u);
    const auto& b = bar[0].bytes;
    EXPECT_EQ(U32At(b, 20), 2u);
    EXPECT_EQ(WideAt(b, 24, 80), u"Caf\u00E9");
    EXPECT_EQ(WideAt(b, 184, 80), u"Artist");
    EXPECT_EQ(WideAt(b, 344, 80), std::u16string(80, u'A'));   // fills it, no zero
    EXPECT_EQ(WideAt(b, 504, 80), u"");
}

TEST_F(NotifyTest, NowPlaying_FindsAStatusBarThatAppearsAfterTheFirstSend) {
    kz::g_bCurrSrcA2DP = 1;
    kz::SendNowPlaying(kz::kNowPlayingStateOnly);   // no window yet
    kztest::HostWindows host;
    kz::SendNowPlaying(kz::kNowPlayingStateOnly);
    EXPECT_EQ(host.Inforbar().size(), 1u);
}

}  // namespace
