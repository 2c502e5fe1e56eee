// Call state: the indicator/call-list table, numbers, call audio, microphone.
#include <cstring>

#include "channel/module_ids.h"
#include "channel/requests.h"
#include "events/calls.h"
#include "events/connection.h"
#include "event_test_util.h"
#include "core/sync_objects.h"
#include "settings/settings.h"

using namespace kz;
using namespace kztest;

namespace {

std::vector<uint8_t> Indicator(uint8_t which, uint8_t value) { return Msg(113, {which, value}); }
std::vector<uint8_t> CallList(uint8_t calls) { return Msg(88, {calls}); }
std::vector<uint8_t> SetupNumber(uint16_t id, const std::string& number, int declared = -1) {
    uint16_t n = declared < 0 ? uint16_t(number.size()) : uint16_t(declared);
    std::vector<uint8_t> p = {uint8_t(n >> 8), uint8_t(n & 0xFF)};
    Append(p, number);
    return Msg(id, p);
}

constexpr uint8_t kCall = 1, kSetup = 2, kHeld = 3, kSignal = 4, kBattery = 6;

struct CallNote {
    uint32_t state;
    std::string number;
};

class CallsTest : public EventsTest {
protected:
    void SetUp() override {
        EventsTest::SetUp();
        g_bHfpConnected = 1;
        afterCall_ = KzCreateEvent(0, 0);
        g_hAfterCallEvent = afterCall_;
    }
    void TearDown() override {
        g_hAfterCallEvent = nullptr;
        KzCloseHandle(afterCall_);
        EventsTest::TearDown();
    }
    bool AfterCallSignalled() { return KzWaitForSingleObject(afterCall_, 0) == KZ_WAIT_OBJECT_0; }

    // Notification 16 records (state, number) in order.
    std::vector<CallNote> CallRecords() {
        std::vector<CallNote> out;
        for (auto& n : host.Notifications()) {
            if (n.code != 16) continue;
            CallRecord r;
            std::memcpy(&r, n.data.data(), sizeof r);
            out.push_back({r.state, r.number});
        }
        return out;
    }
    std::vector<uint32_t> BarKinds() {
        std::vector<uint32_t> out;
        for (auto& b : host.Inforbar()) {
            CallInfoRecord r;
            std::memcpy(&r, b.bytes.data(), sizeof r);
            out.push_back(r.kind);
        }
        return out;
    }
    std::vector<uint32_t> Counts() {
        std::vector<uint32_t> out;
        for (auto& n : host.Notifications())
            if (n.code == 18) out.push_back(n.param);
        return out;
    }
    std::vector<intptr_t> StatePosts() {
        std::vector<intptr_t> out;
        for (auto& p : Posts())
            if (p.wParam == 2) out.push_back(p.lParam);
        return out;
    }
    size_t Queries() { return Sent(kz::msgid::kCurrentCalls).size(); }

    KzHandle afterCall_ = nullptr;
};

TEST_F(CallsTest, IncomingCall_RingAnswerTalkEnd_ReportsEachStepInOrder) {
    g_bAutoAnswer = 1;

    Feed(OnHfpIndicator, Indicator(kSetup, 1));       // ringing
    EXPECT_EQ(g_nAutoAnswerCountdown, 5);
    EXPECT_EQ(g_bCallPausedPb, 1);
    EXPECT_EQ(Queries(), 1u);
    Feed(OnCallListResult, CallList(1));
    Feed(OnCallSetupNumber, SetupNumber(115, "+4912345"));

    Feed(OnHfpIndicator, Indicator(kCall, 1));        // answered
    EXPECT_EQ(g_bInCall, 1);
    EXPECT_EQ(Queries(), 2u);
    Feed(OnCallListResult, CallList(1));

    Feed(OnHfpIndicator, Indicator(kSetup, 0));       // talking
    EXPECT_EQ(Queries(), 3u);
    EXPECT_FALSE(AfterCallSignalled());
    Feed(OnCallListResult, CallList(1));              // reports nothing

    Feed(OnHfpIndicator, Indicator(kCall, 0));        // ended
    EXPECT_EQ(g_nAutoAnswerCountdown, 0);
    EXPECT_EQ(Queries(), 4u);
    EXPECT_TRUE(AfterCallSignalled());
    EXPECT_EQ(g_bInCall, 0);
    Feed(OnCallListResult, CallList(1));
    OnAfterCall();

    auto records = CallRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].state, 4u);
    EXPECT_EQ(records[0].number, "");
    EXPECT_EQ(records[1].state, 4u);
    EXPECT_EQ(records[1].number, "+4912345");
    EXPECT_EQ(records[2].state, 0u);
    EXPECT_EQ(records[2].number, "+4912345");
    EXPECT_EQ(Counts(), (std::vector<uint32_t>{1, 1, 1, 0}));
    EXPECT_EQ(BarKinds(), (std::vector<uint32_t>{0, 0, 2, 3}));
    EXPECT_EQ(StatePosts(), (std::vector<intptr_t>{4, 4, 4, 5}));
}

