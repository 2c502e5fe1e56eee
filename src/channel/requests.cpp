// Interim: the five replies the inbound dispatcher writes, until the full
// request catalogue lands in this file (its version replaces this one whole).
#include "channel/requests.h"

#include <array>

#include "channel/command_queue.h"
#include "channel/module_message.h"

namespace kz {

namespace {

constexpr uint8_t kClass1 = 1;
constexpr uint8_t kClass2 = 2;
constexpr uint16_t kIdReply160 = 160;
constexpr uint16_t kIdReply161 = 161;
constexpr uint16_t kIdReply291 = 291;
constexpr uint16_t kIdPbapContinue = 529;

template <size_t N>
void Send(std::array<uint8_t, N>& m, uint8_t cls, uint16_t id, uint32_t mode) {
    msg::WriteHead(m.data(), N, cls, id);
    uint8_t header[4];
    msg::ModuleHeaderTemplate(header, N);
    SubmitPacket(header, m.data(), N, mode);
}

void SendByte(uint8_t cls, uint16_t id, uint8_t value, uint32_t mode) {
    std::array<uint8_t, 8> m{};
    m[msg::kParamOffset] = value;
    Send(m, cls, id, mode);
}

}  // namespace

void REQ_REPLY_160() { SendByte(kClass1, kIdReply160, 0, kSubmitQueued); }
void REQ_REPLY_161() { SendByte(kClass1, kIdReply161, 0, kSubmitQueued); }
void REQ_REPLY_291() { SendByte(kClass2, kIdReply291, 0, kSubmitQueued); }
void REQ_PBAP_CONTINUE(bool accept) { SendByte(kClass1, kIdPbapContinue, accept ? 1 : 0, kSubmitReply); }

void SendRes(uint16_t id) {
    std::array<uint8_t, 6> m{};
    Send(m, kClass2, id, kSubmitReply);
}

}  // namespace kz
