// The command queue: one request at a time, released by its confirmation,
// by a link acknowledgement while nothing awaits confirmation, or by a
// give-up. Frames are observed on the port through the UART tap.
#include "channel/command_queue.h"
#include "channel/module_message.h"
#include "link/bcsp_link.h"
#include "link/send_window.h"
#include "support/library_on_sim.h"
#include "support/link_fixture.h"

namespace {

using namespace kz;
using namespace kztest;

void Submit(uint16_t id, uint32_t mode = kSubmitQueued) { SubmitTestRequest(id, mode); }
// The module acknowledges everything up to now.
void ModuleAcks() { Feed(ModuleFrame(0, (ubcsp_config.sequence_number + 1) & 7, false, 0, {})); }

class CommandQueue : public LinkUpTest {
protected:
    std::vector<uint16_t> SentIds() const {
        std::vector<uint16_t> ids;
        for (const auto& f : wire.Parsed())
            if (f.reliable()) ids.push_back(f.id());
        return ids;
    }
};

TEST_F(CommandQueue, OneAtATime_TheNextGoesOnTheConfirmationNotOnTheAck) {
    for (uint16_t id : {3, 5, 6}) Submit(id);
    EXPECT_EQ(SentIds(), (std::vector<uint16_t>{3}));
    EXPECT_EQ(g_bCfmForTheLastREQ, 0);
    EXPECT_EQ(CmdListSize(), 2u);
    for (int i = 0; i < 3; ++i) ModuleAcks();   // acknowledged but not confirmed: nothing moves
    EXPECT_EQ(SentIds(), (std::vector<uint16_t>{3}));

    SendNextCmd();   // the confirmation of 3
    EXPECT_EQ(SentIds(), (std::vector<uint16_t>{3, 5}));
    EXPECT_EQ(g_bCfmForTheLastREQ, 0);
    EXPECT_EQ(CmdListSize(), 1u);
    ModuleAcks();
    SendNextCmd();
    ModuleAcks();
    wire.Clear();
    SendNextCmd();   // the confirmation of 6 finds the list empty
    EXPECT_TRUE(wire.Frames().empty());
    EXPECT_EQ(g_bCfmForTheLastREQ, 1);
}

TEST_F(CommandQueue, UnacknowledgedReply_HoldsARequestUntilTheAck) {
    Submit(0x36, kSubmitReply);   // a reply to an indication
    Submit(3);
    EXPECT_EQ(SentIds(), (std::vector<uint16_t>{0x36}));
    EXPECT_EQ(g_bCfmForTheLastREQ, 1);   // replies never touch the flag
    ModuleAcks();
    EXPECT_EQ(SentIds(), (std::vector<uint16_t>{0x36, 3}));
    EXPECT_EQ(g_bCfmForTheLastREQ, 0);
}

TEST_F(CommandQueue, RequestsLeftWaiting_KeepTheirOrderWhenTheChannelFrees) {
    // A reply that the link gave up leaves the flag true and requests queued;
    // the next request does not overtake them.
    Submit(0x36, kSubmitReply);
    Submit(3);
    GiveUpOutstanding();   // the reply: not a request, so nothing is passed over
    Submit(5);
    EXPECT_EQ(SentIds(), (std::vector<uint16_t>{0x36, 3}));
    EXPECT_EQ(CmdListSize(), 1u);
}

TEST_F(CommandQueue, Refusals_NothingIsWrittenPastTheLimits) {
    Bytes big(300, 0);
    msg::WriteHead(big.data(), big.size(), 1, 9);
    uint8_t header[4];
    msg::ModuleHeaderTemplate(header, big.size());
    SubmitPacket(header, big.data(), static_cast<uint32_t>(big.size()), kSubmitQueued);
    EXPECT_TRUE(wire.Frames().empty());
    EXPECT_EQ(g_bCfmForTheLastREQ, 1);

    // A template that disagrees with the length: dropped, but counted as sent.
    const Bytes m = TestRequest(3);
    uint8_t wrong[4] = {0xC0, 0xED, 0x00, 0x00};
    SubmitPacket(wrong, m.data(), static_cast<uint32_t>(m.size()), kSubmitQueued);
    EXPECT_TRUE(wire.Frames().empty());
    EXPECT_EQ(g_bCfmForTheLastREQ, 0);
}

}  // namespace
