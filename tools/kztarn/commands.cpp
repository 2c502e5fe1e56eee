#include "commands.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "KZ_Tarn.h"
#include "channel/module_ids.h"
#include "kz_platform.h"
#include "phone.h"
#include "session.h"
#include "session_state.h"
#include "sim_script.h"
#include "stored_settings.h"

namespace kztool {

namespace {

namespace msgid = kz::msgid;

// AVRCP pass-through operation ids.
constexpr int kAvrcpPlay = 0x44;
constexpr int kAvrcpPause = 0x46;
constexpr int kAvrcpNext = 0x4B;
constexpr int kAvrcpPrevious = 0x4C;

constexpr uint8_t kMaxLevel = 255;
constexpr int kPairedSlots = 5;
constexpr size_t kMaxSuggestDistance = 3;

bool Fail(CommandContext& c, std::string message) {
    c.error = std::move(message);
    return false;
}
// A well-formed command that cannot do anything: its outcome is a failure.
bool Refuse(CommandContext& c, std::string why) {
    c.refused = std::move(why);
    return true;
}

bool ParseInt(const std::string& s, long min, long max, long& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 0);
    if (*end != '\0' || v < min || v > max) return false;
    out = v;
    return true;
}

// "on"/"off" (also 1/0, yes/no).
bool ParseOnOff(const std::string& s, bool& on) {
    if (s == "on" || s == "1" || s == "yes") on = true;
    else if (s == "off" || s == "0" || s == "no") on = false;
    else return false;
    return true;
}

bool ParseListType(const std::string& s, int& type) {
    static const char* const kNames[] = {"contacts", "received", "dialed", "missed"};
    for (int i = 0; i < 4; ++i)
        if (s == kNames[i] || s == std::to_string(i + 1)) {
            type = i + 1;
            return true;
        }
    return false;
}

void ExpectRequests(CommandContext& c, std::vector<uint16_t> ids) { c.expect.request.ids = std::move(ids); }
// A library command: one of these requests goes out and the module confirms
// it with status 0. whyNothingSent names the library's reasons to send nothing.
void ExpectConfirmed(CommandContext& c, std::vector<uint16_t> ids, std::string whyNothingSent = "") {
    c.expect.request.ids = std::move(ids);
    c.expect.confirm = true;
    c.expect.whyNothingSent = std::move(whyNothingSent);
}
// The user's request carries these bytes from offset at (see RequestMatch).
void ExpectParameters(CommandContext& c, size_t at, std::vector<uint8_t> bytes) {
    c.expect.request.at = at;
    c.expect.request.bytes = std::move(bytes);
}
// Where the parameters of the requests the commands cause lie.
constexpr size_t kParamsAt = 6;
constexpr size_t kDialLengthAt = 8;          // the number's length, then its digits
constexpr size_t kPassThroughOpAt = 10;      // AVRCP pass-through operation
constexpr uint8_t kMicGainMarker = 0x80;     // before the gain
// A setting the library only stores: the file must hold value afterwards.
void ExpectStored(CommandContext& c, const char* setting, std::string value, std::string shown = "") {
    c.expect.storedSection = setting;
    c.expect.storedKey = setting;
    c.expect.storedValue = std::move(value);
    c.expect.storedShown = std::move(shown);
}
constexpr char kWhyConnectRefused[] = "a phone is connected or a connection is under way";
constexpr char kWhyMusicRefused[] =
    "no phone connected, or phone music is not the source: type 'source a2dp' first";
void ExpectNotify(CommandContext& c, std::vector<uint32_t> codes) { c.expect.notifications = std::move(codes); }
// Phone-side actions: any of these events shows that the library reacted.
void ExpectEvents(CommandContext& c, std::vector<std::string> names) { c.expect.anyEvents = std::move(names); }

// ------------------------------------------------------------ library commands

bool CmdStart(CommandContext& c, const Args&) {
    c.session->StartLibrary();
    ExpectNotify(c, {KZ_NOTIFY_DEVICE_READY});
    return true;
}
bool CmdStop(CommandContext& c, const Args&) {
    c.session->StopLibrary();
    return true;
}
bool CmdInit(CommandContext& c, const Args&) {
    KZ_BT_SetInitialValue();
    ExpectConfirmed(c, {msgid::kSetLocalName});
    return true;
}
bool CmdScan(CommandContext& c, const Args& a) {
    const bool stop = !a.empty();
    if (stop && a[0] != "stop") return Fail(c, "expected 'stop' or nothing");
    KZ_BT_InquiryDevice(stop ? 0 : 1);
    // The inquiry's confirmation comes when it ends: sent is enough.
    if (stop) ExpectConfirmed(c, {msgid::kSetVisibleMode});
    else ExpectRequests(c, {msgid::kInquiry, msgid::kDisconnectProfile});
    return true;
}
bool CmdPair(CommandContext& c, const Args& a) {
    long index = 0;
    if (!ParseInt(a[0], 0, kMaxLevel, index)) return Fail(c, "INDEX is a number of an inquiry result");
    if (a[1].size() != 4 || a[1].find_first_not_of("0123456789") != std::string::npos)
        return Fail(c, "PIN has four digits");
    KZ_BT_PairRemoteDevice(a[0].c_str(), a[1].c_str());
    ExpectConfirmed(c, {msgid::kConnectProfile}, "no inquiry result " + a[0] + ", or " + kWhyConnectRefused);
    return true;
}
bool CmdConnect(CommandContext& c, const Args& a) {
    long slot = 0;
    if (!ParseInt(a[0], 0, 4, slot)) return Fail(c, "SLOT is 0 to 4");
    if (!PairedSlotUsed(static_cast<int>(slot))) return Refuse(c, "slot " + a[0] + " holds no paired phone");
    KZ_BT_ConnectPairedDevice(a[0].c_str());
    ExpectConfirmed(c, {msgid::kConnectProfile}, kWhyConnectRefused);
    return true;
}
bool CmdRetry(CommandContext& c, const Args&) {
    KZ_BT_PairingRetry();
    ExpectConfirmed(c, {msgid::kConnectProfile}, kWhyConnectRefused);
    return true;
}
bool CmdDisconnect(CommandContext& c, const Args& a) {
    if (!a.empty() && a[0] != "a2dp") return Fail(c, "expected 'a2dp' or nothing");
    if (a.empty()) KZ_BT_DisConnectPairedDevice();
    else KZ_BT_DisconnectA2DP();
    ExpectConfirmed(c, {msgid::kDisconnectProfile}, "no phone connected (or a download runs: it disconnects when the batch ends)");
    return true;
}
bool CmdDelete(CommandContext& c, const Args& a) {
    long slot = 0;
    if (!ParseInt(a[0], 0, 4, slot)) return Fail(c, "SLOT is 0 to 4");
    if (!PairedSlotUsed(static_cast<int>(slot))) return Refuse(c, "slot " + a[0] + " is empty");
    KZ_BT_DeletePairedDevice(a[0].c_str());
    ExpectNotify(c, {KZ_NOTIFY_DEVICE_DELETED});
    return true;
}
bool CmdPaired(CommandContext& c, const Args&) {
    KZ_BT_GetPairedDevices();   // reports each used slot as a device event
    int used = 0;
    for (int slot = 0; slot < kPairedSlots; ++slot) used += PairedSlotUsed(slot) ? 1 : 0;
    c.info = used ? std::to_string(used) + " paired phone" + (used > 1 ? "s" : "") : "no paired phones";
    return true;
}
bool CmdDial(CommandContext& c, const Args& a) {
    if (a[0].find_first_not_of("0123456789+*#pw ") != std::string::npos)
        return Fail(c, "NUMBER has digits, + * # only");
    KZ_BT_Dial(a[0].c_str());
    ExpectConfirmed(c, {msgid::kDial});
    std::vector<uint8_t> number{static_cast<uint8_t>(a[0].size())};
    number.insert(number.end(), a[0].begin(), a[0].end());
    ExpectParameters(c, kDialLengthAt, number);
    return true;
}
bool CmdAnswer(CommandContext& c, const Args&) {
    KZ_BT_Answer();
    ExpectConfirmed(c, {msgid::kAnswer});
    return true;
}
bool CmdHangup(CommandContext& c, const Args&) {
    KZ_BT_Hangup();
    ExpectConfirmed(c, {msgid::kAnswer});
    return true;
}
bool CmdHold(CommandContext& c, const Args&) {
    KZ_BT_Hold1stCall();
    ExpectConfirmed(c, {msgid::kCallHold});
    return true;
}
bool CmdSwitch(CommandContext& c, const Args&) {
    KZ_BT_SwitchCalls();
    ExpectConfirmed(c, {msgid::kCallHold});
    return true;
}
bool CmdEnd(CommandContext& c, const Args& a) {
    if (!a.empty() && a[0] != "waiting") return Fail(c, "expected 'waiting' or nothing");
    if (a.empty()) KZ_BT_End1stCall();
    else KZ_BT_EndWaitingCall();
    ExpectConfirmed(c, {msgid::kCallHold});
    return true;
}
bool CmdDtmf(CommandContext& c, const Args& a) {
    if (a[0].size() != 1 || std::string("0123456789*#ABCD").find(a[0][0]) == std::string::npos)
        return Fail(c, "CHAR is one of 0-9 * # A-D");
    KZ_BT_DTMF(a[0][0]);
    ExpectConfirmed(c, {msgid::kDtmf});
    ExpectParameters(c, kParamsAt, {static_cast<uint8_t>(a[0][0])});
    return true;
}
bool CmdAudio(CommandContext& c, const Args& a) {
    if (a[0] != "car" && a[0] != "phone") return Fail(c, "expected car or phone");
    const bool car = a[0] == "car";
    KZ_BT_AudioTransfer(car ? 1 : 0);
    ExpectConfirmed(c, {car ? msgid::kAudioToHandsfree : msgid::kAudioToPhone});
    return true;
}
bool CmdMute(CommandContext& c, const Args& a) {
    bool on = false;
    if (!ParseOnOff(a[0], on)) return Fail(c, "expected on or off");
    KZ_BT_SetPhoneMute(on ? 1 : 0);
    ExpectConfirmed(c, {msgid::kSetMicVolume});
    return true;
}
bool CmdSetMute(CommandContext& c, const Args& a) {
    bool on = false;
    if (!ParseOnOff(a[0], on)) return Fail(c, "expected on or off");
    KZ_BT_SetMute(on);
    return true;
}
bool Avrcp(CommandContext& c, int operation) {
    KZ_BT_AVRCPCmd(operation);
    ExpectConfirmed(c, {msgid::kAvrcpPassThrough, msgid::kConnectProfile}, kWhyMusicRefused);
    ExpectParameters(c, kPassThroughOpAt, {static_cast<uint8_t>(operation)});
    return true;
}
bool CmdPlay(CommandContext& c, const Args&) { return Avrcp(c, kAvrcpPlay); }
bool CmdPause(CommandContext& c, const Args&) { return Avrcp(c, kAvrcpPause); }
bool CmdNext(CommandContext& c, const Args&) { return Avrcp(c, kAvrcpNext); }
bool CmdPrevious(CommandContext& c, const Args&) { return Avrcp(c, kAvrcpPrevious); }
bool CmdAvrcp(CommandContext& c, const Args& a) {
    long op = 0;
    if (!ParseInt(a[0], 0, 0x7F, op)) return Fail(c, "OP is an AVRCP operation id, 0 to 0x7f");
    return Avrcp(c, static_cast<int>(op));
}
bool CmdSource(CommandContext& c, const Args& a) {
    if (a[0] != "a2dp") return Fail(c, "expected a2dp");
    KZ_BT_SetAudioService();
    c.session->SetSourceChosen();
    return true;
}
bool CmdPhonebook(CommandContext& c, const Args& a) {
    int type = 0;
    if (a[0] == "load") {
        if (a.size() != 1) return Fail(c, "load takes no argument");
        KZ_BT_GetContactsFromFile();
        return true;
    }
    if (a.size() < 2 || !ParseListType(a[1], type)) return Fail(c, "TYPE is contacts, received, dialed or missed");
    if (a[0] == "size") {
        if (a.size() != 2) return Fail(c, "size takes TYPE only");
        KZ_BT_GetPhonBookSize(type);
        ExpectConfirmed(c, {msgid::kPbapPull}, "no phone connected with its phonebook (PBAP)");
        return true;
    }
    if (a[0] == "download") {
        long count = 0;
        if (a.size() != 3 || !ParseInt(a[2], 1, 0xFFFF, count)) return Fail(c, "COUNT is 1 to 65535");
        c.session->host().DownloadRequested(type);
        KZ_BT_GetPhonebookData(type, static_cast<int>(count));
        ExpectConfirmed(c, {msgid::kPbapPull}, "no phone connected with its phonebook (PBAP)");
        return true;
    }
    return Fail(c, "expected size, download or load");
}
bool CmdPin(CommandContext& c, const Args& a) {
    if (a[0].size() != 4 || a[0].find_first_not_of("0123456789") != std::string::npos)
        return Fail(c, "PIN has four digits");
    KZ_BT_SetPinCode(a[0].c_str());
    ExpectStored(c, "PinCode", a[0]);
    return true;
}
bool CmdAutoAnswer(CommandContext& c, const Args& a) {
    bool on = false;
    if (!ParseOnOff(a[0], on)) return Fail(c, "expected on or off");
    KZ_BT_SetAutoAnswer(on ? 1 : 0);
    ExpectStored(c, "AutoAnswer", on ? "0" : "1", a[0]);   // the stored value 0 means on
    return true;
}
bool CmdAutoConnect(CommandContext& c, const Args& a) {
    bool on = false;
    if (!ParseOnOff(a[0], on)) return Fail(c, "expected on or off");
    KZ_BT_SetAutoConnect(on ? 0 : 1);   // the stored value 0 means on
    ExpectStored(c, "AutoConnect", on ? "0" : "1", a[0]);
    return true;
}
bool CmdMicMode(CommandContext& c, const Args& a) {
    if (a.empty()) {
        KZ_BT_GetMicrophoneMode();
        ExpectNotify(c, {KZ_NOTIFY_MIC_MODE});
        return true;
    }
    long mode = 0;
    if (a[0] == "internal") mode = 0;
    else if (a[0] == "external") mode = 1;
    else if (!ParseInt(a[0], 0, kMaxLevel, mode)) return Fail(c, "expected internal, external or a number");
    KZ_BT_SetMicrophoneMode(static_cast<int>(mode));
    ExpectConfirmed(c, {msgid::kSetMicMode});
    ExpectParameters(c, kParamsAt, {static_cast<uint8_t>(mode == 0 ? 1 : 0)});   // the module's flag: internal
    ExpectStored(c, "Microphone", std::to_string(mode), a[0]);
    return true;
}
bool CmdMicGain(CommandContext& c, const Args& a) {
    if (a.empty()) {
        KZ_BT_GetMicrophoneGain();
        ExpectNotify(c, {KZ_NOTIFY_MIC_GAIN});
        return true;
    }
    long gain = 0;
    if (!ParseInt(a[0], 0, kMaxLevel, gain)) return Fail(c, "GAIN is 0 to 255");
    KZ_BT_SetMicrophoneGain(static_cast<int>(gain));
    ExpectConfirmed(c, {msgid::kSetMicGain});
    ExpectParameters(c, kParamsAt, {kMicGainMarker, static_cast<uint8_t>(gain)});
    return true;
}
bool CmdName(CommandContext& c, const Args&) {
    KZ_BT_SetLocalDeviceName();
    ExpectConfirmed(c, {msgid::kSetLocalName});
    return true;
}
bool CmdResetAt(CommandContext& c, const Args&) {
    KZ_BT_ResetATCommand();
    ExpectRequests(c, {msgid::kResetAtCommand});
    return true;
}

// ------------------------------------------------------------- console's own

bool CmdHelp(CommandContext& c, const Args& a) {
    c.session->Note(HelpText(a.empty() ? "" : a[0]));
    return true;
}
bool CmdQuit(CommandContext& c, const Args&) {
    c.quit = true;
    return true;
}
bool CmdWait(CommandContext& c, const Args& a) {
    long code = 0;
    if (ParseInt(a[0], 1, 0xFFFF, code)) c.expect.notifications = {static_cast<uint32_t>(code)};
    else c.expect.eventName = a[0];
    for (size_t i = 1; i < a.size(); ++i) c.expect.eventText += (i > 1 ? " " : "") + a[i];
    return true;
}
bool CmdSleep(CommandContext& c, const Args& a) {
    long ms = 0;
    if (!ParseInt(a[0], 0, 600000, ms)) return Fail(c, "MS is 0 to 600000");
    c.expect.sleepMs = static_cast<uint32_t>(ms);
    return true;
}
bool CmdContacts(CommandContext& c, const Args&) {
    const auto known = c.session->contacts().NamesAndNumbers();
    Event e;
    e.channel = "state";
    e.name = "contacts";
    e.wallMs = Event::NowMs();
    e.fields.push_back({"count", std::to_string(known.size()), true});
    std::string list;
    for (const auto& [name, number] : known) list += (list.empty() ? "" : "; ") + name + " " + number;
    e.fields.push_back({"contacts", list, false});
    if (c.session->json()) {
        c.session->host().Log(e, true);
        return true;
    }
    c.session->output().Print(std::to_string(known.size()) + " numbers of the connected phone's contacts are known" +
                              (known.empty() ? "" : ":"));
    for (const auto& [name, number] : known) c.session->output().Print("  " + name + "  " + number);
    return true;
}
bool CmdStatus(CommandContext& c, const Args&) {
    c.session->ShowState(StatusEvent(GatherState(*c.session)), "status:");
    return true;
}
bool CmdCalls(CommandContext& c, const Args&) {
    c.session->ShowState(CallsEvent(GatherState(*c.session)), "calls:");
    return true;
}
bool CmdInfo(CommandContext& c, const Args&) {
    c.session->ShowState(InfoEvent(*c.session, GatherState(*c.session)), "info:");
    return true;
}

// --------------------------------------------------------------- phone side

kzsim::Phone* PhoneOf(CommandContext& c) { return &c.sim->phone(); }

bool ParseProfile(const std::string& s, kzsim::Profile& p) {
    if (s == "hfp") p = kzsim::Profile::Hfp;
    else if (s == "a2dp") p = kzsim::Profile::A2dp;
    else if (s == "avrcp") p = kzsim::Profile::Avrcp;
    else if (s == "pbap") p = kzsim::Profile::Pbap;
    else return false;
    return true;
}

// A phone action with nothing to act on is refused with what was missing,
// rather than waited for in vain.
constexpr int kSetupIncoming = 1, kSetupOutgoing = 2, kSetupAlerting = 3;
constexpr char kNoHfp[] = "the phone is not connected to the unit (HFP): type 'phone connect hfp' first";

bool PhRing(CommandContext& c, const Args& a) {
    if (!PhoneOf(c)->connected(kzsim::Profile::Hfp)) return Refuse(c, kNoHfp);
    PhoneOf(c)->ring(a[0]);
    ExpectEvents(c, {"call", "calls", "bar"});
    return true;
}
// The library reports nothing for a call waiting while one is active (it
// keeps the number for later): the link acknowledgement is its reaction.
bool PhWaiting(CommandContext& c, const Args& a) {
    if (!PhoneOf(c)->callActive()) return Refuse(c, "no call is active on the phone for another to wait behind");
    PhoneOf(c)->waitingCall(a[0]);
    ExpectEvents(c, {"call", "calls", "bar"});
    c.expect.delivered = true;
    return true;
}
bool PhAnswer(CommandContext& c, const Args&) {
    if (PhoneOf(c)->callSetup() != kSetupIncoming) return Refuse(c, "no incoming call on the phone to answer");
    PhoneOf(c)->answer();
    ExpectEvents(c, {"call", "calls", "audio", "status"});
    return true;
}
bool PhRemoteAnswer(CommandContext& c, const Args&) {
    const int setup = PhoneOf(c)->callSetup();
    if (setup != kSetupOutgoing && setup != kSetupAlerting)
        return Refuse(c, "no dialled call on the phone for the other party to answer");
    PhoneOf(c)->remoteAnswer();
    ExpectEvents(c, {"call", "calls", "audio", "status"});
    return true;
}
bool PhHangup(CommandContext& c, const Args&) {
    if (!PhoneOf(c)->callActive() && PhoneOf(c)->callSetup() == 0) return Refuse(c, "no call on the phone to end");
    PhoneOf(c)->hangup();
    ExpectEvents(c, {"call", "calls", "audio", "status", "bar"});
    return true;
}
// The library asks for track information only when phone music was made the
// source before AVRCP came up: say so rather than leave the user waiting.
constexpr char kSourceHint[] =
    "(no track information will come: type 'source a2dp' before the phone connects AVRCP)";
bool SourceChosen(CommandContext& c) { return c.session && c.session->sourceChosen(); }

bool PhPlay(CommandContext& c, const Args&) {
    if (PhoneOf(c)->playing()) return Refuse(c, "the phone's music is already playing");
    if (c.session && !SourceChosen(c)) c.info = kSourceHint;
    PhoneOf(c)->play();
    ExpectEvents(c, {"music", "status", "bar"});
    return true;
}
bool PhPause(CommandContext& c, const Args&) {
    if (!PhoneOf(c)->playing()) return Refuse(c, "no music playing on the phone to pause");
    PhoneOf(c)->pause();
    ExpectEvents(c, {"music", "status", "bar"});
    return true;
}
bool PhTrack(CommandContext& c, const Args& a) {
    PhoneOf(c)->changeTrack({a[0], a.size() > 1 ? a[1] : "", a.size() > 2 ? a[2] : ""});
    ExpectEvents(c, {"track", "bar"});
    return true;
}
bool PhOpen(CommandContext& c, const Args&) {
    PhoneOf(c)->openMedia();
    ExpectRequests(c, {msgid::kAvrcpPassThrough, msgid::kConnectProfile});
    return true;
}
bool PhClose(CommandContext& c, const Args&) {
    PhoneOf(c)->closeMedia();
    return true;
}
bool PhLevel(CommandContext& c, const Args& a, bool battery) {
    long level = 0;
    if (!ParseInt(a[0], 0, 5, level)) return Fail(c, "N is 0 to 5");
    if (battery) PhoneOf(c)->setBattery(static_cast<uint8_t>(level));
    else PhoneOf(c)->setSignal(static_cast<uint8_t>(level));
    ExpectNotify(c, {battery ? uint32_t{KZ_NOTIFY_BATTERY} : uint32_t{KZ_NOTIFY_SIGNAL}});
    return true;
}
bool PhBattery(CommandContext& c, const Args& a) { return PhLevel(c, a, true); }
bool PhSignal(CommandContext& c, const Args& a) { return PhLevel(c, a, false); }
bool PhAudio(CommandContext& c, const Args& a) {
    if (a[0] != "car" && a[0] != "phone") return Fail(c, "expected car or phone");
    PhoneOf(c)->callAudio(a[0] == "car");
    ExpectNotify(c, {KZ_NOTIFY_CALL_AUDIO});
    return true;
}
bool PhMute(CommandContext& c, const Args& a) {
    bool on = false;
    if (!ParseOnOff(a[0], on)) return Fail(c, "expected on or off");
    PhoneOf(c)->micMute(on);
    ExpectNotify(c, {KZ_NOTIFY_MIC_MUTE});
    return true;
}
bool PhConnect(CommandContext& c, const Args& a) {
    kzsim::Profile p{};
    if (!ParseProfile(a[0], p)) return Fail(c, "PROFILE is hfp, a2dp, avrcp or pbap");
    PhoneOf(c)->connectProfile(p);
    if (p == kzsim::Profile::Avrcp && c.session && !SourceChosen(c)) c.info = kSourceHint;
    if (p == kzsim::Profile::Hfp) ExpectEvents(c, {"phone", "device", "status", "pairing"});
    return true;
}
bool PhDisconnect(CommandContext& c, const Args& a) {
    kzsim::Profile p{};
    if (!ParseProfile(a[0], p)) return Fail(c, "PROFILE is hfp, a2dp, avrcp or pbap");
    if (!PhoneOf(c)->connected(p)) return Refuse(c, "the phone has no " + a[0] + " connection to drop");
    PhoneOf(c)->disconnectProfile(p);
    if (p == kzsim::Profile::Hfp) ExpectNotify(c, {KZ_NOTIFY_CONNECTION});
    return true;
}
bool PhService(CommandContext& c, const Args& a) {
    bool on = false;
    if (!ParseOnOff(a[0], on)) return Fail(c, "expected on or off");
    PhoneOf(c)->setService(on);
    return true;
}
bool PhRoaming(CommandContext& c, const Args& a) {
    bool on = false;
    if (!ParseOnOff(a[0], on)) return Fail(c, "expected on or off");
    PhoneOf(c)->setRoaming(on);
    return true;
}
bool PhReset(CommandContext& c, const Args&) {
    PhoneOf(c)->Reset();
    return true;
}
// Extras of the simulator's own text commands.
bool SimText(CommandContext& c, const std::string& line) {
    const std::string reply = kzsim::RunSimCommand(*c.sim, line);
    if (reply.rfind("usage:", 0) == 0 || reply.rfind("unknown", 0) == 0) return Fail(c, reply);
    c.info = reply;
    return true;
}
std::string Joined(const std::string& head, const Args& a) {
    std::string line = head;
    for (const auto& w : a) line += " " + w;
    return line;
}
bool PhStatus(CommandContext& c, const Args&) { return SimText(c, "status"); }
// A module restarts with the head unit; a restarted library waits for it.
bool PhRestart(CommandContext& c, const Args&) { return SimText(c, "reset"); }
bool PhPinRequest(CommandContext& c, const Args&) { return SimText(c, "pin-request"); }
bool PhAvrcpVersion(CommandContext& c, const Args& a) {
    if (a[0] != "1.0" && a[0] != "1.4") return Fail(c, "expected 1.0 or 1.4");
    return SimText(c, Joined("avrcp", a));
}
bool PhIndication(CommandContext& c, const Args& a) { return SimText(c, Joined("ind", a)); }

// The module stops answering (no acknowledgements, no confirmations), as a
// module that hangs does, or answers again.
bool PhQuiet(CommandContext& c, const Args& a) {
    bool on = false;
    if (!ParseOnOff(a[0], on)) return Fail(c, "expected on or off");
    c.sim->SetAcknowledge(!on);
    c.sim->SetAutoConfirm(!on);
    return true;
}

bool PhModuleReset(CommandContext& c, const Args&) {
    c.sim->PeerReset();
    ExpectNotify(c, {KZ_NOTIFY_DEVICE_READY});
    return true;
}

bool CmdPhone(CommandContext& c, const Args& a);

}  // namespace

