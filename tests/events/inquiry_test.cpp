// Inquiry, naming pass and the answers to the module's security requests.
#include <cstring>

#include "channel/command_queue.h"
#include "channel/module_ids.h"
#include "channel/requests.h"
#include "events/connection.h"
#include "events/inquiry.h"
#include "event_test_util.h"
#include "core/sync_objects.h"
#include "phonebook/download.h"
#include "settings/registry.h"

using namespace kz;
using namespace kztest;

namespace {

using Addr = std::vector<uint8_t>;
const Addr kPhoneA = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
const Addr kPhoneB = {0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6};
const Addr kPhoneC = {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6};
const std::string kPhoneAHex = "a1a2a3a4a5a6";
const std::string kPhoneCHex = "c1c2c3c4c5c6";

std::vector<uint8_t> InquiryResult(const Addr& a) { return Msg(49, a); }
std::vector<uint8_t> RemoteName(uint8_t status, const std::string& name, int declared = -1) {
    uint16_t n = declared < 0 ? uint16_t(name.size()) : uint16_t(declared);
    std::vector<uint8_t> p = {status, 0, 0, 0, 0, 0, 0, uint8_t(n >> 8), uint8_t(n & 0xFF)};
    Append(p, name);
    return Msg(8, p);
}
std::vector<uint8_t> WithAddress(uint16_t id, const Addr& a, std::vector<uint8_t> tail) {
    std::vector<uint8_t> p = a;
    p.insert(p.end(), tail.begin(), tail.end());
    return Msg(id, p);
}
Addr Bytes(const SubmittedMessage& m, size_t from, size_t n) {
    return {m.bytes.begin() + from, m.bytes.begin() + from + n};
}

class InquiryTest : public EventsTest {
protected:
    void SetUp() override {
        EventsTest::SetUp();
        nameEvent_ = KzCreateEvent(0, 0);
        g_hNameRequestEvent = nameEvent_;
    }
    void TearDown() override {
        g_hNameRequestEvent = nullptr;
        KzCloseHandle(nameEvent_);
        EventsTest::TearDown();
    }
    bool NameRequested() { return KzWaitForSingleObject(nameEvent_, 0) == KZ_WAIT_OBJECT_0; }

    // The event thread's part: on each name-request event, ask for the name.
    // Returns the address asked for.
    Addr NextNameRequest() {
        EXPECT_TRUE(NameRequested());
        recorder.Clear();
        RequestNextName();
        auto sent = Sent(kz::msgid::kRemoteName);
        if (sent.size() != 1) return {};
        return Bytes(sent[0], 6, 6);
    }

    KzHandle nameEvent_ = nullptr;
};

TEST_F(InquiryTest, Inquiry_ThreePhonesSecondSilent_ReportsTwoThenEnds) {
    StartInquiry();
    EXPECT_EQ(recorder.Ids(), (std::vector<uint16_t>{11, 10}));
    EXPECT_EQ(g_bPairMode, 1);
    for (const auto& a : {kPhoneA, kPhoneB, kPhoneC}) Feed(OnInquiryResult, InquiryResult(a));
    Feed(OnInquiryComplete, Msg(10, {0}));
    EXPECT_EQ(g_bNameFetching, 1);

    EXPECT_EQ(NextNameRequest(), kPhoneA);
    Feed(OnRemoteName, RemoteName(0, "Alpha"));
    EXPECT_EQ(NextNameRequest(), kPhoneB);
    Feed(OnRemoteName, RemoteName(4, ""));           // no answer
    EXPECT_EQ(NextNameRequest(), kPhoneC);           // moved into position 1
    Feed(OnRemoteName, RemoteName(0, "Gamma"));
    EXPECT_FALSE(NameRequested());
    EXPECT_EQ(g_bNameFetching, 0);

    auto notes = host.Notifications();
    ASSERT_EQ(notes.size(), 3u);
    DeviceInfoRecord first, second;
    EXPECT_EQ(notes[0].code, 65u);
    EXPECT_EQ(notes[0].param, 1u);
    EXPECT_EQ(notes[0].len, 57u);
    std::memcpy(&first, notes[0].data.data(), sizeof first);
    std::memcpy(&second, notes[1].data.data(), sizeof second);
    EXPECT_STREQ(first.slot, "00");
    EXPECT_STREQ(first.name, "Alpha");
    EXPECT_EQ(std::string(first.address, 12), kPhoneAHex);
    EXPECT_EQ(first.connected, 0);
    EXPECT_STREQ(second.slot, "01");
    EXPECT_STREQ(second.name, "Gamma");
    EXPECT_EQ(std::string(second.address, 12), kPhoneCHex);
    EXPECT_EQ(notes[2].code, 65u);
    EXPECT_EQ(notes[2].param, 0u);

    uint8_t addr[6];
    ASSERT_TRUE(GetInquiryAddress(1, addr));
    EXPECT_EQ(Addr(addr, addr + 6), kPhoneC);
    EXPECT_FALSE(GetInquiryAddress(2, addr));
}

TEST_F(InquiryTest, Inquiry_NothingFoundOrModeLeft_EndsWithoutNames) {
    StartInquiry();
    Feed(OnInquiryComplete, Msg(10, {0}));
    auto notes = host.Notifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].param, 0u);
    EXPECT_EQ(g_bInquiryRunning, 0);
    EXPECT_FALSE(NameRequested());

    host.Clear();
    StartInquiry();
    Feed(OnInquiryResult, InquiryResult(kPhoneA));
    Feed(OnInquiryComplete, Msg(10, {0}));
    g_bInquiryWanted = 0;   // the user interface left the inquiry mode
    Feed(OnRemoteName, RemoteName(0, "Alpha"));
    EXPECT_TRUE(host.Codes().empty());
}

