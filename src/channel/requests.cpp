// Request builders: one per message the library sends to the module. Each
// lays the message out on its own stack (every byte not named below is 0),
// attaches the header template and hands it to SubmitPacket, which copies
// what it queues.
#include "channel/requests.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "channel/command_queue.h"
#include "channel/module_ids.h"
#include "channel/module_message.h"
#include "core/trace.h"

namespace kz {

std::atomic<int32_t> g_nMicGain{0};
std::atomic<int32_t> g_nMicVolume{0};
char g_CallSetupNum[56] = {};

namespace {

inline constexpr uint8_t kClass1 = 1;
inline constexpr uint8_t kClass2 = 2;

// The AT-command reset travels on channel 0 instead of the module channel.
inline constexpr uint8_t kAtResetChannel = bcsp::kChannelAck;

inline constexpr size_t kAddressLen = 6;
inline constexpr size_t kLinkKeyLen = 16;
inline constexpr size_t kPinLen = 4;
inline constexpr size_t kNameLimit = 63;      // the local name is read with limit 64
inline constexpr size_t kDialLimit = sizeof g_CallSetupNum - 1;

// Visible mode: page and inquiry scan on with the module's interval/window.
inline constexpr std::array<uint8_t, 8> kVisibleScan = {0x00, 0x80, 0x00, 0x20,
                                                        0x00, 0x80, 0x00, 0x20};
inline constexpr uint8_t kInquiryLength = 0x10;
inline constexpr uint8_t kInquiryMaxResponses = 0x0A;
inline constexpr uint8_t kMicGainMarker = 0x80;
inline constexpr uint8_t kConnectFlags = 0x40;
inline constexpr uint8_t kDialCommand = 1;
inline constexpr uint8_t kAudioTransferOn = 1;

// AV/C: the panel subunit and the Bluetooth SIG company id of vendor PDUs.
inline constexpr uint8_t kAvcPanelSubunit = 9;
inline constexpr std::array<uint8_t, 3> kBtSigCompanyId = {0x00, 0x19, 0x58};
inline constexpr uint8_t kAvcCtypeStatus = 1;
inline constexpr uint8_t kAvcCtypeNotify = 3;

// Fixed words of the PBAP pull: the filter's vCard field mask.
inline constexpr std::array<uint8_t, 8> kPullFilter = {0x00, 0x00, 0x00, 0x87,
                                                       0x00, 0x00, 0x00, 0x00};

// Parameter offsets from the start of the message.
inline constexpr size_t kP0 = msg::kParamOffset;   // 6
inline constexpr size_t kNameOffset = kP0 + 2;     // local name bytes
inline constexpr size_t kDialOffset = kP0 + 3;     // dialled digits
inline constexpr size_t kPduOffset = kP0 + 9;      // AVRCP vendor PDU

// AVRCP vendor-dependent PDUs: id, packet type, parameter length (BE), parameters.
inline constexpr std::array<uint8_t, 9> kPduRegisterPlayStatus = {0x31, 0x00, 0x00, 0x05, 0x01,
                                                                  0x00, 0x00, 0x00, 0x00};
inline constexpr std::array<uint8_t, 9> kPduRegisterTrackChange = {0x31, 0x00, 0x00, 0x05, 0x02,
                                                                   0x00, 0x00, 0x00, 0x00};
inline constexpr std::array<uint8_t, 25> kPduGetElementAttributes = {
    0x20, 0x00, 0x00, 0x15,                          // GetElementAttributes, 21 bytes
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // the playing element
    0x03,                                            // three attributes:
    0x00, 0x00, 0x00, 0x01,                          // title
    0x00, 0x00, 0x00, 0x02,                          // artist
    0x00, 0x00, 0x00, 0x03};                         // album

constexpr size_t RoundUpEven(size_t n) { return (n + 1) & ~size_t{1}; }

void PutBe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v & 0xFF);
}

