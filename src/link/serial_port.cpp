// The module's serial port (one global object) and the receive framer that
// collects one 0xC0-delimited frame per poll.
#include "link/serial_port.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "core/sync_objects.h"
#include "link/wire_trace.h"

namespace kz {

using namespace bcsp;

SerialPort g_SerialPort;

uint8_t g_RxFrameBuf[kFrameBufferSize] = {};
uint16_t g_nRxWriteIndex = 0;
uint32_t g_nRxFramingState = kFramerHunting;
uint8_t g_bRxFrameReady = 0;
uint16_t g_nRxFrameLength = 0;

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

// Takes what the driver holds now, never more (reads do not block).
bool SerialPort::FillReadAhead() {
    readAheadPos_ = readAheadLen_ = 0;
    KzHandle h = hPort;
    if (h == KZ_INVALID_HANDLE) return false;
    uint32_t errors = 0;
    KzComStat stat{};
    if (!KzClearCommError(h, &errors, &stat) || stat.cbInQue == 0) return false;
    const uint32_t want = std::min<uint32_t>(stat.cbInQue, sizeof readAhead_);
    uint32_t got = 0;
    if (!KzReadFile(h, readAhead_, want, &got) || got == 0) return false;
    readAheadLen_ = static_cast<uint16_t>(got);
    return true;
}

int SerialPort::Read(uint8_t* buffer, uint32_t count) {
    if (hPort.load() == KZ_INVALID_HANDLE) return 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (readAheadPos_ >= readAheadLen_ && !FillReadAhead()) return 0;
        buffer[i] = readAhead_[readAheadPos_++];
    }
    return 1;
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

void ResetFramer() {
    g_nRxWriteIndex = 0;
    g_nRxFramingState = kFramerHunting;
    g_bRxFrameReady = 0;
    g_nRxFrameLength = 0;
}

// At most one frame per call. A byte between frames that is not 0xC0 purges
// the port; a frame that reaches 1024 bytes without its end is dropped.
void PollUart() {
    uint16_t n = g_SerialPort.BytesWaiting();
    while (n != 0) {
        if (g_bRxFrameReady) return;
        if (g_nRxWriteIndex >= kFrameBufferSize) {
            g_nRxWriteIndex = 0;
            g_nRxFramingState = kFramerHunting;
        }
        // A failed read leaves the rest for the next pass instead of spinning.
        if (!g_SerialPort.Read(&g_RxFrameBuf[g_nRxWriteIndex], 1)) return;
        const uint8_t byte = g_RxFrameBuf[g_nRxWriteIndex++];
        if (g_nRxFramingState == kFramerInFrame) {
            if (byte == kSlipEnd) {
                g_nRxFrameLength = g_nRxWriteIndex;
                WireTraceFrame(WireDir::kFromModule, g_RxFrameBuf, g_nRxFrameLength);
                g_bRxFrameReady = 1;
                g_nRxWriteIndex = 0;
                g_nRxFramingState = kFramerHunting;
            }
        } else if (g_RxFrameBuf[0] == kSlipEnd) {
            g_nRxFramingState = kFramerInFrame;
        } else {
            g_SerialPort.Purge();
            g_nRxWriteIndex = 0;
        }
        n = g_SerialPort.BytesWaiting();
    }
}

}  // namespace kz
