// BCSP wire constants and tiny header helpers: the one place that names the
// framing bytes, header bits and channels.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz::bcsp {

inline constexpr uint8_t kSlipEnd = 0xC0;      // frame delimiter
inline constexpr uint8_t kSlipEsc = 0xDB;      // escape introducer
inline constexpr uint8_t kSlipEscEnd = 0xDC;   // DB DC = C0
inline constexpr uint8_t kSlipEscEsc = 0xDD;   // DB DD = DB

inline constexpr size_t kHeaderSize = 4;
inline constexpr size_t kCrcSize = 2;
inline constexpr size_t kFrameBufferSize = 1024;    // framer and frame building
inline constexpr size_t kRxPayloadSize = 512;       // receive payload buffer
inline constexpr size_t kReadAheadSize = 4096;      // serial input read in one call
inline constexpr size_t kMaxPayload = 0xFFF;        // 12-bit length field

// Header byte 0
inline constexpr uint8_t kSeqMask = 0x07;
inline constexpr uint8_t kAckShift = 3;
inline constexpr uint8_t kAckMask = 0x38;
inline constexpr uint8_t kCrcPresent = 0x40;
inline constexpr uint8_t kReliable = 0x80;
// Header byte 1: channel, then the low 4 bits of the 12-bit payload length;
// byte 2: the high 8 bits.
inline constexpr uint8_t kChannelMask = 0x0F;
inline constexpr uint8_t kLengthLowBits = 4;
inline constexpr uint8_t kLengthLowShift = 4;
inline constexpr size_t kLengthLowMask = 0x0F;

inline constexpr uint8_t kChannelAck = 0;       // pure ack (unreliable); AT reset (reliable)
inline constexpr uint8_t kChannelLink = 1;      // link establishment
inline constexpr uint8_t kChannelModule = 13;   // module messages

inline constexpr uint16_t kCrcInit = 0xFFFF;

// One's complement of the byte sum of header bytes 0..2.
constexpr uint8_t HeaderChecksum(uint8_t b0, uint8_t b1, uint8_t b2) {
    return static_cast<uint8_t>(~(b0 + b1 + b2));
}
constexpr bool HeaderChecksumOk(const uint8_t* h) {
    return static_cast<uint8_t>(h[0] + h[1] + h[2] + h[3]) == 0xFF;
}
constexpr uint16_t HeaderPayloadLength(const uint8_t* h) {
    return static_cast<uint16_t>((h[2] << kLengthLowBits) | (h[1] >> kLengthLowShift));
}
constexpr uint8_t HeaderChannel(const uint8_t* h) { return h[1] & kChannelMask; }
constexpr bool HeaderReliable(const uint8_t* h) { return (h[0] & kReliable) != 0; }
constexpr bool HeaderCrcPresent(const uint8_t* h) { return (h[0] & kCrcPresent) != 0; }
constexpr uint8_t HeaderSeq(const uint8_t* h) { return h[0] & kSeqMask; }
constexpr uint8_t HeaderAck(const uint8_t* h) { return (h[0] & kAckMask) >> kAckShift; }

// Link-establishment messages: index = MatchLinkMsg result.
enum LinkMsg : uint8_t { kSync = 0, kSyncResp = 1, kConf = 2, kConfResp = 3, kNoLinkMsg = 5 };
inline constexpr uint8_t kLinkMsgPayloads[4][4] = {
    {0xDA, 0xDC, 0xED, 0xED},  // sync
    {0xAC, 0xAF, 0xEF, 0xEE},  // sync-resp
    {0xAD, 0xEF, 0xAC, 0xED},  // conf
    {0xDE, 0xAD, 0xD0, 0xD0},  // conf-resp
};
// Unreliable, CRC present, channel 1, length 4.
inline constexpr uint8_t kLinkMsgHeaderTemplate[4] = {0x40, 0x41, 0x00, 0x7E};

}  // namespace kz::bcsp
