// BCSP packet codec: CRC, SLIP escaping, link-message recognition (pure), and
// the building, writing and validating of packets against ubcsp_config.
#pragma once
#include <cstddef>
#include <cstdint>

#include "link/bcsp_protocol.h"
#include "kz_platform.h"
#include "link/send_window.h"

namespace kz {

// ---- pure codec, shared with the simulator ----
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

// ---- packet descriptor ----
struct BcspPacket {
    uint8_t channel = 0;
    uint8_t reliable = 0;
    uint8_t use_crc = 0;
    uint32_t length = 0;
    const uint8_t* payload = nullptr;
};

// ---- stateful sending (under "MUTEX_SEND") ----
// A reliable packet goes through the send window (link/send_window.h): it is
// numbered and written when the window is free, else it waits there in
// order. An unreliable one is numbered in place and written at once.
// `since`: the tick the packet's delivery bound counts from (now, or when a
// request was queued).
void BcspSendPacket(uint8_t header[4], const uint8_t* payload, uint8_t length,
                    PacketKind kind = PacketKind::kOther, uint32_t since = KzGetTickCount());
void BcspSendPureAck();
// Takes "MUTEX_UART" around one write to the module port.
void UartTransmit(const uint8_t* bytes, uint16_t count);

// Copy of the last reliable frame written (written and read under
// "MUTEX_UART"). Retransmissions are built afresh from the outstanding packet
// (link/send_window.h), so that they carry the acknowledgement of now.
extern uint8_t g_TxPacketBuf[bcsp::kFrameBufferSize];
extern uint16_t g_nTxPacketLen;

// Writes a reliable packet's frame and keeps its copy.
void BcspWriteReliableFrame(const uint8_t* frame, uint16_t count);

// Test seam: when set, every port write goes to the tap instead (and the
// port is not touched). Unit tests of the link and queue assert on frames.
using UartTap = void (*)(const uint8_t* bytes, uint16_t count);
void SetUartTapForTest(UartTap tap);

// ---- receive validation: first half of BcspReceive ----
// Returns true when the frame is a valid packet; fills the receive descriptor
// and the decoded header. A rejected frame sets ubcsp_config.send_ack.
bool BcspValidateFrame(const uint8_t* frame, size_t n, uint8_t header_out[4]);
// The receive descriptor and its 512-byte payload buffer.
extern BcspPacket g_RxPacket;
extern uint8_t g_RxPayloadBuf[bcsp::kRxPayloadSize];

}  // namespace kz
