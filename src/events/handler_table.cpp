// The two handler tables, sorted by message id. Each engineer who writes a
// handler adds its row here (see handler_table.h).
#include "events/handler_table.h"

#include <algorithm>
#include <iterator>

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

// Id 0 is never dispatched; its row keeps each table non-empty.
constexpr HandlerRow kNoHandler{0, nullptr};

// Receive thread.
constexpr HandlerRow kInlineHandlers[] = {
    kNoHandler,
    {10, &OnInquiryComplete},
    {24, &OnFirmwareCfm},
    {49, &OnInquiryResult},
    {60, &OnLinkKeyRequest},
    {61, &OnPinRequest},
    {62, &OnSdpServiceRecord},
    {63, &OnAuthoriseRequest},
    {116, &OnWaitingNumber},
    {258, &OnMediaOpenCfm},
    {275, &OnMediaOpenedInd},
    {512, &OnPhoneBookSizeCfm},
};

// Event thread.
constexpr HandlerRow kQueuedHandlers[] = {
    kNoHandler,
    {4, &OnMicGainCfm},
    {8, &OnRemoteName},
    {12, &OnConnectCfm},
    {13, &OnDisconnectCfm},
    {14, &OnAudioTransferCfm},
    {15, &OnAudioTransferCfm},
    {20, &OnTestModeCfm},
    {23, &OnMicVolumeCfm},
    {48, &OnModuleReady},
    {50, &OnConnectInd},
    {51, &OnDisconnectInd},
    {52, &OnCallAudioInd},
    {53, &OnCallAudioInd},
    {59, &OnPairingResult},
    {88, &OnCallListResult},
    {113, &OnHfpIndicator},
    {115, &OnCallSetupNumber},
    {121, &OnCurrentCall},
    {122, &OnCallCount},
    {273, &OnStreamStarted},
    {274, &OnStreamSuspended},
    {277, &OnMicMuteInd},
    {308, &OnDependData},
    {310, &OnDependHeader},
    {528, &OnPhoneBookComplete},
    {529, &ParseVCardChunk},
};

template <size_t N>
constexpr bool SortedById(const HandlerRow (&rows)[N]) {
    for (size_t i = 1; i < N; ++i)
        if (rows[i - 1].id >= rows[i].id) return false;
    return true;
}
static_assert(SortedById(kInlineHandlers), "inline handler rows must be sorted by id, no repeats");
static_assert(SortedById(kQueuedHandlers), "queued handler rows must be sorted by id, no repeats");

template <size_t N>
MessageHandler Find(const HandlerRow (&rows)[N], uint16_t id) {
    auto it = std::lower_bound(std::begin(rows), std::end(rows), id,
                               [](const HandlerRow& r, uint16_t v) { return r.id < v; });
    return it != std::end(rows) && it->id == id ? it->handler : nullptr;
}

}  // namespace

MessageHandler FindInlineHandler(uint16_t id) { return Find(kInlineHandlers, id); }
MessageHandler FindQueuedHandler(uint16_t id) { return Find(kQueuedHandlers, id); }

}  // namespace kz
