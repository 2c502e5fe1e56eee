// The simulator's link behaviour as a host sees it on the pty, where the
// library on the other end would not show it: statuses it is told to give,
// what it leaves unconfirmed, its own retransmissions, duplicates, a host
// that restarts, and the line's pace. Link-up, module-ready, wrapping
// numbers and noise are proven by the system and reliability suites.
#include <gtest/gtest.h>

#include "channel/module_ids.h"
#include "module_simulator.h"
#include "phone.h"
#include "test_host.h"

namespace kzsim {
namespace {

using test::TestHost;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kWait = 3000;

Bytes Request(uint16_t id, uint8_t cls, Bytes params = {}) {
    return BuildModuleMessage(id, cls, params);
}

class ModuleLinkTest : public ::testing::Test {
protected:
    void StartSim(Options o = {}) {
        sim_ = std::make_unique<ModuleSimulator>(o);
        ASSERT_TRUE(sim_->Start());
        host_ = std::make_unique<TestHost>(sim_->DevicePath());
        ASSERT_TRUE(host_->ok());
    }
    // Link up and the module-ready indication received and acknowledged.
    void BringUp() {
        ASSERT_TRUE(host_->WaitLinkUp(kWait));
        ASSERT_TRUE(host_->WaitReliable(1, kWait));
        ASSERT_TRUE(sim_->WaitOutgoingIdle(kWait));
    }
    void TearDown() override {
        host_.reset();
        if (sim_) sim_->Stop();
    }
    std::unique_ptr<ModuleSimulator> sim_;
    std::unique_ptr<TestHost> host_;
};

TEST_F(ModuleLinkTest, Requests_ConfirmedWithSameIdAndSetStatus) {
    StartSim();
    BringUp();
    sim_->SetConfirmStatus(6, 9);
    host_->SendNext(Request(5, 1, {2, 0, 10, 0}));
    host_->SendNext(Request(6, 1, {1, 0}));
    ASSERT_TRUE(host_->WaitReliable(3, kWait));
    const auto r = host_->Reliable();
    EXPECT_EQ(r[1].packet.payload, (Bytes{0x04, 0x00, 0x55, 0x01, 0x05, 0x00, 0x00, 0x00}));
    EXPECT_EQ(r[2].packet.payload, (Bytes{0x04, 0x00, 0x55, 0x01, 0x06, 0x00, 0x09, 0x00}));
    ASSERT_TRUE(sim_->WaitForMessage(kz::msgid::kSetOption6, kWait));
    const auto got = sim_->Received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].id, 5);
    EXPECT_EQ(got[0].bytes, Request(5, 1, {2, 0, 10, 0}));
    EXPECT_TRUE(got[1].reliable);
}

TEST_F(ModuleLinkTest, Requests_ResponsesAndIndicationRepliesAreNotConfirmed) {
    StartSim();
    BringUp();
    host_->SendNext(Bytes{0x03, 0x00, 0x55, 0x02, 0x30, 0x00});          // RES for IND 48
    host_->SendNext(Request(61, 2, {1, 2, 3, 4, 5, 6, 0, 4, '1', '2', '3', '4'}));  // PIN reply
    host_->SendNext(Request(88, 2));                                      // 6-byte request
    ASSERT_TRUE(host_->WaitReliable(2, kWait));
    host_->Pump(300);
    const auto r = host_->Reliable();
    ASSERT_EQ(r.size(), 2u);   // module-ready, then only the CFM of 88
    EXPECT_EQ(MessageId(r[1].packet.payload), 88);
    EXPECT_EQ(sim_->Received().size(), 3u);
}

