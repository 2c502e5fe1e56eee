// The control window's messages and command table, and the library's timers.
#include "frame/control_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel/requests.h"
#include "events/audio.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/dispatcher.h"
#include "frame_fixture.h"
#include "settings/settings.h"
#include "support/connection_state.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ControlWindowTest : public kztest::FrameTest {
protected:
    void Copy(KzWParam wParam, uint32_t command, uint32_t value) {
        uint32_t block[2] = {command, value};
        KzCopyDataStruct cds{0, sizeof block, block};
        kz::ControlWndProc(nullptr, KZ_WM_COPYDATA, wParam, reinterpret_cast<KzLParam>(&cds));
    }
    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i) kz::HousekeepingTimerProc(nullptr, KZ_WM_TIMER, 1, 0);
    }
};

TEST_F(ControlWindowTest, CopyData_CommandTable) {
    struct Case { uint32_t command, value; uint16_t id; Bytes params; };
    const std::vector<Case> cases = {
        {1, 0x10123, 4, {0x80, 0x23}}, {2, 0, 3, {0x00, 0x00}}, {2, 1, 3, {0x00, 0x0F}}, {2, 2, 3, {0x00, 0xFF}},
        {2, 3, 3, {0x0F, 0xFF}}, {2, 9, 3, {0xFF, 0xFF}}, {2, 0x20003, 3, {0x0F, 0xFF}},   // only the low 16 bits count
        {3, 15, 23, {0x00, 0x0F}}, {4, 0x1FF, 5, {0x00, 0x00, 0xFF, 0x00}}, {5, 7, 5, {0x01, 0x00, 0x07, 0x00}},
        {6, 9, 5, {0x02, 0x00, 0x09, 0x00}}, {7, 1, 33, {0x00, 0x00}}, {8, 0x102, 6, {0x02, 0x00}},
        {9, 3, 26, {0x03, 0x00}}, {10, 0, 20, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "command " << c.command << " value " << c.value);
        recorder.Clear();
        Copy(KZ_COPYDATA_COMMAND, c.command, c.value);
        const auto msgs = recorder.Messages();
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_TRUE(msgs[0].id() == c.id && msgs[0].mode == 0u);
        EXPECT_EQ(Bytes(msgs[0].bytes.begin() + 6, msgs[0].bytes.end()), c.params);
    }
    EXPECT_EQ(kz::g_nMicGain.load(), 0x0123);   // command 1 remembers V
    EXPECT_EQ(kz::g_nMicMode.load(), 1);         // command 7 stores the mode

    recorder.Clear();
    kz::g_bMicMuted = 1;
    Copy(KZ_COPYDATA_COMMAND, 7, 0);   // the mode again, not the mute
    kz::g_bDutMode = 1;
    Copy(KZ_COPYDATA_COMMAND, 10, 0);  // test mode not entered twice
    EXPECT_EQ(recorder.Ids(), (std::vector<uint16_t>{33}));
}

// Call keys, the music source and the link-key store act on their defined
// values only.
TEST_F(ControlWindowTest, WindowMessages_OnlyDefinedValuesAct) {
    const auto send = [](uint32_t msg, KzWParam w, KzLParam l) { return kz::ControlWndProc(nullptr, msg, w, l); };
    root.Write("\\BACKUP\\KZ_TARN\\tarn.dat", "keys");
    Copy(0, 2, 3);                       // WM_COPYDATA with wParam other than 4
    Copy(KZ_COPYDATA_COMMAND, 0, 1);     // unknown commands
    Copy(KZ_COPYDATA_COMMAND, 11, 1);
    send(KZ_WM_COPYDATA, KZ_COPYDATA_COMMAND, 0);   // no block
    uint32_t shortBlock[1] = {2};
    KzCopyDataStruct cds{0, sizeof shortBlock, shortBlock};
    send(KZ_WM_COPYDATA, KZ_COPYDATA_COMMAND, reinterpret_cast<KzLParam>(&cds));
    send(KZ_MSG_CALL_KEY, 3, 0);
    send(KZ_MSG_CALL_KEY, 0, 0);
    send(KZ_MSG_DELETE_LINK_KEYS, 0, 0);
    send(KZ_MSG_ACCEPTED_NO_ACTION, 1, 1);
    send(KZ_MSG_AUDIO_SOURCE, 3, 1);
    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_TRUE(root.Exists("\\BACKUP\\KZ_TARN\\tarn.dat"));
    EXPECT_EQ(kz::g_bCurrSrcA2DP.load(), 0);

    send(KZ_MSG_CALL_KEY, 1, 0);
    send(KZ_MSG_CALL_KEY, 2, 0);
    EXPECT_EQ(kztest::SpellRequests(recorder, {}), (std::vector<std::string>{"answer 1", "answer 0"}));
    send(KZ_MSG_AUDIO_SOURCE, 1, 1);
    EXPECT_EQ(kz::g_bCurrSrcA2DP.load(), 1);
    send(KZ_MSG_AUDIO_SOURCE, 1, 0);
    EXPECT_EQ(kz::g_bCurrSrcA2DP.load(), 0);
    EXPECT_EQ(send(KZ_MSG_DELETE_LINK_KEYS, 0, 1), 0);
    EXPECT_FALSE(root.Exists("\\BACKUP\\KZ_TARN"));
}

