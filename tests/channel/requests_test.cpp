// Request builders: the bytes, header templates and submission modes of every
// message the library sends to the module.
#include "channel/requests.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "channel/command_queue.h"
#include "events/connection.h"
#include "events/inquiry.h"
#include "settings/settings.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kQ = 0;   // paced through the queue
constexpr uint32_t kI = 1;   // written at once (replies)

// Resets before the members are built: the reset removes the submit tap
// that the recorder installs.
struct ResetFirst {
    ResetFirst() { kztest::ResetAllState(); }
};

class RequestsTest : public ::testing::Test, private ResetFirst {
protected:
    void SetUp() override {
        kz::ResetRequestState();
        recorder.Clear();
    }
    kztest::SubmittedMessage Only() {
        auto msgs = recorder.Messages();
        EXPECT_EQ(msgs.size(), 1u);
        return msgs.empty() ? kztest::SubmittedMessage{} : msgs[0];
    }
    kztest::SubmitRecorder recorder;
};

Bytes Header(const kztest::SubmittedMessage& m) { return Bytes(m.header, m.header + 4); }

// Header template of an n-byte module message on channel 13.
Bytes Template13(size_t n) { return {0xC0, uint8_t(((n & 0x0F) << 4) | 13), uint8_t(n >> 4), 0}; }

const uint8_t kAddr[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};

// ------------------------------------------------------------ catalogue table

struct Row {
    const char* name;
    std::function<void()> build;
    uint16_t id;
    uint8_t cls;
    size_t bytes;
    uint32_t mode;
};

