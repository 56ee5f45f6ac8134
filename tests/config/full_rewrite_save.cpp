#include "full_rewrite_save.h"

#include <array>

#include "config/layout.h"
#include "config/store.h"
#include "platform/registry_tree.h"
#include "platform/value_library.h"

namespace kelvaston::config::test {
namespace {

namespace error = platform::error;
using platform::Key;
using platform::kNullKey;
using platform::Status;

// The name of subkey `index` of an open key, as the load reads it: trimmed, empty when none.
std::string SubkeyName(platform::RegistryApi& api, Key key, std::uint32_t index) {
    std::array<char, 2000> buffer;
    std::uint32_t length = buffer.size();
    if (api.EnumKeyEx(key, index, buffer.data(), &length) != error::kSuccess) return {};
    return CutAtNul(std::string_view(buffer.data(), length));
}

// Up to 51 passes over the Parameters key, each removing its first subkey (after that key's
// subkeys, up to 251 passes), by the names the enumeration gives, trimmed.
void DeleteParametersTree(platform::RegistryApi& api, Key root) {
    Key parameters = kNullKey;
    api.OpenKeyEx(root, layout::kParametersKey, 0, platform::kKeyAllAccess, &parameters);
    if (parameters == kNullKey) return;
    for (std::size_t pass = 0; pass < kConnectionSlots; ++pass) {
        const std::string connection = SubkeyName(api, parameters, 0);
        if (connection.empty()) break;
        Key connectionKey = kNullKey;
        api.OpenKeyEx(root, layout::kParametersKey + "\\" + connection, 0, platform::kKeyAllAccess, &connectionKey);
        if (connectionKey != kNullKey) {
            for (std::size_t inner = 0; inner < kAccountSlots; ++inner) {
                const std::string account = SubkeyName(api, connectionKey, 0);
                if (account.empty()) break;
                api.DeleteKey(connectionKey, account);
            }
        }
        api.DeleteKey(parameters, connection);
        if (connectionKey != kNullKey) api.CloseKey(connectionKey);
    }
    api.CloseKey(parameters);
}

// Whatever the passes left, by its real name.
bool RemoveLeftovers(platform::RegistryApi& api, Key root) {
    Key parameters = kNullKey;
    Status status = api.OpenKeyEx(root, layout::kParametersKey, 0, platform::kKeyAllAccess, &parameters);
    if (status == error::kFileNotFound) return true;
    if (status != error::kSuccess) return false;
    std::vector<std::string> names;
    status = platform::ListSubkeys(api, parameters, &names);
    for (std::size_t i = 0; status == error::kSuccess && i < names.size(); ++i) {
        status = platform::DeleteTree(api, parameters, names[i]);
    }
    api.CloseKey(parameters);
    return status == error::kSuccess;
}

template <class Record, std::size_t N>
bool WriteValues(platform::ValueLibrary& values, Key key, Record& record,
                 const std::array<layout::ValueField<Record>, N>& fields, const std::vector<std::size_t>& order) {
    for (const auto& field : fields) {
        if (field.IsNumber() && (record.*field.field).empty()) record.*field.field = "0";
    }
    for (const std::size_t i : order) {
        const auto& field = fields[i];
        const std::string& data = record.*field.field;
        if (values.SetValue(key, field.name, field.type, data,
                            field.IsNumber() ? 4u : static_cast<std::uint32_t>(data.size())) != error::kSuccess) {
            return false;
        }
    }
    return true;
}

std::vector<std::size_t> InOrder(std::size_t n) {
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    return order;
}

bool WriteModel(platform::RegistryApi& api, Settings& settings) {
    DeleteParametersTree(api, settings.RootKey);
    if (!RemoveLeftovers(api, settings.RootKey)) return false;
    Key service = kNullKey;
    api.OpenKeyEx(settings.RootKey, layout::kServiceKey, 0, platform::kKeyAllAccess, &service);
    if (service == kNullKey) return false;
    Key parameters = kNullKey;
    api.CreateKey(service, layout::kParametersName, &parameters);
    api.CloseKey(service);
    if (parameters == kNullKey) return false;
    platform::ValueLibrary values(api);
    bool ok = WriteValues(values, parameters, settings.Global, layout::kGlobalValues,
                          {layout::kGlobalSaveOrder.begin(), layout::kGlobalSaveOrder.end()});
    for (auto& connection : settings.Connections) {
        if (!ok || connection.Name.empty()) break;
        Key key = kNullKey;
        api.CreateKey(parameters, connection.Name, &key);
        ok = key != kNullKey && WriteValues(values, key, connection, layout::kConnectionValues,
                                            InOrder(layout::kConnectionValues.size()));
        if (key != kNullKey) api.CloseKey(key);
    }
    for (auto& account : settings.Accounts) {
        if (!ok || account.Name.empty()) break;
        Key key = kNullKey;
        api.CreateKey(parameters, account.Connection + "\\" + account.Name, &key);
        ok = key != kNullKey &&
             WriteValues(values, key, account, layout::kAccountValues, InOrder(layout::kAccountValues.size()));
        if (key != kNullKey) api.CloseKey(key);
    }
    api.CloseKey(parameters);
    return ok;
}

}  // namespace

bool SaveByFullRewrite(platform::RegistryApi& api, Settings& settings) {
    Key parameters = kNullKey;
    platform::KeyTree copy;
    const Status opened = api.OpenKeyEx(settings.RootKey, layout::kParametersKey, 0, platform::kKeyRead, &parameters);
    if (opened == error::kSuccess) {
        const Status read = platform::ReadTree(api, parameters, layout::kParametersName, &copy);
        api.CloseKey(parameters);
        if (read != error::kSuccess) return false;
    } else if (opened != error::kFileNotFound) {
        return false;
    }
    if (WriteModel(api, settings) && api.FlushKey(settings.RootKey) == error::kSuccess) return true;
    Key service = kNullKey;
    if (api.OpenKeyEx(settings.RootKey, layout::kServiceKey, 0, platform::kKeyAllAccess, &service) == error::kSuccess) {
        platform::DeleteTree(api, service, layout::kParametersName);
        if (opened == error::kSuccess) platform::WriteTree(api, service, copy);
        api.CloseKey(service);
    }
    api.FlushKey(settings.RootKey);
    return false;
}

}  // namespace kelvaston::config::test
