// Connection handlers: chaining, automatic connection, unknown phones,
// disconnections and the module-ready indication.
#include <cstring>

#include "channel/command_queue.h"
#include "channel/module_ids.h"
#include "channel/requests.h"
#include "events/audio.h"
#include "events/connection.h"
#include "events/inquiry.h"
#include "event_test_util.h"
#include "settings/registry.h"
#include "settings/settings.h"

using namespace kz;
using namespace kztest;

namespace {

constexpr uint8_t kStatusOk = 0;
constexpr uint8_t kStatusFail = 4;
const std::vector<uint8_t> kAddr = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const std::vector<uint8_t> kHidden(8, 0);
const std::vector<uint8_t> kVisible = {0x00, 0x80, 0x00, 0x20, 0x00, 0x80, 0x00, 0x20};

// CFM 12 / IND 50: status, address in 7..12, profile in 13.
std::vector<uint8_t> Connect(uint16_t id, uint8_t status, uint8_t profile,
                             const std::vector<uint8_t>& addr = kAddr) {
    std::vector<uint8_t> p = {status};
    p.insert(p.end(), addr.begin(), addr.end());
    p.push_back(profile);
    return Msg(id, p);
}
std::vector<uint8_t> Disconnect(uint16_t id, uint8_t status, uint8_t profile) {
    return Msg(id, {status, profile});
}

std::vector<uint8_t> Params(const SubmittedMessage& m, size_t from, size_t n) {
    return {m.bytes.begin() + from, m.bytes.begin() + from + n};
}

class ConnectionTest : public EventsTest {};

// ------------------------------------------------------------ connect CFM

TEST_F(ConnectionTest, ConnectCfm_HfpSuccessForSlot2_ChainsPbapHidesAndReportsInOrder) {
    LoadRegistry(SlotSection(2, "Pixel", "112233445566") + "[General]\r\nCurrIndex=2\r\n");
    ASSERT_EQ(g_CurrConnectIndex, 2);
    SetConnecting(true);

    Feed(OnConnectCfm, Connect(12, kStatusOk, kProfileHfp));

    EXPECT_EQ(g_bHfpConnected, 1);
    EXPECT_EQ(g_bConnecting, 0);
    auto sent = recorder.Messages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].id(), 12);
    EXPECT_EQ(sent[0].bytes[6], kProfilePbap);
    EXPECT_EQ(sent[1].id(), 11);
    EXPECT_EQ(Params(sent[1], 6, 8), kHidden);
    EXPECT_EQ(g_bPbapConnectDone, 0);

    auto posts = Posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].wParam, 1u);
    EXPECT_EQ(posts[0].lParam, 2);

    auto notes = host.Notifications();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].code, 64u);
    EXPECT_EQ(notes[0].len, 5u);
    DeviceInfoRecord info;
    std::memcpy(&info, notes[0].data.data(), sizeof info);
    EXPECT_STREQ(info.slot, "02");
    EXPECT_STREQ(info.name, "Pixel");
    EXPECT_EQ(std::string(info.address, 12), "112233445566");
    EXPECT_EQ(info.connected, 1);
    EXPECT_EQ(notes[1].code, 2u);
    EXPECT_EQ(notes[1].param, 0u);
    EXPECT_EQ(notes[1].len, 1u);
    EXPECT_EQ(notes[2].code, 96u);
}

TEST_F(ConnectionTest, ConnectCfm_HfpWithMusicSource_AlsoConnectsA2dpThenAvrcpThenSdp) {
    LoadRegistry(SlotSection(0, "Pixel", "112233445566") + "[General]\r\nCurrIndex=0\r\n");
    g_bCurrSrcA2DP = 1;

    Feed(OnConnectCfm, Connect(12, kStatusOk, kProfileHfp));
    auto connects = Sent(kz::msgid::kConnectProfile);
    ASSERT_EQ(connects.size(), 2u);
    EXPECT_EQ(connects[0].bytes[6], kProfilePbap);
    EXPECT_EQ(connects[1].bytes[6], kProfileA2dp);

    recorder.Clear();
    Feed(OnConnectCfm, Connect(12, kStatusOk, kProfileA2dp));
    ASSERT_EQ(recorder.Ids(), std::vector<uint16_t>{12});
    EXPECT_EQ(recorder.Messages()[0].bytes[6], kProfileAvrcp);

    recorder.Clear();
    Feed(OnConnectCfm, Connect(12, kStatusOk, kProfileAvrcp));
    EXPECT_EQ(g_bAvrcpConnected, 1);
    EXPECT_EQ(recorder.Ids(), std::vector<uint16_t>{30});
}

