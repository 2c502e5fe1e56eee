// Module messages straight into the dispatcher and the event thread's
// handlers, with SubmitPacket tapped so that nothing needs a port. The input
// is a sequence of messages, each a 16-bit length followed by its bytes; the
// id is read from bytes 4-5 of the message as the link does, so messages may
// lie about their own length field.
#include "events/dispatcher.h"
#include "fuzz_support.h"
#include "channel/command_queue.h"

namespace {
constexpr size_t kMaxMessage = 1100;   // a little over the dispatch buffer
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kzfuzz::InitOnce();
    kzfuzz::ResetAll();
    kz::SetSubmitTapForTest(&kzfuzz::SubmitTapChecked);
    kzfuzz::Input in(data, size);
    while (!in.empty()) {
        size_t n = 0;
        const uint8_t* msg = in.Take(in.Word() % kMaxMessage, &n);
        const uint16_t id = n >= 6 ? static_cast<uint16_t>(msg[4] | (msg[5] << 8)) : 0;
        kz::DispatchModuleMessage(id, msg, n);
        kz::DrainInboundQueue();
    }
    kzfuzz::PumpHost();
    return 0;
}
