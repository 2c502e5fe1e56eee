// The phonebook file thread. One runs at a time: a request that comes while
// it works waits and is carried out by the same thread when the current work
// ends (a sync before a load, so that a load reads the newest files).
#include <mutex>
#include <thread>

#include "frame/trace.h"
#include "phonebook/phonebook_store.h"

namespace kz {

namespace {

std::mutex g_threadMutex;      // guards everything below
std::thread g_fileThread;
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

uint32_t PhoneBookFileThreadProc(uint8_t syncMode) {
    for (;;) {
        uint32_t result = syncMode ? SyncPhoneBookFiles() : LoadPhoneBookFiles();
        KZ_TRACE("phonebook file work (%s) ended with %d", syncMode ? "sync" : "load", int(result));
        std::lock_guard<std::mutex> lock(g_threadMutex);
        if (!TakeWaiting(syncMode)) {
            g_threadRunning = false;
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
    if (g_fileThread.joinable()) g_fileThread.join();   // it has ended already
    g_threadRunning = true;
    g_fileThread = std::thread(PhoneBookFileThreadProc, syncMode);
}

}  // namespace

void StartPhoneBookSyncThread() { StartFileThread(1); }
void StartPhoneBookLoadThread() { StartFileThread(0); }

void JoinPhoneBookThread() {
    std::thread running;
    {
        std::lock_guard<std::mutex> lock(g_threadMutex);
        g_syncWaiting = false;
        g_loadWaiting = false;
        running = std::move(g_fileThread);
    }
    if (!running.joinable()) return;
    if (running.get_id() == std::this_thread::get_id()) {
        running.detach();   // asked from within its own work: it ends on return
    } else {
        running.join();
    }
}

}  // namespace kz
