// The shared events and named mutexes, and the run flag.
#include "core/sync_objects.h"

namespace kz {

std::atomic<uint8_t> g_bRunning{0};
std::atomic<KzHwnd> g_hBTWnd{nullptr};

std::atomic<KzHandle> g_hAckEvent{nullptr};
std::atomic<KzHandle> g_hResendEvent{nullptr};
std::atomic<KzHandle> g_hInboundEvent{nullptr};
std::atomic<KzHandle> g_hNameRequestEvent{nullptr};
std::atomic<KzHandle> g_hModuleReadyEvent{nullptr};
std::atomic<KzHandle> g_hLinkKeyBackupEvent{nullptr};
std::atomic<KzHandle> g_hAfterCallEvent{nullptr};

std::atomic<KzHandle> g_hMutexPrintf{nullptr};
std::atomic<KzHandle> g_hMutexUart{nullptr};
std::atomic<KzHandle> g_hMutexList{nullptr};
std::atomic<KzHandle> g_hMutexListSend{nullptr};
std::atomic<KzHandle> g_hMutexSend{nullptr};
std::atomic<KzHandle> g_hMutexSdlog{nullptr};

namespace {

// An event left from an earlier start-up is reset rather than replaced, so a
// thread that still holds its handle never signals a closed object; to the
// new threads it is as fresh as a new one.
void CreateOrReset(std::atomic<KzHandle>& ev) {
    if (KzHandle h = ev.load()) {
        KzResetEvent(h);
        return;
    }
    ev = KzCreateEvent(0, 0);
}

void OpenNamed(std::atomic<KzHandle>& mutex, const char* name) {
    if (mutex.load() == nullptr) mutex = KzCreateMutex(name);
}

}  // namespace

void CreateSyncObjects() {
    CreateOrReset(g_hAckEvent);
    CreateOrReset(g_hResendEvent);
    CreateOrReset(g_hInboundEvent);
    CreateOrReset(g_hNameRequestEvent);
    CreateOrReset(g_hModuleReadyEvent);
    CreateOrReset(g_hLinkKeyBackupEvent);
    CreateOrReset(g_hAfterCallEvent);

    OpenNamed(g_hMutexPrintf, "MUTEX_PRINTF");
    OpenNamed(g_hMutexUart, "MUTEX_UART");
    OpenNamed(g_hMutexList, "MUTEX_LIST");
    OpenNamed(g_hMutexListSend, "MUTEX_LIST_SEND");
    OpenNamed(g_hMutexSend, "MUTEX_SEND");
    OpenNamed(g_hMutexSdlog, "MUTEX_SDLOG");
}

void SignalEvent(const std::atomic<KzHandle>& ev) {
    if (KzHandle h = ev.load()) KzSetEvent(h);
}

NamedLock::NamedLock(std::atomic<KzHandle>& mutex, const char* name) : h_(mutex.load()) {
    if (h_ == nullptr) {
        // Unit tests use the queue and the link without a start-up.
        KzHandle opened = KzCreateMutex(name);
        KzHandle expected = nullptr;
        if (mutex.compare_exchange_strong(expected, opened)) {
            h_ = opened;
        } else {
            h_ = expected;   // the same named object; the spare handle is kept
        }
    }
    KzWaitForSingleObject(h_, KZ_INFINITE);
}

NamedLock::~NamedLock() { KzReleaseMutex(h_); }

}  // namespace kz
