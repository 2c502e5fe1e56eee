// Files made from the command table and the message-name table at build
// time, so that what the shell completes, what the manual lists and what
// the Wireshark dissector names never drift from the program.
#pragma once
#include <string>

namespace kztool {

// A bash completion script for kztarn and its console's commands.
std::string BashCompletion();
// The manual page (roff).
std::string ManPage(const std::string& version);
// The Lua table of module message names the dissector loads.
std::string LuaMessageNames();

}  // namespace kztool
