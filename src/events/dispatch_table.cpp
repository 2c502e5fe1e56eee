// The dispatch table (see dispatch_table.h), sorted by id.
#include "events/dispatch_table.h"

#include <algorithm>
#include <iterator>

#include "channel/module_ids.h"
#include "events/audio.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/dispatcher.h"
#include "events/inquiry.h"
#include "phonebook/download.h"
#include "phonebook/vcard_parser.h"
#include "service/service.h"

namespace kz {

namespace {

using namespace msgid;

constexpr uint16_t R = kRelease;
constexpr uint16_t RQ = kRelease | kQueue;
constexpr uint16_t SQ = kRes | kQueue;
constexpr uint16_t S = kRes;

constexpr DispatchRow Row(uint16_t id, uint16_t actions) { return {id, actions, nullptr, nullptr}; }
constexpr DispatchRow Inline(uint16_t id, uint16_t actions, MessageHandler h) {
    return {id, static_cast<uint16_t>(actions | kInline), h, nullptr};
}
constexpr DispatchRow Queued(uint16_t id, uint16_t actions, MessageHandler h) {
    return {id, static_cast<uint16_t>(actions | kQueue), nullptr, h};
}

constexpr DispatchRow kDispatchTable[] = {
    Row(kSetNibbleMask, R),
    Queued(kSetMicGain, RQ, &OnMicGainCfm),
    Row(kSetLevel, R),
    Row(kSetOption6, R),
    Queued(kRemoteName, RQ, &OnRemoteName),
    Row(kSetLocalName, R),
    Inline(kInquiry, R, &OnInquiryComplete),
    Row(kSetVisibleMode, R),
    Queued(kConnectProfile, RQ, &OnConnectCfm),
    Queued(kDisconnectProfile, RQ, &OnDisconnectCfm),
    Queued(kAudioToHandsfree, RQ, &OnAudioTransferCfm),
    Queued(kAudioToPhone, RQ, &OnAudioTransferCfm),
    Row(kRssi, R | kTraceOnly),
    Row(kCfm18, R),
    Queued(kEnterDutMode, R | kReleaseLast, &OnTestModeCfm),
    Queued(kSetMicVolume, RQ, &OnMicVolumeCfm),
    Inline(kFirmwareImage, R, &OnFirmwareCfm),
    Row(kSetOption26, R),
    Row(kSdpQuery, R),
    Row(kSetMicMode, R),
    Queued(kModuleReady, S | kReadyAfterAck, &OnModuleReady),
    Inline(kInquiryResult, S, &OnInquiryResult),
    Queued(kProfileConnected, SQ, &OnConnectInd),
    Queued(kProfileDisconnected, SQ, &OnDisconnectInd),
    Queued(kCallAudioOn, SQ, &OnCallAudioInd),
    Queued(kCallAudioOff, SQ, &OnCallAudioInd),
    Row(kInd54, S),
    Row(kInd55, S),
    Row(kInd56, S),
    Row(kInd58, S),
    Queued(kPairingResult, SQ, &OnPairingResult),
    Inline(kLinkKeyRequest, 0, &OnLinkKeyRequest),
    Inline(kPinRequest, 0, &OnPinRequest),
    Inline(kSdpRecord, S, &OnSdpServiceRecord),
    Inline(kAuthorise, 0, &OnAuthoriseRequest),
    Row(kInd64, S),
    Row(kAnswer, R),
    Row(kDial, R | kTraceOnly),
    Row(kCfm84, R),
    Row(kDtmf, R),
    Queued(kCurrentCalls, RQ, &OnCallListResult),
    // Nothing on the event thread waits for the hold confirmation.
    Row(kCallHold, R),
    Row(kInBandRing, S | kTraceOnly),
    Queued(kHfpIndicator, SQ, &OnHfpIndicator),
    Row(kInd114, S),
    Queued(kCallSetupNumber, SQ, &OnCallSetupNumber),
    Inline(kWaitingNumber, S, &OnWaitingNumber),
    Row(kInd117, S),
    Row(kInd118, S),
    Row(kInd119, S),
    Row(kInd120, S),
    Queued(kCurrentCall, SQ, &OnCurrentCall),
    Queued(kCallCount, SQ, &OnCallCount),
    Row(kInd123, S),
    Row(kInd124, S),
    Row(kInd125, S),
    Row(kInd160, kSendReply160),
    Row(kInd161, kSendReply161),
    Row(kInd162, S),
    Row(kInd163, S),
    Row(kInd164, S),
    Row(kCfm254, R),
    Row(kCfm256, R),
    Row(kCfm257, R),
    Inline(kMediaOpen, kSetMediaOpen | kIfStatusOk | kReleaseLast, &OnMediaOpenCfm),
    Row(kMediaClose, kSetMediaClosed | kIfStatusOk | kReleaseLast),
    Row(kInd272, S),
    Queued(kStreamStarted, SQ, &OnStreamStarted),
    Queued(kStreamSuspended, SQ, &OnStreamSuspended),
    Inline(kMediaOpened, S | kSetMediaOpen, &OnMediaOpenedInd),
    Row(kMediaClosed, S | kSetMediaClosed),
    Queued(kMicMute, SQ, &OnMicMuteInd),
    Row(kAvrcpPassThrough, R),
    Row(kAvrcpVendor, R),
    Row(kCfm290, R | kSendReply291),
    Queued(kDependData, SQ, &OnDependData),
    Row(kInd309, S),
    // The header is handled in turn with the data it announces: on the event
    // thread, a later header could overtake data still waiting in the queue.
    Queued(kDependHeader, SQ, &OnDependHeader),
    Row(kInd311, S),
    Inline(kPbapPull, R, &OnPhoneBookSizeCfm),
    Queued(kPbapComplete, SQ, &OnPhoneBookComplete),
    Queued(kPbapData, kSendPbapContinue, &ParseVCardChunk),
};

constexpr bool SortedUnique() {
    for (size_t i = 1; i < std::size(kDispatchTable); ++i)
        if (kDispatchTable[i - 1].id >= kDispatchTable[i].id) return false;
    return true;
}

// A handler exactly where its action says it runs.
constexpr bool HandlersMatchActions() {
    for (const DispatchRow& r : kDispatchTable) {
        if (((r.actions & kInline) != 0) != (r.onReceiveThread != nullptr)) return false;
        if (((r.actions & kQueue) != 0) != (r.onEventThread != nullptr)) return false;
    }
    return true;
}

// Every row is something the module sends; the RES goes to exactly the
// indications that take one, and the answers to those that take one.
constexpr bool AgreesWithCatalogue() {
    for (const DispatchRow& r : kDispatchTable) {
        if (!FromModule(r.id)) return false;
        if (((r.actions & kRes) != 0) != TakesRes(r.id)) return false;
        if ((r.actions & kSendPbapContinue) && !TakesReply(r.id)) return false;
        if ((r.actions & (kSendReply160 | kSendReply161)) && !Has(r.id, kRequest)) return false;
    }
    for (const Entry& e : kCatalogue) {
        if (!(e.kinds & (kConfirmation | kIndication))) continue;
        const bool found = std::any_of(std::begin(kDispatchTable), std::end(kDispatchTable),
                                       [&](const DispatchRow& r) { return r.id == e.id; });
        if (!found) return false;
    }
    return true;
}

static_assert(SortedUnique(), "dispatch rows sorted by id, each id once");
// GCC 12 cannot compare function pointers in a constant expression under
// -fsanitize=null: the ordinary build checks the handlers, the sanitizer
// build compiles the same table.
#ifndef KZ_SANITIZE_NULL
static_assert(HandlersMatchActions(), "kInline and kQueue rows need their handler, others none");
#endif
static_assert(AgreesWithCatalogue(), "every message the module sends has its row, as the catalogue says");

}  // namespace

const DispatchRow* FindDispatchRow(uint16_t id) {
    auto it = std::lower_bound(std::begin(kDispatchTable), std::end(kDispatchTable), id,
                               [](const DispatchRow& r, uint16_t v) { return r.id < v; });
    return it != std::end(kDispatchTable) && it->id == id ? &*it : nullptr;
}

}  // namespace kz
