// BCSP codec, the pure part: CRC-16, SLIP escaping, link-message recognition,
// frame building and frame checking. No state lives here, so the module
// simulator uses the same functions as the library.
#include "link/bcsp_codec.h"

#include <cstring>

namespace kz {

using namespace bcsp;

namespace {

// Entry i = (i << 12) | (i << 7) | i: the reflected CCITT polynomial, four
// bits at a time.
constexpr uint16_t kCrcTable[16] = {
    0x0000, 0x1081, 0x2102, 0x3183, 0x4204, 0x5285, 0x6306, 0x7387,
    0x8408, 0x9489, 0xA50A, 0xB58B, 0xC60C, 0xD68D, 0xE70E, 0xF78F,
};
constexpr uint8_t kNibble = 0x0F;

constexpr bool NeedsEscape(uint8_t b) { return b == kSlipEnd || b == kSlipEsc; }

size_t EscapedSize(const uint8_t* in, size_t count) {
    size_t n = count;
    for (size_t i = 0; i < count; ++i) n += NeedsEscape(in[i]) ? 1 : 0;
    return n;
}

}  // namespace

uint16_t BcspCrcUpdate(uint16_t crc, uint8_t byte) {
    crc = kCrcTable[(crc ^ byte) & kNibble] ^ (crc >> 4);
    crc = kCrcTable[(crc ^ (byte >> 4)) & kNibble] ^ (crc >> 4);
    return crc;
}

uint16_t BcspCrcReverse(uint16_t crc) {
    uint16_t out = 0;
    for (int i = 0; i < 16; ++i) {
        out = static_cast<uint16_t>((out << 1) | (crc & 1));
        crc >>= 1;
    }
    return out;
}

uint16_t BcspCrc(const uint8_t* data, size_t n) {
    uint16_t crc = kCrcInit;
    for (size_t i = 0; i < n; ++i) crc = BcspCrcUpdate(crc, data[i]);
    return BcspCrcReverse(crc);
}

size_t SlipEncode(const uint8_t* in, uint8_t* out, size_t count) {
    size_t pairs = 0;
    size_t o = 0;
    for (size_t i = 0; i < count; ++i) {
        uint8_t b = in[i];
        if (b == kSlipEnd) {
            out[o++] = kSlipEsc;
            out[o++] = kSlipEscEnd;
            ++pairs;
        } else if (b == kSlipEsc) {
            out[o++] = kSlipEsc;
            out[o++] = kSlipEscEsc;
            ++pairs;
        } else {
            out[o++] = b;
        }
    }
    return pairs;
}

// A DB followed by anything but DC or DD is dropped and counts like a pair,
// so that decoded length = input length - result holds in payload mode.
size_t SlipDecode(const uint8_t* in, uint8_t* out, bool header_mode, size_t in_count,
                  size_t out_cap, size_t* out_len) {
    size_t pairs = 0;
    size_t produced = 0;
    size_t i = 0;
    while (i < in_count) {
        if (header_mode && produced == kHeaderSize) break;
        uint8_t b = in[i++];
        if (b == kSlipEsc) {
            ++pairs;
            if (i >= in_count) break;
            if (in[i] == kSlipEscEnd) {
                b = kSlipEnd;
            } else if (in[i] == kSlipEscEsc) {
                b = kSlipEsc;
            } else {
                continue;   // lone escape dropped; the next byte decodes normally
            }
            ++i;
        }
        if (produced < out_cap) out[produced] = b;
        ++produced;
    }
    if (out_len) *out_len = produced;
    return pairs;
}

uint8_t MatchLinkMsg(const uint8_t* payload, size_t length) {
    if (payload == nullptr || length < sizeof kLinkMsgPayloads[0]) return kNoLinkMsg;
    for (uint8_t i = 0; i < 4; ++i) {
        if (std::memcmp(payload, kLinkMsgPayloads[i], sizeof kLinkMsgPayloads[i]) == 0) return i;
    }
    return kNoLinkMsg;
}

size_t BcspBuildFrame(const uint8_t header[4], const uint8_t* payload, size_t length,
                      uint8_t* out, size_t out_cap) {
    uint16_t crc = kCrcInit;
    for (size_t i = 0; i < kHeaderSize; ++i) crc = BcspCrcUpdate(crc, header[i]);
    for (size_t i = 0; i < length; ++i) crc = BcspCrcUpdate(crc, payload[i]);
    crc = BcspCrcReverse(crc);
    const uint8_t crcBytes[kCrcSize] = {static_cast<uint8_t>(crc >> 8),
                                        static_cast<uint8_t>(crc & 0xFF)};

    size_t need = 2 + EscapedSize(header, kHeaderSize) + EscapedSize(payload, length) +
                  EscapedSize(crcBytes, kCrcSize);
    if (need > out_cap) return 0;

    size_t o = 0;
    out[o++] = kSlipEnd;
    o += kHeaderSize + SlipEncode(header, out + o, kHeaderSize);
    o += length + SlipEncode(payload, out + o, length);
    o += kCrcSize + SlipEncode(crcBytes, out + o, kCrcSize);
    out[o++] = kSlipEnd;
    return o;
}

FrameCheck BcspCheckFrame(const uint8_t* frame, size_t n, uint8_t header_out[4],
                          uint8_t* payload_out, size_t payload_cap, size_t* decoded) {
    std::memset(header_out, 0, kHeaderSize);
    if (decoded) *decoded = 0;
    // Between the delimiters: the escaped header (at most 8 bytes), payload, CRC.
    const size_t inner = n >= 2 ? n - 2 : 0;
    constexpr size_t kMaxEscapedHeader = 2 * kHeaderSize;
    size_t headerLen = 0;
    const size_t e1 = SlipDecode(frame + 1, header_out, true,
                                 inner < kMaxEscapedHeader ? inner : kMaxEscapedHeader,
                                 kHeaderSize, &headerLen);
    const size_t headerRaw = headerLen + e1;
    const size_t rest = inner > headerRaw ? inner - headerRaw : 0;
    size_t got = 0;
    SlipDecode(frame + 1 + headerRaw, payload_out, false, rest, payload_cap, &got);
    if (decoded) *decoded = got;

    if (headerLen < kHeaderSize || !HeaderChecksumOk(header_out)) return FrameCheck::kBadChecksum;
    // The receive buffer bounds what can be taken; more is a length error.
    if (got > payload_cap) return FrameCheck::kBadLength;
    const size_t length = HeaderPayloadLength(header_out);
    if (HeaderCrcPresent(header_out)) {
        if (got != length + kCrcSize) return FrameCheck::kBadLength;
        uint16_t crc = kCrcInit;
        for (size_t i = 0; i < kHeaderSize; ++i) crc = BcspCrcUpdate(crc, header_out[i]);
        for (size_t i = 0; i < length; ++i) crc = BcspCrcUpdate(crc, payload_out[i]);
        crc = BcspCrcReverse(crc);
        const uint16_t sent = static_cast<uint16_t>((payload_out[length] << 8) | payload_out[length + 1]);
        if (crc != sent) return FrameCheck::kBadCrc;
    } else if (got != length) {
        return FrameCheck::kBadLength;
    }
    return FrameCheck::kOk;
}

}  // namespace kz
