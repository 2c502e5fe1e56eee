// Finding, pairing and connecting phones, as the user interface and the
// module see it: inquiry with the naming pass, pairing by PIN with the key
// and the registry written to disk, the profile chain, a restart of the
// library that reconnects on its own, and an automatic connection that fails.
#include <gtest/gtest.h>

#include <cstring>

#include "channel/module_ids.h"
#include "scenario.h"

namespace {

using namespace kztest;
using kzsim::Address;
using kzsim::Profile;


constexpr size_t kConnectProfileAt = 6;
constexpr size_t kConnectAddressAt = 7;
constexpr size_t kVisibleScanAt = 7;       // 0x80 when visible, 0 when hidden
constexpr size_t kReplyKeyLengthAt = 13;
constexpr size_t kReplyKeyAt = 14;
constexpr size_t kReplyPinAt = 14;

constexpr Address kAlpha = {0x00, 0x11, 0x22, 0x33, 0x44, 0x01};
constexpr Address kBeta = {0x00, 0x11, 0x22, 0x33, 0x44, 0x02};
constexpr Address kGamma = {0x00, 0x11, 0x22, 0x33, 0x44, 0x03};

const std::vector<kzsim::RemoteDevice> kNearby = {
    {kAlpha, "Alpha", true},
    {kBeta, "Beta", false},   // does not answer its name request
    {kGamma, "Gamma", true},
};

DeviceInfoRecord Info(const Notification& n) {
    DeviceInfoRecord r{};
    if (n.data.size() == sizeof r) std::memcpy(&r, n.data.data(), sizeof r);
    return r;
}

std::vector<uint8_t> Profiles(const std::vector<kzsim::ReceivedMessage>& connects) {
    std::vector<uint8_t> out;
    for (auto& m : connects) out.push_back(m.bytes.at(kConnectProfileAt));
    return out;
}

bool Visible(const kzsim::ReceivedMessage& m) { return m.bytes.at(kVisibleScanAt) == 0x80; }

// The three phones nearby, the inquiry run to its end.
void RunInquiry(Scenario& s) {
    s.phone().setNearbyDevices(kNearby);
    KZ_BT_InquiryDevice(1);
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_INQUIRY, 0));
}

TEST(ConnectionSystem, Inquiry_NamedPhonesAreReportedAndTheSilentOneDropsOut) {
    Scenario s;
    ASSERT_TRUE(s.Start());
    s.sim().ClearReceived();
    ASSERT_NO_FATAL_FAILURE(RunInquiry(s));

    // Hidden first, then the inquiry, then one name request per phone found.
    const auto visible = s.Requests(kz::msgid::kSetVisibleMode);
    ASSERT_FALSE(visible.empty());
    EXPECT_FALSE(Visible(visible.front()));
    ASSERT_EQ(s.Requests(kz::msgid::kInquiry).size(), 1u);
    const auto names = s.Requests(kz::msgid::kRemoteName);
    ASSERT_EQ(names.size(), 3u);
    const Address asked[] = {kAlpha, kBeta, kGamma};
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(std::equal(asked[i].begin(), asked[i].end(), names[i].bytes.begin() + 6)) << i;

    // 65/1 for positions 00 and 01 (Gamma moved up), then 65/0, nothing else.
    EXPECT_EQ(s.NotesAmong({KZ_NOTIFY_INQUIRY}),
              (std::vector<std::pair<uint32_t, uint32_t>>{{65, 1}, {65, 1}, {65, 0}}));
    const auto found = s.Notes(KZ_NOTIFY_INQUIRY);
    const DeviceInfoRecord first = Info(found[0]), second = Info(found[1]);
    EXPECT_STREQ(first.slot, "00");
    EXPECT_STREQ(first.name, "Alpha");
    EXPECT_EQ(std::string(first.address, 12), HexAddress(kAlpha));
    EXPECT_EQ(first.connected, 0);
    EXPECT_STREQ(second.slot, "01");
    EXPECT_STREQ(second.name, "Gamma");
    EXPECT_EQ(std::string(second.address, 12), HexAddress(kGamma));
}

