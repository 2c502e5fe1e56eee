// The process-wide window registry: classes, windows, find, send and post.
#include "messaging.h"

namespace kz::platform {

Messaging& Registry() {
    static auto* registry = new Messaging;   // leaked: used by threads at exit
    return *registry;
}

std::shared_ptr<Window> FindWindowLocked(KzHwnd wnd) {
    auto& windows = Registry().windows;
    auto it = windows.find(WindowId(wnd));
    return it == windows.end() ? nullptr : it->second;
}

namespace {

bool Matches(const Window& w, const char* className, const char* title) {
    return (!className || w.className == className) && (!title || w.title == title);
}

// Drops the window's pending posts and timers from its owner's queue.
void ForgetWindowLocked(const Window& w) {
    auto& q = *w.queue;
    std::erase_if(q.posted, [&](const KzMsg& m) { return WindowId(m.hwnd) == w.id; });
    std::erase_if(q.timers, [&](const Timer& t) { return t.windowId == w.id; });
}

}  // namespace
}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API int KzRegisterClass(const char* className, KzWndProc proc, uint32_t) {
    if (!className || !proc) return 0;
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.classes.emplace(className, proc).second ? 1 : 0;
}

KZ_PLATFORM_API KzHwnd KzCreateWindow(const char* className, const char* title, uint32_t style) {
    if (!className) return nullptr;
    auto queue = CurrentQueue();
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto cls = r.classes.find(className);
    if (cls == r.classes.end()) return nullptr;
    auto w = std::make_shared<Window>();
    w->id = r.nextWindowId;
    r.nextWindowId += 2;
    w->className = className;
    w->title = title ? title : "";
    w->proc = cls->second;
    w->style = style;
    w->queue = std::move(queue);
    r.windows.emplace(w->id, w);
    return WindowHandle(w->id);
}

KZ_PLATFORM_API int KzDestroyWindow(KzHwnd wnd) {
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto w = FindWindowLocked(wnd);
    if (!w) return 0;
    r.windows.erase(w->id);
    ForgetWindowLocked(*w);
    return 1;
}

KZ_PLATFORM_API int KzSetWindowText(KzHwnd wnd, const char* title) {
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto w = FindWindowLocked(wnd);
    if (!w) return 0;
    w->title = title ? title : "";
    return 1;
}

// Windows are never drawn: showing and updating only check the handle.
KZ_PLATFORM_API int KzShowWindow(KzHwnd wnd, int) { return KzIsWindow(wnd); }
KZ_PLATFORM_API int KzUpdateWindow(KzHwnd wnd) { return KzIsWindow(wnd); }

KZ_PLATFORM_API int KzIsWindow(KzHwnd wnd) {
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return FindWindowLocked(wnd) ? 1 : 0;
}

// The most recently created match wins, as the top of the z-order would.
KZ_PLATFORM_API KzHwnd KzFindWindow(const char* className, const char* title) {
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto it = r.windows.rbegin(); it != r.windows.rend(); ++it)
        if (Matches(*it->second, className, title)) return WindowHandle(it->first);
    return nullptr;
}

KZ_PLATFORM_API KzLResult KzSendMessage(KzHwnd wnd, uint32_t msg, KzWParam wParam, KzLParam lParam) {
    KzWndProc proc = nullptr;
    {
        auto& r = Registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto w = FindWindowLocked(wnd);
        if (!w) return 0;
        proc = w->proc;
    }
    return proc(wnd, msg, wParam, lParam);
}

KZ_PLATFORM_API int KzPostMessage(KzHwnd wnd, uint32_t msg, KzWParam wParam, KzLParam lParam) {
    // A null window posts a thread message to the calling thread.
    auto own = wnd ? nullptr : CurrentQueue();
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::shared_ptr<ThreadQueue> queue = own;
    if (wnd) {
        auto w = FindWindowLocked(wnd);
        if (!w) return 0;
        queue = w->queue;
    }
    if (!queue->alive) return 0;
    queue->posted.push_back(KzMsg{wnd, msg, wParam, lParam, KzGetTickCount(), nullptr});
    queue->cond.notify_all();
    return 1;
}

KZ_PLATFORM_API void KzPostQuitMessage(int exitCode) {
    KzPostMessage(nullptr, KZ_WM_QUIT, static_cast<KzWParam>(exitCode), 0);
}

}  // extern "C"