TEST_F(RequestsTest, Catalogue_IdClassLengthModeAndTemplate) {
    const std::vector<Row> rows = {
        {"SET_NIBBLE_MASK", [] { kz::REQ_SET_NIBBLE_MASK(0x0FFF); }, 3, 2, 8, kQ},
        {"SET_MIC_GAIN", [] { kz::REQ_SET_MIC_GAIN(9); }, 4, 2, 8, kQ},
        {"SET_LEVEL", [] { kz::REQ_SET_LEVEL(2, 10); }, 5, 1, 10, kQ},
        {"SET_OPTION_6", [] { kz::REQ_SET_OPTION_6(1); }, 6, 1, 8, kQ},
        {"REMOTE_NAME", [] { kz::REQ_REMOTE_NAME(kAddr); }, 8, 2, 12, kQ},
        {"SET_LOCAL_NAME", [] { kz::REQ_SET_LOCAL_NAME("Q7MX_TARN"); }, 9, 2, 18, kQ},
        {"INQUIRY", [] { kz::REQ_INQUIRY(); }, 10, 2, 12, kQ},
        {"SET_VISIBLE_MODE", [] { kz::REQ_SET_VISIBLE_MODE(true); }, 11, 2, 14, kQ},
        {"CONNECT_PROFILE", [] { kz::REQ_CONNECT_PROFILE(1); }, 12, 1, 16, kQ},
        {"DISCONNECT_PROFILE", [] { kz::REQ_DISCONNECT_PROFILE(3); }, 13, 1, 8, kQ},
        {"AUDIO_TO_HANDSFREE", [] { kz::REQ_AUDIO_TO_HANDSFREE(); }, 14, 1, 8, kQ},
        {"AUDIO_TO_PHONE", [] { kz::REQ_AUDIO_TO_PHONE(); }, 15, 1, 8, kQ},
        {"ENTER_DUT_MODE", [] { kz::REQ_ENTER_DUT_MODE(); }, 20, 2, 6, kQ},
        {"SET_MIC_VOLUME", [] { kz::REQ_SET_MIC_VOLUME(15); }, 23, 2, 8, kQ},
        {"SET_OPTION_26", [] { kz::REQ_SET_OPTION_26(1); }, 26, 1, 8, kQ},
        {"SDP_QUERY", [] { kz::REQ_SDP_QUERY(); }, 30, 2, 12, kQ},
        {"SET_MIC_MODE", [] { kz::REQ_SET_MIC_MODE(0); }, 33, 1, 8, kQ},
        {"LINK_KEY_REPLY", [] { kz::REQ_LINK_KEY_REPLY(kAddr, nullptr); }, 60, 2, 30, kI},
        {"PIN_CODE_REPLY", [] { kz::REQ_PIN_CODE_REPLY(kAddr); }, 61, 2, 18, kI},
        {"AUTHORISE_REPLY", [] { kz::REQ_AUTHORISE_REPLY(kAddr, 1, true); }, 63, 2, 14, kI},
        {"ANSWER", [] { kz::REQ_ANSWER(1); }, 80, 1, 8, kQ},
        {"DIAL", [] { kz::REQ_DIAL("123"); }, 82, 2, 12, kQ},
        {"DTMF", [] { kz::REQ_DTMF('5'); }, 86, 1, 8, kQ},
        {"CURRENT_CALLS", [] { kz::REQ_CURRENT_CALLS(); }, 88, 2, 6, kQ},
        {"CALL_HOLD", [] { kz::REQ_CALL_HOLD(2); }, 90, 1, 10, kQ},
        {"REPLY_160", [] { kz::REQ_REPLY_160(); }, 160, 1, 8, kQ},
        {"REPLY_161", [] { kz::REQ_REPLY_161(); }, 161, 1, 8, kQ},
        {"MEDIA_OPEN", [] { kz::REQ_MEDIA_OPEN(); }, 258, 2, 6, kQ},
        {"AVRCP_PASS_THROUGH", [] { kz::REQ_AVRCP_PASS_THROUGH(0x44, 0); }, 288, 1, 14, kQ},
        {"AVRCP_REGISTER_PLAY", [] { kz::REQ_AVRCP_REGISTER_PLAY_STATUS(); }, 289, 2, 24, kQ},
        {"AVRCP_REGISTER_TRACK", [] { kz::REQ_AVRCP_REGISTER_TRACK_CHANGE(); }, 289, 2, 24, kQ},
        {"AVRCP_GET_ATTRIBUTES", [] { kz::REQ_AVRCP_GET_ELEMENT_ATTRIBUTES(); }, 289, 2, 40, kQ},
        {"REPLY_291", [] { kz::REQ_REPLY_291(); }, 291, 2, 8, kQ},
        {"PBAP_PULL", [] { kz::REQ_PBAP_PULL(1, 3, 0); }, 512, 2, 20, kQ},
        {"PBAP_CONTINUE", [] { kz::REQ_PBAP_CONTINUE(true); }, 529, 1, 8, kI},
        {"RES", [] { kz::SendRes(0x74); }, 0x74, 2, 6, kI},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        recorder.Clear();
        row.build();
        auto m = Only();
        ASSERT_EQ(m.bytes.size(), row.bytes);
        EXPECT_EQ(m.bytes[0] | (m.bytes[1] << 8), row.bytes / 2);
        EXPECT_EQ(m.bytes[2], 0x55);
        EXPECT_EQ(m.bytes[3], row.cls);
        EXPECT_EQ(m.id(), row.id);
        EXPECT_EQ(m.mode, row.mode);
        EXPECT_EQ(Header(m), Template13(row.bytes));
    }
}

// ------------------------------------------------------------ exact bytes

TEST_F(RequestsTest, ResetAtCommand_GoesOnChannelZeroWithModeThree) {
    kz::REQ_RESET_AT_COMMAND();
    auto m = Only();
    EXPECT_EQ(m.bytes, (Bytes{0x03, 0x00, 0x55, 0x02, 0x01, 0x00}));
    EXPECT_EQ(Header(m), (Bytes{0xC0, 0x60, 0x00, 0x00}));
    EXPECT_EQ(m.mode, 3u);
}

TEST_F(RequestsTest, SendRes_CarriesTheIndicationId) {
    kz::SendRes(0x0074);
    auto m = Only();
    EXPECT_EQ(m.bytes, (Bytes{0x03, 0x00, 0x55, 0x02, 0x74, 0x00}));
    EXPECT_EQ(Header(m), (Bytes{0xC0, 0x6D, 0x00, 0x00}));
    EXPECT_EQ(m.mode, 1u);
}

