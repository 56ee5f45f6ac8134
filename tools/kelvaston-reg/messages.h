// What kelvaston-reg tells the user: the failure it throws, and the words for what the registry
// and its files report.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/registry_api.h"

namespace kelvaston::tools::detail {

// The line a command that worked ends with.
inline constexpr std::string_view kDone = "The operation completed successfully.";

// A failure the user gets to read: the message says what went wrong in plain words.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

// A status in plain words, with its number.
std::string StatusText(platform::Status status);

// What a registry kept in files says about the file or folder behind a failure.
std::string ProblemText(const platform::HiveFileError& problem);

// Why a call failed: the file or folder's problem where the registry names one.
std::string Reason(platform::RegistryApi& api, platform::Status status);

// A name or path from the command line as messages quote it: cut short when it is very long.
std::string Shown(std::string_view given);

// Text from the command line must be UTF-8, as the registry's names and texts are; `what` names
// it in the failure.
void RequireUtf8(std::string_view given, const std::string& what);

// "the default value" or "the value "NAME"".
std::string ValueLabel(const std::string& name);

}  // namespace kelvaston::tools::detail