const std::vector<Command>& Commands() {
    using G = Group;
    static const std::vector<Command> kTable = {
        {"help", "[COMMAND]", "list the commands, or explain one", 0, 1, G::kConsole, CmdHelp},
        {"quit", "", "stop the library and leave", 0, 0, G::kConsole, CmdQuit},
        {"exit", "", "same as quit", 0, 0, G::kConsole, CmdQuit},
        {"wait", "EVENT|CODE [TEXT]", "wait for an event (its first word or notification code) whose line contains TEXT", 1, -1, G::kConsole, CmdWait},
        {"sleep", "MS", "let the library run for MS milliseconds", 1, 1, G::kConsole, CmdSleep},
        {"contacts", "", "the contact numbers known for caller names", 0, 0, G::kConsole, CmdContacts},
        {"status", "", "link, phone and profiles, calls, audio, music, download at a glance", 0, 0, G::kConsole, CmdStatus},
        {"calls", "", "the calls as the library reported them", 0, 0, G::kConsole, CmdCalls},
        {"info", "", "module version, files, trace and stored settings", 0, 0, G::kConsole, CmdInfo},
        {"start", "", "start the library (KZ_BT_DeviceInit)", 0, 0, G::kLibrary, CmdStart},
        {"stop", "", "stop the library (KZ_BT_CloseDevice)", 0, 0, G::kLibrary, CmdStop},
        {"init", "", "report the settings and connect automatically (KZ_BT_SetInitialValue)", 0, 0, G::kLibrary, CmdInit},
        {"scan", "[stop]", "search for phones, or end the search (KZ_BT_InquiryDevice)", 0, 1, G::kLibrary, CmdScan},
        {"pair", "INDEX PIN", "pair with inquiry result INDEX (KZ_BT_PairRemoteDevice)", 2, 2, G::kLibrary, CmdPair},
        {"connect", "SLOT", "connect paired phone SLOT 0-4 (KZ_BT_ConnectPairedDevice)", 1, 1, G::kLibrary, CmdConnect},
        {"retry", "", "retry the last connection (KZ_BT_PairingRetry)", 0, 0, G::kLibrary, CmdRetry},
        {"disconnect", "[a2dp]", "disconnect the phone, or only its music (KZ_BT_DisConnectPairedDevice, KZ_BT_DisconnectA2DP)", 0, 1, G::kLibrary, CmdDisconnect},
        {"delete", "SLOT", "forget paired phone SLOT (KZ_BT_DeletePairedDevice)", 1, 1, G::kLibrary, CmdDelete},
        {"paired", "", "list the paired phones (KZ_BT_GetPairedDevices)", 0, 0, G::kLibrary, CmdPaired},
        {"dial", "NUMBER", "call NUMBER (KZ_BT_Dial)", 1, 1, G::kLibrary, CmdDial},
        {"answer", "", "answer the incoming call (KZ_BT_Answer)", 0, 0, G::kLibrary, CmdAnswer},
        {"hangup", "", "hang up or reject (KZ_BT_Hangup)", 0, 0, G::kLibrary, CmdHangup},
        {"hold", "", "hold the active call, take the other (KZ_BT_Hold1stCall)", 0, 0, G::kLibrary, CmdHold},
        {"switch", "", "switch between two calls (KZ_BT_SwitchCalls)", 0, 0, G::kLibrary, CmdSwitch},
        {"end", "[waiting]", "end the active call, or the waiting one (KZ_BT_End1stCall, KZ_BT_EndWaitingCall)", 0, 1, G::kLibrary, CmdEnd},
        {"dtmf", "CHAR", "send a DTMF tone 0-9 * # A-D (KZ_BT_DTMF)", 1, 1, G::kLibrary, CmdDtmf},
        {"audio", "car|phone", "move the call audio (KZ_BT_AudioTransfer)", 1, 1, G::kLibrary, CmdAudio},
        {"mute", "on|off", "mute the microphone (KZ_BT_SetPhoneMute)", 1, 1, G::kLibrary, CmdMute},
        {"setmute", "on|off", "KZ_BT_SetMute (does nothing, kept for old hosts)", 1, 1, G::kLibrary, CmdSetMute},
        {"source", "a2dp", "make phone music the audio source (KZ_BT_SetAudioService); needed for play/pause/next and, before AVRCP connects, for track information", 1, 1, G::kLibrary, CmdSource},
        {"play", "", "AVRCP play, 0x44 (KZ_BT_AVRCPCmd)", 0, 0, G::kLibrary, CmdPlay},
        {"pause", "", "AVRCP pause, 0x46", 0, 0, G::kLibrary, CmdPause},
        {"next", "", "AVRCP next track, 0x4B", 0, 0, G::kLibrary, CmdNext},
        {"previous", "", "AVRCP previous track, 0x4C", 0, 0, G::kLibrary, CmdPrevious},
        {"avrcp", "OP", "any AVRCP pass-through operation (KZ_BT_AVRCPCmd)", 1, 1, G::kLibrary, CmdAvrcp},
        {"phonebook", "size|download|load [contacts|received|dialed|missed] [COUNT]",
         "list size (KZ_BT_GetPhonBookSize), download COUNT entries (KZ_BT_GetPhonebookData), load the stored contacts (KZ_BT_GetContactsFromFile)", 1, 3, G::kLibrary, CmdPhonebook},
        {"pin", "PIN", "set the 4-digit PIN code (KZ_BT_SetPinCode)", 1, 1, G::kLibrary, CmdPin},
        {"autoanswer", "on|off", "answer calls automatically (KZ_BT_SetAutoAnswer)", 1, 1, G::kLibrary, CmdAutoAnswer},
        {"autoconnect", "on|off", "connect the last phone at start (KZ_BT_SetAutoConnect)", 1, 1, G::kLibrary, CmdAutoConnect},
        {"micmode", "[internal|external|N]", "set or show the microphone mode (KZ_BT_SetMicrophoneMode, KZ_BT_GetMicrophoneMode)", 0, 1, G::kLibrary, CmdMicMode},
        {"micgain", "[GAIN]", "set or show the microphone gain (KZ_BT_SetMicrophoneGain, KZ_BT_GetMicrophoneGain)", 0, 1, G::kLibrary, CmdMicGain},
        {"name", "", "send the local name from the settings (KZ_BT_SetLocalDeviceName)", 0, 0, G::kLibrary, CmdName},
        {"resetat", "", "reset the module's AT command layer (KZ_BT_ResetATCommand)", 0, 0, G::kLibrary, CmdResetAt},
        {"phone", "ACTION [ARGS]", "act as the simulated phone (see 'help phone')", 1, -1, G::kPhone, CmdPhone},
    };
    return kTable;
}