// Writes the head, attaches the module-channel template and submits.
void Send(uint8_t* m, size_t bytes, uint8_t cls, uint16_t msgId, uint32_t mode) {
    msg::WriteHead(m, bytes, cls, msgId);
    uint8_t hdr[4];
    msg::ModuleHeaderTemplate(hdr, bytes);
    SubmitPacket(hdr, m, static_cast<uint32_t>(bytes), mode);
}

// The many requests of the shape: head, then one parameter byte (8 bytes).
void SendByte(uint8_t cls, uint16_t msgId, uint8_t value, uint32_t mode = kSubmitQueued) {
    std::array<uint8_t, 8> m{};
    m[kP0] = value;
    Send(m.data(), m.size(), cls, msgId, mode);
}

void SendHeadOnly(uint16_t msgId) {
    std::array<uint8_t, 6> m{};
    Send(m.data(), m.size(), kClass2, msgId, kSubmitQueued);
}

void SendAddress(uint16_t msgId, const uint8_t address[6]) {
    std::array<uint8_t, 12> m{};
    std::memcpy(&m[kP0], address, kAddressLen);
    Send(m.data(), m.size(), kClass2, msgId, kSubmitQueued);
}

// Length of a UTF-8 text cut to at most `limit` bytes without splitting a character.
size_t CutUtf8(const char* text, size_t limit) {
    size_t n = strnlen(text, limit + 1);
    if (n <= limit) return n;
    n = limit;
    while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}

}  // namespace

void REQ_RESET_AT_COMMAND() {
    std::array<uint8_t, 6> m{};
    msg::WriteHead(m.data(), m.size(), kClass2, msgid::kResetAtCommand);
    uint8_t hdr[4];
    msg::ModuleHeaderTemplate(hdr, m.size(), kAtResetChannel);
    SubmitPacket(hdr, m.data(), static_cast<uint32_t>(m.size()), kSubmitAtReset);
}

void REQ_SET_NIBBLE_MASK(uint16_t mask) {
    std::array<uint8_t, 8> m{};
    PutBe16(&m[kP0], mask);
    Send(m.data(), m.size(), kClass2, msgid::kSetNibbleMask, kSubmitQueued);
}

void REQ_SET_MIC_GAIN(uint16_t gain) {
    std::array<uint8_t, 8> m{};
    m[kP0] = kMicGainMarker;
    m[kP0 + 1] = static_cast<uint8_t>(gain & 0xFF);
    g_nMicGain = gain;
    Send(m.data(), m.size(), kClass2, msgid::kSetMicGain, kSubmitQueued);
}

void REQ_SET_LEVEL(uint8_t type, uint8_t level) {
    std::array<uint8_t, 10> m{};
    m[kP0] = type;
    m[kP0 + 2] = level;
    Send(m.data(), m.size(), kClass1, msgid::kSetLevel, kSubmitQueued);
}

void REQ_SET_OPTION_6(uint8_t value) { SendByte(kClass1, msgid::kSetOption6, value); }

void REQ_REMOTE_NAME(const uint8_t address[6]) {
    if (!address) return;
    SendAddress(msgid::kRemoteName, address);
}

void REQ_SET_LOCAL_NAME(const char* name) {
    if (!name) return;
    size_t len = CutUtf8(name, kNameLimit);
    size_t padded = RoundUpEven(len);          // an odd name carries its zero as pad
    std::array<uint8_t, kNameOffset + kNameLimit + 1> m{};
    m[kP0 + 1] = static_cast<uint8_t>(padded);
    std::memcpy(&m[kNameOffset], name, len);
    Send(m.data(), kNameOffset + padded, kClass2, msgid::kSetLocalName, kSubmitQueued);
}

void REQ_INQUIRY() {
    std::array<uint8_t, 12> m{};
    m[kP0 + 4] = kInquiryLength;
    m[kP0 + 5] = kInquiryMaxResponses;
    Send(m.data(), m.size(), kClass2, msgid::kInquiry, kSubmitQueued);
}

