// Decoding of name values: quoted-printable, character sets, escapes and the
// components of a structured name.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "core/trace.h"
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

bool IsLineSpace(char c) { return c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The end of the component that starts at `from`: the next ';' that no
// backslash escapes, or the end of the text.
size_t ComponentEnd(std::string_view text, size_t from) {
    for (size_t i = from; i < text.size(); ++i) {
        if (text[i] == kEscape) {
            ++i;
        } else if (text[i] == kComponentSeparator) {
            return i;
        }
    }
    return text.size();
}

// What an escape stands for: \, \; \\ and \n (either case); 0 for any
// other, whose backslash then stays as it is.
char Escaped(char c) {
    switch (c) {
        case ',': case ';': case '\\': return c;
        case 'n': case 'N': return '\n';
        default: return '\0';
    }
}

// Appends one component, escapes resolved, to name, after a space when name
// already holds one. A tab or line break becomes one space, other control
// bytes go, and so do spaces at either end; an empty component adds nothing.
void AppendComponent(std::string& name, std::string_view part) {
    const size_t before = name.size();
    if (before != 0) name += ' ';
    const size_t start = name.size();
    // Most components hold no escape and no control byte: only the spaces at
    // either end go, and the rest is copied whole.
    if (std::none_of(part.begin(), part.end(), [](char c) { return c == kEscape || IsControlByte(c); })) {
        const size_t first = part.find_first_not_of(' ');
        if (first == std::string_view::npos) {
            name.resize(before);
        } else {
            name.append(part.substr(first, part.find_last_not_of(' ') + 1 - first));
        }
        return;
    }
    const auto put = [&](char c) {
        bool atStart = name.size() == start;
        if (!IsControlByte(c)) {
            if (c != ' ' || !atStart) name += c;
        } else if (IsLineSpace(c) && !atStart && name.back() != ' ') {
            name += ' ';
        }
    };
    for (size_t i = 0; i < part.size(); ++i) {
        char escaped = part[i] == kEscape && i + 1 < part.size() ? Escaped(part[i + 1]) : '\0';
        if (escaped != '\0') ++i;
        put(escaped != '\0' ? escaped : part[i]);
    }
    while (name.size() > start && name.back() == ' ') name.pop_back();
    if (name.size() == start) name.resize(before);
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
    std::string bytes;
    if (ContainsNoCase(params, kQuotedPrintable)) {
        bytes.resize(value.size() + 1);
        DecodeQuotedPrintable(value.data(), bytes.data(), value.size());   // NUL-terminated
        bytes.resize(std::strlen(bytes.c_str()));   // a broken escape's 0 byte ends the text
    } else {
        bytes.assign(value);
    }
    // Converted before the components are split: in some character sets a
    // backslash byte is part of a character.
    std::string text = ToUtf8(bytes, ParamValue(params, kCharsetKey));
    KZ_TRACE("szTemBuff = %.*s", int(value.size()), value.data());
    std::string name;
    name.reserve(text.size() + 1);   // components and their spaces never make it longer
    for (size_t from = 0;;) {
        size_t end = structured ? ComponentEnd(text, from) : text.size();
        AppendComponent(name, std::string_view(text).substr(from, end - from));
        if (end >= text.size()) break;
        from = end + 1;
    }
    name.resize(Utf8Prefix(name, kNameMax));
    KZ_TRACE("szDate = %s", name.c_str());
    return name;
}

}  // namespace kz
