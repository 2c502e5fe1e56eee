// Threads (std::thread underneath), sleep and the tick count. A thread
// object is waitable: it is signalled once its procedure has returned.
#include <atomic>
#include <chrono>
#include <system_error>

#include "sync.h"

namespace kz::platform {
namespace {

class Thread final : public Waitable {
public:
    ~Thread() override {
        if (thread_.joinable()) thread_.detach();
    }
    bool IsSignalled(std::thread::id) const override { return ended_; }

    void Start(std::shared_ptr<Thread> self, KzThreadProc proc, void* arg) {
        // The running thread keeps its own reference, so the object outlives
        // a closed handle until the procedure returns.
        thread_ = std::thread([self = std::move(self), proc, arg]() mutable {
            uint32_t code = proc(arg);
            {
                std::lock_guard<std::mutex> lock(SyncMutex());
                self->exitCode_ = code;
                self->ended_ = true;
            }
            WakeWaiters();
        });
    }

    uint32_t ExitCode() const {
        std::lock_guard<std::mutex> lock(SyncMutex());
        return ended_ ? exitCode_ : KZ_STILL_ACTIVE;
    }

    // Closing the handle of a running thread detaches it; an ended one is
    // joined (it has at most its last instructions left to run).
    void OnClose() override {
        bool ended;
        {
            std::lock_guard<std::mutex> lock(SyncMutex());
            ended = ended_;
        }
        if (!thread_.joinable()) return;
        if (ended && thread_.get_id() != std::this_thread::get_id())
            thread_.join();
        else
            thread_.detach();
    }

    std::atomic<int> priority{0};

private:
    std::thread thread_;
    bool ended_ = false;
    uint32_t exitCode_ = 0;
};

}  // namespace
}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API KzHandle KzCreateThread(KzThreadProc proc, void* arg) {
    if (!proc) {
        SetLastError(kErrorInvalidParameter);
        return nullptr;
    }
    auto thread = std::make_shared<Thread>();
    // Insert before starting so the handle exists even if the thread ends at once.
    KzHandle h = InsertHandle(thread);
    try {
        thread->Start(thread, proc, arg);
    } catch (const std::system_error&) {
        RemoveHandle(h);
        SetLastError(kErrorNotEnoughMemory);
        return nullptr;
    }
    return h;
}

KZ_PLATFORM_API int KzSetThreadPriority(KzHandle h, int priority) {
    auto thread = Lookup<Thread>(h);
    if (!thread) return 0;
    thread->priority = priority;
    return 1;
}

KZ_PLATFORM_API int KzGetExitCodeThread(KzHandle h, uint32_t* exitCode) {
    auto thread = Lookup<Thread>(h);
    if (!thread || !exitCode) return 0;
    *exitCode = thread->ExitCode();
    return 1;
}

KZ_PLATFORM_API void KzSleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

KZ_PLATFORM_API uint32_t KzGetTickCount(void) {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // extern "C"
