// Registry values and trees in test failure messages: names, types and data as .reg text would
// show them, instead of raw object bytes.
#pragma once

#include <ostream>

#include "platform/reg_file.h"
#include "platform/registry_tree.h"

namespace kelvaston::platform {

inline void PrintTo(const RegValue& value, std::ostream* out) {
    *out << '"' << value.name << "\" type " << value.type << " (" << value.data.size() << " bytes)";
}

// A tree as the .reg text of its keys and values.
inline void PrintTo(const KeyTree& tree, std::ostream* out) {
    std::vector<std::pair<std::string, const KeyTree*>> pending{{tree.name, &tree}};
    regfile::Writer writer(regfile::Encoding::Utf8Lf);
    while (!pending.empty()) {
        auto [path, key] = pending.back();
        pending.pop_back();
        writer.AddKey(path, key->values);
        for (auto child = key->children.rbegin(); child != key->children.rend(); ++child) {
            pending.emplace_back(path + "\\" + child->name, &*child);
        }
    }
    *out << "\n" << writer.Finish();
}

}  // namespace kelvaston::platform
