// Audio streaming and remote control: stream start by AVRCP version, the
// element-attribute collection, notifications and the audio-source switch.
#include <cstring>
#include <random>

#include "channel/module_ids.h"
#include "channel/requests.h"
#include "events/audio.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/element_attributes.h"
#include "event_test_util.h"

using namespace kz;
using namespace kztest;

namespace {

constexpr uint8_t kStable = 12, kChanged = 13, kInterim = 15, kRejected = 10;
constexpr uint16_t kUtf8 = 0x006A;

struct Attr {
    uint8_t id;
    std::string value;
    uint16_t charset = kUtf8;
};

// A GetElementAttributes response PDU.
std::vector<uint8_t> ElementPdu(const std::vector<Attr>& attrs) {
    std::vector<uint8_t> params = {uint8_t(attrs.size())};
    for (const auto& a : attrs) {
        Append(params, {0, 0, 0, a.id, uint8_t(a.charset >> 8), uint8_t(a.charset & 0xFF),
                        uint8_t(a.value.size() >> 8), uint8_t(a.value.size() & 0xFF)});
        Append(params, a.value);
    }
    std::vector<uint8_t> pdu(4 + params.size());
    pdu[0] = 0x20;
    pdu[2] = uint8_t(params.size() >> 8);
    pdu[3] = uint8_t(params.size() & 0xFF);
    std::copy(params.begin(), params.end(), pdu.begin() + 4);
    return pdu;
}

std::vector<uint8_t> Header(uint8_t type, uint16_t length = 0) {
    return Msg(310, {type, uint8_t(length >> 8), uint8_t(length & 0xFF)});
}
// IND 308: fragment length in byte 7, the fragment from byte 8.
std::vector<uint8_t> Data(const uint8_t* fragment, size_t n) {
    std::vector<uint8_t> p = {0, uint8_t(n)};
    p.insert(p.end(), fragment, fragment + n);
    return Msg(308, p);
}
std::vector<uint8_t> Data(const std::vector<uint8_t>& fragment) { return Data(fragment.data(), fragment.size()); }
// A notification or interim answer: event in byte 12, value in byte 13.
std::vector<uint8_t> EventData(uint8_t event, uint8_t value) {
    return Data(std::vector<uint8_t>{0x31, 0, 0, 2, event, value});
}

class AudioTest : public EventsTest {
protected:
    void SetUp() override {
        EventsTest::SetUp();
        g_bHfpConnected = 1;
        g_bCurrSrcA2DP = 1;
    }
    // Feeds a response in fragments of the given sizes (the last takes the rest).
    void FeedSplit(const std::vector<uint8_t>& pdu, std::vector<size_t> sizes) {
        Feed(OnDependHeader, Header(kStable, uint16_t(pdu.size())));
        size_t at = 0;
        for (size_t n : sizes) {
            Feed(OnDependData, Data(pdu.data() + at, n));
            at += n;
        }
        if (at < pdu.size()) Feed(OnDependData, Data(pdu.data() + at, pdu.size() - at));
    }
    std::vector<TrackInfoBlock> Tracks() {
        std::vector<TrackInfoBlock> out;
        for (auto& n : host.Notifications()) {
            if (n.code != 51) continue;
            TrackInfoBlock t;
            std::memcpy(&t, n.data.data(), sizeof t);
            out.push_back(t);
        }
        return out;
    }
    std::vector<uint8_t> VendorPduIds() {
        std::vector<uint8_t> out;
        for (auto& m : Sent(kz::msgid::kAvrcpVendor)) out.push_back(m.bytes[15] == 0x31 ? m.bytes[19] : m.bytes[15]);
        return out;
    }
};

TEST_F(AudioTest, StreamStarted_ByAvrcpVersion_ReportsOrRegisters) {
    // AVRCP 1.0: playing at once, no registrations.
    Feed(OnSdpServiceRecord, Msg(62, {4, 0x01, 0x00}));
    EXPECT_EQ(g_bAvrcpServiceSupport, 0);
    Feed(OnStreamStarted, Msg(273, {}));
    EXPECT_EQ(host.Codes(), std::vector<uint32_t>{50});
    EXPECT_EQ(host.Notifications()[0].param, 1u);
    EXPECT_EQ(g_nPlayState, 1);
    ASSERT_EQ(recorder.Ids(), std::vector<uint16_t>{3});
    EXPECT_EQ(recorder.Messages()[0].bytes[7], 0x0F);
    auto posts = Posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].lParam, 2);
    Feed(OnStreamSuspended, Msg(274, {}));
    EXPECT_EQ(host.Notifications().back().param, 2u);

    // AVRCP 1.4: track change, play status, element attributes; nothing reported.
    host.Clear();
    recorder.Clear();
    Feed(OnSdpServiceRecord, Msg(62, {3, 0x01, 0x04}));   // other services change nothing
    EXPECT_EQ(g_bAvrcpServiceSupport, 0);
    Feed(OnSdpServiceRecord, Msg(62, {4, 0x01, 0x04}));
    EXPECT_EQ(g_bAvrcpServiceSupport, 1);
    Feed(OnStreamStarted, Msg(273, {}));
    Feed(OnStreamSuspended, Msg(274, {}));
    EXPECT_EQ(VendorPduIds(), (std::vector<uint8_t>{0x02, 0x01, 0x20}));
    EXPECT_TRUE(host.Codes().empty());
}

