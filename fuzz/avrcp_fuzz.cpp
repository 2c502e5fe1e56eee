// AVRCP vendor-dependent traffic from the phone: headers (IND 310, receive
// thread) and data (IND 308, event thread) in any order and with any
// contents, element-attribute responses split or lying about their lengths.
// The first byte sets the connection (HFP, A2DP source) and AVRCP support.
#include "events/audio.h"
#include "events/connection.h"
#include "fuzz_support.h"
#include "channel/command_queue.h"

namespace {
constexpr size_t kMaxMessage = 600;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kzfuzz::InitOnce();
    kzfuzz::ResetAll();
    kz::SetSubmitTapForTest(&kzfuzz::SubmitTapChecked);
    kzfuzz::Input in(data, size);
    const uint8_t setup = in.Byte();
    kz::g_bHfpConnected = setup & 1;
    kz::g_bCurrSrcA2DP = (setup >> 1) & 1;
    kz::g_bA2dpConnected = (setup >> 2) & 1;
    kz::g_bAvrcpServiceSupport = (setup >> 3) & 1;
    while (!in.empty()) {
        const bool header = in.Byte() & 1;
        size_t n = 0;
        const uint8_t* msg = in.Take(in.Word() % kMaxMessage, &n);
        if (header)
            kz::OnDependHeader(msg, n);
        else
            kz::OnDependData(msg, n);
    }
    kzfuzz::PumpHost();
    return 0;
}
