#include "session_state.h"

#include "channel/module_ids.h"
#include "KZ_Tarn.h"
#include "session.h"
#include "stored_settings.h"

namespace kztool {

namespace {
constexpr size_t kParamAt = 6;
constexpr size_t kConnectedProfileAt = 13;   // after status and the phone's address
constexpr int kStatusLinkLost = 10;

const char* ProfileWord(uint8_t p) {
    switch (p) {
        case 1: return "HFP";
        case 3: return "A2DP";
        case 4: return "AVRCP";
        case 5: return "PBAP";
        default: return nullptr;
    }
}

void ApplyNotification(SessionState& s, const Event& e) {
    switch (e.code) {
        case KZ_NOTIFY_DEVICE_READY: s.moduleReady = e.Number("value") == 1; break;
        case KZ_NOTIFY_MODULE_VERSION: s.moduleVersion = e.Text("version"); break;
        case KZ_NOTIFY_CONNECTION:
            s.phoneConnected = e.Number("value") == KZ_CONNECTION_CONNECTED;
            if (!s.phoneConnected) {
                s.calls.clear();
                s.waitingCall.clear();
                s.profiles.clear();
            }
            break;
        case KZ_NOTIFY_DEVICE_INFO:
            if (e.Number("connected") == 1) {
                s.phoneName = e.Text("name");
                s.phoneAddress = e.Text("address");
            }
            break;
        case KZ_NOTIFY_CALL_RECORD:
            // A report without the number says no more than the state; a
            // number is one call, whatever index reported it last.
            if (!e.Text("number").empty())
                std::erase_if(s.calls, [&](const auto& kv) { return kv.second.find(e.Text("number")) != std::string::npos; });
            if (!e.Text("number").empty() || !s.calls.count(e.Number("index"))) s.calls[e.Number("index")] = e.text;
            if (e.Text("number") == s.waitingCall) s.waitingCall.clear();
            break;
        case KZ_NOTIFY_CALL_COUNT:
            if (e.Number("value") == 0) {
                s.calls.clear();
                s.waitingCall.clear();
            }
            break;
        case KZ_NOTIFY_CALL_AUDIO: s.audio = e.text; break;
        case KZ_NOTIFY_PLAY_STATE: s.music = e.text; break;
        case KZ_NOTIFY_TRACK_INFO: s.track = e.text; break;
        case KZ_NOTIFY_PHONEBOOK_SIZE: s.listSizes[e.Text("list")] = e.Number("count"); break;
        case KZ_NOTIFY_PHONEBOOK_ENTRY: {
            int64_t& n = s.listEntries[e.Text("list")];
            n = std::max(n, e.Number("index") + 1);
            break;
        }
        default: break;
    }
}

std::string Joined(const std::vector<std::string>& words, const char* separator) {
    std::string out;
    for (const auto& w : words) out += (out.empty() ? "" : separator) + w;
    return out;
}

Event StateEvent(const char* name, std::vector<Field> fields) {
    Event e;
    e.channel = "state";
    e.name = name;
    e.fields = std::move(fields);
    e.wallMs = Event::NowMs();
    return e;
}
}  // namespace

SessionState GatherState(Session& session) {
    SessionState s;
    for (const auto& e : session.host().Since(0)) {
        if (e.channel == "notify") ApplyNotification(s, e);
        if (e.channel == "status" && e.code == KZ_NAVIG_STATE_W && e.Number("lParam") == KZ_NAVIG_CALL_ENDED_L) {
            s.calls.clear();
            s.waitingCall.clear();
        }
        if (e.channel == "wire" && e.code == kz::msgid::kWaitingNumber)
            s.waitingCall = e.Text("number").empty() ? "(number not known yet)" : e.Text("number");
    }
    // Profiles from the wire: the module's indications, and the host's
    // connect and disconnect requests once confirmed with status 0.
    uint8_t requested = 0;
    for (const auto& m : session.wire().messages()) {
        const auto byte = [&m](size_t at) { return at < m.bytes.size() ? m.bytes[at] : uint8_t(0); };
        const char* p = nullptr;
        bool on = false;
        if (m.fromHost && m.id == kz::msgid::kConnectProfile) requested = byte(kParamAt);
        else if (!m.fromHost && m.id == kz::msgid::kConnectProfile && m.status == 0) p = ProfileWord(requested), on = true;
        else if (!m.fromHost && m.id == kz::msgid::kDisconnectProfile && m.status == 0) p = ProfileWord(byte(kParamAt + 1));
        else if (!m.fromHost && m.id == kz::msgid::kProfileConnected && m.status == 0) p = ProfileWord(byte(kConnectedProfileAt)), on = true;
        else if (!m.fromHost && m.id == kz::msgid::kProfileDisconnected && (m.status == 0 || m.status == kStatusLinkLost))
            p = ProfileWord(byte(kParamAt + 1));
        if (p) s.profiles[p] = on;
    }
    if (!s.phoneConnected) s.profiles.clear();
    s.moduleAnswering = session.wire().moduleAnswering();
    s.download = session.host().DownloadWords();
    return s;
}

Event StatusEvent(const SessionState& s) {
    std::vector<std::string> profiles, lists;
    for (const auto& [p, on] : s.profiles)
        if (on) profiles.push_back(p);
    for (const auto& [list, n] : s.listEntries) {
        auto size = s.listSizes.find(list);
        lists.push_back(list + " " + std::to_string(n) +
                        (size != s.listSizes.end() ? "/" + std::to_string(size->second) : ""));
    }
    const std::string link = !s.moduleAnswering ? "module lost" : s.moduleReady ? "module ready" : "not ready";
    const std::string phone = s.phoneConnected ? "connected " + s.phoneName + " " + s.phoneAddress : "none";
    return StateEvent("status", {
        {"link", link, false},
        {"phone", phone, false},
        {"profiles", profiles.empty() ? "none" : Joined(profiles, " "), false},
            {"calls", std::to_string(s.calls.size() + (s.waitingCall.empty() ? 0 : 1)), true},
        {"audio", s.audio.empty() ? "-" : s.audio, false},
        {"music", (s.music.empty() ? "-" : s.music) + (s.track.empty() ? "" : ", " + s.track), false},
        {"download", (s.download.empty() ? "-" : s.download) + (lists.empty() ? "" : "; " + Joined(lists, ", ")),
         false},
    });
}

Event CallsEvent(const SessionState& s) {
    std::vector<Field> fields;
    for (const auto& [index, text] : s.calls) fields.push_back({"call" + std::to_string(index), text, false});
    if (!s.waitingCall.empty()) fields.push_back({"waiting", s.waitingCall, false});
    if (fields.empty()) fields.push_back({"calls", "none", false});
    return StateEvent("calls", fields);
}

Event InfoEvent(Session& session, const SessionState& s) {
    auto stored = [](const char* setting) {
        const auto v = ReadIniValue(UserSettingsPath(), setting, setting);
        return v ? *v : std::string("(default)");
    };
    auto* sim = session.simulator();
    return StateEvent("info", {
        {"module", sim ? "built-in simulator on " + sim->DevicePath() : "serial device", false},
        {"version", s.moduleVersion.empty() ? "-" : s.moduleVersion, false},
        {"root", session.root(), false},
        {"trace", session.wire().path(), false},
        {"settings", UserSettingsPath(), false},
        {"pin", stored("PinCode"), false},
        {"autoanswer", stored("AutoAnswer") == "0" ? "on" : "off", false},
        {"autoconnect", stored("AutoConnect") == "1" ? "off" : "on", false},
        {"micmode", stored("Microphone"), false},
    });
}

std::vector<std::string> StateLines(const Event& e) {
    std::vector<std::string> lines;
    for (const auto& f : e.fields) {
        std::string key = f.key + ":";
        if (key.size() < 12) key += std::string(12 - key.size(), ' ');
        lines.push_back("  " + key + f.value);
    }
    return lines;
}

}  // namespace kztool
