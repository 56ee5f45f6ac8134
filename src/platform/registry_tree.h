// Whole subtrees of the registry read, written and removed through any RegistryApi: the copy
// that guards a save, and the tool's export, import and recursive delete.
#pragma once

#include <string>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry_api.h"

namespace kelvaston::platform {

// A key with everything below it. Values hold their data as stored in a .reg file: REG_SZ as
// text, other types as their raw registry bytes.
struct KeyTree {
    std::string name;
    std::vector<regfile::Value> values;
    std::vector<KeyTree> children;

    bool operator==(const KeyTree&) const = default;
};

// The names of the subkeys of an open key, in enumeration order.
Status ListSubkeys(RegistryApi& api, Key key, std::vector<std::string>* names);

// Reads the key `key` (named `name` in the result) with all its values and subkeys.
Status ReadTree(RegistryApi& api, Key key, const std::string& name, KeyTree* tree);

// Creates `tree` as the subkey tree.name of `parent` (or merges into it when it exists) and
// writes every value below it.
Status WriteTree(RegistryApi& api, Key parent, const KeyTree& tree);

// Removes subkey `name` of `parent` with everything below it. A missing key is success.
Status DeleteTree(RegistryApi& api, Key parent, const std::string& name);

// Applies the entries of a .reg file below `root` (the hive they name) in file order: keys are
// created, values set, "[-KEY]" and "name"=- remove. Stops at the first entry the registry
// refuses and points `failed` at it; what came before stays applied.
Status ApplyEntries(RegistryApi& api, Key root, const std::vector<regfile::Entry>& entries,
                    const regfile::Entry** failed);

// One value as read through the interface, in .reg form; and back.
regfile::Value ValueFromApi(RegValue&& value);
std::string ValueToApi(const regfile::Value& value);

}  // namespace kelvaston::platform
