// Calls with a connected phone, as the user interface and the status bar see
// them: an incoming call answered automatically by the one-second timer, a
// dialled call, a waiting call, call audio moved between phone and car, the
// microphone muted, and the after-call work.
#include <gtest/gtest.h>

#include <cstring>

#include "channel/module_ids.h"
#include "scenario.h"

namespace {

using namespace kztest;

constexpr size_t kParamAt = 6;

constexpr uint32_t kStateActive = 0, kStateOutgoing = 2, kStateIncoming = 4;
constexpr uint32_t kKindIncoming = 0, kKindOutgoing = 1, kKindActive = 2, kKindEnded = 3;

CallRecord Call(const Notification& n) {
    CallRecord r{};
    if (n.data.size() == sizeof r) std::memcpy(&r, n.data.data(), sizeof r);
    return r;
}

std::vector<CallInfoRecord> Bar(Scenario& s) {
    std::vector<CallInfoRecord> out;
    for (const auto& r : s.host().Inforbar()) {
        if (r.kind != KZ_INFORBAR_CALL_INFO || r.bytes.size() != sizeof(CallInfoRecord)) continue;
        CallInfoRecord rec;
        std::memcpy(&rec, r.bytes.data(), sizeof rec);
        out.push_back(rec);
    }
    return out;
}

std::u16string BarNumber(const CallInfoRecord& r) { return Wide(r.number, 81); }

// A phone from the registry, connected, its empty call lists fetched.
void Connect(Scenario& s, bool autoAnswer = false) {
    s.StorePhone({});
    ASSERT_TRUE(s.Start());
    KZ_BT_SetAutoAnswer(autoAnswer ? 1 : 0);
    ASSERT_TRUE(s.ConnectStoredPhone()) << s.Dump();
    s.sim().ClearReceived();
    s.host().Clear();
}

TEST(CallsSystem, IncomingCall_AnsweredOnTheFifthTick_ThenHungUpWithTheAfterCallWork) {
    Scenario s;
    ASSERT_NO_FATAL_FAILURE(Connect(s, true));

    s.phone().ring("+4912345");
    // The ringing call is reported at once, and again when its number is known.
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CALL_COUNT, 1));
    ASSERT_TRUE(s.WaitPost(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_PRESENT_L));
    ASSERT_TRUE(s.Until([&] {
        const auto calls = s.Notes(KZ_NOTIFY_CALL_RECORD);
        return !calls.empty() && std::string(Call(calls.back()).number) == "+4912345";
    }));
    const auto ringing = s.Notes(KZ_NOTIFY_CALL_RECORD);
    EXPECT_EQ(Call(ringing.back()).state, kStateIncoming);
    EXPECT_STREQ(Call(ringing.back()).number, "+4912345");
    auto bar = Bar(s);
    ASSERT_FALSE(bar.empty());
    EXPECT_EQ(bar.back().tag, 20);
    EXPECT_EQ(bar.back().kind, kKindIncoming);
    EXPECT_EQ(BarNumber(bar.back()), u"+4912345");

    // Nobody touches a key: the housekeeping timer answers on its fifth tick.
    ASSERT_TRUE(s.WaitRequestWith(kz::msgid::kAnswer, kParamAt, 1, 9000));
    const auto query = s.Requests(kz::msgid::kCurrentCalls);
    ASSERT_FALSE(query.empty());
    const uint32_t after = s.Requests(kz::msgid::kAnswer).front().tickMs - query.front().tickMs;
    EXPECT_GE(after, 3800u);   // four whole periods at least, five at most
    EXPECT_LE(after, 7500u);   // timers run late on a loaded machine, never early
    EXPECT_EQ(s.Requests(kz::msgid::kAnswer).size(), 1u);

    // The phone takes the call: active, audio in the car, microphone open.
    ASSERT_TRUE(s.Until([&] {
        const auto calls = s.Notes(KZ_NOTIFY_CALL_RECORD);
        return !calls.empty() && Call(calls.back()).state == kStateActive;
    }));
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CALL_AUDIO, 1));
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_MIC_MUTE, 1));
    EXPECT_STREQ(Call(s.Notes(KZ_NOTIFY_CALL_RECORD).back()).number, "+4912345");
    EXPECT_EQ(Bar(s).back().kind, kKindActive);
    EXPECT_TRUE(s.phone().callActive());

    // Hang up from the unit: ended in the status bar, (2, 5) posted, and the
    // call lists, paused by the call, are fetched again.
    s.sim().ClearReceived();
    KZ_BT_Hangup();
    ASSERT_TRUE(s.WaitPost(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L));
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_PHONEBOOK_STATE, 0));
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CALL_AUDIO, 0));
    EXPECT_FALSE(s.phone().callActive());
    EXPECT_EQ(s.Requests(kz::msgid::kAnswer).front().bytes.at(kParamAt), 0);
    bar = Bar(s);
    EXPECT_EQ(bar.back().kind, kKindEnded);
    ASSERT_TRUE(s.WaitRequest(kz::msgid::kPbapPull));
    EXPECT_EQ(Pulls(s.Requests(kz::msgid::kPbapPull)).front(), (Pull{KZ_PB_DIALED, 0, 0}));
    // No second answer: the countdown ended with the call.
    ASSERT_TRUE(s.WaitQuiet());
    for (const auto& m : s.Requests(kz::msgid::kAnswer)) EXPECT_EQ(m.bytes.at(kParamAt), 0);
}

