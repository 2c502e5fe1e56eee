// The link's state in one object: the link-establishment and sequence state,
// the send window, the confirmation flag, the receive framer and buffers, the
// Tx copy and the counters. Each field says who changes it and under which
// guard. The names that hosts, tests and the rest of the library use
// (ubcsp_config, g_RxFrameBuf, g_bCfmForTheLastREQ, ...) are references
// into it.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "link/bcsp_packet.h"
#include "link/bcsp_protocol.h"
#include "link/framer.h"
#include "link/send_window.h"

namespace kz {

enum LinkState : uint8_t { kShy = 0, kCurious = 1, kGarrulous = 2 };

struct UbcspConfig {
    std::atomic<uint8_t> link_establishment_state{kShy};
    std::atomic<uint8_t> sequence_number{0};
    std::atomic<uint8_t> ack_number{0};
    std::atomic<bool> send_ack{false};
    std::atomic<BcspPacket*> send_packet{nullptr};
    std::atomic<BcspPacket*> receive_packet{nullptr};
    std::atomic<int8_t> awaiting_ack{0};
};

// What the link went through, for tests, figures and the console: frames the
// send thread wrote again, reliable packets given up after three
// transmissions, received frames rejected by validation, and requests passed
// over after waiting for their confirmation too long (command_queue.h).
struct LinkCounters {
    std::atomic<uint32_t> retransmitted{0};
    std::atomic<uint32_t> givenUp{0};
    std::atomic<uint32_t> rejectedFrames{0};
    std::atomic<uint32_t> unconfirmedPassedOver{0};   // requests whose confirmation never came
    std::atomic<uint32_t> recovered{0};   // given-up packets sent again: the module never had them
    std::atomic<uint32_t> offeredAgain{0};   // packets in doubt written again while the line was idle
    std::atomic<uint32_t> droppedForGood{0};   // not delivered within the bound (send_window.h)
};

struct BcspLink {
    // Numbers and link establishment. sequence_number, ack_number,
    // awaiting_ack and send_packet change under stateMutex.
    UbcspConfig config;
    // Serialises the updates of the numbers and the window between the packet
    // builder (which holds "MUTEX_SEND"), the receive thread and the send
    // thread. Taken after "MUTEX_SEND", never while "MUTEX_UART" is held, and
    // nothing else is taken while it is held.
    std::mutex stateMutex;
    SendWindowState window;
    BcspPacket txDescriptor{};   // the outstanding packet's (send_packet), under stateMutex
    // True while no request awaits its confirmation: the command queue clears
    // it when a request goes out and sets it when the channel frees; the link
    // reads it to know whether an acknowledgement or a give-up frees the
    // channel, and the send thread whether to watch for a confirmation.
    std::atomic<uint8_t> requestConfirmed{1};
    // The module-ready indication was answered: its RES's acknowledgement
    // wakes the event thread's device-ready notice.
    std::atomic<uint8_t> moduleReadyPending{0};
    // Receive thread only.
    Framer framer;
    BcspPacket rxPacket{};
    uint8_t rxPayload[bcsp::kRxPayloadSize] = {};
    // The last reliable frame written, under "MUTEX_UART".
    uint8_t txFrame[bcsp::kFrameBufferSize] = {};
    uint16_t txFrameLength = 0;
    LinkCounters counters;
};

extern BcspLink g_Link;

// The names the library, its hosts and its tests use.
inline UbcspConfig& ubcsp_config = g_Link.config;
inline std::mutex& g_LinkStateMutex = g_Link.stateMutex;
inline std::atomic<uint8_t>& g_bCfmForTheLastREQ = g_Link.requestConfirmed;
inline std::atomic<uint8_t>& g_bModuleReadyPending = g_Link.moduleReadyPending;
inline uint8_t (&g_RxFrameBuf)[bcsp::kFrameBufferSize] = g_Link.framer.buffer;
inline uint16_t& g_nRxWriteIndex = g_Link.framer.writeIndex;
inline uint32_t& g_nRxFramingState = g_Link.framer.state;
inline uint8_t& g_bRxFrameReady = g_Link.framer.frameReady;
inline uint16_t& g_nRxFrameLength = g_Link.framer.length;
inline BcspPacket& g_RxPacket = g_Link.rxPacket;
inline uint8_t (&g_RxPayloadBuf)[bcsp::kRxPayloadSize] = g_Link.rxPayload;
inline uint8_t (&g_TxPacketBuf)[bcsp::kFrameBufferSize] = g_Link.txFrame;
inline uint16_t& g_nTxPacketLen = g_Link.txFrameLength;
inline LinkCounters& g_LinkCounters = g_Link.counters;

// Everything above back to its state at load (tests; start-up).
void ResetLinkState();

}  // namespace kz
