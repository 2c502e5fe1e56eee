// The subcommands' entry points and the option parser they share.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kztool {

int RunConsole(const std::vector<std::string>& args);
int RunSimulate(const std::vector<std::string>& args);
int RunDemo(const std::vector<std::string>& args);
int RunDecode(const std::vector<std::string>& args);

// Exit codes of every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;   // a step or command failed, or a resource could not be used
inline constexpr int kExitUsage = 2;     // bad command line

// Options with values ("--port DEV") and flags ("--json").
struct OptionDef {
    const char* name;
    bool takesValue;
};
// Fills values (name -> value, "" for flags). False with a message on an
// unknown option, a missing value or a stray argument.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<OptionDef>& defs,
                  std::vector<std::pair<std::string, std::string>>& values, std::string& error);
bool HasOption(const std::vector<std::pair<std::string, std::string>>& values, const std::string& name,
               std::string* value = nullptr);
// A subcommand's command line: the options parsed into values, or the exit
// code when the subcommand ends here (a bad line named with the usage on
// standard error, or --help with the usage on standard output).
std::optional<int> ReadCommandLine(const char* subcommand, const std::vector<std::string>& args,
                                   const std::vector<OptionDef>& defs, const char* usage,
                                   std::vector<std::pair<std::string, std::string>>& values);

}  // namespace kztool