TEST_F(RequestsTest, PbapPull_LaysOutTypeFilterCountAndStart) {
    kz::REQ_PBAP_PULL(4, 3, 18);
    EXPECT_EQ(Only().bytes, (Bytes{0x0A, 0x00, 0x55, 0x02, 0x00, 0x02, 0x00, 0x04, 0x00, 0x00,
                                   0x00, 0x87, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x12}));
}

TEST_F(RequestsTest, NibbleMaskAndMicVolume_AreBigEndian) {
    kz::REQ_SET_NIBBLE_MASK(0x0FFF);
    kz::REQ_SET_MIC_VOLUME(0x000F);
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(Bytes(msgs[0].bytes.begin() + 6, msgs[0].bytes.end()), (Bytes{0x0F, 0xFF}));
    EXPECT_EQ(Bytes(msgs[1].bytes.begin() + 6, msgs[1].bytes.end()), (Bytes{0x00, 0x0F}));
    EXPECT_EQ(kz::g_nMicVolume.load(), 15);
}

TEST_F(RequestsTest, MicGain_CarriesLowByteAndIsRemembered) {
    kz::REQ_SET_MIC_GAIN(0x0112);
    auto m = Only();
    EXPECT_EQ(m.bytes[6], 0x80);
    EXPECT_EQ(m.bytes[7], 0x12);
    EXPECT_EQ(kz::g_nMicGain.load(), 0x0112);
}

TEST_F(RequestsTest, MicMode_FlagsTheInternalMicrophone) {
    kz::REQ_SET_MIC_MODE(0);
    kz::REQ_SET_MIC_MODE(1);
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].bytes[6], 1);
    EXPECT_EQ(msgs[1].bytes[6], 0);
}

TEST_F(RequestsTest, VisibleMode_ScanWordsOrZeros) {
    kz::REQ_SET_VISIBLE_MODE(true);
    kz::REQ_SET_VISIBLE_MODE(false);
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(Bytes(msgs[0].bytes.begin() + 6, msgs[0].bytes.end()),
              (Bytes{0x00, 0x80, 0x00, 0x20, 0x00, 0x80, 0x00, 0x20}));
    EXPECT_EQ(Bytes(msgs[1].bytes.begin() + 6, msgs[1].bytes.end()), Bytes(8, 0));
}

TEST_F(RequestsTest, Inquiry_CarriesLengthAndResponseLimit) {
    kz::REQ_INQUIRY();
    EXPECT_EQ(Only().bytes, (Bytes{0x06, 0x00, 0x55, 0x02, 0x0A, 0x00, 0, 0, 0, 0, 0x10, 0x0A}));
}

TEST_F(RequestsTest, ConnectProfile_TargetsCurrentAddressAndPbapClearsDoneFlag) {
    std::memcpy(kz::g_abCurrAddr, kAddr, 6);
    kz::g_bPbapConnectDone = 1;
    kz::REQ_CONNECT_PROFILE(1);
    EXPECT_EQ(kz::g_bPbapConnectDone.load(), 1);
    kz::REQ_CONNECT_PROFILE(5);
    EXPECT_EQ(kz::g_bPbapConnectDone.load(), 0);
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[1].bytes, (Bytes{0x08, 0x00, 0x55, 0x01, 0x0C, 0x00, 0x05, 0x11, 0x22, 0x33,
                                    0x44, 0x55, 0x66, 0x40, 0x00, 0x00}));
}

TEST_F(RequestsTest, SdpQuery_CarriesCurrentAddress) {
    std::memcpy(kz::g_abCurrAddr, kAddr, 6);
    kz::REQ_SDP_QUERY();
    auto m = Only();
    EXPECT_EQ(Bytes(m.bytes.begin() + 6, m.bytes.end()), Bytes(kAddr, kAddr + 6));
}

TEST_F(RequestsTest, AvrcpPassThrough_PanelStateAndOperation) {
    kz::REQ_AVRCP_PASS_THROUGH(0x44, 1);
    EXPECT_EQ(Only().bytes, (Bytes{0x07, 0x00, 0x55, 0x01, 0x20, 0x01, 0x09, 0x00, 0x00, 0x01,
                                   0x44, 0x00, 0x00, 0x00}));
}

