// The phone's music as the source, with an AVRCP 1.4 phone (notifications,
// attributes in fragments); a 1.0 phone is the audio unit test's.
#include <gtest/gtest.h>

#include "channel/module_ids.h"
#include "support/session.h"

namespace {

using namespace kztest;
using kzsim::Profile;
namespace id = kz::msgid;
using Pairs = std::vector<std::pair<uint8_t, uint8_t>>;

constexpr size_t kParamAt = 6, kPassStateAt = 9, kPassOpAt = 10, kPduAt = 15, kPduEventAt = 19;
constexpr uint8_t kPlay = 0x44, kPause = 0x46;
constexpr uint8_t kPduElementAttributes = 0x20, kPduRegister = 0x31, kEventPlayStatus = 1, kEventTrackChanged = 2;

void Source(uintptr_t source, intptr_t phoneMusic) {
    KzSendMessage(KzFindWindow(nullptr, KZ_WND_CONTROL), KZ_MSG_AUDIO_SOURCE, source, phoneMusic);
}
TrackInfoBlock Track(Session& s) { return As<TrackInfoBlock>(s.Notes(KZ_NOTIFY_TRACK_INFO).back().data); }
// (pdu, event) of the vendor-dependent requests, in order.
Pairs VendorPdus(Session& s) {
    Pairs out;
    for (const auto& m : s.Requests(id::kAvrcpVendor))
        out.emplace_back(m.bytes.at(kPduAt), m.bytes.at(kPduAt) == kPduRegister ? m.bytes.at(kPduEventAt) : 0);
    return out;
}
// (operation, released) of the pass-through requests, in order.
Pairs PassThroughs(Session& s) {
    Pairs out;
    for (const auto& m : s.Requests(id::kAvrcpPassThrough)) out.emplace_back(m.bytes.at(kPassOpAt), m.bytes.at(kPassStateAt));
    return out;
}

TEST(MusicSystem, Avrcp14Phone_MediaOpensOnTheFourthTick_PlayStateAndTrackFromThePhone) {
    Session s;
    s.phone().setPlaylist({{"F\xC3\xBCr Elise", "Beethoven", "Bagatelles"}});
    s.phone().setAttributeFragment(40);   // the attributes come in two fragments
    ASSERT_TRUE(s.StartWithConnectedPhone()) << s.Dump();
    // A2DP, then AVRCP, whose version is asked; only the housekeeping timer
    // opens the media channel. Opened: PLAY pressed and released, the stream
    // starts, the library registers for both notifications and asks for the track.
    ASSERT_TRUE(s.Run({
        {"phone music", [] { Source(1, 1); }, {Request(id::kSdpQuery)}},
        {"media opens", {}, {Request(id::kMediaOpen)}, 12000},
        {"playing", {}, {Note(KZ_NOTIFY_TRACK_INFO, 0), Note(KZ_NOTIFY_PLAY_STATE, 1), Quiet()}},
    }));
    EXPECT_EQ(PassThroughs(s), (Pairs{{kPlay, 0}, {kPlay, 1}}));
    EXPECT_EQ(s.ByteAt(id::kConnectProfile, kParamAt), (std::vector<uint8_t>{3, 4}));
    // The fourth one-second tick: never early; late by seconds on a loaded machine.
    const uint32_t waited = s.Requests(id::kMediaOpen).front().tickMs - s.Requests(id::kConnectProfile).front().tickMs;
    EXPECT_GE(waited, 2800u);
    EXPECT_LE(waited, 10000u);
    EXPECT_TRUE(s.phone().playing());
    EXPECT_EQ(VendorPdus(s), (Pairs{{kPduRegister, kEventTrackChanged}, {kPduRegister, kEventPlayStatus}, {kPduElementAttributes, 0}}));
    EXPECT_EQ(s.Notes(KZ_NOTIFY_TRACK_INFO).size(), 1u) << "reported once, after the last fragment";
    EXPECT_STREQ(Track(s).title, "F\xC3\xBCr Elise");
    EXPECT_STREQ(Track(s).artist, "Beethoven");
    EXPECT_STREQ(Track(s).album, "Bagatelles");
    EXPECT_EQ(s.CountPosts(KZ_NAVIG_STATE_W, KZ_NAVIG_MUSIC_PLAYING_L), 1u);
    ASSERT_FALSE(s.Requests(id::kSetNibbleMask).empty());
    EXPECT_EQ(s.Requests(id::kSetNibbleMask).back().bytes.at(kParamAt + 1), 0x0F);
    // Pause, reported by the play-status notification; then another source:
    // A2DP let go and the music reported paused once.
    ASSERT_TRUE(s.Run({
        {"pause", [] { KZ_BT_AVRCPCmd(kPause); }, {Note(KZ_NOTIFY_PLAY_STATE, 2), Post(KZ_NAVIG_STATE_W, KZ_NAVIG_MUSIC_PAUSED_L), Quiet()}},
        {"forget", [&] { s.Forget(); }, {}},
        {"other source", [] { Source(1, 0); }, {Request(id::kDisconnectProfile), Quiet()}},
    }));
    EXPECT_EQ(s.ByteAt(id::kDisconnectProfile, kParamAt), (std::vector<uint8_t>{3, 4}));
    EXPECT_FALSE(s.phone().playing());
    EXPECT_EQ(s.Count(KZ_NOTIFY_PLAY_STATE, 2), 1u);
    EXPECT_FALSE(s.phone().connected(Profile::A2dp) || s.phone().connected(Profile::Avrcp));
}

}  // namespace
