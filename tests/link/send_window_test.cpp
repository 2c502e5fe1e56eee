// The send window, frame by frame: one reliable packet on the line, strict
// acknowledgement, packets held in order, and the packet in doubt after a
// give-up (sent again when the module shows it never had it, together with
// the command queue's state when it was a request).
#include <gtest/gtest.h>

#include "channel/command_queue.h"
#include "link/bcsp_codec.h"
#include "link/bcsp_link.h"
#include "link/send_window.h"
#include "support/library_on_sim.h"
#include "support/link_fixture.h"
#include "support/link_support.h"
#include "support/test_support.h"

namespace {

using namespace kz;
using namespace kztest;

void Reply(uint16_t id) { SubmitTestRequest(id, kSubmitReply); }
void Request(uint16_t id) { SubmitTestRequest(id, kSubmitQueued); }

// The module's acknowledgement: the number it expects next.
uint8_t ModuleExpects(uint8_t n) { return Feed(ModuleFrame(0, n, false, 0, {})) & BCSP_ACT_ACKED; }

void GiveUp() { GiveUpOutstanding(); }

struct Sent {
    uint16_t id;
    uint8_t seq;
    bool operator==(const Sent&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Sent& s) {
    return o << "{id " << s.id << ", seq " << int(s.seq) << "}";
}

class SendWindow : public LinkUpTest {
protected:
    // Reliable frames written since the last call.
    std::vector<Sent> Written() {
        std::vector<Sent> out;
        for (const auto& f : wire.Parsed())
            if (f.reliable()) out.push_back({f.id(), f.seq()});
        wire.Clear();
        return out;
    }
};

TEST_F(SendWindow, SecondPacketWaitsForTheFirstsAcknowledgement) {
    Reply(0x36);
    Reply(0x37);
    Reply(0x38);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x36, 0}}));
    EXPECT_EQ(WindowHeldCount(), 2u);

    // Only the number after the packet's own acknowledges it.
    EXPECT_EQ(ModuleExpects(0), 0);
    EXPECT_EQ(ModuleExpects(5), 0);
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(ubcsp_config.awaiting_ack, 1);

    EXPECT_EQ(ModuleExpects(1), BCSP_ACT_ACKED);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x37, 1}}));
    EXPECT_EQ(ModuleExpects(2), BCSP_ACT_ACKED);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x38, 2}}));
    EXPECT_EQ(ModuleExpects(3), BCSP_ACT_ACKED);
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(WindowHeldCount(), 0u);
    EXPECT_EQ(ubcsp_config.send_packet.load(), nullptr);
}

TEST_F(SendWindow, Retransmission_CarriesTheAcknowledgementOfNow) {
    Reply(0x36);
    ASSERT_EQ(wire.Parsed().back().ack(), 0);
    // Eight packets from the module meanwhile: an old acknowledgement (0)
    // would now acknowledge the ninth, which the library has not yet had.
    for (uint8_t seq = 0; seq < 8; ++seq)
        Feed(ModuleFrame(seq, 0, true, bcsp::kChannelModule, {0x03, 0x00, 0x55, 0x02, 0x71, 0x00}));
    ASSERT_EQ(ubcsp_config.ack_number, 0);
    Feed(ModuleFrame(0, 0, true, bcsp::kChannelModule, {0x03, 0x00, 0x55, 0x02, 0x71, 0x00}));
    wire.Clear();
    ASSERT_TRUE(WindowRetransmit());
    const auto again = wire.Parsed();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].id(), 0x36);
    EXPECT_EQ(again[0].seq(), 0);
    EXPECT_EQ(again[0].ack(), 1);
}

TEST_F(SendWindow, NothingOutstanding_NothingIsRetransmitted) {
    Reply(0x36);
    ModuleExpects(1);
    wire.Clear();
    EXPECT_FALSE(WindowRetransmit());
    EXPECT_TRUE(wire.Frames().empty());
}

TEST_F(SendWindow, GivenUpPacketTheModuleHad_NextNumberIsAccepted) {
    Reply(0x36);
    GiveUp();
    EXPECT_TRUE(WindowInDoubt());
    Reply(0x37);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x36, 0}, {0x37, 1}}));
    EXPECT_EQ(ModuleExpects(2), BCSP_ACT_ACKED);   // it had both
    EXPECT_FALSE(WindowInDoubt());
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(g_LinkCounters.recovered, 0u);
}

