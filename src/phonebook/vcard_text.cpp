// Character sets, control bytes and UTF-8 boundaries of vCard values.
#include "phonebook/vcard_text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "frame/trace.h"

namespace kz {

namespace {

constexpr unsigned char kDelete = 0x7F;
constexpr size_t kIconvBlock = 256;

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
        size_t n = CharLength(text);
        if (n == 0) {
            out += kUtf8Replacement;
            n = 1;
        } else {
            out.append(text.substr(0, n));
        }
        text.remove_prefix(n);
    }
    return out;
}

bool IsUtf8Name(std::string_view charset) {
    return charset.empty() || EqualsNoCase(charset, "UTF-8") || EqualsNoCase(charset, "UTF8");
}

class Converter {
public:
    explicit Converter(const std::string& from) : cd_(iconv_open("UTF-8", from.c_str())) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    std::string Convert(std::string_view bytes) {
        std::string out;
        char* in = const_cast<char*>(bytes.data());
        size_t inLeft = bytes.size();
        char block[kIconvBlock];
        while (inLeft > 0) {
            char* to = block;
            size_t toLeft = sizeof block;
            size_t r = iconv(cd_, &in, &inLeft, &to, &toLeft);
            out.append(block, size_t(to - block));
            if (r != size_t(-1) || errno == E2BIG) continue;
            // Not decodable here (or cut short at the end): one byte is lost.
            out += kUtf8Replacement;
            ++in;
            --inLeft;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        char* to = block;
        size_t toLeft = sizeof block;
        iconv(cd_, nullptr, nullptr, &to, &toLeft);   // a stateful set's closing bytes
        out.append(block, size_t(to - block));
        return out;
    }

private:
    iconv_t cd_;
};

}  // namespace

bool IsControlByte(char ch) {
    auto c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == kDelete;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Upper(x) == Upper(y); });
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [](char x, char y) { return Upper(x) == Upper(y); }) != text.end() ||
           part.empty();
}

std::string ToUtf8(std::string_view bytes, std::string_view charset) {
    if (IsUtf8Name(charset)) return ValidUtf8(bytes);
    Converter converter{std::string(charset)};
    if (!converter.ok()) {
        KZ_TRACE("character set %.*s unknown, read as UTF-8", int(charset.size()), charset.data());
        return ValidUtf8(bytes);
    }
    return ValidUtf8(converter.Convert(bytes));
}

size_t Utf8Prefix(std::string_view text, size_t max) {
    size_t n = std::min(max, text.size());
    while (n > 0 && n < text.size() && IsContinuation(static_cast<unsigned char>(text[n]))) --n;
    return n;
}

}  // namespace kz
