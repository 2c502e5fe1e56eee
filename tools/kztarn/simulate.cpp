// `kztarn simulate`: the module simulator alone on a pseudo-terminal, for a
// host program started separately (KZ_TARN_COM3=<path>). Phone-side commands
// come on standard input; what the host sends is printed.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>

#include "commands.h"
#include "console.h"
#include "message_names.h"
#include "module_simulator.h"
#include "output.h"
#include "session.h"

namespace kztool {

namespace {

constexpr int kPollMs = 50;
constexpr char kUsage[] = "usage: kztarn simulate [--path-file FILE] [--pace] [--quiet]";

std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

}  // namespace

int RunSimulate(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> opts;
    std::string error;
    if (!ParseOptions(args, {{"--path-file", true}, {"--pace", false}, {"--quiet", false}, {"--help", false}},
                      opts, error)) {
        std::fprintf(stderr, "kztarn simulate: %s\n%s\n", error.c_str(), kUsage);
        return kExitUsage;
    }
    if (HasOption(opts, "--help")) {
        std::printf("%s\n", kUsage);
        return kExitOk;
    }
    kzsim::Options simOptions;
    simOptions.pace = HasOption(opts, "--pace");
    const bool quiet = HasOption(opts, "--quiet");
    kzsim::ModuleSimulator sim(simOptions);
    SetUpDemoPhone(sim.phone());
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
    std::printf("module simulator ready; phone commands on standard input ('help'), Ctrl-C ends\n");
    std::fflush(stdout);

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    bool inputOpen = true;
    std::string pending;
    while (!g_stop) {
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        const int ready = inputOpen ? poll(&pfd, 1, kPollMs) : (usleep(kPollMs * 1000), 0);
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
