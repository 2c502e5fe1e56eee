#include "events/element_attributes.h"

#include <algorithm>
#include <cstring>

namespace kz {

namespace {

constexpr size_t kParamLengthOffset = 2;   // in the PDU, high byte first
constexpr size_t kFirstIdOffset = 3;       // an id needs its three leading zero bytes
constexpr uint8_t kCharsetUtf8Hi = 0x00;   // character set 106 (UTF-8)
constexpr uint8_t kCharsetUtf8Lo = 0x6A;
constexpr uint8_t kAttrTitle = 1;
constexpr uint8_t kAttrArtist = 2;
constexpr uint8_t kAttrAlbum = 3;

}  // namespace

void ElementAttributeCollector::Reset() {
    std::memset(buffer_, 0, sizeof buffer_);
    std::memset(slots_, 0, sizeof slots_);
    continuing_ = false;
    collected_ = 0;
    expected_ = 0;
}

ElementAttributeCollector::Result ElementAttributeCollector::Feed(const uint8_t* fragment,
                                                                  size_t length) {
    if (!fragment) length = 0;
    if (!continuing_) {
        Reset();
        if (length < kPduHeaderSize) return Result::kDropped;
        expected_ = static_cast<size_t>((fragment[kParamLengthOffset] << 8) |
                                        fragment[kParamLengthOffset + 1]);
        if (expected_ + kPduHeaderSize > kBufferSize || length > kBufferSize) {
            Reset();
            return Result::kDropped;
        }
        std::memcpy(buffer_, fragment, length);
        collected_ = length;
        if (expected_ + kPduHeaderSize > collected_) {
            continuing_ = true;
            return Result::kIncomplete;
        }
    } else {
        if (length > kBufferSize - collected_) {
            Reset();
            return Result::kDropped;
        }
        if (length) std::memcpy(buffer_ + collected_, fragment, length);
        collected_ += length;
        if (collected_ < expected_ + kPduHeaderSize) return Result::kIncomplete;
    }
    ParseAttributes();
    continuing_ = false;
    collected_ = 0;
    expected_ = 0;
    return Result::kComplete;
}

// First offset >= from whose byte is `id` and whose three preceding bytes are 0
// (a 32-bit attribute id); 0 when there is none.
size_t ElementAttributeCollector::FindAttribute(uint8_t id, size_t from) const {
    for (size_t p = std::max(from, kFirstIdOffset); p < collected_; ++p) {
        if (buffer_[p] == id && buffer_[p - 1] == 0 && buffer_[p - 2] == 0 && buffer_[p - 3] == 0)
            return p;
    }
    return 0;
}

void ElementAttributeCollector::ParseAttributes() {
    size_t pos[3];
    pos[0] = FindAttribute(kAttrTitle, kFirstIdOffset);
    pos[1] = FindAttribute(kAttrArtist, pos[0] + 1);
    pos[2] = FindAttribute(kAttrAlbum, pos[1] + 1);
    for (int i = 0; i < 3; ++i) {
        size_t p = pos[i];
        if (p == 0 || p + 5 > collected_) continue;
        // Attributes in another character set stay empty.
        if (buffer_[p + 1] != kCharsetUtf8Hi || buffer_[p + 2] != kCharsetUtf8Lo) continue;
        size_t declared = static_cast<size_t>((buffer_[p + 3] << 8) | buffer_[p + 4]);
        size_t n = std::min({declared, collected_ - (p + 5), kSlotSize - 1});
        std::memcpy(slots_[i], buffer_ + p + 5, n);
        slots_[i][n] = '\0';
    }
}

}  // namespace kz
