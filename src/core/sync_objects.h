// The library's shared synchronisation objects and run flag. Start-up creates
// them in a fixed order (seven auto-reset events, then six named mutexes);
// they stay alive after close, and a later start-up makes fresh events and
// opens the mutexes again by name.
#pragma once
#include <atomic>
#include <cstdint>

#include "kz_platform.h"

namespace kz {

extern std::atomic<uint8_t> g_bRunning;

// The hidden control window "KZ_BTWidnow" (start-up creates it); its timers
// are delivered by the host's message loop.
extern std::atomic<KzHwnd> g_hBTWnd;

extern std::atomic<KzHandle> g_hAckEvent;            // send thread: packet acknowledged / cancelled
extern std::atomic<KzHandle> g_hResendEvent;         // send thread: reliable packet just written
extern std::atomic<KzHandle> g_hInboundEvent;        // event thread index 0
extern std::atomic<KzHandle> g_hNameRequestEvent;    // event thread index 1
extern std::atomic<KzHandle> g_hModuleReadyEvent;    // event thread index 2
extern std::atomic<KzHandle> g_hLinkKeyBackupEvent;  // event thread index 3
extern std::atomic<KzHandle> g_hAfterCallEvent;      // event thread index 4

extern std::atomic<KzHandle> g_hMutexPrintf;   // "MUTEX_PRINTF", never taken
extern std::atomic<KzHandle> g_hMutexUart;     // "MUTEX_UART": every port write
extern std::atomic<KzHandle> g_hMutexList;     // "MUTEX_LIST": inbound list
extern std::atomic<KzHandle> g_hMutexListSend; // "MUTEX_LIST_SEND": g_vCmdList
extern std::atomic<KzHandle> g_hMutexSend;     // "MUTEX_SEND": packet building, SendNextCmd
extern std::atomic<KzHandle> g_hMutexSdlog;    // "MUTEX_SDLOG", never taken

// Creates the seven events (fresh each call) and opens the six named mutexes.
void CreateSyncObjects();
// Signals an event if it exists (null-safe).
void SignalEvent(const std::atomic<KzHandle>& ev);

// Holds a named mutex for a scope. A null handle (objects not created yet,
// e.g. in unit tests that never start the library) is opened by name on use.
class NamedLock {
public:
    explicit NamedLock(std::atomic<KzHandle>& mutex, const char* name);
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

private:
    KzHandle h_;
};

}  // namespace kz
