// add: makes a key, with any missing keys above it, and sets one value in it.
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "change.h"
#include "messages.h"
#include "platform/text.h"
#include "session.h"
#include "verbs.h"

namespace kelvaston::tools::detail {

using namespace platform;

namespace {

std::uint32_t ParseDword(const std::string& data) {
    std::string_view digits = data;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    std::uint64_t n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n, base);
    if (digits.empty() || end != digits.data() + digits.size()) {  // no number, or text after it
        throw Failure(
            "\"" + data +
            "\" is not a REG_DWORD number: give it in decimal or as 0x followed by hex digits");
    }
    if (ec == std::errc::result_out_of_range || n > 0xFFFFFFFFu) {
        throw Failure("\"" + data +
                      "\" is too large for a REG_DWORD (at most 4294967295 or 0xffffffff)");
    }
    return static_cast<std::uint32_t>(n);
}

}  // namespace

int Add(const Command& command, RegistryApi& api, std::ostream& out) {
    const KeySpec spec = ParseKey(command.operands[0]);
    if ((command.type || command.data) && !command.valueName) {
        throw Failure(
            "/t and /d set a value: name it with /v NAME, or use /ve for the default value");
    }
    std::uint32_t type = kRegSz;
    std::string data;
    if (command.valueName) {
        const std::string typeName = command.type.value_or("REG_SZ");
        if (text::EqualsNoCase(typeName, "REG_SZ")) {
            data = command.data.value_or("") + '\0';
        } else if (text::EqualsNoCase(typeName, "REG_DWORD")) {
            if (!command.data) throw Failure("a REG_DWORD value needs its number: add /d DATA");
            type = kRegDword;
            data = platform::DwordBytes(ParseDword(*command.data));
        } else {
            throw Failure("the type " + typeName +
                          " cannot be given to add; it takes REG_SZ or REG_DWORD (import a .reg "
                          "file for other types)");
        }
    }

    // What the registry would refuse is refused before anything is written.
    CheckNames(api, spec, "nothing was changed");
    if (command.valueName) {
        if (text::LongerThan(*command.valueName, kMaxValueNameLength)) {
            throw Failure(
                "the value name is longer than 16383 characters, the registry's limit; nothing was "
                "changed");
        }
        if (const auto character = UnstorableCharacter(api, *command.valueName)) {
            throw Failure(CannotStore("the value name", *character) + "; nothing was changed");
        }
        const auto character =
            type == kRegSz ? UnstorableCharacter(api, command.data.value_or("")) : std::nullopt;
        if (character) {
            throw Failure(CannotStore("the data given with /d", *character) +
                          "; nothing was changed");
        }
    }

    Session session(api, spec.computer);
    Change change(session);
    if (command.valueName && !command.force) {
        KeyHandle existing(api);
        const Status status =
            api.OpenKeyEx(session.Root(), Join(spec.path), 0, kKeyQueryValue, existing.Out());
        if (status == error::kSuccess &&
            api.QueryValueEx(existing.Get(), *command.valueName, nullptr, nullptr, nullptr) ==
                error::kSuccess) {
            throw Failure(ValueLabel(*command.valueName) + " already exists in " + spec.Display() +
                          "; nothing was changed (add /f to overwrite it)");
        }
    }
    const Status read = command.valueName
                            ? change.Guard().WillChangeValue(spec.path, *command.valueName, false)
                            : change.Guard().WillCreate(spec.path);
    if (read != error::kSuccess) {
        throw Failure("cannot read " + spec.Display() +
                      " before changing it: " + Reason(api, read) + "; nothing was changed");
    }
    change.Writing();
    KeyHandle key(api);
    if (const Status status = api.CreateKey(session.Root(), Join(spec.path), key.Out());
        status != error::kSuccess) {
        const std::string reason = Reason(api, status);
        key.Reset();
        throw Failure("cannot create " + spec.Display() + ": " + reason + change.Undo());
    }
    if (command.valueName) {
        const Status status = api.SetValueEx(key.Get(), *command.valueName, type,
                                             reinterpret_cast<const std::uint8_t*>(data.data()),
                                             static_cast<std::uint32_t>(data.size()));
        if (status != error::kSuccess) {
            const std::string reason = Reason(api, status);
            key.Reset();
            throw Failure("cannot set " + ValueLabel(*command.valueName) + " in " + spec.Display() +
                          ": " + reason + change.Undo());
        }
    }
    key.Reset();
    change.Commit();
    out << kDone << "\n";
    return 0;
}

std::string_view AddUsage() {
    return R"(  kelvaston-reg add KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]
      Creates KEY (with any missing keys above it) and, with /v or /ve, sets a value.
      The type is REG_SZ unless /t says otherwise; REG_DWORD data is a decimal number or
      0x followed by hexadecimal digits.

)";
}

}  // namespace kelvaston::tools::detail
