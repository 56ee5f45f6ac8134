// One registry value, as every part of the program passes it around.
#pragma once

#include <cstdint>
#include <string>

namespace kelvaston::platform {

// A value's name (empty: the key's default value, "@" in a .reg file), its type and its data.
// The data takes one of three forms, and each interface says which:
// - as QueryValueEx delivers it, text as UTF-8 with its NUL: the registry interface's reads
//   (QueryKeyValues, QueryNamedValues, QueryKeyValue);
// - as the registry keeps it, text types as UTF-16LE: EnumValueBytes, SetValueBytes and
//   KeyContents, for copies that must not change a byte;
// - as a .reg file holds it, REG_SZ as UTF-8 text without its NUL and every other type as its
//   bytes: the .reg reader and writer, the file store's tree and KeyTree.
// ValueFromApi, ValueBytes and ValueFromBytes (registry_tree.h) turn one form into another.
struct RegValue {
    std::string name;
    std::uint32_t type = 0;
    std::string data;

    bool operator==(const RegValue&) const = default;
};

}  // namespace kelvaston::platform
