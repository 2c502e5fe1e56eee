// kztarn: the command-line program (demo, console, simulate).
#include <cstdio>
#include <cstring>

#include "demo.h"

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);   // null: not available yet
    const char* help;
};

constexpr Command kCommands[] = {
    {"demo", &RunDemo, "a scripted tour against the built-in module simulator"},
    {"console", nullptr, "an interactive shell over the library"},
    {"simulate", nullptr, "the module simulator alone on a pseudo-terminal"},
};

void Usage(FILE* out) {
    std::fprintf(out, "usage: kztarn <command>\n\n");
    for (const auto& c : kCommands) std::fprintf(out, "  %-10s %s\n", c.name, c.help);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        Usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const auto& c : kCommands) {
        if (std::strcmp(argv[1], c.name) != 0) continue;
        if (c.run) return c.run(argc - 1, argv + 1);
        std::fprintf(stderr, "kztarn: '%s' is not available yet\n", c.name);
        return 1;
    }
    std::fprintf(stderr, "kztarn: unknown command '%s'\n", argv[1]);
    Usage(stderr);
    return 2;
}
