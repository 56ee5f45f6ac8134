#include "config/save_plan.h"

#include <algorithm>

#include "platform/text.h"

namespace kelvaston::config {
namespace {

template <class Tree>
Tree* ChildNamed(std::vector<Tree>& children, std::string_view name) {
    for (auto& child : children) {
        if (platform::text::EqualsNoCase(child.name, name)) return &child;
    }
    return nullptr;
}

const platform::KeyTree* ChildNamed(const platform::KeyTree* key, std::string_view name) {
    if (key == nullptr) return nullptr;
    for (const auto& child : key->children) {
        if (platform::text::EqualsNoCase(child.name, name)) return &child;
    }
    return nullptr;
}

// Whether the stored values' names, exactly as spelt, are the first of the target's: then the
// target's values come about by setting some of them and adding the rest after them.
bool NamesBegin(const std::vector<Value>& stored, const std::vector<Value>& target) {
    return stored.size() <= target.size() &&
           std::equal(stored.begin(), stored.end(), target.begin(),
                      [](const Value& have, const Value& want) { return have.name == want.name; });
}

}  // namespace

platform::KeyTree* MakePath(platform::KeyTree& key, std::string_view path) {
    if (path.starts_with('\\')) return nullptr;
    platform::KeyTree* at = &key;
    while (!path.empty()) {
        const std::size_t end = std::min(path.find('\\'), path.size());
        const std::string_view name = path.substr(0, end);
        path.remove_prefix(std::min(end + 1, path.size()));
        if (name.empty()) continue;
        platform::KeyTree* child = ChildNamed(at->children, name);
        if (child == nullptr) {
            at->children.push_back(platform::KeyTree{std::string(name), {}, {}});
            child = &at->children.back();
        }
        at = child;
    }
    return at;
}

void PutValue(platform::KeyTree& key, Value value) {
    for (Value& existing : key.values) {
        if (platform::text::EqualsNoCase(existing.name, value.name)) {
            existing.type = value.type;
            existing.data = std::move(value.data);
            return;
        }
    }
    key.values.push_back(std::move(value));
}

std::vector<KeyChange> PlanChanges(const platform::KeyTree* stored,
                                   const platform::KeyTree& target) {
    std::vector<KeyChange> plan;
    struct Visit {
        const platform::KeyTree* stored;  // null: the key is made anew
        const platform::KeyTree* target;
        std::string path;
    };
    // Depth first, parents before children, as a list rather than by recursion.
    std::vector<Visit> pending{{stored, &target, {}}};
    while (!pending.empty()) {
        const Visit visit = std::move(pending.back());
        pending.pop_back();
        KeyChange change{visit.path, visit.stored == nullptr, {}, {}, {}};
        const auto& want = visit.target->values;
        if (visit.stored != nullptr && NamesBegin(visit.stored->values, want)) {
            const auto& have = visit.stored->values;
            for (std::size_t i = 0; i < want.size(); ++i) {
                if (i >= have.size() || have[i].type != want[i].type ||
                    have[i].data != want[i].data) {
                    change.setValues.push_back(&want[i]);
                }
            }
        } else {
            if (visit.stored != nullptr) {
                for (const Value& value : visit.stored->values)
                    change.removeValues.push_back(value.name);
            }
            for (const Value& value : want) change.setValues.push_back(&value);
        }
        if (visit.stored != nullptr) {
            for (const auto& child : visit.stored->children) {
                const platform::KeyTree* kept = ChildNamed(visit.target, child.name);
                if (kept == nullptr || kept->name != child.name)
                    change.removeKeys.push_back(child.name);
            }
        }
        if (change.create || !change.removeKeys.empty() || !change.removeValues.empty() ||
            !change.setValues.empty()) {
            plan.push_back(std::move(change));
        }
        const auto& children = visit.target->children;
        for (auto child = children.rbegin(); child != children.rend(); ++child) {
            const platform::KeyTree* before = ChildNamed(visit.stored, child->name);
            if (before != nullptr && before->name != child->name) before = nullptr;
            pending.push_back({before, &*child,
                               visit.path.empty() ? child->name : visit.path + "\\" + child->name});
        }
    }
    return plan;
}

}  // namespace kelvaston::config
