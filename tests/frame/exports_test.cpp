// The exported functions: the shared library's export table, what each export
// sends, and that every refusal sends nothing and changes nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "KZ_Tarn.h"
#include "channel/requests.h"
#include "events/audio.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/inquiry.h"
#include "frame/control_window.h"
#include "phonebook/download.h"
#include "settings/registry.h"
#include "settings/settings.h"
#include "support/test_support.h"

namespace {

using Ids = std::vector<uint16_t>;

// Resets before the members are built: the reset removes the submit tap
// that the recorder installs.
struct ResetFirst {
    ResetFirst() { kztest::ResetAllState(); }
};

class ExportsTest : public ::testing::Test, private ResetFirst {
protected:
    void SetUp() override {
        recorder.Clear();
    }
    void AddInquiryResult(const uint8_t (&address)[6]) {
        auto rec = std::make_unique<PairedDeviceRecord>();
        std::memcpy(rec->address, address, 6);
        std::memset(rec->key, 0xFF, sizeof rec->key);
        rec->id = 255;
        rec->pb = 255;
        std::lock_guard<std::mutex> lock(kz::g_InquiryMutex);
        kz::g_vecInquiry.push_back(std::move(rec));
    }
    kztest::TempRoot root;
    kztest::SubmitRecorder recorder;
};

// ------------------------------------------------------------ export table

TEST(ExportTable, SharedLibraryExportsExactlyTheKzNames) {
    FILE* p = popen("nm -D --defined-only " KZ_TARN_SO, "r");
    ASSERT_NE(p, nullptr);
    std::map<std::string, std::string> addressOf;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        std::istringstream in(line);
        std::string address, type, name;
        if (in >> address >> type >> name) addressOf[name] = address;
    }
    ASSERT_EQ(pclose(p), 0);

    const std::set<std::string> expected = {
        "KZ_BT_AVRCPCmd", "KZ_BT_Answer", "KZ_BT_AudioTransfer", "KZ_BT_CloseDevice",
        "KZ_BT_ConnectPairedDevice", "KZ_BT_DTMF", "KZ_BT_DeletePairedDevice",
        "KZ_BT_DeviceInit", "KZ_BT_Dial", "KZ_BT_DisConnectPairedDevice", "KZ_BT_DisconnectA2DP",
        "KZ_BT_End1stCall", "KZ_BT_EndWaitingCall", "KZ_BT_GetContactsFromFile",
        "KZ_BT_GetMicrophoneGain", "KZ_BT_GetMicrophoneMode", "KZ_BT_GetPairedDevices",
        "KZ_BT_GetPhonBookSize", "KZ_BT_GetPhonebookData", "KZ_BT_Hangup", "KZ_BT_Hold1stCall",
        "KZ_BT_InquiryDevice", "KZ_BT_PairRemoteDevice", "KZ_BT_PairingRetry",
        "KZ_BT_ResetATCommand", "KZ_BT_SetAudioService", "KZ_BT_SetAutoAnswer",
        "KZ_BT_SetAutoConnect", "KZ_BT_SetInitialValue", "KZ_BT_SetLocalDeviceName",
        "KZ_BT_SetMicrophoneGain", "KZ_BT_SetMicrophoneMode", "KZ_BT_SetPhoneMute",
        "KZ_BT_SetPinCode", "KZ_BT_SwitchCalls", "_Z13KZ_BT_SetMuteb"};
    ASSERT_EQ(expected.size(), 36u);
    std::set<std::string> exported;
    for (const auto& [name, address] : addressOf) exported.insert(name);
    EXPECT_EQ(exported, expected);
    EXPECT_EQ(addressOf["KZ_BT_SwitchCalls"], addressOf["KZ_BT_Hold1stCall"]);
}

// ------------------------------------------------------------ thin shells

