// The console's command table: one command per export, the phone-side
// commands of the simulator, and a few of the console's own.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kzsim {
class ModuleSimulator;
}

namespace kztool {

class Session;
using Args = std::vector<std::string>;

// What confirms a command: the simulator receiving one of these requests, or
// one of these notifications (either is enough). Both empty: done at once.
struct Expect {
    std::vector<uint16_t> requests;
    std::vector<uint32_t> notifications;
    std::vector<std::string> anyEvents;   // or any event with one of these names
    std::string eventName;       // or an event with this name...
    std::string eventText;       // ...whose text contains this
    uint32_t sleepMs = 0;        // `sleep`: wait this long, then succeed
    bool delivered = false;      // or the library acknowledged all the simulator sent
    bool Empty() const {
        return requests.empty() && notifications.empty() && anyEvents.empty() && eventName.empty() &&
               sleepMs == 0 && !delivered;
    }
};

enum class Group : uint8_t { kLibrary, kPhone, kConsole };

struct CommandContext {
    Session* session;               // null in `kztarn simulate`
    kzsim::ModuleSimulator* sim;    // null against a real module
    Expect expect;
    std::string error;    // set with a false result: usage error or refusal
    std::string info;     // text to show on success
    bool quit = false;
};

using Handler = bool (*)(CommandContext& ctx, const Args& args);

struct Command {
    const char* name;
    const char* usage;     // arguments, e.g. "car|phone"
    const char* help;
    int minArgs;
    int maxArgs;           // -1: any
    Group group;
    Handler run;
};

const std::vector<Command>& Commands();
const std::vector<Command>& PhoneCommands();
const Command* FindCommand(const std::vector<Command>& table, const std::string& name);
// The nearest name by edit distance, or "" when nothing is close.
std::string NearestCommand(const std::vector<Command>& table, const std::string& name);
size_t EditDistance(const std::string& a, const std::string& b);

// Splits a line into words; "double quotes" keep spaces.
Args SplitLine(const std::string& line);
std::string HelpText(const std::string& topic);

// Result of one command line.
enum class RunResult : uint8_t { kOk, kUsage, kUnknown, kUnavailable, kQuit };
struct LineOutcome {
    RunResult result = RunResult::kOk;
    std::string message;   // the reason for everything but kOk; text to show for kOk
    Expect expect;
};
LineOutcome RunLine(Session& session, const std::string& line);
// The command's name and number of arguments, checked without running it:
// "" when fine, else the message RunLine would give.
std::string CheckLine(const std::string& line);
// A phone-side command alone ("ring 123" or "phone ring 123"), for `simulate`.
LineOutcome RunPhoneLine(kzsim::ModuleSimulator& sim, const std::string& line);

// Whether the effect happened: events after hostMark in the host windows'
// log, requests after simMark in the simulator's record.
bool ExpectSatisfied(Session& session, const Expect& expect, size_t hostMark, size_t simMark);
// Runs the message loop until the effect happened or ms passed.
bool AwaitExpect(Session& session, const Expect& expect, size_t hostMark, size_t simMark, uint32_t ms);

// Choices that a command's argument accepts (words of "a|b" in its usage),
// for completion.
std::vector<std::string> ArgumentWords(const std::string& commandLine);

}  // namespace kztool
