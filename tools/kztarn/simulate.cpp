// `kztarn simulate`: the module simulator alone on a pseudo-terminal, for a
// host program started separately (KZ_TARN_COM3=<path>). Phone-side commands
// come on standard input; what the host sends is printed.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "commands.h"
#include "console.h"
#include "message_names.h"
#include "module_simulator.h"
#include "output.h"
#include "scenario.h"
#include "session.h"

namespace kztool {

namespace {

constexpr int kPollMs = 50;
constexpr char kUsage[] =
    "usage: kztarn simulate [--path-file FILE] [--pace] [--quiet] [--scenario FILE]\n"
    "                       [--corrupt P] [--drop P] [--duplicate P] [--seed N]\n"
    "  P: the chance of each byte on the line (both ways) to be damaged, lost or doubled, 0 to 1";
const std::vector<OptionDef> kOptions = {
    {"--path-file", true}, {"--pace", false}, {"--quiet", false},    {"--help", false}, {"--scenario", true},
    {"--corrupt", true},   {"--drop", true},  {"--duplicate", true}, {"--seed", true},
};

// A probability option, 0 to 1; false with a message when it is not one.
bool Rate(const std::vector<std::pair<std::string, std::string>>& opts, const char* name, double& out,
          std::string& error) {
    std::string text;
    if (!HasOption(opts, name, &text)) return true;
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(out >= 0 && out <= 1)) {
        error = std::string(name) + " takes a chance from 0 to 1, not '" + text + "'";
        return false;
    }
    return true;
}

bool ReadOptions(const std::vector<std::pair<std::string, std::string>>& opts, kzsim::Options& o,
                 std::string& error) {
    o.pace = HasOption(opts, "--pace");
    o.serveHosts = true;
    if (!Rate(opts, "--corrupt", o.corrupt, error) || !Rate(opts, "--drop", o.drop, error) ||
        !Rate(opts, "--duplicate", o.duplicate, error))
        return false;
    std::string seed;
    if (HasOption(opts, "--seed", &seed)) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(seed.c_str(), &end, 10);
        if (seed.empty() || *end != '\0' || v > UINT32_MAX) {
            error = "--seed takes a whole number, not '" + seed + "'";
            return false;
        }
        o.seed = static_cast<uint32_t>(v);
    }
    return true;
}

std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

}  // namespace

int RunSimulate(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> opts;
    if (auto exit = ReadCommandLine("simulate", args, kOptions, kUsage, opts)) return *exit;
    std::string error;
    kzsim::Options simOptions;
    if (!ReadOptions(opts, simOptions, error)) {
        std::fprintf(stderr, "kztarn simulate: %s\n%s\n", error.c_str(), kUsage);
        return kExitUsage;
    }
    const bool quiet = HasOption(opts, "--quiet");
    kzsim::ModuleSimulator sim(simOptions);
    SetUpDemoPhone(sim.phone());
    std::string scenarioPath;
    if (HasOption(opts, "--scenario", &scenarioPath)) {
        std::ifstream scenario(scenarioPath);
        if (!scenario) {
            std::fprintf(stderr, "kztarn simulate: cannot read the scenario %s\n", scenarioPath.c_str());
            return kExitFailure;
        }
        if (!ApplyScenario(scenario, sim.phone(), error)) {
            std::fprintf(stderr, "kztarn simulate: %s: %s\n", scenarioPath.c_str(), error.c_str());
            return kExitFailure;
        }
    }
    Output out;
    if (!quiet)
        sim.SetObserver([&out](const kzsim::ReceivedMessage& m) {
            out.Post(TimeStamp() + " host    " + DescribeModuleMessage(true, m.bytes.data(), m.bytes.size()));
        });
    if (!sim.Start()) {
        std::fprintf(stderr, "kztarn simulate: cannot open a pseudo-terminal\n");
        return kExitFailure;
    }
    std::string pathFile;
    if (HasOption(opts, "--path-file", &pathFile)) {
        std::ofstream f(pathFile);
        f << sim.DevicePath() << "\n";
        if (!f) {
            std::fprintf(stderr, "kztarn simulate: cannot write %s\n", pathFile.c_str());
            return kExitFailure;
        }
    }
    std::printf("KZ_TARN_COM3=%s\n", sim.DevicePath().c_str());
    std::printf("module simulator ready for one host after another; phone commands on standard input ('help'), "
                "Ctrl-C ends\n");
    std::fflush(stdout);

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    bool inputOpen = true;
    std::string pending;
    bool linkUp = false;
    while (!g_stop) {
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        const int ready = inputOpen ? poll(&pfd, 1, kPollMs) : (usleep(kPollMs * 1000), 0);
        if (sim.LinkUp() != linkUp) {
            linkUp = !linkUp;
            if (!quiet) out.Post(TimeStamp() + (linkUp ? " link    up: a host is served" : " link    down"));
        }
        out.Flush();
        if (ready <= 0) continue;
        char buffer[256];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            inputOpen = false;   // keeps serving the host until a signal
            continue;
        }
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            const LineOutcome r = RunPhoneLine(sim, line);
            if (r.result == RunResult::kQuit) g_stop = true;
            else if (!r.message.empty()) out.Print(r.message);
        }
    }
    sim.Stop();
    out.Flush();
    return kExitOk;
}

}  // namespace kztool
