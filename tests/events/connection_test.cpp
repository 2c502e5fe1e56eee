// Connection handlers: one table of {state before, message, requests sent,
// reports, state after} for the module-ready indication and the connect and
// disconnect confirmations and indications; then the phones that become
// registered on the way.
#include <cstring>

#include "channel/command_queue.h"
#include "channel/requests.h"
#include "events/audio.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/inquiry.h"
#include "event_test_util.h"
#include "phonebook/download.h"
#include "settings/registry.h"
#include "settings/settings.h"

using namespace kz;
using namespace kztest;

namespace {

const std::vector<uint8_t> kAddr = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const std::vector<uint8_t> kStranger = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
const std::string kPixelSlot2 = SlotSection(2, "Pixel", "112233445566") + "[General]\r\nCurrIndex=2\r\n";

// The state the handlers read and write, one bit each (the retry count in two).
constexpr uint32_t
    kHfp = 1u << 0, kPbap = 1u << 1, kA2dp = 1u << 2, kAvrcp = 1u << 3,
    kConnecting = 1u << 4, kAuto = 1u << 5, kInquiryWaits = 1u << 6, kDisconnectWaits = 1u << 7,
    kPairing = 1u << 8, kMusicSource = 1u << 9, kPbapDone = 1u << 10, kPbDone = 1u << 11,
    kPbStarted = 1u << 12, kPbPausedByCall = 1u << 13, kInquiring = 1u << 14,
    kUnknownPeer = 1u << 15, kInited = 1u << 16, kRetry1 = 1u << 17, kRetry2 = 2u << 17;
constexpr uint32_t kRetryMask = 3u << 17;
const char* const kFlagNames[] = {"hfp", "pbap", "a2dp", "avrcp", "connecting", "auto",
                                  "inquiry-waits", "disconnect-waits", "pairing", "music",
                                  "pbap-done", "pb-done", "pb-started", "pb-paused", "inquiring",
                                  "unknown-peer", "inited", "retry1", "retry2"};

std::string Describe(uint32_t flags) {
    std::string out;
    for (size_t i = 0; i < std::size(kFlagNames); ++i)
        if (flags & (1u << i)) out += std::string(out.empty() ? "" : "|") + kFlagNames[i];
    return out.empty() ? "none" : out;
}

void Apply(uint32_t f) {
    g_bHfpConnected = (f & kHfp) != 0;
    g_bPbapConnected = (f & kPbap) != 0;
    g_bA2dpConnected = (f & kA2dp) != 0;
    g_bAvrcpConnected = (f & kAvrcp) != 0;
    g_bConnecting = (f & kConnecting) != 0;
    g_bAutoConnecting = (f & kAuto) != 0;
    g_nPendingAction = (f & kInquiryWaits) ? kPendingInquiry : (f & kDisconnectWaits) ? kPendingDisconnect
                                                                                     : kPendingNone;
    g_bPairMode = (f & kPairing) != 0;
    g_nPairIndex = (f & kPairing) ? 4 : -1;
    g_bCurrSrcA2DP = (f & kMusicSource) != 0;
    g_bPbapConnectDone = (f & kPbapDone) != 0;
    g_bPhoneBookDone = (f & kPbDone) != 0;
    startDownload = (f & kPbStarted) != 0;
    g_bCallPausedPb = (f & kPbPausedByCall) != 0;
    g_bInquiryRunning = (f & kInquiring) != 0;
    g_bUnknownPeer = (f & kUnknownPeer) != 0;
    g_bModuleInited = (f & kInited) != 0;
    g_nAutoConnectRetry = int32_t((f & kRetryMask) >> 17);
}

uint32_t Observe() {
    const int32_t pending = g_nPendingAction;
    return (g_bHfpConnected ? kHfp : 0) | (g_bPbapConnected ? kPbap : 0) |
           (g_bA2dpConnected ? kA2dp : 0) | (g_bAvrcpConnected ? kAvrcp : 0) |
           (g_bConnecting ? kConnecting : 0) | (g_bAutoConnecting ? kAuto : 0) |
           (pending == kPendingInquiry ? kInquiryWaits : 0) |
           (pending == kPendingDisconnect ? kDisconnectWaits : 0) | (g_bPairMode ? kPairing : 0) |
           (g_bCurrSrcA2DP ? kMusicSource : 0) | (g_bPbapConnectDone ? kPbapDone : 0) |
           (g_bPhoneBookDone ? kPbDone : 0) | (startDownload ? kPbStarted : 0) |
           (g_bCallPausedPb ? kPbPausedByCall : 0) | (g_bInquiryRunning ? kInquiring : 0) |
           (g_bUnknownPeer ? kUnknownPeer : 0) | (g_bModuleInited ? kInited : 0) |
           (uint32_t(g_nAutoConnectRetry & 3) << 17);
}

std::string ProfileName(uint8_t p) {
    switch (p) {
        case kProfileHfp: return "hfp";
        case kProfileA2dp: return "a2dp";
        case kProfileAvrcp: return "avrcp";
        case kProfilePbap: return "pbap";
        default: return std::to_string(p);
    }
}

// A submitted request as the table spells it.
std::string Spell(const SubmittedMessage& m) {
    const std::vector<uint8_t> p(m.bytes.begin() + 6, m.bytes.end());
    switch (m.id()) {
        case 8: return std::vector<uint8_t>(p.begin(), p.begin() + 6) == kStranger ? "name stranger" : "name ?";
        case 10: return "inquiry";
        case 11: return std::all_of(p.begin(), p.begin() + 8, [](uint8_t b) { return b == 0; }) ? "hide" : "show";
        case 12: return "connect " + ProfileName(p[0]) +
                        (std::vector<uint8_t>(p.begin() + 1, p.begin() + 7) == kAddr ? "" : " elsewhere");
        case 13: return "disconnect " + ProfileName(p[0]);
        case 30: return "sdp";
        case 512: return "pull";
        default: return "id " + std::to_string(m.id());
    }
}

// What reached the host: "code/param" (with the text of 66 and 84), the
// navigation posts and the status-bar call records.
std::vector<std::string> Reports(HostWindows& host) {
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
        CallInfoRecord r;
        std::memcpy(&r, b.bytes.data(), sizeof r);
        out.push_back("call " + std::to_string(r.kind));
    }
    return out;
}

