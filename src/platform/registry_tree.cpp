#include "platform/registry_tree.h"

#include <functional>
#include <mutex>

#include "platform/text.h"

namespace kelvaston::platform {
namespace {

bool IsUtf16Type(std::uint32_t type) {
    return type == kRegExpandSz || type == kRegMultiSz;
}

}  // namespace

KeyTree::~KeyTree() {
    std::vector<KeyTree> pending = std::move(children);
    while (!pending.empty()) {
        KeyTree last = std::move(pending.back());
        pending.pop_back();
        for (auto& child : last.children) pending.push_back(std::move(child));
        last.children.clear();
    }
}

regfile::Value ValueFromApi(RegValue&& value) {
    if (value.type == kRegSz) {
        value.data.resize(std::min(value.data.size(), value.data.find('\0')));
    } else if (IsUtf16Type(value.type)) {
        value.data = text::Utf8ToUtf16Le(value.data);
    }
    return regfile::Value{std::move(value.name), value.type, std::move(value.data)};
}

std::string ValueBytes(const regfile::Value& value) {
    if (value.type == kRegSz) return text::Utf8ToUtf16Le(value.data) + std::string(2, '\0');
    return value.data;
}

regfile::Value ValueFromBytes(std::string name, std::uint32_t type, std::string bytes) {
    if (type == kRegSz) {
        // The text up to its NUL, as a .reg file holds it.
        std::string textValue = text::Utf16LeToUtf8(bytes);
        textValue.resize(std::min(textValue.size(), textValue.find('\0')));
        bytes = std::move(textValue);
    }
    return regfile::Value{std::move(name), type, std::move(bytes)};
}

namespace {

// A key opened for a walk over a tree, with the tree it belongs to. Whoever takes it off the
// walk's list closes it.
template <class Tree>
struct OpenTree {
    Key key;
    Tree* tree;
};

template <class Tree>
void CloseAll(RegistryApi& api, std::vector<OpenTree<Tree>>& pending) {
    for (const auto& open : pending) api.CloseKey(open.key);
    pending.clear();
}

}  // namespace

namespace {

// One reading of the tree; `trustBroken` is set when a key listed on trust (subkeysAsExpected)
// lacks one of the subkeys it was taken to have.
Status ReadTreeOnce(RegistryApi& api, Key key, const std::string& name, KeyTree* tree,
                    TaskPool* pool, const ExpectedTree& expected, bool* trustBroken) {
    *tree = KeyTree{name, {}, {}};
    std::mutex mutex;  // guards `failure`, `*trustBroken` and, without a pool, `pending`
    Status failure = error::kSuccess;
    // Each key is read by its path below `key`: no handle is opened, and no recursion walks the
    // tree, however deep it is. A key's children get their places in the tree before any of them
    // is read, so that readers on other threads fill places that stay where they are.
    struct Read {
        std::string path;
        KeyTree* into;
        std::size_t depth;
        bool listedOnTrust;  // its parent's subkeys were not listed but taken as expected
    };
    std::vector<Read> pending;
    std::function<void(Read)> read = [&](Read next) {
        ExpectedContents expecting;
        if (next.depth < expected.valuesByDepth.size())
            expecting.values = expected.valuesByDepth[next.depth];
        if (const auto found = expected.subkeysByPath.find(next.path);
            found != expected.subkeysByPath.end()) {
            expecting.subkeys = found->second;
        }
        KeyContents contents;
        const Status status = api.QueryKeyContents(key, next.path, &contents, expecting);
        std::lock_guard lock(mutex);
        if (status == error::kFileNotFound && next.listedOnTrust) {
            *trustBroken = true;
            return;
        }
        if (status != error::kSuccess) {
            if (failure == error::kSuccess) failure = status;
            return;
        }
        next.into->values.reserve(contents.values.size());
        for (auto& value : contents.values) {
            next.into->values.push_back(
                ValueFromBytes(std::move(value.name), value.type, std::move(value.data)));
        }
        next.into->children.reserve(contents.subkeys.size());
        for (auto& child : contents.subkeys) {
            std::string path = next.path.empty() ? child : next.path + "\\" + child;
            next.into->children.push_back(KeyTree{std::move(child), {}, {}});
            Read more{std::move(path), &next.into->children.back(), next.depth + 1,
                      contents.subkeysAsExpected};
            if (pool != nullptr) {
                pool->Add([&read, more = std::move(more)] { read(more); });
            } else {
                pending.push_back(std::move(more));
            }
        }
    };
    read({std::string(), tree, 0, false});
    if (pool != nullptr) pool->Wait();
    while (!pending.empty()) {
        Read next = std::move(pending.back());
        pending.pop_back();
        read(std::move(next));
    }
    return failure;
}

}  // namespace

Status ReadTree(RegistryApi& api, Key key, const std::string& name, KeyTree* tree, TaskPool* pool,
                const ExpectedTree& expected) {
    bool trustBroken = false;
    const Status status = ReadTreeOnce(api, key, name, tree, pool, expected, &trustBroken);
    if (!trustBroken || status != error::kSuccess) return status;
    // Another program changed the keys since they were expected: every subkey is listed.
    ExpectedTree valuesOnly{expected.valuesByDepth, {}};
    return ReadTreeOnce(api, key, name, tree, pool, valuesOnly, &trustBroken);
}

Status WriteTree(RegistryApi& api, Key parent, const KeyTree& tree) {
    Key current = kNullKey;
    if (const Status status = api.CreateKey(parent, tree.name, &current); status != error::kSuccess)
        return status;
    std::vector<OpenTree<const KeyTree>> pending;
    const KeyTree* from = &tree;
    for (;;) {
        Status status = error::kSuccess;
        for (std::size_t i = 0; status == error::kSuccess && i < from->values.size(); ++i) {
            const regfile::Value& value = from->values[i];
            status = api.SetValueBytes(current, value.name, value.type, ValueBytes(value));
        }
        for (std::size_t i = 0; status == error::kSuccess && i < from->children.size(); ++i) {
            Key child = kNullKey;
            status = api.CreateKey(current, from->children[i].name, &child);
            if (status == error::kSuccess) pending.push_back({child, &from->children[i]});
        }
        api.CloseKey(current);
        if (status != error::kSuccess) {
            CloseAll(api, pending);
            return status;
        }
        if (pending.empty()) return error::kSuccess;
        current = pending.back().key;
        from = pending.back().tree;
        pending.pop_back();
    }
}

Status DeleteTree(RegistryApi& api, Key parent, const std::string& name, std::string* failedKey) {
    // A key goes once its subkeys have gone: each level keeps its key open and the names of the
    // children still to delete. They go from the last to the first: taking the last of a sorted
    // list of subkeys moves none of the others, so a key with many goes in linear time.
    struct Level {
        Key parent;
        std::string name;
        Key key;
        std::vector<std::string> children;
    };
    std::vector<Level> levels;
    // Opens a key and lists its children, as a new level even when that fails, so that a
    // failure names it.
    const auto open = [&](Key under, const std::string& child) -> Status {
        levels.push_back(Level{under, child, kNullKey, {}});
        Level& level = levels.back();
        const Status status = api.OpenKeyEx(under, child, 0, kKeyAllAccess, &level.key);
        return status == error::kSuccess ? ListSubkeys(api, level.key, &level.children) : status;
    };
    Status status = open(parent, name);
    if (status == error::kFileNotFound) return error::kSuccess;
    while (status == error::kSuccess && !levels.empty()) {
        Level& top = levels.back();
        if (!top.children.empty()) {
            const Key under = top.key;
            const std::string child = std::move(top.children.back());
            top.children.pop_back();
            status = open(under, child);
            if (status == error::kFileNotFound) {  // gone meanwhile
                levels.pop_back();
                status = error::kSuccess;
            }
            continue;
        }
        api.CloseKey(top.key);
        top.key = kNullKey;
        status = api.DeleteKey(top.parent, top.name);
        if (status == error::kSuccess) levels.pop_back();
    }
    if (status != error::kSuccess && failedKey != nullptr) {
        // The key the walk stopped at: the last level, or the child it could not open.
        failedKey->clear();
        for (const Level& level : levels)
            *failedKey += (failedKey->empty() ? "" : "\\") + level.name;
    }
    for (const Level& level : levels) {
        if (level.key != kNullKey) api.CloseKey(level.key);
    }
    return status;
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
            case regfile::EntryKind::SetValue:
                status = api.SetValueBytes(current, entry.value.name, entry.value.type,
                                           ValueBytes(entry.value));
                break;
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
