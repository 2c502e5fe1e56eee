// Handles of the platform layer: every kernel-like object (event, mutex,
// thread, device, search) lives in one process-wide table and is reached by
// an opaque handle value. Callers hold shared references while they use an
// object, so closing a handle never frees an object another thread waits on.
#pragma once
#include <cstdint>
#include <memory>

#include "kz_platform.h"

namespace kz::platform {

class Object {
public:
    virtual ~Object() = default;
    // Called when a handle to the object is closed.
    virtual void OnClose() {}
};

KzHandle InsertHandle(std::shared_ptr<Object> object);
std::shared_ptr<Object> LookupHandle(KzHandle handle);
std::shared_ptr<Object> RemoveHandle(KzHandle handle);

// Typed lookup: null (and last error KZ_ERROR_INVALID_HANDLE) when the handle
// is unknown or names an object of another kind.
template <class T>
std::shared_ptr<T> Lookup(KzHandle handle);

void SetLastError(uint32_t code);

// Win32 numbering for codes the back end reports besides the public ones.
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorNotOwner = 288;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorNoMoreFiles = 18;
inline constexpr uint32_t kErrorDirNotEmpty = 145;

// Maps an errno value to the nearest Win32 code and stores it.
void SetLastErrorFromErrno(int err);

template <class T>
std::shared_ptr<T> Lookup(KzHandle handle) {
    auto typed = std::dynamic_pointer_cast<T>(LookupHandle(handle));
    if (!typed) SetLastError(KZ_ERROR_INVALID_HANDLE);
    return typed;
}

}  // namespace kz::platform
