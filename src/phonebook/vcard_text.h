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

// Bytes below 0x20, and 0x7F.
bool IsControlByte(char c);

// The length of the longest prefix of valid UTF-8 text that holds at most max
// bytes and does not end inside a character.
size_t Utf8Prefix(std::string_view text, size_t max);

// ASCII case-insensitive comparison and search.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool ContainsNoCase(std::string_view text, std::string_view part);

}  // namespace kz
