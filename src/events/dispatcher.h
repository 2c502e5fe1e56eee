// Inbound dispatch (receive thread) and the event thread.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>

namespace kz {

struct InboundRecord {
    uint16_t nMsgId;
    uint16_t nLength;
    uint8_t abData[1024];
};

extern std::list<std::unique_ptr<InboundRecord>> g_lstInbound;   // guarded by "MUTEX_LIST"
extern uint8_t g_abRecvMsg[1024];                // receive thread only
extern std::atomic<uint8_t> g_bMediaOpen;
extern std::atomic<uint8_t> g_bDutMode;

// Called by the link for every reliable in-sequence packet. Messages longer
// than 1024 bytes are dropped.
void DispatchModuleMessage(uint16_t id, const uint8_t* message, size_t length);
void PostInboundMessage(uint16_t id, const uint8_t* message, size_t length);
uint32_t EventThreadProc(void*);
// Runs the event-thread handler for one queued message (tests call it directly).
void RunQueuedHandler(uint16_t id, const uint8_t* data, size_t length);
// Handles every record waiting in g_lstInbound, in order (one wake-up's work).
void DrainInboundQueue();
// Test-mode confirmation (id 20, event thread): g_bDutMode and the "DUT Mode" box.
void OnTestModeCfm(const uint8_t* msg, size_t len);
// Frees every record still in g_lstInbound (close, after the event thread ended).
void FreeInboundQueue();
void ResetDispatcher();   // frees queued records, clears flags

}  // namespace kz
