// Decoding of name values: quoted-printable, character sets, escapes and the
// components of a structured name.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "frame/trace.h"
#include "phonebook/vcard_entry.h"
#include "phonebook/vcard_parser.h"
#include "phonebook/vcard_text.h"

namespace kz {

namespace {

constexpr size_t kNameMax = 63;   // the name field holds 64 bytes
constexpr std::string_view kQuotedPrintable = "QUOTED-PRINTABLE";   // also 2.1's bare parameter
constexpr std::string_view kCharsetKey = "CHARSET";
constexpr std::string_view kSoftBreak = "=\r\n";
constexpr size_t kEscapeLength = 3;   // "=XX"
constexpr char kEscape = '\\';
constexpr char kComponentSeparator = ';';

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

// The value of a parameter ("CHARSET=Shift_JIS"), empty when absent.
std::string_view ParamValue(std::string_view params, std::string_view key) {
    while (!params.empty()) {
        params.remove_prefix(1);   // the ';'
        std::string_view param = params.substr(0, params.find(';'));
        params.remove_prefix(param.size());
        size_t eq = param.find('=');
        if (eq != std::string_view::npos && EqualsNoCase(param.substr(0, eq), key)) {
            std::string_view v = param.substr(eq + 1);
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return {};
}

// Splits at every ';' that no backslash escapes.
std::vector<std::string> Components(const std::string& text) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == kEscape && i + 1 < text.size()) {
            parts.back() += text[i];
            parts.back() += text[++i];
        } else if (text[i] == kComponentSeparator) {
            parts.emplace_back();
        } else {
            parts.back() += text[i];
        }
    }
    return parts;
}

// \, \; \\ and \n (either case); any other backslash stays as it is.
std::string Unescape(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (text[i] != kEscape || !std::strchr(",;\\nN", next) || next == '\0') {
            out += text[i];
            continue;
        }
        out += (next == 'n' || next == 'N') ? '\n' : next;
        ++i;
    }
    return out;
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

std::string DecodeName(std::string_view params, std::string_view value, bool structured) {
    std::string bytes(value);
    if (ContainsNoCase(params, kQuotedPrintable)) {
        std::string decoded(value.size() + 1, '\0');
        decoded.resize(DecodeQuotedPrintable(value.data(), decoded.data(), value.size()));
        bytes = decoded.c_str();   // a broken escape's 0 byte ends the text
    }
    // Converted before the components are split: in some character sets a
    // backslash byte is part of a character.
    std::string text = ToUtf8(bytes, ParamValue(params, kCharsetKey));
    KZ_TRACE("szTemBuff = %.*s", int(value.size()), value.data());
    std::string name;
    for (const std::string& part : structured ? Components(text) : std::vector<std::string>{text}) {
        std::string clean = WithoutControls(Unescape(part));
        if (clean.empty()) continue;
        if (!name.empty()) name += ' ';
        name += clean;
    }
    name.resize(Utf8Prefix(name, kNameMax));
    KZ_TRACE("szDate = %s", name.c_str());
    return name;
}

}  // namespace kz