TEST_F(ConnectionTest, ConnectCfm_AutoConnectFailsThreeTimes_RetriesTwiceThenGivesUpVisible) {
    LoadRegistry(SlotSection(1, "Pixel", "112233445566") + "[General]\r\nCurrIndex=1\r\n");
    g_bAutoConnecting = 1;
    SetConnecting(true);

    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        Feed(OnConnectCfm, Connect(12, kStatusFail, kProfileHfp));
        auto notes = host.Notifications();
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].code, 2u);
        EXPECT_EQ(notes[0].param, 3u);
        auto sent = recorder.Messages();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].id(), 12);
        EXPECT_EQ(sent[0].bytes[6], kProfileHfp);
        EXPECT_EQ(Params(sent[0], 7, 6), kAddr);
        EXPECT_EQ(g_bConnecting, 1);
        host.Clear();
        recorder.Clear();
    }

    Feed(OnConnectCfm, Connect(12, kStatusFail, kProfileHfp));
    auto notes = host.Notifications();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].param, 3u);
    EXPECT_EQ(notes[1].code, 2u);
    EXPECT_EQ(notes[1].param, 1u);
    auto sent = recorder.Messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].id(), 11);
    EXPECT_EQ(Params(sent[0], 6, 8), kVisible);
    EXPECT_EQ(g_bAutoConnecting, 0);
    EXPECT_EQ(g_nAutoConnectRetry, 0);
    EXPECT_EQ(g_bConnecting, 0);
}

TEST_F(ConnectionTest, ConnectCfm_AutoConnectFailsWithInquiryWaiting_StartsTheInquiry) {
    g_bAutoConnecting = 1;
    g_nPendingAction = kPendingInquiry;

    Feed(OnConnectCfm, Connect(12, kStatusFail, kProfileHfp));

    EXPECT_EQ(g_nPendingAction, kPendingNone);
    EXPECT_EQ(g_bAutoConnecting, 0);
    EXPECT_EQ(recorder.Ids(), (std::vector<uint16_t>{11, 10}));   // hidden, inquiry
    EXPECT_EQ(g_bInquiryRunning, 1);
}

TEST_F(ConnectionTest, ConnectCfm_PairingFails_ReportsPairFailureWithPosition) {
    g_bPairMode = 1;
    g_nPairIndex = 4;
    g_bPbapConnected = 1;

    Feed(OnConnectCfm, Connect(12, kStatusFail, kProfileHfp));

    auto notes = host.Notifications();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[1].code, 66u);
    EXPECT_EQ(notes[1].param, 3u);
    EXPECT_EQ(notes[1].Text(), "04");
    EXPECT_EQ(notes[2].param, 1u);
    // PBAP torn down; no visible mode while pairing.
    EXPECT_EQ(recorder.Ids(), std::vector<uint16_t>{13});
}

TEST_F(ConnectionTest, ConnectCfm_PhonePairedFromInquiry_RegisteredWithItsNewKey) {
    LoadRegistry("");
    StartInquiry();
    Feed(OnInquiryResult, Msg(49, kAddr));
    g_nPairIndex = 0;                       // as KZ_BT_PairRemoteDevice("0", ...)
    std::memcpy(g_abCurrAddr, kAddr.data(), 6);
    std::vector<uint8_t> pairing = {kStatusOk};
    pairing.insert(pairing.end(), kAddr.begin(), kAddr.end());
    Append(pairing, {0, 0});
    for (int i = 0; i < 16; ++i) pairing.push_back(uint8_t(0x30 + i));
    Feed(OnPairingResult, Msg(59, pairing));
    host.Clear();

    Feed(OnConnectCfm, Connect(12, kStatusOk, kProfileHfp));

    EXPECT_EQ(g_CurrConnectIndex, 0);
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{66, 64, 2, 96}));
    EXPECT_EQ(host.Notifications()[0].param, 2u);
    EXPECT_EQ(host.Notifications()[0].Text(), "00");
    PairedDeviceRecord slot;
    ASSERT_TRUE(GetSlot(0, &slot));
    EXPECT_EQ(slot.key[0], 0x30);
    EXPECT_EQ(slot.key[15], 0x3F);
}

