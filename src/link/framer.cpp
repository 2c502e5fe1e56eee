// The byte-fed receive framer (see framer.h).
#include "link/framer.h"

#include <algorithm>
#include <cstring>

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

size_t Framer::Feed(const uint8_t* bytes, size_t count, Step& step) {
    size_t i = 0;
    while (i < count) {
        if (state == kFramerInFrame && writeIndex < kFrameBufferSize) {
            // Up to the closing 0xC0 or the buffer's end, no byte changes the state.
            const size_t span = std::min<size_t>(count - i, kFrameBufferSize - writeIndex);
            const void* end = std::memchr(bytes + i, kSlipEnd, span);
            const size_t run = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - (bytes + i)) : span;
            std::memcpy(buffer + writeIndex, bytes + i, run);
            writeIndex = static_cast<uint16_t>(writeIndex + run);
            i += run;
            if (!end) continue;
        }
        step = Feed(bytes[i++]);
        if (step != Step::kNeedMore) return i;
    }
    step = Step::kNeedMore;
    return i;
}

void Framer::Reset() {
    writeIndex = 0;
    state = kFramerHunting;
    frameReady = 0;
    length = 0;
}

}  // namespace kz
