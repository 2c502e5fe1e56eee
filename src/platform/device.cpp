// KzCreateFile and the generic read/write of devices and files, and the
// "E2P1:" EEPROM stand-in.
#include "device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kz::platform {
namespace {

constexpr const char kComPrefix[] = "COM";
constexpr const char kEepromName[] = "E2P1:";
constexpr const char kEepromVariable[] = "KZ_TARN_E2P1";
constexpr mode_t kNewFileMode = 0644;
// A write to a full serial line waits this long for room before it gives up,
// so a peer that stops reading cannot block the writer for ever.
constexpr int kWriteStallMs = 2000;

// "COM<n>:" with n >= 1; returns 0 when the name is not a port name.
unsigned ParsePortNumber(const char* name) {
    if (strncmp(name, kComPrefix, sizeof kComPrefix - 1) != 0) return 0;
    const char* digits = name + sizeof kComPrefix - 1;
    char* end = nullptr;
    unsigned long n = strtoul(digits, &end, 10);
    if (end == digits || *end != ':' || end[1] != '\0' || n == 0 || n > 255) return 0;
    return static_cast<unsigned>(n);
}

int CreationFlags(uint32_t creation) {
    switch (creation) {
        case KZ_CREATE_ALWAYS: return O_CREAT | O_TRUNC;
        case KZ_OPEN_EXISTING: return 0;
        default: return O_CREAT;   // open always / create new: create when missing
    }
}

int AccessFlags(uint32_t access) {
    bool read = access & KZ_GENERIC_READ, write = access & KZ_GENERIC_WRITE;
    if (read && write) return O_RDWR;
    return write ? O_WRONLY : O_RDONLY;
}

KzHandle OpenPath(const char* hostPath, DeviceKind kind, uint32_t access, uint32_t creation) {
    int fd = open(hostPath, AccessFlags(access) | CreationFlags(creation) | O_CLOEXEC,
                  kNewFileMode);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return KZ_INVALID_HANDLE;
    }
    return InsertHandle(std::make_shared<Device>(kind, fd, -1));
}

KzHandle OpenEeprom(uint32_t access, uint32_t creation) {
    const char* path = getenv(kEepromVariable);
    if (!path || !*path) {
        SetLastError(KZ_ERROR_FILE_NOT_FOUND);
        return KZ_INVALID_HANDLE;
    }
    return OpenPath(path, DeviceKind::Eeprom, access, creation);
}

}  // namespace

Device::~Device() {
    if (fd >= 0) close(fd);
    if (wakeFd >= 0) close(wakeFd);
}

void Device::OnClose() {
    if (wakeFd >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd, &one, sizeof one);
    }
}

std::shared_ptr<Device> LookupDevice(KzHandle h, DeviceKind kind) {
    auto device = Lookup<Device>(h);
    if (device && device->kind != kind) {
        SetLastError(KZ_ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return device;
}

}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API KzHandle KzCreateFile(const char* name, uint32_t access, uint32_t,
                                      uint32_t creation, uint32_t) {
    if (!name) {
        SetLastError(kErrorInvalidParameter);
        return KZ_INVALID_HANDLE;
    }
    if (unsigned port = ParsePortNumber(name)) return OpenSerialPort(port);
    if (strcmp(name, kEepromName) == 0) return OpenEeprom(access, creation);
    char host[4096];
    if (KzMapPath(name, host, sizeof host) < 0) {
        SetLastError(kErrorInvalidParameter);
        return KZ_INVALID_HANDLE;
    }
    return OpenPath(host, DeviceKind::File, access, creation);
}

// Never blocks: a serial line gives what is waiting (possibly nothing).
KZ_PLATFORM_API int KzReadFile(KzHandle h, void* buf, uint32_t count, uint32_t* readOut) {
    if (readOut) *readOut = 0;
    auto device = Lookup<Device>(h);
    if (!device || (!buf && count)) return 0;
    ssize_t n;
    do {
        n = read(device->fd, buf, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN) return 1;
        SetLastErrorFromErrno(errno);
        return 0;
    }
    if (readOut) *readOut = static_cast<uint32_t>(n);
    return 1;
}

// Writes everything; a non-blocking line that is full is waited on (bounded).
KZ_PLATFORM_API int KzWriteFile(KzHandle h, const void* buf, uint32_t count, uint32_t* written) {
    if (written) *written = 0;
    auto device = Lookup<Device>(h);
    if (!device || (!buf && count)) return 0;
    const auto* p = static_cast<const uint8_t*>(buf);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = write(device->fd, p + done, count - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            if (written) *written = done;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd{device->fd, POLLOUT, 0};
            int ready = poll(&pfd, 1, kWriteStallMs);
            if (ready > 0 && !(pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) continue;
            SetLastError(KZ_ERROR_GEN_FAILURE);
            return 0;
        }
        SetLastErrorFromErrno(n < 0 ? errno : EIO);
        return 0;
    }
    return 1;
}

KZ_PLATFORM_API int KzDeviceIoControl(KzHandle dev, uint32_t, void*, uint32_t, void* outBuf,
                                      uint32_t outLen, uint32_t* returned) {
    if (returned) *returned = 0;
    auto device = LookupDevice(dev, DeviceKind::Eeprom);
    if (!device || (!outBuf && outLen)) return 0;
    const auto* p = static_cast<const uint8_t*>(outBuf);
    uint32_t done = 0;
    while (done < outLen) {
        ssize_t n = pwrite(device->fd, p + done, outLen - done, done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            SetLastErrorFromErrno(n < 0 ? errno : EIO);
            return 0;
        }
        done += static_cast<uint32_t>(n);
    }
    if (fsync(device->fd) != 0 && errno != EINVAL) {
        SetLastErrorFromErrno(errno);
        return 0;
    }
    if (returned) *returned = done;
    return 1;
}

}  // extern "C"
