// The value library: reads and writes single registry values as text, the way the service's
// own tools do. Numbers (REG_DWORD) cross as their decimal digits.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry_api.h"

namespace kelvaston::platform {

inline constexpr std::int32_t kTypeText = 1;    // REG_SZ
inline constexpr std::int32_t kTypeNumber = 4;  // REG_DWORD

class ValueLibrary {
public:
    explicit ValueLibrary(RegistryApi& api) : api_(api) {}

    // Reads value `name` of the key `path` below `root` into `buffer` as NUL-terminated text (from
    // any number of threads at once):
    // a REG_DWORD as its decimal digits, a text value as its text. `size` counts characters:
    // the buffer holds text::kMaxUtf8BytesPerCharacter bytes for each.
    //   kSuccess     the value was read;
    //   kMoreData    it was longer than `size` characters: the buffer holds the first `size`;
    //   otherwise    the key or the value is missing or unreadable: the buffer is untouched.
    Status GetValue(Key root, const std::string& path, const std::string& name, std::int32_t type,
                    char* buffer, std::uint32_t size);

    // Writes value `name` into the open key `key`: for kTypeText the first `size` bytes of
    // `data`, for kTypeNumber the number that the decimal digits of `data` denote (blanks
    // around them allowed). Digits that are no 32-bit unsigned number give kInvalidData and
    // write nothing.
    Status SetValue(Key key, const std::string& name, std::int32_t type, const std::string& data,
                    std::uint32_t size);

    RegistryApi& Api() { return api_; }

private:
    RegistryApi& api_;
    std::string text_;  // the last text written: kept so that its buffer is reused
};

// The decimal text of a REG_DWORD's digits, or nothing when `text` is not such a number.
bool ParseDword(const std::string& text, std::uint32_t* value);

}  // namespace kelvaston::platform
