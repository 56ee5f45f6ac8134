// The save as it was before it wrote only what changed: remove every stored connection and
// account key that the load read, and "volatile" (the Parameters key keeps its own values), then
// write all of the model, and put the stored tree back when anything fails. Keys the load did
// not read stay; accounts it did not read below a connection that the model still holds are
// written back below it first. Kept here as the reference the save is compared with: on any
// stored tree and any working copy, both must leave the same tree.
#pragma once

#include <algorithm>
#include <array>

#include "config/layout.h"
#include "config/store.h"
#include "platform/registry_tree.h"
#include "platform/text.h"
#include "platform/value_library.h"

namespace kelvaston::config::test {

using platform::error::kSuccess;

// Writes a record's values into the key `path` below `parent` (empty: `parent` itself), in
// `order`, empty numbers as 0.
template <class Record, std::size_t N>
bool WriteRecord(platform::RegistryApi& api, platform::Key parent, const std::string& path, Record& record,
                 const std::array<layout::ValueField<Record>, N>& fields, const std::array<std::size_t, N>& order) {
    platform::Key key = parent;
    if (!path.empty() && api.CreateKey(parent, path, &key) != kSuccess) return false;
    platform::ValueLibrary values(api);
    bool ok = true;
    for (const std::size_t i : order) {
        std::string& data = record.*fields[i].field;
        if (fields[i].IsNumber() && data.empty()) data = "0";
        const auto size = fields[i].IsNumber() ? 4u : static_cast<std::uint32_t>(data.size());
        ok = ok && values.SetValue(key, fields[i].name, fields[i].type, data, size) == kSuccess;
    }
    if (key != parent) api.CloseKey(key);
    return ok;
}

// True when the save went through; on a failure the stored tree has been put back.
inline bool SaveByFullRewrite(platform::RegistryApi& api, Settings& settings) {
    platform::Key service = platform::kNullKey, parameters = platform::kNullKey;
    if (api.OpenKeyEx(settings.RootKey, layout::kServiceKey, 0, platform::kKeyAllAccess, &service) != kSuccess) {
        return false;
    }
    platform::KeyTree copy;
    const bool existed =
        api.OpenKeyEx(service, layout::kParametersName, 0, platform::kKeyRead, &parameters) == kSuccess;
    if (existed) {
        platform::ReadTree(api, parameters, layout::kParametersName, &copy);
        api.CloseKey(parameters);
    }
    bool ok = api.CreateKey(service, layout::kParametersName, &parameters) == kSuccess;
    using platform::text::EqualsNoCase;
    std::vector<std::pair<std::string, platform::KeyTree>> unread;  // accounts, below the model's connection
    for (const platform::KeyTree& key : copy.children) {
        const auto& loaded = settings.Loaded.Connections;
        const auto read = std::find_if(loaded.begin(), loaded.end(), [&](const LoadedConnection& c) {
            return !c.Key.empty() && EqualsNoCase(c.Key, key.name);
        });
        if (CutAtNul(key.name) != layout::kVolatileKey && read == loaded.end()) continue;
        const auto named = [&](const ConnectionRecord& c) { return !c.Name.empty() && EqualsNoCase(c.Name, read->Name); };
        if (read != loaded.end() && std::any_of(settings.Connections.begin(), settings.Connections.end(), named)) {
            for (const platform::KeyTree& account : key.children) {
                if (std::none_of(read->Accounts.begin(), read->Accounts.end(),
                                 [&](const std::string& name) { return EqualsNoCase(name, account.name); })) {
                    unread.emplace_back(read->Name, account);
                }
            }
        }
        ok = ok && platform::DeleteTree(api, parameters, key.name) == kSuccess;
    }
    for (const auto& [connection, account] : unread) {
        platform::Key key = platform::kNullKey;
        ok = ok && api.CreateKey(parameters, connection, &key) == kSuccess;
        ok = ok && platform::WriteTree(api, key, account) == kSuccess;
        if (key != platform::kNullKey) api.CloseKey(key);
    }
    ok = ok && WriteRecord(api, parameters, "", settings.Global, layout::kGlobalValues, layout::kGlobalSaveOrder);
    for (std::size_t c = 0; c < kConnectionSlots && ok && !settings.Connections[c].Name.empty(); ++c) {
        ok = WriteRecord(api, parameters, settings.Connections[c].Name, settings.Connections[c],
                         layout::kConnectionValues, {0, 1});
    }
    for (auto& account : settings.Accounts) {
        if (!ok || account.Name.empty()) break;
        ok = WriteRecord(api, parameters, account.Connection + "\\" + account.Name, account, layout::kAccountValues,
                         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18});
    }
    if (parameters != platform::kNullKey) api.CloseKey(parameters);
    ok = ok && api.FlushKey(settings.RootKey) == kSuccess;
    if (!ok) {
        platform::DeleteTree(api, service, layout::kParametersName);
        if (existed) platform::WriteTree(api, service, copy);
        api.FlushKey(settings.RootKey);
    }
    api.CloseKey(service);
    return ok;
}

}  // namespace kelvaston::config::test
