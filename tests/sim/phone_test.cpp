// The phone model's answers and indications, driven directly.
#include "phone.h"

#include <gtest/gtest.h>

#include "module_simulator.h"

namespace kzsim {
namespace {

using Bytes = std::vector<uint8_t>;

struct Sent {
    bool confirm;
    uint16_t id;
    Bytes params;   // from byte 6: the status first for a CFM
    bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Sent& s) {
    os << (s.confirm ? "CFM " : "IND ") << s.id << ":";
    for (uint8_t b : s.params) os << ' ' << int(b);
    return os;
}

class FakeOutbox : public Outbox {
public:
    void Indication(uint16_t id, const Bytes& params) override { sent.push_back({false, id, params}); }
    void Confirm(uint16_t id, uint8_t status, const Bytes& extra) override {
        Bytes p{status};
        p.insert(p.end(), extra.begin(), extra.end());
        sent.push_back({true, id, p});
    }
    std::vector<Sent> Take() { return std::exchange(sent, {}); }
    std::vector<Sent> sent;
};

Sent Ind(uint16_t id, Bytes p) { return {false, id, std::move(p)}; }
Sent Cfm(uint16_t id, Bytes p) { return {true, id, std::move(p)}; }

const Address kPhone{0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};

Bytes WithAddress(Bytes head, const Address& a, Bytes tail = {}) {
    head.insert(head.end(), a.begin(), a.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class PhoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        phone_.SetOutbox(&out_);
        phone_.Reset();
    }
    void Request(uint16_t id, uint8_t cls, Bytes params) {
        ASSERT_TRUE(phone_.OnRequest(id, BuildModuleMessage(id, cls, params)));
    }
    void Connect(Profile p) {
        Request(12, 1, WithAddress({static_cast<uint8_t>(p)}, kPhone, {0x40}));
    }
    void ConnectAll() {
        for (Profile p : {Profile::Hfp, Profile::A2dp, Profile::Avrcp, Profile::Pbap}) Connect(p);
        out_.Take();
    }
    Phone phone_;
    FakeOutbox out_;
};

TEST_F(PhoneTest, Connect_ConfirmsProfileAndReportsIndicators) {
    phone_.setSignal(3);
    phone_.setBattery(2);
    Connect(Profile::Hfp);
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{
        Cfm(12, WithAddress({0}, kPhone, {1})),
        Ind(113, {0, 1}), Ind(113, {4, 3}), Ind(113, {6, 2})}));
    EXPECT_TRUE(phone_.connected(Profile::Hfp));

    Request(13, 1, {1, 0});
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(13, {0, 1})}));
    EXPECT_FALSE(phone_.connected(Profile::Hfp));
}

TEST_F(PhoneTest, Connect_FailsForUnknownAddressOrScriptedStatus) {
    const Address other{1, 2, 3, 4, 5, 6};
    Request(12, 1, WithAddress({1}, other, {0x40}));
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(12, WithAddress({4}, other, {1}))}));
    phone_.setConnectStatus(Profile::A2dp, 0x0B);
    Connect(Profile::A2dp);
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(12, WithAddress({0x0B}, kPhone, {3}))}));
    EXPECT_FALSE(phone_.connected(Profile::A2dp));
}

TEST_F(PhoneTest, Connect_PhoneInitiatedAndDropped) {
    phone_.connectProfile(Profile::A2dp);
    phone_.disconnectProfile(Profile::A2dp, 10);
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(50, WithAddress({0}, kPhone, {3})),
                                              Ind(51, {10, 3})}));
}

