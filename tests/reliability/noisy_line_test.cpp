// The whole library over a noisy serial line: the simulator corrupts, drops
// and duplicates bytes in both directions; the link must deliver every
// indication once and in order, account for every lost request by its
// give-up rule, never get stuck, and end where a clean line ends.
#include <gtest/gtest.h>

#include "link/bcsp_link.h"
#include "support/library_on_sim.h"

namespace {

using namespace kztest;

bool WaitUntil(const std::function<bool()>& pred, uint32_t ms) {
    const uint32_t start = KzGetTickCount();
    while (!pred()) {
        if (KzGetTickCount() - start > ms) return pred();
        KzSleep(5);
    }
    return true;
}

TEST(LinkCounters, UnacknowledgedRequest_TwoResendsThenOneGiveUp) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start());
    lib.sim().SetAcknowledge(false);
    SubmitTestRequest(3);
    ASSERT_TRUE(WaitUntil([] { return kz::g_LinkCounters.givenUp.load() == 1; }, 3000));
    EXPECT_EQ(kz::g_LinkCounters.retransmitted.load(), 2u);
    EXPECT_EQ(kz::g_LinkCounters.rejectedFrames.load(), 0u);
}

}  // namespace
