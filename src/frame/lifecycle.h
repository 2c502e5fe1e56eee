// Start-up and shut-down of the library and its threads.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/sync_objects.h"   // g_hBTWnd
#include "kz_platform.h"

namespace kz {

extern std::atomic<uint32_t> g_nTimerID;

// Worker threads; null while the thread does not exist.
extern std::atomic<KzHandle> g_hRecvThread;
extern std::atomic<KzHandle> g_hEventThread;
extern std::atomic<KzHandle> g_hSendThread;

inline constexpr int kModulePort = 3;
inline constexpr uint32_t kModuleBaud = 115200;
inline constexpr int kWorkerPriority = 1;

}  // namespace kz
