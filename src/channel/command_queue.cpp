// The outgoing command queue: the module handles one request at a time, so a
// request goes out only when the previous one is confirmed and the link has
// no reliable packet waiting for its acknowledgement.
#include "channel/command_queue.h"

#include <cstring>
#include <new>
#include <utility>

#include "channel/module_message.h"
#include "core/sync_objects.h"
#include "core/trace.h"
#include "link/bcsp_link.h"
#include "link/bcsp_packet.h"

namespace kz {

std::list<std::unique_ptr<CmdRecord>> g_vCmdList;

namespace {

std::atomic<SubmitTap> submitTap{nullptr};
// When the request now awaiting its confirmation went out.
std::atomic<uint32_t> requestSentTick{0};
std::atomic<uint32_t> confirmationTimeoutMs{kConfirmationTimeoutMs};

constexpr uint32_t kLengthMask = 0xFF;   // the packet builder takes 8 bits

void Send(const uint8_t header[4], const uint8_t* payload, uint32_t length,
          PacketKind kind = PacketKind::kOther, uint32_t since = KzGetTickCount()) {
    uint8_t hdr[bcsp::kHeaderSize];
    std::memcpy(hdr, header, sizeof hdr);
    BcspSendPacket(hdr, payload, static_cast<uint8_t>(length & kLengthMask), kind, since);
}

// A request just went out: the send thread must be awake to watch for its
// confirmation. The packet builder wakes it only while the packet is still
// unacknowledged; a module that acknowledged at once leaves that to us.
void SendRequest(const uint8_t header[4], const uint8_t* payload, uint32_t length,
                 uint32_t queuedTick = KzGetTickCount()) {
    Send(header, payload, length, PacketKind::kRequest, queuedTick);
    if (!ubcsp_config.awaiting_ack.load()) SignalEvent(g_hResendEvent);
}

// Caller holds "MUTEX_SEND". Takes the front record out of the list (under
// "MUTEX_LIST_SEND", so a concurrent clear never frees it under us). A
// record queued longer ago than the link's delivery bound is dropped for
// good: the user gave up on it.
std::unique_ptr<CmdRecord> PopFront() {
    NamedLock list(g_hMutexListSend, "MUTEX_LIST_SEND");
    const uint32_t now = KzGetTickCount();
    while (!g_vCmdList.empty()) {
        std::unique_ptr<CmdRecord> r = std::move(g_vCmdList.front());
        g_vCmdList.pop_front();
        if (!DeliveryExpired(r->queuedTick, DeliveryBoundMs(), now)) return r;
        KZ_TRACE("queued request %02x-%02x dropped for good: waited past its bound\n", r->payload[5],
                 r->payload[4]);
        ++g_LinkCounters.droppedForGood;
    }
    return nullptr;
}

// Caller holds "MUTEX_SEND".
void SendRecord(std::unique_ptr<CmdRecord> r) {
    g_bCfmForTheLastREQ = 0;
    requestSentTick = KzGetTickCount();
    KZ_TRACE("SendNextCmd... -------------Send Req Cmd...: %02x-%02x\r", r->payload[5],
             r->payload[4]);
    SendRequest(r->header, r->payload, r->length, r->queuedTick);
}

void SendNextLocked();

// Caller holds "MUTEX_LIST_SEND". A list node that cannot be had loses the
// request, as when the record itself cannot be made.
bool PushWithoutThrowing(std::unique_ptr<CmdRecord> r, bool front) {
    try {
        if (front) g_vCmdList.push_front(std::move(r));
        else g_vCmdList.push_back(std::move(r));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::unique_ptr<CmdRecord> MakeRecord(const uint8_t header[4], const uint8_t* payload,
                                      uint32_t length) {
    std::unique_ptr<CmdRecord> r(new (std::nothrow) CmdRecord);
    if (r == nullptr) return nullptr;
    std::memset(r->payload, 0, sizeof r->payload);
    std::memcpy(r->header, header, sizeof r->header);
    if (length != 0) std::memcpy(r->payload, payload, length);
    r->length = length;
    r->queuedTick = KzGetTickCount();
    return r;
}

// Caller holds "MUTEX_SEND". False when the record cannot be made.
bool Append(const uint8_t header[4], const uint8_t* payload, uint32_t length) {
    std::unique_ptr<CmdRecord> r = MakeRecord(header, payload, length);
    if (r == nullptr) return false;
    NamedLock list(g_hMutexListSend, "MUTEX_LIST_SEND");
    return PushWithoutThrowing(std::move(r), /*front=*/false);
}

}  // namespace

void SetSubmitTapForTest(SubmitTap tap) { submitTap = tap; }

void SubmitPacket(const uint8_t header[4], const uint8_t* payload, uint32_t length, uint32_t mode) {
    if (header == nullptr || (payload == nullptr && length != 0)) return;
    if (SubmitTap tap = submitTap.load()) {
        tap(header, payload, length, mode);
        return;
    }
    // The link takes at most 255 message bytes; a longer one is refused
    // rather than cut to its low 8 length bits.
    if (length > msg::kMaxOutgoing) {
        KZ_TRACE("SubmitPacket: %u-byte message refused\n", length);
        return;
    }
    NamedLock send(g_hMutexSend, "MUTEX_SEND");
    if (mode != kSubmitQueued) {
        Send(header, payload, length);
        return;
    }
    const bool channelFree =
        g_bCfmForTheLastREQ.load() && ubcsp_config.awaiting_ack.load() != 1;
    if (channelFree && CmdListSize() == 0) {
        KZ_TRACE("***********g_bCfmForTheLastREQ CMD : %02x-%02x********\n\r",
                 length > 5 ? payload[5] : 0, length > 4 ? payload[4] : 0);
        // Cleared before the packet goes out, as SendRecord does: the send
        // thread, woken by the packet, then sees a request awaiting its
        // confirmation and watches for it.
        g_bCfmForTheLastREQ = 0;
        requestSentTick = KzGetTickCount();
        SendRequest(header, payload, length);
        return;
    }
    if (!Append(header, payload, length)) {
        KZ_TRACE("SubmitPacket: no memory for a queued request\n");
        return;
    }
    // Requests left waiting while the channel became free go first.
    if (channelFree) {
        if (std::unique_ptr<CmdRecord> r = PopFront()) SendRecord(std::move(r));
    }
}

void SendNextCmd() {
    NamedLock send(g_hMutexSend, "MUTEX_SEND");
    SendNextLocked();
}

void SendNextCmdIf(bool whileConfirmed) {
    NamedLock send(g_hMutexSend, "MUTEX_SEND");
    if ((g_bCfmForTheLastREQ.load() != 0) == whileConfirmed) SendNextLocked();
}

namespace {
void SendNextLocked() {
    KZ_TRACE("SendNextCmd... g_vCmdList size = %d", static_cast<int>(CmdListSize()));
    if (std::unique_ptr<CmdRecord> r = PopFront()) {
        SendRecord(std::move(r));
    } else {
        g_bCfmForTheLastREQ = 1;
    }
}
}  // namespace

void ReturnToQueueFront(const uint8_t header[4], const uint8_t* payload, uint32_t length,
                        uint32_t queuedTick) {
    std::unique_ptr<CmdRecord> r = MakeRecord(header, payload, length);
    if (r != nullptr) r->queuedTick = queuedTick;
    NamedLock list(g_hMutexListSend, "MUTEX_LIST_SEND");
    if (r == nullptr || !PushWithoutThrowing(std::move(r), /*front=*/true))
        KZ_TRACE("ReturnToQueueFront: no memory, request dropped\n");
}

void AwaitConfirmationAgain() {
    g_bCfmForTheLastREQ = 0;
    requestSentTick = KzGetTickCount();
}

void SetConfirmationTimeoutForTest(uint32_t ms) {
    confirmationTimeoutMs = ms != 0 ? ms : kConfirmationTimeoutMs;
}

uint32_t ConfirmationTimeoutMs() { return confirmationTimeoutMs; }

uint32_t ConfirmationPollMs() {
    constexpr uint32_t kMinPollMs = 50, kMaxPollMs = 1000, kPollsPerTimeout = 4;
    const uint32_t ms = ConfirmationTimeoutMs() / kPollsPerTimeout;
    return ms < kMinPollMs ? kMinPollMs : ms > kMaxPollMs ? kMaxPollMs : ms;
}

bool PassOverUnconfirmed() {
    NamedLock send(g_hMutexSend, "MUTEX_SEND");
    if (g_bCfmForTheLastREQ.load() || ubcsp_config.awaiting_ack.load()) return false;
    if (KzGetTickCount() - requestSentTick.load() < confirmationTimeoutMs.load()) return false;
    KZ_TRACE("No confirmation for %u ms, passing over the request\n", confirmationTimeoutMs.load());
    ++g_LinkCounters.unconfirmedPassedOver;
    SendNextLocked();
    return true;
}

void ClearCmdList() {
    NamedLock list(g_hMutexListSend, "MUTEX_LIST_SEND");
    g_vCmdList.clear();
}

size_t CmdListSize() {
    NamedLock list(g_hMutexListSend, "MUTEX_LIST_SEND");
    return g_vCmdList.size();
}

void ResetCommandQueue() {
    ClearCmdList();
    g_bCfmForTheLastREQ = 1;
    submitTap = nullptr;
    confirmationTimeoutMs = kConfirmationTimeoutMs;
}

}  // namespace kz
