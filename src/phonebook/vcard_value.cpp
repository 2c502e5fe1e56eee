// Decoding of name values: structured-name separators and quoted-printable.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "frame/trace.h"
#include "phonebook/vcard_parser.h"

namespace kz {

namespace {

constexpr size_t kNameMax = 63;   // the name field holds 64 bytes
constexpr std::string_view kQuotedPrintable = "ENCODING=QUOTED-PRINTABLE";
constexpr std::string_view kSoftBreak = "=\r\n";
constexpr size_t kEscapeLength = 3;   // "=XX"

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Up to two hexadecimal digits; 0 when none follows.
char DecodeEscape(const char* digits, size_t available) {
    int value = 0;
    for (size_t k = 0; k < std::min<size_t>(2, available); ++k) {
        int v = HexValue(digits[k]);
        if (v < 0) break;
        value = value * 16 + v;
    }
    return static_cast<char>(value);
}

}  // namespace

size_t DecodeQuotedPrintable(const char* in, char* out, size_t length) {
    size_t written = 0;
    for (size_t p = 0; p < length;) {
        std::string_view rest(in + p, length - p);
        if (rest.starts_with(kSoftBreak)) {
            p += kSoftBreak.size();
        } else if (in[p] == '=') {
            out[written++] = DecodeEscape(in + p + 1, length - p - 1);
            p += kEscapeLength;
        } else {
            out[written++] = in[p++];
        }
    }
    out[written] = '\0';
    return written;
}

void DecodeVCardValue(const char* line, size_t length, char out[64]) {
    std::string_view text(line, length);
    bool quoted = text.find(kQuotedPrintable) != std::string_view::npos;
    size_t colon = text.find(':');
    std::string value(colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1));
    value = value.c_str();   // the value ends at a NUL
    std::erase(value, ';');  // 'Family;Given;;;' becomes 'FamilyGiven'
    std::string decoded = value;
    if (quoted) {
        decoded.assign(value.size() + 1, '\0');
        decoded.resize(DecodeQuotedPrintable(value.data(), decoded.data(), value.size()));
    }
    KZ_TRACE("szTemBuff = %s", value.c_str());
    KZ_TRACE("szDate = %s", decoded.c_str());
    size_t n = std::min(std::strlen(decoded.c_str()), kNameMax);
    std::memcpy(out, decoded.data(), n);
    out[n] = '\0';
}

}  // namespace kz
