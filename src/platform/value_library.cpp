#include "platform/value_library.h"

#include <charconv>
#include <cstring>
#include <vector>

#include "platform/text.h"

namespace kelvaston::platform {

bool ParseDword(const std::string& text, std::uint32_t* value) {
    std::string_view digits = text;
    while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
    while (!digits.empty() && digits.back() == ' ') digits.remove_suffix(1);
    if (digits.empty() || digits.front() < '0' || digits.front() > '9') return false;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), *value);
    return ec == std::errc() && end == digits.data() + digits.size();
}

Status ValueLibrary::GetValue(Key root, const std::string& path, const std::string& name,
                              std::int32_t /*type*/, char* buffer, std::uint32_t size) {
    // The key's values come at once: a registry that keeps them answers the key's other values
    // without another call.
    RegValue found;
    const Status status = api_.QueryKeyValue(root, path, name, &found);
    if (status != error::kSuccess) return status;
    const std::uint32_t storedType = found.type;
    const auto length = found.data.size();
    const auto* data = reinterpret_cast<const std::uint8_t*>(found.data.data());

    std::string textValue;
    if (storedType == kRegDword && length == 4) {
        std::uint32_t n = 0;
        for (int b = 3; b >= 0; --b) n = (n << 8) | data[static_cast<std::size_t>(b)];
        textValue = std::to_string(n);
    } else if (storedType == kRegSz || storedType == kRegExpandSz) {
        textValue.assign(reinterpret_cast<const char*>(data), length);
        textValue.resize(std::min(textValue.size(), textValue.find('\0')));
    } else {
        return error::kInvalidData;  // no text form: the caller takes its default
    }
    if (size == 0) return error::kMoreData;
    const std::string_view fitting = text::FirstCharacters(textValue, size);
    std::memcpy(buffer, fitting.data(), fitting.size());
    if (fitting.size() < size * text::kMaxUtf8BytesPerCharacter) buffer[fitting.size()] = '\0';
    return fitting.size() == textValue.size() ? error::kSuccess : error::kMoreData;
}

Status ValueLibrary::SetValue(Key key, const std::string& name, std::int32_t type,
                              const std::string& data, std::uint32_t size) {
    if (type == kTypeText) {
        std::string textValue = data.substr(0, std::min<std::size_t>(size, data.size()));
        textValue.push_back('\0');
        return api_.SetValueEx(key, name, kRegSz, reinterpret_cast<const std::uint8_t*>(textValue.data()),
                               static_cast<std::uint32_t>(textValue.size()));
    }
    if (type == kTypeNumber) {
        std::uint32_t n = 0;
        if (!ParseDword(data, &n)) return error::kInvalidData;
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                                       static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
        return api_.SetValueEx(key, name, kRegDword, bytes, 4);
    }
    return error::kInvalidParameter;
}

}  // namespace kelvaston::platform
