#include "phonebook/vcard_accumulator.h"

#include <algorithm>
#include <cstring>

#include "frame/trace.h"

namespace kz {

namespace {
// Bytes kept when a full buffer is emptied: enough for a marker cut in two.
constexpr size_t kMarkerTail = std::max(kVCardBegin.size(), kVCardEnd.size()) - 1;
}  // namespace

VCardAccumulator::VCardAccumulator(char* buffer, size_t capacity, uint32_t* length)
    : buffer_(buffer), capacity_(capacity), length_(length) {}

void VCardAccumulator::Clear() {
    std::memset(buffer_, 0, capacity_);
    *length_ = 0;
    droppingOversize_ = false;
}

void VCardAccumulator::Feed(std::string_view text, std::vector<std::string>& blocks) {
    while (!text.empty()) {
        if (*length_ + 1 >= capacity_) MakeRoom();
        size_t room = capacity_ - 1 - *length_;
        size_t n = std::min(room, text.size());
        std::memcpy(buffer_ + *length_, text.data(), n);
        *length_ += static_cast<uint32_t>(n);
        text.remove_prefix(n);
        Cut(blocks);
    }
}

void VCardAccumulator::Cut(std::vector<std::string>& blocks) {
    for (;;) {
        std::string_view t = Text();
        size_t end = t.find(kVCardEnd);
        if (end == std::string_view::npos) return;
        size_t begin = t.find(kVCardBegin);
        if (begin != std::string_view::npos && begin < end) {
            blocks.emplace_back(t.substr(begin, end - begin));
        } else if (droppingOversize_) {
            // The end of a vCard whose start did not fit: count it as an
            // empty vCard so that the download position still moves past it.
            KZ_TRACE("vCard longer than the buffer skipped");
            blocks.emplace_back();
            droppingOversize_ = false;
        }
        // A stray end marker (its start was lost) is dropped with what precedes it.
        DropFront(end + kVCardEnd.size());
    }
}

// The buffer is full and holds no complete vCard.
void VCardAccumulator::MakeRoom() {
    std::string_view t = Text();
    size_t begin = t.find(kVCardBegin);
    if (begin != std::string_view::npos && begin > 0) {
        DropFront(begin);   // text before the vCard is of no use
        return;
    }
    if (begin == 0) droppingOversize_ = true;
    DropFront(*length_ - std::min<size_t>(kMarkerTail, *length_));
}

void VCardAccumulator::DropFront(size_t count) {
    size_t rest = *length_ - count;
    std::memmove(buffer_, buffer_ + count, rest);
    std::memset(buffer_ + rest, 0, capacity_ - rest);
    *length_ = static_cast<uint32_t>(rest);
}

}  // namespace kz
