// kztarn: the command-line program of KZ_Tarn.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "serve.h"

namespace {

constexpr char kUsage[] =
    "usage: kztarn COMMAND [OPTIONS]\n"
    "  demo        a tour of the library against the built-in module simulator\n"
    "  console     interactive shell: every export as a command, every notification decoded\n"
    "              [--json] [--port DEV] [--root DIR] [--trace FILE] [--script FILE] [--timeout S]\n"
    "  serve       the head unit's phone screen in the browser, at http://127.0.0.1:8080/\n"
    "              [--port DEV] [--root DIR] [--listen ADDR:PORT] [--trace FILE]\n"
    "  simulate    the module simulator alone on a pseudo-terminal\n"
    "  decode FILE a wire trace (KZ_TARN_WIRE_TRACE=FILE) in words\n";

struct Subcommand {
    const char* name;
    int (*run)(const std::vector<std::string>&);
};

constexpr Subcommand kSubcommands[] = {
    {"demo", kztool::RunDemo},
    {"console", kztool::RunConsole},
    {"serve", kztool::RunServe},
    {"simulate", kztool::RunSimulate},
    {"decode", kztool::RunDecode},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kztool::kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "help" || name == "-h") {
        std::fputs(kUsage, stdout);
        return kztool::kExitOk;
    }
    const std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& s : kSubcommands)
        if (name == s.name) return s.run(args);
    std::string nearest;
    size_t best = 3;
    for (const auto& s : kSubcommands) {
        const size_t d = kztool::EditDistance(name, s.name);
        if (d < best) {
            best = d;
            nearest = s.name;
        }
    }
    std::fprintf(stderr, "kztarn: unknown command '%s'%s\n%s", name.c_str(),
                 nearest.empty() ? "" : ("; did you mean '" + nearest + "'?").c_str(), kUsage);
    return kztool::kExitUsage;
}
