// kztarn: the command-line program (demo, console, simulate).
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::printf("usage: kztarn demo | console | simulate\n");
        return argc < 2 ? 2 : 0;
    }
    std::fprintf(stderr, "kztarn: '%s' is not available yet\n", argv[1]);
    return 1;
}