TEST_F(ExportsTest, CallExports_SendTheirRequests) {
    struct Case {
        const char* name;
        void (*call)();
        uint16_t id;
        uint8_t param;
    };
    const Case cases[] = {
        {"Answer", [] { KZ_BT_Answer(); }, 80, 1},
        {"Hangup", [] { KZ_BT_Hangup(); }, 80, 0},
        {"End1stCall", [] { KZ_BT_End1stCall(); }, 90, 1},
        {"Hold1stCall", [] { KZ_BT_Hold1stCall(); }, 90, 2},
        {"SwitchCalls", [] { KZ_BT_SwitchCalls(); }, 90, 2},
        {"EndWaitingCall", [] { KZ_BT_EndWaitingCall(); }, 90, 0},
        {"DTMF", [] { KZ_BT_DTMF(0x123); }, 86, 0x23},
        {"AudioTransfer 1", [] { KZ_BT_AudioTransfer(1); }, 14, 1},
        {"AudioTransfer 0", [] { KZ_BT_AudioTransfer(0); }, 15, 1},
        {"AudioTransfer 0x101", [] { KZ_BT_AudioTransfer(0x101); }, 14, 1},
        {"DisconnectA2DP", [] { KZ_BT_DisconnectA2DP(); }, 13, 3},
        {"SetPhoneMute on", [] { KZ_BT_SetPhoneMute(1); }, 23, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        recorder.Clear();
        c.call();
        auto msgs = recorder.Messages();
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_EQ(msgs[0].id(), c.id);
        EXPECT_EQ(msgs[0].bytes[6 + (c.id == 23 ? 1 : 0)], c.param);
    }
}

TEST_F(ExportsTest, ResetAtCommand_WrittenAtOnceOnChannelZero) {
    KZ_BT_ResetATCommand();
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].id(), 1);
    EXPECT_EQ(msgs[0].mode, 3u);
}

TEST_F(ExportsTest, SetPhoneMuteOff_FullVolumeThenGainRestoreTimer) {
    KZ_BT_SetPhoneMute(0);
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].id(), 23);
    EXPECT_EQ(msgs[0].bytes[7], 15);
    EXPECT_NE(kz::g_nGainTimerID.load(), 0u);
}

TEST_F(ExportsTest, SetMute_DoesNothing) {
    kztest::HostWindows host;
    KZ_BT_SetMute(true);
    KZ_BT_SetMute(false);
    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_TRUE(host.Notifications().empty());
}

TEST_F(ExportsTest, Dial_SendsTheNumberAndRefusesNull) {
    KZ_BT_Dial(nullptr);
    KZ_BT_Dial("0800");
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].id(), 82);
    EXPECT_EQ(msgs[0].bytes[8], 4);
}

// ------------------------------------------------------------ music

TEST_F(ExportsTest, AvrcpCmd_PressAndReleaseWithA2dpElseA2dpConnect) {
    kz::g_bHfpConnected = 1;
    KZ_BT_SetAudioService();
    EXPECT_EQ(kz::g_bCurrSrcA2DP.load(), 1);
    EXPECT_TRUE(recorder.Messages().empty());

    kz::g_bA2dpConnected = 1;
    KZ_BT_AVRCPCmd(0x44);
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].id(), 288);
    EXPECT_EQ(msgs[0].bytes[9], 0);
    EXPECT_EQ(msgs[0].bytes[10], 0x44);
    EXPECT_EQ(msgs[1].id(), 288);
    EXPECT_EQ(msgs[1].bytes[9], 1);
    EXPECT_EQ(msgs[1].bytes[10], 0x44);

    recorder.Clear();
    kz::g_bA2dpConnected = 0;
    KZ_BT_AVRCPCmd(0x44);
    msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].id(), 12);
    EXPECT_EQ(msgs[0].bytes[6], 3);
}

TEST_F(ExportsTest, AvrcpCmd_NothingWithoutHfpOrWithoutA2dpSource) {
    kz::g_bA2dpConnected = 1;
    kz::g_bCurrSrcA2DP = 1;
    KZ_BT_AVRCPCmd(0x44);   // HFP not connected
    kz::g_bHfpConnected = 1;
    kz::g_bCurrSrcA2DP = 0;
    KZ_BT_AVRCPCmd(0x44);   // another source
    EXPECT_TRUE(recorder.Messages().empty());
}

