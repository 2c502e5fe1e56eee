// Windows, per-thread message queues and timers. One process-wide lock
// guards the window registry and every queue; each queue has its own
// condition variable so that a post wakes only the owning thread.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kz_platform.h"

namespace kz::platform {

using Clock = std::chrono::steady_clock;

struct Timer {
    uintptr_t windowId;   // 0 for a thread timer
    uintptr_t id;
    uint32_t periodMs;
    KzTimerProc proc;
    Clock::time_point due;
};

struct ThreadQueue {
    std::condition_variable cond;
    std::deque<KzMsg> posted;
    std::vector<Timer> timers;
    bool alive = true;   // false once the owning thread has ended
};

struct Window {
    uintptr_t id;
    std::string className;
    std::string title;
    KzWndProc proc;
    uint32_t style;
    std::shared_ptr<ThreadQueue> queue;   // the creating thread's queue
};

struct Messaging {
    std::mutex mutex;
    std::map<std::string, KzWndProc> classes;
    std::map<uintptr_t, std::shared_ptr<Window>> windows;   // by id, creation order
    std::vector<std::weak_ptr<ThreadQueue>> queues;
    uintptr_t nextWindowId = 0x100;
    uintptr_t nextTimerId = 0x1000;
};

Messaging& Registry();

// The calling thread's queue, created on first use. Call without the lock.
std::shared_ptr<ThreadQueue> CurrentQueue();

inline uintptr_t WindowId(KzHwnd wnd) { return reinterpret_cast<uintptr_t>(wnd); }
inline KzHwnd WindowHandle(uintptr_t id) { return reinterpret_cast<KzHwnd>(id); }

// With the registry lock held: the live window or null.
std::shared_ptr<Window> FindWindowLocked(KzHwnd wnd);

}  // namespace kz::platform
