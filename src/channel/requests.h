// Request catalogue: one builder per message the library sends to the module.
// Each lays out the message, attaches the channel-13 header template and hands
// it to SubmitPacket with the mode the catalogue gives (Q = queued, I = at once).
#pragma once
#include <atomic>
#include <cstdint>

namespace kz {

// Values the builders remember.
extern std::atomic<int32_t> g_nMicGain;      // last REQ_SET_MIC_GAIN value
extern std::atomic<int32_t> g_nMicVolume;    // last REQ_SET_MIC_VOLUME value
extern char g_CallSetupNum[56];              // REQ_DIAL copies the number here (call state reads it)

inline constexpr uint8_t kProfileHfp = 1;
inline constexpr uint8_t kProfileA2dp = 3;
inline constexpr uint8_t kProfileAvrcp = 4;
inline constexpr uint8_t kProfilePbap = 5;

void REQ_RESET_AT_COMMAND();                          // id 1, channel 0, mode 3
void REQ_SET_NIBBLE_MASK(uint16_t mask);              // id 3
void REQ_SET_MIC_GAIN(uint16_t gain);                 // id 4, remembers g_nMicGain
void REQ_SET_LEVEL(uint8_t type, uint8_t level);      // id 5
void REQ_SET_OPTION_6(uint8_t value);                 // id 6
void REQ_REMOTE_NAME(const uint8_t address[6]);       // id 8
void REQ_SET_LOCAL_NAME(const char* name);            // id 9
void REQ_INQUIRY();                                   // id 10
void REQ_SET_VISIBLE_MODE(bool visible);              // id 11
// id 12. REQ_CONNECT_PROFILE (events/connection.h) sends it to the current device.
void SendConnectProfile(uint8_t profile, const uint8_t address[6]);
void REQ_DISCONNECT_PROFILE(uint8_t profile);         // id 13
void REQ_AUDIO_TO_HANDSFREE();                        // id 14
void REQ_AUDIO_TO_PHONE();                            // id 15
void REQ_ENTER_DUT_MODE();                            // id 20
void REQ_SET_MIC_VOLUME(uint16_t volume);             // id 23, remembers g_nMicVolume
void REQ_SET_OPTION_26(uint8_t value);                // id 26
void SendSdpQuery(const uint8_t address[6]);         // id 30; REQ_SDP_QUERY: the current device
void REQ_SET_MIC_MODE(int32_t mode);                  // id 33
// id 60, at once. key null: reject (bytes 12..29 zero); else length 16 + key.
void REQ_LINK_KEY_REPLY(const uint8_t address[6], const uint8_t* key);
// id 61, at once; REQ_PIN_CODE_REPLY (events/inquiry.h) sends the stored PIN.
void SendPinCodeReply(const uint8_t address[6], const uint8_t pin[4]);
void REQ_AUTHORISE_REPLY(const uint8_t address[6], uint8_t service, bool accept); // id 63
void REQ_ANSWER(uint8_t answer);                      // id 80: 1 answer, 0 hang up
// id 82. Refuses (returns false, sends nothing) a number that does not fit
// g_CallSetupNum (55 characters) or a null number.
bool REQ_DIAL(const char* number);
void REQ_DTMF(uint8_t character);                     // id 86
void REQ_CURRENT_CALLS();                             // id 88
void REQ_CALL_HOLD(uint8_t code);                     // id 90
void REQ_REPLY_160();                                 // id 160
void REQ_REPLY_161();                                 // id 161
void REQ_MEDIA_OPEN();                                // id 258
void REQ_AVRCP_PASS_THROUGH(uint8_t operation, uint8_t state); // id 288; state 0 pressed, 1 released
void REQ_AVRCP_VENDOR(uint8_t ctype, const uint8_t* pdu, uint8_t n); // id 289
void REQ_REPLY_291();                                 // id 291
// id 512, raw builder; RequestPhoneBook (phonebook) applies the preconditions.
void REQ_PBAP_PULL(uint16_t type, uint16_t count, uint16_t start);
void REQ_PBAP_CONTINUE(bool accept);                  // id 529, at once
void SendRes(uint16_t id);                            // 03 00 55 02 id, at once

// The three AVRCP vendor-dependent requests.
void REQ_AVRCP_REGISTER_PLAY_STATUS();     // RegisterNotification EVENT_PLAYBACK_STATUS_CHANGED
void REQ_AVRCP_REGISTER_TRACK_CHANGE();    // RegisterNotification EVENT_TRACK_CHANGED
void REQ_AVRCP_GET_ELEMENT_ATTRIBUTES();   // title, artist, album of the playing element

void ResetRequestState();   // tests

}  // namespace kz
