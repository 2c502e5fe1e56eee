// Call state: the indicator/call-list table, numbers, call audio, microphone.
#include "channel/requests.h"
#include "event_test_util.h"
#include "events/calls.h"
#include "settings/settings.h"

using namespace kz;
using namespace kztest;

namespace {

constexpr uint8_t kCall = 1, kSetup = 2, kHeld = 3, kSignal = 4, kBattery = 6;

std::vector<uint8_t> Indicator(uint8_t which, uint8_t value) { return Msg(113, {which, value}); }
std::vector<uint8_t> CallList(uint8_t calls) { return Msg(88, {calls}); }
// IND 115 (set-up number) or 116 (waiting number): length high byte first, then the text.
std::vector<uint8_t> Number(uint16_t id, const std::string& number, int declared = -1) {
    uint16_t n = declared < 0 ? uint16_t(number.size()) : uint16_t(declared);
    std::vector<uint8_t> p = {uint8_t(n >> 8), uint8_t(n & 0xFF)};
    Append(p, number);
    return Msg(id, p);
}
// IND 121: index in 7, state in 9, number length in 13..14, the number from 15.
std::vector<uint8_t> CurrentCall(uint8_t index, uint8_t state, uint16_t declared, const std::string& text) {
    std::vector<uint8_t> p = {0, index, 0, state, 0, 0, 0, uint8_t(declared >> 8), uint8_t(declared & 0xFF)};
    Append(p, text);
    return Msg(121, p);
}
const Handler kAfterCall = [](const uint8_t*, size_t) { OnAfterCall(); };
const std::string kQuery = "calls?";

// A call record with its count and call-present post, then the status bar's call kind.
std::vector<std::string> Reported(const std::string& state, const std::string& kind, const std::string& number) {
    const std::string n = number.empty() ? "" : " " + number;
    return {"16/0:120 0 " + state + n, "18/1", "navig 2/4", "call " + kind + n};
}

class CallsTest : public EventsTest {
protected:
    void SetUp() override {
        EventsTest::SetUp();
        g_bHfpConnected = 1;
    }
    Signal afterCall{g_hAfterCallEvent};
};

TEST_F(CallsTest, IncomingCall_RingAnswerTalkEnd_ReportsEachStepInOrder) {
    g_bAutoAnswer = 1;
    Play({{OnHfpIndicator, Indicator(kSetup, 1), {kQuery}}});   // ringing
    EXPECT_EQ(g_nAutoAnswerCountdown, 5);
    EXPECT_EQ(g_bCallPausedPb, 1);
    Play({{OnCallListResult, CallList(1), Reported("4", "0", "")},
          {OnCallSetupNumber, Number(115, "+4912345"), Reported("4", "0", "+4912345")},
          {OnHfpIndicator, Indicator(kCall, 1), {kQuery}},   // answered
          {OnCallListResult, CallList(1), Reported("0", "2", "+4912345")},
          {OnHfpIndicator, Indicator(kSetup, 0), {kQuery}},   // talking
          {OnCallListResult, CallList(1), {}}});
    EXPECT_EQ(g_bInCall, 1);
    EXPECT_FALSE(afterCall.Fired());
    Play({{OnHfpIndicator, Indicator(kCall, 0), {kQuery}}});   // ended
    EXPECT_EQ(g_nAutoAnswerCountdown, 0);
    EXPECT_TRUE(afterCall.Fired());
    EXPECT_EQ(g_bInCall, 0);
    Play({{OnCallListResult, CallList(1), {"18/0"}}, {kAfterCall, {}, {"37/0", "navig 2/5", "call 3"}}});
}

TEST_F(CallsTest, Dialling_ReportsOutgoingWithDialledNumber) {
    std::strcpy(g_CallSetupNum, "0301234567");   // as REQ_DIAL leaves it
    Play({{OnHfpIndicator, Indicator(kSetup, 2), {kQuery}},
          {OnCallListResult, CallList(1), Reported("2", "1", "0301234567")}});
    EXPECT_EQ(g_bCallPausedPb, 1);
}

TEST_F(CallsTest, MissedCall_SetupEndsWithoutCall_SignalsAfterCall) {
    Play({{OnHfpIndicator, Indicator(kSetup, 1), {kQuery}},
          {OnCallListResult, CallList(1), Reported("4", "0", "")},
          {OnHfpIndicator, Indicator(kSetup, 0), {kQuery}}});
    EXPECT_TRUE(afterCall.Fired());
    Play({{kAfterCall, {}, {"37/0", "navig 2/5", "call 3"}}});
}

TEST_F(CallsTest, CallListWithoutCalls_IgnoresNumbersUntilCallsReported) {
    Play({{OnCallListResult, CallList(0), {}}});
    EXPECT_EQ(g_bNoCallData, 1);
    g_nCallSetup = 1;
    Play({{OnCallSetupNumber, Number(115, "123"), {}}, {OnWaitingNumber, Number(116, "456"), {}}});
    EXPECT_STREQ(g_CallSetupNum, "");
    EXPECT_STREQ(g_CallHeldNum, "");
}

TEST_F(CallsTest, Numbers_CutToTheBufferAndTheMessage_StateSelectsTheBarKind) {
    g_bNoCallData = 0;
    Feed(OnCallSetupNumber, Number(115, std::string(80, '9')));
    EXPECT_EQ(std::string(g_CallSetupNum), std::string(55, '9'));
    Feed(OnWaitingNumber, Number(116, "123456", 500));   // declared 500, six present
    EXPECT_STREQ(g_CallHeldNum, "123456");
    const std::string ones(55, '1');
    Play({{OnCurrentCall, CurrentCall(7, 4, 0xFFFF, std::string(70, '1')), {"16/0:120 7 4 " + ones, "call 0 " + ones}},
          {OnCurrentCall, CurrentCall(1, 4, 3, "1129"), {"16/0:120 1 4 112", "call 0 112"}},
          {OnCurrentCall, CurrentCall(1, 0, 3, "112"), {"16/0:120 1 0 112", "call 2 112"}},
          {OnCurrentCall, CurrentCall(1, 2, 3, "112"), {"16/0:120 1 2 112", "call 1 112"}},
          {OnCurrentCall, CurrentCall(1, 3, 3, "112"), {"16/0:120 1 3 112", "call 1 112"}}});
}

TEST_F(CallsTest, Indicators_HeldSignalBatteryAndCount) {
    Play({{OnHfpIndicator, Indicator(kHeld, 1), {"20/1"}}});
    EXPECT_EQ(g_nHeldState, 1);
    Play({{OnHfpIndicator, Indicator(kHeld, 5), {"20/5"}},   // reported, not stored
          {OnHfpIndicator, Indicator(kSignal, 3), {"3/3"}},
          {OnHfpIndicator, Indicator(kBattery, 4), {"6/0:4"}},
          {OnCallCount, Msg(122, {0}), {"18/0"}},
          {OnCallCount, Msg(122, {2}), {"18/2", "navig 2/4"}}});
    EXPECT_EQ(g_nHeldState, 1);

    // A call ends while another remains, or after HFP went: no after-call work.
    for (auto [count, hfp] : {std::pair<uint8_t, uint8_t>{2, 1}, {1, 0}}) {
        g_bInCall = 1;
        g_bHfpConnected = hfp;
        Feed(OnCallCount, Msg(122, {count}));
        Feed(OnHfpIndicator, Indicator(kCall, 0));
        EXPECT_FALSE(afterCall.Fired()) << int(count) << " calls, hfp " << int(hfp);
    }
}

TEST_F(CallsTest, AudioAndMicrophone_ConfirmationsReportState) {
    Play({{OnAudioTransferCfm, Msg(14, {0}), {"mic volume 15", "17/1", "navig 2/0"}},
          {OnAudioTransferCfm, Msg(15, {0}), {"17/0", "navig 2/1"}},
          {OnAudioTransferCfm, Msg(15, {1}), {}},   // failure: nothing
          {OnCallAudioInd, Msg(52, {0}), {"mic volume 15", "17/1"}},
          {OnCallAudioInd, Msg(53, {0}), {"17/0"}},
          {OnCallAudioInd, Msg(53, {1}), {}}});
    g_nMicVolume = 7;
    Play({{OnMicVolumeCfm, Msg(23, {0}), {}}});   // neither muted nor full
    g_nMicVolume = 0;
    Play({{OnMicVolumeCfm, Msg(23, {0}), {"87/0"}}});
    EXPECT_EQ(g_bMicMuted, 1);
    g_nMicVolume = 15;
    Play({{OnMicVolumeCfm, Msg(23, {1}), {}}, {OnMicVolumeCfm, Msg(23, {0}), {"87/1"}}});
    EXPECT_EQ(g_bMicMuted, 0);
    g_nMicGain = 9;
    Play({{OnMicMuteInd, Msg(277, {1}), {"87/1"}}, {OnMicMuteInd, Msg(277, {0}), {"87/0"}},
          {OnMicGainCfm, Msg(4, {0}), {"83/9"}}});
}

}  // namespace
