// Start-up and shut-down of the library and its threads.
#pragma once
#include <atomic>
#include <cstdint>

#include "kz_platform.h"

namespace kz {

extern std::atomic<uint32_t> g_nTimerID;
extern std::atomic<KzHwnd> g_hBTWnd;

}  // namespace kz
