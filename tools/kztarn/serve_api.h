// The JSON commands of `kztarn serve`: {"command": NAME, "args": [TEXT...]}.
// Each is checked against the commands the page may run, with every argument
// checked by its kind (number, PIN, slot, ...), and turned into the
// console's command line that runs it.
#pragma once
#include <string>
#include <vector>

namespace kztool {

struct ApiCommand {
    std::string name;                 // "dial", "phone ring", ...
    std::vector<std::string> args;
};

// Bodies longer than this are refused before they are read.
inline constexpr size_t kMaxCommandBody = 4096;

// Parses a request body. False with a message for anything but an object with
// a string "command" and an optional array of strings "args".
bool ParseCommandBody(const std::string& body, ApiCommand& out, std::string& error);

// "" when the command is one the page may run and its arguments are valid,
// else a message that names the command and what was expected.
std::string CheckCommand(const ApiCommand& command, bool simulator);

// Commands that serve runs itself instead of the console.
bool IsServeCommand(const ApiCommand& command);

// The console line of a checked command (every argument quoted).
std::string ConsoleLine(const ApiCommand& command);

// {"ok":..,"command":..,"message":..}
std::string OutcomeJson(bool ok, const std::string& command, const std::string& message);

}  // namespace kztool