TEST(ConnectionSystem, PairByPin_KeyAndPhoneStored_ProfilesChain_RestartReconnectsWithTheKey) {
    Scenario s;
    ASSERT_TRUE(s.Start());
    KZ_BT_SetInitialValue();   // empty registry: nothing to connect to
    ASSERT_TRUE(s.WaitQuiet());
    ASSERT_NO_FATAL_FAILURE(RunInquiry(s));
    s.phone().setAuthentication(true, "1234");
    s.sim().ClearReceived();
    s.host().Clear();

    // ---- pairing with the phone at position 01 (Gamma) by PIN
    KZ_BT_PairRemoteDevice("1", "1234");
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CONNECT_COMPLETE, 0));
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_PHONEBOOK_STATE, 2));   // empty call lists fetched
    ASSERT_TRUE(s.WaitQuiet());

    const auto pins = s.Notes(KZ_NOTIFY_PIN_CODE);
    ASSERT_FALSE(pins.empty());
    EXPECT_EQ(pins.back().Text().substr(0, 4), "1234");
    // The module asked for a key (none given while pairing), then for the PIN.
    const auto keyReplies = s.Requests(kz::msgid::kLinkKeyRequest);
    ASSERT_EQ(keyReplies.size(), 1u);
    EXPECT_EQ(keyReplies[0].bytes.at(kReplyKeyLengthAt), 0);
    const auto pinReplies = s.Requests(kz::msgid::kPinRequest);
    ASSERT_EQ(pinReplies.size(), 1u);
    EXPECT_EQ(std::string(pinReplies[0].bytes.begin() + kReplyPinAt,
                          pinReplies[0].bytes.begin() + kReplyPinAt + 4),
              "1234");
    // HFP to Gamma, then PBAP; no A2DP while the source is not the phone's music.
    const auto connects = s.Requests(kz::msgid::kConnectProfile);
    EXPECT_EQ(Profiles(connects), (std::vector<uint8_t>{1, 5}));
    EXPECT_TRUE(std::equal(kGamma.begin(), kGamma.end(),
                           connects.at(0).bytes.begin() + kConnectAddressAt));
    EXPECT_EQ(s.phone().address(), kGamma);
    EXPECT_TRUE(s.phone().connected(Profile::Pbap));

    EXPECT_EQ(s.NotesAmong({KZ_NOTIFY_PAIRING, KZ_NOTIFY_DEVICE_INFO, KZ_NOTIFY_CONNECTION,
                            KZ_NOTIFY_CONNECT_COMPLETE}),
              (std::vector<std::pair<uint32_t, uint32_t>>{{66, 1}, {66, 2}, {64, 0}, {2, 0}, {96, 0}}));
    for (const auto& n : s.Notes(KZ_NOTIFY_PAIRING)) EXPECT_EQ(n.Text().substr(0, 2), "01");
    const DeviceInfoRecord dev = Info(s.Notes(KZ_NOTIFY_DEVICE_INFO).back());
    EXPECT_STREQ(dev.slot, "00");
    EXPECT_STREQ(dev.name, "Gamma");
    EXPECT_EQ(std::string(dev.address, 12), HexAddress(kGamma));
    EXPECT_EQ(dev.connected, 1);
    EXPECT_EQ(s.CountPosts(KZ_NAVIG_HFP_CONNECTED_W, KZ_NAVIG_HFP_CONNECTED_L), 1u);
    const auto visible = s.Requests(kz::msgid::kSetVisibleMode);
    ASSERT_FALSE(visible.empty()) << s.Dump();
    EXPECT_FALSE(Visible(visible.back())) << "a connected unit hides itself";

    // The key the phone made is in tarn.dat and in the registry slot.
    const auto key = s.phone().linkKey();
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(s.root().Read("\\BACKUP\\KZ_TARN\\tarn.dat"), HexAddress(kGamma) + HexKey(*key));
    const std::string ini = s.root().Read("\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini");
    EXPECT_NE(ini.find("[Device0]"), std::string::npos) << ini;
    EXPECT_NE(ini.find("name=Gamma"), std::string::npos) << ini;
    EXPECT_NE(ini.find("address=" + HexAddress(kGamma)), std::string::npos) << ini;
    EXPECT_NE(ini.find("key=" + HexKey(*key)), std::string::npos) << ini;
    EXPECT_NE(ini.find("CurrIndex=0"), std::string::npos) << ini;

    // ---- the user leaves the search screen, then the library restarts with
    // the phone's music as the source
    KZ_BT_InquiryDevice(0);
    ASSERT_TRUE(s.Restart());
    s.sim().ClearReceived();
    s.host().Clear();
    KZ_BT_SetAudioService();
    KZ_BT_SetInitialValue();
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CONNECT_COMPLETE, 0));
    ASSERT_TRUE(s.WaitRequest(kz::msgid::kSdpQuery));
    ASSERT_TRUE(s.WaitQuiet());

    // Reconnected with the stored key: no PIN this time.
    const auto replies = s.Requests(kz::msgid::kLinkKeyRequest);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes.at(kReplyKeyLengthAt), 16);
    EXPECT_TRUE(std::equal(key->begin(), key->end(), replies[0].bytes.begin() + kReplyKeyAt));
    EXPECT_TRUE(s.Requests(kz::msgid::kPinRequest).empty());
    // HFP first, then PBAP and A2DP, then AVRCP; its SDP record is asked for.
    EXPECT_EQ(Profiles(s.Requests(kz::msgid::kConnectProfile)), (std::vector<uint8_t>{1, 5, 3, 4}));
    EXPECT_TRUE(s.phone().connected(Profile::A2dp));
    EXPECT_TRUE(s.phone().connected(Profile::Avrcp));
    // The registry's report (not connected), then the connected phone.
    const auto devices = s.Notes(KZ_NOTIFY_DEVICE_INFO);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(Info(devices[0]).connected, 0);
    EXPECT_STREQ(Info(devices[0]).name, "Gamma");
    EXPECT_EQ(Info(devices[1]).connected, 1);
    EXPECT_EQ(s.NotesAmong({KZ_NOTIFY_CONNECTION, KZ_NOTIFY_CONNECT_COMPLETE}),
              (std::vector<std::pair<uint32_t, uint32_t>>{{2, 0}, {96, 0}}));
    EXPECT_FALSE(s.Requests(kz::msgid::kPbapPull).empty()) << "the call lists are asked for again";
}

