// Inquiry, pairing by PIN with key and registry written, the profile chain,
// reconnection after a restart, an unknown phone connecting on its own. (A
// failed automatic connection is the handlers' table's.)
#include <gtest/gtest.h>

#include "channel/module_ids.h"
#include "support/session.h"

namespace {

using namespace kztest;
using kzsim::Address;
using kzsim::Profile;
namespace id = kz::msgid;
using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;

constexpr size_t kProfileAt = 6, kAddressAt = 7, kVisibleScanAt = 7, kKeyLengthAt = 13, kKeyAt = 14;
constexpr Address kAlpha = {0x00, 0x11, 0x22, 0x33, 0x44, 0x01};
constexpr Address kGamma = {0x00, 0x11, 0x22, 0x33, 0x44, 0x03};

// What the last visibility request asked for.
std::string Visibility(Session& s) {
    const auto m = s.Requests(id::kSetVisibleMode);
    return m.empty() ? "none" : m.back().bytes.at(kVisibleScanAt) == 0x80 ? "visible" : "hidden";
}
// "slot name address connected" of each device reported.
std::vector<std::string> Devices(Session& s) {
    std::vector<std::string> out;
    for (const auto& n : s.Notes(KZ_NOTIFY_DEVICE_INFO)) {
        const auto d = As<DeviceInfoRecord>(n.data);
        out.push_back(std::string(d.slot) + " " + d.name + " " + std::string(d.address, 12) + " " + std::to_string(d.connected));
    }
    return out;
}
std::string Device(const std::string& name, const Address& a, int connected) {
    return "00 " + name + " " + Hex(a) + " " + std::to_string(connected);
}

TEST(ConnectionSystem, InquiryThenPairByPin_KeyAndPhoneStored_ProfilesChain_RestartReconnectsWithTheKey) {
    Session s;
    ASSERT_TRUE(s.StartEmpty());
    s.Forget();
    s.phone().setNearbyDevices({{kAlpha, "Alpha", true}, {{0x00, 0x11, 0x22, 0x33, 0x44, 0x02}, "Beta", false}, {kGamma, "Gamma", true}});
    ASSERT_TRUE(s.Run({{"inquiry", [] { KZ_BT_InquiryDevice(1); }, {Note(KZ_NOTIFY_INQUIRY, 0)}}}));
    // Beta never answers its name request: Gamma is at position 01.
    EXPECT_EQ(s.NotesAmong({KZ_NOTIFY_INQUIRY}), (Pairs{{65, 1}, {65, 1}, {65, 0}}));
    // Pairing with position 01 by PIN: the module asks for a key (none given
    // while pairing), then for the PIN; HFP to Gamma, then PBAP; no A2DP while
    // the source is not the phone's music; the connected unit hides itself.
    s.phone().setAuthentication(true, "1234");
    s.Forget();
    ASSERT_TRUE(s.Run({{"pair", [] { KZ_BT_PairRemoteDevice("1", "1234"); },
                        {Note(KZ_NOTIFY_CONNECT_COMPLETE, 0), Note(KZ_NOTIFY_PHONEBOOK_STATE, 2), Quiet()}}}));
    EXPECT_EQ(s.Notes(KZ_NOTIFY_PIN_CODE).back().Text().substr(0, 4), "1234");
    ASSERT_EQ(s.Requests(id::kLinkKeyRequest).size(), 1u);
    EXPECT_EQ(s.Requests(id::kLinkKeyRequest)[0].bytes.at(kKeyLengthAt), 0);
    const auto pin = s.Requests(id::kPinRequest);
    ASSERT_EQ(pin.size(), 1u);
    EXPECT_EQ(std::string(pin[0].bytes.begin() + kKeyAt, pin[0].bytes.begin() + kKeyAt + 4), "1234");
    EXPECT_EQ(s.ByteAt(id::kConnectProfile, kProfileAt), (std::vector<uint8_t>{1, 5}));
    EXPECT_TRUE(std::equal(kGamma.begin(), kGamma.end(), s.Requests(id::kConnectProfile).at(0).bytes.begin() + kAddressAt));
    EXPECT_TRUE(s.phone().address() == kGamma && s.phone().connected(Profile::Pbap));
    EXPECT_EQ(s.NotesAmong({KZ_NOTIFY_PAIRING, KZ_NOTIFY_DEVICE_INFO, KZ_NOTIFY_CONNECTION, KZ_NOTIFY_CONNECT_COMPLETE}),
              (Pairs{{66, 1}, {66, 2}, {64, 0}, {2, 0}, {96, 0}}));
    for (const auto& n : s.Notes(KZ_NOTIFY_PAIRING)) EXPECT_EQ(n.Text().substr(0, 2), "01");
    EXPECT_EQ(Devices(s).back(), Device("Gamma", kGamma, 1));
    EXPECT_EQ(s.CountPosts(KZ_NAVIG_HFP_CONNECTED_W, KZ_NAVIG_HFP_CONNECTED_L), 1u);
    EXPECT_EQ(Visibility(s), "hidden");

    // The key the phone made is in tarn.dat and in the registry slot.
    const auto key = s.phone().linkKey();
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(s.root().Read(kTarnDat), Hex(kGamma) + Hex(*key));
    const std::string ini = s.root().Read(kTarnIni);
    for (std::string line : std::vector<std::string>{"[Device0]", "name=Gamma", "CurrIndex=0", "address=" + Hex(kGamma), "key=" + Hex(*key)})
        EXPECT_NE(ini.find(line), std::string::npos) << line << " in " << ini;

    // The user leaves the search screen; the library restarts with the phone's
    // music as the source and reconnects with the stored key, no PIN: HFP,
    // then PBAP and A2DP, then AVRCP, whose SDP record is asked for.
    KZ_BT_InquiryDevice(0);
    ASSERT_TRUE(s.Restart());
    s.Forget();
    KZ_BT_SetAudioService();
    ASSERT_TRUE(s.Run({{"reconnect", [] { KZ_BT_SetInitialValue(); },
                        {Note(KZ_NOTIFY_CONNECT_COMPLETE, 0), Request(id::kSdpQuery), Quiet()}}}));
    const auto replies = s.Requests(id::kLinkKeyRequest);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes.at(kKeyLengthAt), 16);
    EXPECT_TRUE(std::equal(key->begin(), key->end(), replies[0].bytes.begin() + kKeyAt));
    EXPECT_TRUE(s.Requests(id::kPinRequest).empty());
    EXPECT_EQ(s.ByteAt(id::kConnectProfile, kProfileAt), (std::vector<uint8_t>{1, 5, 3, 4}));
    EXPECT_TRUE(s.phone().connected(Profile::A2dp) && s.phone().connected(Profile::Avrcp));
    // The registry's report (not connected), then the connected phone.
    EXPECT_EQ(Devices(s), (std::vector<std::string>{Device("Gamma", kGamma, 0), Device("Gamma", kGamma, 1)}));
    EXPECT_EQ(s.NotesAmong({KZ_NOTIFY_CONNECTION, KZ_NOTIFY_CONNECT_COMPLETE}), (Pairs{{2, 0}, {96, 0}}));
    EXPECT_FALSE(s.Requests(id::kPbapPull).empty()) << "the call lists are asked for again";
}

