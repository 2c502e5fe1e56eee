// Character sets to UTF-8 through iconv.
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "kz_platform.h"

namespace kz::platform {
namespace {

constexpr size_t kIconvBlock = 256;
constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";   // U+FFFD

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
}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API long KzCharsetToUtf8(const char* charset, const char* in, size_t inLen, char* out,
                                     size_t outCap) {
    if (!charset || (!in && inLen)) return -1;
    Converter converter{std::string(charset)};
    if (!converter.ok()) return -1;
    const std::string text = converter.Convert(std::string_view(in ? in : "", inLen));
    if (out) memcpy(out, text.data(), text.size() < outCap ? text.size() : outCap);
    return static_cast<long>(text.size());
}

}  // extern "C"
