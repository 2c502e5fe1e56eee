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
    g_bHfpConnected = (f & kHfp) != 0;
    g_bPbapConnected = (f & kPbap) != 0;
    g_bA2dpConnected = (f & kA2dp) != 0;
    g_bAvrcpConnected = (f & kAvrcp) != 0;
    g_bConnecting = (f & kConnecting) != 0;
    g_bAutoConnecting = (f & kAuto) != 0;
    g_nPendingAction = (f & kInquiryWaits)      ? kPendingInquiry
                       : (f & kDisconnectWaits) ? kPendingDisconnect
                                                : kPendingNone;
    g_bPairMode = (f & kPairing) != 0;
    g_nPairIndex = (f & kPairing) ? kPairIndexChosen : -1;
    g_bCurrSrcA2DP = (f & kMusicSource) != 0;
    g_bPbapConnectDone = (f & kPbapDone) != 0;
    g_bPhoneBookDone = (f & kPbDone) != 0;
    startDownload = (f & kPbStarted) != 0;
    g_bCallPausedPb = (f & kPbPausedByCall) != 0;
    g_bInquiryRunning = (f & kInquiring) != 0;
    g_bUnknownPeer = (f & kUnknownPeer) != 0;
    g_bModuleInited = (f & kInited) != 0;
    g_nAutoConnectRetry = int32_t((f & kRetryMask) >> kRetryShift);
}

uint32_t ObserveState() {
    using namespace kz;
    const int32_t pending = g_nPendingAction;
    return Bit(g_bHfpConnected, kHfp) | Bit(g_bPbapConnected, kPbap) | Bit(g_bA2dpConnected, kA2dp) |
           Bit(g_bAvrcpConnected, kAvrcp) | Bit(g_bConnecting, kConnecting) |
           Bit(g_bAutoConnecting, kAuto) | Bit(pending == kPendingInquiry, kInquiryWaits) |
           Bit(pending == kPendingDisconnect, kDisconnectWaits) | Bit(g_bPairMode, kPairing) |
           Bit(g_bCurrSrcA2DP, kMusicSource) | Bit(g_bPbapConnectDone, kPbapDone) |
           Bit(g_bPhoneBookDone, kPbDone) | Bit(startDownload, kPbStarted) |
           Bit(g_bCallPausedPb, kPbPausedByCall) | Bit(g_bInquiryRunning, kInquiring) |
           Bit(g_bUnknownPeer, kUnknownPeer) | Bit(g_bModuleInited, kInited) |
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
