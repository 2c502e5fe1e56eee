// The phone model's refusals, driven directly: what no scenario of the
// library's makes it do (the rest of its behaviour the system scenarios use).
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

class PhoneTest : public ::testing::Test, public Outbox {
protected:
    void SetUp() override {
        phone_.SetOutbox(this);
        phone_.Reset();
    }
    void Indication(uint16_t id, const Bytes& params) override { sent_.push_back({false, id, params}); }
    void Confirm(uint16_t id, uint8_t status, const Bytes& extra) override {
        Bytes p{status};
        p.insert(p.end(), extra.begin(), extra.end());
        sent_.push_back({true, id, p});
    }
    std::vector<Sent> Take() { return std::exchange(sent_, {}); }
    void Request(uint16_t id, uint8_t cls, Bytes params) {
        ASSERT_TRUE(phone_.OnRequest(id, BuildModuleMessage(id, cls, params)));
    }
    void Connect(Profile p) { Request(12, 1, WithPhone({static_cast<uint8_t>(p)}, {0x40})); }
    void ConnectAll() {
        for (Profile p : {Profile::Hfp, Profile::A2dp, Profile::Avrcp, Profile::Pbap}) Connect(p);
        Take();
    }
    static Bytes WithPhone(Bytes head, Bytes tail = {}) {
        head.insert(head.end(), {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13});
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    }
    Phone phone_;
    std::vector<Sent> sent_;
};

TEST_F(PhoneTest, Pairing_WrongPinFails) {
    phone_.setAuthentication(true, "1234");
    Connect(Profile::Hfp);
    Request(60, 2, WithPhone({}, Bytes(18, 0)));   // rejected: no key
    Take();
    Request(61, 2, WithPhone({}, {0, 4, '0', '0', '0', '0'}));
    Bytes noKey = WithPhone({5}, {0, 16});
    noKey.resize(noKey.size() + 16);
    EXPECT_EQ(Take(), (std::vector<Sent>{{false, 59, noKey}, {true, 12, WithPhone({5}, {1})}}));
    EXPECT_FALSE(phone_.connected(Profile::Hfp));
}

TEST_F(PhoneTest, Calls_RejectedIncomingEndsSetupOnly) {
    ConnectAll();
    phone_.ring("555");
    Request(80, 1, {0, 0});
    EXPECT_EQ(Take(), (std::vector<Sent>{{false, 113, {2, 1}}, {true, 80, {0}}, {false, 113, {2, 0}}}));
}

TEST_F(PhoneTest, Phonebook_RejectEndsTransfer) {
    ConnectAll();
    phone_.setCallList(ListType::Missed, {{"A", "1", "20091231T235959"}, {"B", "2", ""}, {"C", "3", ""}});
    phone_.setVCardStyle({false, false, false, 20});
    Request(512, 2, {0, 4, 0, 0, 0, 0x87, 0, 0, 0, 0, 0, 3, 0, 0});   // pull 3 missed calls from 0
    Take();
    Request(529, 1, {0, 0});   // rejected
    EXPECT_EQ(Take(), (std::vector<Sent>{{false, 528, {0}}}));
}

}  // namespace
}  // namespace kzsim