TEST_F(ModuleLinkTest, Sequence_RepeatedHostPacketIsAcknowledgedNotRedelivered) {
    StartSim();
    BringUp();
    host_->SendReliable(Request(5, 1, {1, 0}), 0);
    ASSERT_TRUE(host_->WaitReliable(2, kWait));
    const size_t before = host_->packets.size();
    host_->SendReliable(Request(5, 1, {1, 0}), 0);   // the host repeats it
    ASSERT_TRUE(host_->PumpUntil([&] { return host_->packets.size() > before; }, kWait));
    const auto& ack = host_->packets.back().packet;
    EXPECT_FALSE(ack.reliable);
    EXPECT_EQ(ack.ack, 1);   // still expects number 1
    EXPECT_EQ(sim_->Received().size(), 1u);
    EXPECT_EQ(sim_->Stats().duplicatesIn, 1u);
}

TEST_F(ModuleLinkTest, Retransmission_UnacknowledgedPacketRepeatsEvery250Ms) {
    StartSim();
    host_->ackReliable = false;
    ASSERT_TRUE(host_->WaitLinkUp(kWait));
    ASSERT_TRUE(host_->WaitReliable(4, kWait));
    const auto r = host_->Reliable();
    for (size_t i = 1; i < r.size(); ++i) {
        EXPECT_EQ(r[i].frame, r[0].frame);   // same packet, same number
        const uint32_t gap = r[i].atMs - r[i - 1].atMs;
        EXPECT_GE(gap, 200u);
        EXPECT_LE(gap, 400u);
    }
    host_->SendAck();
    ASSERT_TRUE(sim_->WaitOutgoingIdle(kWait));
    const size_t count = host_->Reliable().size();
    host_->Pump(400);
    EXPECT_EQ(host_->Reliable().size(), count);
}

TEST_F(ModuleLinkTest, Retransmission_QueuedPacketsWaitForTheAcknowledgement) {
    StartSim();
    BringUp();
    host_->ackReliable = false;
    sim_->SendIndication(kz::msgid::kHfpIndicator, {4, 3});
    sim_->SendIndication(kz::msgid::kHfpIndicator, {6, 2});
    ASSERT_TRUE(host_->WaitReliable(2, kWait));
    host_->Pump(100);
    EXPECT_EQ(host_->Reliable().size(), 2u);   // the second waits
    host_->SendAck();
    ASSERT_TRUE(host_->WaitReliable(3, kWait));
    const auto r = host_->Reliable();
    EXPECT_EQ(r[2].packet.seq, 2);
    EXPECT_EQ(r[2].packet.payload[6], 6);
}

TEST_F(ModuleLinkTest, PeerReset_HostSyncWhileUpRestartsTheModuleLink) {
    StartSim();
    BringUp();
    host_->state = TestHost::State::Shy;   // the host restarted
    host_->txSeq = host_->rxAck = 0;
    host_->SendLink(0);
    ASSERT_TRUE(host_->WaitLinkUp(kWait));
    ASSERT_TRUE(sim_->WaitLinkUp(kWait));
    EXPECT_EQ(sim_->Stats().peerResets, 1u);
    host_->SendNext(Request(5, 1, {1, 0}));
    ASSERT_TRUE(sim_->WaitForMessage(kz::msgid::kSetLevel, kWait));
}



// One timing test: with pacing, a frame takes its bytes' line time.
TEST_F(ModuleLinkTest, Pacing_FrameTakesItsLineTime) {
    Options o;
    o.pace = true;
    StartSim(o);
    BringUp();
    const Bytes params(500, 0x11);
    const auto sentAt = host_->NowMs();
    sim_->SendIndication(kz::msgid::kPbapData, params);
    ASSERT_TRUE(host_->WaitReliable(2, kWait));
    const uint32_t elapsed = host_->Reliable()[1].atMs - sentAt;
    const uint32_t expected = static_cast<uint32_t>(host_->Reliable()[1].frame.size() * 11 * 1000 / 115200);
    EXPECT_GE(elapsed + 2, expected);          // not faster than the line
    EXPECT_LE(elapsed, expected * 2 + 50);     // and not much slower
}

}  // namespace
}  // namespace kzsim
