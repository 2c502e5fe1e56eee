// Constants of the module-message layer, as the module sees it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kzsim {

inline constexpr size_t kMsgParams = 6;        // parameters start here
inline constexpr size_t kMsgStatus = 6;        // CFM status byte
inline constexpr uint8_t kMsgMarker = 0x55;
inline constexpr uint8_t kClassReq1 = 1;
inline constexpr uint8_t kClassReq2 = 2;
inline constexpr size_t kResSize = 6;          // a RES is 03 00 55 02 id

inline constexpr uint32_t kBaud = 115200;
inline constexpr uint32_t kBitsPerByte = 11;   // 8E1: start, 8 data, parity, stop

}  // namespace kzsim
