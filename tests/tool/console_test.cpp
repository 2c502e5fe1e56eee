// kztarn as a user runs it: the console on a terminal and from scripts,
// JSON output, the demo, the wire trace, and bad input.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "json_check.h"
#include "kztarn_process.h"

namespace kztooltest {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) lines.push_back(l);
    return lines;
}

TEST(Console_OnATerminal, RunsCommandsPrintsEventsAndCompletes) {
    TempDir dir;
    PtyProcess console(KztarnPath(), {"console", "--root", dir.path()});
    ASSERT_TRUE(console.Started());
    ASSERT_TRUE(console.WaitFor("kztarn> ")) << console.Screen();
    EXPECT_NE(console.Screen().find("device ready"), std::string::npos) << console.Screen();

    console.Type("micgain\r");
    EXPECT_TRUE(console.WaitFor("micgain ")) << console.Screen();

    // Tab completes the command and then the argument's choices.
    console.Clear();
    console.Type("aud\t");
    EXPECT_TRUE(console.WaitFor("audio ")) << console.Screen();
    console.Type("ph\t");
    EXPECT_TRUE(console.WaitFor("phone ")) << console.Screen();
    console.Type("\x15");   // kill the line

    console.Clear();
    console.Type("dail 123\r");
    EXPECT_TRUE(console.WaitFor("did you mean 'dial'?")) << console.Screen();

    console.Clear();
    console.Type("quit\r");
    EXPECT_EQ(console.Wait(), 0) << console.Screen();
}

