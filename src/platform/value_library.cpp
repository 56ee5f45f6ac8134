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
    // from_chars takes no sign for an unsigned number: "-1" and "+1" are refused with the rest.
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
    std::string_view textValue;
    std::string number;
    if (found.type == kRegDword && found.data.size() == 4) {
        number = std::to_string(DwordFromBytes(found.data));
        textValue = number;
    } else if (found.type == kRegSz || found.type == kRegExpandSz) {
        textValue = std::string_view(found.data);
        textValue = textValue.substr(0, textValue.find('\0'));
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
        text_.assign(data, 0, std::min<std::size_t>(size, data.size()));
        text_.push_back('\0');
        return api_.SetValueEx(key, name, kRegSz,
                               reinterpret_cast<const std::uint8_t*>(text_.data()),
                               static_cast<std::uint32_t>(text_.size()));
    }
    if (type == kTypeNumber) {
        std::uint32_t n = 0;
        if (!ParseDword(data, &n)) return error::kInvalidData;
        const std::string bytes = DwordBytes(n);
        return api_.SetValueEx(key, name, kRegDword,
                               reinterpret_cast<const std::uint8_t*>(bytes.data()), 4);
    }
    return error::kInvalidParameter;
}

}  // namespace kelvaston::platform
