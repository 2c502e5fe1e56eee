// Character sets, control bytes and UTF-8 boundaries of vCard values.
#include "phonebook/vcard_text.h"

#include <algorithm>
#include <cstdint>

#include "core/trace.h"

namespace kz {

namespace {

// Room for a conversion to UTF-8: at most four bytes per byte, and a few for
// the closing bytes of a character set with shift states.
constexpr size_t kUtf8BytesPerByte = 4;
constexpr size_t kUtf8ClosingRoom = 16;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// Length of the well-formed UTF-8 character at the start of text, 0 if none.
size_t CharLength(std::string_view text) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = b(0);
    if (lead < 0x80) return 1;
    size_t n;
    uint32_t min;
    uint32_t cp;
    if ((lead & 0xE0) == 0xC0) { n = 2; min = 0x80; cp = lead & 0x1F; }
    else if ((lead & 0xF0) == 0xE0) { n = 3; min = 0x800; cp = lead & 0x0F; }
    else if ((lead & 0xF8) == 0xF0) { n = 4; min = 0x10000; cp = lead & 0x07; }
    else return 0;
    if (text.size() < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if (!IsContinuation(b(i))) return 0;
        cp = cp << 6 | (b(i) & 0x3F);
    }
    bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    return (cp < min || cp > 0x10FFFF || surrogate) ? 0 : n;
}

// UTF-8 text with every byte that starts no well-formed character replaced.
std::string ValidUtf8(std::string_view text) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        // Well-formed characters are copied as one run up to the next bad byte.
        size_t run = 0;
        for (size_t n; run < text.size() && (n = CharLength(text.substr(run))) != 0;) run += n;
        out.append(text.substr(0, run));
        text.remove_prefix(run);
        if (!text.empty()) {
            out += kUtf8Replacement;
            text.remove_prefix(1);
        }
    }
    return out;
}

bool IsUtf8Name(std::string_view charset) {
    return charset.empty() || EqualsNoCase(charset, "UTF-8") || EqualsNoCase(charset, "UTF8");
}

}  // namespace

// Only where the first byte matches (in either case) is the rest compared.
bool ContainsNoCase(std::string_view text, std::string_view part) {
    if (part.empty()) return true;
    if (part.size() > text.size()) return false;
    const char upper = Upper(part[0]);
    const char lower = upper >= 'A' && upper <= 'Z' ? char(upper - 'A' + 'a') : upper;
    const std::string_view rest = part.substr(1);
    const char* const last = text.data() + (text.size() - part.size());
    for (const char* p = text.data(); p <= last; ++p) {
        if ((*p == upper || *p == lower) && EqualsNoCase({p + 1, rest.size()}, rest)) return true;
    }
    return false;
}

std::string ToUtf8(std::string_view bytes, std::string_view charset) {
    if (IsUtf8Name(charset)) return ValidUtf8(bytes);
    const std::string name(charset);
    std::string out(bytes.size() * kUtf8BytesPerByte + kUtf8ClosingRoom, '\0');
    long n = KzCharsetToUtf8(name.c_str(), bytes.data(), bytes.size(), out.data(), out.size());
    if (n > static_cast<long>(out.size())) {   // never with the room above; kept safe anyway
        out.resize(static_cast<size_t>(n));
        n = KzCharsetToUtf8(name.c_str(), bytes.data(), bytes.size(), out.data(), out.size());
    }
    if (n < 0) {
        KZ_TRACE("character set %.*s unknown, read as UTF-8", int(charset.size()), charset.data());
        return ValidUtf8(bytes);
    }
    out.resize(static_cast<size_t>(n));
    return ValidUtf8(out);
}

size_t Utf8Prefix(std::string_view text, size_t max) {
    size_t n = std::min(max, text.size());
    while (n > 0 && n < text.size() && IsContinuation(static_cast<unsigned char>(text[n]))) --n;
    return n;
}

}  // namespace kz
