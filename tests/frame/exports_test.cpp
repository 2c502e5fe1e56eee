// The exported functions: the shared library's export table, what each export
// sends, and that every refusal sends nothing and changes nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "events/calls.h"
#include "events/connection.h"
#include "events/inquiry.h"
#include "settings/registry.h"
#include "settings/settings.h"
#include "frame_fixture.h"
#include "support/connection_state.h"

namespace {

using namespace kztest;  // the state bits of the table

using ExportsTest = FrameTest;

// A phone found by the inquiry, as the module reports it.
void AddInquiryResult(const uint8_t (&address)[6]) {
    uint8_t msg[12] = {0x09, 0x00, 0x55, 0x02, 0x31, 0x00};
    std::memcpy(msg + 6, address, 6);
    kz::OnInquiryResult(msg, sizeof msg);
}

// The shared library exports exactly the KZ_BT_ names its header declares
// (KZ_BT_SetMute(bool) under its C++ name), and KZ_BT_SwitchCalls is the very
// address of KZ_BT_Hold1stCall.
TEST(ExportTable, SharedLibraryExportsExactlyTheDeclaredNames) {
    const char* source = std::getenv("KZ_TARN_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::ifstream file(std::string(source) + "/include/KZ_Tarn.h");
    const std::string header((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::regex declaration(R"(KZ_TARN_API [^(;\n]*\b(KZ_BT_\w+)\()");
    std::set<std::string> declared, exported;
    for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end; ++it)
        declared.insert((*it)[1] == "KZ_BT_SetMute" ? "_Z13KZ_BT_SetMuteb" : (*it)[1].str());
    EXPECT_EQ(declared.size(), 36u);

    FILE* p = popen("nm -D --defined-only " KZ_TARN_SO, "r");
    ASSERT_NE(p, nullptr);
    std::map<std::string, std::string> addressOf;
    char address[32], name[256];
    while (std::fscanf(p, "%31s %*s %255s", address, name) == 2) {
        addressOf[name] = address;
        exported.insert(name);
    }
    ASSERT_EQ(pclose(p), 0);
    EXPECT_EQ(exported, declared);
    EXPECT_EQ(addressOf["KZ_BT_SwitchCalls"], addressOf["KZ_BT_Hold1stCall"]);
}

const std::vector<uint8_t> kAnna = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};
const uint8_t kFound0[6] = {1, 2, 3, 4, 5, 6};
const uint8_t kFound1[6] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};

using Sent = std::vector<SubmittedMessage>;

// The local name, visibility and the three levels of the initial values.
void InitialValues(const Sent& m) {
    ASSERT_GE(m.size(), 5u);
    EXPECT_EQ(std::string(m[0].bytes.begin() + 8, m[0].bytes.begin() + 17), "Q7MX_TARN");
    EXPECT_EQ(m[1].bytes[7], 0x80);   // visible
    const uint8_t levels[3][2] = {{2, 10}, {1, 15}, {0, 15}};
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(m[2 + i].bytes[6] == levels[i][0] && m[2 + i].bytes[8] == levels[i][1]) << i;
}

void ConnectPairRetry() {
    KZ_BT_ConnectPairedDevice("2");
    KZ_BT_PairRemoteDevice("0", "1234");
    KZ_BT_PairingRetry();
}
// What the table's set-up chose is still chosen.
void Unchanged(const Sent&) {
    EXPECT_TRUE(std::string(kz::g_szPinCode) == "4706" && kz::g_CurrConnectIndex.load() == 2 && kz::g_nPairIndex.load() == -1 &&
                std::memcmp(kz::g_abCurrAddr, kAnna.data(), 6) == 0);
}

struct Row {
    const char* what;
    uint32_t before;
    void (*call)();
    std::vector<std::string> sent;   // spelled as support/connection_state.h does
    std::vector<std::string> reports;
    uint32_t after;
    void (*check)(const Sent&) = [](const Sent&) {};
};

const Row kRows[] = {
    {"Answer, Hangup", 0, [] { KZ_BT_Answer(); KZ_BT_Hangup(); }, {"answer 1", "answer 0"}, {}, 0},
    {"the call keys", 0, [] { KZ_BT_End1stCall(); KZ_BT_Hold1stCall(); KZ_BT_SwitchCalls(); KZ_BT_EndWaitingCall(); },
     {"hold 1", "hold 2", "hold 2", "hold 0"}, {}, 0},
    {"DTMF keeps the low byte", 0, [] { KZ_BT_DTMF(0x123); }, {"id 86 35"}, {}, 0},
    {"audio to the car, to the phone; the low byte decides", 0,
     [] { KZ_BT_AudioTransfer(1); KZ_BT_AudioTransfer(0); KZ_BT_AudioTransfer(0x101); }, {"id 14 1", "id 15 1", "id 14 1"}, {}, 0},
    {"DisconnectA2DP", kA2dp, [] { KZ_BT_DisconnectA2DP(); }, {"disconnect a2dp"}, {}, kA2dp},
    {"phone muted", 0, [] { KZ_BT_SetPhoneMute(1); }, {"mic volume 0"}, {}, 0},
    {"phone unmuted: full volume, then the gain again later", 0, [] { KZ_BT_SetPhoneMute(0); },
     {"mic volume 15"}, {}, 0, [](const Sent&) { EXPECT_NE(kz::g_nGainTimerID.load(), 0u); }},
    {"SetMute does nothing", 0, [] { KZ_BT_SetMute(true); KZ_BT_SetMute(false); }, {}, {}, 0},
    {"AT reset goes at once on channel zero", 0, [] { KZ_BT_ResetATCommand(); }, {"id 1 -"}, {}, 0,
     [](const Sent& m) { EXPECT_EQ(m.at(0).mode, 3u); }},
    {"Dial", 0, [] { KZ_BT_Dial(nullptr); KZ_BT_Dial("0800"); }, {"dial 0800"}, {}, 0},
    {"phone's music chosen", kHfp, [] { KZ_BT_SetAudioService(); }, {}, {}, kHfp | kMusicSource},
    {"remote key with A2DP: pressed, released", kHfp | kA2dp | kMusicSource, [] { KZ_BT_AVRCPCmd(0x44); },
     {"press 68 pressed", "press 68 released"}, {}, kHfp | kA2dp | kMusicSource},
    {"remote key without A2DP: A2DP connected", kHfp | kMusicSource, [] { KZ_BT_AVRCPCmd(0x44); },
     {"connect a2dp"}, {}, kHfp | kMusicSource},
    {"remote key without HFP", kA2dp | kMusicSource, [] { KZ_BT_AVRCPCmd(0x44); }, {}, {},
     kA2dp | kMusicSource},
    {"remote key for another source", kHfp | kA2dp, [] { KZ_BT_AVRCPCmd(0x44); }, {}, {}, kHfp | kA2dp},
    {"stored phone connected, hidden meanwhile", kPairing, [] { KZ_BT_ConnectPairedDevice("2"); },
     {"connect hfp", "hide"}, {}, kConnecting, [](const Sent&) { EXPECT_EQ(kz::g_CurrConnectIndex.load(), 2); }},
    {"inquiry result paired with its PIN", 0, [] { KZ_BT_PairRemoteDevice("1", "0000"); },
     {"connect hfp elsewhere", "hide"}, {"81/0", "66/1 01"}, kPairing | kConnecting, [](const Sent&) {
         EXPECT_TRUE(std::memcmp(kz::g_abCurrAddr, kFound1, 6) == 0 && kz::g_nPairIndex.load() == 1 &&
                     std::string(kz::g_szPinCode) == "0000");
     }},
    {"pairing tried again: connecting", 0, [] { KZ_BT_PairingRetry(); }, {"connect hfp"}, {}, kConnecting},
    // Refusals: nothing sent, nothing reported, nothing changed.
    {"connect, pair, retry while connected", kHfp, ConnectPairRetry, {}, {}, kHfp, Unchanged},
    {"connect, pair, retry while connecting", kConnecting, ConnectPairRetry, {}, {}, kConnecting, Unchanged},
    {"indexes outside the lists, not numbers, null texts", 0, [] {
         for (const char* index : {"7", "5", "-1", "abc", "", "99999999999999999999", (const char*)nullptr}) {
             KZ_BT_ConnectPairedDevice(index);
             KZ_BT_DeletePairedDevice(index);
             KZ_BT_PairRemoteDevice(index, "1234");
         }
         KZ_BT_PairRemoteDevice("2", "1234");   // two inquiry results
         KZ_BT_PairRemoteDevice("0", nullptr);
         KZ_BT_SetPinCode(nullptr);
     }, {}, {}, 0, Unchanged},
    {"audio to neither", 0, [] { KZ_BT_AudioTransfer(2); KZ_BT_AudioTransfer(-1); }, {}, {}, 0},
    {"phonebook of no known type", kPbap, [] {
         for (int type : {0, 5, -1, 0x100}) {
             KZ_BT_GetPhonBookSize(type);
             KZ_BT_GetPhonebookData(type, 10);
         }
     }, {}, {}, kPbap},
    {"disconnect: HFP and A2DP", kHfp | kA2dp, [] { KZ_BT_DisConnectPairedDevice(); },
     {"disconnect hfp", "disconnect a2dp"}, {}, kHfp | kA2dp},
    {"disconnect during a download: waits for the batch", kHfp | kA2dp | kPbStarted,
     [] { KZ_BT_DisConnectPairedDevice(); }, {}, {}, kHfp | kA2dp | kPbStarted | kDisconnectWaits},
    {"disconnect without HFP", kA2dp, [] { KZ_BT_DisConnectPairedDevice(); }, {}, {}, kA2dp},
    {"auto-answer on", 0, [] { KZ_BT_SetAutoAnswer(1); }, {}, {}, 0, [](const Sent&) { EXPECT_EQ(kz::g_bAutoAnswer.load(), 1); }},
    {"auto-answer off", 0, [] { KZ_BT_SetAutoAnswer(1); KZ_BT_SetAutoAnswer(0); }, {}, {}, 0,
     [](const Sent&) { EXPECT_EQ(kz::g_bAutoAnswer.load(), 0); }},
    {"initial values with automatic connection and a remembered phone: it is connected", 0,
     [] { kz::g_bAutoConnect = 1; KZ_BT_SetInitialValue(); },
     {"id 9 0", "show", "id 5 2", "id 5 1", "id 5 0", "connect hfp"}, {"82/0", "64/0", "83/8"},
     kAuto | kConnecting, InitialValues},
    {"initial values with an automatic connection already wanted", kAuto, [] { KZ_BT_SetInitialValue(); },
     {"id 9 0", "show", "id 5 2", "id 5 1", "id 5 0", "connect hfp"}, {"82/0", "64/0", "83/8"}, kAuto | kConnecting,
     InitialValues},
    {"inquiry mode left: visible, reported", kPairing, [] { KZ_BT_InquiryDevice(0); }, {"show"}, {"65/0"}, 0,
     [](const Sent&) { EXPECT_EQ(kz::g_bInquiryWanted.load() | kz::g_bNameFetching.load(), 0); }},
};

TEST_F(ExportsTest, Exports_Table) {
    kztest::HostWindows host;
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        kztest::ResetAllState();
        recorder.Reattach();
        root.Write("\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini",
                   "[Device2]\nid=2\nname=Anna\naddress=a1b2c3d4e5f6\nkey=" + std::string(32, 'f') + "\npb=255\n[General]\nCurrIndex=2\n");
        KZ_BT_GetPairedDevices();
        AddInquiryResult(kFound0);
        AddInquiryResult(kFound1);
        kz::g_bInquiryWanted = 1;
        kz::g_bNameFetching = 1;
        std::memcpy(kz::g_abCurrAddr, kAnna.data(), 6);
        std::strcpy(kz::g_szPinCode, "4706");
        kztest::ApplyState(row.before);
        recorder.Clear();
        host.Clear();

        row.call();

        EXPECT_EQ(kztest::SpellRequests(recorder, kAnna), row.sent);
        EXPECT_EQ(kztest::SpellReports(host), row.reports);
        EXPECT_EQ(kztest::DescribeState(kztest::ObserveState()), kztest::DescribeState(row.after));
        row.check(recorder.Messages());
    }
}

}  // namespace