TEST(ConnectionSystem, UnknownPhoneConnectingOnItsOwn_IsNamedRegisteredAndReported_ThenDrops) {
    Session s;
    ASSERT_TRUE(s.StartEmpty());
    s.Forget();
    ASSERT_TRUE(s.Run({{"phone connects", [&] { s.phone().connectProfile(Profile::Hfp); },
                        {Note(KZ_NOTIFY_CONNECTION, KZ_CONNECTION_CONNECTED), Quiet()}}}));
    EXPECT_FALSE(s.Requests(id::kRemoteName).empty());
    EXPECT_EQ(Devices(s), std::vector<std::string>{Device(kSimPhoneName, kSimPhone, 1)});
    const std::string ini = s.root().Read(kTarnIni);
    for (std::string line : std::vector<std::string>{std::string("name=") + kSimPhoneName, "address=" + Hex(kSimPhone)})
        EXPECT_NE(ini.find(line), std::string::npos) << line << " in " << ini;
    EXPECT_EQ(s.CountPosts(KZ_NAVIG_HFP_CONNECTED_W, KZ_NAVIG_HFP_CONNECTED_L), 1u);

    // The phone drops the link: reported, registry re-sent, visible again,
    // an empty ended-call record in the status bar.
    s.Forget();
    ASSERT_TRUE(s.Run({{"phone drops", [&] { s.phone().disconnectProfile(Profile::Hfp); },
                        {Note(KZ_NOTIFY_CONNECTION, KZ_CONNECTION_DISCONNECTED), Quiet()}}}));
    EXPECT_EQ(Devices(s), std::vector<std::string>{Device(kSimPhoneName, kSimPhone, 0)});
    EXPECT_EQ(Visibility(s), "visible");
    const auto bar = s.Bar<CallInfoRecord>(KZ_INFORBAR_CALL_INFO);
    ASSERT_FALSE(bar.empty());
    EXPECT_EQ(bar.back().kind, 3u);
    EXPECT_EQ(bar.back().number[0], 0);
}

}  // namespace
