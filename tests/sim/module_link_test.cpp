// What the library's tests rely on the simulator's link for, where a fault
// would let them pass without testing anything: the module retransmits, one
// packet at a time, and takes a frame's line time when paced. (Faults that
// make the library's tests fail, in confirmations, duplicates or restarts,
// show there.)
#include <gtest/gtest.h>

#include "channel/module_ids.h"
#include "module_simulator.h"
#include "test_host.h"

namespace kzsim {
namespace {

using test::TestHost;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kWait = 3000;

class ModuleLinkTest : public ::testing::Test {
protected:
    // Link up; with ack, the module-ready indication received and acknowledged.
    void StartSim(Options o = {}, bool ack = true) {
        sim_ = std::make_unique<ModuleSimulator>(o);
        ASSERT_TRUE(sim_->Start());
        host_ = std::make_unique<TestHost>(sim_->DevicePath());
        host_->link().SetAcknowledge(ack);
        ASSERT_TRUE(host_->ok() && host_->WaitLinkUp(kWait) && host_->WaitReliable(1, kWait));
        ASSERT_TRUE(!ack || sim_->WaitOutgoingIdle(kWait));
    }
    void TearDown() override {
        host_.reset();
        if (sim_) sim_->Stop();
    }
    std::unique_ptr<ModuleSimulator> sim_;
    std::unique_ptr<TestHost> host_;
};

// Unacknowledged, the same frame goes again every 250 ms and what is queued
// behind it waits; each acknowledgement lets the next one go.
TEST_F(ModuleLinkTest, Retransmission_OnePacketEvery250MsUntilAcknowledged) {
    StartSim({}, false);
    sim_->SendIndication(kz::msgid::kHfpIndicator, {4, 3});
    sim_->SendIndication(kz::msgid::kHfpIndicator, {6, 2});
    ASSERT_TRUE(host_->WaitReliable(3, kWait));
    auto r = host_->Reliable();
    for (size_t i = 1; i < r.size(); ++i) {
        EXPECT_EQ(r[i].frame, r[0].frame);
        EXPECT_GE(r[i].atMs - r[i - 1].atMs, 200u);
        EXPECT_LE(r[i].atMs - r[i - 1].atMs, 400u);
    }
    for (uint8_t ack : {1, 2}) {
        host_->Write(BuildPureAck(ack));
        ASSERT_TRUE(host_->PumpUntil([&] { return host_->Reliable().back().packet.seq == ack; }, kWait));
        EXPECT_EQ(host_->Reliable().back().packet.payload.at(6), ack == 1 ? 4 : 6);
    }
}

// With pacing, a frame takes its bytes' line time.
TEST_F(ModuleLinkTest, Pacing_FrameTakesItsLineTime) {
    Options o;
    o.pace = true;
    StartSim(o);
    const auto sentAt = host_->NowMs();
    sim_->SendIndication(kz::msgid::kPbapData, Bytes(500, 0x11));
    ASSERT_TRUE(host_->WaitReliable(2, kWait));
    const uint32_t elapsed = host_->Reliable()[1].atMs - sentAt;
    const uint32_t expected = static_cast<uint32_t>(host_->Reliable()[1].frame.size() * 11 * 1000 / 115200);
    EXPECT_GE(elapsed + 2, expected);        // not faster than the line
    EXPECT_LE(elapsed, expected * 2 + 50);   // and not much slower
}

}  // namespace
}  // namespace kzsim
