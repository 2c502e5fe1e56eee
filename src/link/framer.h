// The receive framer: collects one 0xC0-delimited frame from bytes fed one at
// a time. It knows nothing of the port; PollUart feeds it from the serial
// port, tests feed it directly.
#pragma once
#include <cstddef>
#include <cstdint>

#include "link/bcsp_protocol.h"

namespace kz {

inline constexpr uint32_t kFramerHunting = 0;   // between frames
inline constexpr uint32_t kFramerInFrame = 2;   // after an opening 0xC0

class Framer {
public:
    enum class Step : uint8_t {
        kNeedMore,   // the byte was taken; no frame yet
        kFrame,      // the byte closed a frame: frame(), frameLength(); ready() until Take()
        kStray,      // a byte between frames that is not 0xC0: the caller purges its input
    };

    // One byte. A frame that reaches the buffer's size without its closing
    // 0xC0 is dropped, and the next byte is looked at as between frames.
    Step Feed(uint8_t byte);
    // Bytes in order, exactly as Feed one by one, stopping after the byte
    // that gives kFrame or kStray (step); returns how many were taken. The
    // inside of a frame is copied in runs up to its closing 0xC0.
    size_t Feed(const uint8_t* bytes, size_t count, Step& step);
    bool ready() const { return frameReady != 0; }
    const uint8_t* frame() const { return buffer; }
    uint16_t frameLength() const { return length; }
    // The frame was handled: the framer may take bytes again.
    void Take() { frameReady = 0; }
    void Reset();

    // The state is public so that the link's names for it can refer to it.
    uint8_t buffer[bcsp::kFrameBufferSize] = {};
    uint16_t writeIndex = 0;
    uint32_t state = kFramerHunting;
    uint8_t frameReady = 0;
    uint16_t length = 0;
};

}  // namespace kz
