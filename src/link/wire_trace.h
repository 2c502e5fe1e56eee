// Wire trace: every frame that crosses the module's serial line, both ways,
// written to a pcap file (one record per frame) that tshark and `kztarn
// decode` read.
//
// Format: classic pcap, microsecond time stamps, link type LINKTYPE_SLIP (8).
// Each record starts with the 16-byte SLIP pseudo-header whose first byte is
// the direction (0 received by the head unit = module to host, 1 sent by the
// head unit = host to module); the other 15 bytes are zero. The frame follows
// exactly as it crossed the line: C0, SLIP-escaped header, payload and CRC, C0.
//
// The trace is on when $KZ_TARN_WIRE_TRACE names a file: it is opened once,
// at the first frame, and truncated. Calls are thread-safe.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz {

inline constexpr char kWireTraceEnv[] = "KZ_TARN_WIRE_TRACE";

namespace pcap {
inline constexpr uint32_t kMagicMicroseconds = 0xA1B2C3D4;
inline constexpr uint16_t kVersionMajor = 2;
inline constexpr uint16_t kVersionMinor = 4;
inline constexpr uint32_t kSnapLength = 65535;
inline constexpr uint32_t kLinkTypeSlip = 8;
inline constexpr size_t kFileHeaderSize = 24;
inline constexpr size_t kRecordHeaderSize = 16;
inline constexpr size_t kSlipPseudoHeaderSize = 16;
inline constexpr uint8_t kDirReceived = 0;   // module to host
inline constexpr uint8_t kDirSent = 1;       // host to module
}  // namespace pcap

enum class WireDir : uint8_t { kFromModule = pcap::kDirReceived, kToModule = pcap::kDirSent };

// Opens (truncates) the file and writes the pcap header; replaces an open
// trace. False when the file cannot be written.
bool WireTraceStart(const char* path);
// Closes the trace (later frames are not written, the variable is not read again).
void WireTraceStop();
// One record; the first call of the process opens $KZ_TARN_WIRE_TRACE when set.
void WireTraceFrame(WireDir dir, const uint8_t* frame, size_t n);

}  // namespace kz
