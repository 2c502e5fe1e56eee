// Inbound dispatch: every confirmation and indication from the module passes
// here on the receive thread. The dispatch table says, per message id, whether
// it releases the next queued request, is answered with a RES, is handled on
// the spot, or is queued for the event thread.
#include "events/dispatcher.h"

#include <cstring>
#include <new>
#include <utility>

#include "channel/command_queue.h"
#include "channel/inbound_view.h"
#include "channel/module_ids.h"
#include "channel/module_message.h"
#include "channel/requests.h"
#include "core/sync_objects.h"
#include "core/trace.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/dispatch_table.h"
#include "events/inquiry.h"
#include "events/notify.h"
#include "link/bcsp_link.h"
#include "service/service.h"

namespace kz {

std::list<std::unique_ptr<InboundRecord>> g_lstInbound;
uint8_t g_abRecvMsg[msg::kMaxInbound] = {};
std::atomic<uint8_t> g_bMediaOpen{0};
std::atomic<uint8_t> g_bDutMode{0};

namespace {

constexpr size_t kStatusOffset = msg::kParamOffset;
constexpr uint8_t kStatusOk = 0;

void TraceParameters(uint16_t id, const uint8_t* m) {
    const uint8_t status = m[kStatusOffset];
    if (id == msgid::kRssi) {
        if (status == kStatusOk) KZ_TRACE("!!!!!!!!!!!!!!!RSSI = %d", m[kStatusOffset + 1]);
    } else if (id == msgid::kDial) {
        KZ_TRACE(status == kStatusOk ? "Dial sucess\n" : "Dial error\n");
    } else {
        KZ_TRACE("BTRevInBandRingRES(state = %d", status);
    }
}

}  // namespace

void DispatchModuleMessage(uint16_t id, const uint8_t* message, size_t length) {
    // The buffer holds 1024 bytes; a longer message is not taken at all.
    if (length > sizeof g_abRecvMsg || (message == nullptr && length != 0)) return;
    std::memset(g_abRecvMsg, 0, sizeof g_abRecvMsg);
    if (length) std::memcpy(g_abRecvMsg, message, length);

    const DispatchRow* row = FindDispatchRow(id);
    if (row == nullptr) return;
    const uint16_t actions = row->actions;
    const bool statusOk = g_abRecvMsg[kStatusOffset] == kStatusOk;
    if (actions & kRes) SendRes(id);
    if (actions & kRelease) SendNextCmd();
    if (actions & kTraceOnly) TraceParameters(id, g_abRecvMsg);
    if (id == msgid::kDial && !statusOk) ForgetDialledNumber();
    if (actions & kInline) row->onReceiveThread(g_abRecvMsg, length);
    if (!(actions & kIfStatusOk) || statusOk) {
        if (actions & kSetMediaOpen) g_bMediaOpen = 1;
        if (actions & kSetMediaClosed) g_bMediaOpen = 0;
    }
    if (actions & kSendReply160) REQ_REPLY_160();
    if (actions & kSendReply161) REQ_REPLY_161();
    if (actions & kSendReply291) REQ_REPLY_291();
    if (actions & kSendPbapContinue) {
        const bool accept = g_bHfpConnected.load() != 0;
        if (!accept) KZ_TRACE("Reject phonebook download");
        REQ_PBAP_CONTINUE(accept);
    }
    if (actions & kQueue) PostInboundMessage(id, g_abRecvMsg, length);
    if (actions & kReadyAfterAck) g_bModuleReadyPending = 1;
    if (actions & kReleaseLast) SendNextCmd();
}

void PostInboundMessage(uint16_t id, const uint8_t* message, size_t length) {
    if (length > msg::kMaxInbound) return;
    std::unique_ptr<InboundRecord> r(new (std::nothrow) InboundRecord);
    if (r == nullptr) return;   // the message is lost, as when the heap is out
    std::memset(r.get(), 0, sizeof *r);
    r->nMsgId = id;
    r->nLength = static_cast<uint16_t>(length);
    if (length) std::memcpy(r->abData, message, length);
    {
        NamedLock list(g_hMutexList, "MUTEX_LIST");
        try {
            g_lstInbound.push_back(std::move(r));
        } catch (const std::bad_alloc&) {
            return;   // lost as well
        }
    }
    SignalEvent(g_hInboundEvent);
}

// ------------------------------------------------------------ event thread

void RunQueuedHandler(uint16_t id, const uint8_t* data, size_t length) {
    const DispatchRow* row = FindDispatchRow(id);
    if (row != nullptr && row->onEventThread != nullptr) row->onEventThread(data, length);
}

namespace {

std::unique_ptr<InboundRecord> TakeFirstInbound() {
    NamedLock list(g_hMutexList, "MUTEX_LIST");
    if (g_lstInbound.empty()) return nullptr;
    std::unique_ptr<InboundRecord> r = std::move(g_lstInbound.front());
    g_lstInbound.pop_front();
    return r;
}

// Event thread indexes 1..4: the work of the other four events.
void OnNameRequest() {
    RequestNextName();
}

void OnModuleReadyAcked() {
    NotifyHost(KZ_NOTIFY_DEVICE_READY, 1, nullptr, 0);
}

void OnLinkKeyBackup() {
    BackupLinkKeysToEeprom();
}

void OnAfterCallEvent() {
    OnAfterCall();
}

enum EventIndex : uint32_t { kEvInbound, kEvNameRequest, kEvModuleReady, kEvLinkKeyBackup, kEvAfterCall, kEventCount };

}  // namespace

// Records that arrive while the thread works are handled in the same pass;
// handlers run outside "MUTEX_LIST", one at a time, in arrival order.
void DrainInboundQueue() {
    while (std::unique_ptr<InboundRecord> r = TakeFirstInbound()) {
        RunQueuedHandler(r->nMsgId, r->abData, r->nLength);
    }
}

uint32_t EventThreadProc(void*) {
    constexpr uint32_t kExitCode = 1;
    while (g_bRunning) {
        const KzHandle events[kEventCount] = {
            g_hInboundEvent.load(), g_hNameRequestEvent.load(), g_hModuleReadyEvent.load(),
            g_hLinkKeyBackupEvent.load(), g_hAfterCallEvent.load()};
        const uint32_t r = KzWaitForMultipleObjects(kEventCount, events, 0, KZ_INFINITE);
        if (!g_bRunning) break;
        switch (r - KZ_WAIT_OBJECT_0) {
            case kEvInbound: DrainInboundQueue(); break;
            case kEvNameRequest: OnNameRequest(); break;
            case kEvModuleReady: OnModuleReadyAcked(); break;
            case kEvLinkKeyBackup: OnLinkKeyBackup(); break;
            case kEvAfterCall: OnAfterCallEvent(); break;
            default: break;
        }
    }
    return kExitCode;
}

void OnTestModeCfm(const uint8_t* msg, size_t len) {
    // A confirmation without its status byte reads 0 there, as any byte past
    // a message does: success.
    const bool ok = InboundView(msg, len).at(kStatusOffset) == kStatusOk;
    g_bDutMode = ok ? 1 : 0;
    KzMessageBox(nullptr, ok ? "Enter DUT Mode SUCCESS" : "Enter DUT Mode FAILED", "DUT Mode",
                 KZ_MB_YESNO | KZ_MB_TOPMOST);
}

void FreeInboundQueue() {
    NamedLock list(g_hMutexList, "MUTEX_LIST");
    g_lstInbound.clear();
}

void ResetDispatcher() {
    FreeInboundQueue();
    std::memset(g_abRecvMsg, 0, sizeof g_abRecvMsg);
    g_bMediaOpen = 0;
    g_bDutMode = 0;
}

}  // namespace kz
