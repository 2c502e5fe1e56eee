// Start-up and shut-down of the library against the simulator (or no port).
#include <gtest/gtest.h>

#include <time.h>

#include <cstdlib>

#include "channel/command_queue.h"
#include "channel/module_ids.h"
#include "core/sync_objects.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/dispatcher.h"
#include "events/inquiry.h"
#include "frame/lifecycle.h"
#include "link/bcsp_link.h"
#include "settings/settings.h"
#include "support/connection_state.h"
#include "support/library_on_sim.h"

namespace {

using namespace kztest;

TEST(Lifecycle, NoPort_InitStartsEverythingIdles_CloseSaysNotOpen_ALaterInitWorks) {
    ResetAllState();
    TempRoot root;
    HostWindows host;
    setenv("KZ_TARN_COM3", (root.path() + "/no-such-device").c_str(), 1);
    EXPECT_EQ(KZ_BT_DeviceInit(), 0);
    EXPECT_TRUE(kz::g_hRecvThread.load() && kz::g_hEventThread.load() && kz::g_hSendThread.load());
    EXPECT_TRUE(kz::g_hBTWnd.load() && KzFindWindow(KZ_WND_CONTROL, KZ_WND_CONTROL) == kz::g_hBTWnd.load());
    EXPECT_TRUE(root.Exists("\\BACKUP\\KZ_Config\\BlueTooth") && root.Exists("\\BACKUP\\KZ_TARN"));
    ASSERT_TRUE(host.WaitFor([&] { return !host.NavigPosts().empty(); }));
    EXPECT_TRUE(host.NavigPosts()[0].wParam == 2u && host.NavigPosts()[0].lParam == 9);
    EXPECT_TRUE(host.Codes().empty()) << "no settings are loaded (and reported) without the port";
    const uint8_t result[] = {0x09, 0x00, 0x55, 0x02, 0x31, 0x00, 1, 2, 3, 4, 5, 6};
    kz::OnInquiryResult(result, sizeof result);   // a phone found during the session
    kz::g_bAutoConnect = 1;   // with no phone remembered there is nothing to connect to
    KZ_BT_SetInitialValue();
    EXPECT_FALSE(kz::g_bAutoConnecting.load());
    // Without a port the threads wait for shut-down: next to no CPU.
    const auto cpuMs = [] {
        timespec ts;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
    };
    const double before = cpuMs();
    KzSleep(500);   // a window of time to measure over, not a wait for anything
    EXPECT_LT(cpuMs() - before, 25.0);
    // Requests the event thread builds while close waits for it (a call
    // indicator asks for the current calls) do not survive into the next session.
    kz::g_bInCall = 1;
    const uint8_t callEnded[] = {0x04, 0x00, 0x55, 0x02, 113, 0x00, 1, 0};
    for (int i = 0; i < 2000; ++i) kz::DispatchModuleMessage(113, callEnded, sizeof callEnded);
    EXPECT_EQ(KZ_BT_CloseDevice(), -1);
    EXPECT_EQ(kz::CmdListSize(), 0u);
    EXPECT_TRUE(kz::g_vecInquiry.empty()) << "close frees the session's inquiry results";
    EXPECT_TRUE(kz::g_hRecvThread.load() == nullptr && kz::g_bRunning == 0);

    kzsim::ModuleSimulator sim;   // the module turns up: a later init works
    ASSERT_TRUE(sim.Start());
    setenv("KZ_TARN_COM3", sim.DevicePath().c_str(), 1);
    KZ_BT_DeviceInit();
    EXPECT_TRUE(sim.WaitForMessage(48, 5000));
    EXPECT_EQ(KZ_BT_CloseDevice(), 1);   // what closing the handle returned
    sim.Stop();
    unsetenv("KZ_TARN_COM3");
    ResetAllState();
}

// A second start-up reuses the window, the link and the queue carrying on;
// close discards what was queued, without waiting for a resend, and ends the
// wait for a confirmation.
TEST(Lifecycle, InitAgainReusesTheWindow_CloseDiscardsTheQueueAtOnce) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start());
    KzHwnd window = kz::g_hBTWnd.load();
    EXPECT_NE(lib.Close(), -1);
    lib.Reopen();
    EXPECT_EQ(kz::g_hBTWnd.load(), window);
    lib.sim().SetAutoConfirm(false);
    lib.sim().ClearReceived();
    for (uint16_t id : {3, 5, 6}) SubmitTestRequest(id);
    ASSERT_TRUE(lib.sim().WaitForMessage(kz::msgid::kSetNibbleMask, 3000));
    EXPECT_EQ(kz::CmdListSize(), 2u);
    // 5 goes at the confirmation of 3, unacknowledged: close returns at once
    // from the retransmission wait, discarding 6.
    lib.sim().SetAcknowledge(false);
    lib.sim().SendConfirm(kz::msgid::kSetNibbleMask, 0);
    ASSERT_TRUE(PollUntil([] { return kz::CmdListSize() == 1 && kz::ubcsp_config.awaiting_ack == 1; }, 3000));
    const uint32_t start = KzGetTickCount();
    EXPECT_NE(lib.Close(), -1);
    EXPECT_LT(KzGetTickCount() - start, 100u);
    EXPECT_EQ(kz::CmdListSize(), 0u);
    // A module that does not announce itself again would hold the next
    // session's first request for the confirmation timeout.
    EXPECT_EQ(kz::g_bCfmForTheLastREQ.load(), 1) << "still waiting for the confirmation of 5";
}

// The reset every test begins with puts the connection state back as it is
// at load, whatever a test left.
TEST(Lifecycle, ResetLibraryState_ConnectionStateAsAtLoad) {
    ApplyState(~0u);
    ResetAllState();
    EXPECT_EQ(DescribeState(ObserveState()), DescribeState(kPbapDone));
}

}  // namespace
