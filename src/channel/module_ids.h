// The catalogue of module messages: every id the library and the module
// exchange on the module channel, declared once, with its kinds and names.
//
// An id can have several kinds: the host's request and the module's
// confirmation share their id (82 is the dial request and its confirmation),
// and so do an indication and the host's answer to it (a 6-byte RES, or a
// reply with parameters such as the PIN code). The library, the simulator,
// kztarn, the benchmarks and the tests all name ids from here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace kz::msgid {

// ---------------------------------------------------------------- the ids
// Requests of the host (confirmed by the module with the same id).
inline constexpr uint16_t kResetAtCommand = 1;      // sent on channel 0, never confirmed
inline constexpr uint16_t kSetNibbleMask = 3;
inline constexpr uint16_t kSetMicGain = 4;
inline constexpr uint16_t kSetLevel = 5;
inline constexpr uint16_t kSetOption6 = 6;
inline constexpr uint16_t kRemoteName = 8;
inline constexpr uint16_t kSetLocalName = 9;
inline constexpr uint16_t kInquiry = 10;            // confirmed when the inquiry completes
inline constexpr uint16_t kSetVisibleMode = 11;
inline constexpr uint16_t kConnectProfile = 12;
inline constexpr uint16_t kDisconnectProfile = 13;
inline constexpr uint16_t kAudioToHandsfree = 14;
inline constexpr uint16_t kAudioToPhone = 15;
inline constexpr uint16_t kRssi = 16;               // confirmation only
inline constexpr uint16_t kCfm18 = 18;              // confirmation only
inline constexpr uint16_t kEnterDutMode = 20;
inline constexpr uint16_t kSetMicVolume = 23;
inline constexpr uint16_t kFirmwareImage = 24;      // confirmation only
inline constexpr uint16_t kSetOption26 = 26;
inline constexpr uint16_t kSdpQuery = 30;
inline constexpr uint16_t kSetMicMode = 33;
// Indications of the module.
inline constexpr uint16_t kModuleReady = 48;
inline constexpr uint16_t kInquiryResult = 49;
inline constexpr uint16_t kProfileConnected = 50;
inline constexpr uint16_t kProfileDisconnected = 51;
inline constexpr uint16_t kCallAudioOn = 52;
inline constexpr uint16_t kCallAudioOff = 53;
inline constexpr uint16_t kInd54 = 54;
inline constexpr uint16_t kInd55 = 55;
inline constexpr uint16_t kInd56 = 56;
inline constexpr uint16_t kInd58 = 58;
inline constexpr uint16_t kPairingResult = 59;
inline constexpr uint16_t kLinkKeyRequest = 60;     // the host replies with the key
inline constexpr uint16_t kPinRequest = 61;         // the host replies with the PIN
inline constexpr uint16_t kSdpRecord = 62;
inline constexpr uint16_t kAuthorise = 63;          // the host replies accept or reject
inline constexpr uint16_t kInd64 = 64;
// Calls.
inline constexpr uint16_t kAnswer = 80;
inline constexpr uint16_t kDial = 82;
inline constexpr uint16_t kCfm84 = 84;              // confirmation only
inline constexpr uint16_t kDtmf = 86;
inline constexpr uint16_t kCurrentCalls = 88;
inline constexpr uint16_t kCallHold = 90;
inline constexpr uint16_t kInBandRing = 112;
inline constexpr uint16_t kHfpIndicator = 113;
inline constexpr uint16_t kInd114 = 114;
inline constexpr uint16_t kCallSetupNumber = 115;
inline constexpr uint16_t kWaitingNumber = 116;
inline constexpr uint16_t kInd117 = 117;
inline constexpr uint16_t kInd118 = 118;
inline constexpr uint16_t kInd119 = 119;
inline constexpr uint16_t kInd120 = 120;
inline constexpr uint16_t kCurrentCall = 121;
inline constexpr uint16_t kCallCount = 122;
inline constexpr uint16_t kInd123 = 123;
inline constexpr uint16_t kInd124 = 124;
inline constexpr uint16_t kInd125 = 125;
inline constexpr uint16_t kInd160 = 160;            // the host answers with a request (class 1)
inline constexpr uint16_t kInd161 = 161;            // the host answers with a request (class 1)
inline constexpr uint16_t kInd162 = 162;
inline constexpr uint16_t kInd163 = 163;
inline constexpr uint16_t kInd164 = 164;
inline constexpr uint16_t kCfm254 = 254;
// Music: A2DP and AVRCP.
inline constexpr uint16_t kCfm256 = 256;
inline constexpr uint16_t kCfm257 = 257;
inline constexpr uint16_t kMediaOpen = 258;
inline constexpr uint16_t kMediaClose = 259;        // the library never sends it; the module confirms it
inline constexpr uint16_t kInd272 = 272;
inline constexpr uint16_t kStreamStarted = 273;
inline constexpr uint16_t kStreamSuspended = 274;
inline constexpr uint16_t kMediaOpened = 275;
inline constexpr uint16_t kMediaClosed = 276;
inline constexpr uint16_t kMicMute = 277;
inline constexpr uint16_t kAvrcpPassThrough = 288;
inline constexpr uint16_t kAvrcpVendor = 289;
inline constexpr uint16_t kCfm290 = 290;            // answered by the request 291
inline constexpr uint16_t kReply291 = 291;
inline constexpr uint16_t kDependData = 308;        // AVRCP vendor-dependent data
inline constexpr uint16_t kInd309 = 309;
inline constexpr uint16_t kDependHeader = 310;      // announces the data that follows
inline constexpr uint16_t kInd311 = 311;
// Phonebook (PBAP).
inline constexpr uint16_t kPbapPull = 512;          // confirmed with the phonebook size
inline constexpr uint16_t kPbapComplete = 528;
inline constexpr uint16_t kPbapData = 529;          // the host replies accept or reject

