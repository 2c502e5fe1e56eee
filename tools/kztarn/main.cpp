// kztarn: the command-line program of KZ_Tarn.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "generated_files.h"
#include "serve.h"

#ifndef KZ_TARN_VERSION
#define KZ_TARN_VERSION "unknown"
#endif

namespace {

constexpr char kUsage[] =
    "usage: kztarn COMMAND [OPTIONS]\n"
    "  demo        a tour of the library against the built-in module simulator\n"
    "  console     interactive shell: every export as a command, every notification decoded\n"
    "              [--json] [--port DEV] [--root DIR] [--trace FILE] [--script FILE] [--timeout S]\n"
    "              [--verbose] events of every channel; see 'kztarn console --help'\n"
    "  serve       the head unit's phone screen in the browser, at http://127.0.0.1:8080/\n"
    "              [--port DEV] [--root DIR] [--listen ADDR:PORT] [--trace FILE]\n"
    "  simulate    the module simulator alone on a pseudo-terminal, serving one host after another\n"
    "              [--scenario FILE] [--corrupt P] [--drop P] [--duplicate P] [--seed N]\n"
    "  decode [--follow] FILE\n"
    "              a wire trace (pcap or pcapng, KZ_TARN_WIRE_TRACE=FILE) in words\n"
    "  --version   the program's version\n";

// `kztarn generate WHAT`: the build's generated files (see generated_files.h).
int RunGenerate(const std::vector<std::string>& args) {
    const std::string what = args.size() == 1 ? args[0] : "";
    if (what == "bash-completion") std::fputs(kztool::BashCompletion().c_str(), stdout);
    else if (what == "man") std::fputs(kztool::ManPage(KZ_TARN_VERSION).c_str(), stdout);
    else if (what == "lua-names") std::fputs(kztool::LuaMessageNames().c_str(), stdout);
    else {
        std::fputs("usage: kztarn generate <bash-completion|man|lua-names>\n", stderr);
        return kztool::kExitUsage;
    }
    return kztool::kExitOk;
}

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
    {"generate", RunGenerate},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kztool::kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--version" || name == "-V") {
        std::printf("kztarn %s\n", KZ_TARN_VERSION);
        return kztool::kExitOk;
    }
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
