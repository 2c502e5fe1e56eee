// Waitable objects: events, mutexes and threads share one process-wide lock
// and condition variable, so that one wait can cover several objects of
// different kinds and a signal wakes every waiter to re-check its set.
#pragma once
#include <condition_variable>
#include <mutex>
#include <thread>

#include "handles.h"

namespace kz::platform {

std::mutex& SyncMutex();
// Wakes all waiters; call after changing a signalled state (lock may be held).
void WakeWaiters();

class Waitable : public Object {
public:
    // Both run with SyncMutex() held.
    virtual bool IsSignalled(std::thread::id waiter) const = 0;
    // A satisfied wait consumes what it took (auto-reset, mutex ownership).
    virtual void Acquire(std::thread::id /*waiter*/) {}
};

}  // namespace kz::platform