TEST(CallsSystem, DialledCall_OutgoingThenActive_AudioMovesBothWays_MuteAndGainRestore) {
    Scenario s;
    ASSERT_NO_FATAL_FAILURE(Connect(s));

    KZ_BT_Dial("+4989765430");
    ASSERT_TRUE(s.WaitRequest(kz::msgid::kDial));
    const auto dial = s.Requests(kz::msgid::kDial).front().bytes;
    EXPECT_EQ(dial.at(kParamAt), 1);
    EXPECT_EQ(dial.at(kParamAt + 2), 11);
    EXPECT_EQ(std::string(dial.begin() + 9, dial.begin() + 20), "+4989765430");
    // The simulator records the request before its phone model takes it.
    EXPECT_TRUE(s.host().WaitFor([&] { return s.phone().dialledNumber() == "+4989765430"; }));

    ASSERT_TRUE(s.WaitPost(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_PRESENT_L));
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CALL_COUNT, 1));
    const auto outgoing = s.Notes(KZ_NOTIFY_CALL_RECORD);
    ASSERT_FALSE(outgoing.empty());
    EXPECT_EQ(Call(outgoing.back()).state, kStateOutgoing);
    EXPECT_STREQ(Call(outgoing.back()).number, "+4989765430");
    EXPECT_EQ(Bar(s).back().kind, kKindOutgoing);
    EXPECT_EQ(BarNumber(Bar(s).back()), u"+4989765430");

    s.phone().remoteAnswer();
    ASSERT_TRUE(s.Until([&] {
        const auto calls = s.Notes(KZ_NOTIFY_CALL_RECORD);
        return !calls.empty() && Call(calls.back()).state == kStateActive;
    }));
    EXPECT_STREQ(Call(s.Notes(KZ_NOTIFY_CALL_RECORD).back()).number, "+4989765430");
    EXPECT_EQ(Bar(s).back().kind, kKindActive);
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CALL_AUDIO, 1));
    ASSERT_TRUE(s.WaitQuiet());

    KZ_BT_DTMF('5');
    ASSERT_TRUE(s.WaitRequest(kz::msgid::kDtmf));
    EXPECT_EQ(s.Requests(kz::msgid::kDtmf).back().bytes.at(kParamAt), '5');

    // Audio to the phone and back to the car.
    s.host().Clear();
    s.sim().ClearReceived();
    KZ_BT_AudioTransfer(0);
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CALL_AUDIO, 0));
    ASSERT_TRUE(s.WaitPost(KZ_NAVIG_STATE_W, KZ_NAVIG_AUDIO_ON_PHONE_L));
    EXPECT_EQ(s.Requests(kz::msgid::kAudioToPhone).size(), 1u);
    KZ_BT_AudioTransfer(1);
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CALL_AUDIO, 1));
    ASSERT_TRUE(s.WaitPost(KZ_NAVIG_STATE_W, KZ_NAVIG_AUDIO_IN_CAR_L));
    EXPECT_EQ(s.Requests(kz::msgid::kAudioToHandsfree).size(), 1u);
    // Back in the car the microphone is opened, and a second later the stored
    // gain (8 for the internal microphone) is applied again.
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_MIC_MUTE, 1));
    ASSERT_TRUE(s.WaitRequest(kz::msgid::kSetMicGain, 1, 4000));
    EXPECT_EQ(s.Requests(kz::msgid::kSetMicGain).back().bytes.at(kParamAt + 1), 8);
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_MIC_GAIN, 8));

    // Mute and unmute from the unit.
    s.host().Clear();
    s.sim().ClearReceived();
    KZ_BT_SetPhoneMute(1);
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_MIC_MUTE, 0));
    KZ_BT_SetPhoneMute(0);
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_MIC_MUTE, 1));
    const auto volumes = s.Requests(kz::msgid::kSetMicVolume);
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(volumes[0].bytes.at(kParamAt + 1), 0);
    EXPECT_EQ(volumes[1].bytes.at(kParamAt + 1), 15);
    ASSERT_TRUE(s.WaitRequest(kz::msgid::kSetMicGain, 1, 4000));
    // The phone mutes its microphone itself.
    s.phone().micMute(true);
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_MIC_MUTE, 0, 2));

    // The other side hangs up.
    s.phone().hangup();
    ASSERT_TRUE(s.WaitPost(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L));
    EXPECT_EQ(Bar(s).back().kind, kKindEnded);
}

