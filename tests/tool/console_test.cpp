// kztarn as a user runs it: every command's outcome and the script's exit
// code, JSON output and nothing else, one line per event, the terminal's keys,
// a module that goes quiet, the simulator serving host after host, the demo
// and bad input.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "json_check.h"
#include "kztarn_process.h"

namespace kztooltest {
namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A settings file too big for another write (over 1 MiB): the library refuses to store.
void FillSettings(const TempDir& dir) {
    mkdir((dir.path() + "/BACKUP").c_str(), 0755);
    mkdir((dir.path() + "/BACKUP/KZ_Config").c_str(), 0755);
    std::ofstream(dir.path() + "/BACKUP/KZ_Config/BTSetting.ini") << "[Filler]\n" << std::string(1100000, 'x') << "\n";
}

TEST(Console_Outcomes, EveryCommandReportsWhatBecameOfIt) {
    struct Case {
        const char* script;
        int exitCode;
        const char* shown;
        bool fullSettings = false;
        const char* timeout = "30";   // seconds a wait may take
    };
    const Case cases[] = {
        {"dial 123\n", 1, "dial failed: no phone connected (status 12)"},
        {"answer\n", 1, "answer failed: no phone connected (status 12)"},
        {"delete 3\n", 1, "delete failed: slot 3 is empty"},
        {"pair 5 1234\n", 1, "pair failed: the library sent nothing (no inquiry result 5"},
        {"play\n", 1, "type 'source a2dp' first"},
        {"pin 12a4\n", 1, "PIN has four digits"},
        {"# settings round trip\npin 4321\nautoanswer on\nmicmode external\nmicmode\nwait micmode external\n", 0,
         "micmode ok, stored: external (1)"},
        {"pin 4321\n", 1, "pin failed: the library could not save PinCode (the settings file holds nothing, not '4321')",
         true},
        {"phone connect hfp\nwait phone connected\ndial 0891234\nhangup\n", 0, "hangup ok"},
        // The event came while the ring command ran: the wait still sees it.
        {"phone ring 0123\nwait call incoming 0123\nwait calls 1\n", 0, "call     incoming  0123"},
        {"micgain\nwait call incoming\n", 1, "line 2: 'wait call incoming' not confirmed", false, "2"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        if (c.fullSettings) FillSettings(dir);
        dir.Write("s.txt", c.script);
        const RunResult r =
            RunKztarn({"console", "--root", dir.path(), "--script", dir.File("s.txt"), "--timeout", c.timeout});
        EXPECT_EQ(r.exitCode, c.exitCode) << c.script << r.out << r.err;
        EXPECT_TRUE(Has(r.out + r.err, c.shown)) << c.script << r.out << r.err;
    }
}

TEST(Console_Json, OutcomesAndStateAreJsonLinesAndNothingElse) {
    TempDir dir;
    const RunResult r = RunKztarn({"console", "--json", "--root", dir.path()},
                                  "help\nstatus\ncalls\ninfo\ncontacts\nmicmode\nmicgain 9\ndial 123\n");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::istringstream lines(r.out);
    const std::regex iso(R"("time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d")");
    size_t count = 0;
    for (std::string l; std::getline(lines, l); ++count) {
        EXPECT_TRUE(JsonCheck::Valid(l)) << l;
        EXPECT_TRUE(std::regex_search(l, iso)) << l;
    }
    EXPECT_GT(count, 5u);
    for (const char* part : {R"("event":"ready")", R"("code":82)", R"("event":"status","link":"module ready")",
                             R"("event":"info")", R"("event":"contacts","count":0)",
                             R"("command":"micgain","ok":true)", R"("command":"dial","ok":false,"status":12)"})
        EXPECT_TRUE(Has(r.out, part)) << part << "\n" << r.out;
    // Help, command echoes and notes go to standard error.
    EXPECT_TRUE(Has(r.err, "library:") && Has(r.err, "> micmode")) << r.err;
    EXPECT_FALSE(Has(r.out, "library:"));
}

TEST(Console_Events, OneLinePerEventWithMilliseconds) {
    const std::string scenario =
        "contact \"Jane Roe\" home \"+49 89 1111\" work \"+49 30 2222\"\n"
        "contact \"Max Muster\" cell \"0151 3333\"\n";
    const std::string script =
        "phone connect hfp\nwait phone connected\nphonebook download contacts 2\n"
        "wait contact Max\nphone ring 01513333\nwait call incoming\nanswer\nwait call active\nhangup\nwait status call ended\n"
        "phonebook load\nwait contact Jane\npaired\n";
    struct Case {
        const char* mode;
        std::vector<const char*> shown, hidden;
    };
    const Case cases[] = {
        {"", {"contact  1 Jane Roe  +49891111 (home), +49302222 (work)", "call     active    01513333  (Max Muster)",
          "status   call ended"},
         {" bar ", "call present", "download restarted"}},
        {"--verbose", {" bar      call active", " status   call present", "number   1.2 +49302222  (work)"}, {}},
    };
    for (const auto& c : cases) {
        TempDir dir;   // a fresh head unit: no phone remembered from the last case
        dir.Write("scenario.txt", scenario);
        dir.Write("s.txt", script);
        std::vector<std::string> args = {"console", "--root", dir.path(), "--scenario", dir.File("scenario.txt"),
                                         "--script", dir.File("s.txt")};
        if (*c.mode) args.push_back(c.mode);
        const RunResult r = RunKztarn(args);
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        for (const char* s : c.shown) EXPECT_TRUE(Has(r.out, s)) << c.mode << ": " << s << "\n" << r.out;
        for (const char* s : c.hidden) EXPECT_FALSE(Has(r.out, s)) << c.mode << ": " << s << "\n" << r.out;
        EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n\d\d:\d\d:\d\d\.\d{3} ready )"))) << r.out;
        if (!*c.mode) {
            for (const char* once : {"call     active", "contact  1 Jane Roe"}) {   // no repeats, no replays
                const size_t first = r.out.find(once);
                EXPECT_EQ(r.out.find(once, first + 1), std::string::npos) << once << "\n" << r.out;
            }
        }
        EXPECT_TRUE(Has(r.out, "1 paired phone")) << r.out;
    }
}

// Tab completes commands and their arguments, a typo gets a suggestion,
// Ctrl-C clears a typed line; Ctrl-C on an empty line, Ctrl-D and SIGTERM
// close the library and keep the history.
TEST(Console_Terminal, KeysAndSignalsEndTheSessionCleanly) {
    struct Case {
        const char* name;
        const char* keys;
        int signal;
    };
    const Case cases[] = {{"ctrl-c", "\x03", 0}, {"ctrl-d", "\x04", 0}, {"sigterm", "", SIGTERM}};
    for (const auto& c : cases) {
        TempDir dir;
        PtyProcess console(KztarnPath(), {"console", "--root", dir.path()});
        ASSERT_TRUE(console.WaitFor("kztarn> ")) << console.Screen();
        EXPECT_LT(console.Screen().find("type 'help'"), console.Screen().find("device ready")) << "banner first";
        ASSERT_TRUE(console.WaitFor("micgain  ")) << console.Screen();   // the start-up reports are in
        // Each step waits for the prompt, as a user does: keys typed while a
        // command runs may be taken by the terminal.
        if (c.signal) {
            console.Type("aud\t");
            ASSERT_TRUE(console.WaitFor("audio ")) << console.Screen();
            console.Type("ph\t");
            ASSERT_TRUE(console.WaitFor("phone ")) << console.Screen();
            console.Type("\x15");   // kill the line
            console.Clear();
            console.Type("dail 123\r");
            ASSERT_TRUE(console.WaitFor("did you mean 'dial'?")) << console.Screen();
        }
        console.Type("calls\r");
        ASSERT_TRUE(console.WaitFor("kztarn> ", 10000, "calls:")) << console.Screen();
        console.Type("dial 999");
        ASSERT_TRUE(console.WaitFor("dial 999")) << console.Screen();
        console.Type("\x03");   // clears the typed line, the session goes on
        console.Type("info\r");
        ASSERT_TRUE(console.WaitFor("kztarn> ", 10000, "info:")) << console.Screen();
        EXPECT_FALSE(Has(console.Screen(), "dial 999info")) << console.Screen();
        console.Type(c.keys);
        if (c.signal) console.Signal(c.signal);
        EXPECT_EQ(console.Wait(), 0) << c.name << "\n" << console.Screen();
        std::stringstream history;
        history << std::ifstream(dir.File("console_history")).rdbuf();
        EXPECT_TRUE(Has(history.str(), "calls")) << c.name;
        EXPECT_FALSE(Has(history.str(), "dial 999")) << c.name;
    }
}

TEST(Console_Module, LostAndBackAreShown) {
    TempDir dir;
    PtyProcess console(KztarnPath(), {"console", "--root", dir.path()});
    ASSERT_TRUE(console.WaitFor("kztarn> ")) << console.Screen();
    const std::pair<const char*, const char*> steps[] = {
        {"phone module-reset\r", "module   back: the link is up again"},
        {"phone quiet on\rname\r", "module   lost: no answer for 2 s"},
        {"", "name failed: no confirmation from the module"},
        {"phone quiet off\r", "module   back: it answers again"},
    };
    for (const auto& [keys, shown] : steps) {
        console.Type(keys);
        EXPECT_TRUE(console.WaitFor(shown)) << shown << "\n" << console.Screen();
    }
    console.Type("quit\r");
    EXPECT_EQ(console.Wait(), 0);
}

TEST(Simulate_Hosts, OneAfterAnotherEachMeetsAReadyModule) {
    TempDir dir;
    dir.Write("scenario.txt", "name \"Test Phone\"\n");
    PtyProcess sim(KztarnPath(), {"simulate", "--quiet", "--scenario", dir.File("scenario.txt"), "--corrupt", "0",
                                  "--seed", "7", "--path-file", dir.File("path")});
    ASSERT_TRUE(sim.WaitFor("ready for one host after another")) << sim.Screen();
    std::string port;
    std::getline(std::ifstream(dir.File("path")), port);
    for (int host = 0; host < 2; ++host) {
        const RunResult r = RunKztarn({"console", "--port", port, "--root", dir.path()}, "micgain 6\n");
        EXPECT_EQ(r.exitCode, 0) << "host " << host << "\n" << r.out << r.err;
        EXPECT_TRUE(Has(r.out, "device ready") && Has(r.out, "micgain ok")) << "host " << host << "\n" << r.out;
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

// A script that uses every command of the console runs to its end.
TEST(Console_Script, EveryCommandInOneScript) {
    TempDir dir;
    const RunResult r = RunKztarn({"console", "--root", dir.path(), "--script",
                                   std::string(KZ_TARN_SOURCE) + "/tests/tool/every_command.txt", "--timeout", "100"},
                                  "", 120000);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
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
    dir.Write("text.pcap", "hello, this is text, not a capture");
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
        {{"decode", dir.File("text.pcap")}, 1, "not a pcap"},
        {{"decode", dir.File("missing.pcap")}, 1, "No such file"},
        {{"simulate", "--drop", "2"}, 2, "--drop takes a chance from 0 to 1"},
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
