// Request builders: the bytes, header templates and submission modes of every
// message the library sends to the module.
#include "channel/requests.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>

#include "channel/command_queue.h"
#include "events/connection.h"
#include "events/inquiry.h"
#include "settings/settings.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kQ = kz::kSubmitQueued, kI = kz::kSubmitReply;   // paced, or written at once
const uint8_t kAddr[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};

class RequestsTest : public ::testing::Test {
protected:
    void SetUp() override {
        kztest::ResetAllState();   // before the recorder: the reset removes its tap
        recorder.emplace();
    }
    kztest::SubmittedMessage Only() {
        auto msgs = recorder->Messages();
        recorder->Clear();
        EXPECT_EQ(msgs.size(), 1u);
        return msgs.empty() ? kztest::SubmittedMessage{} : msgs[0];
    }
    std::optional<kztest::SubmitRecorder> recorder;
};

Bytes Header(const kztest::SubmittedMessage& m) { return Bytes(m.header, m.header + 4); }
// Header template of an n-byte module message on channel 13.
Bytes Template13(size_t n) { return {0xC0, uint8_t(((n & 0x0F) << 4) | 13), uint8_t(n >> 4), 0}; }
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(RequestsTest, ResetAtCommand_GoesOnChannelZeroWithModeThree) {
    kz::REQ_RESET_AT_COMMAND();
    auto m = Only();
    EXPECT_EQ(m.bytes, (Bytes{0x03, 0x00, 0x55, 0x02, 0x01, 0x00}));
    EXPECT_EQ(Header(m), (Bytes{0xC0, 0x60, 0x00, 0x00}));
    EXPECT_EQ(m.mode, 3u);
}