TEST_F(SendWindow, GivenUpPacketTheModuleNeverHad_GoesAgainAheadOfTheNext) {
    Reply(0x36);
    GiveUp();
    Reply(0x37);
    Reply(0x38);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x36, 0}, {0x37, 1}}));

    // The module dropped 0x37 (out of sequence): it still expects 0.
    EXPECT_EQ(ModuleExpects(0), 0);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x36, 0}}));
    EXPECT_EQ(g_LinkCounters.recovered, 1u);
    EXPECT_EQ(ModuleExpects(1), BCSP_ACT_ACKED);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x37, 1}}));
    EXPECT_EQ(ModuleExpects(2), BCSP_ACT_ACKED);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x38, 2}}));
}

TEST_F(SendWindow, ModuleHeardFromAfterAGiveUp_SettlesBeforeAnythingIsSent) {
    Reply(0x36);
    GiveUp();
    // e.g. on its confirmation: it had the packet, which counts as the
    // acknowledgement of the last packet sent
    EXPECT_EQ(ModuleExpects(1), BCSP_ACT_ACKED);
    EXPECT_FALSE(WindowInDoubt());
    Reply(0x37);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x36, 0}, {0x37, 1}}));

    GiveUp();
    ModuleExpects(1);   // this time it had not: sent again at once
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x37, 1}}));
    EXPECT_EQ(ModuleExpects(2), BCSP_ACT_ACKED);
}

TEST_F(SendWindow, TwoGiveUpsUnanswered_BothGoAgainInOrder) {
    Reply(0x36);
    GiveUp();
    Reply(0x37);
    GiveUp();
    Reply(0x38);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x36, 0}, {0x37, 1}, {0x38, 2}}));
    ModuleExpects(0);   // it had none of them
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x36, 0}}));
    EXPECT_EQ(ModuleExpects(1), BCSP_ACT_ACKED);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x37, 1}}));
    EXPECT_EQ(ModuleExpects(2), BCSP_ACT_ACKED);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x38, 2}}));
    EXPECT_EQ(g_LinkCounters.recovered, 2u);
}

TEST_F(SendWindow, TwoGiveUpsTheModuleHadTheFirstOf_OnlyTheSecondGoesAgain) {
    Reply(0x36);
    GiveUp();
    Reply(0x37);
    GiveUp();
    Written();
    ModuleExpects(1);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x37, 1}}));
    EXPECT_EQ(ModuleExpects(2), BCSP_ACT_ACKED);
    EXPECT_EQ(g_LinkCounters.recovered, 1u);
}

TEST_F(SendWindow, IdleLineWithPacketsInDoubt_TheOldestIsOfferedUnderItsOwnNumber) {
    Reply(0x36);
    GiveUp();
    Reply(0x37);
    GiveUp();
    Written();
    ASSERT_TRUE(WindowOfferInDoubt());
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x36, 0}}));
    EXPECT_EQ(ubcsp_config.sequence_number, 2);
    EXPECT_EQ(ubcsp_config.awaiting_ack, 0);
    ModuleExpects(1);   // it took 0x36 now; 0x37 goes again
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x37, 1}}));
    EXPECT_FALSE(WindowOfferInDoubt());   // something is on the line
    EXPECT_EQ(ModuleExpects(2), BCSP_ACT_ACKED);
    EXPECT_FALSE(WindowInDoubt());
    EXPECT_FALSE(WindowOfferInDoubt());
    EXPECT_TRUE(Written().empty());
}

TEST_F(SendWindow, OfferedPacketTheModuleHad_SettlesWithNothingSentAgain) {
    Reply(0x36);
    GiveUp();
    Written();
    ASSERT_TRUE(WindowOfferInDoubt());
    Written();
    ModuleExpects(1);   // a repeat for the module: dropped and acknowledged
    EXPECT_FALSE(WindowInDoubt());
    EXPECT_TRUE(Written().empty());
    Reply(0x37);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x37, 1}}));
}