TEST(CallsSystem, WaitingCall_SwitchedToAndBack_HeldStateReported_EndedOneByOne) {
    Scenario s;
    ASSERT_NO_FATAL_FAILURE(Connect(s));
    s.phone().ring("+111");
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CALL_COUNT, 1));
    KZ_BT_Answer();
    ASSERT_TRUE(s.Until([&] {
        const auto calls = s.Notes(KZ_NOTIFY_CALL_RECORD);
        return !calls.empty() && Call(calls.back()).state == kStateActive;
    }));
    ASSERT_TRUE(s.WaitQuiet());
    EXPECT_EQ(s.Requests(kz::msgid::kAnswer).front().bytes.at(kParamAt), 1);

    // A second call while talking: switch to it (the first is held), then end
    // the active one, which brings the held one back.
    s.host().Clear();
    s.sim().ClearReceived();
    s.phone().waitingCall("+222");
    ASSERT_TRUE(s.WaitQuiet());
    KZ_BT_SwitchCalls();
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CALL_HELD, 1));
    KZ_BT_End1stCall();
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CALL_HELD, 0));
    ASSERT_TRUE(s.WaitQuiet());
    const auto holds = s.Requests(kz::msgid::kCallHold);
    ASSERT_EQ(holds.size(), 2u);
    EXPECT_EQ(holds[0].bytes.at(kParamAt), 2);
    EXPECT_EQ(holds[1].bytes.at(kParamAt), 1);
    EXPECT_TRUE(s.phone().callActive());
    EXPECT_EQ(s.CountPosts(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L), 0u) << "a call is still on";

    // A third call is turned away while talking; then the last call ends.
    s.phone().waitingCall("+333");
    ASSERT_TRUE(s.WaitQuiet());
    KZ_BT_EndWaitingCall();
    ASSERT_TRUE(s.WaitRequestWith(kz::msgid::kCallHold, kParamAt, 0));
    ASSERT_TRUE(s.Until([&] { return s.phone().callSetup() == 0; }));
    EXPECT_TRUE(s.phone().callActive());
    s.phone().hangup();
    ASSERT_TRUE(s.WaitPost(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L));
    ASSERT_TRUE(s.WaitQuiet());
    EXPECT_EQ(s.CountPosts(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L), 1u);
}