// Media is opened once, on the fourth tick with A2DP up and media closed;
// open media or no A2DP restarts the count.
TEST_F(ControlWindowTest, Housekeeping_MediaOpenOnTheFourthTick) {
    kz::g_bA2dpConnected = 1;
    Tick(3);
    kz::g_bMediaOpen = 1;   // opened in time: no request
    Tick(5);
    EXPECT_TRUE(recorder.Messages().empty());
    kz::g_bA2dpConnected = 0;
    Tick();
    EXPECT_TRUE(kz::g_bMediaOpen.load() == 0 && kz::g_nMediaOpenTicks.load() == 4);
    kz::g_bA2dpConnected = 1;   // closed again: four ticks from here
    Tick(3);
    EXPECT_TRUE(recorder.Messages().empty());
    Tick();
    EXPECT_EQ(recorder.Ids(), (std::vector<uint16_t>{258}));
    Tick(6);
    EXPECT_EQ(recorder.Messages().size(), 1u);
}

// A ringing call is answered on the fifth tick only with the module ready,
// HFP up and the setting on; otherwise the count stands still.
TEST_F(ControlWindowTest, Housekeeping_AutoAnswerTable) {
    const struct { const char* what; uint8_t inited, hfp, setting; bool answered; } rows[] = {
        {"all on", 1, 1, 1, true}, {"module not ready", 0, 1, 1, false},
        {"no HFP", 1, 0, 1, false}, {"setting off", 1, 1, 0, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        recorder.Clear();
        kz::g_bModuleInited = r.inited;
        kz::g_bHfpConnected = r.hfp;
        kz::g_bAutoAnswer = r.setting;
        kz::g_bA2dpConnected = 0;
        kz::g_bPbapConnectDone = 1;
        kz::g_nAutoAnswerCountdown = 5;
        Tick(4);
        EXPECT_TRUE(recorder.Messages().empty());
        Tick();
        EXPECT_EQ(kztest::SpellRequests(recorder, {}), std::vector<std::string>(r.answered, "answer 1"));
        Tick(3);
        EXPECT_EQ(recorder.Messages().size(), r.answered ? 1u : 0u);
        EXPECT_EQ(kz::g_nAutoAnswerCountdown.load(), r.answered ? 0 : 5);
    }
}

// Said once when the phonebook profile has not answered in three ticks,
// withdrawn three ticks after it has.
TEST_F(ControlWindowTest, Housekeeping_PbapPendingNoticeAndWithdrawal) {
    kztest::HostWindows host;
    const auto after = [&](bool done, int ticks) {
        kz::g_bPbapConnectDone = done;
        Tick(ticks);
        return kztest::SpellReports(host);
    };
    using Reports = std::vector<std::string>;
    after(false, 2);
    EXPECT_EQ(after(true, 5), Reports{});   // answered within three ticks: no notice
    EXPECT_EQ(after(false, 2), Reports{});
    EXPECT_EQ(after(false, 1), Reports{"97/1"});
    EXPECT_EQ(after(false, 4), Reports{"97/1"});
    EXPECT_EQ(after(true, 2), Reports{"97/1"});
    EXPECT_EQ(after(true, 1), (Reports{"97/1", "97/0"}));
    EXPECT_EQ(after(true, 5), (Reports{"97/1", "97/0"}));
}

TEST_F(ControlWindowTest, GainRestoreTimer_ReappliesTheGainOnce) {
    kztest::HostWindows host;   // a message loop on this thread
    kz::REQ_SET_MIC_GAIN(11);
    recorder.Clear();
    // Restarted before it fires (and with no control window, so a thread
    // timer): the first timer is replaced, not left running.
    kz::StartGainRestoreTimer();
    kz::StartGainRestoreTimer();
    EXPECT_NE(kz::g_nGainTimerID.load(), 0u);
    ASSERT_TRUE(host.WaitFor([&] { return !recorder.Messages().empty(); }, 3000));
    EXPECT_TRUE(recorder.Ids()[0] == 4 && recorder.Messages()[0].bytes[7] == 11);
    EXPECT_EQ(kz::g_nGainTimerID.load(), 0u);
    host.Pump(1300);   // a second period passes without another request
    EXPECT_EQ(recorder.Messages().size(), 1u);
}

}  // namespace
