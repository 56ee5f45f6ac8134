// The verbs of kelvaston-reg, one file each. A verb gets a command line already checked against
// its syntax, throws Failure when it cannot do what it is asked, and returns the exit code.
#pragma once

#include <ostream>
#include <string_view>

#include "command_line.h"
#include "platform/registry_api.h"

namespace kelvaston::tools::detail {

using VerbFunction = int (*)(const Command& command, platform::RegistryApi& api, std::ostream& out);

int Query(const Command& command, platform::RegistryApi& api, std::ostream& out);
int Add(const Command& command, platform::RegistryApi& api, std::ostream& out);
int Delete(const Command& command, platform::RegistryApi& api, std::ostream& out);
int Import(const Command& command, platform::RegistryApi& api, std::ostream& out);
int Export(const Command& command, platform::RegistryApi& api, std::ostream& out);

// Each verb's paragraph of the usage text, ending in a blank line.
std::string_view QueryUsage();
std::string_view AddUsage();
std::string_view DeleteUsage();
std::string_view ImportUsage();
std::string_view ExportUsage();

}  // namespace kelvaston::tools::detail
