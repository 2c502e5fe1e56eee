// The byte-fed receive framer (see framer.h).
#include "link/framer.h"

namespace kz {

using namespace bcsp;

Framer::Step Framer::Feed(uint8_t byte) {
    if (writeIndex >= kFrameBufferSize) {
        writeIndex = 0;
        state = kFramerHunting;
    }
    buffer[writeIndex++] = byte;
    if (state == kFramerInFrame) {
        if (byte != kSlipEnd) return Step::kNeedMore;
        length = writeIndex;
        frameReady = 1;
        writeIndex = 0;
        state = kFramerHunting;
        return Step::kFrame;
    }
    // Hunting: the byte is the buffer's first.
    if (byte == kSlipEnd) {
        state = kFramerInFrame;
        return Step::kNeedMore;
    }
    writeIndex = 0;
    return Step::kStray;
}

void Framer::Reset() {
    writeIndex = 0;
    state = kFramerHunting;
    frameReady = 0;
    length = 0;
}

}  // namespace kz