TEST_F(RequestsTest, AvrcpVendor_ThreePdusExactly) {
    kz::REQ_AVRCP_REGISTER_PLAY_STATUS();
    kz::REQ_AVRCP_REGISTER_TRACK_CHANGE();
    kz::REQ_AVRCP_GET_ELEMENT_ATTRIBUTES();
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 3u);
    const Bytes head = {0x09, 0x00, 0x00};
    const Bytes company = {0x00, 0x19, 0x58, 0x00};
    auto expect = [&](uint8_t words, uint8_t ctype, const Bytes& pdu, bool pad) {
        Bytes b = {words, 0x00, 0x55, 0x02, 0x21, 0x01};
        b.insert(b.end(), head.begin(), head.end());
        b.push_back(ctype);
        b.insert(b.end(), company.begin(), company.end());
        b.push_back(uint8_t(pdu.size()));
        b.insert(b.end(), pdu.begin(), pdu.end());
        if (pad) b.push_back(0);
        return b;
    };
    EXPECT_EQ(msgs[0].bytes, expect(12, 3, {0x31, 0, 0, 5, 1, 0, 0, 0, 0}, false));
    EXPECT_EQ(msgs[1].bytes, expect(12, 3, {0x31, 0, 0, 5, 2, 0, 0, 0, 0}, false));
    EXPECT_EQ(msgs[2].bytes, expect(20, 1,
                                    {0x20, 0, 0, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 3,
                                     0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3},
                                    false));
}

TEST_F(RequestsTest, AvrcpVendor_OddPduIsPaddedAndOversizedRefused) {
    const uint8_t pdu[250] = {0x31};
    kz::REQ_AVRCP_VENDOR(3, pdu, 8);      // 15 + 8 = 23 -> 24
    kz::REQ_AVRCP_VENDOR(3, pdu, 241);    // 15 + 241 = 256: beyond the message limit
    kz::REQ_AVRCP_VENDOR(3, nullptr, 4);
    auto m = Only();
    EXPECT_EQ(m.bytes.size(), 24u);
    EXPECT_EQ(m.bytes[14], 8);
    EXPECT_EQ(m.bytes.back(), 0);
}

// ------------------------------------------------------------ local name

TEST_F(RequestsTest, LocalName_OddNameCarriesItsZeroAsPad) {
    kz::REQ_SET_LOCAL_NAME("Q7MX_TARN");
    auto m = Only();
    ASSERT_EQ(m.bytes.size(), 18u);
    EXPECT_EQ(m.bytes[0], 9);
    EXPECT_EQ(m.bytes[6], 0);
    EXPECT_EQ(m.bytes[7], 10);
    EXPECT_EQ(std::string(m.bytes.begin() + 8, m.bytes.begin() + 17), "Q7MX_TARN");
    EXPECT_EQ(m.bytes[17], 0);
}

TEST_F(RequestsTest, LocalName_EvenEmptyLongAndNull) {
    kz::REQ_SET_LOCAL_NAME("CARS");
    kz::REQ_SET_LOCAL_NAME("");
    kz::REQ_SET_LOCAL_NAME(std::string(100, 'x').c_str());
    kz::REQ_SET_LOCAL_NAME(nullptr);
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0].bytes.size(), 12u);
    EXPECT_EQ(msgs[0].bytes[7], 4);
    EXPECT_EQ(msgs[1].bytes.size(), 8u);
    EXPECT_EQ(msgs[1].bytes[7], 0);
    // Cut to 63 bytes, padded with its zero to 64.
    ASSERT_EQ(msgs[2].bytes.size(), 72u);
    EXPECT_EQ(msgs[2].bytes[7], 64);
    EXPECT_EQ(msgs[2].bytes[70], 'x');
    EXPECT_EQ(msgs[2].bytes[71], 0);
}

TEST_F(RequestsTest, LocalName_CutDoesNotSplitACharacter) {
    std::string name(62, 'a');
    name += "\xC3\xA9";   // a two-byte character across the 63-byte limit
    kz::REQ_SET_LOCAL_NAME(name.c_str());
    auto m = Only();
    EXPECT_EQ(m.bytes[7], 62);
    EXPECT_EQ(m.bytes.size(), 70u);
}