using Handler = void (*)(const uint8_t*, size_t);
struct Row {
    const char* what;
    uint32_t before;
    Handler handler;
    std::vector<uint8_t> message;
    std::vector<std::string> sent;
    std::vector<std::string> reports;
    uint32_t after;
};

// CFM 12 / IND 50: status, address in 7..12, profile in 13.
std::vector<uint8_t> Connect(uint16_t id, uint8_t status, uint8_t profile,
                             const std::vector<uint8_t>& addr = kAddr) {
    std::vector<uint8_t> p = {status};
    p.insert(p.end(), addr.begin(), addr.end());
    p.push_back(profile);
    return Msg(id, p);
}
std::vector<uint8_t> ConnectCfm(uint8_t status, uint8_t profile) { return Connect(12, status, profile); }
std::vector<uint8_t> ConnectInd(uint8_t profile, const std::vector<uint8_t>& a = kAddr) {
    return Connect(50, 0, profile, a);
}
std::vector<uint8_t> DisconnectCfm(uint8_t status, uint8_t profile) { return Msg(13, {status, profile}); }
std::vector<uint8_t> DisconnectInd(uint8_t status, uint8_t profile) { return Msg(51, {status, profile}); }

constexpr uint8_t kOk = 0, kFail = 4, kLinkLost = 10;
constexpr uint8_t kHfpP = kProfileHfp, kA2dpP = kProfileA2dp, kAvrcpP = kProfileAvrcp, kPbapP = kProfilePbap;
// What the phone's arrival reports: its record, "connected", "complete", the navigation post.
const std::vector<std::string> kArrived = {"64/0", "2/0", "96/0", "navig 1/2"};
// What HFP going down reports: the registry again, "disconnected", an ended call.
const std::vector<std::string> kGone = {"64/0", "2/3", "call 3"};

