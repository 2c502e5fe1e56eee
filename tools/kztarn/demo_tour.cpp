// The tour's steps and checks. The checks read what the host windows
// received, what the simulator recorded on the line, and the files.
#include "demo_tour.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "KZ_Tarn.h"
#include "channel/module_ids.h"
#include "kz_platform.h"
#include "module_simulator.h"
#include "phone.h"
#include "session.h"
#include "sim_codec.h"

namespace kztool {

namespace {

namespace msgid = kz::msgid;

// ------------------------------------------------------------ the phone

constexpr size_t kTourContacts = 30;

// The console's three contacts and enough others that a download takes ten
// batches of three, so that a call can land in the middle of it.
std::vector<kzsim::Contact> TourContacts() {
    static const char* const kGiven[] = {"Anna", "Ben", "Clara", "David", "Eva", "Felix", "Greta", "Hans", "Ida"};
    static const char* const kFamily[] = {"Becker", "Schmidt", "Wagner"};
    std::vector<kzsim::Contact> contacts = {
        {"John Doe", "Doe", "John", {{"HOME", "+49 89 765430"}, {"CELL", "+49 171 2233445"}}},
        {"Erika Mustermann", "Mustermann", "Erika", {{"CELL", "0151 98765432"}}},
        {"Office", "", "", {{"WORK", "+49 30 1234567"}}},
    };
    for (const char* given : kGiven)
        for (const char* family : kFamily) {
            char number[32];
            std::snprintf(number, sizeof number, "+49 40 5550%02zu", contacts.size() + 1);
            contacts.push_back({std::string(given) + " " + family, family, given, {{"CELL", number}}});
        }
    return contacts;
}

// ------------------------------------------------------- reading the record

std::vector<Event> EventsSince(Session& s, size_t mark) { return s.host().Since(mark); }

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char b[4];
    for (uint8_t x : bytes) {
        std::snprintf(b, sizeof b, "%s%02X", s.empty() ? "" : " ", x);
        s += b;
    }
    return s;
}

// Module messages in the simulator's record of the wire, in order.
struct WireMessage {
    bool fromHost;
    uint16_t id;
};
std::vector<WireMessage> WireMessages(Session& s) {
    std::vector<WireMessage> out;
    for (const auto& f : s.simulator()->Wire()) {
        const kzsim::DecodedPacket p = kzsim::DecodeFrame(f.bytes);
        if (p.error == kzsim::DecodeError::None && p.reliable) out.push_back({f.fromHost, kzsim::MessageId(p.payload)});
    }
    return out;
}

// ------------------------------------------------------ checks of the line

constexpr size_t kLinkKeyAt = 14;
constexpr size_t kLinkKeySize = 16;
constexpr uint8_t kNoKeyByte = 0xFF;
constexpr size_t kParamAt = 6;
constexpr size_t kPullCountAt = 16;   // big-endian; 0 asks for the size only

bool LinkUp(Session& s, const Marks&) {
    if (!s.simulator()->WaitLinkUp(kStepTimeoutMs)) return false;
    s.output().Print("      sync, sync-resp, conf, conf-resp exchanged: the BCSP link is up");
    return true;
}

bool ModuleReadyAnswered(Session& s, const Marks&) {
    std::vector<uint8_t> res;
    s.WaitFor(
        [&] {
            for (const auto& m : s.simulator()->Received())
                if (m.id == msgid::kModuleReady) {
                    res = m.bytes;
                    return true;
                }
            return false;
        },
        kStepTimeoutMs);
    if (res.empty()) return false;
    s.output().Print("      the module said it is ready (indication 48); the library answered RES " + Hex(res));
    return true;
}

// The five settings the library reports when it starts, with their codes.
bool SettingsShown(Session& s, const Marks& m) {
    static const uint32_t kCodes[] = {KZ_NOTIFY_PIN_CODE, KZ_NOTIFY_AUTO_CONNECT, KZ_NOTIFY_AUTO_ANSWER,
                                      KZ_NOTIFY_MIC_MODE, KZ_NOTIFY_MIC_GAIN};
    std::string line;
    for (uint32_t code : kCodes) {
        for (const auto& e : EventsSince(s, m.host)) {
            if (e.channel != "notify" || e.code != code) continue;
            const int64_t value = e.Number("value");
            line += (line.empty() ? "" : ", ") + e.name + " " + e.text + " (" + std::to_string(code) +
                    (value >= 0 && std::to_string(value) != e.text ? ", value " + std::to_string(value) : "") + ")";
            break;
        }
    }
    s.output().Print("      " + line);
    return true;
}

// The module's CFM 82 went out and the library acknowledged it.
bool DialConfirmed(Session& s, const Marks&) {
    auto* sim = s.simulator();
    const bool sent = s.WaitFor(
        [&] {
            for (const auto& w : WireMessages(s))
                if (!w.fromHost && w.id == msgid::kDial) return true;
            return false;
        },
        kStepTimeoutMs);
    if (!sent || !sim->WaitOutgoingIdle(kStepTimeoutMs)) return false;
    s.output().Print("      the module confirmed the dial (CFM 82) and the library acknowledged the confirmation");
    return true;
}

// The library's own REQ_ANSWER(1) came on its fifth one-second tick: four
// to five seconds after the incoming call was reported.
bool AnsweredOnFifthTick(Session& s, const Marks& m) {
    const auto events = EventsSince(s, m.host);
    const long incoming = FirstIndex(events, {"call", "incoming"});
    const long active = FirstIndex(events, {"call", "active"});
    if (incoming < 0 || active < incoming) return false;
    bool byLibrary = false;
    const auto received = s.simulator()->Received();
    for (size_t i = m.sim; i < received.size(); ++i)
        if (received[i].id == msgid::kAnswer && received[i].bytes.size() > kParamAt && received[i].bytes[kParamAt] == 1)
            byLibrary = true;
    const uint32_t ms = events[active].tickMs - events[incoming].tickMs;
    char line[160];
    std::snprintf(line, sizeof line, "      answered by the library itself %.1f s after the call came in (its fifth one-second tick)",
                  ms / 1000.0);
    s.output().Print(line);
    constexpr uint32_t kFourTicksMs = 3500;   // the first tick may come at once
    return byLibrary && ms >= kFourTicksMs;
}

// The pull the library asked for last has been delivered whole: its
// transfer-complete indication is on the line. A hang-up sent now reaches
// the library after that batch, so the call's end finds the download paused.
bool BatchDelivered(Session& s) {
    long lastPull = -1, lastComplete = -1;
    const auto wire = WireMessages(s);
    for (size_t i = 0; i < wire.size(); ++i) {
        if (wire[i].fromHost && wire[i].id == msgid::kPbapPull) lastPull = static_cast<long>(i);
        if (!wire[i].fromHost && wire[i].id == msgid::kPbapComplete) lastComplete = static_cast<long>(i);
    }
    return lastPull >= 0 && lastComplete > lastPull;
}

// Contact positions (from 0) announced before and after the call's end.
struct Resume {
    long lastBefore = -1;
    long firstAfter = -1;
};
Resume ContactsAroundCall(Session& s, size_t mark) {
    Resume r;
    const auto events = EventsSince(s, mark);
    const long restart = FirstIndex(events, {"download", "restarted after the call"});
    if (restart < 0) return r;
    for (long i = 0; i < static_cast<long>(events.size()); ++i) {
        if (events[i].name != "contact") continue;
        if (i < restart) r.lastBefore = events[i].Number("index");
        else if (r.firstAfter < 0) r.firstAfter = events[i].Number("index");
    }
    return r;
}

bool PausedByCall(Session& s, const Marks& m) {
    const Resume r = ContactsAroundCall(s, m.host);
    if (r.lastBefore < 0) return false;
    s.output().Print("      the download stopped after contact " + std::to_string(r.lastBefore + 1) + "/" +
                     std::to_string(kTourContacts) + " while the phone rang");
    return r.lastBefore + 1 < static_cast<long>(kTourContacts);
}

bool ResumedWhereItStopped(Session& s, const Marks& m) {
    const Resume r = ContactsAroundCall(s, m.host);
    s.output().Print("      after the call lists it went on with contact " + std::to_string(r.firstAfter + 1) + "/" +
                     std::to_string(kTourContacts));
    return r.lastBefore >= 0 && r.firstAfter == r.lastBefore + 1;
}

// The reconnection used the phone's stored link key (no PIN was asked),
// and tarn.ini on disk remembers the phone as the current one.
bool RememberedPhone(Session& s, const Marks& m) {
    bool keyGiven = false, pinAsked = false;
    const auto received = s.simulator()->Received();
    for (size_t i = m.sim; i < received.size(); ++i) {
        const auto& b = received[i].bytes;
        if (received[i].id == msgid::kLinkKeyRequest && b.size() >= kLinkKeyAt + kLinkKeySize)
            keyGiven = std::any_of(b.begin() + kLinkKeyAt, b.begin() + kLinkKeyAt + kLinkKeySize,
                                   [](uint8_t x) { return x != 0 && x != kNoKeyByte; });
        if (received[i].id == msgid::kPinRequest) pinAsked = true;
    }
    FILE* f = KzFopen("\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini", "r");
    if (!f) return false;
    std::string remembered;
    char line[128];
    while (std::fgets(line, sizeof line, f)) {
        std::string l(line);
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
        if (l.rfind("name=", 0) == 0 || l.rfind("address=", 0) == 0 || l.rfind("CurrIndex=", 0) == 0)
            remembered += (remembered.empty() ? "" : ", ") + l;
    }
    std::fclose(f);
    s.output().Print("      tarn.ini on disk: " + remembered);
    s.output().Print(std::string("      the module asked for the link key; the library ") +
                     (keyGiven ? "gave the one stored in tarn.dat" : "had none to give") +
                     (pinAsked ? ", and a PIN was asked" : ", no PIN was asked"));
    return !remembered.empty() && keyGiven && !pinAsked;
}

// Contacts came from the files, and nothing was pulled from the phone.
bool LoadedFromFiles(Session& s, const Marks& m) {
    size_t contacts = 0, numbers = 0;
    for (const auto& e : EventsSince(s, m.host)) {
        if (e.name == "contact") ++contacts;
        if (e.name == "number") ++numbers;
    }
    size_t pulls = 0;
    const auto received = s.simulator()->Received();
    for (size_t i = m.sim; i < received.size(); ++i) {
        const auto& b = received[i].bytes;
        if (received[i].id == msgid::kPbapPull && b.size() > kPullCountAt + 1 && (b[kPullCountAt] | b[kPullCountAt + 1]))
            ++pulls;
    }
    s.output().Print("      " + std::to_string(contacts) + " contacts and " + std::to_string(numbers) +
                     " further numbers read from PhoneBook00.dat and PhoneBookNum00.dat; " +
                     (pulls ? std::to_string(pulls) + " downloads" : "nothing downloaded"));
    return contacts == kTourContacts && pulls == 0;
}

bool CloseTwice(Session& s, const Marks&) {
    const int first = s.StopLibrary();
    const int second = KZ_BT_CloseDevice();
    s.output().Print("      KZ_BT_CloseDevice returned " + std::to_string(first) + " (port closed); again: " +
                     std::to_string(second) + " (not open)");
    return first != -1 && second == -1;
}

// The user interface answers each call-list size with its download.
const std::vector<Reaction> kFetchCallLists = {
    {{"size", "dialed list has"}, "phonebook download dialed {count}"},
    {{"size", "received list has"}, "phonebook download received {count}"},
    {{"size", "missed list has"}, "phonebook download missed {count}"},
};

}  // namespace

