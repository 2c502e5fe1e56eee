// `kztarn decode FILE`: a wire trace in words, one line per frame.
#include <cstdio>
#include <ctime>

#include "console.h"
#include "wire_decoder.h"

namespace kztool {

int RunDecode(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].rfind("-", 0) == 0) {
        std::fprintf(stderr, "usage: kztarn decode FILE   (a trace written with KZ_TARN_WIRE_TRACE=FILE)\n");
        return args.size() == 1 && args[0] == "--help" ? kExitOk : kExitUsage;
    }
    std::vector<TraceRecord> records;
    std::string error;
    if (!ReadWireTrace(args[0], records, error)) {
        std::fprintf(stderr, "kztarn decode: %s\n", error.c_str());
        return kExitFailure;
    }
    for (const auto& r : records) {
        const std::time_t t = r.seconds;
        std::tm local{};
        localtime_r(&t, &local);
        char when[16];
        std::strftime(when, sizeof when, "%H:%M:%S", &local);
        std::printf("%s.%06u %s %s\n", when, r.micros, r.fromHost ? "host->module" : "module->host",
                    DescribeFrame(r.frame, r.fromHost).c_str());
    }
    std::printf("%zu frames\n", records.size());
    return kExitOk;
}

}  // namespace kztool