TEST_F(SendWindow, GivenUpRequestTheModuleNeverHad_RequestsKeepTheirOrder) {
    Request(3);
    Request(5);
    Request(6);
    EXPECT_EQ(Written(), (std::vector<Sent>{{3, 0}}));
    GiveUp();   // request 3 passed over: 5 goes out
    EXPECT_EQ(Written(), (std::vector<Sent>{{5, 1}}));
    EXPECT_EQ(CmdListSize(), 1u);

    ModuleExpects(0);   // it has neither 3 nor 5
    EXPECT_EQ(Written(), (std::vector<Sent>{{3, 0}}));
    EXPECT_EQ(CmdListSize(), 2u);   // 5 waits again, ahead of 6
    EXPECT_EQ(g_bCfmForTheLastREQ, 0);
    EXPECT_EQ(ModuleExpects(1), BCSP_ACT_ACKED);
    EXPECT_TRUE(Written().empty());   // acknowledged, not yet confirmed

    SendNextCmd();   // the confirmation of 3
    EXPECT_EQ(Written(), (std::vector<Sent>{{5, 1}}));
    ModuleExpects(2);
    SendNextCmd();
    EXPECT_EQ(Written(), (std::vector<Sent>{{6, 2}}));
}

TEST_F(SendWindow, TwoRequestsGivenUpInARow_TheFirstAwaitsItsConfirmationTheRestQueue) {
    Request(3);
    Request(5);
    Request(6);
    Request(9);
    GiveUp();   // 3 passed over: 5 goes out
    GiveUp();   // 5 passed over: 6 goes out
    EXPECT_EQ(Written(), (std::vector<Sent>{{3, 0}, {5, 1}, {6, 2}}));
    ModuleExpects(0);
    EXPECT_EQ(Written(), (std::vector<Sent>{{3, 0}}));
    EXPECT_EQ(CmdListSize(), 3u);   // 5, 6, 9
    EXPECT_EQ(g_bCfmForTheLastREQ, 0);
    ModuleExpects(1);
    for (uint16_t id : {5, 6, 9}) {
        SendNextCmd();   // the confirmation of the one before
        const auto w = Written();
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(w[0].id, id);
        ModuleExpects(static_cast<uint8_t>(w[0].seq + 1));
    }
    EXPECT_EQ(CmdListSize(), 0u);
}

TEST_F(SendWindow, GivenUpRequestWithNothingQueued_AwaitsItsConfirmationAgain) {
    Request(3);
    GiveUp();
    EXPECT_EQ(g_bCfmForTheLastREQ, 1);   // passed over, the channel counts as free
    Written();
    ModuleExpects(0);
    EXPECT_EQ(Written(), (std::vector<Sent>{{3, 0}}));
    EXPECT_EQ(g_bCfmForTheLastREQ, 0);
    Request(5);
    EXPECT_EQ(CmdListSize(), 1u);
}

TEST_F(SendWindow, GivenUpReply_DoesNotPassOverTheRequestAwaitingConfirmation) {
    Request(3);
    ModuleExpects(1);
    Request(5);
    Reply(0x36);
    Written();
    GiveUp();
    EXPECT_EQ(CmdListSize(), 1u);
    EXPECT_EQ(g_bCfmForTheLastREQ, 0);
    EXPECT_TRUE(Written().empty());
}

TEST_F(SendWindow, RequestWaitingOnlyForAGivenUpReply_GoesAtTheGiveUp) {
    Reply(0x36);
    Request(3);   // no request awaits a confirmation; only the window is busy
    EXPECT_EQ(CmdListSize(), 1u);
    Written();
    GiveUp();
    EXPECT_EQ(Written(), (std::vector<Sent>{{3, 1}}));
    EXPECT_EQ(CmdListSize(), 0u);
    EXPECT_EQ(g_bCfmForTheLastREQ, 0);
}

TEST_F(SendWindow, StartAfterAClose_CutOffPacketInDoubtWaitingOnesDropped) {
    Reply(0x36);
    Reply(0x37);
    Written();
    WindowRestart();
    EXPECT_EQ(ubcsp_config.awaiting_ack, 0);
    EXPECT_EQ(WindowHeldCount(), 0u);
    Reply(0x38);   // the new session's first packet is not held up
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x38, 1}}));
    ModuleExpects(0);   // the module never had the cut-off one
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x36, 0}}));
    EXPECT_EQ(ModuleExpects(1), BCSP_ACT_ACKED);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x38, 1}}));
}

