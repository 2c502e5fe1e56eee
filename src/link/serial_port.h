// The module's serial port and the receive framer.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "kz_platform.h"
#include "link/bcsp_protocol.h"

namespace kz {

class SerialPort {
public:
    int Open(const char* name, uint32_t baud);   // 1 ok, 0 failure
    int32_t Close();                             // -1 when not open
    // Input bytes waiting: those already read ahead, else the driver's count.
    uint16_t BytesWaiting();
    // The read-ahead bytes not yet taken; when there are none, one read takes
    // what the driver holds first. Receive thread only.
    size_t Pending(const uint8_t** bytes);
    void Consume(size_t count) { readAheadPos_ = static_cast<uint16_t>(readAheadPos_ + count); }
    size_t ReadAheadCount() const { return size_t(readAheadLen_ - readAheadPos_); }
    void Write(const uint8_t* buffer, uint16_t count);
    // Discards both driver queues and the read-ahead (it is input not yet taken).
    void Purge();
    bool IsOpen() const { return hPort.load() != KZ_INVALID_HANDLE; }
    // Blocks until input waits, shut-down wakes it (CancelWait), or timeout.
    // Returns 1 input, 0 timeout or cancelled, -1 line hung up / failed (after
    // a short back-off, so that a dead line never becomes a busy loop). With
    // the port closed it just waits for the timeout or the cancel.
    int WaitForInput(uint32_t timeoutMs);
    // Waits ms unless CancelWait is called.
    void Pause(uint32_t ms) { IdleWait(ms); }
    void CancelWait();

    std::atomic<KzHandle> hPort{KZ_INVALID_HANDLE};
    uint32_t baudRate = 0;
    uint8_t byteSize = 8;
    uint8_t parity = 2;
    uint8_t stopBits = 0;
    uint32_t fBinary = 1;
    uint32_t fParity = 1;

private:
    void ApplySettings();
    bool FillReadAhead();
    // Waits up to ms unless CancelWait is called (closed port, hung-up line).
    void IdleWait(uint32_t ms);

    // Bytes read from the driver but not yet handed to the framer. The
    // framer's rules (one frame per poll, a stray byte purges, the
    // 1024-byte limit) apply to them as to bytes still in the driver.
    uint8_t readAhead_[bcsp::kReadAheadSize] = {};
    uint16_t readAheadPos_ = 0;
    uint16_t readAheadLen_ = 0;

    std::mutex waitMutex_;
    std::condition_variable waitCv_;
    bool cancelled_ = false;
};

// A hung-up or failed line is polled no faster than this.
inline constexpr uint32_t kHangupBackoffMs = 50;

extern SerialPort g_SerialPort;

// "COM%d:" at the given baud rate, then purge. 1 on success.
int OpenModulePort(int portNumber, uint32_t baud);

// Feeds the link's framer (link/framer.h) from the port, receive thread only:
// at most one frame per call; a byte between frames that is not 0xC0 purges
// the port.
void PollUart();
void ResetFramer();

}  // namespace kz
