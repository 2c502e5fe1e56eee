// Outgoing command queue: SubmitPacket paces requests by confirmations.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>

#include "link/bcsp_link.h"   // g_bCfmForTheLastREQ

namespace kz {

struct CmdRecord {
    uint8_t header[4];
    uint8_t payload[1024];
    uint32_t length;
    uint32_t queuedTick;   // the link's delivery bound counts from here
};

extern std::list<std::unique_ptr<CmdRecord>> g_vCmdList;   // guarded by "MUTEX_LIST_SEND"

inline constexpr uint32_t kSubmitQueued = 0;       // paced through the queue
inline constexpr uint32_t kSubmitReply = 1;        // RES and IND replies
inline constexpr uint32_t kSubmitLink = 2;         // link establishment
inline constexpr uint32_t kSubmitAtReset = 3;      // AT-command reset

void SubmitPacket(const uint8_t header[4], const uint8_t* payload, uint32_t length, uint32_t mode);
void SendNextCmd();
// SendNextCmd only while g_bCfmForTheLastREQ still equals `whileConfirmed`,
// tested under "MUTEX_SEND": the link's release after an acknowledgement
// (true) and the send thread's release after a give-up (false) must not act
// on a flag that a request submitted meanwhile has changed.
void SendNextCmdIf(bool whileConfirmed);
// Empties the queue (close, module ready). Takes "MUTEX_LIST_SEND"
// (SendNextCmd takes the front record out under it before sending), so a
// clear on another thread never frees a record that is being sent.
void ClearCmdList();

// The link's recovery of a request that it had given up although the module
// never had it (link/send_window.h), caller holding "MUTEX_SEND": the request
// its give-up let through goes back to the head of the queue (keeping the
// tick it was queued at), and the request sent again awaits its
// confirmation once more.
void ReturnToQueueFront(const uint8_t header[4], const uint8_t* payload, uint32_t length,
                        uint32_t queuedTick);
void AwaitConfirmationAgain();
size_t CmdListSize();

// Test seam: when set, SubmitPacket hands every message to the tap instead of
// the link (unit tests of builders and handlers assert on these bytes).
using SubmitTap = void (*)(const uint8_t header[4], const uint8_t* payload, uint32_t length,
                           uint32_t mode);
void SetSubmitTapForTest(SubmitTap tap);

// A request whose confirmation never comes would hold the queue for good: a
// module that takes a request and never answers it, or a request given up
// by the link that a later one overtook. So the send thread passes over a
// request that has waited this long (longer than any confirmation a module
// takes: an inquiry runs about 21 s, pairing waits for a PIN typed by hand).
// Tests shorten it.
inline constexpr uint32_t kConfirmationTimeoutMs = 60000;
void SetConfirmationTimeoutForTest(uint32_t ms);   // 0: back to the default
uint32_t ConfirmationTimeoutMs();
// How often the send thread looks at a request awaiting its confirmation: a
// quarter of the timeout, within 50 ms .. 1 s.
uint32_t ConfirmationPollMs();
// Send thread, while a request awaits its confirmation: passes over it (the
// next queued request goes out, or the channel counts as free) once it has
// waited longer than the timeout with its packet no longer in flight. True
// when it did.
bool PassOverUnconfirmed();

void ResetCommandQueue();   // tests: empty list, flag true, no tap

}  // namespace kz