// ------------------------------------------------------------ connect IND

TEST_F(ConnectionTest, ConnectInd_UnregisteredPhone_AsksNameAndReportsOnlyAfterIt) {
    LoadRegistry("");
    Feed(OnConnectInd, Connect(50, kStatusOk, kProfileHfp));

    EXPECT_EQ(g_bHfpConnected, 1);
    EXPECT_EQ(g_bUnknownPeer, 1);
    EXPECT_EQ(g_CurrConnectIndex, kEmptySlot);
    EXPECT_EQ(recorder.Ids(), (std::vector<uint16_t>{12, 11, 8}));
    EXPECT_EQ(Params(Sent(kz::msgid::kRemoteName)[0], 6, 6), kAddr);
    EXPECT_TRUE(host.Codes().empty());

    std::vector<uint8_t> name = {0, 0, 0, 0, 0, 0, 0, 0, 5};   // status, length in 13..14
    Append(name, "Nokia");
    Feed(OnRemoteName, Msg(8, name));

    EXPECT_EQ(g_bUnknownPeer, 0);
    EXPECT_EQ(g_CurrConnectIndex, 0);
    auto notes = host.Notifications();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].code, 64u);
    DeviceInfoRecord info;
    std::memcpy(&info, notes[0].data.data(), sizeof info);
    EXPECT_STREQ(info.slot, "00");
    EXPECT_STREQ(info.name, "Nokia");
    EXPECT_EQ(notes[1].code, 2u);
}

TEST_F(ConnectionTest, ConnectInd_UnregisteredPhoneWithAllSlotsTaken_StaysWithoutRecord) {
    std::string ini;
    for (int s = 0; s < 5; ++s) ini += SlotSection(s, "P" + std::to_string(s), "00000000000" + std::to_string(s));
    LoadRegistry(ini);
    Feed(OnConnectInd, Connect(50, kStatusOk, kProfileHfp));
    std::vector<uint8_t> name = {0, 0, 0, 0, 0, 0, 0, 0, 3};
    Append(name, "New");
    Feed(OnRemoteName, Msg(8, name));

    EXPECT_EQ(g_bHfpConnected, 1);
    EXPECT_EQ(g_CurrConnectIndex, kEmptySlot);
    EXPECT_TRUE(host.Codes().empty());
}

TEST_F(ConnectionTest, ConnectInd_RegisteredPhone_ReportsAtOnce) {
    LoadRegistry(SlotSection(3, "Pixel", "112233445566"));
    Feed(OnConnectInd, Connect(50, kStatusOk, kProfileHfp));
    EXPECT_EQ(g_CurrConnectIndex, 3);
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{64, 2, 96}));
    // A second HFP indication changes nothing.
    host.Clear();
    recorder.Clear();
    Feed(OnConnectInd, Connect(50, kStatusOk, kProfileHfp));
    EXPECT_TRUE(host.Codes().empty());
    EXPECT_TRUE(recorder.Ids().empty());
}

// -------------------------------------------------------- disconnections

