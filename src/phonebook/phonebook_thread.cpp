// The phonebook file thread. One runs at a time: a request that comes while
// it works waits and is carried out by the same thread when the current work
// ends (a sync before a load, so that a load reads the newest files).
// It is a platform thread, so that waiting for it also lets the notifications
// it sends to the host's windows through (on Windows they run on the host's
// thread, which may be the one waiting).
#include <cstdint>
#include <mutex>
#include <thread>

#include "frame/trace.h"
#include "phonebook/phonebook_store.h"

namespace kz {

namespace {

std::mutex g_threadMutex;      // guards everything below
KzHandle g_fileThread = nullptr;
std::thread::id g_fileThreadId;   // set by the thread itself
bool g_threadRunning = false;
bool g_syncWaiting = false;
bool g_loadWaiting = false;

// Takes the next waiting request; false when none waits.
bool TakeWaiting(uint8_t& syncMode) {
    if (g_syncWaiting) {
        g_syncWaiting = false;
        syncMode = 1;
        return true;
    }
    if (g_loadWaiting) {
        g_loadWaiting = false;
        syncMode = 0;
        return true;
    }
    return false;
}

uint32_t PhoneBookFileThreadProc(void* arg) {
    auto syncMode = static_cast<uint8_t>(reinterpret_cast<uintptr_t>(arg));
    {
        std::lock_guard<std::mutex> lock(g_threadMutex);
        g_fileThreadId = std::this_thread::get_id();
    }
    for (;;) {
        uint32_t result = syncMode ? SyncPhoneBookFiles() : LoadPhoneBookFiles();
        KZ_TRACE("phonebook file work (%s) ended with %d", syncMode ? "sync" : "load", int(result));
        std::lock_guard<std::mutex> lock(g_threadMutex);
        if (!TakeWaiting(syncMode)) {
            g_threadRunning = false;
            g_fileThreadId = std::thread::id();
            return result;
        }
    }
}

void StartFileThread(uint8_t syncMode) {
    std::lock_guard<std::mutex> lock(g_threadMutex);
    g_bPhoneBookSyncMode = syncMode;
    if (g_threadRunning) {
        KZ_TRACE("phonebook file thread busy, request waits");
        (syncMode ? g_syncWaiting : g_loadWaiting) = true;
        return;
    }
    if (g_fileThread) {   // it has ended already
        KzWaitForSingleObject(g_fileThread, KZ_INFINITE);
        KzCloseHandle(g_fileThread);
    }
    g_fileThread = KzCreateThread(PhoneBookFileThreadProc, reinterpret_cast<void*>(uintptr_t{syncMode}));
    g_threadRunning = g_fileThread != nullptr;
}

}  // namespace

void StartPhoneBookSyncThread() { StartFileThread(1); }
void StartPhoneBookLoadThread() { StartFileThread(0); }

void JoinPhoneBookThread() {
    KzHandle running = nullptr;
    bool own = false;
    {
        std::lock_guard<std::mutex> lock(g_threadMutex);
        g_syncWaiting = false;
        g_loadWaiting = false;
        std::swap(running, g_fileThread);
        own = g_fileThreadId == std::this_thread::get_id();
    }
    if (!running) return;
    // Asked from within its own work, it ends on return: only the handle goes.
    if (!own) KzWaitForSingleObject(running, KZ_INFINITE);
    KzCloseHandle(running);
}

}  // namespace kz