// ---------------------------------------------------------------- kinds
enum Kind : uint8_t {
    kRequest = 1u << 0,        // host to module, confirmed with the same id
    kConfirmation = 1u << 1,   // module to host, the answer to the request
    kIndication = 1u << 2,     // module to host, unprompted
    kResponse = 1u << 3,       // host to module: the 6-byte RES to the indication
    kReply = 1u << 4,          // host to module: the answer with parameters to the indication
};

struct Entry {
    uint16_t id;
    uint8_t kinds;
    const char* hostName;     // what the host sends under this id, or null
    const char* moduleName;   // what the module sends under this id, or null
};

inline constexpr uint8_t RC = kRequest | kConfirmation;
inline constexpr uint8_t IR = kIndication | kResponse;

// Sorted by id; one row per id (checked below).
inline constexpr Entry kCatalogue[] = {
    {kResetAtCommand, kRequest, "REQ_RESET_AT_COMMAND", nullptr},
    {kSetNibbleMask, RC, "REQ_SET_NIBBLE_MASK", "CFM nibble mask"},
    {kSetMicGain, RC, "REQ_SET_MIC_GAIN", "CFM microphone gain"},
    {kSetLevel, RC, "REQ_SET_LEVEL", "CFM level"},
    {kSetOption6, RC, "REQ_SET_OPTION_6", "CFM option 6"},
    {kRemoteName, RC, "REQ_REMOTE_NAME", "CFM remote name"},
    {kSetLocalName, RC, "REQ_SET_LOCAL_NAME", "CFM local name"},
    {kInquiry, RC, "REQ_INQUIRY", "CFM inquiry complete"},
    {kSetVisibleMode, RC, "REQ_SET_VISIBLE_MODE", "CFM visible mode"},
    {kConnectProfile, RC, "REQ_CONNECT_PROFILE", "CFM profile connect"},
    {kDisconnectProfile, RC, "REQ_DISCONNECT_PROFILE", "CFM profile disconnect"},
    {kAudioToHandsfree, RC, "REQ_AUDIO_TO_HANDSFREE", "CFM audio to car"},
    {kAudioToPhone, RC, "REQ_AUDIO_TO_PHONE", "CFM audio to phone"},
    {kRssi, kConfirmation, nullptr, "CFM RSSI"},
    {kCfm18, kConfirmation, nullptr, "CFM 18"},
    {kEnterDutMode, RC, "REQ_ENTER_DUT_MODE", "CFM test mode"},
    {kSetMicVolume, RC, "REQ_SET_MIC_VOLUME", "CFM microphone volume"},
    {kFirmwareImage, kConfirmation, nullptr, "CFM firmware image"},
    {kSetOption26, RC, "REQ_SET_OPTION_26", "CFM option 26"},
    {kSdpQuery, RC, "REQ_SDP_QUERY", "CFM SDP query"},
    {kSetMicMode, RC, "REQ_SET_MIC_MODE", "CFM microphone mode"},
    {kModuleReady, IR, nullptr, "IND module ready"},
    {kInquiryResult, IR, nullptr, "IND inquiry result"},
    {kProfileConnected, IR, nullptr, "IND profile connected"},
    {kProfileDisconnected, IR, nullptr, "IND profile disconnected"},
    {kCallAudioOn, IR, nullptr, "IND call audio connected"},
    {kCallAudioOff, IR, nullptr, "IND call audio disconnected"},
    {kInd54, IR, nullptr, "IND 54"},
    {kInd55, IR, nullptr, "IND 55"},
    {kInd56, IR, nullptr, "IND 56"},
    {kInd58, IR, nullptr, "IND 58"},
    {kPairingResult, IR, nullptr, "IND pairing result"},
    {kLinkKeyRequest, kIndication | kReply, "REQ_LINK_KEY_REPLY", "IND link-key request"},
    {kPinRequest, kIndication | kReply, "REQ_PIN_CODE_REPLY", "IND PIN-code request"},
    {kSdpRecord, IR, nullptr, "IND SDP service record"},
    {kAuthorise, kIndication | kReply, "REQ_AUTHORISE_REPLY", "IND authorisation request"},
    {kInd64, IR, nullptr, "IND 64"},
    {kAnswer, RC, "REQ_ANSWER", "CFM answer"},
    {kDial, RC, "REQ_DIAL", "CFM dial"},
    {kCfm84, kConfirmation, nullptr, "CFM 84"},
    {kDtmf, RC, "REQ_DTMF", "CFM DTMF"},
    {kCurrentCalls, RC, "REQ_CURRENT_CALLS", "CFM current calls"},
    {kCallHold, RC, "REQ_CALL_HOLD", "CFM call hold"},
    {kInBandRing, IR, nullptr, "IND in-band ring"},
    {kHfpIndicator, IR, nullptr, "IND HFP indicator"},
    {kInd114, IR, nullptr, "IND 114"},
    {kCallSetupNumber, IR, nullptr, "IND call setup number"},
    {kWaitingNumber, IR, nullptr, "IND waiting/held number"},
    {kInd117, IR, nullptr, "IND 117"},
    {kInd118, IR, nullptr, "IND 118"},
    {kInd119, IR, nullptr, "IND 119"},
    {kInd120, IR, nullptr, "IND 120"},
    {kCurrentCall, IR, nullptr, "IND current call"},
    {kCallCount, IR, nullptr, "IND number of calls"},
    {kInd123, IR, nullptr, "IND 123"},
    {kInd124, IR, nullptr, "IND 124"},
    {kInd125, IR, nullptr, "IND 125"},
    {kInd160, kIndication | kRequest, "REQ_REPLY_160", "IND 160"},
    {kInd161, kIndication | kRequest, "REQ_REPLY_161", "IND 161"},
    {kInd162, IR, nullptr, "IND 162"},
    {kInd163, IR, nullptr, "IND 163"},
    {kInd164, IR, nullptr, "IND 164"},
    {kCfm254, kConfirmation, nullptr, "CFM 254"},
    {kCfm256, kConfirmation, nullptr, "CFM 256"},
    {kCfm257, kConfirmation, nullptr, "CFM 257"},
    {kMediaOpen, RC, "REQ_MEDIA_OPEN", "CFM media open"},
    {kMediaClose, RC, nullptr, "CFM media close"},
    {kInd272, IR, nullptr, "IND 272"},
    {kStreamStarted, IR, nullptr, "IND A2DP streaming"},
    {kStreamSuspended, IR, nullptr, "IND A2DP suspended"},
    {kMediaOpened, IR, nullptr, "IND media opened"},
    {kMediaClosed, IR, nullptr, "IND media closed"},
    {kMicMute, IR, nullptr, "IND microphone mute"},
    {kAvrcpPassThrough, RC, "REQ_AVRCP_PASS_THROUGH", "CFM AVRCP pass-through"},
    {kAvrcpVendor, RC, "REQ_AVRCP_VENDOR", "CFM AVRCP vendor"},
    {kCfm290, kConfirmation, nullptr, "CFM 290"},
    {kReply291, kRequest, "REQ_REPLY_291", nullptr},
    {kDependData, IR, nullptr, "IND AVRCP status"},
    {kInd309, IR, nullptr, "IND 309"},
    {kDependHeader, IR, nullptr, "IND AVRCP vendor header"},
    {kInd311, IR, nullptr, "IND 311"},
    {kPbapPull, RC, "REQ_PBAP_PULL", "CFM phonebook size"},
    {kPbapComplete, IR, nullptr, "IND phonebook complete"},
    {kPbapData, kIndication | kReply, "REQ_PBAP_CONTINUE", "IND phonebook data"},
};

