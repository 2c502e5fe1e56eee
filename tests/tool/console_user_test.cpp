// The console as a user meets it: every command's outcome, waits that never
// race, one line per event, state at a glance, the keys that end a session,
// a module that goes quiet, and the simulator serving one host after another.
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
    };
    const Case cases[] = {
        {"dial 123\n", 1, "dial failed: no phone connected (status 12)"},
        {"answer\n", 1, "answer failed: no phone connected (status 12)"},
        {"delete 3\n", 1, "delete failed: slot 3 is empty"},
        {"pair 5 1234\n", 1, "pair failed: the library sent nothing (no inquiry result 5"},
        {"play\n", 1, "type 'source a2dp' first"},
        {"pin 12a4\n", 1, "PIN has four digits"},
        {"pin 4321\nautoanswer on\nmicmode external\n", 0, "micmode ok, stored: external (1)"},
        {"pin 4321\n", 1, "pin failed: the library could not save PinCode (the settings file holds nothing, not '4321')",
         true},
        {"phone connect hfp\nwait phone connected\ndial 0891234\nhangup\n", 0, "hangup ok"},
        // The event came while the ring command ran: the wait still sees it.
        {"phone ring 0123\nwait call incoming 0123\nwait calls 1\n", 0, "call     incoming  0123"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        if (c.fullSettings) FillSettings(dir);
        dir.Write("s.txt", c.script);
        const RunResult r = RunKztarn({"console", "--root", dir.path(), "--script", dir.File("s.txt")});
        EXPECT_EQ(r.exitCode, c.exitCode) << c.script << r.out << r.err;
        EXPECT_TRUE(Has(r.out + r.err, c.shown)) << c.script << r.out << r.err;
    }
}

TEST(Console_Json, OutcomesAndStateAreJsonLinesAndNothingElse) {
    TempDir dir;
    const RunResult r = RunKztarn({"console", "--json", "--root", dir.path()},
                                  "help\nstatus\ncalls\ninfo\ncontacts\nmicgain 9\ndial 123\n");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::istringstream lines(r.out);
    const std::regex iso(R"("time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d")");
    size_t count = 0;
    for (std::string l; std::getline(lines, l); ++count) {
        EXPECT_TRUE(JsonCheck::Valid(l)) << l;
        EXPECT_TRUE(std::regex_search(l, iso)) << l;
    }
    EXPECT_GT(count, 5u);
    for (const char* part : {R"("event":"status","link":"module ready")", R"("event":"info")",
                             R"("event":"contacts","count":0)", R"("command":"micgain","ok":true)",
                             R"("command":"dial","ok":false,"status":12)"})
        EXPECT_TRUE(Has(r.out, part)) << part << "\n" << r.out;
    EXPECT_TRUE(Has(r.err, "library:")) << "help goes to standard error";
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
        std::ifstream history(dir.File("console_history"));
        std::stringstream text;
        text << history.rdbuf();
        EXPECT_TRUE(Has(text.str(), "calls")) << c.name;
        EXPECT_FALSE(Has(text.str(), "dial 999")) << c.name;
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
        EXPECT_TRUE(Has(r.out, "device ready")) << "host " << host << "\n" << r.out << r.err;
        EXPECT_TRUE(Has(r.out, "micgain ok")) << r.out;
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    const RunResult bad = RunKztarn({"simulate", "--drop", "2"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(Has(bad.err, "--drop takes a chance from 0 to 1")) << bad.err;
}

// A script that uses every command of the console runs to its end.
TEST(Console_Script, EveryCommandInOneScript) {
    TempDir dir;
    const RunResult r = RunKztarn({"console", "--root", dir.path(), "--script",
                                   std::string(KZ_TARN_SOURCE) + "/tests/tool/every_command.txt", "--timeout", "100"},
                                  "", 120000);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

}  // namespace
}  // namespace kztooltest
