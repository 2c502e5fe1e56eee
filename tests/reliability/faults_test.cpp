// Faults under the library: the serial line hung up, the module restarting
// in a call or a download.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "channel/module_ids.h"
#include "events/calls.h"
#include "events/connection.h"
#include "link/bcsp_link.h"
#include "phonebook/download.h"
#include "support/session.h"

namespace {

using namespace kztest;

// Share of a core the process uses over a window: a busy loop takes a whole one.
double CpuShareOver(uint32_t ms) {
    const auto cpuMs = [] {
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
    };
    const double before = cpuMs();
    KzSleep(ms);
    return (cpuMs() - before) / ms;
}

TEST(SerialFault, LineHungUp_NoBusyLoopAndANewInitWorks) {
    auto lib = std::make_unique<LibraryOnSimulator>();
    ASSERT_TRUE(lib->Start());
    EXPECT_LT(CpuShareOver(700), 0.05) << "idle";
    // The module goes away: its end of the line closes, the device node with it.
    lib->sim().Stop();
    EXPECT_LT(CpuShareOver(700), 0.05) << "line hung up";
    EXPECT_EQ(lib->Close(), 1);   // what closing the handle returned
    // A new module on a new line: the library, still garrulous from before,
    // takes the module's sync as a peer reset and comes up again.
    kzsim::ModuleSimulator next;
    ASSERT_TRUE(next.Start());
    setenv("KZ_TARN_COM3", next.DevicePath().c_str(), 1);
    KZ_BT_DeviceInit();
    EXPECT_TRUE(next.WaitLinkUp(5000) && next.WaitForMessage(kz::msgid::kModuleReady, 5000));
    EXPECT_TRUE(PollUntil([] { return kz::ubcsp_config.link_establishment_state == kz::kGarrulous; }, 5000));
    KZ_BT_CloseDevice();
    next.Stop();
}

// Each time the link comes back the interrupted work is over and, started
// again, completes; what the old module was asked is dropped.
TEST(ModuleReset, InACallThenInADownload_LinkReturnsAndTheWorkStartedAgainCompletes) {
    Session s;
    s.phone().setContacts(Contacts(60));
    ASSERT_TRUE(s.StartAndPhoneConnects());
    s.phone().ring("+4930111");
    ASSERT_TRUE(s.Until([] { return kz::g_nCallSetup.load() == 1; }));
    s.phone().answer();
    ASSERT_TRUE(s.Until([] { return kz::g_bCallActive.load() != 0; }) && s.WaitQuiet());
    s.sim().SetAutoConfirm(false);
    SubmitTestRequest(3);
    SubmitTestRequest(5);   // waits for the confirmation of 3
    ASSERT_TRUE(s.sim().WaitForMessage(kz::msgid::kSetNibbleMask, 2000));
    s.sim().ClearReceived();
    ASSERT_TRUE(s.ModuleRestarts());
    s.sim().SetAutoConfirm(true);
    EXPECT_FALSE(kz::g_bHfpConnected.load());
    SubmitTestRequest(6);
    ASSERT_TRUE(s.sim().WaitForMessage(kz::msgid::kSetOption6, 2000));
    for (const auto& m : s.sim().Received()) EXPECT_NE(m.id, 5) << "a request of the old module went out";
    // The call went with the module: nothing holds the download paused.
    EXPECT_FALSE(kz::g_bInCall.load() || kz::g_bCallActive.load() || kz::g_bCallPausedPb.load());
    ASSERT_TRUE(s.PhoneConnects());

    ASSERT_TRUE(s.Run({{"download", [] { KZ_BT_GetPhonBookSize(KZ_PB_PHONEBOOK); },
                        {[](Session& s) { return s.Notes(KZ_NOTIFY_PHONEBOOK_ENTRY).size() >= 10; }}}}));
    ASSERT_TRUE(s.ModuleRestarts());
    EXPECT_FALSE(kz::startDownload.load());
    ASSERT_TRUE(s.PhoneConnects());
    ASSERT_TRUE(s.DownloadPhonebook(20000));
    EXPECT_EQ(s.root().Read(kBookFile).size(), 60 * sizeof(structPhoneDate));
    // The next caller's number is asked for and shown.
    ASSERT_TRUE(s.TakeCall("+4930222"));
    bool shown = false;
    for (const auto& n : s.Notes(KZ_NOTIFY_CALL_RECORD)) shown |= As<CallRecord>(n.data).number == std::string("+4930222");
    EXPECT_TRUE(shown);
}

}  // namespace