TEST_F(InquiryTest, NamingPass_StrayResultArrives_IsNamedToo) {
    StartInquiry();
    Feed(OnInquiryResult, InquiryResult(kPhoneA));
    Feed(OnInquiryComplete, Msg(10, {0}));
    EXPECT_EQ(NextNameRequest(), kPhoneA);
    Feed(OnInquiryResult, InquiryResult(kPhoneB));   // late result during the pass
    Feed(OnRemoteName, RemoteName(0, "Alpha"));
    EXPECT_EQ(NextNameRequest(), kPhoneB);
    Feed(OnRemoteName, RemoteName(0, "Beta"));
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{65, 65, 65}));
    EXPECT_EQ(host.Notifications()[2].param, 0u);
}

TEST_F(InquiryTest, RemoteName_LongOrLyingName_CutTo31Bytes) {
    StartInquiry();
    Feed(OnInquiryResult, InquiryResult(kPhoneA));
    Feed(OnInquiryResult, InquiryResult(kPhoneB));
    Feed(OnInquiryComplete, Msg(10, {0}));
    Feed(OnRemoteName, RemoteName(0, std::string(40, 'N')));
    Feed(OnRemoteName, RemoteName(0, "Bob", 900));    // length points past the message
    auto notes = host.Notifications();
    ASSERT_GE(notes.size(), 2u);
    DeviceInfoRecord a, b;
    std::memcpy(&a, notes[0].data.data(), sizeof a);
    std::memcpy(&b, notes[1].data.data(), sizeof b);
    EXPECT_EQ(std::string(a.name), std::string(31, 'N'));
    EXPECT_EQ(std::string(b.name), "Bob");
}

TEST_F(InquiryTest, StartInquiry_WhileConnectedOrBusy_DisconnectsOrDefers) {
    g_bHfpConnected = 1;
    StartInquiry();
    auto sent = recorder.Messages();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].id(), 13);
    EXPECT_EQ(sent[0].bytes[6], kProfileHfp);
    EXPECT_EQ(sent[1].id(), 13);
    EXPECT_EQ(sent[1].bytes[6], kProfileA2dp);
    EXPECT_EQ(sent[2].id(), 11);
    EXPECT_EQ(sent[3].id(), 10);

    ResetState();
    startDownload = 1;
    StartInquiry();
    EXPECT_TRUE(recorder.Ids().empty());
    EXPECT_EQ(g_nPendingAction, kPendingInquiry);

    ResetState();
    g_bConnecting = 1;
    g_bAutoConnecting = 1;
    StartInquiry();
    EXPECT_TRUE(recorder.Ids().empty());
    EXPECT_EQ(g_nPendingAction, kPendingInquiry);
}

// -------------------------------------------------------- security requests

TEST_F(InquiryTest, LinkKeyRequest_RegisteredPhone_AnsweredWithStoredKeyUnlessPairing) {
    LoadRegistry(SlotSection(0, "Alpha", kPhoneAHex));
    LinkKeyEntry entry;
    std::memcpy(entry.address, kPhoneA.data(), 6);
    for (int i = 0; i < 16; ++i) entry.key[i] = uint8_t(0x10 + i);
    StoreLinkKey(entry);

    Feed(OnLinkKeyRequest, WithAddress(60, kPhoneA, {}));
    auto sent = recorder.Messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].id(), 60);
    EXPECT_EQ(sent[0].mode, kSubmitReply);
    EXPECT_EQ(Bytes(sent[0], 6, 6), kPhoneA);
    EXPECT_EQ(sent[0].bytes[13], 16);
    EXPECT_EQ(Bytes(sent[0], 14, 16), Addr(entry.key, entry.key + 16));

    recorder.Clear();
    g_bPairMode = 1;
    Feed(OnLinkKeyRequest, WithAddress(60, kPhoneA, {}));
    sent = recorder.Messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Bytes(sent[0], 12, 18), Addr(18, 0));
}

