// Inbound dispatch: every confirmation and indication from the module passes
// here on the receive thread. The dispatch table says, per message id, whether
// it releases the next queued request, is answered with a RES, is handled on
// the spot, or is queued for the event thread.
#include "events/dispatcher.h"

#include <cstring>
#include <new>

#include "channel/command_queue.h"
#include "channel/module_message.h"
#include "channel/requests.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/handler_table.h"
#include "events/inbound_view.h"
#include "events/inquiry.h"
#include "events/notify.h"
#include "frame/sync_objects.h"
#include "frame/trace.h"
#include "link/bcsp_link.h"
#include "service/service.h"

namespace kz {

std::list<InboundRecord*> g_lstInbound;
uint8_t g_abRecvMsg[msg::kMaxInbound] = {};
std::atomic<uint8_t> g_bMediaOpen{0};
std::atomic<uint8_t> g_bDutMode{0};

namespace {

// Actions of one table row, carried out in the order of the enumerators.
enum Action : uint16_t {
    kRes = 1u << 0,            // S: answer with the RES first
    kRelease = 1u << 1,        // R: SendNextCmd
    kInline = 1u << 2,         // the id's receive-thread handler
    kMediaOpen = 1u << 3,      // g_bMediaOpen = 1
    kMediaClose = 1u << 4,     // g_bMediaOpen = 0
    kIfStatusOk = 1u << 5,     // the media action only for a status of 0
    kReply160 = 1u << 6,       // queue REQ_REPLY_160
    kReply161 = 1u << 7,       // queue REQ_REPLY_161
    kReply291 = 1u << 8,       // queue REQ_REPLY_291
    kPbapContinue = 1u << 9,   // accept or reject the phonebook data at once
    kQueue = 1u << 10,         // Q: the event thread runs the id's handler
    kModuleReady = 1u << 11,   // the device-ready notice waits for the link ack
    kReleaseLast = 1u << 12,   // R after everything else
    kTraceOnly = 1u << 13,     // a trace of the parameters and nothing else
};

struct DispatchRow {
    uint16_t id;
    uint16_t actions;
};

constexpr uint16_t RQ = kRelease | kQueue;
constexpr uint16_t SQ = kRes | kQueue;

// Every id that is not here is ignored.
constexpr DispatchRow kDispatchTable[] = {
    {3, kRelease},   {4, RQ},          {5, kRelease},  {6, kRelease},
    {8, RQ},         {9, kRelease},    {10, kRelease | kInline},
    {11, kRelease},  {12, RQ},         {13, RQ},       {14, RQ},
    {15, RQ},        {16, kRelease | kTraceOnly},      {18, kRelease},
    {20, kRelease | kQueue | kReleaseLast},            {23, RQ},
    {24, kRelease | kInline},          {26, kRelease}, {30, kRelease},
    {33, kRelease},  {48, kRes | kQueue | kModuleReady},
    {49, kRes | kInline},              {50, SQ},       {51, SQ},
    {52, SQ},        {53, SQ},         {54, kRes},     {55, kRes},
    {56, kRes},      {58, kRes},       {59, SQ},       {60, kInline},
    {61, kInline},   {62, kRes | kInline},             {63, kInline},
    {64, kRes},      {80, kRelease},   {82, kRelease | kTraceOnly},
    {84, kRelease},  {86, kRelease},   {88, RQ},       {90, RQ},
    {112, kRes | kTraceOnly},          {113, SQ},      {114, kRes},
    {115, SQ},       {116, kRes | kInline},            {117, kRes},
    {118, kRes},     {119, kRes},      {120, kRes},    {121, SQ},
    {122, SQ},       {123, kRes},      {124, kRes},    {125, kRes},
    {160, kReply160},                  {161, kReply161},
    {162, kRes},     {163, kRes},      {164, kRes},    {254, kRelease},
    {256, kRelease}, {257, kRelease},
    {258, kInline | kMediaOpen | kIfStatusOk | kReleaseLast},
    {259, kInline | kMediaClose | kIfStatusOk | kReleaseLast},
    {272, kRes},     {273, SQ},        {274, SQ},
    {275, kRes | kInline | kMediaOpen},
    {276, kRes | kInline | kMediaClose},
    {277, SQ},       {288, kRelease},  {289, kRelease},
    {290, kRelease | kReply291},       {308, SQ},      {309, kRes},
    // The header is handled in turn with the data it announces: on the event
    // thread, a later header could overtake data still waiting in the queue.
    {310, SQ},       {311, kRes},
    {512, kRelease | kInline},         {528, SQ},
    {529, kPbapContinue | kQueue},
};

constexpr bool SortedById() {
    for (size_t i = 1; i < std::size(kDispatchTable); ++i)
        if (kDispatchTable[i - 1].id >= kDispatchTable[i].id) return false;
    return true;
}
static_assert(SortedById(), "dispatch rows must be sorted by id, no repeats");
static_assert(std::size(kDispatchTable) == 82, "every id the module sends has its row");

uint16_t ActionsFor(uint16_t id) {
    size_t lo = 0, hi = std::size(kDispatchTable);
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (kDispatchTable[mid].id < id) lo = mid + 1;
        else hi = mid;
    }
    return lo < std::size(kDispatchTable) && kDispatchTable[lo].id == id ? kDispatchTable[lo].actions
                                                                          : 0;
}

constexpr size_t kStatusOffset = msg::kParamOffset;
constexpr uint8_t kStatusOk = 0;
constexpr uint16_t kIdRssi = 16;
constexpr uint16_t kIdDial = 82;

void TraceParameters(uint16_t id, const uint8_t* m) {
    const uint8_t status = m[kStatusOffset];
    if (id == kIdRssi) {
        if (status == kStatusOk) KZ_TRACE("!!!!!!!!!!!!!!!RSSI = %d", m[kStatusOffset + 1]);
    } else if (id == kIdDial) {
        KZ_TRACE(status == kStatusOk ? "Dial sucess\n" : "Dial error\n");
    } else {
        KZ_TRACE("BTRevInBandRingRES(state = %d", status);
    }
}

void RunInline(uint16_t id, size_t length) {
    if (MessageHandler h = FindInlineHandler(id)) h(g_abRecvMsg, length);
}

}  // namespace