void REQ_SET_VISIBLE_MODE(bool visible) {
    std::array<uint8_t, 14> m{};
    if (visible) std::copy(kVisibleScan.begin(), kVisibleScan.end(), &m[kP0]);
    Send(m.data(), m.size(), kClass2, msgid::kSetVisibleMode, kSubmitQueued);
}

void SendConnectProfile(uint8_t profile, const uint8_t address[6]) {
    std::array<uint8_t, 16> m{};
    m[kP0] = profile;
    std::memcpy(&m[kP0 + 1], address, kAddressLen);
    m[kP0 + 7] = kConnectFlags;
    Send(m.data(), m.size(), kClass1, msgid::kConnectProfile, kSubmitQueued);
}

void REQ_DISCONNECT_PROFILE(uint8_t profile) { SendByte(kClass1, msgid::kDisconnectProfile, profile); }

void REQ_AUDIO_TO_HANDSFREE() { SendByte(kClass1, msgid::kAudioToHandsfree, kAudioTransferOn); }

void REQ_AUDIO_TO_PHONE() { SendByte(kClass1, msgid::kAudioToPhone, kAudioTransferOn); }

void REQ_ENTER_DUT_MODE() { SendHeadOnly(msgid::kEnterDutMode); }

void REQ_SET_MIC_VOLUME(uint16_t volume) {
    std::array<uint8_t, 8> m{};
    PutBe16(&m[kP0], volume);
    g_nMicVolume = volume;
    Send(m.data(), m.size(), kClass2, msgid::kSetMicVolume, kSubmitQueued);
}

void REQ_SET_OPTION_26(uint8_t value) { SendByte(kClass1, msgid::kSetOption26, value); }

void SendSdpQuery(const uint8_t address[6]) { SendAddress(msgid::kSdpQuery, address); }

void REQ_SET_MIC_MODE(int32_t mode) {
    // The module's flag means "internal microphone", which is mode 0.
    SendByte(kClass1, msgid::kSetMicMode, mode == 0 ? 1 : 0);
}

void REQ_LINK_KEY_REPLY(const uint8_t address[6], const uint8_t* key) {
    if (!address) return;
    std::array<uint8_t, 30> m{};
    std::memcpy(&m[kP0], address, kAddressLen);
    if (key) {
        m[kP0 + 7] = kLinkKeyLen;
        std::memcpy(&m[kP0 + 8], key, kLinkKeyLen);
    }
    Send(m.data(), m.size(), kClass2, msgid::kLinkKeyRequest, kSubmitReply);
}

void SendPinCodeReply(const uint8_t address[6], const uint8_t pin[4]) {
    if (!address) return;
    std::array<uint8_t, 18> m{};
    std::memcpy(&m[kP0], address, kAddressLen);
    m[kP0 + 7] = kPinLen;
    std::memcpy(&m[kP0 + 8], pin, kPinLen);
    Send(m.data(), m.size(), kClass2, msgid::kPinRequest, kSubmitReply);
}

void REQ_AUTHORISE_REPLY(const uint8_t address[6], uint8_t service, bool accept) {
    if (!address) return;
    std::array<uint8_t, 14> m{};
    std::memcpy(&m[kP0], address, kAddressLen);
    m[kP0 + 6] = service;
    m[kP0 + 7] = accept ? 1 : 0;
    Send(m.data(), m.size(), kClass2, msgid::kAuthorise, kSubmitReply);
}

void REQ_ANSWER(uint8_t answer) { SendByte(kClass1, msgid::kAnswer, answer); }

bool REQ_DIAL(const char* number) {
    if (!number) return false;
    size_t n = strnlen(number, kDialLimit + 1);
    if (n > kDialLimit) {
        KZ_TRACE("REQ_DIAL: number longer than %zu characters refused", kDialLimit);
        return false;
    }
    std::array<uint8_t, RoundUpEven(kDialOffset + kDialLimit)> m{};
    m[kP0] = kDialCommand;
    m[kP0 + 2] = static_cast<uint8_t>(n);
    std::memcpy(&m[kDialOffset], number, n);
    std::memcpy(g_CallSetupNum, number, n);
    g_CallSetupNum[n] = '\0';
    Send(m.data(), RoundUpEven(kDialOffset + n), kClass2, msgid::kDial, kSubmitQueued);
    return true;
}

