// Win32 back end: window classes, windows, messages, the message loop and
// timers, all the system's own. Unlike the POSIX back end, SendMessage to a
// window of another thread runs the procedure on the window's thread, when
// that thread next looks at its messages (or waits in the platform layer).
#include <windows.h>

#include <map>
#include <mutex>
#include <string>

#include "kz_platform.h"
#include "wide.h"

static_assert(sizeof(void*) == 8, "the procedure casts below rely on the x64 calling convention");
static_assert(KZ_WM_COPYDATA == WM_COPYDATA && KZ_WM_TIMER == WM_TIMER && KZ_WM_USER == WM_USER);
static_assert(KZ_WM_QUIT == WM_QUIT && KZ_WS_POPUP == WS_POPUP && KZ_NULL_BRUSH == NULL_BRUSH);
static_assert(sizeof(KzCopyDataStruct) == sizeof(COPYDATASTRUCT));

namespace kz::platform {
namespace {

// The procedure of each class registered through the platform layer; the
// window procedure of the class is WindowTrampoline, which calls it.
struct Classes {
    std::mutex mutex;
    std::map<std::wstring, KzWndProc> procs;
};

Classes& ClassTable() {
    static auto* classes = new Classes;   // leaked: windows may outlive statics
    return *classes;
}

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// The platform's procedures see what the library handles (its own messages,
// WM_COPYDATA and WM_TIMER); the rest goes to the system's default handling,
// which keeps titles, creation and destruction working.
bool ForLibrary(UINT msg) { return msg >= WM_USER || msg == WM_COPYDATA || msg == WM_TIMER; }

LRESULT CALLBACK WindowTrampoline(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto proc = reinterpret_cast<KzWndProc>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (proc && ForLibrary(msg))
        return proc(reinterpret_cast<KzHwnd>(wnd), msg, wParam, static_cast<KzLParam>(lParam));
    return DefWindowProcW(wnd, msg, wParam, lParam);
}

// KzTimerProc and TIMERPROC take the same arguments at the same widths, and
// x64 has one calling convention: the timer procedure is handed over as is.
TIMERPROC AsTimerProc(KzTimerProc proc) {
    return reinterpret_cast<TIMERPROC>(reinterpret_cast<void (*)()>(proc));
}
KzTimerProc AsKzTimerProc(LPARAM lParam) {
    return reinterpret_cast<KzTimerProc>(reinterpret_cast<void (*)()>(lParam));
}

void ToKzMsg(const MSG& in, KzMsg* out) {
    out->hwnd = reinterpret_cast<KzHwnd>(in.hwnd);
    out->message = in.message;
    out->wParam = in.wParam;
    out->lParam = static_cast<KzLParam>(in.lParam);
    out->time = in.time;
    out->timerProc = in.message == WM_TIMER && in.lParam ? AsKzTimerProc(in.lParam) : nullptr;
}

// Takes one message within timeoutMs (INFINITE: no limit).
bool TakeMessage(MSG& msg, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return true;
        DWORD left = timeoutMs;
        if (timeoutMs != INFINITE) {
            ULONGLONG spent = GetTickCount64() - start;
            if (spent >= timeoutMs) return false;
            left = timeoutMs - static_cast<DWORD>(spent);
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

}  // namespace
}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API int KzRegisterClass(const char* className, KzWndProc proc, uint32_t style) {
    if (!className || !proc) return 0;
    std::wstring name = Widen(className);
    WNDCLASSW wc{};
    wc.style = style;
    wc.lpfnWndProc = WindowTrampoline;
    wc.hInstance = ThisModule();
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    wc.lpszClassName = name.c_str();
    if (!RegisterClassW(&wc)) return 0;
    auto& t = ClassTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.procs[name] = proc;
    return 1;
}

KZ_PLATFORM_API KzHwnd KzCreateWindow(const char* className, const char* title, uint32_t style) {
    if (!className) return nullptr;
    std::wstring name = Widen(className);
    KzWndProc proc = nullptr;
    {
        auto& t = ClassTable();
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.procs.find(name);
        if (it == t.procs.end()) return nullptr;
        proc = it->second;
    }
    WideArg text(title ? title : "");
    HWND wnd = CreateWindowExW(0, name.c_str(), text.get(), style, 0, 0, 0, 0, nullptr, nullptr,
                               ThisModule(), reinterpret_cast<LPVOID>(proc));
    return reinterpret_cast<KzHwnd>(wnd);
}

KZ_PLATFORM_API int KzDestroyWindow(KzHwnd wnd) {
    return DestroyWindow(reinterpret_cast<HWND>(wnd)) ? 1 : 0;
}

KZ_PLATFORM_API int KzSetWindowText(KzHwnd wnd, const char* title) {
    return SetWindowTextW(reinterpret_cast<HWND>(wnd), Widen(title).c_str()) ? 1 : 0;
}

KZ_PLATFORM_API int KzShowWindow(KzHwnd wnd, int cmd) {
    if (!IsWindow(reinterpret_cast<HWND>(wnd))) return 0;
    ShowWindow(reinterpret_cast<HWND>(wnd), cmd);
    return 1;
}

KZ_PLATFORM_API int KzUpdateWindow(KzHwnd wnd) {
    return UpdateWindow(reinterpret_cast<HWND>(wnd)) ? 1 : 0;
}

KZ_PLATFORM_API KzHwnd KzFindWindow(const char* className, const char* title) {
    WideArg cls(className), text(title);
    return reinterpret_cast<KzHwnd>(FindWindowW(cls.get(), text.get()));
}

KZ_PLATFORM_API int KzIsWindow(KzHwnd wnd) { return IsWindow(reinterpret_cast<HWND>(wnd)) ? 1 : 0; }

KZ_PLATFORM_API KzLResult KzSendMessage(KzHwnd wnd, uint32_t msg, KzWParam wParam, KzLParam lParam) {
    return SendMessageW(reinterpret_cast<HWND>(wnd), msg, wParam, lParam);
}

KZ_PLATFORM_API int KzPostMessage(KzHwnd wnd, uint32_t msg, KzWParam wParam, KzLParam lParam) {
    return PostMessageW(reinterpret_cast<HWND>(wnd), msg, wParam, lParam) ? 1 : 0;
}

KZ_PLATFORM_API void KzPostQuitMessage(int exitCode) { PostQuitMessage(exitCode); }

KZ_PLATFORM_API int KzGetMessage(KzMsg* out) {
    MSG msg{};
    BOOL r = GetMessageW(&msg, nullptr, 0, 0);
    if (r == -1) msg.message = WM_QUIT;   // no queue to read: as good as a quit
    if (out) ToKzMsg(msg, out);
    return msg.message == WM_QUIT ? 0 : 1;
}

KZ_PLATFORM_API int KzPeekMessage(KzMsg* out, uint32_t timeoutMs) {
    MSG msg{};
    if (!TakeMessage(msg, timeoutMs)) return 0;
    if (out) ToKzMsg(msg, out);
    return 1;
}

KZ_PLATFORM_API KzLResult KzDispatchMessage(const KzMsg* in) {
    if (!in) return 0;
    MSG msg{};
    msg.hwnd = reinterpret_cast<HWND>(in->hwnd);
    msg.message = in->message;
    msg.wParam = in->wParam;
    msg.lParam = in->lParam;
    msg.time = in->time;
    return DispatchMessageW(&msg);
}

KZ_PLATFORM_API void KzPumpMessages(uint32_t ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    MSG msg{};
    for (ULONGLONG now; (now = GetTickCount64()) < deadline;) {
        if (!TakeMessage(msg, static_cast<DWORD>(deadline - now))) return;
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));   // left for the thread's own loop
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

KZ_PLATFORM_API uintptr_t KzSetTimer(KzHwnd wnd, uintptr_t idEvent, uint32_t elapseMs,
                                     KzTimerProc proc) {
    return SetTimer(reinterpret_cast<HWND>(wnd), idEvent, elapseMs, proc ? AsTimerProc(proc) : nullptr);
}

KZ_PLATFORM_API int KzKillTimer(KzHwnd wnd, uintptr_t idEvent) {
    return KillTimer(reinterpret_cast<HWND>(wnd), idEvent) ? 1 : 0;
}

}  // extern "C"
