#include "session.h"

#include <cstddef>
#include <utility>

#include "messages.h"
#include "platform/registry_tree.h"
#include "platform/text.h"

namespace kelvaston::tools::detail {

using namespace platform;

Session::Session(RegistryApi& api, const std::string& computer) : api_(api), root_(api) {
    const Status status = api.ConnectRegistry(computer, kHKeyLocalMachine, root_.Out());
    if (status == error::kSuccess) return;
    const std::string who =
        computer.empty() ? "this computer" : "computer \"" + Shown(computer) + "\"";
    if (status == error::kBadNetPath) {
        throw Failure("cannot connect to the registry of " + who + ": no such computer is known");
    }
    throw Failure("cannot use the registry of " + who + ": " + Reason(api, status));
}

void Session::Open(const KeySpec& spec, std::uint32_t access, KeyHandle& key) {
    const Status status = api_.OpenKeyEx(root_.Get(), Join(spec.path), 0, access, key.Out());
    if (status == error::kFileNotFound)
        throw Failure("the key " + spec.Display() + " does not exist");
    if (status != error::kSuccess)
        throw Failure("cannot open " + spec.Display() + ": " + Reason(api_, status));
}

std::vector<std::string> Session::StoredNames(const std::vector<std::string>& path) {
    std::vector<std::string> names;
    for (const auto& name : path) {
        KeyHandle parent(api_);
        if (api_.OpenKeyEx(root_.Get(), Join(names), 0, kKeyRead, parent.Out()) !=
            error::kSuccess) {
            names.insert(names.end(), path.begin() + static_cast<std::ptrdiff_t>(names.size()),
                         path.end());
            break;
        }
        std::vector<std::string> children;
        std::string stored = name;
        if (ListSubkeys(api_, parent.Get(), &children) == error::kSuccess) {
            for (const auto& child : children) {
                if (text::EqualsNoCase(child, name)) stored = child;
            }
        }
        names.push_back(std::move(stored));
    }
    return names;
}

std::vector<regfile::Value> ReadValues(RegistryApi& api, Key key, const std::string& where) {
    std::vector<regfile::Value> values;
    for (std::uint32_t index = 0;; ++index) {
        std::string name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        const Status status = api.EnumValue(key, index, &name, &type, &data);
        if (status == error::kNoMoreItems) return values;
        if (status != error::kSuccess)
            throw Failure("cannot read the values of " + where + ": " + Reason(api, status));
        values.push_back(
            ValueFromApi(RegValue{std::move(name), type, std::string(data.begin(), data.end())}));
    }
}

}  // namespace kelvaston::tools::detail
