// The module's own BCSP frame codec.
#include "sim_codec.h"

#include <algorithm>

namespace kzsim {
namespace {

constexpr uint16_t kCrcTable[16] = {
    0x0000, 0x1081, 0x2102, 0x3183, 0x4204, 0x5285, 0x6306, 0x7387,
    0x8408, 0x9489, 0xA50A, 0xB58B, 0xC60C, 0xD68D, 0xE70E, 0xF78F,
};
constexpr uint8_t kNibble = 0x0F;
constexpr int kCrcBits = 16;
constexpr uint8_t kLengthLowShift = 4;
constexpr size_t kLinkPayloadSize = 4;

uint16_t CrcUpdate(uint16_t crc, uint8_t byte) {
    crc = static_cast<uint16_t>(kCrcTable[(crc ^ byte) & kNibble] ^ (crc >> 4));
    crc = static_cast<uint16_t>(kCrcTable[(crc ^ (byte >> 4)) & kNibble] ^ (crc >> 4));
    return crc;
}

uint16_t Reverse16(uint16_t v) {
    uint16_t r = 0;
    for (int i = 0; i < kCrcBits; ++i) {
        r = static_cast<uint16_t>((r << 1) | ((v >> i) & 1));
    }
    return r;
}

bool Unescape(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
    for (size_t i = 0; i < n; ++i) {
        if (in[i] != bcsp::kSlipEsc) {
            out.push_back(in[i]);
            continue;
        }
        if (i + 1 >= n) {
            return false;
        }
        const uint8_t next = in[++i];
        if (next == bcsp::kSlipEscEnd) {
            out.push_back(bcsp::kSlipEnd);
        } else if (next == bcsp::kSlipEscEsc) {
            out.push_back(bcsp::kSlipEsc);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t n) {
    uint16_t crc = bcsp::kCrcInit;
    for (size_t i = 0; i < n; ++i) {
        crc = CrcUpdate(crc, data[i]);
    }
    return Reverse16(crc);
}

void SlipAppend(std::vector<uint8_t>& out, const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (data[i] == bcsp::kSlipEnd) {
            out.push_back(bcsp::kSlipEsc);
            out.push_back(bcsp::kSlipEscEnd);
        } else if (data[i] == bcsp::kSlipEsc) {
            out.push_back(bcsp::kSlipEsc);
            out.push_back(bcsp::kSlipEscEsc);
        } else {
            out.push_back(data[i]);
        }
    }
}

Header MakeHeader(bool reliable, uint8_t seq, uint8_t ack, uint8_t channel, size_t length) {
    Header h{};
    h[0] = static_cast<uint8_t>((seq & bcsp::kSeqMask) |
                                ((ack << bcsp::kAckShift) & bcsp::kAckMask) |
                                bcsp::kCrcPresent | (reliable ? bcsp::kReliable : 0));
    h[1] = static_cast<uint8_t>(((length & kNibble) << kLengthLowShift) |
                                (channel & bcsp::kChannelMask));
    h[2] = static_cast<uint8_t>((length >> kLengthLowShift) & 0xFF);
    h[3] = bcsp::HeaderChecksum(h[0], h[1], h[2]);
    return h;
}

std::vector<uint8_t> BuildFrame(const Header& header, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> plain(header.begin(), header.end());
    plain.insert(plain.end(), payload.begin(), payload.end());
    const uint16_t crc = Crc16(plain.data(), plain.size());
    plain.push_back(static_cast<uint8_t>(crc >> 8));
    plain.push_back(static_cast<uint8_t>(crc & 0xFF));

    std::vector<uint8_t> frame;
    frame.reserve(plain.size() * 2 + 2);
    frame.push_back(bcsp::kSlipEnd);
    SlipAppend(frame, plain.data(), plain.size());
    frame.push_back(bcsp::kSlipEnd);
    return frame;
}

std::vector<uint8_t> BuildPureAck(uint8_t ack) {
    return BuildFrame(MakeHeader(false, 0, ack, bcsp::kChannelAck, 0), {});
}

std::vector<uint8_t> BuildLinkMessage(uint8_t index) {
    const uint8_t* p = bcsp::kLinkMsgPayloads[index];
    return BuildFrame(MakeHeader(false, 0, 0, bcsp::kChannelLink, kLinkPayloadSize),
                      std::vector<uint8_t>(p, p + kLinkPayloadSize));
}

DecodedPacket DecodeFrame(const std::vector<uint8_t>& frame) {
    DecodedPacket out;
    size_t begin = 0;
    size_t end = frame.size();
    while (begin < end && frame[begin] == bcsp::kSlipEnd) ++begin;
    while (end > begin && frame[end - 1] == bcsp::kSlipEnd) --end;

    std::vector<uint8_t> plain;
    if (!Unescape(frame.data() + begin, end - begin, plain)) {
        out.error = DecodeError::BadEscape;
        return out;
    }
    if (plain.size() < bcsp::kHeaderSize) {
        out.error = DecodeError::TooShort;
        return out;
    }
    std::copy_n(plain.begin(), bcsp::kHeaderSize, out.header.begin());
    const uint8_t* h = out.header.data();
    if (!bcsp::HeaderChecksumOk(h)) {
        out.error = DecodeError::HeaderChecksum;
        return out;
    }
    out.reliable = bcsp::HeaderReliable(h);
    out.crcPresent = bcsp::HeaderCrcPresent(h);
    out.seq = bcsp::HeaderSeq(h);
    out.ack = bcsp::HeaderAck(h);
    out.channel = bcsp::HeaderChannel(h);

    const size_t length = bcsp::HeaderPayloadLength(h);
    const size_t body = plain.size() - bcsp::kHeaderSize;
    if (out.crcPresent) {
        if (body != length + bcsp::kCrcSize) {
            out.error = DecodeError::Length;
            return out;
        }
        const uint16_t crc = Crc16(plain.data(), bcsp::kHeaderSize + length);
        const size_t at = bcsp::kHeaderSize + length;
        if (plain[at] != (crc >> 8) || plain[at + 1] != (crc & 0xFF)) {
            out.error = DecodeError::Crc;
            return out;
        }
    } else if (body != length && body != length + bcsp::kCrcSize) {
        // The host appends a CRC even when the bit is clear; it is not checked.
        out.error = DecodeError::Length;
        return out;
    }
    out.payload.assign(plain.begin() + bcsp::kHeaderSize,
                       plain.begin() + bcsp::kHeaderSize + length);
    return out;
}

uint8_t LinkMessageIndex(const std::vector<uint8_t>& payload) {
    if (payload.size() != kLinkPayloadSize) {
        return bcsp::kNoLinkMsg;
    }
    for (uint8_t i = 0; i <= bcsp::kConfResp; ++i) {
        if (std::equal(payload.begin(), payload.end(), bcsp::kLinkMsgPayloads[i])) {
            return i;
        }
    }
    return bcsp::kNoLinkMsg;
}

}  // namespace kzsim
