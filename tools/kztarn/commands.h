// The console's command table: one command per export, the phone-side
// commands of the simulator, and a few of the console's own.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "event.h"
#include "wire_tap.h"

namespace kzsim {
class ModuleSimulator;
}

namespace kztool {

class Session;
using Args = std::vector<std::string>;

// What confirms a command: the library sending the request it caused (seen
// on the wire) and, with confirm, the module confirming it with status 0; or
// one of these notifications or events; or the settings file holding the
// value written. All empty: done at once.
struct Expect {
    RequestMatch request;
    bool confirm = false;         // the module's confirmation decides the outcome
    std::string whyNothingSent;   // the library's reasons to refuse, for the message
    std::string storedSection, storedKey, storedValue;   // read back from the settings file
    std::string storedShown;      // the value in the user's words ("on" for "0")
    std::vector<uint32_t> notifications;
    std::vector<std::string> anyEvents;   // or any event with one of these names
    std::string eventName;       // or an event with this name...
    std::string eventText;       // ...whose text contains this
    uint32_t sleepMs = 0;        // `sleep`: wait this long, then succeed
    bool delivered = false;      // or the library acknowledged all the simulator sent
    bool Empty() const {
        return request.ids.empty() && notifications.empty() && anyEvents.empty() && eventName.empty() &&
               sleepMs == 0 && !delivered && storedKey.empty();
    }
};

enum class Group : uint8_t { kLibrary, kPhone, kConsole };

struct CommandContext {
    Session* session;               // null in `kztarn simulate`
    kzsim::ModuleSimulator* sim;    // null against a real module
    Expect expect;
    std::string error;    // set with a false result: usage error or refusal
    std::string info;     // text to show on success
    std::string refused;  // set with a true result: nothing done, and why (a failed outcome)
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
// The console's commands by topic, in the order help lists them.
const std::vector<std::pair<std::string, std::vector<std::string>>>& HelpTopics();
// "dial <NUMBER>": required arguments in angle brackets, optional in square.
std::string UsageLine(const Command& command);

// Result of one command line.
// kFailed: the command was well formed but nothing could be done.
enum class RunResult : uint8_t { kOk, kUsage, kUnknown, kUnavailable, kFailed, kQuit };
struct LineOutcome {
    RunResult result = RunResult::kOk;
    std::string command;   // the command's name ("phone ring" for a phone action)
    std::string message;   // the reason for everything but kOk; text to show for kOk
    Expect expect;
};
LineOutcome RunLine(Session& session, const std::string& line);
// The command's name and number of arguments, checked without running it:
// "" when fine, else the message RunLine would give.
std::string CheckLine(const std::string& line);
// A phone-side command alone ("ring 123" or "phone ring 123"), for `simulate`.
LineOutcome RunPhoneLine(kzsim::ModuleSimulator& sim, const std::string& line);

// Where the logs stood when a command began: the host windows' events and
// the messages seen on the wire.
struct CommandMarks {
    size_t host = 0;
    size_t wire = 0;
};
CommandMarks MarksNow(Session& session);

// What became of a command.
struct CommandOutcome {
    bool ok = true;
    std::string text;      // "dial failed: no phone connected (status 12)", "pin stored: 1234", or ""
    int status = -1;       // the module's status byte, -1 when none came
};
// Runs the message loop until the command's effect shows or fails, or ms
// passed (a failure too).
CommandOutcome AwaitOutcome(Session& session, const std::string& command, const Expect& expect,
                            const CommandMarks& marks, uint32_t ms);
// The same as a yes or no.
bool AwaitExpect(Session& session, const Expect& expect, const CommandMarks& marks, uint32_t ms);
// The outcome as an event of the console's own (channel "outcome").
Event OutcomeEvent(const std::string& command, const CommandOutcome& outcome);

// Choices that a command's argument accepts (words of "a|b" in its usage),
// for completion.
std::vector<std::string> ArgumentWords(const std::string& commandLine);

}  // namespace kztool