TEST(Console_Json, EveryLineIsAJsonObject) {
    TempDir dir;
    const RunResult r = RunKztarn({"console", "--json", "--root", dir.path()}, "micmode\nmicgain\nquit\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_FALSE(lines.empty()) << r.err;
    bool ready = false, micmode = false;
    for (const auto& l : lines) {
        EXPECT_TRUE(JsonCheck::Valid(l)) << l;
        ready |= l.find("\"event\":\"ready\"") != std::string::npos;
        micmode |= l.find("\"code\":82") != std::string::npos;
    }
    EXPECT_TRUE(ready);
    EXPECT_TRUE(micmode);
    // Command echoes and notes go to standard error, not into the JSON.
    EXPECT_NE(r.err.find("> micmode"), std::string::npos);
}

TEST(Console_Script, ExitCodeTellsWhetherEveryCommandWasConfirmed) {
    TempDir dir;
    dir.Write("good.txt", "# settings round trip\nmicmode external\nmicmode\nwait micmode external\npin 4321\n");
    const RunResult good = RunKztarn({"console", "--root", dir.path(), "--script", dir.File("good.txt")});
    EXPECT_EQ(good.exitCode, 0) << good.out << good.err;
    EXPECT_NE(good.out.find("pin      4321"), std::string::npos) << good.out;

    dir.Write("never.txt", "micgain\nwait call incoming\n");
    const RunResult never = RunKztarn({"console", "--root", dir.path(), "--script", dir.File("never.txt"),
                                       "--timeout", "2"});
    EXPECT_EQ(never.exitCode, 1);
    EXPECT_NE(never.out.find("line 2: 'wait call incoming' not confirmed"), std::string::npos) << never.out;
}

// A restart reaches the device-ready again (the built-in module restarts
// its link with the library), and a waiting call, which the library does
// not report, counts as done once the library has taken it.
TEST(Console_Script, RestartAndWaitingCallAreConfirmed) {
    TempDir dir;
    dir.Write("calls.txt",
              "scan\nwait inquiry over\npair 0 1234\nwait phone connected\nscan stop\n"
              "stop\nstart\ninit\nwait device connected\n"
              "phone ring 0891234567\nanswer\nwait call active\n"
              "phone waiting 0301234567\nswitch\nwait held 1\nwait call held\n");
    const RunResult r = RunKztarn({"console", "--root", dir.path(), "--script", dir.File("calls.txt"), "--timeout", "30"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("call     held      0891234567"), std::string::npos) << r.out;
}

TEST(Console_Trace, ASessionDecodesFrameByFrame) {
    TempDir dir;
    const std::string trace = dir.File("wire.pcap");
    const RunResult run =
        RunKztarn({"console", "--root", dir.path(), "--trace", trace}, "micgain 7\nsleep 200\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const RunResult decoded = RunKztarn({"decode", trace});
    ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
    for (const char* expected : {"module->host unrel seq 0 ack 0 crc ch 1 len 4 | link sync",
                                 "host->module", "IND module ready (48)", "RES to IND module ready (48)",
                                 "REQ_SET_MIC_GAIN (4): 80 07", "CFM microphone gain (4): status 0"}) {
        EXPECT_NE(decoded.out.find(expected), std::string::npos) << expected << "\n" << decoded.out;
    }
    // Where tshark is installed, it opens the trace too (it is not required).
    if (access("/usr/bin/tshark", X_OK) == 0) {
        EXPECT_EQ(std::system(("/usr/bin/tshark -r " + trace + " >/dev/null 2>&1").c_str()), 0);
    }
}

TEST(Demo_Tour, EveryStepHappensAndIsNamed) {
    // An existing folder with settings in it: the tour makes its own inside.
    TempDir dir;
    dir.Write("BTSetting.ini", "[PinCode]\nPinCode=9999\n");
    const RunResult r = RunKztarn({"demo", "--root", dir.path()}, "", 60000);
    EXPECT_NE(r.out.find("files in " + dir.path() + "/kztarn-demo-"), std::string::npos) << r.out;
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const char* capability :
         {"module link up and device ready", "settings read at start", "search for phones", "pair and connect a phone",
          "call lists downloaded on connect", "phonebook download", "a call pauses the download",
          "after the call: call lists again, then the phonebook goes on", "incoming call with the caller's name",
          "auto-answer: a call answered on the fifth one-second tick", "a second call waits",
          "music playing with track information", "restart the library: it reconnects to the remembered phone",
          "the phonebook loaded from its files, without a download", "disconnect the phone"})
        EXPECT_NE(r.out.find(std::string("  ok      ") + capability), std::string::npos) << capability;
    EXPECT_NE(r.out.find("steps passed"), std::string::npos);
}

TEST(BadInput_Cases, ClearMessageAndExitCode) {
    TempDir dir;
    dir.Write("plain-file", "x");
    dir.Write("typo.txt", "dail 123\n");
    dir.Write("usage.txt", "audio sideways\n");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    };
    const std::string root = dir.path() + "/root";
    const Case cases[] = {
        {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
        {{"consle"}, 2, "did you mean 'console'?"},
        {{"console", "--bogus"}, 2, "unknown option '--bogus'"},
        {{"console", "--port"}, 2, "option '--port' needs a value"},
        {{"console", "--timeout", "soon"}, 2, "--timeout takes a number of seconds"},
        {{"console", "--port", "/dev/nonexistent-tty", "--root", root}, 1,
         "cannot open the serial device /dev/nonexistent-tty: No such file or directory"},
        {{"console", "--port", dir.File("plain-file"), "--root", root}, 1,
         "cannot use " + dir.File("plain-file") + " as a serial device"},
        {{"console", "--root", dir.File("plain-file") + "/sub"}, 1, "cannot create the root folder"},
        {{"console", "--root", root, "--script", dir.File("missing.txt")}, 1, "cannot read the script"},
        {{"console", "--root", root, "--script", dir.File("typo.txt")}, 1,
         "line 1: unknown command 'dail'; did you mean 'dial'?"},
        {{"console", "--root", root, "--script", dir.File("usage.txt")}, 1, "usage: audio <car|phone>"},
        {{"decode"}, 2, "usage: kztarn decode [--follow] FILE"},
        {{"decode", dir.File("plain-file")}, 1, "too short for a trace"},
    };
    for (const auto& c : cases) {
        const RunResult r = RunKztarn(c.args, "", 20000);
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(r.exitCode, c.exitCode) << joined << "\n" << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << joined << "\n" << r.out << r.err;
    }
}

}  // namespace
}  // namespace kztooltest
