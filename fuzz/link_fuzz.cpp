// Bytes from the module's side of the serial line: collected into frames as
// the receive framer does (a byte outside a frame that is not 0xC0 is passed
// over, a frame is at most 1024 bytes), then the BCSP receive and activity
// steps, inbound dispatch and the event thread's handlers, with the library's
// own output checked frame by frame. The first input byte chooses whether the
// link starts up (garrulous) or shy, and whether the rest is raw line bytes
// or packet descriptions that the harness turns into frames with a correct
// checksum and CRC (so the fuzzer reaches sequencing and dispatch), now and
// then with one byte damaged.
#include <cstdlib>
#include <cstring>

#include "events/dispatcher.h"
#include "fuzz_support.h"
#include "link/bcsp_codec.h"
#include "link/bcsp_link.h"
#include "link/send_window.h"

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

// Packet descriptions: flags (bit 7 reliable, bit 6 damage one byte, bit 5
// a step of the send thread after the frame), then sequence/ack byte,
// channel, payload length and payload.
constexpr uint8_t kReliableFlag = 0x80;
constexpr uint8_t kDamageFlag = 0x40;
constexpr uint8_t kSendThreadFlag = 0x20;

// What the send thread does on its timeouts: a retransmission, the give-up
// after the third, or an offer of a packet in doubt on an idle line.
void SendThreadStep(uint8_t which) {
    switch (which % 3) {
        case 0: kz::WindowRetransmit(); break;
        case 1: kz::GiveUpOutstanding(); break;
        default: kz::WindowOfferInDoubt(); break;
    }
    kz::DrainInboundQueue();
}
constexpr size_t kMaxBuiltPayload = 600;

void BuiltFrames(kzfuzz::Input& in) {
    static uint8_t frame[2 * kz::bcsp::kFrameBufferSize + 8];
    while (!in.empty()) {
        const uint8_t flags = in.Byte();
        const uint8_t seqAck = in.Byte();
        const uint8_t channel = in.Byte() & kz::bcsp::kChannelMask;
        size_t n = 0;
        const uint8_t* payload = in.Take(in.Word() % kMaxBuiltPayload, &n);
        uint8_t h[4] = {static_cast<uint8_t>(((flags & kReliableFlag) ? kz::bcsp::kReliable : 0) |
                                             kz::bcsp::kCrcPresent | (seqAck & 0x3F)),
                        static_cast<uint8_t>(((n & 0x0F) << 4) | channel),
                        static_cast<uint8_t>(n >> 4), 0};
        h[3] = kz::bcsp::HeaderChecksum(h[0], h[1], h[2]);
        size_t len = kz::BcspBuildFrame(h, payload, n, frame, sizeof frame);
        if (len == 0 || len > sizeof g_frame) continue;   // the framer would drop it
        if (flags & kDamageFlag) frame[1 + in.Byte() % (len - 2)] ^= 1 + in.Byte() % 0xFF;
        std::memcpy(g_frame, frame, len);
        HandleFrame(len);
        if (flags & kSendThreadFlag) SendThreadStep(seqAck >> 6);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kzfuzz::InitOnce();
    kzfuzz::ResetAll();
    kzfuzz::Input in(data, size);
    const uint8_t mode = in.Byte();
    if (mode & 1) kz::ubcsp_config.link_establishment_state = kz::kGarrulous;
    if (mode & 2) {
        BuiltFrames(in);
        kzfuzz::PumpHost();
        return 0;
    }

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
