#include "fuzz_support.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KZ_Tarn.h"
#include "channel/command_queue.h"
#include "kz_platform.h"
#include "link/bcsp_packet.h"
#include "link/bcsp_protocol.h"
#include "support/test_support.h"

namespace kzfuzz {

namespace {

std::string g_root;
volatile uint8_t g_sink;
// BcspSendPacket takes an 8-bit length.
constexpr uint32_t kMaxSendLength = 255;   // keeps the block reads below from being optimised out

// Reads every byte of a block the library hands to the host.
void Touch(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    uint8_t x = 0;
    for (size_t i = 0; i < n; ++i) x ^= b[i];
    g_sink = x;
}

// The size of the block a notification carries, as the host reads it.
size_t BlockSize(uint32_t code, uint32_t nParam, uint32_t nLen) {
    return kztest::NotificationBlockSize(code, nParam, nLen);
}

// A host reads the text fields of a record as zero-terminated strings: each
// must end inside its field, whatever the phone or a file sent.
template <size_t N>
void CheckText(const char (&field)[N], const char* what) {
    if (std::memchr(field, 0, N) == nullptr) {
        std::fprintf(stderr, "unterminated %s handed to the host\n", what);
        std::abort();
    }
}

void CheckDeviceInfo(const DeviceInfoRecord* d) {
    CheckText(d->slot, "slot");
    CheckText(d->name, "device name");
    CheckText(d->address, "address text");
}

void CheckRecord(uint32_t code, uint32_t nParam, const void* p) {
    switch (code) {
        case KZ_NOTIFY_CALL_RECORD:
            CheckText(static_cast<const CallRecord*>(p)->number, "call number");
            break;
        case KZ_NOTIFY_PHONEBOOK_ENTRY: {
            const auto* e = static_cast<const structPhoneDate*>(p);
            CheckText(e->PBNumber, "PBNumber");
            CheckText(e->PBName, "PBName");
            CheckText(e->date, "date");
            CheckText(e->time, "time");
            break;
        }
        case KZ_NOTIFY_PHONEBOOK_NUMBER:
            CheckText(static_cast<const structPhoneNum*>(p)->number, "number");
            break;
        case KZ_NOTIFY_TRACK_INFO: {
            const auto* t = static_cast<const TrackInfoBlock*>(p);
            CheckText(t->title, "title");
            CheckText(t->artist, "artist");
            CheckText(t->album, "album");
            break;
        }
        case KZ_NOTIFY_DEVICE_INFO:
            CheckDeviceInfo(static_cast<const DeviceInfoRecord*>(p));
            break;
        case KZ_NOTIFY_INQUIRY:
            if (nParam == 1) CheckDeviceInfo(static_cast<const DeviceInfoRecord*>(p));
            break;
        default:
            break;
    }
}

KzLResult HostProc(KzHwnd, uint32_t msg, KzWParam w, KzLParam l) {
    if (msg == KZ_MSG_NOTIFY && w != 0) {
        const auto* rec = reinterpret_cast<const BtNotifyRecord*>(w);
        const size_t n = BlockSize(rec->nCode, rec->nParam, rec->nLen);
        if (rec->pData != nullptr && n != 0) {
            Touch(rec->pData, n);
            CheckRecord(rec->nCode, rec->nParam, rec->pData);
        }
    } else if (msg == KZ_WM_COPYDATA && l != 0) {
        const auto* cds = reinterpret_cast<const KzCopyDataStruct*>(l);
        if (cds->lpData != nullptr) Touch(cds->lpData, cds->cbData);
    }
    return 0;
}

// Every write to the port must be one whole, valid frame.
void UartTap(const uint8_t* bytes, uint16_t count) {
    uint8_t header[4];
    static uint8_t payload[2 * kz::bcsp::kFrameBufferSize];
    size_t decoded = 0;
    if (kz::BcspCheckFrame(bytes, count, header, payload, sizeof payload, &decoded) !=
        kz::FrameCheck::kOk) {
        std::fprintf(stderr, "library wrote an invalid frame of %u bytes\n", count);
        std::abort();
    }
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void RemoveRoot() { nftw(g_root.c_str(), &RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

void FreeStateAtExit() { kztest::ResetAllState(); }

int QuietMessageBox(const char*, const char*, uint32_t, void*) { return KZ_IDNO; }

}  // namespace

void SubmitTapChecked(const uint8_t header[4], const uint8_t* payload, uint32_t length, uint32_t) {
    // A module message goes out in one packet whose length field is 8 bits.
    if (length > kMaxSendLength) {
        std::fprintf(stderr, "library submitted a message of %u bytes\n", length);
        std::abort();
    }
    Touch(header, 4);
    Touch(payload, length);
}

void InitOnce() {
    static bool done = false;
    if (done) return;
    done = true;
    // On tmpfs when there is one: the engine syncs every rewrite to disk.
    char shm[] = "/dev/shm/kztarn-fuzz-XXXXXX";
    char tmp[] = "/tmp/kztarn-fuzz-XXXXXX";
    const char* dir = mkdtemp(shm);
    if (dir == nullptr) dir = mkdtemp(tmp);
    g_root = dir != nullptr ? dir : "/tmp";
    if (dir != nullptr) std::atexit(&RemoveRoot);
    // Registered after the library's globals were built, so it runs before
    // they are destroyed: requests still queued when the run ends are freed
    // while their list still holds them (the leak check at exit would report
    // them otherwise, once the list's own destructor has dropped its nodes).
    std::atexit(&FreeStateAtExit);
    KzSetRootDir(g_root.c_str());
    setenv("KZ_TARN_EXE_DIR", "\\", 1);
    KzSetMessageBoxHandler(&QuietMessageBox, nullptr);
    KzRegisterClass("KzFuzzHost", &HostProc, 0);
    KzCreateWindow("KzFuzzHost", KZ_WND_NOTIFY_TITLE, 0);
    KzCreateWindow("KzFuzzHost", KZ_WND_NAVIG_TITLE, 0);
    KzRegisterClass(KZ_WND_INFORBAR, &HostProc, 0);
    KzCreateWindow(KZ_WND_INFORBAR, KZ_WND_INFORBAR, 0);
}

void ResetAll() {
    kztest::ResetAllState();
    kz::SetUartTapForTest(&UartTap);
}

void PumpHost() {
    KzMsg m;
    while (KzPeekMessage(&m, 0)) KzDispatchMessage(&m);
}

std::string HostPath(const std::string& unitPath) {
    char out[1024];
    if (KzMapPath(unitPath.c_str(), out, sizeof out) < 0) return {};
    std::string host = out;
    for (size_t i = g_root.size() + 1; i < host.size(); ++i)
        if (host[i] == '/') mkdir(host.substr(0, i).c_str(), 0755);
    return host;
}

void WriteUnitFile(const std::string& unitPath, const uint8_t* data, size_t n) {
    const std::string host = HostPath(unitPath);
    FILE* f = std::fopen(host.c_str(), "wb");
    if (f == nullptr) return;
    if (n != 0) std::fwrite(data, 1, n, f);
    std::fclose(f);
}

void RemoveUnitFile(const std::string& unitPath) { unlink(HostPath(unitPath).c_str()); }

}  // namespace kzfuzz
