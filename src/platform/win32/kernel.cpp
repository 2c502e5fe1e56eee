// Win32 back end: handles, events, named mutexes, waits, threads, time and
// the debug trace. Each call is the system's own; what is added is said
// where it is.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kz_platform.h"
#include "wide.h"

static_assert(sizeof(KzHandle) == sizeof(HANDLE));
static_assert(KZ_WAIT_TIMEOUT == WAIT_TIMEOUT && KZ_WAIT_FAILED == WAIT_FAILED);
static_assert(KZ_STILL_ACTIVE == STILL_ACTIVE);

namespace kz::platform {
namespace {

constexpr size_t kTraceLineMax = 1024;

// A wait of a thread that owns windows also runs the messages other threads
// send to those windows, as the system's own modal waits do. Without it, a
// library thread in SendMessage to the host's window while the host waits
// for that thread (a close joining the workers) would wait for ever.
DWORD WaitHandlingSentMessages(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        DWORD left = timeoutMs;
        if (timeoutMs != INFINITE) {
            ULONGLONG spent = GetTickCount64() - start;
            left = spent >= timeoutMs ? 0 : timeoutMs - static_cast<DWORD>(spent);
        }
        DWORD r = MsgWaitForMultipleObjectsEx(count, handles, left, QS_SENDMESSAGE, 0);
        if (r != WAIT_OBJECT_0 + count) return r;
        MSG msg;   // delivers the sent messages; posted ones stay queued
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

struct ThreadStart {
    KzThreadProc proc;
    void* arg;
};

DWORD WINAPI ThreadTrampoline(LPVOID param) {
    ThreadStart start = *static_cast<ThreadStart*>(param);
    delete static_cast<ThreadStart*>(param);
    return start.proc(start.arg);
}

bool TraceFromEnvironment() {
    const char* value = getenv("KZ_TARN_TRACE");
    return value && strcmp(value, "1") == 0;
}

volatile LONG g_traceOn = -1;   // -1: not yet read from the environment

// One line, written with one call so that threads do not interleave.
void WriteLine(const char* prefix, const char* fmt, va_list args) {
    char line[kTraceLineMax];
    int used = snprintf(line, sizeof line, "%s", prefix);
    size_t n = used < 0 ? 0 : static_cast<size_t>(used);
    if (n >= sizeof line) n = sizeof line - 1;
    int body = vsnprintf(line + n, sizeof line - n, fmt, args);
    if (body > 0) n += static_cast<size_t>(body) < sizeof line - n ? static_cast<size_t>(body)
                                                                   : sizeof line - n - 1;
    if (n == 0 || line[n - 1] != '\n') {
        if (n == sizeof line - 1) --n;
        line[n++] = '\n';
    }
    fwrite(line, 1, n, stderr);
    fflush(stderr);
}

}  // namespace
}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API uint32_t KzGetLastError(void) { return GetLastError(); }

KZ_PLATFORM_API int KzCloseHandle(KzHandle h) {
    if (h == nullptr || h == KZ_INVALID_HANDLE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    ForgetSerialLine(h);
    return CloseHandle(h) ? 1 : 0;
}

KZ_PLATFORM_API KzHandle KzCreateEvent(int manualReset, int initialState) {
    return CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr);
}

KZ_PLATFORM_API int KzSetEvent(KzHandle ev) { return SetEvent(ev) ? 1 : 0; }
KZ_PLATFORM_API int KzResetEvent(KzHandle ev) { return ResetEvent(ev) ? 1 : 0; }

// Named mutexes are the system's: one object per name in the session, so two
// processes using the same name share it, as on the head unit.
KZ_PLATFORM_API KzHandle KzCreateMutex(const char* name) {
    WideArg wide(name);
    return CreateMutexW(nullptr, FALSE, wide.get());
}

KZ_PLATFORM_API int KzReleaseMutex(KzHandle mutex) { return ReleaseMutex(mutex) ? 1 : 0; }

KZ_PLATFORM_API uint32_t KzWaitForSingleObject(KzHandle h, uint32_t timeoutMs) {
    HANDLE one = h;
    return WaitHandlingSentMessages(1, &one, timeoutMs);
}

KZ_PLATFORM_API uint32_t KzWaitForMultipleObjects(uint32_t count, const KzHandle* handles,
                                                  int waitAll, uint32_t timeoutMs) {
    if (waitAll || count == 0 || count > KZ_MAXIMUM_WAIT_OBJECTS || !handles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return KZ_WAIT_FAILED;
    }
    HANDLE copy[KZ_MAXIMUM_WAIT_OBJECTS];
    for (uint32_t i = 0; i < count; ++i) copy[i] = handles[i];
    return WaitHandlingSentMessages(count, copy, timeoutMs);
}

KZ_PLATFORM_API KzHandle KzCreateThread(KzThreadProc proc, void* arg) {
    if (!proc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* start = new (std::nothrow) ThreadStart{proc, arg};
    if (!start) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE h = CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
    if (!h) delete start;
    return h;
}

KZ_PLATFORM_API int KzSetThreadPriority(KzHandle thread, int priority) {
    return SetThreadPriority(thread, priority) ? 1 : 0;
}

KZ_PLATFORM_API int KzGetExitCodeThread(KzHandle thread, uint32_t* exitCode) {
    DWORD code = 0;
    if (!exitCode || !GetExitCodeThread(thread, &code)) return 0;
    *exitCode = code;
    return 1;
}

KZ_PLATFORM_API void KzSleep(uint32_t ms) { Sleep(ms); }

KZ_PLATFORM_API uint32_t KzGetTickCount(void) { return GetTickCount(); }

KZ_PLATFORM_API void KzSetTrace(int on) { InterlockedExchange(&g_traceOn, on ? 1 : 0); }

KZ_PLATFORM_API int KzTraceEnabled(void) {
    LONG on = g_traceOn;
    if (on < 0) {
        InterlockedCompareExchange(&g_traceOn, TraceFromEnvironment() ? 1 : 0, -1);
        on = g_traceOn;
    }
    return on == 1;
}

KZ_PLATFORM_API void KzTrace(const char* fmt, ...) {
    if (!KzTraceEnabled() || !fmt) return;
    char prefix[64];
    snprintf(prefix, sizeof prefix, "[%10lu ms] [%lu] ", GetTickCount(), GetCurrentThreadId());
    va_list args;
    va_start(args, fmt);
    WriteLine(prefix, fmt, args);
    va_end(args);
}

// The kernel debug output of a desktop system is OutputDebugString; the text
// also goes to standard error, where a console program's user sees it.
KZ_PLATFORM_API void KzDebugPrint(const char* fmt, ...) {
    if (!fmt) return;
    char text[kTraceLineMax];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    OutputDebugStringW(Widen(text).c_str());
    fputs(text, stderr);
    fflush(stderr);
}

}  // extern "C"
