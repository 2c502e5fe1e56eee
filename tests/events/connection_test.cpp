// Connection handlers: one table of {state before, message, requests sent,
// reports, state after} for the module-ready indication and the connect and
// disconnect confirmations and indications; then the phones that become
// registered on the way.
#include "channel/command_queue.h"
#include "channel/requests.h"
#include "event_test_util.h"
#include "events/inquiry.h"

using namespace kz;
using namespace kztest;

namespace {

const std::vector<uint8_t> kAddr = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const std::vector<uint8_t> kStranger = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
const std::string kPixelSlot2 = SlotSection(2, "Pixel", "112233445566") + "[General]\r\nCurrIndex=2\r\n";

struct Row {
    const char* what;
    uint32_t before;
    std::vector<uint8_t> message;   // its id chooses the handler
    std::vector<std::string> sent, reports;
    uint32_t after;
};

Handler HandlerOf(const std::vector<uint8_t>& m) {
    return m[4] == 12 ? OnConnectCfm : m[4] == 13 ? OnDisconnectCfm : m[4] == 48 ? OnModuleReady
           : m[4] == 50 ? OnConnectInd : OnDisconnectInd;
}

// CFM 12 / IND 50: status, address in 7..12, profile in 13.
std::vector<uint8_t> Connect(uint16_t id, uint8_t status, uint8_t profile, const std::vector<uint8_t>& addr = kAddr) {
    std::vector<uint8_t> p = {status};
    p.insert(p.end(), addr.begin(), addr.end());
    p.push_back(profile);
    return Msg(id, p);
}
std::vector<uint8_t> UpCfm(uint8_t status, uint8_t profile) { return Connect(12, status, profile); }
std::vector<uint8_t> UpInd(uint8_t profile, const std::vector<uint8_t>& a = kAddr) { return Connect(50, 0, profile, a); }
std::vector<uint8_t> DownCfm(uint8_t status, uint8_t profile) { return Msg(13, {status, profile}); }
std::vector<uint8_t> DownInd(uint8_t status, uint8_t profile) { return Msg(51, {status, profile}); }

constexpr uint8_t kOk = 0, kFail = 4, kLinkLost = 10;
constexpr uint8_t kHfpP = kProfileHfp, kA2dpP = kProfileA2dp, kAvrcpP = kProfileAvrcp, kPbapP = kProfilePbap;
// What the phone's arrival reports: its record, "connected", "complete", the navigation post.
const std::vector<std::string> kArrived = {"64/0", "2/0", "96/0", "navig 1/2"};
// What HFP going down reports: the registry again, "disconnected", an ended call.
const std::vector<std::string> kGone = {"64/0", "2/3", "call 3"};

const Row kRows[] = {
    // ------------------------------------------------------ connect confirmations
    {"HFP up: PBAP follows, hidden", kConnecting | kPbapDone, UpCfm(kOk, kHfpP), {"connect pbap", "hide"}, kArrived, kHfp},
    {"HFP up, music source: A2DP too", kMusicSource, UpCfm(kOk, kHfpP), {"connect pbap", "hide", "connect a2dp"},
     kArrived, kHfp | kMusicSource},
    {"HFP up, A2DP up", kMusicSource | kA2dp, UpCfm(kOk, kHfpP), {"connect pbap", "hide"}, kArrived,
     kHfp | kMusicSource | kA2dp},
    {"HFP up while pairing: the chosen position reported", kPairing, UpCfm(kOk, kHfpP), {"connect pbap", "hide"},
     {"66/2 04", "64/0", "2/0", "96/0", "navig 1/2"}, kHfp | kPairing},
    {"automatic connection up: attempts forgotten", kAuto | kRetry2 | kConnecting, UpCfm(kOk, kHfpP),
     {"connect pbap", "hide"}, kArrived, kHfp},
    {"automatic connection up, inquiry waiting: it starts", kAuto | kInquiryWaits, UpCfm(kOk, kHfpP),
     {"disconnect hfp", "disconnect a2dp", "hide", "inquiry", "connect pbap", "hide"}, {"navig 1/2"},
     kHfp | kPairing | kInquiring},
    {"HFP fails", kConnecting, UpCfm(kFail, kHfpP), {"show"}, {"2/3", "2/1"}, 0},
    {"HFP fails, PBAP and A2DP up: both torn down", kPbap | kA2dp, UpCfm(kFail, kHfpP),
     {"disconnect pbap", "disconnect a2dp", "show"}, {"2/3", "2/1"}, kPbap | kA2dp},
    {"automatic attempt 1 fails: again", kAuto | kConnecting, UpCfm(kFail, kHfpP), {"connect hfp"}, {"2/3"},
     kAuto | kConnecting | kRetry1},
    {"automatic attempt 2 fails: again", kAuto | kRetry1, UpCfm(kFail, kHfpP), {"connect hfp"}, {"2/3"},
     kAuto | kConnecting | kRetry2},
    {"automatic attempt 3 fails: given up", kAuto | kRetry2 | kConnecting, UpCfm(kFail, kHfpP), {"show"}, {"2/3", "2/1"}, 0},
    {"automatic attempt fails, inquiry waiting: it starts", kAuto | kRetry1 | kInquiryWaits, UpCfm(kFail, kHfpP),
     {"hide", "inquiry"}, {"2/3"}, kPairing | kInquiring},
    {"pairing fails: position reported, stays hidden", kPairing | kPbap, UpCfm(kFail, kHfpP), {"disconnect pbap"},
     {"2/3", "66/3 04", "2/1"}, kPairing | kPbap},
    {"pairing fails in an inquiry: no pairing report", kPairing | kInquiring, UpCfm(kFail, kHfpP), {}, {"2/3", "2/1"},
     kPairing | kInquiring},
    {"PBAP up with HFP: dialled list asked", kHfp | kDisconnectWaits, UpCfm(kOk, kPbapP), {"pull"}, {},
     kHfp | kPbap | kPbapDone},
    {"PBAP up without HFP", kInquiryWaits, UpCfm(kOk, kPbapP), {}, {}, kPbap | kPbapDone},
    {"PBAP fails: answered all the same", kHfp, UpCfm(kFail, kPbapP), {}, {}, kHfp | kPbapDone},
    {"A2DP up with HFP: AVRCP follows", kHfp, UpCfm(kOk, kA2dpP), {"connect avrcp"}, {}, kHfp | kA2dp},
    {"A2DP up with AVRCP up", kHfp | kAvrcp, UpCfm(kOk, kA2dpP), {}, {}, kHfp | kAvrcp | kA2dp},
    {"A2DP up without HFP", 0, UpCfm(kOk, kA2dpP), {}, {}, kA2dp},
    {"A2DP fails", kHfp, UpCfm(kFail, kA2dpP), {}, {}, kHfp},
    {"AVRCP up, music source: version asked", kMusicSource, UpCfm(kOk, kAvrcpP), {"sdp"}, {}, kAvrcp | kMusicSource},
    {"AVRCP up, other source", 0, UpCfm(kOk, kAvrcpP), {}, {}, kAvrcp},

    // ------------------------------------------------------ connects started by the phone
    {"registered phone connects HFP", kAuto | kConnecting, UpInd(kHfpP), {"connect pbap", "hide"}, kArrived, kHfp},
    {"registered phone connects HFP, PBAP up, music source", kPbap | kMusicSource, UpInd(kHfpP),
     {"connect a2dp", "hide"}, kArrived, kHfp | kPbap | kMusicSource},
    {"HFP indication while connected: nothing new", kHfp | kAuto, UpInd(kHfpP), {}, {"navig 1/2"}, kHfp},
    {"unknown phone connects HFP: its name asked first", 0, UpInd(kHfpP, kStranger),
     {"connect pbap elsewhere", "hide", "name elsewhere"}, {"navig 1/2"}, kHfp | kUnknownPeer},
    {"phone connects PBAP: dialled list asked", kHfp | kPbap | kInquiryWaits, UpInd(kPbapP), {"pull"}, {}, kHfp | kPbap},
    {"phone connects PBAP: the flag waits for the CFM", kHfp | kInquiryWaits, UpInd(kPbapP), {}, {}, kHfp},
    {"phone connects A2DP: AVRCP follows", 0, UpInd(kA2dpP), {"connect avrcp"}, {}, kA2dp},
    {"phone connects A2DP with AVRCP up", kAvrcp, UpInd(kA2dpP), {}, {}, kA2dp | kAvrcp},
    {"phone connects AVRCP, music source", kMusicSource, UpInd(kAvrcpP), {"sdp"}, {}, kAvrcp | kMusicSource},
    {"phone connects AVRCP, other source", 0, UpInd(kAvrcpP), {}, {}, kAvrcp},
    {"connect indication with a failure status", 0, Connect(50, kFail, kHfpP), {}, {}, 0},

    // ------------------------------------------------------ disconnect confirmations
    {"HFP down: PBAP torn down, phonebook session forgotten, visible",
     kHfp | kPbap | kPbDone | kPbStarted | kPbPausedByCall | kDisconnectWaits, DownCfm(kOk, kHfpP),
     {"disconnect pbap", "show"}, kGone, kPbap},
    {"HFP down while pairing: stays hidden", kHfp | kPairing, DownCfm(kOk, kHfpP), {}, kGone, kPairing},
    {"HFP disconnect refused", kHfp, DownCfm(kFail, kHfpP), {}, {}, kHfp},
    {"A2DP down: AVRCP torn down whatever its state", kA2dp, DownCfm(kOk, kA2dpP), {"disconnect avrcp"}, {}, 0},
    {"AVRCP down", kAvrcp | kA2dp, DownCfm(kOk, kAvrcpP), {}, {}, kA2dp},
    {"PBAP down", kPbap | kHfp, DownCfm(kOk, kPbapP), {}, {}, kHfp},

    // ------------------------------------------------------ disconnects started by the phone
    {"phone drops HFP: PBAP and A2DP torn down, visible", kHfp | kPbap | kA2dp | kDisconnectWaits | kPbDone,
     DownInd(kOk, kHfpP), {"disconnect pbap", "disconnect a2dp", "show"}, kGone, kPbap | kA2dp},
    {"phone drops A2DP with AVRCP up", kA2dp | kAvrcp, DownInd(kOk, kA2dpP), {"disconnect avrcp"}, {}, kAvrcp},
    {"phone drops A2DP without AVRCP", kA2dp, DownInd(kOk, kA2dpP), {}, {}, 0},
    {"link lost counts as a disconnect", kA2dp | kAvrcp, DownInd(kLinkLost, kA2dpP), {"disconnect avrcp"}, {}, kAvrcp},
    {"other failure status ignored", kA2dp | kAvrcp, DownInd(1, kA2dpP), {}, {}, kA2dp | kAvrcp},
    {"phone drops AVRCP", kAvrcp | kA2dp, DownInd(kOk, kAvrcpP), {}, {}, kA2dp},
    {"phone drops PBAP", kPbap, DownInd(kOk, kPbapP), {}, {}, 0},

    // ------------------------------------------------------ module ready
    {"module ready: every connection and phonebook flag cleared, version in upper case",
     kHfp | kPbap | kA2dp | kAvrcp | kConnecting | kInquiring | kPbDone | kPbStarted | kMusicSource,
     Msg(48, {0, 0x1A, 0x2B, 0x3C, 0x4D}), {}, {"84/0 WBXE3_J1A2B_3C4D"}, kInited | kMusicSource},
    {"module not ready: only reported", kHfp | kPbStarted, Msg(48, {1, 1, 2, 3, 4}), {}, {"1/0"}, kHfp | kPbStarted},
};

class ConnectionTest : public EventsTest {};

TEST_F(ConnectionTest, Handlers_Table) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        ResetState();
        LoadRegistry(kPixelSlot2);
        std::memcpy(g_abCurrAddr, kAddr.data(), 6);
        ApplyState(row.before);
        Feed(HandlerOf(row.message), row.message);
        EXPECT_EQ(SpellRequests(recorder, kAddr), row.sent);
        EXPECT_EQ(SpellReports(host), row.reports);
        EXPECT_EQ(DescribeState(ObserveState()), DescribeState(row.after));
    }
}

