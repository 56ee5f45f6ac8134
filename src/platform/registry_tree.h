// Whole subtrees of the registry read, written and removed through any RegistryApi: the copy
// that guards a save, and the tool's export, import and recursive delete.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry_api.h"
#include "platform/task_pool.h"

namespace kelvaston::platform {

// A key with everything below it. Values hold their data as stored in a .reg file: REG_SZ as
// text, other types as their raw registry bytes.
struct KeyTree {
    std::string name;
    std::vector<regfile::Value> values;
    std::vector<KeyTree> children;

    bool operator==(const KeyTree&) const = default;

    KeyTree() = default;
    KeyTree(std::string keyName, std::vector<regfile::Value> keyValues,
            std::vector<KeyTree> subkeys)
        : name(std::move(keyName)), values(std::move(keyValues)), children(std::move(subkeys)) {}
    KeyTree(const KeyTree&) = default;
    KeyTree(KeyTree&&) noexcept = default;
    KeyTree& operator=(const KeyTree&) = default;
    KeyTree& operator=(KeyTree&&) noexcept = default;
    // Let go one key after another, never by recursion.
    ~KeyTree();
};

// What a reader expects below the key it reads (see ExpectedContents): the names of the values
// of a key d levels down (`valuesByDepth[d]`), and the names of the subkeys of a key by its path
// below the key read ("" for the key itself).
struct ExpectedTree {
    std::vector<std::vector<std::string>> valuesByDepth;
    std::map<std::string, std::vector<std::string>> subkeysByPath;
};

// Reads the key `key` (named `name` in the result) with all its values and subkeys, a key a
// call (QueryKeyContents). Values are read as the registry's own bytes, so that writing them
// back changes none. With a pool, the keys of a level are read at the same time. What is
// expected only saves calls: the tree read is what the registry holds, expected or not.
Status ReadTree(RegistryApi& api, Key key, const std::string& name, KeyTree* tree,
                TaskPool* pool = nullptr, const ExpectedTree& expected = {});

// Creates `tree` as the subkey tree.name of `parent` (or merges into it when it exists) and
// writes every value below it, byte for byte.
Status WriteTree(RegistryApi& api, Key parent, const KeyTree& tree);

// Removes subkey `name` of `parent` with everything below it. A missing key is success. On a
// failure `failedKey`, when given, names the key that could not be removed (relative to
// `parent`).
Status DeleteTree(RegistryApi& api, Key parent, const std::string& name,
                  std::string* failedKey = nullptr);

// Applies the entries of a .reg file below `root` (the hive they name) in file order: keys are
// created, values set byte for byte, "[-KEY]" and "name"=- remove. Stops at the first entry the
// registry refuses and points `failed` at it; what came before stays applied.
Status ApplyEntries(RegistryApi& api, Key root, const std::vector<regfile::Entry>& entries,
                    const regfile::Entry** failed);

// One value as read through the interface (text as program text), in .reg form.
regfile::Value ValueFromApi(RegValue&& value);
// A value in .reg form as the registry's own bytes (text types as UTF-16LE), and back.
std::string ValueBytes(const regfile::Value& value);
regfile::Value ValueFromBytes(std::string name, std::uint32_t type, std::string bytes);

}  // namespace kelvaston::platform
