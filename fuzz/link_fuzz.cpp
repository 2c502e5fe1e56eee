// Bytes from the module's side of the serial line: collected into frames as
// the receive framer does (a byte outside a frame that is not 0xC0 is passed
// over, a frame is at most 1024 bytes), then the BCSP receive and activity
// steps, inbound dispatch and the event thread's handlers, with the library's
// own output checked frame by frame. The first input byte chooses whether the
// link starts up (garrulous) or shy.
#include <cstdlib>

#include "events/dispatcher.h"
#include "fuzz_support.h"
#include "link/bcsp_codec.h"
#include "link/bcsp_link.h"

namespace {

uint8_t g_frame[kz::bcsp::kFrameBufferSize];

void HandleFrame(size_t n) {
    kz::BcspActivity(kz::BcspReceive(g_frame, n));
    kz::DrainInboundQueue();
    if (kz::ubcsp_config.sequence_number > kz::bcsp::kSeqMask ||
        kz::ubcsp_config.ack_number > kz::bcsp::kSeqMask ||
        kz::ubcsp_config.link_establishment_state > kz::kGarrulous)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kzfuzz::InitOnce();
    kzfuzz::ResetAll();
    kzfuzz::Input in(data, size);
    if (in.Byte() & 1) kz::ubcsp_config.link_establishment_state = kz::kGarrulous;

    size_t at = 0;
    bool inFrame = false;
    while (!in.empty()) {
        const uint8_t b = in.Byte();
        if (at >= sizeof g_frame) {   // too long: dropped, hunting again
            at = 0;
            inFrame = false;
        }
        if (!inFrame) {
            if (b != kz::bcsp::kSlipEnd) continue;
            g_frame[0] = b;
            at = 1;
            inFrame = true;
            continue;
        }
        g_frame[at++] = b;
        if (b == kz::bcsp::kSlipEnd) {
            HandleFrame(at);
            at = 0;
            inFrame = false;
        }
    }
    kzfuzz::PumpHost();
    return 0;
}
