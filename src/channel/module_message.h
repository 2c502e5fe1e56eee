// Module message layout: length in words, marker 0x55, class, id, parameters.
#pragma once
#include <cstddef>
#include <cstdint>

#include "link/bcsp_protocol.h"

namespace kz::msg {

inline constexpr uint8_t kMarker = 0x55;
inline constexpr size_t kParamOffset = 6;
inline constexpr size_t kMaxOutgoing = 255;     // the send path's 8-bit length
inline constexpr size_t kMaxInbound = 1024;     // dispatch buffer / queued record

inline uint16_t Id(const uint8_t* m) { return static_cast<uint16_t>(m[4] | (m[5] << 8)); }
inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// Writes the 6-byte head: length field = bytes / 2 (bytes must be even).
inline void WriteHead(uint8_t* m, size_t bytes, uint8_t cls, uint16_t id) {
    m[0] = static_cast<uint8_t>((bytes / 2) & 0xFF);
    m[1] = static_cast<uint8_t>((bytes / 2) >> 8);
    m[2] = kMarker;
    m[3] = cls;
    m[4] = static_cast<uint8_t>(id & 0xFF);
    m[5] = static_cast<uint8_t>(id >> 8);
}

// BCSP header template for an n-byte module message: reliable, with CRC, on
// the module channel; the link fills in the numbers and the checksum.
inline void ModuleHeaderTemplate(uint8_t hdr[4], size_t n, uint8_t channel = bcsp::kChannelModule) {
    hdr[0] = bcsp::kReliable | bcsp::kCrcPresent;
    hdr[1] = static_cast<uint8_t>(((n & bcsp::kLengthLowMask) << bcsp::kLengthLowShift) |
                                  (channel & bcsp::kChannelMask));
    hdr[2] = static_cast<uint8_t>(n >> bcsp::kLengthLowBits);
    hdr[3] = 0;
}

}  // namespace kz::msg
