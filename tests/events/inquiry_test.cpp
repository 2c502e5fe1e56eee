// Inquiry, naming pass and the answers to the module's security requests.
#include <cstring>

#include "channel/command_queue.h"
#include "channel/requests.h"
#include "event_test_util.h"
#include "events/inquiry.h"
#include "phonebook/download.h"
#include "settings/settings.h"

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
Addr Cat(std::initializer_list<Addr> parts) {
    Addr out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
std::vector<uint8_t> WithAddress(uint16_t id, const Addr& a, const Addr& tail) { return Msg(id, Cat({a, tail})); }

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
        return sent.size() == 1 ? Addr(sent[0].bytes.begin() + 6, sent[0].bytes.begin() + 12) : Addr{};
    }
    // An inquiry that found these phones, and its end.
    void Found(std::initializer_list<Addr> phones) {
        StartInquiry();
        for (const auto& a : phones) Feed(OnInquiryResult, InquiryResult(a));
        Feed(OnInquiryComplete, Msg(10, {0}));
        EXPECT_EQ(Take(), (std::vector<std::string>{"hide", "inquiry"}));
    }
};

TEST_F(InquiryTest, Inquiry_ThreePhonesSecondSilent_ReportsTwoThenEnds_NamesCutTo31Bytes) {
    Found({kPhoneA, kPhoneB});
    EXPECT_EQ(g_bPairMode, 1);
    EXPECT_EQ(g_bNameFetching, 1);
    EXPECT_EQ(NextNameRequest(), kPhoneA);
    Feed(OnInquiryResult, InquiryResult(kPhoneC));   // a late result is named too
    Play({{OnRemoteName, RemoteName(0, std::string(40, 'N')), {"65/1:57 00 " + std::string(31, 'N') + " " + kPhoneAHex + " 0"}}});
    EXPECT_EQ(NextNameRequest(), kPhoneB);
    Play({{OnRemoteName, RemoteName(4, ""), {}}});   // no answer
    EXPECT_EQ(NextNameRequest(), kPhoneC);           // moved into position 1
    // The length points past the message.
    Play({{OnRemoteName, RemoteName(0, "Gamma", 900), {"65/1:57 01 Gamma " + kPhoneCHex + " 0", "65/0"}}});
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
    EXPECT_EQ(g_bNameFetching, 0);
    EXPECT_FALSE(nameWanted.Fired());

    StartInquiry();
    Feed(OnInquiryResult, InquiryResult(kPhoneA));
    g_bInquiryWanted = 0;   // the user interface left the inquiry mode
    Feed(OnInquiryComplete, Msg(10, {0}));
    EXPECT_EQ(Take(), (std::vector<std::string>{"hide", "inquiry"}));
    EXPECT_EQ(g_bNameFetching, 0);
    EXPECT_FALSE(nameWanted.Fired());
    Play({{OnRemoteName, RemoteName(0, "Alpha"), {}}});
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
    Addr p = Cat({{0}, phone, {0, 0}});
    for (int i = 0; i < 16; ++i) p.push_back(uint8_t(firstKeyByte + i));
    return Msg(59, p);
}

class SecurityTest : public EventsTest {};

// Each request is answered at once by a reply: the key a registered phone has
// (none while pairing), authorisation of HFP for a registered phone or one
// with a slot to take while HFP is down, and the PIN.
TEST_F(SecurityTest, Requests_AnsweredByTheirReplies) {
    std::string full;
    for (int s = 0; s < 5; ++s) full += SlotSection(s, "P", s == 0 ? kPhoneAHex : "00000000000" + std::to_string(s + 1));
    const std::string one = SlotSection(0, "A", kPhoneAHex);
    const Addr key = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};
    std::strcpy(g_szPinCode, "4706");
    const struct {
        const char* what;
        std::string ini;
        uint32_t state;
        uint16_t id;
        Addr phone, tail, reply;
    } cases[] = {
        {"key of a registered phone", one, 0, 60, kPhoneA, {}, Cat({kPhoneA, {0, 16}, key})},
        {"no key while pairing", one, kPairing, 60, kPhoneA, {}, Cat({kPhoneA, Addr(18, 0)})},
        {"no key for a stranger", one, 0, 60, kPhoneB, {}, Cat({kPhoneB, Addr(18, 0)})},
        {"registered, HFP", one, 0, 63, kPhoneA, {1}, Cat({kPhoneA, {1, 1}})},
        {"registered, HFP already up", one, kHfp, 63, kPhoneA, {1}, Cat({kPhoneA, {1, 0}})},
        {"registered, service 3", one, 0, 63, kPhoneA, {3}, Cat({kPhoneA, {3, 0}})},
        {"new phone, free slot", one, 0, 63, kPhoneB, {1}, Cat({kPhoneB, {1, 1}})},
        {"new phone, all slots taken", full, 0, 63, kPhoneB, {1}, Cat({kPhoneB, {1, 0}})},
        {"registered, all slots taken", full, 0, 63, kPhoneA, {1}, Cat({kPhoneA, {1, 1}})},
        {"PIN: the phone is remembered as connecting", one, 0, 61, kPhoneB, Cat({{0, 40}, Addr(40, 'x')}),
         Cat({kPhoneB, {0, 4, '4', '7', '0', '6'}})},
    };
    for (const auto& c : cases) {
        LoadRegistry(c.ini);
        LinkKeyEntry entry;
        std::memcpy(entry.address, kPhoneA.data(), 6);
        std::copy(key.begin(), key.end(), entry.key);
        StoreLinkKey(entry);
        ApplyState(c.state);
        const Handler handler = c.id == 60 ? OnLinkKeyRequest : c.id == 61 ? OnPinRequest : OnAuthoriseRequest;
        Feed(handler, WithAddress(c.id, c.phone, c.tail));
        auto sent = recorder.Messages();
        Take();
        ASSERT_EQ(sent.size(), 1u) << c.what;
        EXPECT_EQ(sent[0].id(), c.id) << c.what;
        EXPECT_EQ(sent[0].mode, kSubmitReply) << c.what;
        EXPECT_EQ(Addr(sent[0].bytes.begin() + 6, sent[0].bytes.end()), c.reply) << c.what;
    }
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