// Every request: its head (length in words, 0x55, class, id), the parameters
// from byte 6 as the module reads them, the submission mode and the header template.
TEST_F(RequestsTest, EveryRequest_HeadParametersModeAndTemplate) {
    std::memcpy(kz::g_abCurrAddr, kAddr, 6);
    std::strcpy(kz::g_szPinCode, "4706");
    uint8_t key[16];
    for (int i = 0; i < 16; ++i) key[i] = uint8_t(0xA0 + i);
    const Bytes addr(kAddr, kAddr + 6), company = {0x00, 0x19, 0x58, 0x00};
    const struct {
        const char* name;
        std::function<void()> build;
        uint16_t id;
        uint8_t cls;
        uint32_t mode;
        Bytes params;
    } rows[] = {
        {"nibble mask, big-endian", [] { kz::REQ_SET_NIBBLE_MASK(0x0FFF); }, 3, 2, kQ, {0x0F, 0xFF}},
        {"mic gain: low byte, flagged", [] { kz::REQ_SET_MIC_GAIN(0x0112); }, 4, 2, kQ, {0x80, 0x12}},
        {"level: type, then the level", [] { kz::REQ_SET_LEVEL(2, 10); }, 5, 1, kQ, {2, 0, 10, 0}},
        {"option 6", [] { kz::REQ_SET_OPTION_6(1); }, 6, 1, kQ, {1, 0}},
        {"remote name", [] { kz::REQ_REMOTE_NAME(kAddr); }, 8, 2, kQ, addr},
        {"odd local name carries its zero as pad", [] { kz::REQ_SET_LOCAL_NAME("Q7MX_TARN"); }, 9, 2, kQ,
         {0, 10, 'Q', '7', 'M', 'X', '_', 'T', 'A', 'R', 'N', 0}},
        {"even local name", [] { kz::REQ_SET_LOCAL_NAME("CARS"); }, 9, 2, kQ, {0, 4, 'C', 'A', 'R', 'S'}},
        {"empty local name", [] { kz::REQ_SET_LOCAL_NAME(""); }, 9, 2, kQ, {0, 0}},
        {"local name cut before a split character",
         [] { kz::REQ_SET_LOCAL_NAME((std::string(62, 'a') + "\xC3\xA9").c_str()); }, 9, 2, kQ, Cat({{0, 62}, Bytes(62, 'a')})},
        {"long local name cut to 63 and its zero", [] { kz::REQ_SET_LOCAL_NAME(std::string(100, 'x').c_str()); }, 9,
         2, kQ, Cat({{0, 64}, Bytes(63, 'x'), {0}})},
        {"inquiry: length and response limit", [] { kz::REQ_INQUIRY(); }, 10, 2, kQ, {0, 0, 0, 0, 0x10, 0x0A}},
        {"visible: scan words", [] { kz::REQ_SET_VISIBLE_MODE(true); }, 11, 2, kQ, {0, 0x80, 0, 0x20, 0, 0x80, 0, 0x20}},
        {"hidden: zeros", [] { kz::REQ_SET_VISIBLE_MODE(false); }, 11, 2, kQ, Bytes(8, 0)},
        {"connect PBAP to the current phone", [] { kz::REQ_CONNECT_PROFILE(5); }, 12, 1, kQ, Cat({{5}, addr, {0x40, 0, 0}})},
        {"disconnect", [] { kz::REQ_DISCONNECT_PROFILE(3); }, 13, 1, kQ, {3, 0}},
        {"audio to the car", [] { kz::REQ_AUDIO_TO_HANDSFREE(); }, 14, 1, kQ, {1, 0}},
        {"audio to the phone", [] { kz::REQ_AUDIO_TO_PHONE(); }, 15, 1, kQ, {1, 0}},
        {"test mode", [] { kz::REQ_ENTER_DUT_MODE(); }, 20, 2, kQ, {}},
        {"mic volume, big-endian", [] { kz::REQ_SET_MIC_VOLUME(0x000F); }, 23, 2, kQ, {0x00, 0x0F}},
        {"option 26", [] { kz::REQ_SET_OPTION_26(1); }, 26, 1, kQ, {1, 0}},
        {"SDP query to the current phone", [] { kz::REQ_SDP_QUERY(); }, 30, 2, kQ, addr},
        {"mic mode 0: internal microphone", [] { kz::REQ_SET_MIC_MODE(0); }, 33, 1, kQ, {1, 0}},
        {"mic mode 1", [] { kz::REQ_SET_MIC_MODE(1); }, 33, 1, kQ, {0, 0}},
        {"link key", [&] { kz::REQ_LINK_KEY_REPLY(kAddr, key); }, 60, 2, kI, Cat({addr, {0, 16}, Bytes(key, key + 16)})},
        {"link key rejected", [] { kz::REQ_LINK_KEY_REPLY(kAddr, nullptr); }, 60, 2, kI, Cat({addr, Bytes(18, 0)})},
        {"PIN", [] { kz::REQ_PIN_CODE_REPLY(kAddr); }, 61, 2, kI, Cat({addr, {0, 4, '4', '7', '0', '6'}})},
        {"authorised", [] { kz::REQ_AUTHORISE_REPLY(kAddr, 1, true); }, 63, 2, kI, Cat({addr, {1, 1}})},
        {"authorise refused", [] { kz::REQ_AUTHORISE_REPLY(kAddr, 5, false); }, 63, 2, kI, Cat({addr, {5, 0}})},
        {"answer", [] { kz::REQ_ANSWER(1); }, 80, 1, kQ, {1, 0}},
        {"three digits need no pad", [] { kz::REQ_DIAL("112"); }, 82, 2, kQ, {1, 0, 3, '1', '1', '2'}},
        {"six digits get a zero pad", [] { kz::REQ_DIAL("654321"); }, 82, 2, kQ, {1, 0, 6, '6', '5', '4', '3', '2', '1', 0}},
        {"DTMF", [] { kz::REQ_DTMF('5'); }, 86, 1, kQ, {'5', 0}},
        {"current calls", [] { kz::REQ_CURRENT_CALLS(); }, 88, 2, kQ, {}},
        {"call hold", [] { kz::REQ_CALL_HOLD(2); }, 90, 1, kQ, {2, 0, 0, 0}},
        {"reply 160", [] { kz::REQ_REPLY_160(); }, 160, 1, kQ, {0, 0}},
        {"reply 161", [] { kz::REQ_REPLY_161(); }, 161, 1, kQ, {0, 0}},
        {"media open", [] { kz::REQ_MEDIA_OPEN(); }, 258, 2, kQ, {}},
        {"pass-through PLAY pressed", [] { kz::REQ_AVRCP_PASS_THROUGH(0x44, 0); }, 288, 1, kQ, {9, 0, 0, 0, 0x44, 0, 0, 0}},
        {"pass-through PLAY released", [] { kz::REQ_AVRCP_PASS_THROUGH(0x44, 1); }, 288, 1, kQ, {9, 0, 0, 1, 0x44, 0, 0, 0}},
        {"register play status", [] { kz::REQ_AVRCP_REGISTER_PLAY_STATUS(); }, 289, 2, kQ,
         Cat({{9, 0, 0, 3}, company, {9, 0x31, 0, 0, 5, 1, 0, 0, 0, 0}})},
        {"register track change", [] { kz::REQ_AVRCP_REGISTER_TRACK_CHANGE(); }, 289, 2, kQ,
         Cat({{9, 0, 0, 3}, company, {9, 0x31, 0, 0, 5, 2, 0, 0, 0, 0}})},
        {"get element attributes", [] { kz::REQ_AVRCP_GET_ELEMENT_ATTRIBUTES(); }, 289, 2, kQ,
         Cat({{9, 0, 0, 1}, company, {25, 0x20, 0, 0, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}})},
        {"reply 291", [] { kz::REQ_REPLY_291(); }, 291, 2, kQ, {0, 0}},
        {"phonebook pull", [] { kz::REQ_PBAP_PULL(4, 3, 18); }, 512, 2, kQ, {0, 4, 0, 0, 0, 0x87, 0, 0, 0, 0, 0, 3, 0, 0x12}},
        {"phonebook accepted", [] { kz::REQ_PBAP_CONTINUE(true); }, 529, 1, kI, {1, 0}},
        {"phonebook rejected", [] { kz::REQ_PBAP_CONTINUE(false); }, 529, 1, kI, {0, 0}},
        {"RES", [] { kz::SendRes(0x74); }, 0x74, 2, kI, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.build();
        auto m = Only();
        const size_t n = 6 + row.params.size();
        EXPECT_EQ(m.bytes, Cat({{uint8_t(n / 2), 0, 0x55, row.cls, uint8_t(row.id), uint8_t(row.id >> 8)}, row.params}));
        EXPECT_EQ(m.mode, row.mode);
        EXPECT_EQ(Header(m), Template13(n));
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
    auto msgs = recorder->Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].bytes.size(), 64u);
    EXPECT_EQ(msgs[1].bytes.size(), 24u);
    EXPECT_EQ(msgs[1].bytes[14], 8);
    EXPECT_EQ(msgs[1].bytes.back(), 0);
}

}  // namespace
