// Inquiry, naming pass and the answers to the module's security requests.
#include <cstring>

#include "channel/command_queue.h"
#include "channel/requests.h"
#include "event_test_util.h"
#include "events/inquiry.h"
#include "phonebook/download.h"

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
    Signal nameWanted{g_hNameRequestEvent};

    // The event thread's part: on the name-request event, ask for the name.
    // Returns the address asked for.
    Addr NextNameRequest() {
        EXPECT_TRUE(nameWanted.Fired());
        RequestNextName();
        auto sent = recorder.Messages();
        EXPECT_EQ(Take(), std::vector<std::string>{"name elsewhere"});
        return sent.size() == 1 ? Bytes(sent[0], 6, 6) : Addr{};
    }
    // An inquiry that found these phones, and its end.
    void Found(std::initializer_list<Addr> phones) {
        StartInquiry();
        for (const auto& a : phones) Feed(OnInquiryResult, InquiryResult(a));
        Feed(OnInquiryComplete, Msg(10, {0}));
        EXPECT_EQ(Take(), (std::vector<std::string>{"hide", "inquiry"}));
    }
};

TEST_F(InquiryTest, Inquiry_ThreePhonesSecondSilent_ReportsTwoThenEnds) {
    Found({kPhoneA, kPhoneB, kPhoneC});
    EXPECT_EQ(g_bPairMode, 1);
    EXPECT_EQ(g_bNameFetching, 1);
    EXPECT_EQ(NextNameRequest(), kPhoneA);
    Play({{OnRemoteName, RemoteName(0, "Alpha"), {"65/1:57 00 Alpha " + kPhoneAHex + " 0"}}});
    EXPECT_EQ(NextNameRequest(), kPhoneB);
    Play({{OnRemoteName, RemoteName(4, ""), {}}});   // no answer
    EXPECT_EQ(NextNameRequest(), kPhoneC);           // moved into position 1
    Play({{OnRemoteName, RemoteName(0, "Gamma"), {"65/1:57 01 Gamma " + kPhoneCHex + " 0", "65/0"}}});
    EXPECT_FALSE(nameWanted.Fired());
    EXPECT_EQ(g_bNameFetching, 0);
    uint8_t addr[6];
    ASSERT_TRUE(GetInquiryAddress(1, addr));
    EXPECT_EQ(Addr(addr, addr + 6), kPhoneC);
    EXPECT_FALSE(GetInquiryAddress(2, addr));
}

TEST_F(InquiryTest, Inquiry_NothingFoundOrModeLeft_EndsWithoutNames) {
    StartInquiry();
    Feed(OnInquiryComplete, Msg(10, {0}));
    EXPECT_EQ(Take(), (std::vector<std::string>{"hide", "inquiry", "65/0"}));
    EXPECT_EQ(g_bInquiryRunning, 0);
    EXPECT_FALSE(nameWanted.Fired());

    Found({kPhoneA});
    g_bInquiryWanted = 0;   // the user interface left the inquiry mode
    Play({{OnRemoteName, RemoteName(0, "Alpha"), {}}});
}

TEST_F(InquiryTest, NamingPass_StrayResultArrives_IsNamedToo_NamesCutTo31Bytes) {
    Found({kPhoneA});
    EXPECT_EQ(NextNameRequest(), kPhoneA);
    Feed(OnInquiryResult, InquiryResult(kPhoneB));   // late result during the pass
    Play({{OnRemoteName, RemoteName(0, std::string(40, 'N')), {"65/1:57 00 " + std::string(31, 'N') + " " + kPhoneAHex + " 0"}}});
    EXPECT_EQ(NextNameRequest(), kPhoneB);
    // The length points past the message.
    Play({{OnRemoteName, RemoteName(0, "Bob", 900), {"65/1:57 01 Bob b1b2b3b4b5b6 0", "65/0"}}});
}

TEST_F(InquiryTest, StartInquiry_WhileConnectedOrBusy_DisconnectsOrDefers) {
    const struct {
        uint32_t state;
        std::vector<std::string> sent;
        bool deferred;
    } cases[] = {
        {kHfp, {"disconnect hfp", "disconnect a2dp", "hide", "inquiry"}, false},
        {kPbStarted, {}, true},
        {kConnecting | kAuto, {}, true},
        {kConnecting, {}, false},
        {kInquiring, {"hide"}, false},   // the running inquiry serves
    };
    for (const auto& c : cases) {
        ResetState();
        ApplyState(c.state);
        StartInquiry();
        EXPECT_EQ(Take(), c.sent) << DescribeState(c.state);
        EXPECT_EQ(g_nPendingAction == kPendingInquiry, c.deferred) << DescribeState(c.state);
    }
}

// -------------------------------------------------------- security requests

