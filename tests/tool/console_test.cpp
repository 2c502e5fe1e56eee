// kztarn as a user meets it, on a terminal: every command's outcome and the
// script's exit code, JSON output and nothing else, one line per event, the
// terminal's keys, a module that goes quiet or hangs up, the simulator serving
// host after host, every command in one script, the demo and bad input.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "commands.h"
#include "kztarn_process.h"

namespace kztooltest {
namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string FileText(const std::string& path) { std::ifstream in(path); return {std::istreambuf_iterator<char>(in), {}}; }

// A script's exit code and what the terminal shows: every command's outcome,
// one line per event (each channel's line with --verbose), nothing twice.
TEST(Console_Scripts, OutcomesAndEventsAreShownOnce) {
    const std::string events =
        "phone connect hfp\nwait phone connected\nphonebook download contacts 2\nwait contact Max\n"
        "phone ring 01513333\nwait call incoming\nanswer\nwait call active\nhangup\nwait status call ended\n"
        "phonebook load\nwait contact Jane\npaired\nstatus\n";
    struct Case {
        std::string script;
        int exitCode;
        std::vector<const char*> shown, hidden = {}, once = {};
        std::vector<std::string> options = {};
        std::string settings = "";   // BTSetting.ini before the run
    };
    const Case cases[] = {
        {"dial 123\n", 1, {"dial failed: no phone connected (status 12)"}},
        {"delete 3\n", 1, {"delete failed: slot 3 is empty"}},
        {"pair 5 1234\n", 1, {"pair failed: the library sent nothing (no inquiry result 5"}},
        {"play\n", 1, {"type 'source a2dp' first"}},
        {"phone connect avrcp\nphone play\n", 0, {"type 'source a2dp' before the phone connects AVRCP"}},
        {"pin 12a4\n", 1, {"PIN has four digits"}},
        {"audio sideways\n", 1, {"usage: audio <car|phone>"}},
        {"dail 1\nfrob\n", 1, {"line 1: unknown command 'dail'; did you mean 'dial'?", "line 2: unknown command 'frob'"}},
        {"# round trip\npin 4321\nautoanswer on\nmicmode external\nmicmode\nwait micmode external\n", 0,
         {"micmode ok, stored: external (1)", "pin stored: 4321", "autoanswer stored: on (0)"}},
        {"pin 4321\n", 1, {"pin failed: the library could not save PinCode (the settings file holds nothing"}, {}, {}, {},
         "[Filler]\n" + std::string(1100000, 'x') + "\n"},   // no room for another write
        // The library's prefix rules: its write went to "Pin", which it reads as PinCode.
        {"pin 4321\n", 0, {"pin stored: 4321"}, {}, {}, {}, "[PinCode]\nPin=0000\nPinCode=1111\n"},
        {"phone connect hfp\nwait phone connected\ndial 0891234\nhangup\n", 0, {"dial ok", "hangup ok"}},
        // The wait sees an event that came while the ring ran; a withheld number: the ring shows after half a second.
        {"phone connect hfp\nwait phone connected\nphone ring 0123\nwait call incoming 0123\n", 0,
         {"call     incoming  0123"}},
        {"phone connect hfp\nwait phone connected\nphone ring \"\"\nsleep 800\nphone hangup\n", 0,
         {"call     incoming  \r\n", "calls    1\r\n> phone hangup"}, {}, {"call     incoming"}},
        {"micgain\nwait call incoming\n", 1, {"line 2: 'wait call incoming' not confirmed"}, {}, {}, {"--timeout", "2"}},
        {"phone hangup\n", 1, {"phone hangup failed: no call on the phone to end"}},
        {"phone ring 0123\n", 1, {"phone ring failed: the phone is not connected to the unit (HFP)"}},
        {"phone connect hfp\nwait phone connected\nphone waiting 0123\n", 1,
         {"phone waiting failed: no call is active on the phone"}},
        {events, 0,
         {"contact  1 Jane Roe  +49891111 (home), +49302222 (work)", "call     active    01513333  (Max Muster)",
          "status   call ended", "1 paired phone", "download:   phonebook finished"},
         {" bar ", "call present", "restarted"}, {"call     incoming", "call     active", "contact  1 Jane Roe"}},
        {events, 0, {" bar      call active", " status   call present", "number   1.2 +49302222  (work)"}, {}, {},
         {"--verbose"}},
    };
    for (const auto& c : cases) {
        TempDir dir;   // a fresh head unit: no phone remembered from the last case
        if (!c.settings.empty()) dir.Write("BACKUP/KZ_Config/BTSetting.ini", c.settings);
        dir.Write("scenario.txt", "contact \"Jane Roe\" home \"+49 89 1111\" work \"+49 30 2222\"\n"
                                  "contact \"Max Muster\" cell \"0151 3333\"\n");
        dir.Write("s.txt", c.script);
        std::vector<std::string> args = {"console"};
        args.insert(args.end(), c.options.begin(), c.options.end());   // before the defaults, which they override
        args.insert(args.end(), {"--root", dir.path(), "--scenario", dir.File("scenario.txt"), "--script",
                                 dir.File("s.txt"), "--timeout", "30"});
        const Ended r = RunKztarn(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.script << r.screen;
        const std::regex stamp(R"(\n\d\d:\d\d:\d\d\.\d{3} ready )");   // milliseconds
        EXPECT_TRUE(c.exitCode != 0 || std::regex_search(r.screen, stamp)) << r.screen;
        for (const char* text : c.shown) EXPECT_TRUE(Has(r.screen, text)) << c.script << ": " << text << r.screen;
        for (const char* text : c.hidden) EXPECT_FALSE(Has(r.screen, text)) << c.script << ": " << text << r.screen;
        for (const char* text : c.once)
            EXPECT_EQ(r.screen.find(text, r.screen.find(text) + 1), std::string::npos) << text << r.screen;
    }
}

// A user pipes the JSON to another program and types at the terminal.
TEST(Console_Json, StandardOutputHoldsJsonLinesOnly) {
    TempDir dir;
    Kztarn console({"console", "--json", "--root", dir.path()}, Kztarn::Stdout::kPipe);
    ASSERT_TRUE(console.WaitFor("kztarn> ")) << console.Screen();
    for (const char* line : {"help", "status", "calls", "info", "contacts", "micmode", "micgain 9", "dial 123"})
        ASSERT_TRUE(console.Command(line)) << line << "\n" << console.Screen();
    console.Type("quit\r");
    ASSERT_EQ(console.Wait(), 0);
    std::istringstream lines(console.Out());
    const std::regex iso(R"("time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d")");
    size_t count = 0;
    for (std::string l; std::getline(lines, l); ++count)
        EXPECT_TRUE(nlohmann::json::accept(l) && std::regex_search(l, iso)) << l;
    EXPECT_GT(count, 8u);
    for (const char* part : {R"("event":"ready")", R"("code":82)", R"("event":"status","link":"module ready")",
                             R"("event":"calls")", R"("event":"info")", R"("event":"contacts","count":0)",
                             R"("command":"micgain","ok":true)", R"("command":"dial","ok":false,"status":12)"})
        EXPECT_TRUE(Has(console.Out(), part)) << part << "\n" << console.Out();
    EXPECT_TRUE(Has(console.Screen(), "library:")) << "help goes to the terminal";
}

// Tab completes commands and their arguments, a typo gets a suggestion, a
// module that restarts or goes quiet is shown, Ctrl-C clears a typed line;
// Ctrl-C on an empty line, Ctrl-D and SIGTERM close the library and keep the
// history.
TEST(Console_Terminal, KeysAndSignalsEndTheSessionCleanly) {
    const std::pair<const char*, int> cases[] = {{"\x03", 0}, {"\x04", 0}, {"", SIGTERM}};
    for (const auto& [keys, signal] : cases) {
        TempDir dir;
        Kztarn console({"console", "--root", dir.path()});
        ASSERT_TRUE(console.WaitFor("kztarn> ") && console.WaitFor("micgain  ")) << console.Screen();   // ready
        EXPECT_LT(console.Screen().find("type 'help'"), console.Screen().find("device ready")) << "banner first";
        if (signal) {
            console.Type("aud\t");
            ASSERT_TRUE(console.WaitFor("audio ")) << console.Screen();
            console.Type("\x15");   // kill the line
            ASSERT_TRUE(console.Command("dail 123"));
            EXPECT_TRUE(Has(console.Screen(), "did you mean 'dial'?")) << console.Screen();
            // The module restarts, goes quiet, answers again: each is said.
            for (const auto& [line, shown] : {std::pair{"phone module-reset", "module   back: the link is up again"},
                                              {"phone quiet on\rname", "module   lost: no answer for 2 s"},
                                              {"", "name failed: no confirmation from the module"},
                                              {"phone quiet off", "module   back: it answers again"}}) {
                console.Type(*line ? line + std::string("\r") : "");
                EXPECT_TRUE(console.WaitFor(shown)) << shown << "\n" << console.Screen();
            }
        }
        ASSERT_TRUE(console.Command("calls")) << console.Screen();
        console.Type("dial 999");
        ASSERT_TRUE(console.WaitFor("dial 999")) << console.Screen();
        console.Type("\x03");   // clears the typed line, the session goes on
        ASSERT_TRUE(console.Command("info")) << console.Screen();
        EXPECT_TRUE(Has(console.Screen(), "info:") && !Has(console.Screen(), "dial 999info")) << console.Screen();
        console.Type(keys);
        if (signal) console.Signal(signal);
        EXPECT_EQ(console.Wait(), 0) << console.Screen();
        const std::string history = FileText(dir.File("console_history"));   // kept, without the cleared line
        EXPECT_TRUE(Has(history, "calls") && !Has(history, "dial 999")) << history;
    }
}

// `kztarn simulate` with a scenario and line-fault options serves one host
// after another; a console left idle says at once when the line hangs up.
TEST(Simulate_Hosts, OneAfterAnotherAndAHangUpIsShown) {
    TempDir dir;
    dir.Write("scenario.txt", "name \"Test Phone\"\n");
    dir.Write("s.txt", "micgain 6\n");
    Kztarn sim({"simulate", "--quiet", "--scenario", dir.File("scenario.txt"), "--corrupt", "0", "--seed", "7",
                "--path-file", dir.File("path")});
    ASSERT_TRUE(sim.WaitFor("ready for one host after another")) << sim.Screen();
    const std::string port = FileText(dir.File("path")).substr(0, FileText(dir.File("path")).find('\n'));
    const Ended first = RunKztarn({"console", "--port", port, "--root", dir.path(), "--script", dir.File("s.txt")});
    EXPECT_TRUE(first.exitCode == 0 && Has(first.screen, "micgain ok")) << first.screen;
    Kztarn second({"console", "--port", port, "--root", dir.path()});
    ASSERT_TRUE(second.WaitFor("kztarn> ") && second.Command("micgain 6")) << second.Screen();
    EXPECT_TRUE(Has(second.Screen(), "micgain ok")) << second.Screen();
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_TRUE(second.WaitFor("module   lost: the serial line hung up", 3000)) << second.Screen();
    ASSERT_TRUE(second.Command("status"));
    EXPECT_TRUE(Has(second.Screen(), "link:       module lost")) << second.Screen();
    second.Type("quit\r");
    EXPECT_EQ(second.Wait(), 0);
}

// The script uses every command of the table (or another name of it) and
// every phone action, and runs to its end.
TEST(Console_Script, EveryCommandInOneScript) {
    const std::string path = std::string(KZ_TARN_SOURCE) + "/tests/tool/every_command.txt";
    std::set<std::string> used;
    std::istringstream script(FileText(path));
    for (std::string line; std::getline(script, line);) {
        const kztool::Args words = kztool::SplitLine(line);
        if (words.empty() || words[0][0] == '#') continue;
        used.insert(words[0]);
        if (words[0] == "phone" && words.size() > 1) used.insert("phone " + words[1]);
    }
    for (const auto& c : kztool::Commands())   // it, or another name of it
        EXPECT_TRUE(std::any_of(kztool::Commands().begin(), kztool::Commands().end(),
                                [&](const auto& o) { return o.run == c.run && used.count(o.name); })) << c.name;
    for (const auto& action : kztool::PhoneCommands())
        EXPECT_TRUE(used.count(std::string("phone ") + action.name)) << "phone " << action.name << " is missing";
    TempDir dir;
    const Ended r = RunKztarn({"console", "--root", dir.path(), "--script", path, "--timeout", "100"}, 120000);
    EXPECT_EQ(r.exitCode, 0) << r.screen;
}

TEST(Demo_Tour, EveryStepHappensAndIsNamed) {
    // An existing folder with settings in it: the tour makes its own inside.
    TempDir dir;
    dir.Write("BTSetting.ini", "[PinCode]\nPinCode=9999\n");
    const Ended r = RunKztarn({"demo", "--root", dir.path()}, 60000);
    EXPECT_TRUE(Has(r.screen, "files in " + dir.path() + "/kztarn-demo-")) << r.screen;
    EXPECT_EQ(r.exitCode, 0) << r.screen;
    EXPECT_TRUE(std::regex_search(r.screen, std::regex(R"(\n(\d+) of \1 steps passed)"))) << r.screen;
    for (const char* capability : {"a call pauses the download", "restart the library: it reconnects to the remembered phone"})
        EXPECT_TRUE(Has(r.screen, std::string("  ok      ") + capability)) << capability;
    // `make demo` builds the program only, not the tests and benchmarks.
    std::string plan;
    EXPECT_EQ(Shell("make -n -C " + std::string(KZ_TARN_SOURCE) + " demo BUILD=" + dir.path(), &plan), 0);
    EXPECT_TRUE(Has(plan, "--target kztarn") && !std::regex_search(plan, std::regex("cmake --build [^\\n]*-j2\\n")))
        << plan;
}

TEST(BadInput_Cases, ClearMessageAndExitCode) {
    TempDir dir;
    dir.Write("text.pcap", "hello, this is text, not a capture");
    const std::string root = dir.File("root");
    const std::pair<std::vector<std::string>, std::pair<int, std::string>> cases[] = {
        {{"--version"}, {0, "kztarn 0.1.0"}},
        {{"frobnicate"}, {2, "unknown command 'frobnicate'"}},
        {{"console", "--bogus"}, {2, "unknown option '--bogus'"}},
        {{"console", "--timeout", "soon"}, {2, "--timeout takes a number of seconds"}},
        {{"console", "--port", "/dev/nonexistent-tty", "--root", root}, {1, "cannot open the serial device"}},
        {{"console", "--port", dir.File("text.pcap"), "--root", root}, {1, "as a serial device"}},
        {{"console", "--root", dir.File("text.pcap") + "/sub"}, {1, "cannot create the root folder"}},
        {{"console", "--root", root, "--script", dir.File("missing.txt")}, {1, "cannot read the script"}},
        {{"decode"}, {2, "usage: kztarn decode [--follow] FILE"}},
        {{"decode", dir.File("text.pcap")}, {1, "not a pcap"}},
        {{"decode", dir.File("missing.pcap")}, {1, "No such file"}},
        {{"simulate", "--drop", "2"}, {2, "--drop takes a chance from 0 to 1"}},
    };
    for (const auto& [args, expected] : cases) {
        const Ended r = RunKztarn(args, 20000);
        EXPECT_EQ(r.exitCode, expected.first) << args[0] << "\n" << r.screen;
        EXPECT_TRUE(Has(r.screen, expected.second)) << args[0] << "\n" << r.screen;
    }
}

}  // namespace
}  // namespace kztooltest
