// Audio streaming and remote control: stream start by AVRCP version, the
// element-attribute collection, notifications and the audio-source switch.
#include "event_test_util.h"
#include "events/audio.h"
#include "events/calls.h"

using namespace kz;
using namespace kztest;

namespace {

constexpr uint8_t kStable = 12, kChanged = 13, kInterim = 15, kRejected = 10;

struct Attr {
    uint8_t id;
    std::string value;
    uint16_t charset = 0x006A;   // UTF-8
};

// A GetElementAttributes response PDU.
std::vector<uint8_t> ElementPdu(const std::vector<Attr>& attrs) {
    std::vector<uint8_t> p = {0x20, 0, 0, 0, uint8_t(attrs.size())};
    for (const auto& a : attrs) {
        const size_t n = a.value.size();
        Append(p, {0, 0, 0, a.id, uint8_t(a.charset >> 8), uint8_t(a.charset), uint8_t(n >> 8), uint8_t(n)});
        Append(p, a.value);
    }
    p[2] = uint8_t((p.size() - 4) >> 8), p[3] = uint8_t(p.size() - 4);
    return p;
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
// What a track reports: the status bar's texts (80 characters at most), then notification 51.
std::vector<std::string> Track(const std::string& title, const std::string& artist, const std::string& album) {
    auto bar = [](const std::string& s) { return s.substr(0, 80); };
    return {"51/0:780 " + title + "|" + artist + "|" + album,
            "playing 0 1 " + bar(title) + "|" + bar(artist) + "|" + bar(album)};
}
const std::vector<std::string> kPlaying = {"mask 15", "50/1", "navig 2/2", "playing 1 256 ||"};
const std::vector<std::string> kPaused = {"50/2", "navig 2/3", "playing 2 256 ||"};

class AudioTest : public EventsTest {
protected:
    void SetUp() override {
        EventsTest::SetUp();
        g_bHfpConnected = 1;
        g_bCurrSrcA2DP = 1;
    }
    // Feeds a response as the module does: its header, then fragments of at most 255 bytes.
    void FeedSplit(const std::vector<uint8_t>& pdu) {
        Feed(OnDependHeader, Header(kStable, uint16_t(pdu.size())));
        for (size_t at = 0; at < pdu.size(); at += 255)
            Feed(OnDependData, Data(pdu.data() + at, std::min<size_t>(255, pdu.size() - at)));
    }
};

TEST_F(AudioTest, StreamStarted_ByAvrcpVersion_ReportsOrRegisters) {
    // Before AVRCP 1.3: playing at once, no registrations.
    Play({{OnSdpServiceRecord, Msg(62, {4, 0x01, 0x02}), {}},
          {OnStreamStarted, Msg(273, {}), kPlaying},
          {OnStreamSuspended, Msg(274, {}), kPaused},
          {OnSdpServiceRecord, Msg(62, {3, 0x01, 0x04}), {}}});   // other services change nothing
    EXPECT_EQ(g_bAvrcpServiceSupport, 0);
    // From 1.3: track change, play status, element attributes; nothing reported.
    Play({{OnSdpServiceRecord, Msg(62, {4, 0x01, 0x03}), {}},
          {OnStreamStarted, Msg(273, {}), {"register 2", "register 1", "attributes"}},
          {OnStreamSuspended, Msg(274, {}), {}}});
    EXPECT_EQ(g_bAvrcpServiceSupport, 1);
}

TEST_F(AudioTest, ElementAttributes_SplitInTwo_ReportedOnceAfterSecondFragment) {
    auto pdu = ElementPdu({{1, "Song"}, {2, "Band"}, {3, "Record"}});
    Play({{OnDependHeader, Header(kStable), {}},
          {OnDependData, Data(pdu.data(), 20), {}},
          {OnDependData, Data(pdu.data() + 20, pdu.size() - 20), Track("Song", "Band", "Record")}});
    // The next response starts afresh; text in another character set is left empty.
    FeedSplit(ElementPdu({{1, "Next"}, {2, "Band", 0x0003}, {3, "Record"}}));
    EXPECT_EQ(Take(), Track("Next", "", "Record"));
}

TEST_F(AudioTest, ElementAttributes_LargeResponses_UseWholeBufferOrAreDropped) {
    // 1020 parameter bytes fill the 1024-byte buffer exactly; texts are cut, still terminated.
    std::string big(1020 - 1 - 8 * 3 - 2 * 300, 'a');
    auto full = ElementPdu({{1, std::string(300, 't')}, {2, big}, {3, std::string(300, 'l')}});
    ASSERT_EQ(full.size(), 1024u);
    FeedSplit(full);
    EXPECT_EQ(Take(), Track(std::string(254, 't'), std::string(254, 'a'), std::string(254, 'l')));

    // Announced larger than the buffer: dropped, nothing reported.
    Feed(OnDependData, Data(std::vector<uint8_t>{0x20, 0, 0x04, 0x00, 3, 0, 0, 0, 1}));
    // Fragments that overrun the announced length past the buffer: dropped whole.
    auto pdu = ElementPdu({{1, std::string(1011, 'x')}});   // announces 1020: fits
    Feed(OnDependData, Data(pdu.data(), 255));
    for (size_t n : {255, 255, 200, 255}) Feed(OnDependData, Data(std::vector<uint8_t>(n, 'x')));
    EXPECT_EQ(Take(), std::vector<std::string>{});

    FeedSplit(ElementPdu({{1, "Ok"}}));   // the collection recovers for the next response
    EXPECT_EQ(Take(), Track("Ok", "", ""));
}

TEST_F(AudioTest, DependData_NotificationsInterimAndRejection) {
    std::vector<std::string> paused = {"register 1"};
    paused.insert(paused.end(), kPaused.begin(), kPaused.end());
    Play({{OnDependHeader, Header(kChanged), {}},
          {OnDependData, EventData(1, 2), paused},   // play status: paused, registered again
          {OnDependData, EventData(2, 0), {"attributes", "register 2"}},   // track changed
          {OnDependData, EventData(5, 0), {}},       // other events: nothing
          {OnDependHeader, Header(kInterim), {}},
          {OnDependData, EventData(1, 1), kPlaying},
          {OnDependData, EventData(2, 1), {}},       // interim track answer: nothing
          {OnDependHeader, Header(kRejected), {}},
          {OnDependData, Data(std::vector<uint8_t>{0x31, 0, 0, 1, 0x01}), kPlaying}});
    EXPECT_EQ(g_nPlayState, 1);
    g_bHfpConnected = 0;   // without HFP a play state is not reported
    ReportPlayState(1);
    EXPECT_EQ(Take(), std::vector<std::string>{});
}

TEST_F(AudioTest, SetAudioSource_Selections) {
    g_bCurrSrcA2DP = 0;
    SetAudioSource(1, 1);   // phone music selected
    EXPECT_EQ(g_bCurrSrcA2DP, 1);
    EXPECT_EQ(Take(), std::vector<std::string>{"connect a2dp"});
    g_bA2dpConnected = 1;
    SetAudioSource(1, 1);
    SetAudioSource(1, 0);   // another source: paused, not shown as the source's
    EXPECT_EQ(g_bCurrSrcA2DP, 0);
    EXPECT_EQ(g_nPlayState, 2);
    EXPECT_EQ(Take(), (std::vector<std::string>{"disconnect a2dp", "50/2", "navig 2/3"}));
    g_bInCall = 1;
    SetAudioSource(2, 0);   // leaving the phone
    EXPECT_EQ(Take(), (std::vector<std::string>{"id 15 1", "navig 5/0", "call 3"}));
}

TEST_F(AudioTest, MediaOpen_StatusOk_SendsPlayPressedAndReleased) {
    g_bA2dpConnected = 1;
    const std::vector<std::string> play = {"press 68 pressed", "press 68 released"};
    Play({{OnMediaOpenCfm, Msg(258, {1}), {}}, {OnMediaOpenCfm, Msg(258, {0}), play}, {OnMediaOpenedInd, Msg(275, {}), play}});
}

}  // namespace
