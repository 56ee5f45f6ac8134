// The save as it was before it wrote only what changed: remove every stored connection and
// account key (the Parameters key keeps its own values), then write all of the model, and put
// the stored tree back when anything fails. Kept here as the reference the save is compared
// with: on any stored tree and any working copy, both must leave the same tree.
#pragma once

#include <array>
#include <vector>

#include "config/layout.h"
#include "platform/registry_tree.h"
#include "platform/value_library.h"

namespace kelvaston::config::test {

template <class Record, std::size_t N>
bool WriteRecord(platform::RegistryApi& api, platform::Key parent, const std::string& path, Record& record,
                 const std::array<layout::ValueField<Record>, N>& fields, std::vector<std::size_t> order = {}) {
    platform::Key key = parent;
    if (!path.empty() && api.CreateKey(parent, path, &key) != platform::error::kSuccess) key = platform::kNullKey;
    if (key == platform::kNullKey) return false;
    if (order.empty()) {
        for (std::size_t i = 0; i < N; ++i) order.push_back(i);
    }
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
    ok = ok && WriteRecord(api, parameters, "", settings.Global, layout::kGlobalValues,
                           {layout::kGlobalSaveOrder.begin(), layout::kGlobalSaveOrder.end()});
    for (std::size_t c = 0; c < kConnectionSlots && ok && !settings.Connections[c].Name.empty(); ++c) {
        ok = WriteRecord(api, parameters, settings.Connections[c].Name, settings.Connections[c],
                         layout::kConnectionValues);
    }
    for (auto& account : settings.Accounts) {
        if (!ok || account.Name.empty()) break;
        ok = WriteRecord(api, parameters, account.Connection + "\\" + account.Name, account, layout::kAccountValues);
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
