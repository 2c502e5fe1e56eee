// UTF-8 <-> UTF-16 for the system's wide calls (code page 65001, as the
// library converts text for windows).
#pragma once
#include <windows.h>

#include <string>

namespace kz::platform {

inline std::wstring Widen(const char* text) {
    if (!text || !*text) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

inline std::string Narrow(const wchar_t* text) {
    if (!text || !*text) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

// Null stays null (FindWindowW and friends take null as "any").
struct WideArg {
    explicit WideArg(const char* text) : isNull(text == nullptr), value(Widen(text)) {}
    const wchar_t* get() const { return isNull ? nullptr : value.c_str(); }
    bool isNull;
    std::wstring value;
};

// The serial-line registry lives in serial.cpp; KzCloseHandle asks it to
// let go of a line before the handle is closed.
void ForgetSerialLine(HANDLE h);

}  // namespace kz::platform