// IND 59: status, the phone's address from byte 7, its new key from byte 15.
std::vector<uint8_t> PairingResult(const Addr& phone, uint8_t firstKeyByte) {
    std::vector<uint8_t> p = {0};
    p.insert(p.end(), phone.begin(), phone.end());
    Append(p, {0, 0});
    for (int i = 0; i < 16; ++i) p.push_back(uint8_t(firstKeyByte + i));
    return Msg(59, p);
}

class SecurityTest : public EventsTest {
protected:
    // The parameters of the one message sent since the last Take, which must be a reply `id`.
    Addr Reply(uint16_t id) {
        auto sent = recorder.Messages();
        Take();
        if (sent.size() != 1) return {};
        EXPECT_EQ(sent[0].id(), id);
        EXPECT_EQ(sent[0].mode, kSubmitReply);
        return Addr(sent[0].bytes.begin() + 6, sent[0].bytes.end());
    }
};

TEST_F(SecurityTest, LinkKeyRequest_RegisteredPhone_AnsweredWithStoredKeyUnlessPairing) {
    LoadRegistry(SlotSection(0, "Alpha", kPhoneAHex));
    LinkKeyEntry entry;
    std::memcpy(entry.address, kPhoneA.data(), 6);
    for (int i = 0; i < 16; ++i) entry.key[i] = uint8_t(0x10 + i);
    StoreLinkKey(entry);
    Addr withKey = kPhoneA, noKeyA = kPhoneA, noKeyB = kPhoneB;
    Append(withKey, {0, 16});
    withKey.insert(withKey.end(), entry.key, entry.key + 16);
    noKeyA.resize(24, 0);
    noKeyB.resize(24, 0);
    for (auto [phone, pairing, reply] : {std::tuple{kPhoneA, 0, withKey}, {kPhoneA, 1, noKeyA}, {kPhoneB, 0, noKeyB}}) {
        g_bPairMode = uint8_t(pairing);
        Feed(OnLinkKeyRequest, WithAddress(60, phone, {}));
        EXPECT_EQ(Reply(60), reply) << "pairing " << pairing;
    }
}

TEST_F(SecurityTest, AuthoriseRequest_ServiceAndRegistry_DecideTheAnswer) {
    std::string full;
    for (int s = 0; s < 5; ++s) full += SlotSection(s, "P", s == 0 ? kPhoneAHex : "00000000000" + std::to_string(s + 1));
    const std::string one = SlotSection(0, "A", kPhoneAHex);
    const struct {
        const char* what;
        std::string ini;
        Addr phone;
        uint8_t service, hfp, decision;
    } cases[] = {
        {"registered, HFP", one, kPhoneA, 1, 0, 1},
        {"registered, HFP already up", one, kPhoneA, 1, 1, 0},
        {"registered, service 3", one, kPhoneA, 3, 0, 0},
        {"new phone, free slot", one, kPhoneB, 1, 0, 1},
        {"new phone, all slots taken", full, kPhoneB, 1, 0, 0},
        {"registered, all slots taken", full, kPhoneA, 1, 0, 1},
    };
    for (const auto& c : cases) {
        LoadRegistry(c.ini);
        g_bHfpConnected = c.hfp;
        Feed(OnAuthoriseRequest, WithAddress(63, c.phone, {c.service}));
        Addr want = c.phone;
        Append(want, {c.service, c.decision});
        EXPECT_EQ(Reply(63), want) << c.what;
    }
}

TEST_F(SecurityTest, PinRequest_AnswersAtOnceAndRemembersThePhone) {
    std::vector<uint8_t> tail = {0, 40};
    Append(tail, std::string(40, 'x'));
    Feed(OnPinRequest, WithAddress(61, kPhoneB, tail));
    EXPECT_EQ(Reply(61).size(), 12u);
    EXPECT_EQ(g_bConnecting, 1);
    EXPECT_EQ(Addr(g_abCurrAddr, g_abCurrAddr + 6), kPhoneB);
    EXPECT_EQ(std::string(g_szCurrName), std::string(31, 'x'));
}

TEST_F(SecurityTest, PairingResult_SuccessStoresKeyFailureReportsPosition) {
    LoadRegistry(SlotSection(2, "Alpha", kPhoneAHex) + "[General]\r\nCurrIndex=2\r\n");
    Feed(OnPairingResult, PairingResult(kPhoneA, 0xE0));
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
    Play({{OnPairingResult, Msg(59, {1}), {"66/3:2 03"}}});
    EXPECT_EQ(g_bConnecting, 0);
}

TEST_F(SecurityTest, PairingResult_StaleCurrentSlotOfAnotherPhone_KeepsThatSlotsKey) {
    LoadRegistry(SlotSection(1, "Other", kPhoneCHex) + "[General]\r\nCurrIndex=1\r\n");
    Feed(OnPairingResult, PairingResult(kPhoneA, 0x55));
    PairedDeviceRecord slot;
    ASSERT_TRUE(GetSlot(1, &slot));
    EXPECT_EQ(slot.key[0], 0xFF);
    uint8_t key[16];
    EXPECT_TRUE(FindLinkKey(kPhoneA.data(), key));
}

}  // namespace
