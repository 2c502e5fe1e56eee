// The BCSP codec: CRC, SLIP escaping, link-message recognition, frame building
// and frame checking. Pure functions over caller-owned buffers, no state;
// the module simulator uses them too. The sending side is bcsp_packet.h.
#pragma once
#include <cstddef>
#include <cstdint>

#include "link/bcsp_protocol.h"

namespace kz {

uint16_t BcspCrcUpdate(uint16_t crc, uint8_t byte);
uint16_t BcspCrcReverse(uint16_t crc);
// CRC over a byte run, starting at 0xFFFF, reversed: the value sent high byte first.
uint16_t BcspCrc(const uint8_t* data, size_t n);
// Returns the number of escape pairs written; output length = count + result.
// `out` must hold 2 * count bytes.
size_t SlipEncode(const uint8_t* in, uint8_t* out, size_t count);
// Payload mode (header_mode false) decodes all of in_count bytes, writing at
// most out_cap bytes (extra bytes are counted but not stored); header mode
// stops after 4 output bytes. Returns escape pairs consumed; *out_len gets
// the decoded length (which may exceed out_cap: the caller rejects that).
size_t SlipDecode(const uint8_t* in, uint8_t* out, bool header_mode, size_t in_count,
                  size_t out_cap, size_t* out_len);
// 0..3 for sync, sync-resp, conf, conf-resp; 5 for none. Needs 4 bytes.
uint8_t MatchLinkMsg(const uint8_t* payload, size_t length);
// Builds a whole frame (C0 ... C0) from a complete header and payload into out
// (capacity out_cap). Returns the frame length, 0 if it does not fit.
size_t BcspBuildFrame(const uint8_t header[4], const uint8_t* payload, size_t length,
                      uint8_t* out, size_t out_cap);

// Why a received frame was rejected, in the order the checks run.
enum class FrameCheck : uint8_t { kOk, kBadChecksum, kBadLength, kBadCrc };
// Validates one frame (C0 ... C0, n bytes with both delimiters): decodes the
// header into header_out and the payload and CRC into payload_out (capacity
// payload_cap; a frame that decodes to more is a length error, nothing is
// written past the buffer). *decoded gets the decoded payload+CRC length.
// Checks header checksum, then length, then CRC. Sequence numbers are the
// link engine's business.
FrameCheck BcspCheckFrame(const uint8_t* frame, size_t n, uint8_t header_out[4],
                          uint8_t* payload_out, size_t payload_cap, size_t* decoded);

}  // namespace kz