TEST_F(PhoneTest, Pairing_PinThenStoredKey) {
    phone_.setName("Anna");
    phone_.setAuthentication(true, "4706");
    Connect(Profile::Hfp);
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(60, WithAddress({}, kPhone))}));
    // The host has no key: sixteen 0xFF bytes.
    Request(60, 2, WithAddress({}, kPhone, [] { Bytes b{0, 16}; b.resize(18, 0xFF); return b; }()));
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(61, WithAddress({}, kPhone, {0, 4, 'A', 'n', 'n', 'a'}))}));
    Request(61, 2, WithAddress({}, kPhone, {0, 4, '4', '7', '0', '6'}));
    auto sent = out_.Take();
    ASSERT_GE(sent.size(), 2u);
    const auto key = phone_.linkKey();
    ASSERT_TRUE(key.has_value());
    Bytes result = WithAddress({0}, kPhone, {0, 16});
    result.insert(result.end(), key->begin(), key->end());
    EXPECT_EQ(sent[0], Ind(59, result));
    EXPECT_EQ(sent[1], Cfm(12, WithAddress({0}, kPhone, {1})));

    // Next time the stored key is enough.
    Request(13, 1, {1, 0});
    out_.Take();
    Connect(Profile::Hfp);
    out_.Take();
    Bytes reply = WithAddress({}, kPhone, {0, 16});
    reply.insert(reply.end(), key->begin(), key->end());
    Request(60, 2, reply);
    EXPECT_EQ(out_.Take().front(), Cfm(12, WithAddress({0}, kPhone, {1})));
}

TEST_F(PhoneTest, Pairing_WrongPinFails) {
    phone_.setAuthentication(true, "1234");
    Connect(Profile::Hfp);
    Request(60, 2, WithAddress({}, kPhone, Bytes(18, 0)));   // rejected: no key
    out_.Take();
    Request(61, 2, WithAddress({}, kPhone, {0, 4, '0', '0', '0', '0'}));
    const auto sent = out_.Take();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].id, 59);
    EXPECT_NE(sent[0].params[0], 0);
    EXPECT_EQ(sent[1], Cfm(12, WithAddress({5}, kPhone, {1})));
    EXPECT_FALSE(phone_.connected(Profile::Hfp));
}

TEST_F(PhoneTest, Inquiry_ReportsDevicesThenNames) {
    const Address a{1, 1, 1, 1, 1, 1}, b{2, 2, 2, 2, 2, 2}, c{3, 3, 3, 3, 3, 3};
    phone_.setNearbyDevices({{a, "One", true}, {b, "Two", false}, {c, "Three", true}});
    Request(10, 2, {0, 0, 0, 0, 0x10, 0x0A});
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(49, WithAddress({}, a)), Ind(49, WithAddress({}, b)),
                                              Ind(49, WithAddress({}, c)), Cfm(10, {0})}));
    Request(8, 2, WithAddress({}, a));
    Request(8, 2, WithAddress({}, b));
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(8, WithAddress({0}, a, {0, 3, 'O', 'n', 'e'})),
                                              Cfm(8, WithAddress({4}, b))}));
}

TEST_F(PhoneTest, Calls_IncomingAnsweredAndEnded) {
    ConnectAll();
    phone_.ring("+4912345");
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(113, {2, 1})}));
    Request(88, 2, {});   // the host's call-list query
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{
        Cfm(88, {1}), Ind(115, {0, 8, '+', '4', '9', '1', '2', '3', '4', '5'})}));
    Request(80, 1, {1, 0});
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(80, {0}), Ind(113, {1, 1}), Ind(113, {2, 0}),
                                              Ind(52, {0})}));
    EXPECT_TRUE(phone_.callActive());
    phone_.hangup();
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(53, {0}), Ind(113, {1, 0})}));
    Request(88, 2, {});
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(88, {0})}));
}

TEST_F(PhoneTest, Calls_RejectedIncomingEndsSetupOnly) {
    ConnectAll();
    phone_.ring("555");
    Request(80, 1, {0, 0});
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(113, {2, 1}), Cfm(80, {0}), Ind(113, {2, 0})}));
}

TEST_F(PhoneTest, Calls_DialledByHost) {
    Request(82, 2, {1, 0, 3, '1', '2', '3'});
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(82, {0x0C})}));   // no HFP yet
    ConnectAll();
    Request(82, 2, {1, 0, 6, '1', '2', '3', '4', '5', '6', 0});
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(82, {0}), Ind(113, {2, 2}), Ind(113, {2, 3})}));
    EXPECT_EQ(phone_.dialledNumber(), "123456");
    phone_.remoteAnswer();
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(113, {1, 1}), Ind(113, {2, 0}), Ind(52, {0})}));
}

