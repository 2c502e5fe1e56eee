// Win32 back end: KzCreateFile (serial lines, the EEPROM stand-in, files),
// the comm calls, reads, writes and the EEPROM control call.
//
// "COM<n>:" opens \\.\COM<n> with a DCB for 8 data bits, even parity, one
// stop bit and no flow control (the library then sets the baud rate), and
// COMMTIMEOUTS that make a read return at once with what is waiting and a
// write give up after two seconds. The line's driver queues are the system's.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "kz_platform.h"
#include "wide.h"

static_assert(KZ_PURGE_TXCLEAR == PURGE_TXCLEAR && KZ_PURGE_RXCLEAR == PURGE_RXCLEAR);
static_assert(KZ_GENERIC_READ == GENERIC_READ && KZ_GENERIC_WRITE == GENERIC_WRITE);
static_assert(KZ_CE_RXPARITY == CE_RXPARITY && KZ_CE_FRAME == CE_FRAME);

namespace kz::platform {
namespace {

constexpr const char kEepromName[] = "E2P1:";
constexpr const char kEepromVariable[] = "KZ_TARN_E2P1";
// A write to a line that does not drain gives up after this long, so a peer
// that stops reading cannot block the writer for ever.
constexpr DWORD kWriteStallMs = 2000;
// How often KzWaitCommInput looks at the input queue. The line is opened
// without overlapped I/O, as the library opens it, so its arrival is polled:
// about as often as the head unit's receive thread polled.
constexpr DWORD kInputPollMs = 5;

// What a serial line needs beyond its handle: the event that cancels a
// blocked KzWaitCommInput. Waiters hold a reference, so closing the line
// never frees an event somebody waits on.
struct SerialLine {
    explicit SerialLine(HANDLE event) : cancel(event) {}
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;
    ~SerialLine() { CloseHandle(cancel); }
    const HANDLE cancel;
};

struct SerialLines {
    std::mutex mutex;
    std::map<HANDLE, std::shared_ptr<SerialLine>> lines;
};

SerialLines& Lines() {
    static auto* lines = new SerialLines;   // leaked: used by threads at exit
    return *lines;
}

std::shared_ptr<SerialLine> FindLine(HANDLE h) {
    auto& r = Lines();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.lines.find(h);
    return it == r.lines.end() ? nullptr : it->second;
}

// "COM<n>:" with 1 <= n <= 255, else 0.
unsigned ParsePortNumber(const char* name) {
    if (strncmp(name, "COM", 3) != 0) return 0;
    char* end = nullptr;
    unsigned long n = strtoul(name + 3, &end, 10);
    if (end == name + 3 || *end != ':' || end[1] != '\0' || n == 0 || n > 255) return 0;
    return static_cast<unsigned>(n);
}

DWORD Disposition(uint32_t creation) {
    switch (creation) {
        case KZ_CREATE_ALWAYS: return CREATE_ALWAYS;
        case KZ_OPEN_EXISTING: return OPEN_EXISTING;
        default: return OPEN_ALWAYS;
    }
}

// A line that cannot carry parity (a pseudo-terminal under Wine refuses it
// from the second setting on) runs without it rather than keeping whatever
// speed and flow control it had: the other settings still take effect.
bool ApplyDcb(HANDLE h, DCB& dcb) {
    if (SetCommState(h, &dcb)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_INVALID_PARAMETER && dcb.Parity != NOPARITY) {
        KzTrace("serial line refuses parity %u; it runs without", dcb.Parity);
        dcb.Parity = NOPARITY;
        dcb.fParity = FALSE;
        if (SetCommState(h, &dcb)) return true;
        error = GetLastError();
    }
    KzTrace("SetCommState %lu baud refused, error %lu", dcb.BaudRate, error);
    SetLastError(error);
    return false;
}

// 8E1, binary, parity checked on input, no hardware or software flow control.
bool SetModuleFraming(HANDLE h) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) return false;
    dcb.ByteSize = 8;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    return ApplyDcb(h, dcb);
}

KzHandle OpenSerialPort(unsigned port) {
    std::wstring device = L"\\\\.\\COM" + std::to_wstring(port);
    HANDLE h = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return KZ_INVALID_HANDLE;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;   // with zero totals: return what is waiting
    timeouts.WriteTotalTimeoutConstant = kWriteStallMs;
    HANDLE cancel = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!cancel || !SetCommTimeouts(h, &timeouts)) {
        DWORD error = GetLastError();
        if (cancel) CloseHandle(cancel);
        CloseHandle(h);
        SetLastError(error);
        return KZ_INVALID_HANDLE;
    }
    // The framing and flow control are set here; the library's own
    // SetCommState adds the baud rate. A failure leaves the line as the
    // driver had it and the open still counts, as the library expects.
    SetModuleFraming(h);
    auto& r = Lines();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.lines[h] = std::make_shared<SerialLine>(cancel);
    return h;
}

KzHandle OpenEeprom(uint32_t access, uint32_t creation) {
    const char* path = getenv(kEepromVariable);
    if (!path || !*path) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return KZ_INVALID_HANDLE;
    }
    return CreateFileW(Widen(path).c_str(), access, FILE_SHARE_READ, nullptr,
                       Disposition(creation), FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

void ForgetSerialLine(HANDLE h) {
    std::shared_ptr<SerialLine> line;
    {
        auto& r = Lines();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.lines.find(h);
        if (it == r.lines.end()) return;
        line = std::move(it->second);
        r.lines.erase(it);
    }
    SetEvent(line->cancel);   // a waiter lets go of the line
}

}  // namespace kz::platform

