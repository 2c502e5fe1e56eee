// `kztarn decode [--follow] FILE`: a wire trace in words, one line per frame.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "console.h"
#include "wire_decoder.h"

namespace kztool {

namespace {

constexpr char kUsage[] =
    "usage: kztarn decode [--follow] FILE   (a pcap or pcapng trace, e.g. KZ_TARN_WIRE_TRACE=FILE)";
constexpr useconds_t kFollowPollUs = 100000;

std::atomic<bool> g_stopFollow{false};
void OnStopSignal(int) { g_stopFollow = true; }

void PrintRecord(const TraceRecord& r) {
    const std::time_t t = r.seconds;
    std::tm local{};
    localtime_r(&t, &local);
    char when[16];
    std::strftime(when, sizeof when, "%H:%M:%S", &local);
    std::printf("%s.%06u %s %s\n", when, r.micros, r.fromHost ? "host->module" : "module->host",
                DescribeFrame(r.frame, r.fromHost).c_str());
}

// Decodes records as the file grows, until Ctrl-C or SIGTERM.
int Follow(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::fprintf(stderr, "kztarn decode: cannot read %s\n", path.c_str());
        return kExitFailure;
    }
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    TraceReader reader;
    size_t frames = 0;
    std::vector<uint8_t> chunk(65536);
    while (!g_stopFollow) {
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), f);
        std::vector<TraceRecord> records;
        std::string error;
        if (!reader.Feed(chunk.data(), n, records, error)) {
            std::fprintf(stderr, "kztarn decode: %s: %s\n", path.c_str(), error.c_str());
            std::fclose(f);
            return kExitFailure;
        }
        for (const auto& r : records) PrintRecord(r);
        frames += records.size();
        std::fflush(stdout);
        if (n == 0) {
            std::clearerr(f);
            usleep(kFollowPollUs);
        }
    }
    std::fclose(f);
    std::printf("%zu frames\n", frames);
    return kExitOk;
}

}  // namespace

int RunDecode(const std::vector<std::string>& args) {
    const bool follow = !args.empty() && args[0] == "--follow";
    const size_t fileArg = follow ? 1 : 0;
    if (args.size() != fileArg + 1 || args[fileArg].rfind("-", 0) == 0) {
        const bool help = args.size() == 1 && args[0] == "--help";
        std::fprintf(help ? stdout : stderr, "%s\n", kUsage);
        return help ? kExitOk : kExitUsage;
    }
    if (follow) return Follow(args[fileArg]);
    std::vector<TraceRecord> records;
    std::string error;
    bool cut = false;
    if (!ReadWireTrace(args[fileArg], records, error, &cut)) {
        std::fprintf(stderr, "kztarn decode: %s\n", error.c_str());
        return kExitFailure;
    }
    for (const auto& r : records) PrintRecord(r);
    std::printf("%zu frames\n", records.size());
    // A killed program leaves its last record half written: worth saying, not a failure.
    if (cut) std::printf("the last record is cut short (the trace ends inside it)\n");
    return kExitOk;
}

}  // namespace kztool
