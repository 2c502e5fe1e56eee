// Text commands that script the simulator, for the command-line tool
// ("kztarn simulate") and demos: one line, one action.
#pragma once
#include <string>

#include "module_simulator.h"

namespace kzsim {

// Runs one command line. Returns "" on success, else a message for the user.
// `help` lists the commands.
std::string RunSimCommand(ModuleSimulator& sim, const std::string& line);
std::string SimCommandHelp();

}  // namespace kzsim
