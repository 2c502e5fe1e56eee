// Win32 back end: character sets to UTF-8 through the system's code pages.
#include <windows.h>

#include <cstring>
#include <string>

#include "kz_platform.h"

namespace kz::platform {
namespace {

struct CodePage {
    const char* name;
    UINT page;
};

// The character sets phones put in vCards, by their IANA names and usual aliases.
constexpr CodePage kCodePages[] = {
    {"ISO-8859-1", 28591},  {"LATIN1", 28591},      {"ISO-8859-2", 28592},   {"ISO-8859-3", 28593},
    {"ISO-8859-4", 28594},  {"ISO-8859-5", 28595},  {"ISO-8859-6", 28596},   {"ISO-8859-7", 28597},
    {"ISO-8859-8", 28598},  {"ISO-8859-9", 28599},  {"ISO-8859-13", 28603},  {"ISO-8859-15", 28605},
    {"WINDOWS-1250", 1250}, {"WINDOWS-1251", 1251}, {"WINDOWS-1252", 1252},  {"WINDOWS-1253", 1253},
    {"WINDOWS-1254", 1254}, {"WINDOWS-1255", 1255}, {"WINDOWS-1256", 1256},  {"WINDOWS-1257", 1257},
    {"CP1252", 1252},       {"US-ASCII", 20127},    {"ASCII", 20127},        {"KOI8-R", 20866},
    {"KOI8-U", 21866},      {"SHIFT_JIS", 932},     {"SJIS", 932},           {"EUC-JP", 20932},
    {"ISO-2022-JP", 50220}, {"GB2312", 936},        {"GBK", 936},            {"GB18030", 54936},
    {"BIG5", 950},          {"EUC-KR", 949},        {"UTF-16LE", 1200},      {"UTF-16BE", 1201},
    {"UTF-7", 65000},       {"UTF-8", CP_UTF8},
};

UINT FindCodePage(const char* name) {
    for (const auto& c : kCodePages)
        if (_stricmp(c.name, name) == 0) return c.page;
    return 0;
}

// UTF-16 code units of text in the code page; undecodable bytes become U+FFFD.
std::wstring Decode(UINT page, const char* in, size_t inLen) {
    if (inLen == 0) return std::wstring();
    if (page == 1200 || page == 1201) {   // not code pages MultiByteToWideChar takes
        std::wstring out;
        for (size_t i = 0; i + 1 < inLen; i += 2) {
            auto a = static_cast<unsigned char>(in[i]), b = static_cast<unsigned char>(in[i + 1]);
            out += static_cast<wchar_t>(page == 1200 ? a | (b << 8) : (a << 8) | b);
        }
        if (inLen % 2) out += L'\xFFFD';
        return out;
    }
    int n = MultiByteToWideChar(page, 0, in, static_cast<int>(inLen), nullptr, 0);
    if (n <= 0) return std::wstring(inLen, L'\xFFFD');
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(page, 0, in, static_cast<int>(inLen), out.data(), n);
    return out;
}

}  // namespace
}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API long KzCharsetToUtf8(const char* charset, const char* in, size_t inLen, char* out,
                                     size_t outCap) {
    if (!charset || (!in && inLen)) return -1;
    UINT page = FindCodePage(charset);
    if (page == 0 || !IsValidCodePage(page == 1200 || page == 1201 ? CP_UTF8 : page)) return -1;
    const std::wstring wide = Decode(page, in, inLen);
    std::string text;
    if (!wide.empty()) {
        int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
        if (n > 0)
            WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                                nullptr, nullptr);
    }
    if (out) memcpy(out, text.data(), text.size() < outCap ? text.size() : outCap);
    return static_cast<long>(text.size());
}

}  // extern "C"
