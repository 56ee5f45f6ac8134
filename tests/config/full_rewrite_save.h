// The save as it was before it wrote only what changed: remove every stored connection and
// account key (the Parameters key keeps its own values), then write all of the model, and put
// the stored tree back when anything fails. Kept here as the reference the save is compared
// with: on any stored tree and any working copy, both must leave the same tree.
#pragma once

#include <array>

#include "config/layout.h"
#include "platform/registry_tree.h"
#include "platform/value_library.h"

namespace kelvaston::config::test {

// Writes a record's values into the key `path` below `parent` (empty: `parent` itself), in
// `order`, empty numbers as 0.
template <class Record, std::size_t N>
bool WriteRecord(platform::RegistryApi& api, platform::Key parent, const std::string& path, Record& record,
                 const std::array<layout::ValueField<Record>, N>& fields, const std::array<std::size_t, N>& order) {
    platform::Key key = parent;
    if (!path.empty() && api.CreateKey(parent, path, &key) != platform::error::kSuccess) return false;
    platform::ValueLibrary values(api);
    bool ok = true;
    for (const std::size_t i : order) {
        std::string& data = record.*fields[i].field;
        if (fields[i].IsNumber() && data.empty()) data = "0";
        ok = ok && values.SetValue(key, fields[i].name, fields[i].type, data,
                                   fields[i].IsNumber() ? 4u : static_cast<std::uint32_t>(data.size())) ==
                       platform::error::kSuccess;
    }
    if (key != parent) api.CloseKey(key);
    return ok;
}

// True when the save went through; on a failure the stored tree has been put back.
inline bool SaveByFullRewrite(platform::RegistryApi& api, Settings& settings) {
    platform::Key service = platform::kNullKey, parameters = platform::kNullKey;
    if (api.OpenKeyEx(settings.RootKey, layout::kServiceKey, 0, platform::kKeyAllAccess, &service) !=
        platform::error::kSuccess) {
        return false;
    }
    platform::KeyTree copy;
    const bool existed = api.OpenKeyEx(service, layout::kParametersName, 0, platform::kKeyRead, &parameters) ==
                         platform::error::kSuccess;
    if (existed) {
        platform::ReadTree(api, parameters, layout::kParametersName, &copy);
        api.CloseKey(parameters);
    }
    bool ok = api.CreateKey(service, layout::kParametersName, &parameters) == platform::error::kSuccess;
    std::vector<std::string> stored;
    ok = ok && platform::ListSubkeys(api, parameters, &stored) == platform::error::kSuccess;
    for (const std::string& name : stored) ok = ok && platform::DeleteTree(api, parameters, name) == platform::error::kSuccess;
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
    ok = ok && api.FlushKey(settings.RootKey) == platform::error::kSuccess;
    if (!ok) {
        platform::DeleteTree(api, service, layout::kParametersName);
        if (existed) platform::WriteTree(api, service, copy);
        api.FlushKey(settings.RootKey);
    }
    api.CloseKey(service);
    return ok;
}

}  // namespace kelvaston::config::test