const std::vector<Command>& PhoneCommands() {
    using G = Group;
    static const std::vector<Command> kTable = {
        {"ring", "NUMBER", "an incoming call from NUMBER", 1, 1, G::kPhone, PhRing},
        {"waiting", "NUMBER", "a second call while talking", 1, 1, G::kPhone, PhWaiting},
        {"answer", "", "the call is answered on the phone", 0, 0, G::kPhone, PhAnswer},
        {"remote-answer", "", "the dialled party answers", 0, 0, G::kPhone, PhRemoteAnswer},
        {"hangup", "", "the call ends", 0, 0, G::kPhone, PhHangup},
        {"audio", "car|phone", "the phone moves the call audio", 1, 1, G::kPhone, PhAudio},
        {"mute", "on|off", "the phone mutes its microphone", 1, 1, G::kPhone, PhMute},
        {"play", "", "music starts", 0, 0, G::kPhone, PhPlay},
        {"pause", "", "music pauses", 0, 0, G::kPhone, PhPause},
        {"track", "TITLE [ARTIST] [ALBUM]", "the track changes (quote words with spaces)", 1, 3, G::kPhone, PhTrack},
        {"open", "", "the phone opens the music stream", 0, 0, G::kPhone, PhOpen},
        {"close", "", "the phone closes the music stream", 0, 0, G::kPhone, PhClose},
        {"battery", "N", "battery level 0-5", 1, 1, G::kPhone, PhBattery},
        {"signal", "N", "signal level 0-5", 1, 1, G::kPhone, PhSignal},
        {"service", "on|off", "network service indicator", 1, 1, G::kPhone, PhService},
        {"roaming", "on|off", "roaming indicator", 1, 1, G::kPhone, PhRoaming},
        {"connect", "hfp|a2dp|avrcp|pbap", "the phone connects a profile on its own", 1, 1, G::kPhone, PhConnect},
        {"disconnect", "hfp|a2dp|avrcp|pbap", "the phone drops a profile", 1, 1, G::kPhone, PhDisconnect},
        {"reset", "", "the phone forgets its calls and connections", 0, 0, G::kPhone, PhReset},
        {"status", "", "link and phone state", 0, 0, G::kPhone, PhStatus},
        {"restart", "", "the module restarts, as when the library is started again", 0, 0, G::kPhone, PhRestart},
        {"pin-request", "", "the phone asks for a PIN", 0, 0, G::kPhone, PhPinRequest},
        {"avrcp", "1.0|1.4", "the phone's AVRCP version", 1, 1, G::kPhone, PhAvrcpVersion},
        {"ind", "ID [BYTE...]", "send any indication (parameters from byte 6)", 1, -1, G::kPhone, PhIndication},
        {"module-reset", "", "the module restarts its link (peer reset)", 0, 0, G::kPhone, PhModuleReset},
        {"quiet", "on|off", "the module stops answering the host, or answers again", 1, 1, G::kPhone, PhQuiet},
    };
    return kTable;
}