TEST_F(InquiryTest, AuthoriseRequest_ServiceAndRegistry_DecideTheAnswer) {
    std::string full;
    for (int s = 0; s < 5; ++s) full += SlotSection(s, "P", s == 0 ? kPhoneAHex : "00000000000" + std::to_string(s + 1));
    struct Case {
        const char* what;
        std::string ini;
        Addr phone;
        uint8_t service;
        uint8_t decision;
    };
    const Case cases[] = {
        {"registered, HFP", SlotSection(0, "A", kPhoneAHex), kPhoneA, 1, 1},
        {"registered, service 3", SlotSection(0, "A", kPhoneAHex), kPhoneA, 3, 0},
        {"new phone, free slot", SlotSection(0, "A", kPhoneAHex), kPhoneB, 1, 1},
        {"new phone, all slots taken", full, kPhoneB, 1, 0},
        {"registered, all slots taken", full, kPhoneA, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoadRegistry(c.ini);
        Feed(OnAuthoriseRequest, WithAddress(63, c.phone, {c.service}));
        auto sent = recorder.Messages();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].id(), 63);
        EXPECT_EQ(Bytes(sent[0], 6, 6), c.phone);
        EXPECT_EQ(sent[0].bytes[12], c.service);
        EXPECT_EQ(sent[0].bytes[13], c.decision);
    }
}

TEST_F(InquiryTest, PinRequest_AnswersAtOnceAndRemembersThePhone) {
    std::vector<uint8_t> tail = {0, 40};
    Append(tail, std::string(40, 'x'));
    Feed(OnPinRequest, WithAddress(61, kPhoneB, tail));
    auto sent = recorder.Messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].id(), 61);
    EXPECT_EQ(sent[0].mode, kSubmitReply);
    EXPECT_EQ(g_bConnecting, 1);
    EXPECT_EQ(Addr(g_abCurrAddr, g_abCurrAddr + 6), kPhoneB);
    EXPECT_EQ(std::string(g_szCurrName), std::string(31, 'x'));
}

TEST_F(InquiryTest, PairingResult_SuccessStoresKeyFailureReportsPosition) {
    LoadRegistry(SlotSection(2, "Alpha", kPhoneAHex) + "[General]\r\nCurrIndex=2\r\n");
    std::vector<uint8_t> p = {0};
    p.insert(p.end(), kPhoneA.begin(), kPhoneA.end());
    Append(p, {0, 0});
    for (int i = 0; i < 16; ++i) p.push_back(uint8_t(0xE0 + i));
    Feed(OnPairingResult, Msg(59, p));

    uint8_t key[16];
    ASSERT_TRUE(FindLinkKey(kPhoneA.data(), key));
    EXPECT_EQ(key[0], 0xE0);
    EXPECT_EQ(key[15], 0xEF);
    PairedDeviceRecord slot;
    ASSERT_TRUE(GetSlot(2, &slot));
    EXPECT_EQ(slot.key[0], 0xE0);
    EXPECT_NE(root.Read(kTarnIni).find("e0e1e2e3"), std::string::npos);

    g_bPairMode = 1;
    g_nPairIndex = 3;
    SetConnecting(true);
    Feed(OnPairingResult, Msg(59, {1}));
    auto notes = host.Notifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].code, 66u);
    EXPECT_EQ(notes[0].param, 3u);
    EXPECT_EQ(notes[0].Text(), "03");
    EXPECT_EQ(g_bConnecting, 0);
}

TEST_F(InquiryTest, PairingResult_StaleCurrentSlotOfAnotherPhone_KeepsThatSlotsKey) {
    LoadRegistry(SlotSection(1, "Other", kPhoneCHex) + "[General]\r\nCurrIndex=1\r\n");
    std::vector<uint8_t> p = {0};
    p.insert(p.end(), kPhoneA.begin(), kPhoneA.end());
    Append(p, {0, 0});
    for (int i = 0; i < 16; ++i) p.push_back(0x55);
    Feed(OnPairingResult, Msg(59, p));
    PairedDeviceRecord slot;
    ASSERT_TRUE(GetSlot(1, &slot));
    EXPECT_EQ(slot.key[0], 0xFF);
    uint8_t key[16];
    EXPECT_TRUE(FindLinkKey(kPhoneA.data(), key));
}

}  // namespace
