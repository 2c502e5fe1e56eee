// The link engine on the receive thread's side: establishment, acknowledgement
// and sequencing, peer reset, what a rejected frame produces; and the
// receive thread's poll switch.
#include <gtest/gtest.h>

#include <cstdlib>

#include "link/bcsp_link.h"
#include "link/bcsp_packet.h"
#include "support/link_fixture.h"

namespace {

using namespace kz;
using namespace kztest;
using bcsp::kConf, bcsp::kConfResp, bcsp::kSync, bcsp::kSyncResp;

// IND 54 is answered with a RES only: a delivered packet shows as one RES.
const Bytes kInd54 = {0x03, 0x00, 0x55, 0x02, 0x36, 0x00};

std::vector<int> LinkMsgs(const std::vector<ParsedFrame>& frames) {
    std::vector<int> out;
    for (const auto& f : frames) out.push_back(MatchLinkMsg(f.payload.data(), f.payload.size()));
    return out;
}

using BcspLink = LinkUpTest;

// Up once, and a conf while up is answered without changing anything.
TEST_F(BcspLink, Establishment_AnswersTheModuleAndComesUpOnce) {
    ResetAllState();
    std::vector<uint8_t> flags;
    for (int m : {kSync, kSyncResp, kSync, kConf, kConfResp}) flags.push_back(Feed(LinkMsgFrame(m)));
    EXPECT_EQ(flags, (std::vector<uint8_t>{0, 0, 0, 0, BCSP_ACT_ACKED}));
    for (const auto& f : wire.Parsed()) EXPECT_EQ(f.header[0], 0x40);   // unreliable, numbers 0
    ubcsp_config.ack_number = 4;
    EXPECT_EQ(Feed(LinkMsgFrame(kConf)), 0);
    EXPECT_EQ(LinkMsgs(wire.Parsed()), (std::vector<int>{kSync, kConf, kSyncResp, kConf, kConfResp, kConfResp}));
    EXPECT_TRUE(ubcsp_config.link_establishment_state == kGarrulous && ubcsp_config.ack_number == 4);
}

TEST_F(BcspLink, PeerReset_SyncWhileGarrulousRestartsTheLink) {
    ubcsp_config.sequence_number = 3;
    ubcsp_config.ack_number = 5;
    ubcsp_config.awaiting_ack = 1;
    EXPECT_EQ(Feed(LinkMsgFrame(kSync)), BCSP_ACT_PEER_RESET);
    EXPECT_TRUE(ubcsp_config.sequence_number == 0 && ubcsp_config.ack_number == 0 && ubcsp_config.awaiting_ack == 0 &&
                ubcsp_config.link_establishment_state == kShy);
    EXPECT_EQ(LinkMsgs(wire.Parsed()), (std::vector<int>{kSync}));
    // Until the handshake is done again, data packets get no answer at all.
    wire.Clear();
    EXPECT_EQ(Feed(ModuleFrame(0, 0, true, bcsp::kChannelModule, kInd54)), 0);
    EXPECT_TRUE(wire.Frames().empty());
    EXPECT_EQ(ubcsp_config.ack_number, 0);
}

TEST_F(BcspLink, Sending_HeaderWhoseLengthDisagreesIsNotWritten) {
    uint8_t header[4] = {0xC0, 0xED, 0x00, 0x00};   // says 14 bytes
    BcspSendPacket(header, kInd54.data(), 6);
    EXPECT_EQ(ubcsp_config.awaiting_ack, 0);
    EXPECT_TRUE(wire.Frames().empty());
}

// What one frame from the module brings, with the library expecting number 3:
// the flags, the pure acknowledgement written (its number, or none) and
// whether the message reached the event side.
TEST_F(BcspLink, ReceivedFrame_AcknowledgedAndDeliveredOnlyWhenReliableInSequenceAndWhole) {
    const Bytes good = ModuleFrame(3, 0, true, bcsp::kChannelModule, kInd54);
    Bytes checksum = good, crc = good, truncated = good;
    checksum[2] ^= 0x01;
    crc[7] ^= 0x01;
    truncated.erase(truncated.begin() + 6);
    // ack: the pure acknowledgement's number, -1 none.
    const struct { const char* what; Bytes frame; uint8_t flags; int ack; bool delivered; } cases[] = {
        {"reliable in sequence", good, BCSP_ACT_RECEIVED | BCSP_ACT_RELIABLE, 4, true},
        {"out of sequence", ModuleFrame(2, 0, true, bcsp::kChannelModule, kInd54), 0, 3, false},
        {"unreliable on the module channel", ModuleFrame(3, 0, false, bcsp::kChannelModule, kInd54),
         BCSP_ACT_RECEIVED, -1, false},
        {"header checksum", checksum, 0, 3, false},
        {"crc", crc, 0, 3, false},
        {"truncated", truncated, 0, 3, false},
        {"oversized", ModuleFrame(3, 0, true, bcsp::kChannelModule, Bytes(600, 0x11)), 0, 3, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetAllState();
        EstablishLink();
        ubcsp_config.ack_number = 3;
        SubmitRecorder sent;
        wire.Clear();
        EXPECT_EQ(Feed(c.frame), c.flags);
        const auto frames = wire.Parsed();
        ASSERT_EQ(frames.size(), c.ack < 0 ? 0u : 1u);
        if (c.ack >= 0) {
            const auto& h = frames[0].header;   // unreliable, channel 0, nothing carried
            EXPECT_TRUE(frames[0].valid && h[0] == 0x40 + (c.ack << 3) && h[1] == 0 && h[2] == 0) << int(h[0]);
        }
        EXPECT_EQ(ubcsp_config.ack_number, c.delivered ? 4 : 3);
        EXPECT_TRUE(sent.Messages().size() == c.delivered && (!c.delivered || sent.Messages()[0].bytes == kInd54));
    }
}

// Only a sane interval turns the fixed-period poll on; anything else keeps
// the wait for input.
TEST(RecvPollInterval, OnlySaneValuesSwitchPollingOn) {
    const std::pair<const char*, uint32_t> cases[] = {
        {nullptr, 0}, {"15", 15}, {"1", 1}, {"1000", 1000}, {"0", 0}, {"-15", 0}, {"1001", 0}, {"abc", 0}, {"", 0},
    };
    for (const auto& [value, expected] : cases) {
        value ? setenv(kRecvPollEnv, value, 1) : unsetenv(kRecvPollEnv);
        EXPECT_EQ(RecvPollIntervalMs(), expected) << (value ? value : "(unset)");
    }
    unsetenv(kRecvPollEnv);
}

}  // namespace
