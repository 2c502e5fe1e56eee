// UTF-8 <-> UTF-16. Invalid input becomes U+FFFD; output never goes past
// the caller's capacity and is always terminated when there is room for it.
#include <cstddef>
#include <cstdint>

#include "kz_platform.h"

namespace kz::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kSurrogateLast = 0xDFFF;
constexpr char32_t kSupplementaryFirst = 0x10000;
constexpr size_t kToNul = static_cast<size_t>(-1);

struct LeadByte {
    uint8_t first, last;        // range of lead bytes
    uint8_t extra;              // continuation bytes that follow
    uint8_t secondMin, secondMax;   // allowed range of the first continuation
};
// Well-formed UTF-8: the second byte's range excludes overlong forms,
// surrogates and code points above U+10FFFF.
constexpr LeadByte kLeadBytes[] = {
    {0xC2, 0xDF, 1, 0x80, 0xBF}, {0xE0, 0xE0, 2, 0xA0, 0xBF}, {0xE1, 0xEC, 2, 0x80, 0xBF},
    {0xED, 0xED, 2, 0x80, 0x9F}, {0xEE, 0xEF, 2, 0x80, 0xBF}, {0xF0, 0xF0, 3, 0x90, 0xBF},
    {0xF1, 0xF3, 3, 0x80, 0xBF}, {0xF4, 0xF4, 3, 0x80, 0x8F},
};
constexpr uint8_t kContinuationMin = 0x80, kContinuationMax = 0xBF;
constexpr uint8_t kPayloadMask = 0x3F;

// Decodes one code point at in[i] (i < len) and advances i. A malformed
// sequence gives one U+FFFD for its longest valid prefix (at least one byte),
// the usual practice, so a bad byte never swallows the text after it.
char32_t DecodeUtf8(const uint8_t* in, size_t len, size_t& i) {
    uint8_t lead = in[i++];
    if (lead < 0x80) return lead;
    const LeadByte* kind = nullptr;
    for (const auto& k : kLeadBytes)
        if (lead >= k.first && lead <= k.last) kind = &k;
    if (!kind) return kReplacement;
    char32_t cp = lead & (0x3F >> kind->extra);
    for (uint8_t k = 0; k < kind->extra; ++k) {
        uint8_t lo = k == 0 ? kind->secondMin : kContinuationMin;
        uint8_t hi = k == 0 ? kind->secondMax : kContinuationMax;
        if (i >= len || in[i] < lo || in[i] > hi) return kReplacement;
        cp = (cp << 6) | (in[i++] & kPayloadMask);
    }
    return cp;
}

size_t Utf8Length(const char* in, size_t inLen) {
    if (inLen != kToNul) return inLen;
    size_t n = 0;
    while (in[n]) ++n;
    return n;
}

size_t EncodeUtf8(char32_t cp, uint8_t out[4]) {
    if (cp < 0x80) {
        out[0] = static_cast<uint8_t>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<uint8_t>(0xC0 | (cp >> 6));
        out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < kSupplementaryFirst) {
        out[0] = static_cast<uint8_t>(0xE0 | (cp >> 12));
        out[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
    out[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace
}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API size_t KzUtf8ToUtf16(const char* in, size_t inLen, uint16_t* out, size_t outCap) {
    if (!out || outCap == 0) return 0;
    const size_t room = outCap - 1;   // keep one unit for the terminator
    size_t written = 0;
    if (in) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(in);
        const size_t len = Utf8Length(in, inLen);
        for (size_t i = 0; i < len;) {
            char32_t cp = DecodeUtf8(bytes, len, i);
            if (cp >= kSupplementaryFirst) {
                if (written + 2 > room) break;   // never split a pair
                cp -= kSupplementaryFirst;
                out[written++] = static_cast<uint16_t>(kSurrogateFirst + (cp >> 10));
                out[written++] = static_cast<uint16_t>(kLowSurrogateFirst + (cp & 0x3FF));
            } else {
                if (written + 1 > room) break;
                out[written++] = static_cast<uint16_t>(cp);
            }
        }
    }
    out[written] = 0;
    return written;
}

KZ_PLATFORM_API size_t KzUtf16ToUtf8(const uint16_t* in, size_t inLen, char* out, size_t outCap) {
    if (!out || outCap == 0) return 0;
    const size_t room = outCap - 1;
    size_t written = 0;
    if (in) {
        size_t len = inLen;
        if (len == kToNul)
            for (len = 0; in[len]; ++len) {
            }
        for (size_t i = 0; i < len;) {
            char32_t cp = in[i++];
            if (cp >= kSurrogateFirst && cp < kLowSurrogateFirst) {
                if (i < len && in[i] >= kLowSurrogateFirst && in[i] <= kSurrogateLast)
                    cp = kSupplementaryFirst + ((cp - kSurrogateFirst) << 10) +
                         (in[i++] - kLowSurrogateFirst);
                else
                    cp = kReplacement;   // high surrogate without its low half
            } else if (cp >= kLowSurrogateFirst && cp <= kSurrogateLast) {
                cp = kReplacement;   // lone low surrogate
            }
            uint8_t buf[4];
            size_t n = EncodeUtf8(cp, buf);
            if (written + n > room) break;   // never split a character
            for (size_t k = 0; k < n; ++k) out[written++] = static_cast<char>(buf[k]);
        }
    }
    out[written] = '\0';
    return written;
}

}  // extern "C"