TEST(ConnectionSystem, AutoConnectFailingThreeTimes_ReportsEachThenGivesUpAndTurnsVisible) {
    Scenario s;
    s.StorePhone({});
    s.phone().setConnectStatus(Profile::Hfp, 0x04);   // the phone is out of reach
    ASSERT_TRUE(s.Start());
    s.sim().ClearReceived();
    KZ_BT_SetInitialValue();
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CONNECTION, KZ_CONNECTION_FAILED));
    ASSERT_TRUE(s.WaitQuiet());

    EXPECT_EQ(s.NotesAmong({KZ_NOTIFY_CONNECTION}),
              (std::vector<std::pair<uint32_t, uint32_t>>{{2, 3}, {2, 3}, {2, 3}, {2, 1}}));
    const auto connects = s.Requests(kz::msgid::kConnectProfile);
    EXPECT_EQ(Profiles(connects), (std::vector<uint8_t>{1, 1, 1}));
    for (const auto& c : connects)
        EXPECT_TRUE(std::equal(kSimPhone.begin(), kSimPhone.end(), c.bytes.begin() + kConnectAddressAt));
    // After the last attempt the unit can be found again.
    const auto ids = s.RequestIds();
    const auto lastConnect = std::find(ids.rbegin(), ids.rend(), kz::msgid::kConnectProfile);
    const auto lastVisible = std::find(ids.rbegin(), ids.rend(), kz::msgid::kSetVisibleMode);
    ASSERT_NE(lastVisible, ids.rend());
    EXPECT_LT(lastVisible - ids.rbegin(), lastConnect - ids.rbegin()) << "visible after the last connect";
    EXPECT_TRUE(Visible(s.Requests(kz::msgid::kSetVisibleMode).back()));
    EXPECT_EQ(s.Count(KZ_NOTIFY_CONNECT_COMPLETE, 0), 0u);
}

TEST(ConnectionSystem, UnknownPhoneConnectingOnItsOwn_IsNamedRegisteredAndReported) {
    Scenario s;
    ASSERT_TRUE(s.Start());
    KZ_BT_SetInitialValue();
    ASSERT_TRUE(s.WaitQuiet());
    s.sim().ClearReceived();
    s.host().Clear();

    s.phone().connectProfile(Profile::Hfp);
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CONNECTION, KZ_CONNECTION_CONNECTED));
    ASSERT_TRUE(s.WaitQuiet());

    // Its name was asked before it was reported.
    const auto ids = s.RequestIds();
    ASSERT_NE(std::find(ids.begin(), ids.end(), kz::msgid::kRemoteName), ids.end());
    const auto devices = s.Notes(KZ_NOTIFY_DEVICE_INFO);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_STREQ(Info(devices[0]).name, kSimPhoneName);
    EXPECT_EQ(Info(devices[0]).connected, 1);
    const std::string ini = s.root().Read("\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini");
    EXPECT_NE(ini.find(std::string("name=") + kSimPhoneName), std::string::npos) << ini;
    EXPECT_NE(ini.find("address=" + HexAddress(kSimPhone)), std::string::npos) << ini;
    EXPECT_EQ(s.CountPosts(KZ_NAVIG_HFP_CONNECTED_W, KZ_NAVIG_HFP_CONNECTED_L), 1u);

    // The phone drops the link: reported, registry re-sent, visible again.
    s.host().Clear();
    s.sim().ClearReceived();
    s.phone().disconnectProfile(Profile::Hfp);
    ASSERT_TRUE(s.WaitNote(KZ_NOTIFY_CONNECTION, KZ_CONNECTION_DISCONNECTED));
    ASSERT_TRUE(s.WaitQuiet());
    EXPECT_EQ(s.Notes(KZ_NOTIFY_DEVICE_INFO).size(), 1u);
    EXPECT_EQ(Info(s.Notes(KZ_NOTIFY_DEVICE_INFO)[0]).connected, 0);
    const auto visible = s.Requests(kz::msgid::kSetVisibleMode);
    ASSERT_FALSE(visible.empty());
    EXPECT_TRUE(Visible(visible.back()));
    const auto bar = s.host().Inforbar();
    ASSERT_FALSE(bar.empty());
    CallInfoRecord rec{};
    ASSERT_EQ(bar.back().bytes.size(), sizeof rec);
    std::memcpy(&rec, bar.back().bytes.data(), sizeof rec);
    EXPECT_EQ(rec.kind, 3u);
    EXPECT_EQ(rec.number[0], 0);
}

}  // namespace
