// Bounded reads of an inbound module message. Phones and modules send length
// fields that may point past the message; every read here stops at the
// message's end and reads 0 beyond it, as the zero-filled dispatch buffer does.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kz {

// Copies a zero-terminated text into dst[cap], cut to cap - 1 bytes, always
// terminated; the rest of dst is zero-filled.
inline void CopyTextCut(char* dst, size_t cap, const char* src) {
    if (!dst || cap == 0) return;
    size_t n = src ? strnlen(src, cap - 1) : 0;
    if (n) std::memcpy(dst, src, n);
    std::memset(dst + n, 0, cap - n);
}

class InboundView {
public:
    InboundView(const uint8_t* msg, size_t len) : p_(msg), n_(msg ? len : 0) {}

    size_t size() const { return n_; }
    uint8_t at(size_t i) const { return i < n_ ? p_[i] : 0; }
    uint16_t be16(size_t i) const { return static_cast<uint16_t>((at(i) << 8) | at(i + 1)); }
    const uint8_t* ptr(size_t i) const { return p_ + std::min(i, n_); }
    // Bytes actually present from offset i (0 when i is past the end).
    size_t available(size_t i) const { return i < n_ ? n_ - i : 0; }

    // Copies the 6-byte address at offset i (zero-filled past the end).
    void address(size_t i, uint8_t out[6]) const {
        for (size_t k = 0; k < 6; ++k) out[k] = at(i + k);
    }

    // Copies a text of `declared` bytes at offset i into out[cap]: at most
    // cap - 1 bytes and never past the message; always zero-terminated.
    // Returns the bytes copied.
    size_t text(size_t i, size_t declared, char* out, size_t cap) const {
        if (!out || cap == 0) return 0;
        size_t n = std::min({declared, available(i), cap - 1});
        if (n) std::memcpy(out, p_ + i, n);
        out[n] = '\0';
        return n;
    }

private:
    const uint8_t* p_;
    size_t n_;
};

}  // namespace kz
