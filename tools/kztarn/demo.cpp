// `kztarn demo`: a tour of the library against the built-in simulator. Each
// step runs console commands and checks that the notifications it should
// cause arrived; the summary names what worked, and the exit code is 0 only
// when every step did.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "KZ_Tarn.h"
#include "commands.h"
#include "console.h"
#include "session.h"
#include "sim_codec.h"

namespace kztool {

namespace {

constexpr uint32_t kStepTimeoutMs = 5000;
constexpr uint32_t kWantTimeoutMs = 8000;   // the media channel opens after four ticks

// An event that must be seen: its first word and a part of its text.
struct Want {
    const char* name;
    const char* text;
};

using Check = bool (*)(Session&);

struct Step {
    const char* capability;
    std::vector<const char*> commands;
    std::vector<Want> wants;
    Check check = nullptr;     // a further condition, checked after the wants
    bool essential = false;    // the rest of the tour needs it: stop when it fails
};

// ------------------------------------------------------ checks of the line

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char b[4];
    for (uint8_t x : bytes) {
        std::snprintf(b, sizeof b, "%s%02X", s.empty() ? "" : " ", x);
        s += b;
    }
    return s;
}

constexpr uint16_t kIdModuleReady = 48;

bool LinkUp(Session& s) {
    if (!s.simulator()->WaitLinkUp(kStepTimeoutMs)) return false;
    s.output().Print("      sync, sync-resp, conf, conf-resp exchanged: the BCSP link is up");
    return true;
}

bool ModuleReadyAnswered(Session& s) {
    std::vector<uint8_t> res;
    s.WaitFor(
        [&] {
            for (const auto& m : s.simulator()->Received())
                if (m.id == kIdModuleReady) {
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

constexpr uint16_t kIdDial = 82;

// The module's CFM 82 went out and the library acknowledged it.
bool DialConfirmed(Session& s) {
    auto* sim = s.simulator();
    const bool sent = s.WaitFor(
        [&] {
            for (const auto& f : sim->Wire()) {
                if (f.fromHost) continue;
                const kzsim::DecodedPacket p = kzsim::DecodeFrame(f.bytes);
                if (p.error == kzsim::DecodeError::None && p.reliable && kzsim::MessageId(p.payload) == kIdDial)
                    return true;
            }
            return false;
        },
        kStepTimeoutMs);
    if (!sent || !sim->WaitOutgoingIdle(kStepTimeoutMs)) return false;
    s.output().Print("      the module confirmed the dial (CFM 82) and the library acknowledged the confirmation");
    return true;
}

bool CloseTwice(Session& s) {
    const int first = s.StopLibrary();
    const int second = KZ_BT_CloseDevice();
    s.output().Print("      KZ_BT_CloseDevice returned " + std::to_string(first) + " (port closed); again: " +
                     std::to_string(second) + " (not open)");
    return first != -1 && second == -1;
}

// The tour. Phone-side commands play the phone's part.
const std::vector<Step>& Tour() {
    static const std::vector<Step> kSteps = {
        {"the library announces its start to \"NavigRecive\"", {}, {{"status", "library started"}}},
        {"the module brings the link up", {}, {}, LinkUp, true},
        {"the module-ready indication is answered", {}, {}, ModuleReadyAnswered, true},
        {"module link up and device ready", {}, {{"ready", "device ready"}}, nullptr, true},
        {"settings reported at start", {}, {{"micmode", ""}, {"micgain", ""}}},
        {"search for phones", {"scan"}, {{"found", "Pixel Demo"}}},
        {"end the search", {"scan stop"}, {{"inquiry", "over"}}},
        {"pair and connect a phone", {"pair 0 1234"}, {{"phone", "phone connected"}, {"device", "connected"}}},
        {"signal and battery levels", {"phone signal 4", "phone battery 3"}, {{"signal", "4"}, {"battery", "3"}}},
        {"phonebook size", {"phonebook size contacts"}, {{"size", "contact list has"}}},
        {"phonebook download", {"phonebook download contacts 10"}, {{"contact", "John Doe"}, {"download", "phonebook finished"}}},
        {"incoming call with the caller's name", {"phone ring \"+49 89 765430\""}, {{"call", "John Doe"}}},
        {"answer the call", {"answer"}, {{"audio", "car"}}},
        {"move call audio to the phone and back", {"audio phone", "audio car"}, {{"audio", "phone"}, {"audio", "car"}}},
        {"DTMF tone", {"dtmf 5"}, {}},
        {"hang up", {"hangup"}, {{"status", "call ended"}}},
        {"outgoing call", {"dial 0891234567"}, {{"call", "outgoing"}}, DialConfirmed},
        {"the called party answers", {"phone remote-answer"}, {{"audio", "car"}}},
        {"end the outgoing call", {"phone hangup"}, {{"status", "call ended"}}},
        // The library opens the media channel on its fourth one-second tick
        // after A2DP connects, then sends PLAY: the phone starts streaming.
        {"music playing with track information", {"source a2dp", "play"}, {{"music", "playing"}, {"track", ""}}},
        {"next track", {"next"}, {{"track", "So What"}}},
        {"pause", {"pause"}, {{"music", "paused"}}},
        {"microphone mute", {"mute on", "mute off"}, {}},
        {"microphone gain", {"micgain 9"}, {{"micgain", "9"}}},
        {"PIN code", {"pin 4321"}, {{"pin", "4321"}}},
        {"disconnect the phone", {"disconnect"}, {{"phone", "disconnected"}}},
        {"close the library (a second close reports it is not open)", {}, {}, CloseTwice},
    };
    return kSteps;
}

bool Seen(Session& s, size_t mark, const Want& w) {
    for (const auto& e : s.host().Since(mark))
        if (e.name == w.name && e.text.find(w.text) != std::string::npos) return true;
    return false;
}

// Runs the step's commands (each waits for its own confirmation), then
// waits for the wanted events. Returns what is missing ("" = all there).
std::string RunStep(Session& s, const Step& step, size_t mark) {
    for (const char* line : step.commands) {
        s.output().Print("  > " + std::string(line));
        const size_t hostMark = s.host().Mark();
        const size_t simMark = s.simulator()->Received().size();
        const LineOutcome r = RunLine(s, line);
        if (r.result != RunResult::kOk) return std::string("'") + line + "': " + r.message;
        if (!AwaitExpect(s, r.expect, hostMark, simMark, kStepTimeoutMs))
            return std::string("'") + line + "' was not confirmed";
        if (!r.message.empty()) s.output().Print(r.message);
    }
    std::string missing;
    for (const auto& w : step.wants) {
        if (!s.WaitFor([&] { return Seen(s, mark, w); }, kWantTimeoutMs))
            missing += std::string(missing.empty() ? "" : ", ") + w.name + " " + w.text;
    }
    if (!missing.empty()) return "missing: " + missing;
    if (step.check && !step.check(s)) return "did not happen";
    return "";
}

}  // namespace

int RunDemo(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> opts;
    std::string error;
    if (!ParseOptions(args, {{"--root", true}, {"--trace", true}, {"--help", false}}, opts, error)) {
        std::fprintf(stderr, "kztarn demo: %s\nusage: kztarn demo [--root DIR] [--trace FILE]\n", error.c_str());
        return kExitUsage;
    }
    if (HasOption(opts, "--help")) {
        std::printf("usage: kztarn demo [--root DIR] [--trace FILE]\n");
        return kExitOk;
    }
    SessionOptions so;
    HasOption(opts, "--trace", &so.trace);
    // A fresh folder per run unless one is given: the tour starts unpaired.
    std::string tempRoot;
    if (!HasOption(opts, "--root", &so.root)) {
        char pattern[] = "/tmp/kztarn-demo-XXXXXX";
        if (!mkdtemp(pattern)) {
            std::perror("kztarn demo: cannot create a temporary folder");
            return kExitFailure;
        }
        so.root = tempRoot = pattern;
    }
    Output out;
    Session session(out);
    out.Print("KZ_Tarn demo: the library against the built-in module simulator");
    const size_t startMark = 0;
    if (!session.Open(so, error)) {
        std::fprintf(stderr, "kztarn demo: %s\n", error.c_str());
        return kExitFailure;
    }
    std::vector<std::pair<const char*, std::string>> results;
    int number = 0;
    for (const auto& step : Tour()) {
        ++number;
        out.Print("== " + std::to_string(number) + ". " + step.capability);
        const size_t mark = step.commands.empty() ? startMark : session.host().Mark();
        const std::string problem = RunStep(session, step, mark);
        out.Print(problem.empty() ? "   ok" : "   FAILED: " + problem);
        results.emplace_back(step.capability, problem);
        if (!problem.empty() && step.essential) {
            out.Print("   the rest of the tour needs this step: stopping");
            break;
        }
    }
    session.Close();
    size_t passed = 0;
    out.Print("\nsummary:");
    for (const auto& [capability, problem] : results) {
        out.Print(std::string(problem.empty() ? "  ok      " : "  FAILED  ") + capability);
        if (problem.empty()) ++passed;
    }
    out.Print(std::to_string(passed) + " of " + std::to_string(Tour().size()) + " steps passed");
    std::error_code ignored;
    if (!tempRoot.empty()) std::filesystem::remove_all(tempRoot, ignored);
    return passed == Tour().size() ? kExitOk : kExitFailure;
}

}  // namespace kztool
