// BCSP link engine: establishment, sequencing, acknowledgement, peer reset,
// retransmission (send thread).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "link/bcsp_codec.h"

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
extern UbcspConfig ubcsp_config;

inline constexpr uint8_t BCSP_ACT_ACKED = 0x01;
inline constexpr uint8_t BCSP_ACT_RECEIVED = 0x02;
inline constexpr uint8_t BCSP_ACT_PEER_RESET = 0x04;
inline constexpr uint8_t BCSP_ACT_RELIABLE = 0x08;

extern std::atomic<uint8_t> g_bModuleReadyPending;

uint8_t BcspReceive(const uint8_t* frame, size_t length);
void BcspActivity(uint8_t flags);
// Link-establishment message 0..3, written at once.
void SendLinkMsg(uint8_t index);

// For benchmarks only: KZ_TARN_RX_POLL_MS=n (1..1000) makes the receive
// thread sleep n ms between passes instead of waiting for input, as a fixed
// poller does, so both can be measured side by side. Read once when the
// thread starts; unset (or out of range) = wait for input, no other effect.
inline constexpr const char* kRecvPollEnv = "KZ_TARN_RX_POLL_MS";
inline constexpr uint32_t kRecvPollMaxMs = 1000;
uint32_t RecvPollIntervalMs();

// The send thread's give-up of the outstanding packet after its third
// transmission: counted, put in doubt, and a given-up request passed over.
void GiveUpOutstanding();

// Thread bodies (started by KZ_BT_DeviceInit).
uint32_t RecvThreadProc(void*);
uint32_t SendThreadProc(void*);

// Serialises the updates of sequence_number, ack_number, awaiting_ack and
// send_packet between the packet builder (which holds "MUTEX_SEND"), the
// receive thread and the send thread. Taken after "MUTEX_SEND", never while
// "MUTEX_UART" is held, and nothing else is taken while it is held.
extern std::mutex g_LinkStateMutex;

// The send thread's resend counter (kept between waits).
inline constexpr uint32_t kResendTimeoutMs = 250;
inline constexpr uint32_t kResendGiveUpCount = 3;

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
extern LinkCounters g_LinkCounters;

// Resets ubcsp_config, descriptors, framer and counters (tests; start-up).
void ResetLinkState();

}  // namespace kz
