#include "support/link_support.h"

#include <mutex>

#include "link/bcsp_link.h"
#include "link/bcsp_packet.h"
#include "sim_codec.h"

namespace kztest {

namespace {
std::mutex g_wireMutex;
std::vector<Bytes> g_wire;

void Tap(const uint8_t* bytes, uint16_t count) {
    std::lock_guard<std::mutex> lock(g_wireMutex);
    g_wire.emplace_back(bytes, bytes + count);
}
}  // namespace

ParsedFrame ParseFrame(const Bytes& frame) {
    ParsedFrame p;
    Bytes buf(kz::bcsp::kFrameBufferSize);
    size_t decoded = 0;
    p.valid = kz::BcspCheckFrame(frame.data(), frame.size(), p.header, buf.data(), buf.size(), &decoded) ==
              kz::FrameCheck::kOk;
    if (p.valid) p.payload.assign(buf.begin(), buf.begin() + kz::bcsp::HeaderPayloadLength(p.header));
    return p;
}

Bytes ModuleFrame(uint8_t seq, uint8_t ack, bool reliable, uint8_t channel, const Bytes& payload) {
    return kzsim::BuildFrame(kzsim::MakeHeader(reliable, seq, ack, channel, payload.size()), payload);
}

Bytes LinkMsgFrame(int index) {
    const auto& p = kz::bcsp::kLinkMsgPayloads[index];
    return ModuleFrame(0, 0, false, kz::bcsp::kChannelLink, Bytes(p, p + 4));
}

UartCapture::UartCapture() {
    Clear();
    kz::SetUartTapForTest(&Tap);
}
UartCapture::~UartCapture() { kz::SetUartTapForTest(nullptr); }

std::vector<Bytes> UartCapture::Frames() const {
    std::lock_guard<std::mutex> lock(g_wireMutex);
    return g_wire;
}

std::vector<ParsedFrame> UartCapture::Parsed() const {
    std::vector<ParsedFrame> out;
    for (const auto& f : Frames()) out.push_back(ParseFrame(f));
    return out;
}

void UartCapture::Clear() {
    std::lock_guard<std::mutex> lock(g_wireMutex);
    g_wire.clear();
}

uint8_t Feed(const Bytes& frame) {
    uint8_t flags = kz::BcspReceive(frame.data(), frame.size());
    kz::BcspActivity(flags);
    return flags;
}

void EstablishLink() {
    Feed(LinkMsgFrame(kz::bcsp::kSyncResp));
    Feed(LinkMsgFrame(kz::bcsp::kConfResp));
}

}  // namespace kztest