TEST(CallsSystem, MissedCall_EndsWithoutAnswer_AfterCallWorkFetchesTheCallListsAgain) {
    Scenario s;
    ASSERT_NO_FATAL_FAILURE(Connect(s));
    s.phone().setCallList(kzsim::ListType::Missed, {{"Caller", "+4912345", "20240102T030405"}});
    s.phone().ring("+4912345");
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CALL_COUNT, 1));
    s.phone().hangup();   // the caller gives up

    ASSERT_TRUE(s.WaitPost(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L));
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_PHONEBOOK_STATE, 0));
    const auto bar = Bar(s);
    ASSERT_GE(bar.size(), 2u);
    EXPECT_EQ(bar.back().kind, kKindEnded);
    EXPECT_EQ(BarNumber(bar.back()), u"+4912345");
    // The missed call is now in the list the user interface is offered.
    ASSERT_TRUE(s.Until([&] {
        for (const auto& n : s.Notes(KZ_NOTIFY_PHONEBOOK_SIZE))
            if (n.param == KZ_PB_MISSED) return true;
        return false;
    }));
    EXPECT_EQ(s.Notes(KZ_NOTIFY_PHONEBOOK_SIZE).back().len, 1u);
    EXPECT_EQ(Pulls(s.Requests(kz::msgid::kPbapPull)).front(), (Pull{KZ_PB_DIALED, 0, 0}));
    EXPECT_TRUE(s.Requests(kz::msgid::kAnswer).empty());
}

}  // namespace

// A dial the phone refuses (no hands-free connection yet) and a call that
// ended leave no number behind: the next incoming call is reported with its
// own number or none, in the notification and in the status bar.
TEST(CallsSystem, RefusedDialAndEndedCall_NextIncomingCallNeverShowsTheirNumbers) {
    Scenario s;
    s.StorePhone({});
    ASSERT_TRUE(s.Start());
    KZ_BT_Dial("+999");
    ASSERT_TRUE(s.WaitRequest(kz::msgid::kDial));
    ASSERT_TRUE(s.WaitQuiet());
    ASSERT_TRUE(s.ConnectStoredPhone()) << s.Dump();
    for (const char* number : {"+4912345", "+4967890"}) {
        s.host().Clear();
        s.phone().ring(number);
        ASSERT_TRUE(s.Until([&] {
            const auto calls = s.Notes(KZ_NOTIFY_CALL_RECORD);
            return !calls.empty() && std::string(Call(calls.back()).number) == number;
        }));
        for (const auto& n : s.Notes(KZ_NOTIFY_CALL_RECORD)) {
            const std::string shown = Call(n).number;
            EXPECT_TRUE(shown.empty() || shown == number) << shown;
        }
        for (const auto& r : Bar(s)) {
            const std::u16string shown = BarNumber(r);
            EXPECT_TRUE(shown.empty() || shown == std::u16string(number, number + std::strlen(number)));
        }
        KZ_BT_Answer();
        ASSERT_TRUE(s.Until([&] { return s.phone().callActive(); }));
        s.phone().hangup();
        ASSERT_TRUE(s.WaitPost(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L));
        ASSERT_TRUE(s.WaitQuiet());
    }
}

// The keys a new user tries on a single call, one right after the other:
// hold, switch, end the waiting call (there is none), then end. Each is sent,
// and the last ends the call.
TEST(CallsSystem, SingleCall_HoldSwitchEndWaitingThenEnd_EachSentAndTheCallEnds) {
    Scenario s;
    ASSERT_NO_FATAL_FAILURE(Connect(s));
    s.phone().ring("+111");
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CALL_COUNT, 1));
    KZ_BT_Answer();
    ASSERT_TRUE(s.Until([&] { return s.phone().callActive(); }));
    ASSERT_TRUE(s.WaitQuiet());
    s.sim().ClearReceived();
    KZ_BT_Hold1stCall();
    KZ_BT_SwitchCalls();
    KZ_BT_EndWaitingCall();
    KZ_BT_End1stCall();
    ASSERT_TRUE(s.WaitRequest(kz::msgid::kCallHold, 4));
    std::vector<uint8_t> codes;
    for (const auto& m : s.Requests(kz::msgid::kCallHold)) codes.push_back(m.bytes.at(kParamAt));
    EXPECT_EQ(codes, (std::vector<uint8_t>{2, 2, 0, 1}));
    ASSERT_TRUE(s.WaitPost(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L));
    EXPECT_FALSE(s.phone().callActive());
}