const Row kRows[] = {
    // ------------------------------------------------------ connect confirmations
    {"HFP up: PBAP follows, hidden", kConnecting | kPbapDone, OnConnectCfm, ConnectCfm(kOk, kHfpP),
     {"connect pbap", "hide"}, kArrived, kHfp},
    {"HFP up, music source: A2DP too", kMusicSource, OnConnectCfm, ConnectCfm(kOk, kHfpP),
     {"connect pbap", "hide", "connect a2dp"}, kArrived, kHfp | kMusicSource},
    {"HFP up, A2DP already up", kMusicSource | kA2dp, OnConnectCfm, ConnectCfm(kOk, kHfpP),
     {"connect pbap", "hide"}, kArrived, kHfp | kMusicSource | kA2dp},
    {"HFP up while pairing: the chosen phone's position reported", kPairing, OnConnectCfm,
     ConnectCfm(kOk, kHfpP), {"connect pbap", "hide"},
     {"66/2 04", "64/0", "2/0", "96/0", "navig 1/2"}, kHfp | kPairing},
    {"automatic connection up: attempts forgotten", kAuto | kRetry2 | kConnecting, OnConnectCfm,
     ConnectCfm(kOk, kHfpP), {"connect pbap", "hide"}, kArrived, kHfp},
    {"automatic connection up with an inquiry waiting: the inquiry starts", kAuto | kInquiryWaits,
     OnConnectCfm, ConnectCfm(kOk, kHfpP),
     {"disconnect hfp", "disconnect a2dp", "hide", "inquiry", "connect pbap", "hide"}, {"navig 1/2"},
     kHfp | kPairing | kInquiring},
    {"HFP fails", kConnecting, OnConnectCfm, ConnectCfm(kFail, kHfpP), {"show"}, {"2/3", "2/1"}, 0},
    {"HFP fails with PBAP and A2DP up: both torn down", kPbap | kA2dp, OnConnectCfm,
     ConnectCfm(kFail, kHfpP), {"disconnect pbap", "disconnect a2dp", "show"}, {"2/3", "2/1"},
     kPbap | kA2dp},
    {"automatic attempt 1 fails: tried again", kAuto | kConnecting, OnConnectCfm, ConnectCfm(kFail, kHfpP),
     {"connect hfp"}, {"2/3"}, kAuto | kConnecting | kRetry1},
    {"automatic attempt 2 fails: tried again", kAuto | kRetry1, OnConnectCfm, ConnectCfm(kFail, kHfpP),
     {"connect hfp"}, {"2/3"}, kAuto | kConnecting | kRetry2},
    {"automatic attempt 3 fails: given up, visible", kAuto | kRetry2 | kConnecting, OnConnectCfm,
     ConnectCfm(kFail, kHfpP), {"show"}, {"2/3", "2/1"}, 0},
    {"automatic attempt fails with an inquiry waiting: the inquiry starts", kAuto | kRetry1 | kInquiryWaits,
     OnConnectCfm, ConnectCfm(kFail, kHfpP), {"hide", "inquiry"}, {"2/3"}, kPairing | kInquiring},
    {"pairing fails: position reported, stays hidden", kPairing | kPbap, OnConnectCfm,
     ConnectCfm(kFail, kHfpP), {"disconnect pbap"}, {"2/3", "66/3 04", "2/1"}, kPairing | kPbap},
    {"pairing fails during an inquiry: no pairing report", kPairing | kInquiring, OnConnectCfm,
     ConnectCfm(kFail, kHfpP), {}, {"2/3", "2/1"}, kPairing | kInquiring},
    {"PBAP up with HFP: dialled list asked", kHfp | kDisconnectWaits, OnConnectCfm, ConnectCfm(kOk, kPbapP),
     {"pull"}, {}, kHfp | kPbap | kPbapDone},
    {"PBAP up without HFP", kInquiryWaits, OnConnectCfm, ConnectCfm(kOk, kPbapP), {}, {}, kPbap | kPbapDone},
    {"PBAP fails: answered all the same", kHfp, OnConnectCfm, ConnectCfm(kFail, kPbapP), {}, {},
     kHfp | kPbapDone},
    {"A2DP up with HFP: AVRCP follows", kHfp, OnConnectCfm, ConnectCfm(kOk, kA2dpP), {"connect avrcp"},
     {}, kHfp | kA2dp},
    {"A2DP up with AVRCP up", kHfp | kAvrcp, OnConnectCfm, ConnectCfm(kOk, kA2dpP), {}, {},
     kHfp | kAvrcp | kA2dp},
    {"A2DP up without HFP", 0, OnConnectCfm, ConnectCfm(kOk, kA2dpP), {}, {}, kA2dp},
    {"A2DP fails", kHfp, OnConnectCfm, ConnectCfm(kFail, kA2dpP), {}, {}, kHfp},
    {"AVRCP up, music source: its version asked", kMusicSource, OnConnectCfm, ConnectCfm(kOk, kAvrcpP),
     {"sdp"}, {}, kAvrcp | kMusicSource},
    {"AVRCP up, other source", 0, OnConnectCfm, ConnectCfm(kOk, kAvrcpP), {}, {}, kAvrcp},

    // ------------------------------------------------------ connects started by the phone
    {"registered phone connects HFP", kAuto | kConnecting, OnConnectInd, ConnectInd(kHfpP),
     {"connect pbap", "hide"}, kArrived, kHfp},
    {"registered phone connects HFP, PBAP up, music source", kPbap | kMusicSource, OnConnectInd,
     ConnectInd(kHfpP), {"connect a2dp", "hide"}, kArrived, kHfp | kPbap | kMusicSource},
    {"HFP indication while connected: nothing new", kHfp | kAuto, OnConnectInd, ConnectInd(kHfpP), {},
     {"navig 1/2"}, kHfp},
    {"unknown phone connects HFP: its name is asked first", 0, OnConnectInd, ConnectInd(kHfpP, kStranger),
     {"connect pbap elsewhere", "hide", "name stranger"}, {"navig 1/2"}, kHfp | kUnknownPeer},
    {"phone connects PBAP: dialled list asked", kHfp | kPbap | kInquiryWaits, OnConnectInd,
     ConnectInd(kPbapP), {"pull"}, {}, kHfp | kPbap},
    {"phone connects PBAP: the flag waits for the CFM", kHfp | kInquiryWaits, OnConnectInd,
     ConnectInd(kPbapP), {}, {}, kHfp},
    {"phone connects A2DP: AVRCP follows", 0, OnConnectInd, ConnectInd(kA2dpP), {"connect avrcp"}, {},
     kA2dp},
    {"phone connects A2DP with AVRCP up", kAvrcp, OnConnectInd, ConnectInd(kA2dpP), {}, {}, kA2dp | kAvrcp},
    {"phone connects AVRCP, music source", kMusicSource, OnConnectInd, ConnectInd(kAvrcpP), {"sdp"}, {},
     kAvrcp | kMusicSource},
    {"phone connects AVRCP, other source", 0, OnConnectInd, ConnectInd(kAvrcpP), {}, {}, kAvrcp},
    {"connect indication with a failure status", 0, OnConnectInd, Connect(50, kFail, kHfpP), {}, {}, 0},

    // ------------------------------------------------------ disconnect confirmations
    {"HFP down: PBAP torn down, phonebook session forgotten, visible",
     kHfp | kPbap | kPbDone | kPbStarted | kPbPausedByCall | kDisconnectWaits, OnDisconnectCfm,
     DisconnectCfm(kOk, kHfpP), {"disconnect pbap", "show"}, kGone, kPbap},
    {"HFP down while pairing: stays hidden", kHfp | kPairing, OnDisconnectCfm, DisconnectCfm(kOk, kHfpP),
     {}, kGone, kPairing},
    {"HFP disconnect refused", kHfp, OnDisconnectCfm, DisconnectCfm(kFail, kHfpP), {}, {}, kHfp},
    {"A2DP down: AVRCP torn down whatever its state", kA2dp, OnDisconnectCfm, DisconnectCfm(kOk, kA2dpP),
     {"disconnect avrcp"}, {}, 0},
    {"AVRCP down", kAvrcp | kA2dp, OnDisconnectCfm, DisconnectCfm(kOk, kAvrcpP), {}, {}, kA2dp},
    {"PBAP down", kPbap | kHfp, OnDisconnectCfm, DisconnectCfm(kOk, kPbapP), {}, {}, kHfp},

    // ------------------------------------------------------ disconnects started by the phone
    {"phone drops HFP: PBAP and A2DP torn down, visible", kHfp | kPbap | kA2dp | kDisconnectWaits | kPbDone,
     OnDisconnectInd, DisconnectInd(kOk, kHfpP), {"disconnect pbap", "disconnect a2dp", "show"}, kGone,
     kPbap | kA2dp},
    {"phone drops A2DP with AVRCP up", kA2dp | kAvrcp, OnDisconnectInd, DisconnectInd(kOk, kA2dpP),
     {"disconnect avrcp"}, {}, kAvrcp},
    {"phone drops A2DP without AVRCP", kA2dp, OnDisconnectInd, DisconnectInd(kOk, kA2dpP), {}, {}, 0},
    {"link lost counts as a disconnect", kA2dp | kAvrcp, OnDisconnectInd, DisconnectInd(kLinkLost, kA2dpP),
     {"disconnect avrcp"}, {}, kAvrcp},
    {"other failure status ignored", kA2dp | kAvrcp, OnDisconnectInd, DisconnectInd(1, kA2dpP), {}, {},
     kA2dp | kAvrcp},
    {"phone drops AVRCP", kAvrcp | kA2dp, OnDisconnectInd, DisconnectInd(kOk, kAvrcpP), {}, {}, kA2dp},
    {"phone drops PBAP", kPbap, OnDisconnectInd, DisconnectInd(kOk, kPbapP), {}, {}, 0},

    // ------------------------------------------------------ module ready
    {"module ready: every connection and phonebook flag cleared, version in upper case",
     kHfp | kPbap | kA2dp | kAvrcp | kConnecting | kInquiring | kPbDone | kPbStarted | kMusicSource,
     OnModuleReady, Msg(48, {0, 0x1A, 0x2B, 0x3C, 0x4D}), {}, {"84/0 WBXE3_J1A2B_3C4D"},
     kInited | kMusicSource},
    {"module not ready: only reported", kHfp | kPbStarted, OnModuleReady, Msg(48, {1, 1, 2, 3, 4}), {},
     {"1/0"}, kHfp | kPbStarted},
};