TEST_F(AudioTest, ElementAttributes_SplitInTwo_ReportedOnceAfterSecondFragment) {
    auto pdu = ElementPdu({{1, "Song"}, {2, "Band"}, {3, "Record"}});
    Feed(OnDependHeader, Header(kStable));
    Feed(OnDependData, Data(pdu.data(), 20));
    EXPECT_TRUE(host.Codes().empty());
    Feed(OnDependData, Data(pdu.data() + 20, pdu.size() - 20));

    auto tracks = Tracks();
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_STREQ(tracks[0].title, "Song");
    EXPECT_STREQ(tracks[0].artist, "Band");
    EXPECT_STREQ(tracks[0].album, "Record");
    auto bar = host.Inforbar();
    ASSERT_EQ(bar.size(), 1u);
    EXPECT_EQ(bar[0].kind, KZ_INFORBAR_NOW_PLAYING);

    // The next response starts afresh; text in another character set is left empty.
    host.Clear();
    FeedSplit(ElementPdu({{1, "Next"}, {2, "Band", 0x0003}, {3, "Record"}}), {});
    ASSERT_EQ(Tracks().size(), 1u);
    EXPECT_STREQ(Tracks()[0].title, "Next");
    EXPECT_STREQ(Tracks()[0].artist, "");
    EXPECT_STREQ(Tracks()[0].album, "Record");
}

TEST_F(AudioTest, ElementAttributes_LargeResponses_UseWholeBufferOrAreDropped) {
    // 1020 parameter bytes fill the 1024-byte buffer exactly.
    std::string big(1020 - 1 - 8 * 3 - 2 * 300, 'a');
    auto full = ElementPdu({{1, std::string(300, 't')}, {2, big}, {3, std::string(300, 'l')}});
    ASSERT_EQ(full.size(), 1024u);
    FeedSplit(full, {255, 255, 255, 255});
    auto tracks = Tracks();
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(std::string(tracks[0].title), std::string(254, 't'));   // cut, still terminated
    EXPECT_EQ(std::string(tracks[0].album), std::string(254, 'l'));

    // Announced larger than the buffer: dropped, nothing reported.
    host.Clear();
    Feed(OnDependData, Data(std::vector<uint8_t>{0x20, 0, 0x04, 0x00, 3, 0, 0, 0, 1}));
    // Fragments that overrun the announced length past the buffer: dropped whole.
    auto pdu = ElementPdu({{1, std::string(1011, 'x')}});   // announces 1020: fits
    ASSERT_EQ(pdu.size(), 1024u);
    Feed(OnDependData, Data(pdu.data(), 255));
    for (size_t n : {255, 255, 200, 255}) Feed(OnDependData, Data(std::vector<uint8_t>(n, 'x')));
    EXPECT_TRUE(Tracks().empty());

    // The collection recovers for the next response.
    FeedSplit(ElementPdu({{1, "Ok"}}), {});
    ASSERT_EQ(Tracks().size(), 1u);
    EXPECT_STREQ(Tracks()[0].title, "Ok");
}