TEST_F(PhoneTest, Calls_WaitingCallSwappedAndReleased) {
    ConnectAll();
    phone_.ring("111");
    phone_.answer();
    out_.Take();
    phone_.waitingCall("222");
    Request(88, 2, {});
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(113, {2, 1}), Cfm(88, {1}),
                                              Ind(121, {0, 1, 0, 0, 0, 0, 0, 0, 3, '1', '1', '1'}),
                                              Ind(116, {0, 3, '2', '2', '2'})}));
    Request(90, 1, {2, 0, 0, 0});   // hold the active call, take the waiting one
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(90, {0}), Ind(113, {2, 0}), Ind(113, {3, 1})}));
    Request(88, 2, {});   // the active call, then the held one
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{
        Cfm(88, {1}), Ind(121, {0, 1, 0, 0, 0, 0, 0, 0, 3, '2', '2', '2'}),
        Ind(121, {0, 2, 0, 1, 0, 0, 0, 0, 3, '1', '1', '1'})}));
    Request(90, 1, {0, 0, 0, 0});   // release the held call
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(90, {0}), Ind(113, {3, 0})}));
    EXPECT_TRUE(phone_.callActive());
}

TEST_F(PhoneTest, Music_SdpReportsAvrcpVersion) {
    ConnectAll();
    for (uint16_t version : {uint16_t{0x0100}, uint16_t{0x0104}}) {
        phone_.setAvrcpVersion(version);
        Request(30, 2, WithAddress({}, kPhone));
        EXPECT_EQ(out_.Take(), (std::vector<Sent>{
            Cfm(30, {0}), Ind(62, {4, uint8_t(version >> 8), uint8_t(version & 0xFF)})}));
    }
}

// Reassembles the data of IND 308s (each after its IND 310 header).
Bytes DependData(const std::vector<Sent>& sent, uint8_t* type) {
    Bytes pdu;
    for (const Sent& s : sent) {
        if (s.id == 310) *type = s.params[0];
        if (s.id == 308) {
            EXPECT_EQ(s.params[1] + 2u, s.params.size());
            pdu.insert(pdu.end(), s.params.begin() + 2, s.params.end());
        }
    }
    return pdu;
}

TEST_F(PhoneTest, Music_NotificationsAndElementAttributes) {
    ConnectAll();
    phone_.setTrack({"T", "Ar", "Alb"});
    phone_.setAttributeFragment(10);
    const Bytes registerStatus{9, 0, 0, 3, 0, 0x19, 0x58, 0, 9, 0x31, 0, 0, 5, 1, 0, 0, 0, 0};
    Request(289, 2, registerStatus);
    uint8_t type = 0;
    auto sent = out_.Take();
    EXPECT_EQ(sent.front(), Cfm(289, {0}));
    EXPECT_EQ(DependData(sent, &type), (Bytes{0x31, 0, 0, 2, 1, 2}));   // interim: paused
    EXPECT_EQ(type, 15);

    const Bytes getAttributes{9, 0, 0, 1, 0, 0x19, 0x58, 0, 25, 0x20, 0, 0, 0x15, 0, 0, 0, 0, 0, 0, 0, 0,
                              3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3};
    Request(289, 2, getAttributes);
    sent = out_.Take();
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const Sent& s) { return s.id == 308; }), 4);
    EXPECT_EQ(DependData(sent, &type),
              (Bytes{0x20, 0, 0, 31, 3, 0, 0, 0, 1, 0, 0x6A, 0, 1, 'T', 0, 0, 0, 2, 0, 0x6A, 0, 2, 'A',
                     'r', 0, 0, 0, 3, 0, 0x6A, 0, 3, 'A', 'l', 'b'}));
    EXPECT_EQ(type, 12);

    // Playing: stream start, then the one-shot notification.
    phone_.play();
    sent = out_.Take();
    EXPECT_EQ(sent.front(), Ind(273, {0}));
    EXPECT_EQ(DependData(sent, &type), (Bytes{0x31, 0, 0, 2, 1, 1}));
    EXPECT_EQ(type, 13);
    phone_.pause();
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(274, {0})}));   // not registered again
}

