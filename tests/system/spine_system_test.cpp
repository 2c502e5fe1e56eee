// The library's spine against the module simulator, where the threads and
// the timers are part of what is tested: retransmission timing, a peer reset
// emptying the queue, and the event thread's order. The module-ready RES,
// queue pacing and bad frames are the link and channel units' (and every
// scenario's start waits for the RES).
#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "channel/command_queue.h"
#include "channel/module_ids.h"
#include "events/connection.h"
#include "link/bcsp_codec.h"
#include "link/bcsp_link.h"
#include "support/library_on_sim.h"
#include "support/link_support.h"

namespace {

using namespace kztest;

TEST(SpineSystem, Unacknowledged_ResentAt250And500_NextGoesAt750) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start());
    lib.sim().SetAutoConfirm(false);
    lib.sim().SetAcknowledge(false);
    lib.sim().ClearWire();
    SubmitTestRequest(3);
    SubmitTestRequest(5);
    // Without acknowledgements the module takes nothing in: watch the wire.
    const auto sent5 = [&] {
        for (const auto& f : lib.HostFrames())
            if (ParseFrame(f).id() == 5) return true;
        return false;
    };
    ASSERT_TRUE(PollUntil(sent5, 3000));

    std::vector<uint32_t> ticks3, ticks5;
    for (const auto& f : lib.sim().Wire()) {
        if (!f.fromHost) continue;
        const ParsedFrame p = ParseFrame(f.bytes);
        if (p.id() == 3) ticks3.push_back(f.tickMs);
        if (p.id() == 5) ticks5.push_back(f.tickMs);
    }
    ASSERT_EQ(ticks3.size(), 3u);
    ASSERT_FALSE(ticks5.empty());
    constexpr int kTolerance = 80;
    EXPECT_NEAR(int(ticks3[1] - ticks3[0]), 250, kTolerance);
    EXPECT_NEAR(int(ticks3[2] - ticks3[0]), 500, kTolerance);
    EXPECT_NEAR(int(ticks5[0] - ticks3[0]), 750, kTolerance);
    // The retransmissions are the very same frame, sequence number included.
    std::vector<std::vector<uint8_t>> copies;
    for (const auto& f : lib.sim().Wire())
        if (f.fromHost && ParseFrame(f.bytes).id() == 3) copies.push_back(f.bytes);
    EXPECT_EQ(copies[0], copies[1]);
    EXPECT_EQ(copies[0], copies[2]);
}

TEST(SpineSystem, PeerReset_LinkComesBackAndTheRestartedModuleStartsWithAnEmptyQueue) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start());
    lib.sim().SetAutoConfirm(false);
    SubmitTestRequest(3);
    SubmitTestRequest(5);
    ASSERT_TRUE(lib.sim().WaitForMessage(kz::msgid::kSetNibbleMask, 2000));
    ASSERT_TRUE(lib.sim().WaitOutgoingIdle(2000));

    lib.sim().ClearReceived();
    kz::g_bModuleInited = 0;
    lib.sim().PeerReset();
    ASSERT_TRUE(lib.sim().WaitForMessage(kz::msgid::kModuleReady, 5000));   // the RES of the new module-ready
    ASSERT_TRUE(lib.sim().LinkUp());
    // The module-ready handler drops what the old module was asked, so the
    // next request goes out at once, without a confirmation.
    ASSERT_TRUE(PollUntil([] { return kz::g_bModuleInited.load() == 1; }, 2000));
    SubmitTestRequest(6);
    ASSERT_TRUE(lib.sim().WaitForMessage(kz::msgid::kSetOption6, 2000));
    for (const auto& m : lib.sim().Received()) EXPECT_NE(m.id, 5) << "a request of the old module went out";
}

struct Boxes {
    std::mutex m;
    std::vector<std::string> texts;
};
Boxes g_boxes;
int RecordBox(const char* text, const char*, uint32_t, void*) {
    std::lock_guard<std::mutex> lock(g_boxes.m);
    g_boxes.texts.push_back(text);
    return KZ_IDNO;
}

TEST(SpineSystem, BurstOfFive_ReachesTheEventThreadInArrivalOrder) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start());
    g_boxes.texts.clear();
    KzSetMessageBoxHandler(&RecordBox, nullptr);
    const uint8_t statuses[] = {0, 4, 4, 0, 4};
    for (uint8_t s : statuses) lib.sim().SendConfirm(kz::msgid::kEnterDutMode, s);
    PollUntil([] {
        std::lock_guard<std::mutex> lock(g_boxes.m);
        return g_boxes.texts.size() >= 5;
    });
    KzSetMessageBoxHandler(nullptr, nullptr);
    std::vector<std::string> expected;
    for (uint8_t s : statuses) expected.push_back(s ? "Enter DUT Mode FAILED" : "Enter DUT Mode SUCCESS");
    std::lock_guard<std::mutex> lock(g_boxes.m);
    EXPECT_EQ(g_boxes.texts, expected);
}

}  // namespace
