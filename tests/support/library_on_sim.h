// The whole library started against the module simulator over a
// pseudo-terminal, with host windows on the test's thread and a temporary
// head-unit root. For system tests of every subsystem.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "module_simulator.h"
#include "support/test_support.h"

namespace kztest {

class LibraryOnSimulator {
public:
    explicit LibraryOnSimulator(kzsim::Options options = {});
    ~LibraryOnSimulator();   // closes the library (if open) and stops the simulator

    // Starts the simulator, points COM3 at it and runs KZ_BT_DeviceInit.
    // With waitReady, also waits for the module-ready RES to be acknowledged.
    bool Start(bool waitReady = true, uint32_t timeoutMs = 5000);
    int Close();   // KZ_BT_CloseDevice's result
    // KZ_BT_DeviceInit again after Close, on the running simulator. The
    // module-ready handshake is the caller's to bring about and wait for.
    void Reopen();

    kzsim::ModuleSimulator& sim() { return *sim_; }
    HostWindows& host() { return host_; }
    TempRoot& root() { return root_; }

    // Host frames on the wire since the last ClearWire, parsed.
    std::vector<std::vector<uint8_t>> HostFrames() const;

private:
    TempRoot root_;
    HostWindows host_;
    std::unique_ptr<kzsim::ModuleSimulator> sim_;
    bool open_ = false;
};

// An n-byte request message (class 1) with this id, for queue tests.
std::vector<uint8_t> TestRequest(uint16_t id, size_t n = 8);
// Hands it to SubmitPacket with its channel-13 template.
void SubmitTestRequest(uint16_t id, uint32_t mode = 0);
// A queued test request carrying a serial in bytes 6 and 7, and that serial
// read back from what the module received (0 for another id).
void SubmitSerial(uint16_t id, uint16_t serial);
uint16_t Serial(const kzsim::ReceivedMessage& m, uint16_t id);

}  // namespace kztest
