// What the platform tests share: registry calls in one line, and code points in UTF-8 and
// UTF-16LE written out here, independently of the code under test.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/registry_api.h"

namespace kelvaston::test {

using platform::Key;
using platform::RegistryApi;
using platform::Status;
using platform::error::kSuccess;

// Creates (or opens) the key, or opens it with `access`, and closes it again: the call's status.
inline Status Make(RegistryApi& api, const std::string& path,
                   Key parent = platform::kHKeyLocalMachine) {
    Key key = platform::kNullKey;
    const Status status = api.CreateKey(parent, path, &key);
    if (key != platform::kNullKey) api.CloseKey(key);
    return status;
}
inline Status Opens(RegistryApi& api, const std::string& path, std::uint32_t access,
                    Key parent = platform::kHKeyLocalMachine) {
    Key key = platform::kNullKey;
    const Status status = api.OpenKeyEx(parent, path, 0, access, &key);
    if (key != platform::kNullKey) api.CloseKey(key);
    return status;
}

// Bytes as the test data files write them: \\ \0 \n \r \xHH, and {N*X} for X N times; nothing
// for any other escape.
inline std::optional<std::string> Unescape(std::string text) {
    for (std::size_t open; (open = text.find('{')) != std::string::npos;) {
        const std::size_t star = text.find('*', open), close = text.find('}', open);
        if (close == std::string::npos || star > close) return std::nullopt;
        std::string repeated;
        for (int n = std::stoi(text.substr(open + 1)); n > 0; --n) {
            repeated += text.substr(star + 1, close - star - 1);
        }
        text.replace(open, close - open + 1, repeated);
    }
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t escape = std::string_view("\\0nrx").find(text[i + 1]);
        if (text[i] != '\\') {
            bytes += text[i];
        } else if (escape < 4) {
            bytes += "\\\0\n\r"[escape];
            ++i;
        } else if (escape == 4 && i + 3 < text.size()) {
            bytes += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

// A code point in UTF-8 and in UTF-16LE.
inline std::string Utf8(char32_t c) {
    if (c < 0x80) return std::string(1, static_cast<char>(c));
    const int length = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    std::string out(1, static_cast<char>((0xF00u >> length) | (c >> (6 * (length - 1)))));
    for (int i = length - 2; i >= 0; --i) out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
    return out;
}
inline std::string Utf16(char32_t c) {
    const auto unit = [](char32_t u) {
        return std::string{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    };
    return c < 0x10000
               ? unit(c)
               : unit(0xD800 + ((c - 0x10000) >> 10)) + unit(0xDC00 + ((c - 0x10000) & 0x3FF));
}

}  // namespace kelvaston::test
