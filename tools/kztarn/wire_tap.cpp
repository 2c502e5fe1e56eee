#include "wire_tap.h"

#include <algorithm>

#include "link/bcsp_protocol.h"
#include "sim_codec.h"

namespace kztool {

namespace {
// The link resends after 250 ms and gives a packet up after a few tries: two
// seconds without a word from the module while the host waits is a lost module.
constexpr uint32_t kQuietMs = 2000;
constexpr size_t kStatusAt = 6;
constexpr size_t kIdAt = 4;
constexpr size_t kMinMessage = 6;
}  // namespace

WireTap::~WireTap() {
    if (file_) std::fclose(file_);
}

void WireTap::Follow(const std::string& path) { path_ = path; }

void WireTap::Poll(uint32_t nowMs) {
    if (path_.empty() || broken_) return;
    if (!file_) file_ = std::fopen(path_.c_str(), "rb");
    if (!file_) return;
    uint8_t chunk[16384];
    for (;;) {
        const size_t n = std::fread(chunk, 1, sizeof chunk, file_);
        if (n == 0) break;
        std::vector<TraceRecord> records;
        std::string error;
        if (!reader_.Feed(chunk, n, records, error)) {
            broken_ = true;   // not a trace: nothing more to learn from it
            return;
        }
        for (const auto& r : records) Take(r, nowMs);
    }
    std::clearerr(file_);
    if (linkUp_ && !lost_ && unansweredSinceMs_ && nowMs - unansweredSinceMs_ >= kQuietMs)
        Lost("module lost: no answer for " + std::to_string(kQuietMs / 1000) + " s");
}

void WireTap::Lost(const std::string& why) {
    lost_ = true;
    notes_.push_back({false, why});
}

void WireTap::Take(const TraceRecord& r, uint32_t nowMs) {
    const kzsim::DecodedPacket p = kzsim::DecodeFrame(r.frame);
    if (p.error != kzsim::DecodeError::None) return;
    if (r.fromHost) {
        if (!unansweredSinceMs_ && linkUp_ && p.reliable) unansweredSinceMs_ = nowMs ? nowMs : 1;
    } else {
        ++framesFromModule_;
        unansweredSinceMs_ = 0;
    }
    if (p.channel == kz::bcsp::kChannelLink) {
        const uint8_t link = kzsim::LinkMessageIndex(p.payload);
        if (!r.fromHost && link == kz::bcsp::kSync && linkUp_) {
            linkUp_ = false;
            if (!lost_) Lost("module lost: it restarted the link");
        }
        if (link == kz::bcsp::kConfResp && !linkUp_) {
            linkUp_ = true;
            if (lost_) notes_.push_back({true, "module back: the link is up again"});
            lost_ = false;
        }
        return;
    }
    if (!r.fromHost && lost_) {
        lost_ = false;
        notes_.push_back({true, "module back: it answers again"});
    }
    if (p.payload.size() < kMinMessage) return;
    // A resent frame (same sequence number and bytes) is the same message.
    if (p.reliable) {
        auto& last = lastReliable_[r.fromHost ? 1 : 0];
        std::vector<uint8_t> key = p.payload;
        key.push_back(p.seq);
        if (key == last) return;
        last = std::move(key);
    }
    TappedMessage m;
    m.fromHost = r.fromHost;
    m.id = static_cast<uint16_t>(p.payload[kIdAt] | (p.payload[kIdAt + 1] << 8));
    if (!r.fromHost && p.payload.size() > kStatusAt) m.status = p.payload[kStatusAt];
    m.bytes = p.payload;
    messages_.push_back(std::move(m));
}

bool RequestMatch::Matches(const TappedMessage& m) const {
    if (!m.fromHost || std::find(ids.begin(), ids.end(), m.id) == ids.end()) return false;
    if (bytes.empty() || m.id != ids.front()) return true;
    return m.bytes.size() >= at + bytes.size() && std::equal(bytes.begin(), bytes.end(), m.bytes.begin() + at);
}

long WireTap::FindRequest(size_t from, const RequestMatch& match) const {
    for (size_t i = from; i < messages_.size(); ++i)
        if (match.Matches(messages_[i])) return static_cast<long>(i);
    return -1;
}

const TappedMessage* WireTap::FindConfirm(size_t request) const {
    if (request >= messages_.size()) return nullptr;
    const uint16_t id = messages_[request].id;
    for (size_t i = request + 1; i < messages_.size(); ++i)
        if (!messages_[i].fromHost && messages_[i].id == id) return &messages_[i];
    return nullptr;
}

void WireTap::LineHungUp() {
    if (!lost_) Lost("module lost: the serial line hung up");
}

std::vector<LinkNote> WireTap::TakeNotes() {
    std::vector<LinkNote> out;
    out.swap(notes_);
    return out;
}

}  // namespace kztool
