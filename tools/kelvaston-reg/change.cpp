#include "change.h"

#include <utility>

#include "messages.h"
#include "platform/text.h"

namespace kelvaston::tools::detail {

using namespace platform;

std::optional<std::string> UnstorableCharacter(const RegistryApi& api, std::string_view name) {
    // Names and texts are UTF-8 by now (the command line's and the .reg reader's checks): the
    // character is a whole one the code page lacks.
    const auto at = api.UnstorableAt(name);
    if (!at) return std::nullopt;
    return "\"" + std::string(text::CharacterAt(name, *at)) + "\"";
}

std::string CannotStore(const std::string& what, const std::string& character) {
    return what + " holds " + character +
           ", which this computer's registry cannot store (its code page lacks it)";
}

void CheckNames(const RegistryApi& api, const KeySpec& spec, const std::string& nothing) {
    for (std::size_t i = 0; i < spec.path.size(); ++i) {
        if (const auto character = UnstorableCharacter(api, spec.path[i])) {
            throw Failure(CannotStore("the key name \"" + Shown(spec.path[i]) + "\"", *character) +
                          "; " + nothing);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// PutBack

Status PutBack::WillCreate(const std::vector<std::string>& path) {
    std::size_t existing = 0;
    if (const Status status = ExistingLevels(path, &existing); status != error::kSuccess)
        return status;
    if (existing < path.size()) {
        const std::vector<std::string> top(
            path.begin(), path.begin() + static_cast<std::ptrdiff_t>(existing + 1));
        created_.emplace(Folded(top), top);
    }
    return error::kSuccess;
}

Status PutBack::WillChangeValue(const std::vector<std::string>& path, const std::string& name,
                                bool deleting) {
    if (deleting && api_.UnstorableAt(name)) return error::kNoUnicodeTranslation;
    if (const Status status = WillCreate(path); status != error::kSuccess) return status;
    std::size_t existing = 0;
    if (const Status status = ExistingLevels(path, &existing); status != error::kSuccess)
        return status;
    if (existing < path.size()) return error::kSuccess;  // made by the command: deleted again
    const std::vector<RegValue>* before = nullptr;
    if (const Status status = ValuesBefore(path, &before); status != error::kSuccess) return status;
    if (!deleting && api_.UnstorableAt(name) && FindValue(*before, name) == nullptr) {
        return error::kNoUnicodeTranslation;
    }
    return error::kSuccess;
}

Status PutBack::WillChangeValues(const std::vector<std::string>& path) {
    const std::vector<RegValue>* before = nullptr;
    return ValuesBefore(path, &before);
}

Status PutBack::WillDelete(const std::vector<std::string>& path, std::string* unstorable) {
    std::size_t existing = 0;
    if (const Status status = ExistingLevels(path, &existing); status != error::kSuccess)
        return status;
    const std::string folded = Folded(path);
    if (existing < path.size() || path.empty() || deleted_.count(folded) != 0)
        return error::kSuccess;
    // The key's name as stored, from its parent's list.
    const std::vector<std::string> parent(path.begin(), path.end() - 1);
    KeyContents above;
    if (const Status status = api_.QueryKeyContents(root_, Join(parent), &above);
        status != error::kSuccess) {
        return status;
    }
    std::string name = path.back();
    for (const auto& child : above.subkeys) {
        if (text::EqualsNoCase(child, name)) name = child;
    }
    KeyHandle key(api_);
    if (const Status status = api_.OpenKeyEx(root_, Join(path), 0, kKeyRead, key.Out());
        status != error::kSuccess) {
        return status;
    }
    Deleted copy{path, {}};
    if (const Status status = ReadTree(api_, key.Get(), name, &copy.tree);
        status != error::kSuccess)
        return status;
    // Every name below it is opened by name on the way, by the deletion or by the put-back.
    std::vector<std::pair<std::string, const KeyTree*>> pending{{Join(path), &copy.tree}};
    while (!pending.empty()) {
        auto [where, tree] = pending.back();
        pending.pop_back();
        if (api_.UnstorableAt(tree->name)) {
            *unstorable = where;
            return error::kNoUnicodeTranslation;
        }
        for (const auto& child : tree->children)
            pending.emplace_back(where + "\\" + child.name, &child);
    }
    deleted_.emplace(folded, std::move(copy));
    return error::kSuccess;
}

Status PutBack::Restore(std::string* where) {
    Status first = error::kSuccess;
    const auto note = [&](Status status, const std::vector<std::string>& path) {
        if (status != error::kSuccess && first == error::kSuccess) {
            first = status;
            *where = FullPath(path);
        }
    };
    // Keys the command made hold nothing that was there before.
    for (const auto& [folded, path] : created_) note(DeleteTree(api_, root_, Join(path)), path);
    // Deleted keys come back whole from their copies, those inside another copy with it.
    for (const auto& [folded, copy] : deleted_) {
        if (Inside(folded, deleted_, false)) continue;
        note(RestoreTree(copy), copy.path);
    }
    for (const auto& [folded, copy] : values_) {
        if (Inside(folded, deleted_, true)) continue;
        note(RestoreValues(copy), copy.path);
    }
    return first;
}

std::string PutBack::Folded(const std::vector<std::string>& path) {
    return text::FoldCase(Join(path));
}

Status PutBack::ExistingLevels(const std::vector<std::string>& path, std::size_t* existing) {
    *existing = 0;
    std::vector<std::string> prefix;
    for (const auto& name : path) {
        prefix.push_back(name);
        const std::string folded = Folded(prefix);
        auto known = exists_.find(folded);
        if (known == exists_.end()) {
            KeyHandle key(api_);
            const Status status = api_.OpenKeyEx(root_, Join(prefix), 0, kKeyRead, key.Out());
            if (status != error::kSuccess && status != error::kFileNotFound) return status;
            known = exists_.emplace(folded, status == error::kSuccess).first;
        }
        if (!known->second) return error::kSuccess;
        ++*existing;
    }
    return error::kSuccess;
}

Status PutBack::ValuesBefore(const std::vector<std::string>& path,
                             const std::vector<RegValue>** values) {
    const std::string folded = Folded(path);
    auto known = values_.find(folded);
    if (known == values_.end()) {
        KeyContents contents;
        if (const Status status = api_.QueryKeyContents(root_, Join(path), &contents);
            status != error::kSuccess) {
            return status;
        }
        known = values_.emplace(folded, Values{path, std::move(contents.values)}).first;
    }
    *values = &known->second.values;
    return error::kSuccess;
}

Status PutBack::RestoreTree(const Deleted& copy) {
    if (const Status status = DeleteTree(api_, root_, Join(copy.path)); status != error::kSuccess)
        return status;
    const std::vector<std::string> parent(copy.path.begin(), copy.path.end() - 1);
    KeyHandle above(api_);
    if (const Status status = api_.CreateKey(root_, Join(parent), above.Out());
        status != error::kSuccess) {
        return status;
    }
    return WriteTree(api_, above.Get(), copy.tree);
}

Status PutBack::RestoreValues(const Values& copy) {
    KeyContents now;
    if (const Status status = api_.QueryKeyContents(root_, Join(copy.path), &now);
        status != error::kSuccess) {
        return status;
    }
    KeyHandle key(api_);
    if (const Status status = api_.OpenKeyEx(root_, Join(copy.path), 0, kKeyAllAccess, key.Out());
        status != error::kSuccess) {
        return status;
    }
    std::vector<RegValue> kept;
    for (auto& value : now.values) {
        if (FindValue(copy.values, value.name) != nullptr) {
            kept.push_back(std::move(value));
        } else if (const Status status = api_.DeleteValue(key.Get(), value.name);
                   status != error::kSuccess) {
            return status;
        }
    }
    std::size_t same = 0;
    while (same < kept.size() && same < copy.values.size() &&
           kept[same].name == copy.values[same].name && kept[same].type == copy.values[same].type &&
           kept[same].data == copy.values[same].data) {
        ++same;
    }
    for (std::size_t i = same; i < copy.values.size(); ++i) {
        const RegValue& value = copy.values[i];
        if (same < kept.size()) {
            // Deleted first, so that setting it puts it after the ones before it. A name
            // this registry cannot delete stays where it is, with its data set back.
            const Status status = api_.DeleteValue(key.Get(), value.name);
            if (status != error::kSuccess && status != error::kFileNotFound &&
                status != error::kNoUnicodeTranslation) {
                return status;
            }
        }
        if (const Status status = api_.SetValueBytes(key.Get(), value.name, value.type, value.data);
            status != error::kSuccess) {
            return status;
        }
    }
    return error::kSuccess;
}

// ---------------------------------------------------------------------------------------------
// Change

Change::Change(Session& session)
    : api_(session.Api()), root_(session.Root()), putBack_(api_, root_) {
    if (const Status status = api_.BeginTransaction(root_); status != error::kSuccess) {
        throw Failure("cannot begin changing the registry: " + Reason(api_, status) +
                      "; nothing was changed");
    }
    open_ = true;
}

std::string Change::Undo(const std::string& nothing) {
    open_ = false;
    if (api_.AbortTransaction(root_) || !writing_) return "; " + nothing;
    std::string where;
    const Status status = putBack_.Restore(&where);
    if (status == error::kSuccess) return "; " + nothing;
    return "; and putting back what had been changed failed at " + Shown(where) + " (" +
           StatusText(status) + "): check that key";
}

void Change::Commit(const std::string& nothing) {
    const Status status = api_.CommitTransaction(root_);
    if (status == error::kSuccess) {
        open_ = false;
        return;
    }
    const std::string reason = Reason(api_, status);
    throw Failure("the changes could not be saved: " + reason + Undo(nothing));
}

}  // namespace kelvaston::tools::detail
