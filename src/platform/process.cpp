// Message boxes, process start and the program's own file name.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "handles.h"
#include "paths.h"

extern char** environ;

namespace kz::platform {
namespace {

constexpr const char kExeDirVariable[] = "KZ_TARN_EXE_DIR";
constexpr char kUnitSeparator = '\\';

struct Hooks {
    std::mutex mutex;
    KzMessageBoxHandler messageBox = nullptr;
    void* messageBoxCtx = nullptr;
    KzProcessHook process = nullptr;
    void* processCtx = nullptr;
};

Hooks& CurrentHooks() {
    static auto* hooks = new Hooks;
    return *hooks;
}

std::string ProgramName() {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "kztarn";
    exe[n] = '\0';
    const char* slash = strrchr(exe, '/');
    return slash ? slash + 1 : exe;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "\" + folder (separators as given, outer ones trimmed) + "\" + program.
std::string ModuleUnitPath() {
    std::string path(1, kUnitSeparator);
    if (const char* dir = getenv(kExeDirVariable)) {
        std::string folder = dir;
        while (!folder.empty() && IsSeparator(folder.front())) folder.erase(0, 1);
        while (!folder.empty() && IsSeparator(folder.back())) folder.pop_back();
        if (!folder.empty()) path += folder + kUnitSeparator;
    }
    return path + ProgramName();
}

// Reaps a started child so it does not linger as a zombie.
void ReapLater(pid_t pid) {
    std::thread([pid] {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace
}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API void KzSetMessageBoxHandler(KzMessageBoxHandler handler, void* ctx) {
    auto& hooks = CurrentHooks();
    std::lock_guard<std::mutex> lock(hooks.mutex);
    hooks.messageBox = handler;
    hooks.messageBoxCtx = ctx;
}

KZ_PLATFORM_API int KzMessageBox(KzHwnd, const char* text, const char* caption, uint32_t style) {
    KzMessageBoxHandler handler;
    void* ctx;
    {
        auto& hooks = CurrentHooks();
        std::lock_guard<std::mutex> lock(hooks.mutex);
        handler = hooks.messageBox;
        ctx = hooks.messageBoxCtx;
    }
    if (handler) return handler(text ? text : "", caption ? caption : "", style, ctx);
    fprintf(stderr, "[%s] %s (answered No)\n", caption ? caption : "", text ? text : "");
    return KZ_IDNO;
}

KZ_PLATFORM_API void KzSetProcessHook(KzProcessHook hook, void* ctx) {
    auto& hooks = CurrentHooks();
    std::lock_guard<std::mutex> lock(hooks.mutex);
    hooks.process = hook;
    hooks.processCtx = ctx;
}

KZ_PLATFORM_API int KzCreateProcess(const char* unitPath) {
    if (!unitPath) return 0;
    KzProcessHook hook;
    void* ctx;
    {
        auto& hooks = CurrentHooks();
        std::lock_guard<std::mutex> lock(hooks.mutex);
        hook = hooks.process;
        ctx = hooks.processCtx;
    }
    if (hook) return hook(unitPath, ctx);
    std::string program = MapUnitPath(unitPath);
    char* argv[] = {program.data(), nullptr};
    pid_t pid;
    int err = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ);
    if (err != 0) {
        SetLastErrorFromErrno(err);
        return 0;
    }
    ReapLater(pid);
    return 1;
}

// Like the original: the name is cut to fit (always terminated) and the
// length copied is returned.
KZ_PLATFORM_API uint32_t KzGetModuleFileName(char* out, uint32_t size) {
    if (!out || size == 0) return 0;
    std::string path = ModuleUnitPath();
    size_t n = std::min<size_t>(path.size(), size - 1);
    memcpy(out, path.data(), n);
    out[n] = '\0';
    return static_cast<uint32_t>(n);
}

}  // extern "C"
