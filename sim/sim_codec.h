// The module's own BCSP frame codec: CRC, SLIP escaping, frame building and
// frame decoding. Pure functions; the wire constants come from the link's
// protocol header so both sides name the same bytes.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/bcsp_protocol.h"

namespace kzsim {

namespace bcsp = kz::bcsp;

// CRC-CCITT, reflected, register starting at 0xFFFF, no final XOR, then
// reversed end for end: the value that goes on the wire high byte first.
uint16_t Crc16(const uint8_t* data, size_t n);

// SLIP escaping of a byte run (no delimiters).
void SlipAppend(std::vector<uint8_t>& out, const uint8_t* data, size_t n);

using Header = std::array<uint8_t, bcsp::kHeaderSize>;

// Header with length, channel, flags and checksum filled in.
Header MakeHeader(bool reliable, uint8_t seq, uint8_t ack, uint8_t channel, size_t length);

// Whole frame: C0, escaped header, payload and CRC, C0. The CRC is always
// present (the module sets the CRC-present bit on every packet).
std::vector<uint8_t> BuildFrame(const Header& header, const std::vector<uint8_t>& payload);

// Pure acknowledgement frame carrying `ack`.
std::vector<uint8_t> BuildPureAck(uint8_t ack);

// Link-establishment message frame (index: bcsp::kSync .. kConfResp).
std::vector<uint8_t> BuildLinkMessage(uint8_t index);

enum class DecodeError : uint8_t {
    None,
    TooShort,       // fewer than the 4 header bytes
    BadEscape,      // DB followed by anything but DC or DD
    HeaderChecksum,
    Length,         // payload length field disagrees with the bytes received
    Crc,
};

struct DecodedPacket {
    DecodeError error = DecodeError::None;
    Header header{};
    bool reliable = false;
    bool crcPresent = false;
    uint8_t seq = 0;
    uint8_t ack = 0;
    uint8_t channel = 0;
    std::vector<uint8_t> payload;
};

// Decodes one frame; delimiters may be included or not.
DecodedPacket DecodeFrame(const std::vector<uint8_t>& frame);

// 0..3 for the link messages, bcsp::kNoLinkMsg for anything else.
uint8_t LinkMessageIndex(const std::vector<uint8_t>& payload);

}  // namespace kzsim
