// The module's serial port (one global object) and the poll that feeds the
// receive framer from it.
#include "link/serial_port.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "core/sync_objects.h"
#include "link/link_state.h"
#include "link/wire_trace.h"

namespace kz {

using namespace bcsp;

SerialPort g_SerialPort;

namespace {
constexpr uint32_t kDriverQueueSize = 10240;
constexpr uint8_t kByteSize = 8;
constexpr uint8_t kEvenParity = 2;
constexpr uint8_t kOneStopBit = 0;
constexpr uint32_t kFlagBit = 1;
}  // namespace

int SerialPort::Open(const char* name, uint32_t baud) {
    KzHandle h = KzCreateFile(name, KZ_GENERIC_READ | KZ_GENERIC_WRITE, 0, KZ_OPEN_EXISTING, 0);
    if (h == KZ_INVALID_HANDLE) return 0;
    // A port whose queues cannot be set up is closed at once rather than
    // kept half-open behind a failure result.
    if (!KzSetupComm(h, kDriverQueueSize, kDriverQueueSize)) {
        KzCloseHandle(h);
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(waitMutex_);
        cancelled_ = false;
    }
    readAheadPos_ = readAheadLen_ = 0;
    byteSize = kByteSize;
    fBinary = kFlagBit;
    fParity = kFlagBit;
    parity = kEvenParity;
    baudRate = baud;
    stopBits = kOneStopBit;
    hPort = h;
    ApplySettings();
    return 1;
}

void SerialPort::ApplySettings() {
    KzDcb dcb{};
    if (!KzGetCommState(hPort, &dcb)) return;
    dcb.BaudRate = baudRate;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.fBinary = fBinary & kFlagBit;
    dcb.fParity = fParity & kFlagBit;
    KzSetCommState(hPort, &dcb);
}

int32_t SerialPort::Close() {
    // Writers hold "MUTEX_UART"; the handle is not pulled from under them.
    NamedLock uart(g_hMutexUart, "MUTEX_UART");
    KzHandle h = hPort.exchange(KZ_INVALID_HANDLE);
    if (h == KZ_INVALID_HANDLE) return -1;
    return KzCloseHandle(h);
}

uint16_t SerialPort::BytesWaiting() {
    KzHandle h = hPort;
    if (h == KZ_INVALID_HANDLE) return 0;
    if (readAheadPos_ < readAheadLen_) return static_cast<uint16_t>(readAheadLen_ - readAheadPos_);
    uint32_t errors = 0;
    KzComStat stat{};
    if (!KzClearCommError(h, &errors, &stat)) return 0;
    return static_cast<uint16_t>(stat.cbInQue & 0xFFFF);
}

// Takes what the driver holds now, never more: reads do not block, so one
// read (no byte count asked first) gives what is waiting, possibly nothing.
bool SerialPort::FillReadAhead() {
    readAheadPos_ = readAheadLen_ = 0;
    KzHandle h = hPort;
    if (h == KZ_INVALID_HANDLE) return false;
    uint32_t got = 0;
    if (!KzReadFile(h, readAhead_, sizeof readAhead_, &got) || got == 0) return false;
    readAheadLen_ = static_cast<uint16_t>(got);
    return true;
}

size_t SerialPort::Pending(const uint8_t** bytes) {
    if (readAheadPos_ >= readAheadLen_ && !FillReadAhead()) return 0;
    *bytes = readAhead_ + readAheadPos_;
    return ReadAheadCount();
}

void SerialPort::Write(const uint8_t* buffer, uint16_t count) {
    KzHandle h = hPort;
    if (h == KZ_INVALID_HANDLE) return;
    uint32_t written = 0;
    KzWriteFile(h, buffer, count, &written);
}

void SerialPort::Purge() {
    readAheadPos_ = readAheadLen_ = 0;
    KzHandle h = hPort;
    if (h == KZ_INVALID_HANDLE) return;
    KzPurgeComm(h, KZ_PURGE_TXCLEAR | KZ_PURGE_RXCLEAR);
}

void SerialPort::IdleWait(uint32_t ms) {
    std::unique_lock<std::mutex> lock(waitMutex_);
    waitCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return cancelled_; });
    cancelled_ = false;
}

int SerialPort::WaitForInput(uint32_t timeoutMs) {
    KzHandle h = hPort;
    if (h == KZ_INVALID_HANDLE) {
        IdleWait(timeoutMs);
        return 0;
    }
    if (readAheadPos_ < readAheadLen_) return 1;
    const int r = KzWaitCommInput(h, timeoutMs);
    if (r == 1) return 1;
    if (r < 0) {
        IdleWait(kHangupBackoffMs);
        return -1;
    }
    return 0;
}

void SerialPort::CancelWait() {
    {
        std::lock_guard<std::mutex> lock(waitMutex_);
        cancelled_ = true;
    }
    waitCv_.notify_all();
    KzHandle h = hPort;
    if (h != KZ_INVALID_HANDLE) KzCancelCommWait(h);
}

int OpenModulePort(int portNumber, uint32_t baud) {
    char name[16];
    std::snprintf(name, sizeof name, "COM%d:", portNumber);
    if (!g_SerialPort.Open(name, baud)) return 0;
    g_SerialPort.Purge();
    return 1;
}

// ---------------------------------------------------------------- framer

void ResetFramer() { g_Link.framer.Reset(); }

// A frame not yet taken stops all reading; a failed read leaves the rest for
// the next pass instead of spinning. The bytes go to the framer in runs, not
// one call per byte.
void PollUart() {
    Framer& framer = g_Link.framer;
    while (!framer.ready()) {
        const uint8_t* bytes = nullptr;
        const size_t n = g_SerialPort.Pending(&bytes);
        if (n == 0) return;
        Framer::Step step = Framer::Step::kNeedMore;
        g_SerialPort.Consume(framer.Feed(bytes, n, step));
        switch (step) {
            case Framer::Step::kFrame:
                WireTraceFrame(WireDir::kFromModule, framer.frame(), framer.frameLength());
                break;
            case Framer::Step::kStray: g_SerialPort.Purge(); break;
            case Framer::Step::kNeedMore: break;
        }
    }
}

}  // namespace kz
