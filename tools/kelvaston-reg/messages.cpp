#include "messages.h"

#include <filesystem>
#include <system_error>

#include "platform/text.h"

namespace kelvaston::tools::detail {

using namespace platform;

std::string StatusText(Status status) {
    std::string text;
    switch (status) {
        case error::kFileNotFound: text = "the key or value does not exist"; break;
        case error::kAccessDenied: text = "access is denied"; break;
        case error::kInvalidHandle: text = "the key handle is not valid"; break;
        case error::kInvalidData: text = "the data is not valid"; break;
        case error::kBadNetPath: text = "the computer cannot be reached"; break;
        case error::kInvalidParameter: text = "a name or the data is not valid"; break;
        case error::kBadPathName: text = "the key path is not valid"; break;
        case error::kBadDb: text = "the registry's file is damaged and cannot be read"; break;
        case error::kRegistryIoFailed: text = "the registry could not be written"; break;
        case error::kKeyDeleted: text = "the key has been deleted meanwhile"; break;
        case error::kNoUnicodeTranslation:
            text = "a name or text holds a character this registry cannot store";
            break;
        default: text = "the registry reported an error"; break;
    }
    return text + " (error " + std::to_string(status) + ")";
}

std::string ProblemText(const HiveFileError& problem) {
    switch (problem.kind) {
        case HiveFileError::Kind::Malformed:
            return "the registry file is damaged at " + Describe(problem) +
                   "; it is left as it is: mend it there or restore it from a backup";
        case HiveFileError::Kind::Unreadable:
            return "cannot read " + problem.file + ": " + problem.message;
        case HiveFileError::Kind::Unwritable: {
            std::error_code ec;
            if (std::filesystem::is_directory(std::filesystem::path(problem.file), ec)) {
                return "cannot write in the folder " + problem.file + ": " + problem.message;
            }
            return "cannot write " + problem.file + ": " + problem.message +
                   "; the file is left as it was";
        }
        case HiveFileError::Kind::Unsafe:
        case HiveFileError::Kind::NotAFolder:
            return "refusing to use " + problem.file + ": it " + problem.message;
    }
    return Describe(problem);
}

std::string Reason(RegistryApi& api, Status status) {
    if (const auto problem = api.LastHiveFileError()) return ProblemText(*problem);
    return StatusText(status);
}

std::string Shown(std::string_view given) {
    return text::Abbreviated(given, 80, "...");
}

void RequireUtf8(std::string_view given, const std::string& what) {
    const std::size_t at = text::FirstInvalidUtf8(given);
    if (at == std::string_view::npos) return;
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    const auto byte = static_cast<unsigned char>(given[at]);
    throw Failure(what + " is not UTF-8 text (byte 0x" +
                  std::string{kDigits[byte >> 4], kDigits[byte & 0xF]} + " at position " +
                  std::to_string(at + 1) + "); give names and data in UTF-8");
}

std::string ValueLabel(const std::string& name) {
    return name.empty() ? std::string("the default value") : "the value \"" + Shown(name) + "\"";
}

}  // namespace kelvaston::tools::detail
