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

    // Simulator started, COM3 pointed at it, KZ_BT_DeviceInit; module ready if waitReady.
    bool Start(bool waitReady = true, uint32_t timeoutMs = 5000);
    int Close();   // KZ_BT_CloseDevice's result
    void Reopen();   // KZ_BT_DeviceInit after Close; the module-ready handshake is the caller's

    kzsim::ModuleSimulator& sim() { return *sim_; }
    HostWindows& host() { return host_; }
    TempRoot& root() { return root_; }

private:
    TempRoot root_;
    HostWindows host_;
    std::unique_ptr<kzsim::ModuleSimulator> sim_;
    bool open_ = false;
};

// An n-byte request message (class 1) with this id, for queue tests, and
// the same handed to SubmitPacket; one carrying a serial in bytes 6 and 7,
// and that serial read back from what the module received (0 for another id).
std::vector<uint8_t> TestRequest(uint16_t id, size_t n = 8);
void SubmitTestRequest(uint16_t id, uint32_t mode = 0);
void SubmitSerial(uint16_t id, uint16_t serial);
uint16_t Serial(const kzsim::ReceivedMessage& m, uint16_t id);

}  // namespace kztest