TEST_F(CallsTest, Dialling_ReportsOutgoingWithDialledNumber) {
    std::strcpy(g_CallSetupNum, "0301234567");   // as REQ_DIAL leaves it
    Feed(OnHfpIndicator, Indicator(kSetup, 2));
    EXPECT_EQ(Queries(), 1u);
    EXPECT_EQ(g_bCallPausedPb, 1);
    Feed(OnCallListResult, CallList(1));

    auto records = CallRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].state, 2u);
    EXPECT_EQ(records[0].number, "0301234567");
    EXPECT_EQ(BarKinds(), std::vector<uint32_t>{1});
    EXPECT_EQ(StatePosts(), std::vector<intptr_t>{4});
}

TEST_F(CallsTest, SecondCallWhileTalking_WaitingNumberKeptAndOutgoingReportedActive) {
    g_bCallActive = 1;
    g_bInCall = 1;
    g_bNoCallData = 0;

    Feed(OnHfpIndicator, Indicator(kSetup, 1));       // call waiting: no query
    EXPECT_EQ(Queries(), 0u);
    Feed(OnWaitingNumber, SetupNumber(116, "555123"));
    EXPECT_STREQ(g_CallHeldNum, "555123");
    EXPECT_TRUE(host.Codes().empty());

    Feed(OnHfpIndicator, Indicator(kSetup, 0));
    host.Clear();
    recorder.Clear();
    Feed(OnCallSetupNumber, SetupNumber(115, "777"));
    Feed(OnHfpIndicator, Indicator(kSetup, 2));       // second outgoing call
    EXPECT_EQ(Queries(), 1u);
    Feed(OnCallListResult, CallList(1));
    auto records = CallRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].state, 0u);
    EXPECT_EQ(records[0].number, "777");
    EXPECT_STREQ(g_szActiveCallNum, "777");
}

TEST_F(CallsTest, MissedCall_SetupEndsWithoutCall_SignalsAfterCall) {
    Feed(OnHfpIndicator, Indicator(kSetup, 1));
    Feed(OnCallListResult, CallList(1));
    Feed(OnHfpIndicator, Indicator(kSetup, 0));
    EXPECT_TRUE(AfterCallSignalled());
    EXPECT_EQ(Queries(), 2u);

    Posts();
    host.Clear();
    OnAfterCall();
    EXPECT_EQ(BarKinds(), std::vector<uint32_t>{3});
    EXPECT_EQ(StatePosts(), std::vector<intptr_t>{5});
}

TEST_F(CallsTest, CallListWithoutCalls_IgnoresNumbersUntilCallsReported) {
    Feed(OnCallListResult, CallList(0));
    EXPECT_EQ(g_bNoCallData, 1);
    g_nCallSetup = 1;
    Feed(OnCallSetupNumber, SetupNumber(115, "123"));
    Feed(OnWaitingNumber, SetupNumber(116, "456"));
    EXPECT_STREQ(g_CallSetupNum, "");
    EXPECT_STREQ(g_CallHeldNum, "");
    EXPECT_TRUE(host.Codes().empty());
}

TEST_F(CallsTest, Numbers_TooLongOrLyingLength_CutToBufferAndMessage) {
    g_bNoCallData = 0;
    std::string longNumber(80, '9');
    Feed(OnCallSetupNumber, SetupNumber(115, longNumber));
    EXPECT_EQ(std::string(g_CallSetupNum), std::string(55, '9'));

    // Declared 500 bytes, six present: only the six are taken.
    Feed(OnWaitingNumber, SetupNumber(116, "123456", 500));
    EXPECT_STREQ(g_CallHeldNum, "123456");

    std::vector<uint8_t> p = {0, 7, 0, 4, 0, 0, 0, 0xFF, 0xFF};   // index 7, state 4, length 65535
    Append(p, std::string(70, '1'));
    Feed(OnCurrentCall, Msg(121, p));
    EXPECT_EQ(g_CurrCall.index, 7u);
    EXPECT_EQ(g_CurrCall.state, 4u);
    EXPECT_EQ(std::string(g_CurrCall.number), std::string(55, '1'));
}

