// Text commands that script the simulator.
#include "sim_script.h"

#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

#include "phone.h"

namespace kzsim {
namespace {

using Args = std::vector<std::string>;
using Action = std::function<std::string(ModuleSimulator&, const Args&)>;

struct Command {
    const char* usage;
    size_t minArgs;
    Action run;
};

std::optional<Profile> ProfileNamed(const std::string& s) {
    static const std::map<std::string, Profile> kNames{
        {"hfp", Profile::Hfp}, {"a2dp", Profile::A2dp}, {"avrcp", Profile::Avrcp}, {"pbap", Profile::Pbap}};
    auto it = kNames.find(s);
    return it == kNames.end() ? std::nullopt : std::optional<Profile>(it->second);
}

uint8_t Number(const std::string& s) {
    return static_cast<uint8_t>(std::strtoul(s.c_str(), nullptr, 0));
}

bool On(const std::string& s) { return s == "on" || s == "1" || s == "yes"; }

std::string Joined(const Args& a, size_t from) {
    std::string r;
    for (size_t i = from; i < a.size(); ++i) r += (i == from ? "" : " ") + a[i];
    return r;
}

std::string Status(ModuleSimulator& sim) {
    const LinkStats s = sim.Stats();
    std::ostringstream os;
    os << "link " << (sim.LinkUp() ? "up" : "down") << ", frames in " << s.framesIn << " (bad "
       << s.badFramesIn << ", repeated " << s.duplicatesIn << "), resends " << s.resends
       << ", peer resets " << s.peerResets << ", messages received " << sim.Received().size();
    Phone& p = sim.phone();
    os << "\nphone: hfp " << p.connected(Profile::Hfp) << " a2dp " << p.connected(Profile::A2dp)
       << " avrcp " << p.connected(Profile::Avrcp) << " pbap " << p.connected(Profile::Pbap)
       << ", call " << (p.callActive() ? "active" : "none") << ", setup " << p.callSetup()
       << ", playing " << p.playing();
    return os.str();
}

const std::map<std::string, Command>& Commands() {
    static const std::map<std::string, Command> kCommands{
        {"ring", {"ring NUMBER          incoming (or waiting) call", 1,
                  [](ModuleSimulator& s, const Args& a) { s.phone().ring(a[1]); return ""; }}},
        {"answer", {"answer               answer on the phone", 0,
                    [](ModuleSimulator& s, const Args&) { s.phone().answer(); return ""; }}},
        {"remote-answer", {"remote-answer        the dialled party answers", 0,
                           [](ModuleSimulator& s, const Args&) { s.phone().remoteAnswer(); return ""; }}},
        {"hangup", {"hangup               end the call", 0,
                    [](ModuleSimulator& s, const Args&) { s.phone().hangup(); return ""; }}},
        {"signal", {"signal N             signal level 0-5", 1,
                    [](ModuleSimulator& s, const Args& a) { s.phone().setSignal(Number(a[1])); return ""; }}},
        {"battery", {"battery N            battery level 0-5", 1,
                     [](ModuleSimulator& s, const Args& a) { s.phone().setBattery(Number(a[1])); return ""; }}},
        {"service", {"service on|off       network service", 1,
                     [](ModuleSimulator& s, const Args& a) { s.phone().setService(On(a[1])); return ""; }}},
        {"roaming", {"roaming on|off", 1,
                     [](ModuleSimulator& s, const Args& a) { s.phone().setRoaming(On(a[1])); return ""; }}},
        {"audio", {"audio car|phone      call audio indication", 1,
                   [](ModuleSimulator& s, const Args& a) { s.phone().callAudio(a[1] == "car"); return ""; }}},
        {"mute", {"mute on|off          microphone mute indication", 1,
                  [](ModuleSimulator& s, const Args& a) { s.phone().micMute(On(a[1])); return ""; }}},
        {"connect", {"connect PROFILE      the phone connects hfp|a2dp|avrcp|pbap", 1,
                     [](ModuleSimulator& s, const Args& a) -> std::string {
                         auto p = ProfileNamed(a[1]);
                         if (!p) return "unknown profile " + a[1];
                         s.phone().connectProfile(*p);
                         return "";
                     }}},
        {"disconnect", {"disconnect PROFILE [STATUS]", 1,
                        [](ModuleSimulator& s, const Args& a) -> std::string {
                            auto p = ProfileNamed(a[1]);
                            if (!p) return "unknown profile " + a[1];
                            s.phone().disconnectProfile(*p, a.size() > 2 ? Number(a[2]) : 0);
                            return "";
                        }}},
        {"media", {"media open|close     the phone opens or closes the stream", 1,
                   [](ModuleSimulator& s, const Args& a) {
                       a[1] == "open" ? s.phone().openMedia() : s.phone().closeMedia();
                       return "";
                   }}},
        {"play", {"play                 the phone starts playing", 0,
                  [](ModuleSimulator& s, const Args&) { s.phone().play(); return ""; }}},
        {"pause", {"pause                the phone pauses", 0,
                   [](ModuleSimulator& s, const Args&) { s.phone().pause(); return ""; }}},
        {"track", {"track TITLE|ARTIST|ALBUM   a new track", 1,
                   [](ModuleSimulator& s, const Args& a) {
                       std::string text = Joined(a, 1);
                       Track t;
                       std::istringstream is(text);
                       std::getline(is, t.title, '|');
                       std::getline(is, t.artist, '|');
                       std::getline(is, t.album, '|');
                       s.phone().changeTrack(t);
                       return "";
                   }}},
        {"avrcp", {"avrcp 1.0|1.4        the phone's AVRCP version", 1,
                   [](ModuleSimulator& s, const Args& a) {
                       s.phone().setAvrcpVersion(a[1] == "1.0" ? 0x0100 : 0x0104);
                       return "";
                   }}},
        {"pin-request", {"pin-request          the phone asks for a PIN", 0,
                         [](ModuleSimulator& s, const Args&) { s.phone().requestPin(); return ""; }}},
        {"reset", {"reset                restart the module (peer reset)", 0,
                   [](ModuleSimulator& s, const Args&) { s.PeerReset(); return ""; }}},
        {"status", {"status               link and phone state", 0,
                    [](ModuleSimulator& s, const Args&) { return Status(s); }}},
        {"ind", {"ind ID [BYTE...]     any indication (bytes from byte 6)", 1,
                 [](ModuleSimulator& s, const Args& a) {
                     std::vector<uint8_t> params;
                     for (size_t i = 2; i < a.size(); ++i) params.push_back(Number(a[i]));
                     s.SendIndication(static_cast<uint16_t>(std::strtoul(a[1].c_str(), nullptr, 0)), params);
                     return "";
                 }}},
    };
    return kCommands;
}

}  // namespace

std::string SimCommandHelp() {
    std::string text;
    for (const auto& [name, c] : Commands()) text += std::string("  ") + c.usage + "\n";
    return text;
}

std::string RunSimCommand(ModuleSimulator& sim, const std::string& line) {
    std::istringstream is(line);
    Args args;
    for (std::string w; is >> w;) args.push_back(w);
    if (args.empty()) return "";
    if (args[0] == "help") return SimCommandHelp();
    auto it = Commands().find(args[0]);
    if (it == Commands().end()) return "unknown command '" + args[0] + "' (try help)";
    if (args.size() - 1 < it->second.minArgs) return std::string("usage: ") + it->second.usage;
    return it->second.run(sim, args);
}

}  // namespace kzsim
