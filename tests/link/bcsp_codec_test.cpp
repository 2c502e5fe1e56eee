// The pure BCSP codec: CRC, SLIP, link-message recognition, frame building
// and frame checking.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/bcsp_codec.h"

namespace {

using namespace kz;
using Bytes = std::vector<uint8_t>;

Bytes Frame(const Bytes& header, const Bytes& payload) {
    Bytes out(bcsp::kFrameBufferSize);
    size_t n = BcspBuildFrame(header.data(), payload.data(), payload.size(), out.data(), out.size());
    out.resize(n);
    return out;
}

// A complete header for a payload of n bytes (checksum filled in).
Bytes Header(uint8_t flags, uint8_t channel, size_t n) {
    Bytes h = {flags, static_cast<uint8_t>(((n & 0x0F) << 4) | channel),
               static_cast<uint8_t>(n >> 4), 0};
    h[3] = bcsp::HeaderChecksum(h[0], h[1], h[2]);
    return h;
}

// ---------------------------------------------------------------- CRC

TEST(BcspCrc, NibbleTableIsReflectedCcitt) {
    // Folding one byte by nibbles equals the bitwise reflected 0x8408 update.
    for (int byte = 0; byte < 256; ++byte) {
        uint16_t bitwise = 0xFFFF ^ byte;
        for (int i = 0; i < 8; ++i) bitwise = (bitwise & 1) ? (bitwise >> 1) ^ 0x8408 : bitwise >> 1;
        EXPECT_EQ(BcspCrcUpdate(0xFFFF, static_cast<uint8_t>(byte)), bitwise) << byte;
    }
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(BcspCrc(abc, 3), 0x5B86);
    EXPECT_EQ(BcspCrcReverse(0x0001), 0x8000);
    EXPECT_EQ(BcspCrcReverse(0x1234), 0x2C48);
}

// ---------------------------------------------------------------- frames

TEST(BcspBuildFrame, KnownVectors) {
    EXPECT_EQ(Frame({0x40, 0x00, 0x00, 0xBF}, {}),
              (Bytes{0xC0, 0x40, 0x00, 0x00, 0xBF, 0x57, 0x1A, 0xC0}));
    EXPECT_EQ(Frame({0x68, 0x00, 0x00, 0x97}, {}),
              (Bytes{0xC0, 0x68, 0x00, 0x00, 0x97, 0xD4, 0xF9, 0xC0}));
    EXPECT_EQ(Frame({0x40, 0x41, 0x00, 0x7E}, {0xDA, 0xDC, 0xED, 0xED}),
              (Bytes{0xC0, 0x40, 0x41, 0x00, 0x7E, 0xDA, 0xDC, 0xED, 0xED, 0xA9, 0x7A, 0xC0}));
}

TEST(BcspBuildFrame, EscapesPayloadAndCrcButComputesCrcUnescaped) {
    const Bytes h = Header(0xC1, 13, 3);   // sequence 1: the header needs no escape
    const Bytes f = Frame(h, {0x01, 0xC0, 0xDB});
    ASSERT_GE(f.size(), 12u);
    EXPECT_EQ(Bytes(f.begin() + 5, f.begin() + 10), (Bytes{0x01, 0xDB, 0xDC, 0xDB, 0xDD}));

    // Find a one-byte payload whose CRC holds 0xDB and check that byte's escape.
    for (int b = 0; b < 256; ++b) {
        const Bytes hh = Header(0x40, 13, 1);
        Bytes raw = hh;
        raw.push_back(static_cast<uint8_t>(b));
        const uint16_t crc = BcspCrc(raw.data(), raw.size());
        if ((crc >> 8) != 0xDB || b == 0xC0 || b == 0xDB) continue;
        const Bytes fr = Frame(hh, {static_cast<uint8_t>(b)});
        // C0, 4 header bytes, the payload byte, DB DD, low CRC byte(s), C0.
        EXPECT_EQ(fr[6], 0xDB);
        EXPECT_EQ(fr[7], 0xDD);
        return;
    }
    FAIL() << "no payload byte gives a CRC high byte of 0xDB";
}

TEST(BcspBuildFrame, RefusesWhatDoesNotFit) {
    Bytes payload(300, 0xC0);   // every byte doubles
    Bytes out(400);
    EXPECT_EQ(BcspBuildFrame(Header(0xC0, 13, 300).data(), payload.data(), payload.size(),
                             out.data(), out.size()),
              0u);
}

// ---------------------------------------------------------------- SLIP

TEST(SlipDecode, RoundTripsEveryLengthWithEscapes) {
    Bytes in;
    for (int i = 0; i < 64; ++i) in.push_back(i % 3 == 0 ? 0xC0 : (i % 5 == 0 ? 0xDB : i));
    for (size_t n = 0; n <= in.size(); ++n) {
        Bytes enc(2 * n + 1), dec(n + 1);
        const size_t pairs = SlipEncode(in.data(), enc.data(), n);
        size_t got = 0;
        EXPECT_EQ(SlipDecode(enc.data(), dec.data(), false, n + pairs, dec.size(), &got), pairs);
        ASSERT_EQ(got, n);
        EXPECT_TRUE(std::equal(in.begin(), in.begin() + n, dec.begin()));
    }
}

TEST(SlipDecode, LoneEscapeIsDroppedAndNextByteDecodes) {
    const Bytes enc = {0x11, 0xDB, 0x22, 0xDB, 0xDC, 0x33, 0xDB};
    Bytes dec(8);
    size_t got = 0;
    const size_t pairs = SlipDecode(enc.data(), dec.data(), false, enc.size(), dec.size(), &got);
    EXPECT_EQ(got, enc.size() - pairs);
    dec.resize(got);
    EXPECT_EQ(dec, (Bytes{0x11, 0x22, 0xC0, 0x33}));
}

TEST(SlipDecode, HeaderModeStopsAfterFourBytes) {
    const Bytes enc = {0xDB, 0xDC, 0x01, 0xDB, 0xDD, 0x02, 0x03, 0x04};
    uint8_t dec[4];
    size_t got = 0;
    EXPECT_EQ(SlipDecode(enc.data(), dec, true, enc.size(), sizeof dec, &got), 2u);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(Bytes(dec, dec + 4), (Bytes{0xC0, 0x01, 0xDB, 0x02}));
}

TEST(SlipDecode, NeverWritesPastItsCapacity) {
    Bytes enc(100, 0x5A);
    uint8_t buf[16 + 10 + 16];
    std::memset(buf, 0xEE, sizeof buf);
    size_t got = 0;
    SlipDecode(enc.data(), buf + 16, false, enc.size(), 10, &got);
    EXPECT_EQ(got, 100u);   // counted, not stored
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(buf[i], 0xEE);
    for (size_t i = 26; i < sizeof buf; ++i) EXPECT_EQ(buf[i], 0xEE);
}

// ---------------------------------------------------------------- link messages

TEST(MatchLinkMsg, RecognisesTheFourAndNothingElse) {
    for (uint8_t i = 0; i < 4; ++i) EXPECT_EQ(MatchLinkMsg(bcsp::kLinkMsgPayloads[i], 4), i);
    const uint8_t other[] = {0xDA, 0xDC, 0xED, 0xEE};
    EXPECT_EQ(MatchLinkMsg(other, 4), bcsp::kNoLinkMsg);
    EXPECT_EQ(MatchLinkMsg(bcsp::kLinkMsgPayloads[0], 3), bcsp::kNoLinkMsg);
}

// ---------------------------------------------------------------- frame checks

struct CheckCase {
    const char* name;
    Bytes frame;
    FrameCheck expected;
};

TEST(BcspCheckFrame, RejectsInValidationOrder) {
    const Bytes payload = {0x03, 0x00, 0x55, 0x02, 0x30, 0x00};
    const Bytes good = Frame(Header(0xC0, 13, payload.size()), payload);

    Bytes badChecksum = good;
    badChecksum[4] ^= 0x01;   // header sums to 0xFE
    Bytes badCrc = good;
    badCrc[6] ^= 0x10;   // a payload byte
    // Header says 8 bytes, 6 arrive (CRC present).
    Bytes shortCrc = Frame(Header(0xC0, 13, 8), payload);
    // Without CRC the two CRC bytes count as payload: length 6 but 8 decoded.
    Bytes noCrcLength = Frame(Header(0x80, 13, 6), payload);
    Bytes noCrcOk = Frame(Header(0x80, 13, 8), payload);
    // Both a bad checksum and a bad CRC: the checksum is reported.
    Bytes both = badCrc;
    both[4] ^= 0x01;

    const CheckCase cases[] = {
        {"good", good, FrameCheck::kOk},
        {"header checksum", badChecksum, FrameCheck::kBadChecksum},
        {"crc", badCrc, FrameCheck::kBadCrc},
        {"length with crc", shortCrc, FrameCheck::kBadLength},
        {"length without crc", noCrcLength, FrameCheck::kBadLength},
        {"no crc, counted as payload", noCrcOk, FrameCheck::kOk},
        {"checksum before crc", both, FrameCheck::kBadChecksum},
        {"C0 C0", Bytes{0xC0, 0xC0}, FrameCheck::kBadChecksum},
    };
    for (const auto& c : cases) {
        uint8_t header[4];
        uint8_t buf[bcsp::kRxPayloadSize];
        size_t decoded = 0;
        EXPECT_EQ(BcspCheckFrame(c.frame.data(), c.frame.size(), header, buf, sizeof buf, &decoded),
                  c.expected)
            << c.name;
    }
}

// The largest payload that fits is taken whole; anything longer is a length
// error that writes nothing outside the caller's buffer.
TEST(BcspCheckFrame, PayloadSizesAroundTheBuffer_StayInsideIt) {
    const size_t fits = bcsp::kRxPayloadSize - bcsp::kCrcSize;
    for (size_t n : {fits, fits + 1, size_t{600}, size_t{1000}}) {
        SCOPED_TRACE(n);
        Bytes payload(n);
        for (size_t i = 0; i < n; ++i) payload[i] = static_cast<uint8_t>(i * 7);
        Bytes frame(2 * bcsp::kFrameBufferSize);
        frame.resize(BcspBuildFrame(Header(0xC0, 13, n).data(), payload.data(), n, frame.data(),
                                    frame.size()));
        ASSERT_FALSE(frame.empty());
        constexpr size_t kGuard = 64;
        Bytes buf(kGuard + bcsp::kRxPayloadSize + kGuard, 0xEE);
        uint8_t header[4];
        size_t decoded = 0;
        EXPECT_EQ(BcspCheckFrame(frame.data(), frame.size(), header, buf.data() + kGuard,
                                 bcsp::kRxPayloadSize, &decoded),
                  n == fits ? FrameCheck::kOk : FrameCheck::kBadLength);
        EXPECT_EQ(decoded, n + 2);
        if (n == fits) {
            EXPECT_TRUE(std::equal(payload.begin(), payload.end(), buf.begin() + kGuard));
        }
        for (size_t i = 0; i < kGuard; ++i) {
            EXPECT_EQ(buf[i], 0xEE);
            EXPECT_EQ(buf[kGuard + bcsp::kRxPayloadSize + i], 0xEE);
        }
    }
}

}  // namespace
