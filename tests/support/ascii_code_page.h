// A registry on a computer whose code page holds ASCII only, as advapi32's ANSI calls there: a
// key name, a value name or a text with any other character is refused with
// kNoUnicodeTranslation, and UnstorableAt says where the first such character stands.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/registry_decorators.h"

namespace kelvaston::test {

class AsciiCodePage final : public platform::RegistryDecorator {
public:
    using RegistryDecorator::RegistryDecorator;
    std::optional<std::size_t> UnstorableAt(std::string_view text) const override {
        for (std::size_t at = 0; at < text.size(); ++at) {
            if (static_cast<unsigned char>(text[at]) >= 0x80) return at;
        }
        return std::nullopt;
    }
    platform::Status CreateKey(platform::Key parent, const std::string& subKey,
                               platform::Key* result) override {
        *result = platform::kNullKey;
        if (UnstorableAt(subKey)) return platform::error::kNoUnicodeTranslation;
        return RegistryDecorator::CreateKey(parent, subKey, result);
    }
    platform::Status SetValueEx(platform::Key key, const std::string& name, std::uint32_t type,
                                const std::uint8_t* data, std::uint32_t size) override {
        const std::string_view text(reinterpret_cast<const char*>(data), data ? size : 0);
        if (UnstorableAt(name) || (type == platform::kRegSz && UnstorableAt(text)))
            return platform::error::kNoUnicodeTranslation;
        return RegistryDecorator::SetValueEx(key, name, type, data, size);
    }

protected:
    std::optional<platform::Status> Before(platform::Call /*call*/) override {
        return std::nullopt;
    }
};

}  // namespace kelvaston::test
