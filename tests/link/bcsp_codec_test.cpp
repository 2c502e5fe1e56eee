// The pure BCSP codec by byte vectors: frames built (CRC and SLIP by known
// vectors), SLIP decoding and frames checked, always into buffers with guard bytes.
#include <gtest/gtest.h>

#include <vector>

#include "link/bcsp_codec.h"

namespace {

using namespace kz;
using Bytes = std::vector<uint8_t>;

// A complete header for a payload of n bytes (checksum filled in).
Bytes Header(uint8_t flags, uint8_t channel, size_t n) {
    Bytes h = {flags, static_cast<uint8_t>(((n & 0x0F) << 4) | channel), static_cast<uint8_t>(n >> 4), 0};
    h[3] = bcsp::HeaderChecksum(h[0], h[1], h[2]);
    return h;
}

Bytes Frame(const Bytes& header, const Bytes& payload, size_t room = 2 * bcsp::kFrameBufferSize) {
    Bytes out(room);
    out.resize(BcspBuildFrame(header.data(), payload.data(), payload.size(), out.data(), out.size()));
    return out;
}

// Room for `capacity` bytes between two runs of guard bytes.
struct Guarded {
    static constexpr size_t kGuard = 16;
    explicit Guarded(size_t capacity) : buf(kGuard + capacity + kGuard, 0xEE), capacity(capacity) {}
    uint8_t* data() { return buf.data() + kGuard; }
    Bytes Stored(size_t n) const { return Bytes(buf.begin() + kGuard, buf.begin() + kGuard + n); }
    bool GuardsIntact() const {
        return Bytes(buf.begin(), buf.begin() + kGuard) == Bytes(kGuard, 0xEE) && Bytes(buf.end() - kGuard, buf.end()) == Bytes(kGuard, 0xEE);
    }
    Bytes buf;
    size_t capacity;
};

// The CRC is computed over the unescaped bytes and escaped like the rest.
TEST(BcspBuildFrame, KnownVectors) {
    EXPECT_EQ(Frame(Header(0xC1, 13, 3), {0x01, 0xC0, 0xDB}),   // CRC BB DB
              (Bytes{0xC0, 0xC1, 0x3D, 0x00, 0x01, 0x01, 0xDB, 0xDC, 0xDB, 0xDD, 0xBB, 0xDD, 0xC0}));
    EXPECT_EQ(Frame(Header(0x40, 13, 1), {0x22}),   // CRC DB E4
              (Bytes{0xC0, 0x40, 0x1D, 0x00, 0xA2, 0x22, 0xDB, 0xDD, 0xE4, 0xC0}));
    EXPECT_EQ(Frame(Header(0x40, 13, 1), {0x57}),   // CRC 8F C0
              (Bytes{0xC0, 0x40, 0x1D, 0x00, 0xA2, 0x57, 0x8F, 0xDB, 0xDC, 0xC0}));
    EXPECT_EQ(Frame(Header(0xC0, 13, 300), Bytes(300, 0xC0), 400), Bytes{});   // every byte doubles
}

TEST(SlipDecode, Vectors_NothingWrittenPastTheCapacity) {
    const struct { const char* what; Bytes in; bool headerMode; size_t capacity, pairs, length; Bytes stored; } cases[] = {
        {"a lone escape is dropped", {0x11, 0xDB, 0x22, 0xDB, 0xDC, 0x33, 0xDB}, false, 8, 3, 4,
         {0x11, 0x22, 0xC0, 0x33}},
        {"header mode stops after four", {0xDB, 0xDC, 0x01, 0xDB, 0xDD, 0x02, 0x03, 0x04}, true, 4, 2, 4,
         {0xC0, 0x01, 0xDB, 0x02}},
        {"longer than the buffer: counted, not stored", Bytes(100, 0x5A), false, 10, 0, 100, Bytes(10, 0x5A)},
    };
    for (const auto& c : cases) {
        Guarded out(c.capacity);
        size_t got = 0;
        EXPECT_EQ(SlipDecode(c.in.data(), out.data(), c.headerMode, c.in.size(), c.capacity, &got), c.pairs) << c.what;
        EXPECT_EQ(got, c.length) << c.what;
        EXPECT_EQ(out.Stored(c.stored.size()), c.stored) << c.what;
        EXPECT_TRUE(out.GuardsIntact()) << c.what;
    }
}

// Checksum, then length, then CRC; the largest payload that fits is taken
// whole, anything longer is a length error that stays inside the buffer.
TEST(BcspCheckFrame, RejectsInValidationOrder_InsideTheBuffer) {
    // payload: what the buffer starts with; decoded: payload and CRC bytes decoded, checked when not 0.
    struct Case { std::string name; Bytes frame; FrameCheck expected; Bytes payload = {}; size_t decoded = 0; };
    const Bytes payload = {0x03, 0x00, 0x55, 0x02, 0x30, 0x00};
    const Bytes good = Frame(Header(0xC0, 13, payload.size()), payload);
    Bytes badChecksum = good, badCrc = good;
    badChecksum[4] ^= 0x01;   // header sums to 0xFE
    badCrc[6] ^= 0x10;        // a payload byte
    Bytes both = badCrc;
    both[4] ^= 0x01;
    std::vector<Case> cases = {
        {"good", good, FrameCheck::kOk, payload, 8},
        {"header checksum", badChecksum, FrameCheck::kBadChecksum},
        {"crc", badCrc, FrameCheck::kBadCrc},
        {"checksum before crc", both, FrameCheck::kBadChecksum},
        {"header says 8, 6 arrive", Frame(Header(0xC0, 13, 8), payload), FrameCheck::kBadLength},
        // Without the CRC flag its two bytes count as payload.
        {"no crc: length 6 but 8 decoded", Frame(Header(0x80, 13, 6), payload), FrameCheck::kBadLength},
        {"no crc: length 8", Frame(Header(0x80, 13, 8), payload), FrameCheck::kOk},
        {"C0 C0", Bytes{0xC0, 0xC0}, FrameCheck::kBadChecksum},
    };
    const size_t fits = bcsp::kRxPayloadSize - bcsp::kCrcSize;
    for (size_t n : {fits, fits + 1, size_t{600}, size_t{1000}}) {
        Bytes p(n);
        for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(i * 7);
        cases.push_back({"payload of " + std::to_string(n), Frame(Header(0xC0, 13, n), p),
                         n == fits ? FrameCheck::kOk : FrameCheck::kBadLength, n == fits ? p : Bytes{}, n + 2});
    }
    for (const auto& c : cases) {
        Guarded out(bcsp::kRxPayloadSize);
        uint8_t header[4];
        size_t decoded = 0;
        EXPECT_EQ(BcspCheckFrame(c.frame.data(), c.frame.size(), header, out.data(), out.capacity, &decoded),
                  c.expected) << c.name;
        EXPECT_EQ(out.Stored(c.payload.size()), c.payload) << c.name;
        EXPECT_TRUE(c.decoded == 0 || decoded == c.decoded) << c.name << ": " << decoded;
        EXPECT_TRUE(out.GuardsIntact()) << c.name;
    }
}

}  // namespace
