// Text of vCard values as the host receives it: UTF-8 whatever the phone's
// character set, cut only between characters.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace kz {

inline constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";   // U+FFFD

// bytes in the named character set (empty: UTF-8) as UTF-8. A byte that
// cannot be decoded becomes U+FFFD; an unknown character set is read as UTF-8.
std::string ToUtf8(std::string_view bytes, std::string_view charset);

// Bytes below 0x20, and 0x7F. Inline: it is asked for every byte of a value.
inline bool IsControlByte(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7F;
}

// The length of the longest prefix of valid UTF-8 text that holds at most max
// bytes and does not end inside a character.
size_t Utf8Prefix(std::string_view text, size_t max);

// ASCII case-insensitive comparison and search. The comparison is inline
// and looks at the lengths first: property names are compared on every line.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 'a' + 'A') : a[i];
        const char y = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 'a' + 'A') : b[i];
        if (x != y) return false;
    }
    return true;
}
bool ContainsNoCase(std::string_view text, std::string_view part);

}  // namespace kz
