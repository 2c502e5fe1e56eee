// The two handler tables, sorted by message id. Each engineer who writes a
// handler adds its row here (see handler_table.h).
#include "events/handler_table.h"

#include <algorithm>
#include <iterator>

#include "events/dispatcher.h"
#include "service/service.h"

namespace kz {

namespace {

// Id 0 is never dispatched; its row keeps each table non-empty.
constexpr HandlerRow kNoHandler{0, nullptr};

// Receive thread.
constexpr HandlerRow kInlineHandlers[] = {
    kNoHandler,
    {24, &OnFirmwareCfm},
};

// Event thread.
constexpr HandlerRow kQueuedHandlers[] = {
    kNoHandler,
    {20, &OnTestModeCfm},
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
