// The simulator's link behaviour as a host sees it on the pty.
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

TEST_F(ModuleLinkTest, Establishment_ModuleStartsAndHostOnlyAnswers) {
    StartSim();
    ASSERT_TRUE(host_->WaitLinkUp(kWait));
    ASSERT_TRUE(sim_->WaitLinkUp(kWait));
    // sync, sync-resp, sync, conf, conf-resp from the module; the host's
    // answers sync, conf, sync-resp, conf, conf-resp.
    EXPECT_EQ(host_->ModuleLinkMessages(), (Bytes{0, 1, 0, 2, 3}));
    EXPECT_EQ(host_->linkSent, (Bytes{0, 2, 1, 2, 3}));
}

TEST_F(ModuleLinkTest, Establishment_SyncRepeatsUntilAnswered) {
    StartSim();
    host_->answerLink = false;
    host_->Pump(900);
    const auto syncs = host_->ModuleLinkMessages();
    // Every 250 ms from the start: 0, 250, 500, 750 ms (a silent host).
    EXPECT_GE(syncs.size(), 3u);
    EXPECT_LE(syncs.size(), 5u);
    for (uint8_t m : syncs) EXPECT_EQ(m, 0);
    EXPECT_FALSE(sim_->LinkUp());
}

TEST_F(ModuleLinkTest, ModuleReady_SentOnceLinkIsUp) {
    Options o;
    o.version[0] = 0x1A; o.version[1] = 0x2B; o.version[2] = 0x3C; o.version[3] = 0x4D;
    StartSim(o);
    BringUp();
    const auto r = host_->Reliable();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].packet.seq, 0);
    EXPECT_EQ(r[0].packet.channel, 13);
    EXPECT_EQ(r[0].packet.payload,
              (Bytes{0x06, 0x00, 0x55, 0x02, 0x30, 0x00, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x00}));
}

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

TEST_F(ModuleLinkTest, Sequence_WrapsAndEveryPacketIsDeliveredOnce) {
    StartSim();
    BringUp();
    for (int i = 0; i < 12; ++i) {
        host_->SendNext(Request(5, 1, {static_cast<uint8_t>(i), 0}));
        ASSERT_TRUE(host_->WaitReliable(static_cast<size_t>(i) + 2, kWait)) << i;
    }
    const auto r = host_->Reliable();
    for (size_t i = 0; i < r.size(); ++i) {
        EXPECT_EQ(r[i].packet.seq, i % 8) << i;
    }
    // The host's numbers wrapped too, and each was delivered once.
    const auto got = sim_->Received();
    ASSERT_EQ(got.size(), 12u);
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].bytes[6], i);
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

TEST_F(ModuleLinkTest, Acknowledge_OffIgnoresHostPackets) {
    StartSim();
    BringUp();
    sim_->SetAcknowledge(false);
    const size_t before = host_->packets.size();
    host_->SendNext(Request(5, 1, {1, 0}));
    host_->Pump(300);
    EXPECT_EQ(host_->packets.size(), before);
    EXPECT_TRUE(sim_->Received().empty());
    sim_->SetAcknowledge(true);
    host_->SendReliable(Request(5, 1, {1, 0}), 0);   // the host retransmits
    ASSERT_TRUE(sim_->WaitForMessage(kz::msgid::kSetLevel, kWait));
}

TEST_F(ModuleLinkTest, PeerReset_ModuleSyncsAgainAndReportsReady) {
    StartSim();
    BringUp();
    host_->SendNext(Request(5, 1, {1, 0}));
    ASSERT_TRUE(host_->WaitReliable(2, kWait));
    sim_->PeerReset();
    EXPECT_FALSE(sim_->LinkUp());
    // The host sees sync while garrulous, resets itself, and the link comes
    // up again with fresh numbers.
    ASSERT_TRUE(host_->PumpUntil([&] { return host_->state != TestHost::State::Garrulous; }, kWait));
    ASSERT_TRUE(host_->WaitLinkUp(kWait));
    ASSERT_TRUE(host_->WaitReliable(3, kWait));
    const auto r = host_->Reliable();
    EXPECT_EQ(r[2].packet.seq, 0);
    EXPECT_EQ(MessageId(r[2].packet.payload), 48);
    ASSERT_TRUE(sim_->WaitLinkUp(kWait));
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

TEST_F(ModuleLinkTest, Faults_LinkSurvivesANoisyLine) {
    Options o;
    o.seed = 3;
    o.corrupt = 0.002;
    o.drop = 0.002;
    o.duplicate = 0.002;
    StartSim(o);
    ASSERT_TRUE(host_->WaitLinkUp(5000));
    ASSERT_TRUE(sim_->WaitLinkUp(5000));
    // The module's packets get through by retransmission.
    for (int i = 0; i < 20; ++i) sim_->SendIndication(kz::msgid::kHfpIndicator, {4, static_cast<uint8_t>(i % 6)});
    ASSERT_TRUE(host_->PumpUntil([&] { return sim_->WaitOutgoingIdle(1); }, 20000));
    // Each indication reached the host once, in order, despite the noise.
    std::vector<uint8_t> values;
    uint8_t expectSeq = 0;
    for (const auto& p : host_->Reliable()) {
        if (p.packet.seq != expectSeq) continue;   // a retransmission
        expectSeq = static_cast<uint8_t>((expectSeq + 1) & 7);
        if (MessageId(p.packet.payload) == 113) values.push_back(p.packet.payload[7]);
    }
    ASSERT_EQ(values.size(), 20u);
    for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(values[i], i % 6);
}

}  // namespace
}  // namespace kzsim

namespace kzsim {
namespace {

TEST_F(ModuleLinkTest, Phone_AnswersRequestsOverTheLine) {
    StartSim();
    BringUp();
    const Address a = sim_->phone().address();
    Bytes connect{uint8_t{1}, a[0], a[1], a[2], a[3], a[4], a[5], 0x40};
    host_->SendNext(Request(12, 1, connect));
    ASSERT_TRUE(host_->WaitReliable(5, kWait));   // ready, CFM 12, three indicators
    const auto r = host_->Reliable();
    EXPECT_EQ(r[1].packet.payload,
              (Bytes{uint8_t{0x07}, 0x00, 0x55, 0x01, 0x0C, 0x00, 0x00, a[0], a[1], a[2], a[3], a[4], a[5],
                     0x01}));
    EXPECT_EQ(MessageId(r[4].packet.payload), 113);
    sim_->phone().ring("+4912345");
    ASSERT_TRUE(host_->WaitReliable(6, kWait));
    EXPECT_EQ(host_->Reliable()[5].packet.payload,
              (Bytes{0x04, 0x00, 0x55, 0x02, 0x71, 0x00, 0x02, 0x01}));
}

}  // namespace
}  // namespace kzsim

namespace kzsim {
namespace {

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
