// What the library's tests rely on the simulator's link for, where a fault
// would let them pass without testing anything: the module retransmits, one
// packet at a time. The module's link engine runs here on a clock of the
// test's own. (Faults that make the library's tests fail, in confirmations,
// duplicates or restarts, show there.)
#include <gtest/gtest.h>

#include "sim_link.h"

namespace kzsim {
namespace {

using Bytes = std::vector<uint8_t>;

// Unacknowledged, the same frame goes again every 250 ms and what is queued
// behind it waits; each acknowledgement lets the next one go.
TEST(ModuleLink, Retransmission_OnePacketEvery250MsUntilAcknowledged) {
    uint32_t now = 0;
    std::vector<std::pair<uint32_t, Bytes>> sent;   // reliable frames with their times
    LinkEngine module(LinkConfig{}, [&](const Bytes& f) {
        if (DecodeFrame(f).reliable) sent.push_back({now, f});
    });
    module.Start(now);
    for (uint8_t m : {bcsp::kSync, bcsp::kSyncResp, bcsp::kConfResp}) module.OnFrame(BuildLinkMessage(m), now);
    ASSERT_TRUE(module.Up());
    module.Queue({bcsp::kChannelModule, true, {4}}, now);
    module.Queue({bcsp::kChannelModule, true, {6}}, now);
    for (; now <= 1000; now += 10) module.Tick(now);
    ASSERT_EQ(sent.size(), 5u);
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_TRUE(sent[i].first == 250 * i && sent[i].second == sent[0].second) << i;
    for (uint8_t ack : {1, 2}) {
        sent.clear();
        module.OnFrame(BuildPureAck(ack), now);
        module.Tick(now);
        const Bytes next = ack == 1 ? Bytes{6} : Bytes{};
        ASSERT_EQ(sent.size(), next.size());
        if (ack == 1) {
            EXPECT_TRUE(DecodeFrame(sent[0].second).seq == 1 && DecodeFrame(sent[0].second).payload == next);
        }
    }
    EXPECT_TRUE(module.Idle());
}

}  // namespace
}  // namespace kzsim