TEST(ElementAttributeCollectorTest, Feed_AnyFragmentSequence_NeverWritesOutsideItself) {
    struct Guarded {
        uint8_t before[256];
        ElementAttributeCollector collector;
        uint8_t after[256];
    };
    auto g = std::make_unique<Guarded>();
    std::memset(g->before, 0xA5, sizeof g->before);
    std::memset(g->after, 0x5A, sizeof g->after);
    std::mt19937 rng(7);
    std::vector<uint8_t> fragment(255);
    for (int i = 0; i < 5000; ++i) {
        for (auto& b : fragment) b = uint8_t(rng() % 4 == 0 ? rng() : (rng() % 4));
        size_t n = rng() % 256;
        g->collector.Feed(fragment.data(), n);
        ASSERT_LT(std::strlen(g->collector.title()), ElementAttributeCollector::kSlotSize);
    }
    for (uint8_t b : g->before) ASSERT_EQ(b, 0xA5);
    for (uint8_t b : g->after) ASSERT_EQ(b, 0x5A);
}

TEST_F(AudioTest, DependData_NotificationsInterimAndRejection) {
    Feed(OnDependHeader, Header(kChanged));
    Feed(OnDependData, EventData(1, 2));                 // play status: paused
    Feed(OnDependData, EventData(2, 0));                 // track changed
    Feed(OnDependData, EventData(5, 0));                 // other events: nothing
    EXPECT_EQ(VendorPduIds(), (std::vector<uint8_t>{0x01, 0x20, 0x02}));

    Feed(OnDependHeader, Header(kInterim));
    Feed(OnDependData, EventData(1, 1));
    Feed(OnDependData, EventData(2, 1));                 // interim track answer: nothing

    Feed(OnDependHeader, Header(kRejected));
    Feed(OnDependData, Data(std::vector<uint8_t>{0x31, 0, 0, 1, 0x01}));

    std::vector<uint32_t> states;
    for (auto& n : host.Notifications())
        if (n.code == 50) states.push_back(n.param);
    EXPECT_EQ(states, (std::vector<uint32_t>{2, 1, 1}));
    EXPECT_EQ(g_nPlayState, 1);
    std::vector<intptr_t> posts;
    for (auto& p : Posts()) posts.push_back(p.lParam);
    EXPECT_EQ(posts, (std::vector<intptr_t>{3, 2, 2}));

    host.Clear();
    recorder.Clear();
    g_bHfpConnected = 0;   // without HFP a play state is not reported
    ReportPlayState(1);
    EXPECT_TRUE(host.Codes().empty());
    EXPECT_TRUE(recorder.Ids().empty());
}

TEST_F(AudioTest, SetAudioSource_Selections) {
    g_bCurrSrcA2DP = 0;
    SetAudioSource(1, 1);                                // phone music selected
    EXPECT_EQ(g_bCurrSrcA2DP, 1);
    ASSERT_EQ(recorder.Ids(), std::vector<uint16_t>{12});
    EXPECT_EQ(recorder.Messages()[0].bytes[6], kProfileA2dp);

    recorder.Clear();
    g_bA2dpConnected = 1;
    SetAudioSource(1, 0);                                // another source
    EXPECT_EQ(g_bCurrSrcA2DP, 0);
    ASSERT_EQ(recorder.Ids(), std::vector<uint16_t>{13});
    EXPECT_EQ(g_nPlayState, 2);
    EXPECT_EQ(host.Codes(), std::vector<uint32_t>{50});

    host.Clear();
    recorder.Clear();
    g_bInCall = 1;
    SetAudioSource(2, 0);                                // leaving the phone
    EXPECT_EQ(recorder.Ids(), std::vector<uint16_t>{15});
    auto bar = host.Inforbar();
    ASSERT_EQ(bar.size(), 1u);
    EXPECT_EQ(bar[0].kind, KZ_INFORBAR_CALL_INFO);
    auto posts = Posts();
    ASSERT_EQ(posts.size(), 2u);                         // (2, 3) above, then (5, 0)
    EXPECT_EQ(posts[1].wParam, 5u);
    EXPECT_EQ(posts[1].lParam, 0);
}

TEST_F(AudioTest, MediaOpen_StatusOk_SendsPlayPressedAndReleased) {
    g_bA2dpConnected = 1;
    Feed(OnMediaOpenCfm, Msg(258, {1}));
    EXPECT_TRUE(recorder.Ids().empty());
    Feed(OnMediaOpenCfm, Msg(258, {0}));
    Feed(OnMediaOpenedInd, Msg(275, {}));
    auto sent = Sent(kz::msgid::kAvrcpPassThrough);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].bytes[9], 0);
    EXPECT_EQ(sent[0].bytes[10], 0x44);
    EXPECT_EQ(sent[1].bytes[9], 1);
    EXPECT_EQ(sent[1].bytes[10], 0x44);
}

}  // namespace
