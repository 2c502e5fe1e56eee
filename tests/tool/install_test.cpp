// The installed package: headers, libraries, pkg-config file and CMake
// package, used by the example host both ways, which then runs against
// `kztarn simulate` until the module reports ready.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "kztarn_process.h"
#include "support/test_support.h"

namespace kztooltest {
namespace {

TEST(Install_ExampleHost, BuildsBothWaysAndSeesTheDeviceReady) {
    // The example is built as a user would, without sanitizers, and cannot
    // load sanitizer-instrumented libraries.
    if (KZ_TOOL_SANITIZED) GTEST_SKIP() << "sanitizer build";
    TempDir dir;
    const std::string prefix = dir.File("prefix");
    const std::string source = KZ_TARN_SOURCE;
    const std::string log = " >>" + dir.File("log") + " 2>&1";
    // Installed, then the example built with the CMake package and with pkg-config (the Makefile line).
    ASSERT_EQ(Shell("cmake --install " + std::string(KZ_TARN_BINARY) + " --prefix " + prefix + log + " && cmake -S " +
                    source + "/examples -B " + dir.File("cmake-build") + " -DCMAKE_PREFIX_PATH=" + prefix + log +
                    " && cmake --build " + dir.File("cmake-build") + log + " && mkdir -p " + dir.File("pc-build") +
                    " && cd " + dir.File("pc-build") + " && PKG_CONFIG_PATH=" + prefix +
                    "/lib/pkgconfig make -f " + source + "/examples/Makefile" + log),
              0)
        << std::ifstream(dir.File("log")).rdbuf();
    for (const char* file : {"/share/bash-completion/completions/kztarn", "/share/man/man1/kztarn.1",
                             "/share/kztarn/wireshark/kztarn.lua"})
        EXPECT_EQ(access((prefix + file).c_str(), R_OK), 0) << file << " is installed";
    Shell("mkdir -p " + dir.File("root"));
    for (const char* host : {"cmake-build/host", "pc-build/host"}) {
        // A module per host: a module whose link is up waits for the host,
        // and a starting host waits for the module.
        std::remove(dir.File("sim-path").c_str());
        Kztarn sim({"simulate", "--quiet", "--path-file", dir.File("sim-path")}, Kztarn::Stdout::kTerminal,
                   prefix + "/bin/kztarn");
        std::string port;
        ASSERT_TRUE(kztest::PollUntil([&] { return static_cast<bool>(std::ifstream(dir.File("sim-path")) >> port); },
                                      5000));
        const std::string env = "KZ_TARN_COM3=" + port + " KZ_TARN_ROOT=" + dir.File("root") + " ";
        EXPECT_EQ(Shell(env + dir.File(host) + " --until-ready 10 >" + dir.File("host.out") + " 2>&1"), 0)
            << host << ": " << std::ifstream(dir.File("host.out")).rdbuf();
        EXPECT_EQ(Shell("grep -q 'device ready' " + dir.File("host.out")), 0) << host;
    }
}

}  // namespace
}  // namespace kztooltest