TEST_F(CallsTest, CurrentCall_StateSelectsStatusBarKind) {
    const std::pair<uint8_t, uint32_t> cases[] = {{4, 0}, {0, 2}, {2, 1}, {3, 1}};
    for (auto [state, kind] : cases) {
        SCOPED_TRACE(int(state));
        host.Clear();
        std::vector<uint8_t> p = {0, 1, 0, state, 0, 0, 0, 0, 3};
        Append(p, "112");
        Feed(OnCurrentCall, Msg(121, p));
        EXPECT_EQ(BarKinds(), std::vector<uint32_t>{kind});
        ASSERT_EQ(CallRecords().size(), 1u);
        EXPECT_EQ(CallRecords()[0].number, "112");
    }
}

TEST_F(CallsTest, Indicators_HeldSignalBatteryAndCount) {
    Feed(OnHfpIndicator, Indicator(kHeld, 1));
    EXPECT_EQ(g_nHeldState, 1);
    Feed(OnHfpIndicator, Indicator(kHeld, 5));        // reported, not stored
    EXPECT_EQ(g_nHeldState, 1);
    Feed(OnHfpIndicator, Indicator(kSignal, 3));
    Feed(OnHfpIndicator, Indicator(kBattery, 4));
    Feed(OnCallCount, Msg(122, {0}));
    auto notes = host.Notifications();
    ASSERT_EQ(notes.size(), 5u);
    EXPECT_EQ(notes[0].code, 20u);
    EXPECT_EQ(notes[0].len, 0u);
    EXPECT_EQ(notes[1].param, 5u);
    EXPECT_EQ(notes[2].code, 3u);
    EXPECT_EQ(notes[2].param, 3u);
    EXPECT_EQ(notes[3].code, 6u);
    EXPECT_EQ(notes[3].param, 0u);
    EXPECT_EQ(notes[3].len, 4u);
    EXPECT_EQ(notes[4].code, 18u);
    EXPECT_EQ(notes[4].param, 0u);
    EXPECT_TRUE(StatePosts().empty());   // count 0 posts nothing

    // A call ends while another remains, or after HFP went: no after-call work.
    for (auto [count, hfp] : {std::pair<uint8_t, uint8_t>{2, 1}, {1, 0}}) {
        g_bInCall = 1;
        g_bHfpConnected = hfp;
        Feed(OnCallCount, Msg(122, {count}));
        Feed(OnHfpIndicator, Indicator(kCall, 0));
        EXPECT_FALSE(AfterCallSignalled()) << int(count) << " calls, hfp " << int(hfp);
    }
}

TEST_F(CallsTest, AudioAndMicrophone_ConfirmationsReportState) {
    Feed(OnAudioTransferCfm, Msg(14, {0}));
    auto vol = Sent(kz::msgid::kSetMicVolume);
    ASSERT_EQ(vol.size(), 1u);
    EXPECT_EQ(vol[0].bytes[6], 0);
    EXPECT_EQ(vol[0].bytes[7], 15);
    Feed(OnAudioTransferCfm, Msg(15, {0}));
    Feed(OnAudioTransferCfm, Msg(15, {1}));           // failure: nothing
    Feed(OnCallAudioInd, Msg(53, {0}));
    EXPECT_EQ(StatePosts(), (std::vector<intptr_t>{0, 1}));

    g_nMicVolume = 7;
    Feed(OnMicVolumeCfm, Msg(23, {0}));               // neither muted nor full
    g_nMicVolume = 0;
    Feed(OnMicVolumeCfm, Msg(23, {0}));
    EXPECT_EQ(g_bMicMuted, 1);
    Feed(OnMicMuteInd, Msg(277, {1}));
    g_nMicGain = 9;
    Feed(OnMicGainCfm, Msg(4, {0}));

    std::vector<std::pair<uint32_t, uint32_t>> got;
    for (auto& n : host.Notifications()) got.push_back({n.code, n.param});
    std::vector<std::pair<uint32_t, uint32_t>> want = {{17, 1}, {17, 0}, {17, 0}, {87, 0}, {87, 1}, {83, 9}};
    EXPECT_EQ(got, want);
}

}  // namespace
