#include "platform/registry_tree.h"

#include "platform/text.h"

namespace kelvaston::platform {
namespace {

bool IsUtf16Type(std::uint32_t type) { return type == kRegExpandSz || type == kRegMultiSz; }

// Closes a key when it goes out of scope.
class KeyGuard {
public:
    KeyGuard(RegistryApi& api, Key key) : api_(api), key_(key) {}
    ~KeyGuard() {
        if (key_ != kNullKey) api_.CloseKey(key_);
    }
    KeyGuard(const KeyGuard&) = delete;
    KeyGuard& operator=(const KeyGuard&) = delete;

private:
    RegistryApi& api_;
    Key key_;
};

}  // namespace

regfile::Value ValueFromApi(RegValue&& value) {
    if (value.type == kRegSz) {
        value.data.resize(std::min(value.data.size(), value.data.find('\0')));
    } else if (IsUtf16Type(value.type)) {
        value.data = text::Utf8ToUtf16Le(value.data);
    }
    return regfile::Value{std::move(value.name), value.type, std::move(value.data)};
}

std::string ValueToApi(const regfile::Value& value) {
    if (value.type == kRegSz) return value.data + '\0';
    if (IsUtf16Type(value.type)) return text::Utf16LeToUtf8(value.data);
    return value.data;
}

Status ListSubkeys(RegistryApi& api, Key key, std::vector<std::string>* names) {
    std::vector<char> buffer(1024);
    for (std::uint32_t index = 0;; ++index) {
        auto length = static_cast<std::uint32_t>(buffer.size());
        const Status status = api.EnumKeyEx(key, index, buffer.data(), &length);
        if (status == error::kNoMoreItems) return error::kSuccess;
        if (status == error::kMoreData && buffer.size() < 65536) {
            buffer.resize(buffer.size() * 4);
            --index;
            continue;
        }
        if (status != error::kSuccess) return status;
        names->emplace_back(buffer.data(), length);
    }
}

Status ReadTree(RegistryApi& api, Key key, const std::string& name, KeyTree* tree) {
    tree->name = name;
    tree->values.clear();
    tree->children.clear();
    std::vector<RegValue> values;
    if (const Status status = api.QueryKeyValues(key, std::string(), &values); status != error::kSuccess) {
        return status;
    }
    tree->values.reserve(values.size());
    for (auto& value : values) tree->values.push_back(ValueFromApi(std::move(value)));
    std::vector<std::string> names;
    if (const Status status = ListSubkeys(api, key, &names); status != error::kSuccess) return status;
    for (const auto& childName : names) {
        Key child = kNullKey;
        if (const Status status = api.OpenKeyEx(key, childName, 0, kKeyRead, &child); status != error::kSuccess) {
            return status;
        }
        KeyGuard guard(api, child);
        tree->children.emplace_back();
        if (const Status status = ReadTree(api, child, childName, &tree->children.back());
            status != error::kSuccess) {
            return status;
        }
    }
    return error::kSuccess;
}

Status WriteTree(RegistryApi& api, Key parent, const KeyTree& tree) {
    Key key = kNullKey;
    if (const Status status = api.CreateKey(parent, tree.name, &key); status != error::kSuccess) return status;
    KeyGuard guard(api, key);
    for (const auto& value : tree.values) {
        const std::string data = ValueToApi(value);
        const Status status = api.SetValueEx(key, value.name, value.type,
                                             reinterpret_cast<const std::uint8_t*>(data.data()),
                                             static_cast<std::uint32_t>(data.size()));
        if (status != error::kSuccess) return status;
    }
    for (const auto& child : tree.children) {
        if (const Status status = WriteTree(api, key, child); status != error::kSuccess) return status;
    }
    return error::kSuccess;
}

Status DeleteTree(RegistryApi& api, Key parent, const std::string& name) {
    Key key = kNullKey;
    Status status = api.OpenKeyEx(parent, name, 0, kKeyAllAccess, &key);
    if (status == error::kFileNotFound) return error::kSuccess;
    if (status != error::kSuccess) return status;
    std::vector<std::string> children;
    status = ListSubkeys(api, key, &children);
    for (std::size_t i = 0; status == error::kSuccess && i < children.size(); ++i) {
        status = DeleteTree(api, key, children[i]);
    }
    api.CloseKey(key);
    if (status != error::kSuccess) return status;
    return api.DeleteKey(parent, name);
}

Status ApplyEntries(RegistryApi& api, Key root, const std::vector<regfile::Entry>& entries,
                    const regfile::Entry** failed) {
    Key current = kNullKey;
    const auto closeCurrent = [&] {
        if (current != kNullKey) api.CloseKey(current);
        current = kNullKey;
    };
    for (const auto& entry : entries) {
        std::string path;
        for (const auto& name : entry.path) path += (path.empty() ? "" : "\\") + name;
        Status status = error::kSuccess;
        switch (entry.kind) {
            case regfile::EntryKind::Key:
                closeCurrent();
                status = api.CreateKey(root, path, &current);
                break;
            case regfile::EntryKind::DeleteKey:
                closeCurrent();
                status = DeleteTree(api, root, path);
                break;
            case regfile::EntryKind::SetValue: {
                const std::string data = ValueToApi(entry.value);
                status = api.SetValueEx(current, entry.value.name, entry.value.type,
                                        reinterpret_cast<const std::uint8_t*>(data.data()),
                                        static_cast<std::uint32_t>(data.size()));
                break;
            }
            case regfile::EntryKind::DeleteValue:
                status = api.DeleteValue(current, entry.value.name);
                if (status == error::kFileNotFound) status = error::kSuccess;  // already gone
                break;
        }
        if (status != error::kSuccess) {
            closeCurrent();
            *failed = &entry;
            return status;
        }
    }
    closeCurrent();
    return error::kSuccess;
}

}  // namespace kelvaston::platform
