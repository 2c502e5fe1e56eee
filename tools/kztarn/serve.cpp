// `kztarn serve`: runs the library as the console does (the built-in
// simulator or a module on --port) and serves one page that shows what a head
// unit's phone and media screens would, with the simulated phone's panel.
// The main thread runs the library's message loop and the page's commands;
// HTTP requests are served on the server's own threads.
#include "serve.h"

#include <csignal>
#include <cstdio>

#include "commands.h"
#include "console.h"
#include "kz_platform.h"
#include "serve_events.h"
#include "serve_http.h"
#include "serve_runner.h"
#include "session.h"

namespace kztool {

namespace {

constexpr uint32_t kLoopSliceMs = 5;
constexpr size_t kEventsKept = 5000;   // enough for a page opened late to rebuild its screens
constexpr char kUsage[] =
    "usage: kztarn serve [--port DEV] [--root DIR] [--listen ADDR:PORT] [--trace FILE]\n"
    "  serves the head unit's phone screen at http://127.0.0.1:8080/ (--listen 127.0.0.1:0 takes a free port)";

const std::vector<OptionDef> kOptions = {
    {"--port", true}, {"--root", true}, {"--listen", true}, {"--trace", true}, {"--help", false},
};

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

}  // namespace

int RunServe(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> opts;
    if (auto exit = ReadCommandLine("serve", args, kOptions, kUsage, opts)) return *exit;
    std::string error;
    WebServerConfig config;
    std::string listen;
    if (HasOption(opts, "--listen", &listen) && !ListenAddress::Parse(listen, config.listen, error)) {
        std::fprintf(stderr, "kztarn serve: %s\n%s\n", error.c_str(), kUsage);
        return kExitUsage;
    }

    EventBroker events(kEventsKept);
    SessionOptions so;
    so.quiet = true;
    HasOption(opts, "--port", &so.port);
    HasOption(opts, "--root", &so.root);
    HasOption(opts, "--trace", &so.trace);
    so.onEvent = [&events](const Event& e) { events.Publish(e.Json()); };
    config.simulator = so.port.empty();

    Output out;
    Session session(out);
    if (!session.Open(so, error)) {
        std::fprintf(stderr, "kztarn serve: %s\n", error.c_str());
        return kExitFailure;
    }
    CommandRunner runner(session);
    WebServer server(config, events, runner);
    if (!server.Start(error)) {
        std::fprintf(stderr, "kztarn serve: %s\n", error.c_str());
        session.Close();
        return kExitFailure;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    const std::string where = session.simulator() ? "the built-in simulator" : "the module on " + so.port;
    std::printf("kztarn serve: %s against %s, files in %s; Ctrl-C stops\n", server.Url().c_str(),
                where.c_str(), KzGetRootDir());
    if (!session.ready()) std::printf("kztarn serve: warning: the module has not reported ready yet\n");
    std::fflush(stdout);

    while (!g_stop) {
        session.Pump(kLoopSliceMs);
        runner.Poll();
    }
    runner.Abandon();
    server.Stop();
    session.Close();
    return kExitOk;
}

}  // namespace kztool
