// BCSP link engine: establishment, sequencing, acknowledgement, peer reset,
// retransmission (send thread).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "link/bcsp_packet.h"
#include "link/link_state.h"

namespace kz {

inline constexpr uint8_t BCSP_ACT_ACKED = 0x01;
inline constexpr uint8_t BCSP_ACT_RECEIVED = 0x02;
inline constexpr uint8_t BCSP_ACT_PEER_RESET = 0x04;
inline constexpr uint8_t BCSP_ACT_RELIABLE = 0x08;

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

// The send thread's resend counter (kept between waits).
inline constexpr uint32_t kResendTimeoutMs = 250;
inline constexpr uint32_t kResendGiveUpCount = 3;

}  // namespace kz
