// Shared fixtures: a temporary head-unit root, a recorder of the messages
// handed to the link, host windows recording what the library reports.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "KZ_Tarn.h"
#include "kz_platform.h"

namespace kztest {

// The suite's one way to wait: checks `done` until it holds or `timeoutMs`
// passes, running `between` (pump a loop, read a pipe, a short pause) after
// each miss. Returns done() as last seen, so a timeout fails the assert.
template <class Done, class Between>
bool PollUntil(Done done, uint32_t timeoutMs, Between between) {
    const uint32_t start = KzGetTickCount();
    while (!done()) {
        if (KzGetTickCount() - start > timeoutMs) return done();
        between();
    }
    return true;
}
template <class Done>
bool PollUntil(Done done, uint32_t timeoutMs = 3000) {
    return PollUntil(done, timeoutMs, [] { KzSleep(2); });
}

// A fresh temporary directory used as the head-unit root for one test.
class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    const std::string& path() const { return path_; }
    // Host path of a head-unit path below the root.
    std::string Host(const std::string& unitPath) const;
    std::string Read(const std::string& unitPath) const;          // "" when missing
    bool Exists(const std::string& unitPath) const;
    void Write(const std::string& unitPath, const std::string& content) const;  // creates folders

private:
    std::string path_;
};

struct SubmittedMessage {
    uint8_t header[4];
    std::vector<uint8_t> bytes;
    uint32_t mode;
    uint16_t id() const { return bytes.size() >= 6 ? uint16_t(bytes[4] | (bytes[5] << 8)) : 0; }
};

// Installs the SubmitPacket tap for its lifetime and records every message.
class SubmitRecorder {
public:
    SubmitRecorder();
    ~SubmitRecorder();
    std::vector<SubmittedMessage> Messages() const;
    std::vector<uint16_t> Ids() const;
    void Clear();
    // Installs the tap again, e.g. after ResetAllState() removed it.
    void Reattach();

private:
    static void Tap(const uint8_t header[4], const uint8_t* payload, uint32_t length, uint32_t mode);
};

struct Notification {
    uint32_t code, param, len;
    std::vector<uint8_t> data;   // copy of the block pData pointed to (known sizes per code)
    std::string Text() const { return std::string(data.begin(), data.end()).c_str(); }
};
struct NavigPost { uintptr_t wParam; intptr_t lParam; };
struct InforbarRecord {   // kind: 3 now playing, 4 call info
    uintptr_t kind, dwData;
    std::vector<uint8_t> bytes;
};

// The windows "Bluetooth", "NavigRecive" and "KZ_INFORBAR" on the calling
// thread, recording what arrives; posted status messages need Pump().
class HostWindows {
public:
    HostWindows();
    ~HostWindows();
    std::vector<Notification> Notifications() const;
    std::vector<uint32_t> Codes() const;
    std::vector<NavigPost> NavigPosts() const;
    std::vector<InforbarRecord> Inforbar() const;
    void Clear();
    void Pump(uint32_t ms = 0);
    // Pumps until pred() holds or the timeout passes; returns pred().
    template <class Pred>
    bool WaitFor(Pred pred, uint32_t timeoutMs = 3000) {
        return PollUntil(pred, timeoutMs, [this] { Pump(5); });
    }

private:
    static KzLResult Proc(KzHwnd, uint32_t, KzWParam, KzLParam);
    KzHwnd notify_ = nullptr, navig_ = nullptr, inforbar_ = nullptr;
};

// Resets the process-wide state of every subsystem.
void ResetAllState();

// Bytes of the block notification `code` carries (0 when it carries none), as
// a host reads it (the windows above and the fuzz harnesses).
size_t NotificationBlockSize(uint32_t code, uint32_t nParam, uint32_t nLen);

}  // namespace kztest
