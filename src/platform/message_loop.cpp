// Per-thread message queues, the message loop and timers. Posted messages
// come first, in order. A timer produces a KZ_WM_TIMER only when the loop
// looks for work and the timer is due, so at most one is ever pending per
// timer and a busy loop never builds up a backlog.
#include <algorithm>
#include <optional>

#include "messaging.h"

namespace kz::platform {
namespace {

// As on the original platform, shorter periods are raised to this, so a
// zero-period timer cannot keep the loop spinning.
constexpr uint32_t kMinimumTimerMs = 10;

// Marks the queue dead when its thread ends: later posts to the thread's
// windows fail instead of piling up.
struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueHolder() {
        if (!queue) return;
        std::lock_guard<std::mutex> lock(Registry().mutex);
        queue->alive = false;
        queue->posted.clear();
        queue->timers.clear();
    }
};

thread_local QueueHolder t_queue;

// Takes the next message: a posted one, else the most overdue timer.
bool TakeMessageLocked(ThreadQueue& q, KzMsg& msg) {
    if (!q.posted.empty()) {
        msg = q.posted.front();
        q.posted.pop_front();
        return true;
    }
    const auto now = Clock::now();
    Timer* due = nullptr;
    for (auto& t : q.timers)
        if (t.due <= now && (!due || t.due < due->due)) due = &t;
    if (!due) return false;
    due->due = now + std::chrono::milliseconds(due->periodMs);
    msg = KzMsg{WindowHandle(due->windowId), KZ_WM_TIMER, due->id,
                reinterpret_cast<KzLParam>(due->proc), KzGetTickCount(), due->proc};
    return true;
}

std::optional<Clock::time_point> NextTimerLocked(const ThreadQueue& q) {
    std::optional<Clock::time_point> next;
    for (const auto& t : q.timers)
        if (!next || t.due < *next) next = t.due;
    return next;
}

// Waits for a message until the deadline (none: forever). True when one was taken.
bool WaitMessage(KzMsg& msg, std::optional<Clock::time_point> deadline) {
    auto queue = CurrentQueue();
    std::unique_lock<std::mutex> lock(Registry().mutex);
    for (;;) {
        if (TakeMessageLocked(*queue, msg)) return true;
        auto wake = NextTimerLocked(*queue);
        if (deadline && (!wake || *deadline < *wake)) wake = deadline;
        if (deadline && Clock::now() >= *deadline) return false;
        if (wake)
            queue->cond.wait_until(lock, *wake);
        else
            queue->cond.wait(lock);
    }
}

Timer* FindTimerLocked(ThreadQueue& q, uintptr_t windowId, uintptr_t id) {
    for (auto& t : q.timers)
        if (t.windowId == windowId && t.id == id) return &t;
    return nullptr;
}

void ArmTimerLocked(ThreadQueue& q, uintptr_t windowId, uintptr_t id, uint32_t elapseMs,
                    KzTimerProc proc) {
    elapseMs = std::max(elapseMs, kMinimumTimerMs);
    const auto due = Clock::now() + std::chrono::milliseconds(elapseMs);
    if (Timer* t = FindTimerLocked(q, windowId, id))
        *t = Timer{windowId, id, elapseMs, proc, due};
    else
        q.timers.push_back(Timer{windowId, id, elapseMs, proc, due});
    q.cond.notify_all();   // the owner recomputes its wake-up time
}

bool RemoveTimerLocked(ThreadQueue& q, uintptr_t windowId, uintptr_t id) {
    return std::erase_if(q.timers, [&](const Timer& t) {
               return t.windowId == windowId && t.id == id;
           }) > 0;
}

}  // namespace

std::shared_ptr<ThreadQueue> CurrentQueue() {
    if (!t_queue.queue) {
        auto queue = std::make_shared<ThreadQueue>();
        auto& r = Registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        std::erase_if(r.queues, [](const auto& weak) { return weak.expired(); });
        r.queues.push_back(queue);
        t_queue.queue = std::move(queue);
    }
    return t_queue.queue;
}

}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API int KzGetMessage(KzMsg* msg) {
    KzMsg m{};
    WaitMessage(m, std::nullopt);
    if (msg) *msg = m;
    return m.message == KZ_WM_QUIT ? 0 : 1;
}

KZ_PLATFORM_API int KzPeekMessage(KzMsg* msg, uint32_t timeoutMs) {
    KzMsg m{};
    if (!WaitMessage(m, Clock::now() + std::chrono::milliseconds(timeoutMs))) return 0;
    if (msg) *msg = m;
    return 1;
}

KZ_PLATFORM_API KzLResult KzDispatchMessage(const KzMsg* msg) {
    if (!msg) return 0;
    if (msg->message == KZ_WM_TIMER && msg->timerProc) {
        msg->timerProc(msg->hwnd, msg->message, msg->wParam, KzGetTickCount());
        return 0;
    }
    if (!msg->hwnd) return 0;   // thread messages have no procedure
    return KzSendMessage(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

KZ_PLATFORM_API void KzPumpMessages(uint32_t ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    KzMsg m{};
    while (WaitMessage(m, deadline)) {
        if (m.message == KZ_WM_QUIT) {
            // Leave the quit for the thread's own loop.
            KzPostQuitMessage(static_cast<int>(m.wParam));
            return;
        }
        KzDispatchMessage(&m);
    }
}

KZ_PLATFORM_API uintptr_t KzSetTimer(KzHwnd wnd, uintptr_t idEvent, uint32_t elapseMs,
                                     KzTimerProc proc) {
    auto own = CurrentQueue();
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (wnd) {
        auto w = FindWindowLocked(wnd);
        if (!w) return 0;
        ArmTimerLocked(*w->queue, w->id, idEvent, elapseMs, proc);
        return idEvent ? idEvent : 1;
    }
    // A thread timer: an id this thread already uses is re-armed, else a fresh one.
    if (!idEvent || !FindTimerLocked(*own, 0, idEvent)) idEvent = r.nextTimerId++;
    ArmTimerLocked(*own, 0, idEvent, elapseMs, proc);
    return idEvent;
}

KZ_PLATFORM_API int KzKillTimer(KzHwnd wnd, uintptr_t idEvent) {
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (wnd) {
        auto w = FindWindowLocked(wnd);
        return w && RemoveTimerLocked(*w->queue, w->id, idEvent) ? 1 : 0;
    }
    // Thread timer ids are unique in the process, so any thread may kill one.
    for (const auto& weak : r.queues)
        if (auto q = weak.lock(); q && RemoveTimerLocked(*q, 0, idEvent)) return 1;
    return 0;
}

}  // extern "C"
