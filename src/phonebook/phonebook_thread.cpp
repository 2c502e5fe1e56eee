// The phonebook file thread. One runs at a time: a request that comes while
// it works waits and is carried out by the same thread when the current work
// ends (a sync before a load, so that a load reads the newest files).
// It is a platform thread, so that waiting for it also lets the notifications
// it sends to the host's windows through (on Windows they run on the host's
// thread, which may be the one waiting).
#include <cstdint>
#include <mutex>
#include <thread>

#include "core/trace.h"
#include "phonebook/phonebook_store.h"

namespace kz {

namespace {

std::mutex threadMutex;      // guards everything below
KzHandle fileThread = nullptr;
std::thread::id fileThreadId;   // set by the thread itself
bool threadRunning = false;
bool syncWaiting = false;
bool loadWaiting = false;

// Takes the next waiting request; false when none waits.
bool TakeWaiting(uint8_t& syncMode) {
    if (syncWaiting) {
        syncWaiting = false;
        syncMode = 1;
        return true;
    }
    if (loadWaiting) {
        loadWaiting = false;
        syncMode = 0;
        return true;
    }
    return false;
}

uint32_t PhoneBookFileThreadProc(void* arg) {
    auto syncMode = static_cast<uint8_t>(reinterpret_cast<uintptr_t>(arg));
    {
        std::lock_guard<std::mutex> lock(threadMutex);
        fileThreadId = std::this_thread::get_id();
    }
    for (;;) {
        uint32_t result = syncMode ? SyncPhoneBookFiles() : LoadPhoneBookFiles();
        KZ_TRACE("phonebook file work (%s) ended with %d", syncMode ? "sync" : "load", int(result));
        std::lock_guard<std::mutex> lock(threadMutex);
        if (!TakeWaiting(syncMode)) {
            threadRunning = false;
            fileThreadId = std::thread::id();
            return result;
        }
    }
}

void StartFileThread(uint8_t syncMode) {
    std::lock_guard<std::mutex> lock(threadMutex);
    g_bPhoneBookSyncMode = syncMode;
    if (threadRunning) {
        KZ_TRACE("phonebook file thread busy, request waits");
        (syncMode ? syncWaiting : loadWaiting) = true;
        return;
    }
    if (fileThread) {   // it has ended already
        KzWaitForSingleObject(fileThread, KZ_INFINITE);
        KzCloseHandle(fileThread);
    }
    fileThread = KzCreateThread(PhoneBookFileThreadProc, reinterpret_cast<void*>(uintptr_t{syncMode}));
    threadRunning = fileThread != nullptr;
}

}  // namespace

void StartPhoneBookSyncThread() { StartFileThread(1); }
void StartPhoneBookLoadThread() { StartFileThread(0); }

void JoinPhoneBookThread() {
    KzHandle running = nullptr;
    bool own = false;
    {
        std::lock_guard<std::mutex> lock(threadMutex);
        syncWaiting = false;
        loadWaiting = false;
        std::swap(running, fileThread);
        own = fileThreadId == std::this_thread::get_id();
    }
    if (!running) return;
    // Asked from within its own work, it ends on return: only the handle goes.
    if (!own) KzWaitForSingleObject(running, KZ_INFINITE);
    KzCloseHandle(running);
}

}  // namespace kz
