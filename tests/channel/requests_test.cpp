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

// Parameters from byte 6, as the module reads them.
TEST_F(RequestsTest, Parameters_ExactBytes) {
    std::memcpy(kz::g_abCurrAddr, kAddr, 6);
    std::strcpy(kz::g_szPinCode, "4706");
    uint8_t key[16];
    for (int i = 0; i < 16; ++i) key[i] = uint8_t(0xA0 + i);
    const Bytes addr(kAddr, kAddr + 6);
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const Bytes company = {0x00, 0x19, 0x58, 0x00};
    const struct {
        const char* name;
        std::function<void()> build;
        Bytes params;
    } rows[] = {
        {"nibble mask, big-endian", [] { kz::REQ_SET_NIBBLE_MASK(0x0FFF); }, {0x0F, 0xFF}},
        {"mic volume, big-endian", [] { kz::REQ_SET_MIC_VOLUME(0x000F); }, {0x00, 0x0F}},
        {"mic gain: low byte, flagged", [] { kz::REQ_SET_MIC_GAIN(0x0112); }, {0x80, 0x12}},
        {"mic mode 0: internal microphone", [] { kz::REQ_SET_MIC_MODE(0); }, {1, 0}},
        {"mic mode 1", [] { kz::REQ_SET_MIC_MODE(1); }, {0, 0}},
        {"visible: scan words", [] { kz::REQ_SET_VISIBLE_MODE(true); }, {0, 0x80, 0, 0x20, 0, 0x80, 0, 0x20}},
        {"hidden: zeros", [] { kz::REQ_SET_VISIBLE_MODE(false); }, Bytes(8, 0)},
        {"inquiry: length and response limit", [] { kz::REQ_INQUIRY(); }, {0, 0, 0, 0, 0x10, 0x0A}},
        {"connect PBAP to the current phone", [] { kz::REQ_CONNECT_PROFILE(5); }, cat({{5}, addr, {0x40, 0, 0}})},
        {"SDP query to the current phone", [] { kz::REQ_SDP_QUERY(); }, addr},
        {"pass-through PLAY released", [] { kz::REQ_AVRCP_PASS_THROUGH(0x44, 1); }, {9, 0, 0, 1, 0x44, 0, 0, 0}},
        {"register play status", [] { kz::REQ_AVRCP_REGISTER_PLAY_STATUS(); },
         cat({{9, 0, 0, 3}, company, {9, 0x31, 0, 0, 5, 1, 0, 0, 0, 0}})},
        {"register track change", [] { kz::REQ_AVRCP_REGISTER_TRACK_CHANGE(); },
         cat({{9, 0, 0, 3}, company, {9, 0x31, 0, 0, 5, 2, 0, 0, 0, 0}})},
        {"get element attributes", [] { kz::REQ_AVRCP_GET_ELEMENT_ATTRIBUTES(); },
         cat({{9, 0, 0, 1}, company,
              {25, 0x20, 0, 0, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}})},
        {"odd local name carries its zero as pad", [] { kz::REQ_SET_LOCAL_NAME("Q7MX_TARN"); },
         {0, 10, 'Q', '7', 'M', 'X', '_', 'T', 'A', 'R', 'N', 0}},
        {"even local name", [] { kz::REQ_SET_LOCAL_NAME("CARS"); }, {0, 4, 'C', 'A', 'R', 'S'}},
        {"empty local name", [] { kz::REQ_SET_LOCAL_NAME(""); }, {0, 0}},
        {"local name cut before a split character", [] { kz::REQ_SET_LOCAL_NAME((std::string(62, 'a') + "\xC3\xA9").c_str()); },
         cat({{0, 62}, Bytes(62, 'a')})},
        {"long local name cut to 63 and its zero", [] { kz::REQ_SET_LOCAL_NAME(std::string(100, 'x').c_str()); },
         cat({{0, 64}, Bytes(63, 'x'), {0}})},
        {"three digits need no pad", [] { kz::REQ_DIAL("112"); }, {1, 0, 3, '1', '1', '2'}},
        {"six digits get a zero pad", [] { kz::REQ_DIAL("654321"); }, {1, 0, 6, '6', '5', '4', '3', '2', '1', 0}},
        {"link key", [&] { kz::REQ_LINK_KEY_REPLY(kAddr, key); }, cat({addr, {0, 16}, Bytes(key, key + 16)})},
        {"link key rejected", [] { kz::REQ_LINK_KEY_REPLY(kAddr, nullptr); }, cat({addr, Bytes(18, 0)})},
        {"PIN", [] { kz::REQ_PIN_CODE_REPLY(kAddr); }, cat({addr, {0, 4, '4', '7', '0', '6'}})},
        {"authorise refused", [] { kz::REQ_AUTHORISE_REPLY(kAddr, 5, false); }, cat({addr, {5, 0}})},
        {"phonebook pull", [] { kz::REQ_PBAP_PULL(4, 3, 18); }, {0, 4, 0, 0, 0, 0x87, 0, 0, 0, 0, 0, 3, 0, 0x12}},
        {"phonebook accepted", [] { kz::REQ_PBAP_CONTINUE(true); }, {1, 0}},
        {"phonebook rejected", [] { kz::REQ_PBAP_CONTINUE(false); }, {0, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        recorder.Clear();
        row.build();
        auto m = Only();
        ASSERT_GE(m.bytes.size(), 6u);
        EXPECT_EQ(Bytes(m.bytes.begin() + 6, m.bytes.end()), row.params);
        EXPECT_EQ(m.bytes[0] | (m.bytes[1] << 8), m.bytes.size() / 2);
    }
}

TEST_F(RequestsTest, RememberedValues_MicGainVolumeDialledNumberAndPbapDone) {
    kz::REQ_SET_MIC_GAIN(0x0112);
    kz::REQ_SET_MIC_VOLUME(15);
    EXPECT_EQ(kz::g_nMicGain.load(), 0x0112);
    EXPECT_EQ(kz::g_nMicVolume.load(), 15);
    kz::g_bPbapConnectDone = 1;
    kz::REQ_CONNECT_PROFILE(1);
    EXPECT_EQ(kz::g_bPbapConnectDone.load(), 1);
    kz::REQ_CONNECT_PROFILE(5);
    EXPECT_EQ(kz::g_bPbapConnectDone.load(), 0);
    EXPECT_TRUE(kz::REQ_DIAL("112"));
    EXPECT_STREQ(kz::g_CallSetupNum, "112");
}

TEST_F(RequestsTest, Refusals_NameNullVendorOversizedDialTooLong) {
    kz::REQ_SET_LOCAL_NAME(nullptr);
    const uint8_t pdu[250] = {0x31};
    kz::REQ_AVRCP_VENDOR(3, pdu, 241);    // 15 + 241 = 256: beyond the message limit
    kz::REQ_AVRCP_VENDOR(3, nullptr, 4);
    const std::string longest(55, '9');
    EXPECT_TRUE(kz::REQ_DIAL(longest.c_str()));
    EXPECT_FALSE(kz::REQ_DIAL(std::string(56, '8').c_str()));
    EXPECT_FALSE(kz::REQ_DIAL(std::string(300, '7').c_str()));
    EXPECT_FALSE(kz::REQ_DIAL(nullptr));
    EXPECT_EQ(std::string(kz::g_CallSetupNum), longest);   // refusals leave it alone
    kz::REQ_AVRCP_VENDOR(3, pdu, 8);      // 15 + 8 = 23, padded to 24
    auto msgs = recorder.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].bytes.size(), 64u);
    EXPECT_EQ(msgs[1].bytes.size(), 24u);
    EXPECT_EQ(msgs[1].bytes[14], 8);
    EXPECT_EQ(msgs[1].bytes.back(), 0);
}

}  // namespace
