// What a save changes, worked out in memory: the tree the registry holds after writing the
// model, and the changes that turn the stored tree into it. Both follow the registry's own
// rules, so that writing only the changes leaves the same tree as removing every stored key
// and writing the whole model would.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_tree.h"

namespace kelvaston::config {

using Value = platform::regfile::Value;

// The key `path` below `key` (names separated by backslashes), each missing key made as the
// registry makes it: found whatever the case of its name, keeping the name it was made with.
// Empty names are passed over; a path that begins with a backslash makes nothing (null).
platform::KeyTree* MakePath(platform::KeyTree& key, std::string_view path);

// Sets a value as the registry sets it: one of the same name in another case keeps its name
// and its place; a new one goes last.
void PutValue(platform::KeyTree& key, Value value);

// What is to be done to one key (`path` below the Parameters key, empty for that key itself),
// in this order: subkeys removed with everything below them, values removed, values set.
struct KeyChange {
    std::string path;
    bool create = false;  // the key is not there yet
    std::vector<std::string> removeKeys;
    std::vector<std::string> removeValues;
    std::vector<const Value*> setValues;  // point into the target tree
};

// The changes that turn `stored` (null: there is no such key) into `target`, parents before
// their children; keys that stay as they are have none. A value is set where its type or its
// bytes differ, and added where it is new. Where the stored values' names are not the first of
// the target's, exactly as spelt and in order, all of the key's values are written anew; a key
// whose name differs in case is made anew.
std::vector<KeyChange> PlanChanges(const platform::KeyTree* stored,
                                   const platform::KeyTree& target);

}  // namespace kelvaston::config