void REQ_DTMF(uint8_t character) { SendByte(kClass1, msgid::kDtmf, character); }

void REQ_CURRENT_CALLS() { SendHeadOnly(msgid::kCurrentCalls); }

void REQ_CALL_HOLD(uint8_t code) {
    std::array<uint8_t, 10> m{};
    m[kP0] = code;
    Send(m.data(), m.size(), kClass1, msgid::kCallHold, kSubmitQueued);
}

void REQ_REPLY_160() { SendByte(kClass1, msgid::kInd160, 0); }

void REQ_REPLY_161() { SendByte(kClass1, msgid::kInd161, 0); }

void REQ_MEDIA_OPEN() { SendHeadOnly(msgid::kMediaOpen); }

void REQ_AVRCP_PASS_THROUGH(uint8_t operation, uint8_t state) {
    std::array<uint8_t, 14> m{};
    m[kP0] = kAvcPanelSubunit;
    m[kP0 + 3] = state;
    m[kP0 + 4] = operation;
    Send(m.data(), m.size(), kClass1, msgid::kAvrcpPassThrough, kSubmitQueued);
}

void REQ_AVRCP_VENDOR(uint8_t ctype, const uint8_t* pdu, uint8_t n) {
    size_t bytes = RoundUpEven(kPduOffset + n);
    if (!pdu || bytes > msg::kMaxOutgoing) return;
    std::array<uint8_t, msg::kMaxOutgoing + 1> m{};
    m[kP0] = kAvcPanelSubunit;
    m[kP0 + 3] = ctype;
    std::copy(kBtSigCompanyId.begin(), kBtSigCompanyId.end(), &m[kP0 + 4]);
    m[kP0 + 8] = n;
    std::memcpy(&m[kPduOffset], pdu, n);
    Send(m.data(), bytes, kClass2, msgid::kAvrcpVendor, kSubmitQueued);
}

void REQ_REPLY_291() { SendByte(kClass2, msgid::kReply291, 0); }

void REQ_PBAP_PULL(uint16_t type, uint16_t count, uint16_t start) {
    std::array<uint8_t, 20> m{};
    PutBe16(&m[kP0], type);
    std::copy(kPullFilter.begin(), kPullFilter.end(), &m[kP0 + 2]);
    PutBe16(&m[kP0 + 10], count);
    PutBe16(&m[kP0 + 12], start);
    Send(m.data(), m.size(), kClass2, msgid::kPbapPull, kSubmitQueued);
}

void REQ_PBAP_CONTINUE(bool accept) {
    SendByte(kClass1, msgid::kPbapData, accept ? 1 : 0, kSubmitReply);
}

void SendRes(uint16_t indId) {
    std::array<uint8_t, 6> m{};
    Send(m.data(), m.size(), kClass2, indId, kSubmitReply);
}

void REQ_AVRCP_REGISTER_PLAY_STATUS() {
    REQ_AVRCP_VENDOR(kAvcCtypeNotify, kPduRegisterPlayStatus.data(), kPduRegisterPlayStatus.size());
}

void REQ_AVRCP_REGISTER_TRACK_CHANGE() {
    REQ_AVRCP_VENDOR(kAvcCtypeNotify, kPduRegisterTrackChange.data(),
                     kPduRegisterTrackChange.size());
}

void REQ_AVRCP_GET_ELEMENT_ATTRIBUTES() {
    REQ_AVRCP_VENDOR(kAvcCtypeStatus, kPduGetElementAttributes.data(),
                     kPduGetElementAttributes.size());
}

void ResetRequestState() {
    g_nMicGain = 0;
    g_nMicVolume = 0;
    std::memset(g_CallSetupNum, 0, sizeof g_CallSetupNum);
}

}  // namespace kz
