// Debug trace and kernel debug output, both on standard error. Each line is
// formatted first and written with one call, so lines of different threads
// do not interleave.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kz_platform.h"

namespace kz::platform {
namespace {

constexpr const char kTraceVariable[] = "KZ_TARN_TRACE";
constexpr size_t kLineMax = 1024;

bool TraceFromEnvironment() {
    const char* value = getenv(kTraceVariable);
    return value && strcmp(value, "1") == 0;
}

std::atomic<bool>& TraceOn() {
    static std::atomic<bool> on{TraceFromEnvironment()};
    return on;
}

// Formats with a prefix into one line ending in "\n" and writes it to stderr.
void WriteLine(const char* prefix, const char* fmt, va_list args) {
    char line[kLineMax];
    int used = snprintf(line, sizeof line, "%s", prefix);
    if (used < 0) return;
    size_t n = static_cast<size_t>(used) < sizeof line ? static_cast<size_t>(used) : sizeof line - 1;
    int body = vsnprintf(line + n, sizeof line - n, fmt, args);
    if (body > 0) n += static_cast<size_t>(body) < sizeof line - n ? static_cast<size_t>(body)
                                                                   : sizeof line - n - 1;
    if (n == 0 || line[n - 1] != '\n') {
        if (n == sizeof line - 1) --n;
        line[n++] = '\n';
    }
    [[maybe_unused]] ssize_t w = write(STDERR_FILENO, line, n);
}

}  // namespace
}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API void KzSetTrace(int on) { TraceOn() = on != 0; }

KZ_PLATFORM_API int KzTraceEnabled(void) { return TraceOn() ? 1 : 0; }

KZ_PLATFORM_API void KzTrace(const char* fmt, ...) {
    if (!TraceOn() || !fmt) return;
    char prefix[64];
    snprintf(prefix, sizeof prefix, "[%10u ms] [%ld] ", KzGetTickCount(),
             static_cast<long>(syscall(SYS_gettid)));
    va_list args;
    va_start(args, fmt);
    WriteLine(prefix, fmt, args);
    va_end(args);
}

KZ_PLATFORM_API void KzDebugPrint(const char* fmt, ...) {
    if (!fmt) return;
    va_list args;
    va_start(args, fmt);
    WriteLine("", fmt, args);
    va_end(args);
}

}  // extern "C"
