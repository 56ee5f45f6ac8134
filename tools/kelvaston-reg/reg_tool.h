// kelvaston-reg: a command-line tool in the manner of reg.exe for setting up, inspecting and
// backing up a configuration in the registry. Everything goes through RegistryApi, so the same
// code works on the file store and on the Windows registry.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/registry_api.h"

namespace kelvaston::tools {

// Runs one command. `args` are the arguments after the program name. Results go to `out`,
// errors (one plain line each, starting with "ERROR: ") to `err`. Returns the exit code: 0 on
// success, 1 on any failure. Every change is flushed before it returns.
int RunRegTool(const std::vector<std::string>& args, platform::RegistryApi& api, std::ostream& out,
               std::ostream& err);

// The text printed for --help.
std::string RegToolUsage();

}  // namespace kelvaston::tools
