// Serial lines: "COM<n>:" is the device named by $KZ_TARN_COM<n>, else
// /dev/ttyS<n-1>, opened non-blocking in raw mode at 8E1 (the module's
// framing). The DCB maps onto termios; flow control follows the DCB's fields,
// which are all off after open.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

#include "device.h"
#include "termios_map.h"

namespace kz::platform {
namespace {

std::string DevicePath(unsigned portNumber) {
    std::string variable = "KZ_TARN_COM" + std::to_string(portNumber);
    if (const char* path = getenv(variable.c_str()); path && *path) return path;
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

// Line hung up or failed (no input left to read).
bool HungUp(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    return poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL));
}

int BytesWaiting(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// A pseudo-terminal carries no parity: the kernel refuses PARENB there with
// EINVAL once the line is already raw (a second open of the same pty). The
// settings then go on without parity rather than failing the open.
int SetTermios(int fd, termios& tio) {
    if (tcsetattr(fd, TCSANOW, &tio) == 0) return 0;
    if (errno != EINVAL || !(tio.c_cflag & PARENB)) return -1;
    tio.c_cflag &= ~(PARENB | PARODD);
    tio.c_iflag &= ~INPCK;
    return tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace

KzHandle OpenSerialPort(unsigned portNumber) {
    std::string path = DevicePath(portNumber);
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return KZ_INVALID_HANDLE;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {   // not a terminal
        SetLastErrorFromErrno(errno);
        close(fd);
        return KZ_INVALID_HANDLE;
    }
    KzDcb dcb{};
    dcb.ByteSize = kDefaultByteSize;
    dcb.Parity = kParityEven;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    ApplyDcb(tio, dcb);
    int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0 || SetTermios(fd, tio) != 0) {
        SetLastErrorFromErrno(errno);
        if (wake >= 0) close(wake);
        close(fd);
        return KZ_INVALID_HANDLE;
    }
    return InsertHandle(std::make_shared<Device>(DeviceKind::Serial, fd, wake));
}

}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

// The driver's queues are the kernel's; the sizes are accepted as given.
KZ_PLATFORM_API int KzSetupComm(KzHandle port, uint32_t, uint32_t) {
    return LookupDevice(port, DeviceKind::Serial) ? 1 : 0;
}

KZ_PLATFORM_API int KzGetCommState(KzHandle port, KzDcb* dcb) {
    auto device = LookupDevice(port, DeviceKind::Serial);
    termios tio{};
    if (!device || !dcb) return 0;
    if (tcgetattr(device->fd, &tio) != 0) {
        SetLastErrorFromErrno(errno);
        return 0;
    }
    *dcb = KzDcb{};
    dcb->BaudRate = RateOf(cfgetospeed(&tio));
    dcb->ByteSize = ByteSizeOf(tio.c_cflag);
    dcb->Parity = !(tio.c_cflag & PARENB) ? kParityNone
                  : (tio.c_cflag & PARODD) ? kParityOdd
                                           : kParityEven;
    dcb->StopBits = (tio.c_cflag & CSTOPB) ? kTwoStopBits : 0;
    dcb->fBinary = 1;
    dcb->fParity = (tio.c_iflag & INPCK) ? 1 : 0;
    dcb->fOutxCtsFlow = (tio.c_cflag & CRTSCTS) ? 1 : 0;
    dcb->fRtsControl = dcb->fOutxCtsFlow;
    dcb->fOutX = (tio.c_iflag & IXON) ? 1 : 0;
    dcb->fInX = (tio.c_iflag & IXOFF) ? 1 : 0;
    return 1;
}

KZ_PLATFORM_API int KzSetCommState(KzHandle port, const KzDcb* dcb) {
    auto device = LookupDevice(port, DeviceKind::Serial);
    termios tio{};
    speed_t speed;
    if (!device || !dcb) return 0;
    if (!SpeedOf(dcb->BaudRate, speed)) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    if (tcgetattr(device->fd, &tio) != 0) {
        SetLastErrorFromErrno(errno);
        return 0;
    }
    ApplyDcb(tio, *dcb);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (SetTermios(device->fd, tio) != 0) {
        SetLastErrorFromErrno(errno);
        return 0;
    }
    return 1;
}

KZ_PLATFORM_API int KzClearCommError(KzHandle port, uint32_t* errors, KzComStat* stat) {
    if (errors) *errors = 0;
    if (stat) *stat = KzComStat{};
    auto device = LookupDevice(port, DeviceKind::Serial);
    if (!device) return 0;
    // Parity and framing errors are not visible through termios without
    // PARMRK, which would change the byte stream; only hang-up is reported.
    uint32_t found = 0;
    int waiting = BytesWaiting(device->fd);
    if (waiting < 0 || (waiting == 0 && HungUp(device->fd))) found |= KZ_CE_HANGUP;
    if (errors) *errors = found;
    if (stat) stat->cbInQue = waiting > 0 ? static_cast<uint32_t>(waiting) : 0;
    if (waiting < 0) {
        SetLastErrorFromErrno(errno);
        return 0;
    }
    return 1;
}

KZ_PLATFORM_API int KzPurgeComm(KzHandle port, uint32_t flags) {
    auto device = LookupDevice(port, DeviceKind::Serial);
    if (!device) return 0;
    bool rx = flags & KZ_PURGE_RXCLEAR, tx = flags & KZ_PURGE_TXCLEAR;
    if (!rx && !tx) return 1;
    int queue = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
    if (tcflush(device->fd, queue) != 0) {
        SetLastErrorFromErrno(errno);
        return 0;
    }
    return 1;
}

KZ_PLATFORM_API int KzWaitCommInput(KzHandle port, uint32_t timeoutMs) {
    auto device = LookupDevice(port, DeviceKind::Serial);
    if (!device) return -1;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int waitMs = -1;
        if (timeoutMs != KZ_INFINITE) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        pollfd pfd[2] = {{device->wakeFd, POLLIN, 0}, {device->fd, POLLIN, 0}};
        int ready = poll(pfd, 2, waitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            SetLastErrorFromErrno(errno);
            return -1;
        }
        if (pfd[0].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] ssize_t n = read(device->wakeFd, &count, sizeof count);
            return 2;
        }
        if (ready == 0) return 0;
        // Input on a sound line needs no byte count. A hung-up line may still
        // hold bytes: let the reader drain them first.
        const short trouble = POLLHUP | POLLERR | POLLNVAL;
        if ((pfd[1].revents & POLLIN) && !(pfd[1].revents & trouble)) return 1;
        if (BytesWaiting(device->fd) > 0) return 1;
        if (pfd[1].revents & (POLLHUP | POLLERR | POLLNVAL)) return -1;
        if (pfd[1].revents & POLLIN) return 1;
    }
}

KZ_PLATFORM_API int KzCancelCommWait(KzHandle port) {
    auto device = LookupDevice(port, DeviceKind::Serial);
    if (!device) return 0;
    uint64_t one = 1;
    return write(device->wakeFd, &one, sizeof one) == sizeof one ? 1 : 0;
}

}  // extern "C"
