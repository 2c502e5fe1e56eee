// Handlers of inbound module messages, by message id.
//
// The dispatcher decides from its own table what to do with each id (release
// the queue, answer with a RES, queue for the event thread, ...); where an id
// has a handler of its own it looks it up here:
//   - inline handlers run on the receive thread, with the dispatch buffer;
//   - queued handlers run on the event thread, with the queued record.
// An id without a row simply has no handler (yet).
//
// Adding a handler: add one row {id, &Handler} to the right table in
// handler_table.cpp, keeping the table sorted by id (a static_assert checks
// it). Ids that take an inline handler: 10, 24, 49, 60, 61, 62, 63, 116, 258,
// 259, 275, 276, 310, 512. For 258 and 275 the handler sends the AVRCP play
// command (the dispatcher itself keeps g_bMediaOpen); it checks the status
// byte of the confirmation 258 itself. Ids queued for the event thread: 4, 8,
// 12, 13, 14, 15, 20, 23, 48, 50, 51, 52, 53, 59, 88, 113, 115, 121, 122, 273,
// 274, 277, 308, 528, 529 (90 is queued but has no handler).
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz {

using MessageHandler = void (*)(const uint8_t* msg, size_t len);

struct HandlerRow {
    uint16_t id;
    MessageHandler handler;
};

MessageHandler FindInlineHandler(uint16_t id);   // nullptr when none (yet)
MessageHandler FindQueuedHandler(uint16_t id);

}  // namespace kz
