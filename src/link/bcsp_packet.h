// BCSP packets against the link state: the packet descriptor, numbering and
// writing a packet (under "MUTEX_SEND"), the pure acknowledgement, the write
// to the port (under "MUTEX_UART") and the validation half of the receive step.
#pragma once
#include <cstddef>
#include <cstdint>

#include "kz_platform.h"
#include "link/bcsp_codec.h"
#include "link/bcsp_protocol.h"
#include "link/send_window.h"

namespace kz {

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

// Writes a reliable packet's frame and keeps its copy in g_TxPacketBuf (under
// "MUTEX_UART"). Retransmissions are built afresh from the outstanding packet
// (link/send_window.h), so that they carry the acknowledgement of now.
void BcspWriteReliableFrame(const uint8_t* frame, uint16_t count);

// Test seam: when set, every port write goes to the tap instead (and the
// port is not touched). Unit tests of the link and queue assert on frames.
using UartTap = void (*)(const uint8_t* bytes, uint16_t count);
void SetUartTapForTest(UartTap tap);

// ---- receive validation: first half of BcspReceive ----
// Returns true when the frame is a valid packet; fills the receive descriptor
// and the decoded header. A rejected frame sets ubcsp_config.send_ack.
bool BcspValidateFrame(const uint8_t* frame, size_t n, uint8_t header_out[4]);
// The receive descriptor is g_RxPacket, its 512-byte payload buffer
// g_RxPayloadBuf (link/link_state.h).

}  // namespace kz
