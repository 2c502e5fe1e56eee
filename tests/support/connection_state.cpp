#include "support/connection_state.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "channel/module_ids.h"
#include "channel/requests.h"
#include "events/audio.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/inquiry.h"
#include "phonebook/download.h"

namespace kztest {

namespace {

constexpr int kRetryShift = 17;
constexpr uint32_t kRetryMask = 3u << kRetryShift;
constexpr int32_t kPairIndexChosen = 4;
const char* const kFlagNames[] = {"hfp", "pbap", "a2dp", "avrcp", "connecting", "auto",
                                  "inquiry-waits", "disconnect-waits", "pairing", "music",
                                  "pbap-done", "pb-done", "pb-started", "pb-paused", "inquiring",
                                  "unknown-peer", "inited", "retry1", "retry2"};

uint32_t Bit(bool on, uint32_t flag) { return on ? flag : 0; }

// The one-byte flags, bit i of the state in entry i; the two pending-action
// bits (6, 7) are one variable, set and read apart.
std::atomic<uint8_t>* const kFlagVars[] = {
    &kz::g_bHfpConnected, &kz::g_bPbapConnected, &kz::g_bA2dpConnected, &kz::g_bAvrcpConnected,
    &kz::g_bConnecting, &kz::g_bAutoConnecting, nullptr, nullptr, &kz::g_bPairMode, &kz::g_bCurrSrcA2DP,
    &kz::g_bPbapConnectDone, &kz::g_bPhoneBookDone, &kz::startDownload, &kz::g_bCallPausedPb,
    &kz::g_bInquiryRunning, &kz::g_bUnknownPeer, &kz::g_bModuleInited};

std::string ProfileName(uint8_t p) {
    switch (p) {
        case kz::kProfileHfp: return "hfp";
        case kz::kProfileA2dp: return "a2dp";
        case kz::kProfileAvrcp: return "avrcp";
        case kz::kProfilePbap: return "pbap";
        default: return std::to_string(p);
    }
}

}  // namespace

void ApplyState(uint32_t f) {
    using namespace kz;
    for (size_t i = 0; i < std::size(kFlagVars); ++i)
        if (kFlagVars[i]) *kFlagVars[i] = (f >> i) & 1;
    g_nPendingAction = (f & kInquiryWaits)      ? kPendingInquiry
                       : (f & kDisconnectWaits) ? kPendingDisconnect
                                                : kPendingNone;
    g_nPairIndex = (f & kPairing) ? kPairIndexChosen : -1;
    g_nAutoConnectRetry = int32_t((f & kRetryMask) >> kRetryShift);
}

uint32_t ObserveState() {
    using namespace kz;
    uint32_t f = 0;
    for (size_t i = 0; i < std::size(kFlagVars); ++i)
        if (kFlagVars[i] && kFlagVars[i]->load()) f |= 1u << i;
    const int32_t pending = g_nPendingAction;
    return f | Bit(pending == kPendingInquiry, kInquiryWaits) | Bit(pending == kPendingDisconnect, kDisconnectWaits) |
           (uint32_t(g_nAutoConnectRetry & 3) << kRetryShift);
}

std::string DescribeState(uint32_t flags) {
    std::string out;
    for (size_t i = 0; i < std::size(kFlagNames); ++i)
        if (flags & (1u << i)) out += std::string(out.empty() ? "" : "|") + kFlagNames[i];
    return out.empty() ? "none" : out;
}

std::string SpellRequest(const SubmittedMessage& m, const std::vector<uint8_t>& phone) {
    namespace msgid = kz::msgid;
    const std::vector<uint8_t> p(m.bytes.begin() + std::min<size_t>(6, m.bytes.size()), m.bytes.end());
    auto to = [&](size_t at) {
        return p.size() >= at + 6 && std::equal(phone.begin(), phone.end(), p.begin() + at) ? ""
                                                                                          : " elsewhere";
    };
    auto first = [&] { return p.empty() ? std::string("-") : std::to_string(p[0]); };
    switch (m.id()) {
        case msgid::kRemoteName: return std::string("name") + to(0);
        case msgid::kInquiry: return "inquiry";
        case msgid::kSetVisibleMode: return std::all_of(p.begin(), p.end(), [](uint8_t b) { return b == 0; }) ? "hide" : "show";
        case msgid::kConnectProfile: return "connect " + ProfileName(p.at(0)) + to(1);
        case msgid::kDisconnectProfile: return "disconnect " + ProfileName(p.at(0));
        case msgid::kSdpQuery: return "sdp";
        case msgid::kSetMicVolume: return "mic volume " + std::to_string(p.at(1));
        case msgid::kAnswer: return "answer " + first();
        case msgid::kDial: return "dial " + std::string(p.begin() + 3, p.begin() + 3 + p.at(2));
        case msgid::kCallHold: return "hold " + first();
        case msgid::kAvrcpPassThrough: return "press " + std::to_string(p.at(4)) + (p.at(3) ? " released" : " pressed");
        case msgid::kPbapPull: return "pull";
        default: return "id " + std::to_string(m.id()) + " " + first();
    }
}

std::vector<std::string> SpellRequests(const SubmitRecorder& r, const std::vector<uint8_t>& phone) {
    std::vector<std::string> out;
    for (const auto& m : r.Messages()) out.push_back(SpellRequest(m, phone));
    return out;
}

std::vector<std::string> SpellReports(HostWindows& host) {
    std::vector<std::string> out;
    for (const auto& n : host.Notifications()) {
        std::string s = std::to_string(n.code) + "/" + std::to_string(n.param);
        if (n.code == KZ_NOTIFY_PAIRING || n.code == KZ_NOTIFY_MODULE_VERSION)
            s += " " + std::string(n.data.begin(), n.data.end());
        out.push_back(s);
    }
    host.Pump();
    for (const auto& p : host.NavigPosts())
        out.push_back("navig " + std::to_string(p.wParam) + "/" + std::to_string(p.lParam));
    for (const auto& b : host.Inforbar()) {
        if (b.kind != KZ_INFORBAR_CALL_INFO) continue;
        CallInfoRecord r;
        std::memcpy(&r, b.bytes.data(), sizeof r);
        out.push_back("call " + std::to_string(r.kind));
    }
    return out;
}

}  // namespace kztest