namespace {
bool CmdPhone(CommandContext& c, const Args& a) {
    if (!c.sim) return Fail(c, "phone commands need the built-in simulator (no --port)");
    const Command* sub = FindCommand(PhoneCommands(), a[0]);
    if (!sub) {
        const std::string near = NearestCommand(PhoneCommands(), a[0]);
        return Fail(c, "unknown phone action '" + a[0] + "'" +
                           (near.empty() ? "" : "; did you mean 'phone " + near + "'?"));
    }
    const Args rest(a.begin() + 1, a.end());
    const int n = static_cast<int>(rest.size());
    if (n < sub->minArgs || (sub->maxArgs >= 0 && n > sub->maxArgs))
        return Fail(c, "usage: phone " + UsageLine(*sub));
    if (!sub->run(c, rest)) {
        c.error = "usage: phone " + UsageLine(*sub) + ": " + c.error;
        return false;
    }
    return true;
}
}  // namespace

const Command* FindCommand(const std::vector<Command>& table, const std::string& name) {
    for (const auto& c : table)
        if (name == c.name) return &c;
    return nullptr;
}

// Edits (insert, delete, replace, swap of neighbours) from a to b.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

std::string NearestCommand(const std::vector<Command>& table, const std::string& name) {
    std::string best;
    size_t bestDistance = kMaxSuggestDistance + 1;
    for (const auto& c : table) {
        const std::string candidate = c.name;
        size_t d = EditDistance(name, candidate);
        // A typed prefix of a long name counts as close.
        if (name.size() >= 2 && candidate.compare(0, name.size(), name) == 0) d = 1;
        if (d < bestDistance) {
            bestDistance = d;
            best = candidate;
        }
    }
    return bestDistance <= std::max<size_t>(1, std::min(kMaxSuggestDistance, name.size() / 2 + 1)) ? best : "";
}

