// Incoming and dialled calls as the user interface and status bar see them,
// audio moved, microphone muted, the after-call work. (Auto-answer and
// waiting calls: the control window's and the calls' unit tests.)
#include <gtest/gtest.h>

#include <algorithm>

#include "channel/module_ids.h"
#include "support/session.h"

namespace {

using namespace kztest;
namespace id = kz::msgid;

constexpr size_t kParamAt = 6;
constexpr uint32_t kStateActive = 0, kStateOutgoing = 2, kStateIncoming = 4;
constexpr uint32_t kKindIncoming = 0, kKindOutgoing = 1, kKindActive = 2, kKindEnded = 3;

Wait CallIs(uint32_t state, std::string number = "") {
    return [=](Session& s) {
        const auto calls = s.Notes(KZ_NOTIFY_CALL_RECORD);
        const auto last = calls.empty() ? CallRecord{} : As<CallRecord>(calls.back().data);
        return !calls.empty() && last.state == state && (number.empty() || last.number == number);
    };
}
std::vector<CallInfoRecord> Bar(Session& s) { return s.Bar<CallInfoRecord>(KZ_INFORBAR_CALL_INFO); }
std::u16string Number(const CallInfoRecord& r) { return {r.number, std::find(r.number, std::end(r.number), 0)}; }
Wait BarIs(uint32_t kind) {
    return [=](Session& s) { return !Bar(s).empty() && Bar(s).back().kind == kind; };
}

// Every call record and status-bar record shows this number or none: no
// number of a refused dial or an ended call is left behind.
void ExpectOnlyNumber(Session& s, const std::string& number) {
    for (const auto& n : s.Notes(KZ_NOTIFY_CALL_RECORD)) {
        const std::string shown = As<CallRecord>(n.data).number;
        EXPECT_TRUE(shown.empty() || shown == number) << shown;
    }
    for (const auto& r : Bar(s)) {
        const std::u16string shown = Number(r);
        EXPECT_TRUE(shown.empty() || shown == std::u16string(number.begin(), number.end()));
        EXPECT_EQ(r.tag, 20);
    }
}

// A stored phone connected; a dial tried before it connected was refused.
void Connect(Session& s) {
    s.StorePhone();
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(s.Run({{"dial, no phone yet", [] { KZ_BT_Dial("+999"); }, {Request(id::kDial), Quiet()}}}));
    ASSERT_TRUE(s.ConnectStoredPhone()) << s.Dump();
    s.Forget();
}

TEST(CallsSystem, IncomingCall_AnsweredThenHungUp_AfterCallWork_NextCallShowsOnlyItsNumber) {
    Session s;
    ASSERT_NO_FATAL_FAILURE(Connect(s));
    ASSERT_TRUE(s.Run({
        {"ring", [&] { s.phone().ring("+4912345"); },
         {Note(KZ_NOTIFY_CALL_COUNT, 1), Post(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_PRESENT_L),
          CallIs(kStateIncoming, "+4912345"), BarIs(kKindIncoming)}},
    }));
    ExpectOnlyNumber(s, "+4912345");
    EXPECT_EQ(Number(Bar(s).back()), u"+4912345");
    ASSERT_TRUE(s.Run({
        {"answer", [] { KZ_BT_Answer(); },
         {CallIs(kStateActive, "+4912345"), Note(KZ_NOTIFY_CALL_AUDIO, 1), Note(KZ_NOTIFY_MIC_MUTE, 1),
          BarIs(kKindActive), Quiet()}},
    }));
    EXPECT_TRUE(s.phone().callActive());
    EXPECT_EQ(s.ByteAt(id::kAnswer, kParamAt), std::vector<uint8_t>{1});

    // Hung up from the unit: ended in the status bar, (2, 5) posted, and the
    // call lists, paused by the call, fetched again.
    s.Forget();
    ASSERT_TRUE(s.Run({
        {"hang up", [] { KZ_BT_Hangup(); },
         {Post(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L), Note(KZ_NOTIFY_PHONEBOOK_STATE, 0),
          Note(KZ_NOTIFY_CALL_AUDIO, 0), BarIs(kKindEnded), Request(id::kPbapPull), Quiet()}},
    }));
    EXPECT_FALSE(s.phone().callActive());
    EXPECT_EQ(s.ByteAt(id::kAnswer, kParamAt), std::vector<uint8_t>{0});
    EXPECT_EQ(s.Pulls().front(), (Pull{KZ_PB_DIALED, 0, 0}));

    s.Forget();
    ASSERT_TRUE(s.Run({{"next call", [&] { s.phone().ring("+4967890"); }, {CallIs(kStateIncoming, "+4967890")}}}));
    ExpectOnlyNumber(s, "+4967890");
}

TEST(CallsSystem, DialledCall_OutgoingThenActive_AudioMovesBothWays_MuteAndGainRestore) {
    Session s;
    ASSERT_NO_FATAL_FAILURE(Connect(s));
    ASSERT_TRUE(s.Run({
        {"dial", [] { KZ_BT_Dial("+4989765430"); },
         {Request(id::kDial), Post(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_PRESENT_L), Note(KZ_NOTIFY_CALL_COUNT, 1),
          CallIs(kStateOutgoing, "+4989765430"), BarIs(kKindOutgoing)}},
    }));
    EXPECT_EQ(s.phone().dialledNumber(), "+4989765430");
    EXPECT_EQ(Number(Bar(s).back()), u"+4989765430");
    ASSERT_TRUE(s.Run({
        {"answered far away", [&] { s.phone().remoteAnswer(); },
         {CallIs(kStateActive, "+4989765430"), BarIs(kKindActive), Note(KZ_NOTIFY_CALL_AUDIO, 1), Quiet()}},
    }));

    // Audio to the phone and back; back in the car the microphone is opened,
    // and a second later the stored gain (8, internal microphone) reapplied.
    s.Forget();
    ASSERT_TRUE(s.Run({
        {"to phone", [] { KZ_BT_AudioTransfer(0); },
         {Note(KZ_NOTIFY_CALL_AUDIO, 0), Post(KZ_NAVIG_STATE_W, KZ_NAVIG_AUDIO_ON_PHONE_L)}},
        {"to car", [] { KZ_BT_AudioTransfer(1); },
         {Note(KZ_NOTIFY_CALL_AUDIO, 1), Post(KZ_NAVIG_STATE_W, KZ_NAVIG_AUDIO_IN_CAR_L),
          Note(KZ_NOTIFY_MIC_MUTE, 1), Request(id::kSetMicGain), Note(KZ_NOTIFY_MIC_GAIN, 8)}},
    }));
    EXPECT_EQ(s.Requests(id::kAudioToPhone).size(), 1u);
    EXPECT_EQ(s.Requests(id::kAudioToHandsfree).size(), 1u);
    EXPECT_EQ(s.ByteAt(id::kSetMicGain, kParamAt + 1).back(), 8);

    // Muted from the unit, then by the phone itself; the other side hangs up.
    s.Forget();
    ASSERT_TRUE(s.Run({
        {"mute", [] { KZ_BT_SetPhoneMute(1); }, {Note(KZ_NOTIFY_MIC_MUTE, 0)}},
        {"phone mutes", [&] { s.phone().micMute(true); }, {Note(KZ_NOTIFY_MIC_MUTE, 0, 2)}},
        {"far hang-up", [&] { s.phone().hangup(); }, {Post(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L), BarIs(kKindEnded)}},
    }));
    EXPECT_EQ(s.ByteAt(id::kSetMicVolume, kParamAt + 1), std::vector<uint8_t>{0});
}

}  // namespace