// ------------------------------------------------------------------ dial

TEST_F(RequestsTest, Dial_ThreeDigitsIsAlreadyEven) {
    EXPECT_TRUE(kz::REQ_DIAL("112"));
    auto m = Only();
    EXPECT_EQ(m.bytes, (Bytes{0x06, 0x00, 0x55, 0x02, 0x52, 0x00, 0x01, 0x00, 0x03, '1', '1', '2'}));
    EXPECT_EQ(Header(m), (Bytes{0xC0, 0xCD, 0x00, 0x00}));
    EXPECT_STREQ(kz::g_CallSetupNum, "112");
}

TEST_F(RequestsTest, Dial_SixDigitsGetsAZeroPad) {
    EXPECT_TRUE(kz::REQ_DIAL("654321"));
    auto m = Only();
    ASSERT_EQ(m.bytes.size(), 16u);
    EXPECT_EQ(m.bytes[0], 8);
    EXPECT_EQ(m.bytes[8], 6);
    EXPECT_EQ(std::string(m.bytes.begin() + 9, m.bytes.begin() + 15), "654321");
    EXPECT_EQ(m.bytes[15], 0);
}

TEST_F(RequestsTest, Dial_LongestNumberFitsAndLongerOrNullIsRefused) {
    const std::string longest(55, '9');
    EXPECT_TRUE(kz::REQ_DIAL(longest.c_str()));
    EXPECT_EQ(std::string(kz::g_CallSetupNum), longest);
    EXPECT_FALSE(kz::REQ_DIAL(std::string(56, '8').c_str()));
    EXPECT_FALSE(kz::REQ_DIAL(std::string(300, '7').c_str()));
    EXPECT_FALSE(kz::REQ_DIAL(nullptr));
    auto m = Only();
    EXPECT_EQ(m.bytes.size(), 64u);
    EXPECT_EQ(std::string(kz::g_CallSetupNum), longest);   // refusals leave it alone
}

// ------------------------------------------------------------ replies

TEST_F(RequestsTest, LinkKeyReply_KeyOrRejection) {
    uint8_t key[16];
    for (int i = 0; i < 16; ++i) key[i] = uint8_t(0xA0 + i);
    kz::REQ_LINK_KEY_REPLY(kAddr, key);
    kz::REQ_LINK_KEY_REPLY(kAddr, nullptr);
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    Bytes withKey = {0x0F, 0x00, 0x55, 0x02, 0x3C, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x00, 16};
    withKey.insert(withKey.end(), key, key + 16);
    EXPECT_EQ(msgs[0].bytes, withKey);
    EXPECT_EQ(Bytes(msgs[1].bytes.begin() + 6, msgs[1].bytes.begin() + 12), Bytes(kAddr, kAddr + 6));
    EXPECT_EQ(Bytes(msgs[1].bytes.begin() + 12, msgs[1].bytes.end()), Bytes(18, 0));
}

TEST_F(RequestsTest, PinCodeReply_CarriesTheCurrentPin) {
    std::strcpy(kz::g_szPinCode, "4706");
    kz::REQ_PIN_CODE_REPLY(kAddr);
    EXPECT_EQ(Only().bytes, (Bytes{0x09, 0x00, 0x55, 0x02, 0x3D, 0x00, 0x11, 0x22, 0x33, 0x44,
                                   0x55, 0x66, 0x00, 0x04, '4', '7', '0', '6'}));
}

TEST_F(RequestsTest, AuthoriseReply_ServiceAndVerdict) {
    kz::REQ_AUTHORISE_REPLY(kAddr, 5, false);
    auto m = Only();
    EXPECT_EQ(m.bytes[12], 5);
    EXPECT_EQ(m.bytes[13], 0);
}

TEST_F(RequestsTest, PbapContinue_AcceptOrReject) {
    kz::REQ_PBAP_CONTINUE(true);
    kz::REQ_PBAP_CONTINUE(false);
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].bytes[6], 1);
    EXPECT_EQ(msgs[1].bytes[6], 0);
}

}  // namespace