TEST_F(ConnectionTest, ModuleReady_ReportsItsVersion_ForgetsRequestsTheOldModuleNeverConfirmed) {
    g_bCfmForTheLastREQ = 0;
    g_vCmdList.push_back(std::make_unique<CmdRecord>());
    Play({{OnModuleReady, Msg(48, {0, 1, 2, 3, 4}), {"84/0:16 WBXE3_J0102_0304"}}});
    EXPECT_EQ(g_bCfmForTheLastREQ, 1);
    EXPECT_EQ(CmdListSize(), 0u);
}

// A phone paired by PIN from an inquiry is the connection scenario's.
TEST_F(ConnectionTest, UnknownPhone_NamedAfterConnecting_TakesAFreeSlotOrStaysUnrecorded) {
    for (bool full : {false, true}) {
        ResetState();
        std::string ini;
        for (int s = 0; full && s < 5; ++s) ini += SlotSection(s, "P" + std::to_string(s), "00000000000" + std::to_string(s));
        LoadRegistry(ini);
        Feed(OnConnectInd, UpInd(kHfpP, kStranger));
        Take();
        std::vector<uint8_t> name = {0, 0, 0, 0, 0, 0, 0, 0, 5};   // length in 13..14
        Append(name, "Nokia");
        Feed(OnRemoteName, Msg(8, name));
        const std::vector<std::string> recorded = {"64/0:5 00 Nokia a1a2a3a4a5a6 1", "2/0:1"};
        EXPECT_EQ(Take(), full ? std::vector<std::string>{} : recorded);
        EXPECT_EQ(g_bUnknownPeer, 0);
        EXPECT_EQ(g_bHfpConnected, 1);
        EXPECT_EQ(g_CurrConnectIndex, full ? kEmptySlot : 0);
    }
}

}  // namespace