// ------------------------------------------------------------ connections

TEST_F(ExportsTest, ConnectPairedDevice_TargetsTheSlot) {
    root.Write("\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini",
               "[Device2]\nid=2\nname=Anna\naddress=a1b2c3d4e5f6\nkey=" + std::string(32, 'f') +
                   "\npb=255\n");
    KZ_BT_GetPairedDevices();
    recorder.Clear();
    KZ_BT_ConnectPairedDevice("2");
    ASSERT_EQ(recorder.Ids(), (Ids{12, 11}));
    EXPECT_EQ(kz::g_CurrConnectIndex.load(), 2);
    EXPECT_EQ(kz::g_bPairMode.load(), 0);
    EXPECT_EQ(kz::g_bConnecting.load(), 1);
    auto msgs = recorder.Messages();
    EXPECT_EQ(msgs[0].bytes[6], 1);   // HFP
    EXPECT_EQ(std::vector<uint8_t>(msgs[0].bytes.begin() + 7, msgs[0].bytes.begin() + 13),
              (std::vector<uint8_t>{0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}));
    EXPECT_EQ(msgs[1].bytes[6], 0);   // hidden
}

TEST_F(ExportsTest, PairRemoteDevice_ChoosesTheInquiryResult) {
    kztest::HostWindows host;
    const uint8_t a0[6] = {1, 2, 3, 4, 5, 6};
    const uint8_t a1[6] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
    AddInquiryResult(a0);
    AddInquiryResult(a1);
    KZ_BT_PairRemoteDevice("1", "0000");
    ASSERT_EQ(recorder.Ids(), (Ids{12, 11}));
    auto msgs = recorder.Messages();
    EXPECT_EQ(std::vector<uint8_t>(msgs[0].bytes.begin() + 7, msgs[0].bytes.begin() + 13),
              std::vector<uint8_t>(a1, a1 + 6));
    EXPECT_EQ(kz::g_bPairMode.load(), 1);
    EXPECT_EQ(kz::g_nPairIndex.load(), 1);
    EXPECT_EQ(kz::g_bConnecting.load(), 1);
    EXPECT_STREQ(kz::g_szPinCode, "0000");
    auto notes = host.Notifications();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().code, 66u);
    EXPECT_EQ(notes.back().param, 1u);
    EXPECT_EQ(notes.back().len, 2u);
    EXPECT_EQ(std::string(notes.back().data.begin(), notes.back().data.end()), "01");
}

TEST_F(ExportsTest, Refusals_SendNothingAndChangeNoState) {
    kztest::HostWindows host;
    const uint8_t a0[6] = {1, 2, 3, 4, 5, 6};
    AddInquiryResult(a0);
    std::strcpy(kz::g_szPinCode, "4706");
    kz::g_CurrConnectIndex = 4;
    const uint8_t before[6] = {9, 9, 9, 9, 9, 9};
    std::memcpy(kz::g_abCurrAddr, before, 6);

    // Connected or connecting.
    kz::g_bHfpConnected = 1;
    KZ_BT_ConnectPairedDevice("2");
    KZ_BT_PairRemoteDevice("0", "1234");
    KZ_BT_PairingRetry();
    kz::g_bHfpConnected = 0;
    kz::g_bConnecting = 1;
    KZ_BT_ConnectPairedDevice("2");
    KZ_BT_PairRemoteDevice("0", "1234");
    KZ_BT_PairingRetry();
    kz::g_bConnecting = 0;

    // Index texts outside the lists, or not numbers at all; null texts.
    for (const char* index : {"7", "5", "-1", "abc", "", "99999999999999999999", (const char*)nullptr}) {
        SCOPED_TRACE(index ? index : "(null)");
        KZ_BT_ConnectPairedDevice(index);
        KZ_BT_DeletePairedDevice(index);
        KZ_BT_PairRemoteDevice(index, "1234");
    }
    KZ_BT_PairRemoteDevice("1", "1234");     // one inquiry result only
    KZ_BT_PairRemoteDevice("0", nullptr);
    KZ_BT_SetPinCode(nullptr);

    // Values outside what the exports define.
    KZ_BT_AudioTransfer(2);
    KZ_BT_AudioTransfer(-1);
    kz::g_bPbapConnected = 1;
    for (int type : {0, 5, -1, 0x100}) {
        KZ_BT_GetPhonBookSize(type);
        KZ_BT_GetPhonebookData(type, 10);
    }
    kz::g_bPbapConnected = 0;

    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_TRUE(host.Notifications().empty());
    EXPECT_STREQ(kz::g_szPinCode, "4706");
    EXPECT_EQ(kz::g_CurrConnectIndex.load(), 4);
    EXPECT_EQ(kz::g_nPairIndex.load(), -1);
    EXPECT_EQ(kz::g_bPairMode.load(), 0);
    EXPECT_EQ(kz::g_bConnecting.load(), 0);
    EXPECT_EQ(std::memcmp(kz::g_abCurrAddr, before, 6), 0);
}