class ConnectionTest : public EventsTest {};

TEST_F(ConnectionTest, Handlers_Table) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        ResetState();
        LoadRegistry(kPixelSlot2);
        std::memcpy(g_abCurrAddr, kAddr.data(), 6);
        Apply(row.before);
        recorder.Clear();
        host.Clear();

        Feed(row.handler, row.message);

        std::vector<std::string> sent;
        for (const auto& m : recorder.Messages()) sent.push_back(Spell(m));
        EXPECT_EQ(sent, row.sent);
        EXPECT_EQ(Reports(host), row.reports);
        EXPECT_EQ(Describe(Observe()), Describe(row.after));
    }
}

TEST_F(ConnectionTest, ConnectCfm_ReportsThePhonesRecordAndPostsItsSlot) {
    LoadRegistry(kPixelSlot2);
    Feed(OnConnectCfm, Connect(12, kOk, kHfpP));

    const auto notes = host.Notifications();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes[0].len, 5u);
    DeviceInfoRecord info;
    std::memcpy(&info, notes[0].data.data(), sizeof info);
    EXPECT_STREQ(info.slot, "02");
    EXPECT_STREQ(info.name, "Pixel");
    EXPECT_EQ(std::string(info.address, 12), "112233445566");
    EXPECT_EQ(info.connected, 1);
    EXPECT_EQ(notes[1].len, 1u);
}