bool Matches(const Event& e, const Want& w) {
    return e.name == w.name && e.text.find(w.text) != std::string::npos;
}

bool Seen(Session& s, size_t mark, const Want& w) {
    for (const auto& e : EventsSince(s, mark))
        if (Matches(e, w)) return true;
    return false;
}

long FirstIndex(const std::vector<Event>& events, const Want& w) {
    for (size_t i = 0; i < events.size(); ++i)
        if (Matches(events[i], w)) return static_cast<long>(i);
    return -1;
}

void SetUpTourPhone(kzsim::Phone& phone) {
    phone.setContacts(TourContacts());
    phone.setCallList(kzsim::ListType::Dialed, {{"Office", "+49301234567", "20240501T090000"},
                                                {"John Doe", "+4989765430", "20240430T181200"},
                                                {"Anna Becker", "+4940555004", "20240430T120500"},
                                                {"Erika Mustermann", "015198765432", "20240429T201500"}});
    phone.setCallList(kzsim::ListType::Received, {{"John Doe", "+4989765430", "20240501T081500"},
                                                  {"Office", "+49301234567", "20240430T110000"}});
    phone.setCallList(kzsim::ListType::Missed, {{"", "+4940555666", "20240430T193000"},
                                                {"Erika Mustermann", "015198765432", "20240428T074500"}});
}