TEST_F(ExportsTest, DisconnectDuringDownload_DeferredAsPendingAction) {
    kz::g_bHfpConnected = 1;
    kz::g_bA2dpConnected = 1;
    kz::startDownload = 1;
    KZ_BT_DisConnectPairedDevice();
    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_EQ(kz::g_nPendingAction.load(), kz::kPendingDisconnect);

    kz::startDownload = 0;
    KZ_BT_DisConnectPairedDevice();
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].id(), 13);
    EXPECT_EQ(msgs[0].bytes[6], 1);
    EXPECT_EQ(msgs[1].bytes[6], 3);
}

TEST_F(ExportsTest, DisconnectWithoutHfp_SendsNothing) {
    KZ_BT_DisConnectPairedDevice();
    EXPECT_TRUE(recorder.Messages().empty());
}

TEST_F(ExportsTest, EndInquiryMode_VisibleAndReported) {
    kztest::HostWindows host;
    kz::g_bPairMode = 1;
    kz::g_bInquiryWanted = 1;
    kz::g_bNameFetching = 1;
    KZ_BT_InquiryDevice(0);
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].id(), 11);
    EXPECT_EQ(msgs[0].bytes[7], 0x80);   // visible
    EXPECT_EQ(kz::g_bPairMode.load(), 0);
    EXPECT_EQ(kz::g_bInquiryWanted.load(), 0);
    EXPECT_EQ(kz::g_bNameFetching.load(), 0);
    auto notes = host.Notifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].code, 65u);
    EXPECT_EQ(notes[0].param, 0u);
}

// ------------------------------------------------------------ initial values

TEST_F(ExportsTest, SetInitialValue_ReportsAndSendsInOrder) {
    kztest::HostWindows host;
    kz::g_bAutoConnecting = 1;   // an automatic connection already wanted
    KZ_BT_SetInitialValue();
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{82, 83}));
    EXPECT_EQ(recorder.Ids(), (Ids{9, 11, 5, 5, 5, 12}));
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 6u);
    EXPECT_EQ(std::string(msgs[0].bytes.begin() + 8, msgs[0].bytes.begin() + 17), "Q7MX_TARN");
    EXPECT_EQ(msgs[1].bytes[7], 0x80);   // visible
    const uint8_t levels[3][2] = {{2, 10}, {1, 15}, {0, 15}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(msgs[2 + i].bytes[6], levels[i][0]);
        EXPECT_EQ(msgs[2 + i].bytes[8], levels[i][1]);
    }
    EXPECT_EQ(msgs[5].bytes[6], 1);
    EXPECT_EQ(kz::g_bConnecting.load(), 1);
}

TEST_F(ExportsTest, SetInitialValue_NoConnectWithoutARememberedPhone) {
    kz::g_bAutoConnect = 1;
    kz::g_CurrConnectIndex = 255;
    KZ_BT_SetInitialValue();
    EXPECT_EQ(recorder.Ids(), (Ids{9, 11, 5, 5, 5}));
    EXPECT_EQ(kz::g_bAutoConnecting.load(), 0);
}

}  // namespace
