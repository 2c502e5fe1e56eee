// The simulator's frame codec against known wire bytes.
#include "sim_codec.h"

#include <gtest/gtest.h>

#include <random>

#include "link/bcsp_codec.h"

namespace kzsim {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(SimCodec_Crc, MatchesKnownValue) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(Crc16(abc, 3), 0x5B86);
}

TEST(SimCodec_Frames, BuildsKnownWireBytes) {
    EXPECT_EQ(BuildPureAck(0), (Bytes{0xC0, 0x40, 0x00, 0x00, 0xBF, 0x57, 0x1A, 0xC0}));
    EXPECT_EQ(BuildPureAck(5), (Bytes{0xC0, 0x68, 0x00, 0x00, 0x97, 0xD4, 0xF9, 0xC0}));
    EXPECT_EQ(BuildLinkMessage(bcsp::kSync),
              (Bytes{0xC0, 0x40, 0x41, 0x00, 0x7E, 0xDA, 0xDC, 0xED, 0xED, 0xA9, 0x7A, 0xC0}));
}

TEST(SimCodec_Frames, EscapesDelimiterAndEscapeBytes) {
    const Bytes payload{0xC0, 0x01, 0xDB};
    const Bytes frame = BuildFrame(MakeHeader(true, 0, 0, 13, payload.size()), payload);
    ASSERT_EQ(frame.front(), 0xC0);
    ASSERT_EQ(frame.back(), 0xC0);
    for (size_t i = 1; i + 1 < frame.size(); ++i) {
        EXPECT_NE(frame[i], 0xC0) << "unescaped delimiter at " << i;
    }
    // Header C0 3D 00 02 (reliable+crc, length 3 channel 13), then the payload.
    const Bytes start(frame.begin(), frame.begin() + 11);
    EXPECT_EQ(start, (Bytes{0xC0, 0xDB, 0xDC, 0x3D, 0x00, 0x02, 0xDB, 0xDC, 0x01, 0xDB, 0xDD}));
    const DecodedPacket p = DecodeFrame(frame);
    EXPECT_EQ(p.error, DecodeError::None);
    EXPECT_EQ(p.payload, payload);
}

TEST(SimCodec_Decode, RoundTripsEveryHeaderField) {
    for (uint8_t seq = 0; seq < 8; ++seq) {
        const uint8_t ack = static_cast<uint8_t>(7 - seq);
        Bytes payload(300, seq);   // length above 255 uses the high length bits
        const DecodedPacket p =
            DecodeFrame(BuildFrame(MakeHeader(true, seq, ack, 13, payload.size()), payload));
        ASSERT_EQ(p.error, DecodeError::None);
        EXPECT_TRUE(p.reliable);
        EXPECT_EQ(p.seq, seq);
        EXPECT_EQ(p.ack, ack);
        EXPECT_EQ(p.channel, 13);
        EXPECT_EQ(p.payload, payload);
    }
}

TEST(SimCodec_Decode, RejectsDamagedFrames) {
    const Bytes good = BuildFrame(MakeHeader(true, 1, 2, 13, 4), Bytes{1, 2, 3, 4});
    struct Case {
        const char* what;
        Bytes frame;
        DecodeError expected;
    };
    Bytes badChecksum = good;
    badChecksum[4] ^= 0x01;
    Bytes badCrc = good;
    badCrc[good.size() - 2] ^= 0x10;
    Bytes badPayload = good;
    badPayload[6] ^= 0x01;
    Bytes truncated(good.begin(), good.end() - 3);
    truncated.push_back(0xC0);
    const Case cases[] = {
        {"header checksum", badChecksum, DecodeError::HeaderChecksum},
        {"crc byte", badCrc, DecodeError::Crc},
        {"payload byte", badPayload, DecodeError::Crc},
        {"truncated", truncated, DecodeError::Length},
        {"bad escape", Bytes{0xC0, 0x40, 0xDB, 0x01, 0x00, 0xBF, 0xC0}, DecodeError::BadEscape},
        {"too short", Bytes{0xC0, 0x40, 0x00, 0xC0}, DecodeError::TooShort},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeFrame(c.frame).error, c.expected) << c.what;
    }
}

TEST(SimCodec_Decode, RecognisesLinkMessages) {
    for (uint8_t i = bcsp::kSync; i <= bcsp::kConfResp; ++i) {
        const DecodedPacket p = DecodeFrame(BuildLinkMessage(i));
        ASSERT_EQ(p.error, DecodeError::None);
        EXPECT_EQ(p.channel, bcsp::kChannelLink);
        EXPECT_EQ(LinkMessageIndex(p.payload), i);
    }
    EXPECT_EQ(LinkMessageIndex(Bytes{0xDA, 0xDC, 0xED, 0xEE}), bcsp::kNoLinkMsg);
}

// The module's codec and the library's must put the same bytes on the wire.
TEST(SimCodec_Library, SameFramesAsTheLibraryCodec) {
    std::mt19937 rng(5);
    for (int i = 0; i < 500; ++i) {
        Bytes payload(rng() % 300);
        for (auto& b : payload) {
            // Plenty of bytes that need escaping.
            const uint32_t r = rng() % 4;
            b = r == 0 ? 0xC0 : r == 1 ? 0xDB : static_cast<uint8_t>(rng());
        }
        const Header h = MakeHeader(rng() % 2, rng() % 8, rng() % 8, rng() % 16, payload.size());
        const Bytes mine = BuildFrame(h, payload);
        uint8_t theirs[bcsp::kFrameBufferSize];
        const size_t n = kz::BcspBuildFrame(h.data(), payload.data(), payload.size(), theirs, sizeof theirs);
        ASSERT_EQ(Bytes(theirs, theirs + n), mine) << "case " << i;
        EXPECT_EQ(kz::BcspCrc(payload.data(), payload.size()), Crc16(payload.data(), payload.size()));
    }
}

}  // namespace
}  // namespace kzsim