void DispatchModuleMessage(uint16_t id, const uint8_t* message, size_t length) {
    // The buffer holds 1024 bytes; a longer message is not taken at all.
    if (length > sizeof g_abRecvMsg || (message == nullptr && length != 0)) return;
    std::memset(g_abRecvMsg, 0, sizeof g_abRecvMsg);
    if (length) std::memcpy(g_abRecvMsg, message, length);

    const uint16_t actions = ActionsFor(id);
    const bool statusOk = g_abRecvMsg[kStatusOffset] == kStatusOk;
    if (actions & kRes) SendRes(id);
    if (actions & kRelease) SendNextCmd();
    if (actions & kTraceOnly) TraceParameters(id, g_abRecvMsg);
    if (id == kIdDial && !statusOk) ForgetDialledNumber();
    if (actions & kInline) RunInline(id, length);
    if (!(actions & kIfStatusOk) || statusOk) {
        if (actions & kMediaOpen) g_bMediaOpen = 1;
        if (actions & kMediaClose) g_bMediaOpen = 0;
    }
    if (actions & kReply160) REQ_REPLY_160();
    if (actions & kReply161) REQ_REPLY_161();
    if (actions & kReply291) REQ_REPLY_291();
    if (actions & kPbapContinue) {
        const bool accept = g_bHfpConnected.load() != 0;
        if (!accept) KZ_TRACE("Reject phonebook download");
        REQ_PBAP_CONTINUE(accept);
    }
    if (actions & kQueue) PostInboundMessage(id, g_abRecvMsg, length);
    if (actions & kModuleReady) g_bModuleReadyPending = 1;
    if (actions & kReleaseLast) SendNextCmd();
}

void PostInboundMessage(uint16_t id, const uint8_t* message, size_t length) {
    if (length > msg::kMaxInbound) return;
    auto* r = new (std::nothrow) InboundRecord;
    if (r == nullptr) return;   // the message is lost, as when the heap is out
    std::memset(r, 0, sizeof *r);
    r->nMsgId = id;
    r->nLength = static_cast<uint16_t>(length);
    if (length) std::memcpy(r->abData, message, length);
    {
        NamedLock list(g_hMutexList, "MUTEX_LIST");
        g_lstInbound.push_back(r);
    }
    SignalEvent(g_hInboundEvent);
}

// ------------------------------------------------------------ event thread

void RunQueuedHandler(uint16_t id, const uint8_t* data, size_t length) {
    if (MessageHandler h = FindQueuedHandler(id)) h(data, length);
}

namespace {

InboundRecord* TakeFirstInbound() {
    NamedLock list(g_hMutexList, "MUTEX_LIST");
    if (g_lstInbound.empty()) return nullptr;
    InboundRecord* r = g_lstInbound.front();
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
    while (InboundRecord* r = TakeFirstInbound()) {
        RunQueuedHandler(r->nMsgId, r->abData, r->nLength);
        delete r;
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
    for (InboundRecord* r : g_lstInbound) delete r;
    g_lstInbound.clear();
}

void ResetDispatcher() {
    FreeInboundQueue();
    std::memset(g_abRecvMsg, 0, sizeof g_abRecvMsg);
    g_bMediaOpen = 0;
    g_bDutMode = 0;
}

}  // namespace kz