// ---------------------------------------------------------------- look-ups
constexpr const Entry* Find(uint16_t id) {
    for (const Entry& e : kCatalogue)
        if (e.id == id) return &e;
    return nullptr;
}
// By index, not through Find's pointer: GCC 12 cannot evaluate a pointer
// comparison in a constant expression under -fsanitize=null, and the
// dispatch table's compile-time checks use this.
constexpr int IndexOf(uint16_t id) {
    for (size_t i = 0; i < std::size(kCatalogue); ++i)
        if (kCatalogue[i].id == id) return static_cast<int>(i);
    return -1;
}
constexpr bool Has(uint16_t id, uint8_t kind) {
    const int i = IndexOf(id);
    return i >= 0 && (kCatalogue[i].kinds & kind) != 0;
}
// Something the module sends under this id (confirmation or indication).
constexpr bool FromModule(uint16_t id) { return Has(id, kConfirmation | kIndication); }
// An indication that the host answers with the 6-byte RES of its id.
constexpr bool TakesRes(uint16_t id) { return Has(id, kResponse); }
// An indication that the host answers with a reply of its id, which the
// module does not confirm.
constexpr bool TakesReply(uint16_t id) { return Has(id, kReply); }
constexpr const char* HostName(uint16_t id) {
    const Entry* e = Find(id);
    return e != nullptr ? e->hostName : nullptr;
}
constexpr const char* ModuleName(uint16_t id) {
    const Entry* e = Find(id);
    return e != nullptr ? e->moduleName : nullptr;
}

namespace detail {
constexpr bool SortedUnique() {
    for (size_t i = 1; i < std::size(kCatalogue); ++i)
        if (kCatalogue[i - 1].id >= kCatalogue[i].id) return false;
    return true;
}
// Every kind has its name, and a name only where the kind says so; a
// confirmation answers a request, an answer follows an indication.
constexpr bool KindsAndNamesAgree() {
    for (const Entry& e : kCatalogue) {
        const bool hostSends = (e.kinds & (kRequest | kReply)) != 0;
        const bool moduleSends = (e.kinds & (kConfirmation | kIndication)) != 0;
        if ((e.moduleName != nullptr) != moduleSends) return false;
        if (e.hostName != nullptr && !hostSends) return false;
        if ((e.kinds & kConfirmation) && (e.kinds & kIndication)) return false;
        if ((e.kinds & (kResponse | kReply)) && !(e.kinds & kIndication)) return false;
        if ((e.kinds & kResponse) && (e.kinds & kReply)) return false;
    }
    return true;
}
}  // namespace detail
static_assert(detail::SortedUnique(), "catalogue rows sorted by id, each id once");
static_assert(detail::KindsAndNamesAgree(), "catalogue kinds and names disagree");

}  // namespace kz::msgid
