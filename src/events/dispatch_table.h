// The dispatch table: what the library does with each module message.
//
// One row per id the module sends (ids come from channel/module_ids.h): the
// actions the receive thread carries out, in the order of the enumerators,
// the handler it runs itself (short ones: security replies, inquiry results,
// media open, the phonebook size) and the handler the event thread runs for
// the queued copy. An id without a row is ignored.
//
// Adding a message: its id in the catalogue, then one row here, in id order.
// The build checks that rows are unique and sorted, that kInline and kQueue
// go with their handlers, and that the RES goes exactly to the indications the
// catalogue says take one.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz {

using MessageHandler = void (*)(const uint8_t* msg, size_t len);

// Actions of one row, carried out in the order of the enumerators.
enum DispatchAction : uint16_t {
    kRes = 1u << 0,            // answer with the RES first
    kRelease = 1u << 1,        // SendNextCmd: the confirmation frees the channel
    kInline = 1u << 2,         // the row's receive-thread handler
    kSetMediaOpen = 1u << 3,      // g_bMediaOpen = 1
    kSetMediaClosed = 1u << 4,     // g_bMediaOpen = 0
    kIfStatusOk = 1u << 5,     // the media action only for a status of 0
    kSendReply160 = 1u << 6,       // queue REQ_REPLY_160
    kSendReply161 = 1u << 7,       // queue REQ_REPLY_161
    kSendReply291 = 1u << 8,       // queue REQ_REPLY_291
    kSendPbapContinue = 1u << 9,   // accept or reject the phonebook data at once
    kQueue = 1u << 10,         // the event thread runs the row's queued handler
    kReadyAfterAck = 1u << 11,   // the device-ready notice waits for the link ack
    kReleaseLast = 1u << 12,   // SendNextCmd after everything else
    kTraceOnly = 1u << 13,     // a trace of the parameters and nothing else
};

struct DispatchRow {
    uint16_t id;
    uint16_t actions;
    MessageHandler onReceiveThread;   // with kInline
    MessageHandler onEventThread;     // with kQueue
};

// The row of an id, or null when the library ignores it.
const DispatchRow* FindDispatchRow(uint16_t id);

}  // namespace kz
