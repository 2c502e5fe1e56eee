// The simulator's frame codec: the library's codec carries the known wire
// vectors; the module's must put the same bytes on the wire and reject what
// the library's rejects.
#include "sim_codec.h"

#include <gtest/gtest.h>

#include <random>

#include "link/bcsp_codec.h"

namespace kzsim {
namespace {

using Bytes = std::vector<uint8_t>;

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
