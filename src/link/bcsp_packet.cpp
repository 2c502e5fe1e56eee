// BCSP packets against the link state (see bcsp_packet.h).
#include "link/bcsp_packet.h"

#include <cstring>

#include "core/sync_objects.h"
#include "core/trace.h"
#include "link/bcsp_link.h"
#include "link/send_window.h"
#include "link/serial_port.h"
#include "link/wire_trace.h"

namespace kz {

using namespace bcsp;

namespace {

std::atomic<UartTap> uartTap{nullptr};

// Caller holds "MUTEX_UART".
void WritePort(const uint8_t* bytes, uint16_t count) {
    WireTraceFrame(WireDir::kToModule, bytes, count);
    if (UartTap tap = uartTap.load()) {
        tap(bytes, count);
        return;
    }
    g_SerialPort.Write(bytes, count);
}

}  // namespace

void SetUartTapForTest(UartTap tap) { uartTap = tap; }

void UartTransmit(const uint8_t* bytes, uint16_t count) {
    NamedLock uart(g_hMutexUart, "MUTEX_UART");
    WritePort(bytes, count);
}

void BcspWriteReliableFrame(const uint8_t* frame, uint16_t count) {
    // The copy changes under "MUTEX_UART", with the write.
    NamedLock uart(g_hMutexUart, "MUTEX_UART");
    std::memcpy(g_TxPacketBuf, frame, count);
    g_nTxPacketLen = count;
    WritePort(frame, count);
}

void BcspSendPacket(uint8_t header[4], const uint8_t* payload, uint8_t length, PacketKind kind,
                    uint32_t since) {
    if ((HeaderPayloadLength(header) & 0xFF) != length) {
        KZ_TRACE("Send Length Error\n");
        return;
    }
    if (HeaderReliable(header)) {
        WindowSend(header, payload, length, kind, since);
        return;
    }
    // Unreliable (link messages): written at once with the current numbers;
    // it neither waits for the window nor replaces the retransmission copy.
    uint8_t frame[kFrameBufferSize];
    size_t frameLen = 0;
    {
        std::lock_guard<std::mutex> state(g_LinkStateMutex);
        header[0] |= static_cast<uint8_t>(ubcsp_config.sequence_number |
                                          (ubcsp_config.ack_number << kAckShift));
    }
    header[3] = HeaderChecksum(header[0], header[1], header[2]);
    // The CRC goes out even when the header's CRC bit is clear.
    frameLen = BcspBuildFrame(header, payload, length, frame, sizeof frame);
    UartTransmit(frame, static_cast<uint16_t>(frameLen));
}

void BcspSendPureAck() {
    const uint8_t flags = static_cast<uint8_t>((ubcsp_config.ack_number << kAckShift) | kCrcPresent);
    const uint8_t header[kHeaderSize] = {flags, 0x00, 0x00, static_cast<uint8_t>(~flags)};
    const uint16_t crc = BcspCrc(header, kHeaderSize);
    // These bytes never need escaping.
    const uint8_t frame[] = {kSlipEnd,  header[0], header[1], header[2], header[3],
                             static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF),
                             kSlipEnd};
    UartTransmit(frame, sizeof frame);
}

bool BcspValidateFrame(const uint8_t* frame, size_t n, uint8_t header_out[4]) {
    g_RxPacket = BcspPacket{};
    g_RxPacket.length = kRxPayloadSize;
    g_RxPacket.payload = g_RxPayloadBuf;
    ubcsp_config.receive_packet = &g_RxPacket;

    size_t decoded = 0;
    const FrameCheck check =
        BcspCheckFrame(frame, n, header_out, g_RxPayloadBuf, kRxPayloadSize, &decoded);
    if (check == FrameCheck::kOk) {
        g_RxPacket.channel = HeaderChannel(header_out);
        g_RxPacket.reliable = HeaderReliable(header_out) ? 1 : 0;
        g_RxPacket.use_crc = HeaderCrcPresent(header_out) ? 1 : 0;
        return true;
    }
    const unsigned length = HeaderPayloadLength(header_out);
    if (check == FrameCheck::kBadLength && HeaderCrcPresent(header_out))
        KZ_TRACE("\n######################## Slip Length Error (With CRC) %u,%d\n", length,
                 static_cast<int>(decoded) - 2);
    else if (check == FrameCheck::kBadLength)
        KZ_TRACE("\n######################## Slip Length Error (No CRC) %u,%d\n", length,
                 static_cast<int>(decoded));
    else if (check == FrameCheck::kBadCrc)
        KZ_TRACE("\n######################## CRC Error\n");
    ubcsp_config.send_ack = true;
    return false;
}

}  // namespace kz
