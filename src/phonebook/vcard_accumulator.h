// Accumulation of phonebook data text and cutting of complete vCards. The
// module cuts the text into indications without regard to vCard boundaries;
// what does not yet form a complete vCard waits in a fixed buffer that the
// caller owns.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kz {

inline constexpr std::string_view kVCardBegin = "BEGIN:VCARD";
inline constexpr std::string_view kVCardEnd = "END:VCARD";

class VCardAccumulator {
public:
    // buffer holds capacity bytes; the text never exceeds capacity - 1 bytes,
    // so it stays NUL-terminated. length is the caller's fill count.
    VCardAccumulator(char* buffer, size_t capacity, uint32_t* length);

    // Appends text and moves every complete vCard, from "BEGIN:VCARD" up to
    // (not including) "END:VCARD", into blocks, in order. A vCard that cannot
    // fit into the buffer is dropped and leaves an empty block in its place
    // when its end arrives, so that its position is still counted.
    void Feed(std::string_view text, std::vector<std::string>& blocks);
    // Zero-fills the buffer and forgets a vCard being dropped.
    void Clear();

private:
    std::string_view Text() const { return {buffer_, *length_}; }
    void Cut(std::vector<std::string>& blocks);
    void MakeRoom();
    void DropFront(size_t count);

    char* buffer_;
    size_t capacity_;
    uint32_t* length_;
    bool droppingOversize_ = false;   // the start of an oversized vCard was dropped
};

}  // namespace kz