Args SplitLine(const std::string& line) {
    Args words;
    std::string word;
    bool quoted = false, any = false;
    for (char ch : line) {
        if (ch == '"') {
            quoted = !quoted;
            any = true;
        } else if (!quoted && (ch == ' ' || ch == '\t')) {
            if (any) words.push_back(word);
            word.clear();
            any = false;
        } else {
            word += ch;
            any = true;
        }
    }
    if (any) words.push_back(word);
    return words;
}

const std::vector<std::pair<std::string, std::vector<std::string>>>& HelpTopics() {
    static const std::vector<std::pair<std::string, std::vector<std::string>>> kTopics = {
        {"library", {"start", "stop", "init", "status", "info"}},
        {"phones", {"scan", "pair", "connect", "retry", "disconnect", "delete", "paired"}},
        {"calls", {"dial", "answer", "hangup", "hold", "switch", "end", "dtmf", "audio", "mute", "setmute", "calls"}},
        {"music", {"source", "play", "pause", "next", "previous", "avrcp"}},
        {"phonebook", {"phonebook", "contacts"}},
        {"settings", {"pin", "autoanswer", "autoconnect", "micmode", "micgain", "name", "resetat"}},
        {"console", {"help", "wait", "sleep", "quit", "exit", "phone"}},
    };
    return kTopics;
}

