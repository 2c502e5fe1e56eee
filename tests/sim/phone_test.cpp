// The phone model's refusals, driven directly: what no scenario of the
// library's makes it do (scripted failures, AVRCP 1.0, a shrinking list and
// the rest of its behaviour are proven by the system scenarios).
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

TEST_F(PhoneTest, Calls_RejectedIncomingEndsSetupOnly) {
    ConnectAll();
    phone_.ring("555");
    Request(80, 1, {0, 0});
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(113, {2, 1}), Cfm(80, {0}), Ind(113, {2, 0})}));
}

Bytes PullRequest(uint16_t type, uint16_t count, uint16_t start) {
    return {0, uint8_t(type), 0, 0, 0, 0x87, 0, 0, 0, 0, uint8_t(count >> 8), uint8_t(count),
            uint8_t(start >> 8), uint8_t(start)};
}

TEST_F(PhoneTest, Phonebook_RejectEndsTransfer) {
    ConnectAll();
    phone_.setCallList(ListType::Missed, {{"A", "1", "20091231T235959"}, {"B", "2", ""}, {"C", "3", ""}});
    phone_.setVCardStyle({false, false, false, 20});
    Request(512, 2, PullRequest(4, 3, 0));
    out_.Take();
    Request(529, 1, {0, 0});   // rejected
    EXPECT_EQ(out_.Take(), (std::vector<Sent>{Ind(528, {0})}));
}

}  // namespace
}  // namespace kzsim
