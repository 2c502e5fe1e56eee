// Collection of an AVRCP GetElementAttributes response that the phone may
// split over several vendor-dependent data messages, and extraction of the
// title, artist and album texts from it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz {

class ElementAttributeCollector {
public:
    static constexpr size_t kBufferSize = 1024;
    static constexpr size_t kSlotSize = 256;        // 255 bytes of text and a zero
    static constexpr size_t kPduHeaderSize = 4;     // PDU id, packet type, 16-bit length

    enum class Result { kIncomplete, kComplete, kDropped };

    // Feeds one fragment. kComplete: the texts are ready (title(), ...).
    // kDropped: the response cannot fit the buffer and is discarded whole.
    Result Feed(const uint8_t* fragment, size_t length);
    void Reset();

    bool continuing() const { return continuing_; }
    const char* title() const { return slots_[0]; }
    const char* artist() const { return slots_[1]; }
    const char* album() const { return slots_[2]; }

private:
    void ParseAttributes();
    size_t FindAttribute(uint8_t id, size_t from) const;

    uint8_t buffer_[kBufferSize] = {};            // g_abAttrBuf
    char slots_[3][kSlotSize] = {};               // title, artist, album
    bool continuing_ = false;                     // g_bAttrContinuing
    size_t collected_ = 0;                        // g_nAttrCollected
    size_t expected_ = 0;                         // g_nAttrExpected (PDU parameter length)
};

}  // namespace kz