std::string UsageLine(const Command& c) {
    std::string out = c.name;
    for (const auto& word : SplitLine(c.usage)) {
        const bool optional = word.front() == '[';
        out += " " + (optional ? word : "<" + word + ">");
    }
    return out;
}

std::string HelpText(const std::string& topic) {
    std::ostringstream out;
    auto line = [&](const std::string& prefix, const Command& c) {
        std::string head = prefix + UsageLine(c);
        if (head.size() < 36) head += std::string(36 - head.size(), ' ');
        out << "  " << head << " " << c.help << "\n";
    };
    auto phone = [&] {
        out << "phone (acts as the simulated phone; built-in simulator only):\n";
        for (const auto& c : PhoneCommands()) line("phone ", c);
    };
    if (topic == "phone") {
        phone();
        return out.str();
    }
    for (const auto& [name, commands] : HelpTopics())
        if (topic == name) {
            for (const auto& n : commands) line("", *FindCommand(Commands(), n));
            return out.str();
        }
    if (!topic.empty()) {
        if (const Command* c = FindCommand(Commands(), topic)) {
            line("", *c);
            return out.str();
        }
        return "no command or topic '" + topic + "'";
    }
    out << "<required> [optional]; 'help TOPIC' shows one topic\n";
    for (const auto& [name, commands] : HelpTopics()) {
        out << name << ":\n";
        for (const auto& n : commands) line("", *FindCommand(Commands(), n));
    }
    phone();
    return out.str();
}