TEST_F(ConnectionTest, ModuleReady_ForgetsRequestsTheOldModuleNeverConfirmed) {
    g_bCfmForTheLastREQ = 0;
    g_vCmdList.push_back(new CmdRecord{});
    Feed(OnModuleReady, Msg(48, {0, 1, 2, 3, 4}));
    EXPECT_EQ(g_bCfmForTheLastREQ, 1);
    EXPECT_EQ(CmdListSize(), 0u);
    EXPECT_EQ(host.Notifications().at(0).len, 16u);
}

// ------------------------------------------------------ phones registered on the way

std::vector<uint8_t> RemoteName(const std::string& name) {
    std::vector<uint8_t> p = {0, 0, 0, 0, 0, 0, 0, 0, uint8_t(name.size())};   // length in 13..14
    Append(p, name);
    return Msg(8, p);
}

TEST_F(ConnectionTest, UnknownPhone_NamedAfterConnecting_TakesAFreeSlotOrStaysUnrecorded) {
    for (bool full : {false, true}) {
        SCOPED_TRACE(full ? "all five slots used" : "free slots");
        ResetState();
        std::string ini;
        if (full)
            for (int s = 0; s < 5; ++s) ini += SlotSection(s, "P" + std::to_string(s), "00000000000" + std::to_string(s));
        LoadRegistry(ini);
        Feed(OnConnectInd, ConnectInd(kHfpP, kStranger));
        host.Clear();

        Feed(OnRemoteName, RemoteName("Nokia"));

        EXPECT_EQ(g_bUnknownPeer, 0);
        EXPECT_EQ(g_bHfpConnected, 1);
        if (full) {
            EXPECT_EQ(g_CurrConnectIndex, kEmptySlot);
            EXPECT_TRUE(host.Codes().empty());
            continue;
        }
        EXPECT_EQ(g_CurrConnectIndex, 0);
        ASSERT_EQ(host.Codes(), (std::vector<uint32_t>{64, 2}));
        DeviceInfoRecord info;
        std::memcpy(&info, host.Notifications()[0].data.data(), sizeof info);
        EXPECT_STREQ(info.slot, "00");
        EXPECT_STREQ(info.name, "Nokia");
    }
}

