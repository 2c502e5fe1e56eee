#include "support/library_on_sim.h"

#include <cstdlib>

#include "KZ_Tarn.h"
#include "channel/command_queue.h"
#include "channel/module_ids.h"
#include "channel/module_message.h"
#include "events/connection.h"
#include "link/bcsp_link.h"

namespace kztest {

LibraryOnSimulator::LibraryOnSimulator(kzsim::Options options)
    : sim_(std::make_unique<kzsim::ModuleSimulator>(options)) {
    ResetAllState();
}

LibraryOnSimulator::~LibraryOnSimulator() {
    if (open_) Close();
    sim_->Stop();
    unsetenv("KZ_TARN_COM3");
    ResetAllState();
}

bool LibraryOnSimulator::Start(bool waitReady, uint32_t timeoutMs) {
    if (!sim_->Start()) return false;
    setenv("KZ_TARN_COM3", sim_->DevicePath().c_str(), 1);
    KZ_BT_DeviceInit();
    open_ = true;
    if (!waitReady) return true;
    // The module-ready RES acknowledged and the acknowledgement taken in ...
    if (!sim_->WaitForMessage(kz::msgid::kModuleReady, timeoutMs) || !sim_->WaitOutgoingIdle(timeoutMs)) return false;
    // ... and the module-ready handler run on the event thread, which empties
    // the command queue: requests submitted before it would be dropped.
    return PollUntil(
        [] {
            return !kz::ubcsp_config.awaiting_ack.load() && !kz::g_bModuleReadyPending.load() &&
                   kz::g_bModuleInited.load();
        },
        timeoutMs);
}

int LibraryOnSimulator::Close() {
    open_ = false;
    return KZ_BT_CloseDevice();
}

void LibraryOnSimulator::Reopen() {
    KZ_BT_DeviceInit();
    open_ = true;
}

std::vector<uint8_t> TestRequest(uint16_t id, size_t n) {
    std::vector<uint8_t> m(n, 0);
    kz::msg::WriteHead(m.data(), m.size(), 1, id);
    return m;
}

namespace {
void Submit(const std::vector<uint8_t>& m, uint32_t mode) {
    uint8_t header[4];
    kz::msg::ModuleHeaderTemplate(header, m.size());
    kz::SubmitPacket(header, m.data(), static_cast<uint32_t>(m.size()), mode);
}
}  // namespace

void SubmitTestRequest(uint16_t id, uint32_t mode) { Submit(TestRequest(id), mode); }

void SubmitSerial(uint16_t id, uint16_t serial) {
    auto m = TestRequest(id);
    m[6] = uint8_t(serial & 0xFF);
    m[7] = uint8_t(serial >> 8);
    Submit(m, kz::kSubmitQueued);
}

uint16_t Serial(const kzsim::ReceivedMessage& m, uint16_t id) {
    return m.id == id && m.bytes.size() >= 8 ? uint16_t(m.bytes[6] | m.bytes[7] << 8) : 0;
}

}  // namespace kztest