LineOutcome RunLine(Session& session, const std::string& text) {
    LineOutcome outcome;
    const Args words = SplitLine(text);
    if (words.empty()) return outcome;
    const Command* cmd = FindCommand(Commands(), words[0]);
    if (!cmd) {
        outcome.result = RunResult::kUnknown;
        const std::string near = NearestCommand(Commands(), words[0]);
        outcome.message = "unknown command '" + words[0] + "'" +
                          (near.empty() ? "; type 'help' for the list" : "; did you mean '" + near + "'?");
        return outcome;
    }
    const Args args(words.begin() + 1, words.end());
    const int n = static_cast<int>(args.size());
    outcome.command = cmd->group == Group::kPhone && n > 0 ? "phone " + args[0] : cmd->name;
    const std::string usage = "usage: " + UsageLine(*cmd);
    if (n < cmd->minArgs || (cmd->maxArgs >= 0 && n > cmd->maxArgs)) {
        outcome.result = RunResult::kUsage;
        outcome.message = usage;
        return outcome;
    }
    if (cmd->group == Group::kLibrary && !session.running() && cmd->run != CmdStart) {
        outcome.result = RunResult::kUnavailable;
        outcome.message = "the library is stopped; type 'start'";
        return outcome;
    }
    CommandContext ctx{&session, session.simulator(), {}, {}, {}, {}, false};
    if (!cmd->run(ctx, args)) {
        outcome.result = cmd->group == Group::kPhone ? RunResult::kUnavailable : RunResult::kUsage;
        outcome.message = cmd->group == Group::kPhone ? ctx.error : usage + ": " + ctx.error;
        if (ctx.error.rfind("usage:", 0) == 0) {
            outcome.result = RunResult::kUsage;
            outcome.message = ctx.error;
        }
        return outcome;
    }
    outcome.expect = ctx.expect;
    outcome.message = ctx.info;
    if (!ctx.refused.empty()) {
        outcome.result = RunResult::kFailed;
        outcome.message = outcome.command + " failed: " + ctx.refused;
    }
    if (ctx.quit) outcome.result = RunResult::kQuit;
    return outcome;
}

CommandMarks MarksNow(Session& s) {
    s.wire().Poll(KzGetTickCount());
    return {s.host().Mark(), s.wire().Mark()};
}

namespace {

std::string Squeezed(const std::string& text) {
    std::string out;
    for (char ch : text)
        if (ch != ' ' || (!out.empty() && out.back() != ' ')) out += ch;
    return out;
}

bool EventSeen(Session& s, const Expect& e, size_t hostMark) {
    for (const auto& ev : s.host().Since(hostMark)) {
        for (uint32_t code : e.notifications)
            if (ev.channel == "notify" && ev.code == code) return true;
        for (const auto& name : e.anyEvents)
            if (ev.name == name) return true;
        // Words of the line match however the columns are spaced.
        if (!e.eventName.empty() && ev.name == e.eventName &&
            Squeezed(ev.text).find(Squeezed(e.eventText)) != std::string::npos)
            return true;
    }
    return false;
}

bool PhoneConnected(Session& s) {
    bool connected = false;
    for (const auto& ev : s.host().Since(0))
        if (ev.channel == "notify" && ev.code == KZ_NOTIFY_CONNECTION)
            connected = ev.Number("value") == KZ_CONNECTION_CONNECTED;
    return connected;
}

std::string StatusReason(Session& s, int status) {
    return (PhoneConnected(s) ? "refused by the module" : "no phone connected") + std::string(" (status ") +
           std::to_string(status) + ")";
}

std::string Shown(const Expect& e) {
    return e.storedShown.empty() || e.storedShown == e.storedValue ? e.storedValue
                                                                   : e.storedShown + " (" + e.storedValue + ")";
}

// The stored value against the wanted one; "" when they agree.
std::string StoredMismatch(const Expect& e) {
    const auto stored = ReadIniValue(UserSettingsPath(), e.storedSection, e.storedKey);
    if (stored && *stored == e.storedValue) return "";
    return "the settings file holds " + (stored ? "'" + *stored + "'" : std::string("nothing")) + ", not '" +
           e.storedValue + "'";
}

}  // namespace