TEST_F(PhoneTest, Music_Avrcp10RefusesVendorCommands) {
    ConnectAll();
    phone_.setAvrcpVersion(0x0100);
    Request(289, 2, {9, 0, 0, 3, 0, 0x19, 0x58, 0, 9, 0x31, 0, 0, 5, 1, 0, 0, 0, 0});
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(289, {8})}));
    Request(288, 1, {9, 0, 0, 1, 0x44, 0, 0, 0});   // PLAY released
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(288, {0}), Ind(273, {0})}));
}

Bytes PullRequest(uint16_t type, uint16_t count, uint16_t start) {
    return {0, uint8_t(type), 0, 0, 0, 0x87, 0, 0, 0, 0, uint8_t(count >> 8), uint8_t(count),
            uint8_t(start >> 8), uint8_t(start)};
}

TEST_F(PhoneTest, Phonebook_SizeThenChunkedVCardsPacedByTheHost) {
    std::vector<Contact> contacts;
    for (int i = 0; i < 5; ++i) {
        contacts.push_back({"", "Family" + std::to_string(i), "Given", {{"CELL", "+49 170 " + std::to_string(i)}}});
    }
    phone_.setContacts(contacts);
    phone_.setVCardStyle({false, false, false, 37});
    Request(512, 2, PullRequest(1, 0, 0));
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(512, {0x0C, 0, 0})}));   // PBAP not connected
    ConnectAll();
    Request(512, 2, PullRequest(1, 0, 0));
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(512, {0, 0, 5}), Ind(528, {0})}));

    Request(512, 2, PullRequest(1, 3, 1));
    std::string text;
    auto sent = out_.Take();
    EXPECT_EQ(sent.front(), Cfm(512, {0, 0, 5}));
    for (int guard = 0; guard < 100; ++guard) {
        ASSERT_EQ(sent.back().id, 529);
        const Bytes& p = sent.back().params;
        ASSERT_EQ(size_t((p[0] << 8) | p[1]) + 2, p.size());
        EXPECT_LE(p.size() - 2, 37u);
        text.append(p.begin() + 2, p.end());
        Request(529, 1, {1, 0});   // the host accepts
        sent = out_.Take();
        if (sent.back().id == 528) break;
    }
    EXPECT_EQ(text, phone_.vCardText(ListType::Phonebook, 1, 3));
    EXPECT_NE(text.find("N:Family1;Given;;;\r\n"), std::string::npos);
    EXPECT_NE(text.find("N:Family3;Given;;;\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Family4"), std::string::npos);
}

TEST_F(PhoneTest, Phonebook_RejectEndsTransferAndShrinkingList) {
    ConnectAll();
    phone_.setCallList(ListType::Missed, {{"A", "1", "20091231T235959"}, {"B", "2", ""}, {"C", "3", ""}});
    phone_.setVCardStyle({false, false, false, 20});
    Request(512, 2, PullRequest(4, 3, 0));
    out_.Take();
    Request(529, 1, {0, 0});   // rejected
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(528, {0})}));

    phone_.shrinkAfterSize(ListType::Missed, 2);
    Request(512, 2, PullRequest(4, 0, 0));
    EXPECT_EQ(out_.Take().front(), Cfm(512, {0, 0, 3}));
    Request(512, 2, PullRequest(4, 3, 0));
    EXPECT_EQ(out_.Take().front(), Cfm(512, {0, 0, 1}));
    Request(512, 2, PullRequest(4, 3, 1));   // past the end: no data
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Cfm(512, {0, 0, 1}), Ind(528, {0})}));
}

}  // namespace
}  // namespace kzsim
