// Events, named recursive mutexes and the wait functions.
#include "sync.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace kz::platform {
namespace {

struct SyncState {
    std::mutex mutex;
    std::condition_variable cond;
};

SyncState& State() {
    static auto* state = new SyncState;  // leaked: used by threads at exit
    return *state;
}

class Event final : public Waitable {
public:
    Event(bool manual, bool initial) : manual_(manual), signalled_(initial) {}
    bool IsSignalled(std::thread::id) const override { return signalled_; }
    void Acquire(std::thread::id) override {
        if (!manual_) signalled_ = false;
    }
    void Set(bool on) { signalled_ = on; }

private:
    const bool manual_;
    bool signalled_;
};

class Mutex final : public Waitable {
public:
    bool IsSignalled(std::thread::id waiter) const override {
        return count_ == 0 || owner_ == waiter;
    }
    void Acquire(std::thread::id waiter) override {
        owner_ = waiter;
        ++count_;
    }
    bool Release(std::thread::id caller) {
        if (count_ == 0 || owner_ != caller) return false;
        if (--count_ == 0) owner_ = std::thread::id();
        return true;
    }

private:
    std::thread::id owner_;
    uint32_t count_ = 0;
};

// Named mutexes live for the whole process: every KzCreateMutex with the same
// name gets a new handle to the one object.
std::map<std::string, std::shared_ptr<Mutex>>& NamedMutexes() {
    static auto* names = new std::map<std::string, std::shared_ptr<Mutex>>;
    return *names;
}

using Clock = std::chrono::steady_clock;

uint32_t WaitAny(const std::vector<std::shared_ptr<Waitable>>& objects, uint32_t timeoutMs) {
    auto& state = State();
    const auto me = std::this_thread::get_id();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(state.mutex);
    for (;;) {
        for (size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->IsSignalled(me)) {
                objects[i]->Acquire(me);
                return KZ_WAIT_OBJECT_0 + static_cast<uint32_t>(i);
            }
        }
        if (timeoutMs == KZ_INFINITE) {
            state.cond.wait(lock);
        } else if (Clock::now() >= deadline) {
            return KZ_WAIT_TIMEOUT;
        } else {
            state.cond.wait_until(lock, deadline);
        }
    }
}

template <class T>
int WithEvent(KzHandle h, T action) {
    auto event = Lookup<Event>(h);
    if (!event) return 0;
    std::lock_guard<std::mutex> lock(SyncMutex());
    action(*event);
    WakeWaiters();
    return 1;
}

}  // namespace

std::mutex& SyncMutex() { return State().mutex; }
void WakeWaiters() { State().cond.notify_all(); }

}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API KzHandle KzCreateEvent(int manualReset, int initialState) {
    return InsertHandle(std::make_shared<Event>(manualReset != 0, initialState != 0));
}

KZ_PLATFORM_API int KzSetEvent(KzHandle ev) {
    return WithEvent(ev, [](Event& e) { e.Set(true); });
}

KZ_PLATFORM_API int KzResetEvent(KzHandle ev) {
    return WithEvent(ev, [](Event& e) { e.Set(false); });
}

KZ_PLATFORM_API KzHandle KzCreateMutex(const char* name) {
    if (!name) return InsertHandle(std::make_shared<Mutex>());
    std::shared_ptr<Mutex> mutex;
    {
        std::lock_guard<std::mutex> lock(SyncMutex());
        auto& slot = NamedMutexes()[name];
        if (!slot) slot = std::make_shared<Mutex>();
        mutex = slot;
    }
    return InsertHandle(mutex);
}

KZ_PLATFORM_API int KzReleaseMutex(KzHandle h) {
    auto mutex = Lookup<Mutex>(h);
    if (!mutex) return 0;
    std::lock_guard<std::mutex> lock(SyncMutex());
    if (!mutex->Release(std::this_thread::get_id())) {
        SetLastError(kErrorNotOwner);
        return 0;
    }
    WakeWaiters();
    return 1;
}

KZ_PLATFORM_API uint32_t KzWaitForSingleObject(KzHandle h, uint32_t timeoutMs) {
    return KzWaitForMultipleObjects(1, &h, 0, timeoutMs);
}

KZ_PLATFORM_API uint32_t KzWaitForMultipleObjects(uint32_t count, const KzHandle* handles,
                                                  int waitAll, uint32_t timeoutMs) {
    if (count == 0 || count > KZ_MAXIMUM_WAIT_OBJECTS || !handles || waitAll) {
        SetLastError(kErrorInvalidParameter);
        return KZ_WAIT_FAILED;
    }
    std::vector<std::shared_ptr<Waitable>> objects;
    objects.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        auto object = Lookup<Waitable>(handles[i]);
        if (!object) return KZ_WAIT_FAILED;
        objects.push_back(std::move(object));
    }
    return WaitAny(objects, timeoutMs);
}

}  // extern "C"
