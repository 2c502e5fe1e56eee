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
    Bytes badChecksum = good, badCrc = good, badPayload = good, truncated(good.begin(), good.end() - 3);
    badChecksum[4] ^= 0x01;
    badCrc[good.size() - 2] ^= 0x10;
    badPayload[6] ^= 0x01;
    truncated.push_back(0xC0);
    const std::pair<Bytes, DecodeError> cases[] = {
        {good, DecodeError::None},
        {badChecksum, DecodeError::HeaderChecksum},
        {badCrc, DecodeError::Crc},
        {badPayload, DecodeError::Crc},
        {truncated, DecodeError::Length},
        {Bytes{0xC0, 0x40, 0xDB, 0x01, 0x00, 0xBF, 0xC0}, DecodeError::BadEscape},
        {Bytes{0xC0, 0x40, 0x00, 0xC0}, DecodeError::TooShort},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(DecodeFrame(cases[i].first).error, cases[i].second) << i;
}

TEST(SimCodec_Library, SameFramesAsTheLibraryCodec) {
    std::mt19937 rng(5);
    for (int i = 0; i < 500; ++i) {
        Bytes payload(rng() % 300);
        for (auto& b : payload) {   // plenty of bytes that need escaping
            const uint32_t r = rng() % 4;
            b = r == 0 ? 0xC0 : r == 1 ? 0xDB : static_cast<uint8_t>(rng());
        }
        const Header h = MakeHeader(rng() % 2, rng() % 8, rng() % 8, rng() % 16, payload.size());
        uint8_t theirs[bcsp::kFrameBufferSize];
        const size_t n = kz::BcspBuildFrame(h.data(), payload.data(), payload.size(), theirs, sizeof theirs);
        ASSERT_EQ(Bytes(theirs, theirs + n), BuildFrame(h, payload)) << "case " << i;
    }
}

}  // namespace
}  // namespace kzsim