TEST_F(ConnectionTest, DisconnectInd_ByProfileAndStatus_TearsDownAsExpected) {
    struct Case {
        const char* what;
        uint8_t status, profile;
        bool avrcpUp;
        std::vector<uint16_t> ids;
    };
    const Case cases[] = {
        {"A2DP with AVRCP up", 0, kProfileA2dp, true, {13}},
        {"A2DP without AVRCP", 0, kProfileA2dp, false, {}},
        {"status 10 like 0", 10, kProfileA2dp, true, {13}},
        {"status 1 ignored", 1, kProfileA2dp, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        recorder.Clear();
        g_bA2dpConnected = 1;
        g_bAvrcpConnected = c.avrcpUp;
        Feed(OnDisconnectInd, Disconnect(51, c.status, c.profile));
        EXPECT_EQ(recorder.Ids(), c.ids);
        EXPECT_EQ(g_bA2dpConnected, c.status == 1 ? 1 : 0);
    }
}

TEST_F(ConnectionTest, DisconnectInd_Hfp_TearsDownProfilesAndReportsDisconnection) {
    LoadRegistry(SlotSection(0, "Pixel", "112233445566"));
    g_bHfpConnected = 1;
    g_bPbapConnected = 1;
    g_bA2dpConnected = 1;
    g_nPendingAction = kPendingDisconnect;

    Feed(OnDisconnectInd, Disconnect(51, kStatusOk, kProfileHfp));

    EXPECT_EQ(g_bHfpConnected, 0);
    EXPECT_EQ(g_nPendingAction, kPendingNone);
    auto sent = recorder.Messages();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].bytes[6], kProfilePbap);
    EXPECT_EQ(sent[1].bytes[6], kProfileA2dp);
    EXPECT_EQ(sent[2].id(), 11);
    EXPECT_EQ(Params(sent[2], 6, 8), kVisible);
    // The registry is re-sent, then the disconnection.
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{64, 2}));
    EXPECT_EQ(host.Notifications()[1].param, 3u);
    auto bar = host.Inforbar();
    ASSERT_EQ(bar.size(), 1u);
    CallInfoRecord rec;
    std::memcpy(&rec, bar[0].bytes.data(), sizeof rec);
    EXPECT_EQ(rec.kind, 3u);
    EXPECT_EQ(rec.number[0], 0);
}

TEST_F(ConnectionTest, DisconnectCfm_A2dp_AlwaysQueuesAvrcpDisconnect) {
    g_bA2dpConnected = 1;
    Feed(OnDisconnectCfm, Disconnect(13, kStatusOk, kProfileA2dp));
    ASSERT_EQ(recorder.Ids(), std::vector<uint16_t>{13});
    EXPECT_EQ(recorder.Messages()[0].bytes[6], kProfileAvrcp);
    EXPECT_EQ(g_bA2dpConnected, 0);
}

// ------------------------------------------------------------ module ready

TEST_F(ConnectionTest, ModuleReady_ClearsStateAndReportsUpperCaseVersion) {
    g_bHfpConnected = 1;
    g_bA2dpConnected = 1;
    g_bConnecting = 1;
    g_bInquiryRunning = 1;
    g_bCfmForTheLastREQ = 0;
    g_vCmdList.push_back(std::make_unique<CmdRecord>());   // a request the old module never confirmed

    Feed(OnModuleReady, Msg(48, {0, 0x1A, 0x2B, 0x3C, 0x4D}));

    EXPECT_EQ(g_bHfpConnected, 0);
    EXPECT_EQ(g_bA2dpConnected, 0);
    EXPECT_EQ(g_bConnecting, 0);
    EXPECT_EQ(g_bInquiryRunning, 0);
    EXPECT_EQ(g_bModuleInited, 1);
    EXPECT_EQ(g_bCfmForTheLastREQ, 1);
    EXPECT_EQ(CmdListSize(), 0u);
    auto notes = host.Notifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].code, 84u);
    EXPECT_EQ(notes[0].len, 16u);
    EXPECT_EQ(notes[0].Text(), "WBXE3_J1A2B_3C4D");
}

TEST_F(ConnectionTest, ModuleReady_Failure_ReportsDeviceNotReadyOnly) {
    g_bHfpConnected = 1;
    Feed(OnModuleReady, Msg(48, {1, 1, 2, 3, 4}));
    auto notes = host.Notifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].code, 1u);
    EXPECT_EQ(notes[0].param, 0u);
    EXPECT_EQ(g_bHfpConnected, 1);
}

}  // namespace
