// Hexadecimal text of addresses and link keys, as tarn.ini and tarn.dat hold them.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "settings/registry.h"
#include "settings/registry_internal.h"

namespace kz {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void FormatHex(const uint8_t* bytes, size_t n, char* out) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    out[2 * n] = '\0';
}

bool ParseHexDigits(const char* text, size_t n, uint8_t* out) {
    uint8_t parsed[kKeyBytes];
    if (n > sizeof parsed) return false;
    for (size_t i = 0; i < n; ++i) {
        int hi = HexValue(text[2 * i]);
        int lo = hi < 0 ? -1 : HexValue(text[2 * i + 1]);
        if (lo < 0) return false;
        parsed[i] = uint8_t(hi << 4 | lo);
    }
    std::memcpy(out, parsed, n);
    return true;
}

void TrimWhiteSpace(char* text) {
    const size_t length = std::strlen(text);
    size_t end = length;
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    size_t start = 0;
    while (start < end && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
    std::memmove(text, text + start, end - start);
    std::memset(text + (end - start), 0, length - (end - start));   // no stale tail after the NUL
}

bool ParseHexText(const char* text, size_t n, uint8_t* out) {
    return std::strlen(text) == 2 * n && ParseHexDigits(text, n, out);
}

PairedDeviceRecord EmptyRecord() {
    PairedDeviceRecord r{};
    std::memset(r.key, kNoKeyByte, sizeof r.key);
    r.id = kEmptySlot;
    r.pb = kNoPhonebook;
    return r;
}

}  // namespace kz