using namespace kz::platform;

extern "C" {

KZ_PLATFORM_API KzHandle KzCreateFile(const char* name, uint32_t access, uint32_t share,
                                      uint32_t creation, uint32_t flags) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return KZ_INVALID_HANDLE;
    }
    if (unsigned port = ParsePortNumber(name)) return OpenSerialPort(port);
    if (strcmp(name, kEepromName) == 0) return OpenEeprom(access, creation);
    char host[MAX_PATH * 4];
    if (KzMapPath(name, host, sizeof host) < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return KZ_INVALID_HANDLE;
    }
    return CreateFileW(Widen(host).c_str(), access, share, nullptr, Disposition(creation),
                       flags ? flags : FILE_ATTRIBUTE_NORMAL, nullptr);
}

KZ_PLATFORM_API int KzSetupComm(KzHandle port, uint32_t inQueue, uint32_t outQueue) {
    return SetupComm(port, inQueue, outQueue) ? 1 : 0;
}

KZ_PLATFORM_API int KzGetCommState(KzHandle port, KzDcb* out) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!out || !GetCommState(port, &dcb)) return 0;
    *out = KzDcb{};
    out->BaudRate = dcb.BaudRate;
    out->ByteSize = dcb.ByteSize;
    out->Parity = dcb.Parity;
    out->StopBits = dcb.StopBits;
    out->fBinary = dcb.fBinary;
    out->fParity = dcb.fParity;
    out->fOutxCtsFlow = dcb.fOutxCtsFlow;
    out->fRtsControl = dcb.fRtsControl;
    out->fOutX = dcb.fOutX;
    out->fInX = dcb.fInX;
    return 1;
}

// The DCB's other fields stay as the driver has them.
KZ_PLATFORM_API int KzSetCommState(KzHandle port, const KzDcb* in) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!in || !GetCommState(port, &dcb)) return 0;
    dcb.BaudRate = in->BaudRate;
    dcb.ByteSize = in->ByteSize;
    dcb.Parity = in->Parity;
    dcb.StopBits = in->StopBits;
    dcb.fBinary = in->fBinary & 1;
    dcb.fParity = in->fParity & 1;
    dcb.fOutxCtsFlow = in->fOutxCtsFlow & 1;
    dcb.fRtsControl = in->fRtsControl & 3;
    dcb.fOutX = in->fOutX & 1;
    dcb.fInX = in->fInX & 1;
    return ApplyDcb(port, dcb) ? 1 : 0;
}

KZ_PLATFORM_API int KzClearCommError(KzHandle port, uint32_t* errors, KzComStat* stat) {
    DWORD found = 0;
    COMSTAT cs{};
    if (errors) *errors = 0;
    if (stat) *stat = KzComStat{};
    if (!ClearCommError(port, &found, &cs)) return 0;
    if (errors) *errors = found;
    if (stat) {
        stat->cbInQue = cs.cbInQue;
        stat->cbOutQue = cs.cbOutQue;
    }
    return 1;
}

KZ_PLATFORM_API int KzReadFile(KzHandle h, void* buf, uint32_t count, uint32_t* read) {
    DWORD got = 0;
    if (read) *read = 0;
    if (!buf && count) return 0;
    if (!ReadFile(h, buf, count, &got, nullptr)) return 0;
    if (read) *read = got;
    return 1;
}

// A write that times out part-way reports failure, with what did go out.
KZ_PLATFORM_API int KzWriteFile(KzHandle h, const void* buf, uint32_t count, uint32_t* written) {
    DWORD put = 0;
    if (written) *written = 0;
    if (!buf && count) return 0;
    BOOL ok = WriteFile(h, buf, count, &put, nullptr);
    if (written) *written = put;
    if (ok && put < count) {
        SetLastError(ERROR_GEN_FAILURE);
        return 0;
    }
    return ok ? 1 : 0;
}

KZ_PLATFORM_API int KzPurgeComm(KzHandle port, uint32_t flags) {
    return PurgeComm(port, flags) ? 1 : 0;
}

KZ_PLATFORM_API int KzWaitCommInput(KzHandle port, uint32_t timeoutMs) {
    auto line = FindLine(port);
    if (!line) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        DWORD errors = 0;
        COMSTAT cs{};
        if (!ClearCommError(port, &errors, &cs)) return -1;
        if (cs.cbInQue > 0) return 1;
        DWORD step = kInputPollMs;
        if (timeoutMs != KZ_INFINITE) {
            ULONGLONG spent = GetTickCount64() - start;
            if (spent >= timeoutMs) return 0;
            if (timeoutMs - spent < step) step = static_cast<DWORD>(timeoutMs - spent);
        }
        if (WaitForSingleObject(line->cancel, step) == WAIT_OBJECT_0) return 2;
    }
}

KZ_PLATFORM_API int KzCancelCommWait(KzHandle port) {
    auto line = FindLine(port);
    return line && SetEvent(line->cancel) ? 1 : 0;
}

// The EEPROM stand-in: the output buffer goes to offset 0 of the file.
KZ_PLATFORM_API int KzDeviceIoControl(KzHandle dev, uint32_t, void*, uint32_t, void* outBuf,
                                      uint32_t outLen, uint32_t* returned) {
    if (returned) *returned = 0;
    if (!outBuf && outLen) return 0;
    if (SetFilePointer(dev, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return 0;
    DWORD put = 0;
    if (!WriteFile(dev, outBuf, outLen, &put, nullptr) || put != outLen) return 0;
    if (!FlushFileBuffers(dev)) return 0;
    if (returned) *returned = put;
    return 1;
}

}  // extern "C"
