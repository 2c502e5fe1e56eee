// Handle table, KzCloseHandle and the per-thread last error.
#include "handles.h"

#include <cerrno>
#include <mutex>
#include <unordered_map>

namespace kz::platform {
namespace {

// Handle values are multiples of 4 from a nonzero base: never null, never
// KZ_INVALID_HANDLE, and never reused within a process.
constexpr uintptr_t kFirstHandle = 0x10000;
constexpr uintptr_t kHandleStep = 4;

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
    uintptr_t next = kFirstHandle;
};

// Leaked on purpose: threads may still use handles while static objects are
// destroyed at exit.
HandleTable& Table() {
    static auto* table = new HandleTable;
    return *table;
}

thread_local uint32_t t_lastError = 0;

}  // namespace

KzHandle InsertHandle(std::shared_ptr<Object> object) {
    auto& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    uintptr_t value = table.next;
    table.next += kHandleStep;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<KzHandle>(value);
}

std::shared_ptr<Object> LookupHandle(KzHandle handle) {
    auto& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == table.objects.end() ? nullptr : it->second;
}

std::shared_ptr<Object> RemoveHandle(KzHandle handle) {
    auto& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end()) return nullptr;
    auto object = std::move(it->second);
    table.objects.erase(it);
    return object;
}

void SetLastError(uint32_t code) { t_lastError = code; }

void SetLastErrorFromErrno(int err) {
    switch (err) {
        case ENOENT: SetLastError(KZ_ERROR_FILE_NOT_FOUND); break;
        case ENOTDIR: SetLastError(kErrorPathNotFound); break;
        case EACCES:
        case EPERM:
        case EROFS: SetLastError(KZ_ERROR_ACCESS_DENIED); break;
        case EEXIST: SetLastError(kErrorAlreadyExists); break;
        case ENOTEMPTY: SetLastError(kErrorDirNotEmpty); break;
        case EBADF: SetLastError(KZ_ERROR_INVALID_HANDLE); break;
        case ENOMEM: SetLastError(kErrorNotEnoughMemory); break;
        case EINVAL: SetLastError(kErrorInvalidParameter); break;
        default: SetLastError(KZ_ERROR_GEN_FAILURE); break;
    }
}

}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API uint32_t KzGetLastError(void) { return t_lastError; }

KZ_PLATFORM_API int KzCloseHandle(KzHandle h) {
    auto object = RemoveHandle(h);
    if (!object) {
        SetLastError(KZ_ERROR_INVALID_HANDLE);
        return 0;
    }
    object->OnClose();
    return 1;
}

}  // extern "C"
