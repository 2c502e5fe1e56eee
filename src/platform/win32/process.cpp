// Win32 back end: the message box and starting a program. A host may put
// its own handler or hook in front of either (tests answer the box).
#include <windows.h>

#include <atomic>
#include <string>

#include "kz_platform.h"
#include "wide.h"

static_assert(KZ_IDYES == IDYES && KZ_IDNO == IDNO && KZ_MB_YESNO == MB_YESNO);

namespace {

std::atomic<KzMessageBoxHandler> g_boxHandler{nullptr};
std::atomic<void*> g_boxContext{nullptr};
std::atomic<KzProcessHook> g_processHook{nullptr};
std::atomic<void*> g_processContext{nullptr};

}  // namespace

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API void KzSetMessageBoxHandler(KzMessageBoxHandler handler, void* ctx) {
    g_boxContext = ctx;
    g_boxHandler = handler;
}

// Without a handler the system's box asks the user (and waits for the answer).
KZ_PLATFORM_API int KzMessageBox(KzHwnd owner, const char* text, const char* caption, uint32_t style) {
    if (KzMessageBoxHandler handler = g_boxHandler.load())
        return handler(text ? text : "", caption ? caption : "", style, g_boxContext.load());
    return MessageBoxW(reinterpret_cast<HWND>(owner), Widen(text).c_str(), Widen(caption).c_str(), style);
}

KZ_PLATFORM_API void KzSetProcessHook(KzProcessHook hook, void* ctx) {
    g_processContext = ctx;
    g_processHook = hook;
}

KZ_PLATFORM_API int KzCreateProcess(const char* unitPath) {
    if (!unitPath) return 0;
    if (KzProcessHook hook = g_processHook.load()) return hook(unitPath, g_processContext.load());
    char host[MAX_PATH * 4];
    if (KzMapPath(unitPath, host, sizeof host) < 0) return 0;
    std::wstring exe = Widen(host);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 1;
}

}  // extern "C"