TEST_F(SendWindow, PeerReset_DropsWhatWasHeldAndInDoubt) {
    Reply(0x36);
    Reply(0x37);
    GiveUp();   // 0x37 goes out, 0x36 in doubt
    Reply(0x38);
    EXPECT_EQ(Feed(LinkMsgFrame(bcsp::kSync)), BCSP_ACT_PEER_RESET);
    EXPECT_EQ(WindowHeldCount(), 0u);
    EXPECT_FALSE(WindowInDoubt());
    EXPECT_EQ(ubcsp_config.sequence_number, 0);
    EXPECT_EQ(ubcsp_config.send_packet.load(), nullptr);
}

TEST_F(SendWindow, LinkMessageWhileOutstanding_PacketInDoubtAndSettledByTheNextAck) {
    Reply(0x36);
    Reply(0x37);
    Written();
    Feed(LinkMsgFrame(bcsp::kConf));   // the module is still in its handshake
    EXPECT_EQ(ubcsp_config.awaiting_ack, 1);   // 0x37 went out
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x37, 1}}));
    ModuleExpects(0);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x36, 0}}));
    EXPECT_EQ(ModuleExpects(1), BCSP_ACT_ACKED);
    EXPECT_EQ(Written(), (std::vector<Sent>{{0x37, 1}}));
}

// Six in doubt: the module may expect any of seven numbers, so nothing new
// is numbered (its acknowledgement would alias the oldest) until the module
// says where it stands; then every packet goes once and in order.
TEST_F(SendWindow, SevenGiveUpsInARow_NoNumberAliasesTheModulesPosition) {
    std::vector<Sent> firstTry;
    for (uint16_t id = 0x40; id < 0x47; ++id) {
        Reply(id);
        GiveUp();
        if (id < 0x46) firstTry.push_back({id, static_cast<uint8_t>(id - 0x40)});
    }
    Reply(0x47);
    EXPECT_EQ(Written(), firstTry);
    EXPECT_EQ(WindowHeldCount(), 2u);

    EXPECT_EQ(ModuleExpects(0), 0);   // it had none of them
    for (uint8_t seq = 0; seq < 8; ++seq) {
        EXPECT_EQ(Written(), (std::vector<Sent>{{static_cast<uint16_t>(0x40 + seq), seq}}));
        EXPECT_EQ(ModuleExpects(static_cast<uint8_t>((seq + 1) & 7)), BCSP_ACT_ACKED);
    }
    EXPECT_TRUE(Written().empty());
}

// Past its bound a packet is never written again: not offered, not sent
// again when the module turns out never to have had it; its number goes to
// the next packet. A waiting request past its bound lets the queue go on.
TEST_F(SendWindow, PastItsBound_NeverWrittenAgainItsNumberReused) {
    SetDeliveryBoundForTest(1);
    Request(3);
    GiveUp();
    Reply(0x36);   // one more in doubt, then one waiting while six are
    GiveUp();
    for (int i = 0; i < 4; ++i) {
        Reply(0x37);
        GiveUp();
    }
    Request(5);   // waits: six in doubt
    SetDeliveryBoundForTest(0);
    Request(6);   // queued behind 5 with the default bound
    KzSleep(5);
    Written();
    EXPECT_TRUE(WindowDropExpired());   // 5 dropped: the queue goes on
    EXPECT_EQ(WindowHeldCount(), 0u);
    EXPECT_FALSE(WindowOfferInDoubt());   // nothing left that an answer would help
    SendNextCmdIf(false);
    EXPECT_EQ(WindowHeldCount(), 1u);   // 6, within its bound
    ASSERT_TRUE(WindowOfferInDoubt());  // asks where the module stands
    const auto offer = wire.Parsed();
    ASSERT_EQ(offer.size(), 1u);
    EXPECT_EQ(offer[0].seq(), 7);   // a number it had: dropped as a repeat
    wire.Clear();
    ModuleExpects(0);   // it never had any of them
    EXPECT_EQ(Written(), (std::vector<Sent>{{6, 0}}));
    EXPECT_EQ(g_LinkCounters.droppedForGood, 7u);
    EXPECT_EQ(ModuleExpects(1), BCSP_ACT_ACKED);
}

}  // namespace