CommandOutcome AwaitOutcome(Session& s, const std::string& command, const Expect& e, const CommandMarks& marks,
                            uint32_t ms) {
    CommandOutcome out;
    auto failed = [&](const std::string& why, int status = -1) {
        out.ok = false;
        out.status = status;
        out.text = command + " failed: " + why;
        return out;
    };
    if (e.sleepMs) {
        s.Pump(std::min(e.sleepMs, ms));
        return e.sleepMs <= ms ? out : failed("timed out");
    }
    if (!e.storedKey.empty()) {
        s.Pump(0);
        for (const auto& ev : s.host().Since(marks.host))
            if (ev.channel == "notify" && ev.code == KZ_NOTIFY_SETTING_NOT_SAVED)
                return failed("the library could not save " + ev.Text("key") + " (" + StoredMismatch(e) + ")");
        if (const std::string problem = StoredMismatch(e); !problem.empty()) return failed(problem);
        if (e.request.ids.empty()) {
            out.text = command + " stored: " + Shown(e);
            return out;
        }
    }
    if (e.Empty()) {
        s.Pump(0);
        return out;
    }
    WireTap& wire = s.wire();
    long sent = -1;
    const TappedMessage* confirmation = nullptr;
    bool delivered = false;
    const bool done = s.WaitFor(
        [&] {
            wire.Poll(KzGetTickCount());
            if (EventSeen(s, e, marks.host)) return true;
            if (auto* sim = s.simulator(); sim && e.delivered && sim->WaitOutgoingIdle(0)) return delivered = true;
            if (sent < 0) sent = wire.FindRequest(marks.wire, e.request);
            if (sent < 0) return false;
            if (!e.confirm) return true;
            confirmation = wire.FindConfirm(static_cast<size_t>(sent));
            return confirmation != nullptr;
        },
        ms);
    if (!done) {
        if (!e.request.ids.empty() && sent < 0 && e.notifications.empty() && e.anyEvents.empty() && e.eventName.empty())
            return failed("the library sent nothing" + (e.whyNothingSent.empty() ? "" : " (" + e.whyNothingSent + ")"));
        if (sent >= 0 && e.confirm)
            return failed("no confirmation from the module within " + std::to_string((ms + 999) / 1000) + " s");
        return failed("not seen within " + std::to_string((ms + 999) / 1000) + " s");
    }
    if (confirmation) {
        out.status = confirmation->status;
        if (confirmation->status > 0) return failed(StatusReason(s, confirmation->status), confirmation->status);
        out.text = command + " ok" + (e.storedKey.empty() ? "" : ", stored: " + Shown(e));
    }
    return out;
}

bool AwaitExpect(Session& s, const Expect& e, const CommandMarks& marks, uint32_t ms) {
    return AwaitOutcome(s, "", e, marks, ms).ok;
}

Event OutcomeEvent(const std::string& command, const CommandOutcome& o) {
    Event e;
    e.channel = "outcome";
    e.name = o.ok ? "ok" : "failed";
    e.text = o.text.empty() ? command + " ok" : o.text;
    e.fields = {{"command", command, false}, {"ok", o.ok ? "true" : "false", true}};
    if (o.status >= 0) e.fields.push_back({"status", std::to_string(o.status), true});
    return e;
}

std::string CheckLine(const std::string& text) {
    const Args words = SplitLine(text);
    if (words.empty()) return "";
    const Command* cmd = FindCommand(Commands(), words[0]);
    if (!cmd) {
        const std::string near = NearestCommand(Commands(), words[0]);
        return "unknown command '" + words[0] + "'" +
               (near.empty() ? "; type 'help' for the list" : "; did you mean '" + near + "'?");
    }
    const int n = static_cast<int>(words.size()) - 1;
    if (n < cmd->minArgs || (cmd->maxArgs >= 0 && n > cmd->maxArgs))
        return "usage: " + UsageLine(*cmd);
    if (cmd->group == Group::kPhone) {
        const Command* sub = FindCommand(PhoneCommands(), words[1]);
        if (!sub) return "unknown phone action '" + words[1] + "'";
        const int m = n - 1;
        if (m < sub->minArgs || (sub->maxArgs >= 0 && m > sub->maxArgs))
            return "usage: phone " + UsageLine(*sub);
    }
    return "";
}

LineOutcome RunPhoneLine(kzsim::ModuleSimulator& sim, const std::string& text) {
    LineOutcome outcome;
    Args words = SplitLine(text);
    if (words.empty()) return outcome;
    if (words[0] == "phone") words.erase(words.begin());
    if (words.empty() || words[0] == "help") {
        outcome.message = HelpText("phone");
        return outcome;
    }
    if (words[0] == "quit" || words[0] == "exit") {
        outcome.result = RunResult::kQuit;
        return outcome;
    }
    CommandContext ctx{nullptr, &sim, {}, {}, {}, {}, false};
    if (!CmdPhone(ctx, words)) {
        outcome.result = ctx.error.rfind("usage:", 0) == 0 ? RunResult::kUsage : RunResult::kUnknown;
        outcome.message = ctx.error;
    } else if (!ctx.refused.empty()) {
        outcome.result = RunResult::kFailed;
        outcome.message = words[0] + " failed: " + ctx.refused;
    } else {
        outcome.message = ctx.info;
    }
    return outcome;
}

std::vector<std::string> ArgumentWords(const std::string& commandLine) {
    const Args words = SplitLine(commandLine);
    if (words.empty()) return {};
    const Command* cmd = FindCommand(Commands(), words[0]);
    if (!cmd) return {};
    std::string usage = cmd->usage;
    if (cmd->group == Group::kPhone) {
        if (words.size() == 1) {
            std::vector<std::string> names;
            for (const auto& c : PhoneCommands()) names.push_back(c.name);
            return names;
        }
        const Command* sub = FindCommand(PhoneCommands(), words[1]);
        if (!sub) return {};
        usage = sub->usage;
    } else if (words.size() > 1) {
        // Only the first argument's choices for other commands, and the
        // second of "phonebook".
        if (std::string(cmd->name) != "phonebook" || words.size() > 2) return {};
        usage = "contacts|received|dialed|missed";
    } else if (std::string(cmd->name) == "help") {
        std::vector<std::string> names;
        for (const auto& c : Commands()) names.push_back(c.name);
        names.push_back("phone");
        return names;
    }
    const std::string first = usage.substr(0, usage.find(' '));
    std::vector<std::string> choices;
    std::string current;
    for (char ch : first) {
        if (ch == '|') {
            choices.push_back(current);
            current.clear();
        } else if (ch != '[' && ch != ']') {
            current += ch;
        }
    }
    choices.push_back(current);
    // Placeholders (NUMBER, N) are not words to complete.
    std::erase_if(choices, [](const std::string& w) {
        return w.empty() || std::isupper(static_cast<unsigned char>(w[0]));
    });
    return choices;
}

}  // namespace kztool