TEST_F(ConnectionTest, PhonePairedFromInquiry_RegisteredWithItsNewKey) {
    LoadRegistry("");
    StartInquiry();
    Feed(OnInquiryResult, Msg(49, kAddr));
    g_nPairIndex = 0;   // as KZ_BT_PairRemoteDevice("0", ...)
    std::memcpy(g_abCurrAddr, kAddr.data(), 6);
    std::vector<uint8_t> pairing = {kOk};
    pairing.insert(pairing.end(), kAddr.begin(), kAddr.end());
    Append(pairing, {0, 0});
    for (int i = 0; i < 16; ++i) pairing.push_back(uint8_t(0x30 + i));
    Feed(OnPairingResult, Msg(59, pairing));
    host.Clear();

    Feed(OnConnectCfm, Connect(12, kOk, kHfpP));

    EXPECT_EQ(g_CurrConnectIndex, 0);
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{66, 64, 2, 96}));
    EXPECT_EQ(host.Notifications()[0].param, 2u);
    EXPECT_EQ(host.Notifications()[0].Text(), "00");
    PairedDeviceRecord slot;
    ASSERT_TRUE(GetSlot(0, &slot));
    EXPECT_EQ(slot.key[0], 0x30);
    EXPECT_EQ(slot.key[15], 0x3F);
}

}  // namespace