const std::vector<Step>& Tour() {
    static const std::vector<Step> kSteps = {
        {"the library announces its start to \"NavigRecive\"", {}, {{"status", "library started"}}},
        {"the module brings the link up", {}, {}, LinkUp, true},
        {"the module-ready indication is answered", {}, {}, ModuleReadyAnswered, true},
        {"module link up and device ready", {}, {{"ready", "device ready"}}, nullptr, true},
        {"settings read at start, with their defaults",
         {},
         {{"pin", "4706"}, {"autoconnect", "on"}, {"autoanswer", "off"}, {"micmode", "internal"}, {"micgain", "8"}},
         SettingsShown},
        {"search for phones", {"scan"}, {{"found", "Pixel Demo"}}},
        {"pair and connect a phone", {"pair 0 1234"}, {{"phone", "phone connected"}, {"device", "connected"}}, nullptr, true},
        {"call lists downloaded on connect: dialed, received, missed",
         {},
         {{"dialed", "4/4"}, {"received", "2/2"}, {"missed", "2/2"}, {"download", "call lists finished"}},
         nullptr, false, kFetchCallLists},
        // Leaving the pairing screen: from now on the phone's stored key is used.
        {"end the search", {"scan stop"}, {{"inquiry", "over"}}},
        {"signal and battery levels", {"phone signal 4", "phone battery 3"}, {{"signal", "4"}, {"battery", "3"}}},
        {"phonebook size", {"phonebook size contacts"}, {{"size", "contact list has 30"}}},
        // The phone rings when the second batch of three begins to arrive.
        {"phonebook download, three contacts a batch",
         {"phonebook download contacts 30"},
         {{"contact", "1/30 John Doe"}, {"contact", "4/30 Anna Becker"}},
         nullptr, false, {{{"contact", "4/30 Anna Becker"}, "phone ring \"+49 40 555666\"", nullptr, true}}},
        {"a call pauses the download; rejected, it ends",
         {},
         {{"call", "incoming  +49 40 555666"}, {"status", "call ended"}, {"download", "restarted after the call"}},
         PausedByCall, false, {{{"call", "incoming  +49 40 555666"}, "hangup", BatchDelivered}}},
        {"after the call: call lists again, then the phonebook goes on where it stopped",
         {},
         {{"missed", "2/2"}, {"contact", "30/30"}, {"download", "phonebook finished"}},
         ResumedWhereItStopped, false, kFetchCallLists},
        {"incoming call with the caller's name", {"phone ring \"+49 89 765430\""}, {{"call", "John Doe"}}},
        {"answer the call", {"answer"}, {{"audio", "car"}}},
        {"move call audio to the phone and back", {"audio phone", "audio car"}, {{"audio", "phone"}, {"audio", "car"}}},
        {"DTMF tone", {"dtmf 5"}, {}},
        {"hang up", {"hangup"}, {{"status", "call ended"}}},
        {"outgoing call", {"dial 0891234567"}, {{"call", "outgoing"}}, DialConfirmed},
        {"the called party answers", {"phone remote-answer"}, {{"audio", "car"}}},
        {"end the outgoing call", {"phone hangup"}, {{"status", "call ended"}}},
        {"auto-answer: a call answered on the fifth one-second tick",
         {"autoanswer on", "phone ring \"0151 98765432\""},
         {{"call", "incoming  0151 98765432"}, {"call", "active    0151 98765432"}},
         AnsweredOnFifthTick},
        {"a second call waits; switch to it, the first is held",
         {"phone waiting \"+49 30 1234567\"", "switch"},
         {{"held", "1"}, {"call", "active    +49 30 1234567"}}},
        {"hang up both calls, auto-answer off again", {"hangup", "autoanswer off"}, {{"status", "call ended"}}},
        // The library opens the media channel on its fourth one-second tick
        // after A2DP connects, then sends PLAY: the phone starts streaming.
        {"music playing with track information", {"source a2dp", "play"}, {{"music", "playing"}, {"track", ""}}},
        {"next track", {"next"}, {{"track", "So What"}}},
        {"pause", {"pause"}, {{"music", "paused"}}},
        {"microphone mute", {"mute on", "mute off"}, {}},
        {"microphone gain", {"micgain 9"}, {{"micgain", "9"}}},
        {"PIN code", {"pin 4321"}, {{"pin", "4321"}}},
        {"restart the library: it reconnects to the remembered phone by itself",
         {"stop", "start", "init"},
         {{"device", "00 Pixel Demo  001a7dda7113  connected"}, {"phone", "phone connected"}, {"connected", "complete"}},
         RememberedPhone, true},
        {"the phonebook loaded from its files, without a download",
         {"phonebook load"},
         {{"contact", "1/30 John Doe"}, {"contact", "30/30"}, {"number", "1.2"}},
         LoadedFromFiles},
        {"disconnect the phone", {"disconnect"}, {{"phone", "disconnected"}}},
        {"close the library (a second close reports it is not open)", {}, {}, CloseTwice},
    };
    return kSteps;
}

}  // namespace kztool
