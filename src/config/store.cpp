#include "config/store.h"

#include <algorithm>
#include <array>
#include <exception>
#include <optional>

#include "config/layout.h"
#include "platform/registry_tree.h"
#include "platform/task_pool.h"
#include "platform/text.h"

namespace kelvaston::config {
namespace {

namespace error = platform::error;
using platform::Key;
using platform::kNullKey;
using platform::Status;

// Values are read through a buffer of 255 characters, key names through one of 500; in the
// program's UTF-8 a character takes up to four bytes.
constexpr std::uint32_t kValueBufferSize = 255;
constexpr std::uint32_t kNameBufferSize = 500 * platform::text::kMaxUtf8BytesPerCharacter;

// Opens a key by its full path from the registry's root into `slot`, which is null unless it
// succeeded.
void Open(platform::RegistryApi& api, Key root, const std::string& path, std::uint32_t access,
          Key& slot) {
    slot = kNullKey;
    api.OpenKeyEx(root, path, 0, access, &slot);
}

void Close(platform::RegistryApi& api, Key& slot) {
    if (slot != kNullKey) api.CloseKey(slot);
    slot = kNullKey;
}

// Empty numbers and flags of a record become "0" before the record is written.
template <class Record, class Field, std::size_t N>
void ZeroEmptyNumbers(Record& record, const std::array<Field, N>& fields) {
    for (const auto& field : fields) {
        if (field.IsNumber() && (record.*field.field).empty()) record.*field.field = "0";
    }
}

// The names of a table's values: what a load step will ask each of its keys for.
template <class Field, std::size_t N>
std::vector<std::string> Names(const std::array<Field, N>& fields) {
    std::vector<std::string> names;
    names.reserve(N);
    for (const auto& field : fields) names.emplace_back(field.name);
    return names;
}

// Runs one step of a connection; an exception abandons the step, and the next one runs.
template <class Step>
void Attempt(Step&& step) {
    try {
        step();
    } catch (const std::exception&) {
    }
}

using StoredCopy = ConfigStore::StoredCopy;

// Reads the stored Parameters tree, its keys at the same time, a key a call, expecting the
// values the model writes (the global values in Parameters, a connection's below it and an
// account's below that) and the keys the last load read.
Status CopyStoredParameters(platform::RegistryApi& api, Key root, const LoadedKeys& loaded,
                            StoredCopy* copy, platform::TaskPool* pool) {
    Key parameters = kNullKey;
    const Status status =
        api.OpenKeyEx(root, layout::kParametersKey, 0, platform::kKeyRead, &parameters);
    if (status == error::kFileNotFound) return error::kSuccess;
    if (status != error::kSuccess) return status;
    copy->existed = true;
    platform::ExpectedTree expected{{Names(layout::kGlobalValues), Names(layout::kConnectionValues),
                                     Names(layout::kAccountValues)},
                                    {}};
    std::vector<std::string>& connections = expected.subkeysByPath[""];
    for (const LoadedConnection& connection : loaded.Connections) {
        if (connection.Key.empty()) continue;
        connections.push_back(connection.Key);
        expected.subkeysByPath[connection.Key] = connection.Accounts;
    }
    const Status read =
        platform::ReadTree(api, parameters, layout::kParametersName, &copy->tree, pool, expected);
    api.CloseKey(parameters);
    return read;
}

// Puts the stored Parameters tree back exactly as copied: everything the save left below the
// service's key is removed first.
Status RestoreStoredParameters(platform::RegistryApi& api, Key root, const StoredCopy& copy) {
    Key service = kNullKey;
    Status status = api.OpenKeyEx(root, layout::kServiceKey, 0, platform::kKeyAllAccess, &service);
    if (status == error::kFileNotFound && !copy.existed) return error::kSuccess;
    if (status != error::kSuccess) return status;
    status = platform::DeleteTree(api, service, layout::kParametersName);
    if (status == error::kSuccess && copy.existed)
        status = platform::WriteTree(api, service, copy.tree);
    api.CloseKey(service);
    return status;
}

}  // namespace

std::string CutAtNul(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return std::string(text);
}

std::string Describe(const SaveOutcome& outcome) {
    const std::string key =
        outcome.key.empty() ? "the Parameters key" : "key \"" + outcome.key + "\"";
    const std::string data = outcome.data.empty() ? "" : " (\"" + outcome.data + "\")";
    std::string what;
    switch (outcome.step) {
        case SaveStep::None: return "saved";
        case SaveStep::Begin: what = "take the registry for the save"; break;
        case SaveStep::ReadStored: what = "read the stored configuration"; break;
        case SaveStep::RemoveStored:
            what = outcome.value.empty() ? "remove the stored " + key
                                         : "remove the value \"" + outcome.value + "\" of " + key;
            break;
        case SaveStep::OpenService: what = "open the service's key"; break;
        case SaveStep::CreateKey: what = "create " + key; break;
        case SaveStep::WriteValue:
            what = "write value \"" + outcome.value + "\"" + data + " of " + key;
            break;
        case SaveStep::Flush: what = "write the registry to permanent storage"; break;
        case SaveStep::Unexpected: return "unexpected error: " + outcome.data;
    }
    return what + ": status " + std::to_string(outcome.status);
}

ConfigStore::ConfigStore(platform::RegistryApi& registry, Settings& settings)
    : cache_(registry), api_(cache_), values_(cache_), settings_(settings) {}

std::string ConfigStore::LocalComputerName() {
    std::array<char, 255> buffer{};
    std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
    api_.LocalComputerName(buffer.data(), &size);
    return CutAtNul(std::string_view(buffer.data(), buffer.size()));
}

ConnectOutcome ConfigStore::Connect(const std::string& computer,
                                    const std::function<void()>& connected) {
    const auto failed = [this](ConnectOutcome outcome) {
        ClearLists();
        return outcome;
    };
    // What counts is the handle, not the status: connected when there is one.
    root_ = kNullKey;
    Attempt([&] { api_.ConnectRegistry(computer, platform::kHKeyLocalMachine, &root_); });
    if (root_ == kNullKey)
        return failed({.result = ConnectResult::Unreachable, .problem = api_.LastHiveFileError()});
    if (connected) connected();

    Status opened = error::kSuccess;
    Attempt([&] {
        opened = api_.OpenKeyEx(root_, layout::kServiceKey, 0, platform::kKeyWrite, &serviceKey_);
    });
    if (serviceKey_ == kNullKey) {
        // A registry kept in files says which file or folder stands in the way: one that may
        // not be written now, or one that another program damaged since the connection.
        if (const auto problem = api_.LastHiveFileError()) {
            return failed({.result = opened == error::kAccessDenied ? ConnectResult::ReadOnly
                                                                    : ConnectResult::Unreachable,
                           .problem = problem});
        }
        return failed({.result = ConnectResult::ServiceMissing});
    }
    Close(api_, serviceKey_);
    return {};
}

void ConfigStore::Load() {
    ClearLists();
    const ReadingAtOnce reading(api_, root_);
    // Every key is read by its path below the Parameters key: a path from the hive's root
    // would pass the 260 characters Wine takes in an ANSI call with a name of 255.
    Open(api_, root_, layout::kParametersKey, platform::kKeyAllAccess, parametersKey_);
    Attempt([&] { LoadGlobalSettings(); });
    std::vector<ListedAccounts> listed;
    Attempt([&] { listed = LoadConnections(); });
    Attempt([&] { LoadAccounts(std::move(listed)); });
    Close(api_, parametersKey_);
}

void ConfigStore::ClearLists() {
    ClearConnections(settings_.Connections);
    ClearAccounts(settings_.Accounts);
    settings_.Loaded = {};
}

std::string ConfigStore::QueryValue(Key key, const std::string& path, const std::string& name,
                                    std::int32_t type, const std::string& defaultText) {
    // Not cleared first: what GetValue delivers ends in a NUL or fills the buffer.
    std::array<char, kValueBufferSize * platform::text::kMaxUtf8BytesPerCharacter> buffer;
    const Status status = values_.GetValue(key, path, name, type, buffer.data(), kValueBufferSize);
    // A text longer than the buffer is read as far as it fits.
    if (status != error::kSuccess && status != error::kMoreData) return defaultText;
    return CutAtNul(std::string_view(buffer.data(), buffer.size()));
}

std::string ConfigStore::SubkeyName(Key key, std::uint32_t index) {
    const std::optional<std::string> name = StoredName(key, index);
    return name ? CutAtNul(*name) : std::string();
}

std::optional<std::string> ConfigStore::StoredName(Key key, std::uint32_t index) {
    std::array<char, kNameBufferSize> buffer;
    std::uint32_t length = kNameBufferSize;
    // A failed call delivers no name. A name comes NUL-terminated, its length counted.
    if (api_.EnumKeyEx(key, index, buffer.data(), &length) != error::kSuccess) return std::nullopt;
    const std::string_view name(buffer.data(), std::min<std::size_t>(length, buffer.size()));
    return std::string(name.substr(0, name.find('\0')));
}

template <class Record, class Fields>
void ConfigStore::ReadRecord(Key key, const std::string& path, Record& record,
                             const Fields& fields) {
    cache_.ReadAhead(key, path, Names(fields));
    for (const auto& value : fields) {
        record.*value.field = QueryValue(key, path, value.name, value.type, value.defaultText);
    }
}

void ConfigStore::LoadGlobalSettings() {
    ReadRecord(parametersKey_, std::string(), settings_.Global, layout::kGlobalValues);
}

ConfigStore::ListedAccounts ConfigStore::ListAccounts(Key connectionKey,
                                                      const std::string& connection) {
    ListedAccounts listed;
    listed.listed = true;
    for (std::uint32_t index = 0;; ++index) {
        std::optional<std::string> key = StoredName(connectionKey, index);
        if (!key) break;
        std::string name = CutAtNul(*key);
        if (name.empty() || index == kAccountSlots) {
            listed.leftOut = true;
            break;
        }
        listed.accounts.emplace_back();
        listed.accounts.back().Name = std::move(name);
        listed.accounts.back().Connection = connection;
        listed.keys.push_back(std::move(*key));
    }
    return listed;
}

std::vector<ConfigStore::ListedAccounts> ConfigStore::LoadConnections() {
    ClearConnections(settings_.Connections);
    settings_.Loaded = {};
    // Subkeys 0 to 50 are looked at, a wave of them at once, for their names and then their
    // values; the model is filled from what was read in the order of the indexes, as one look
    // after another would fill it.
    platform::TaskPool pool(api_.ConcurrentCalls());
    std::array<std::optional<std::string>, kConnectionSlots> keys;  // as stored; none past the end
    std::array<std::string, kConnectionSlots> names;
    const auto look = [&](std::size_t i) {
        keys[i] = StoredName(parametersKey_, static_cast<std::uint32_t>(i));
        names[i] = keys[i] ? CutAtNul(*keys[i]) : std::string();
    };
    const std::size_t wave = api_.ConcurrentCalls();
    for (std::size_t start = 0; start < kConnectionSlots; start += wave) {
        const std::size_t count = std::min(wave, kConnectionSlots - start);
        pool.ForEach(count, [&](std::size_t i) { look(start + i); });
        if (std::any_of(names.begin() + static_cast<std::ptrdiff_t>(start),
                        names.begin() + static_cast<std::ptrdiff_t>(start + count),
                        [](const std::string& name) { return name.empty(); })) {
            // The end of the list: the cache answers the indexes after it.
            for (std::size_t i = start + count; i < kConnectionSlots; ++i) look(i);
            break;
        }
    }
    // A key that is not read as a connection and is not the service's own stays as it is stored;
    // the window says so. Past the indexes looked at, "volatile" can stand only once.
    for (std::size_t i = 0; i < kConnectionSlots; ++i) {
        if (keys[i] && names[i].empty()) settings_.Loaded.ConnectionsLeftOut = true;
    }
    for (auto index = static_cast<std::uint32_t>(kConnectionSlots);
         !settings_.Loaded.ConnectionsLeftOut; ++index) {
        const std::optional<std::string> beyond = StoredName(parametersKey_, index);
        if (!beyond) break;
        if (CutAtNul(*beyond) != layout::kVolatileKey) settings_.Loaded.ConnectionsLeftOut = true;
    }
    // Each connection's key is visited once: opened, its values read through its handle, its
    // accounts listed, closed; its accounts' values are read as soon as they are listed, while
    // other connections are still read. A key that does not open for all access has its values
    // read by its path, and no accounts.
    std::array<ConnectionRecord, kConnectionSlots> read;
    std::array<ListedAccounts, kConnectionSlots> listed;
    pool.ForEach(kConnectionSlots, [&](std::size_t i) {
        if (names[i].empty() || names[i] == layout::kVolatileKey) return;
        Key connectionKey = kNullKey;
        Open(api_, parametersKey_, names[i], platform::kKeyAllAccess, connectionKey);
        if (connectionKey != kNullKey) {
            ReadRecord(connectionKey, std::string(), read[i], layout::kConnectionValues);
        } else {
            ReadRecord(parametersKey_, names[i], read[i], layout::kConnectionValues);
        }
        listed[i] = ListAccounts(connectionKey, names[i]);
        Close(api_, connectionKey);
        ReadAccounts(pool, listed[i]);
    });
    std::vector<ListedAccounts> accounts;
    std::size_t count = 0;
    for (std::size_t i = 0; i < kConnectionSlots; ++i) {
        if (names[i].empty() || names[i] == layout::kVolatileKey) continue;
        ConnectionRecord& connection = settings_.Connections[count++];
        connection = std::move(read[i]);
        connection.Name = names[i];
        settings_.Loaded.Connections.push_back({*keys[i], names[i], {}});
        accounts.push_back(std::move(listed[i]));
    }
    for (auto& connection : settings_.Connections) {
        if (connection.Name == layout::kNoRasConnection) break;
        if (connection.Name.empty()) {
            connection.Name = layout::kNoRasConnection;
            settings_.Loaded.Connections.push_back({{}, connection.Name, {}});
            // A NORAS key that stands past the indexes looked at is read now: otherwise a save
            // would write the empty record over its values.
            const bool seen =
                std::any_of(keys.begin(), keys.end(), [](const std::optional<std::string>& key) {
                    return key && platform::text::EqualsNoCase(*key, layout::kNoRasConnection);
                });
            Key noras = kNullKey;
            if (!seen) {
                Open(api_, parametersKey_, layout::kNoRasConnection, platform::kKeyRead, noras);
            }
            if (noras != kNullKey) {
                Close(api_, noras);
                ReadRecord(parametersKey_, layout::kNoRasConnection, connection,
                           layout::kConnectionValues);
                settings_.Loaded.Connections.back().Key = layout::kNoRasConnection;
            }
            break;
        }
    }
    return accounts;
}

void ConfigStore::ReadAccounts(platform::TaskPool& pool, ListedAccounts& listed) {
    for (AccountRecord& account : listed.accounts) {  // the list stays as it is from here
        pool.Add([this, &account] {
            ReadRecord(parametersKey_, account.Connection + "\\" + account.Name, account,
                       layout::kAccountValues);
        });
    }
}

void ConfigStore::LoadAccounts(std::vector<ListedAccounts> listed) {
    ClearAccounts(settings_.Accounts);
    // The model is filled in the order of the connections and their accounts, up to the list's
    // 251 slots, as one after another would be. A connection not listed with the others (NORAS
    // added after them, or all of them when reading the connections failed) is listed now.
    platform::TaskPool pool(api_.ConcurrentCalls());
    const std::size_t connections = ConnectionCount(settings_.Connections);
    listed.resize(std::max(listed.size(), connections));
    for (std::size_t c = 0; c < connections; ++c) {
        if (listed[c].listed) continue;
        pool.Add([this, c, &listed, &pool] {
            const std::string& connection = settings_.Connections[c].Name;
            Key connectionKey = kNullKey;
            Open(api_, parametersKey_, connection, platform::kKeyAllAccess, connectionKey);
            listed[c] = ListAccounts(connectionKey, connection);
            Close(api_, connectionKey);
            ReadAccounts(pool, listed[c]);
        });
    }
    pool.Wait();
    auto& loaded = settings_.Loaded;
    loaded.AccountsLeftOut =
        std::any_of(listed.begin(), listed.begin() + static_cast<std::ptrdiff_t>(connections),
                    [](const ListedAccounts& found) { return found.leftOut; });
    std::size_t count = 0;
    for (std::size_t c = 0; c < connections; ++c) {
        for (std::size_t a = 0; a < listed[c].accounts.size(); ++a) {
            if (count == kAccountSlots) {  // the list is full: the rest is not loaded
                loaded.AccountsLeftOut = true;
                return;
            }
            settings_.Accounts[count++] = std::move(listed[c].accounts[a]);
            if (c < loaded.Connections.size())
                loaded.Connections[c].Accounts.push_back(std::move(listed[c].keys[a]));
        }
    }
}

SaveOutcome ConfigStore::SaveSettings() {
    const Key root = root_;
    if (const Status begun = api_.BeginTransaction(root); begun != error::kSuccess) {
        // Without a registry to write to there is no service to save for.
        if (begun == error::kInvalidHandle) {
            return {.result = SaveResult::ServiceMissing,
                    .status = begun,
                    .step = SaveStep::OpenService};
        }
        return {.result = SaveResult::FailedRestored, .status = begun, .step = SaveStep::Begin};
    }
    // The copy that guards the save is read inside the transaction: it is what the registry holds
    // now, whatever another program changed since the load, and what the save compares the model
    // with.
    StoredCopy copy;
    platform::TaskPool pool(api_.ConcurrentCalls());
    if (const Status status = CopyStoredParameters(api_, root, settings_.Loaded, &copy, &pool);
        status != error::kSuccess) {
        // Nothing has been changed yet, so nothing needs to be put back.
        api_.AbortTransaction(root);
        return {
            .result = SaveResult::FailedRestored, .status = status, .step = SaveStep::ReadStored};
    }
    Open(api_, root, layout::kServiceKey, platform::kKeyAllAccess, serviceKey_);
    if (serviceKey_ == kNullKey) {
        api_.AbortTransaction(root);
        return {.result = SaveResult::ServiceMissing, .step = SaveStep::OpenService};
    }
    platform::KeyTree target;
    SaveOutcome outcome;
    try {
        outcome = Target(copy, &target);
        if (outcome.result == SaveResult::Saved) outcome = WriteChanges(copy, target);
    } catch (const std::exception& e) {
        outcome = {
            .result = SaveResult::FailedRestored, .step = SaveStep::Unexpected, .data = e.what()};
    }
    Close(api_, parametersKey_);
    Close(api_, serviceKey_);
    if (outcome.result == SaveResult::Saved) {
        const Status committed = api_.CommitTransaction(root);
        if (committed == error::kSuccess) return outcome;
        outcome = {.result = SaveResult::FailedRestored,
                   .status = committed,
                   .step = SaveStep::Flush,
                   .touched = outcome.touched};
    }
    // A registry with transactions drops every change, also those of a commit that failed.
    if (api_.AbortTransaction(root) || !outcome.touched) return outcome;
    const bool restored = RestoreStoredParameters(api_, root, copy) == error::kSuccess;
    // When permanent storage refused the save, it holds the old configuration still: a second
    // refusal after the restore loses nothing.
    const bool stored = api_.FlushKey(root) == error::kSuccess || outcome.step == SaveStep::Flush;
    if (!restored || !stored) outcome.result = SaveResult::FailedNotRestored;
    return outcome;
}

std::string ConfigStore::Unstorable(Status status, const std::string& text) const {
    if (status != error::kNoUnicodeTranslation) return {};
    const auto at = api_.UnstorableAt(text);
    if (!at) return {};
    return std::string(platform::text::CharacterAt(text, *at));
}

void ConfigStore::KeepUnread(const platform::KeyTree& stored, platform::KeyTree* target) const {
    // The keys the load read are remembered by name and looked up in the tree stored now; an
    // index past which nothing was read would not do, as another program that adds or removes a
    // key since the load shifts the keys after it. So a key another program added is kept too.
    using platform::text::EqualsNoCase;
    const auto& loaded = settings_.Loaded.Connections;
    const auto& model = settings_.Connections;
    for (const platform::KeyTree& key : stored.children) {
        if (CutAtNul(key.name) == layout::kVolatileKey) continue;  // the service's own: not kept
        const auto read =
            std::find_if(loaded.begin(), loaded.end(), [&](const LoadedConnection& connection) {
                return !connection.Key.empty() && EqualsNoCase(connection.Key, key.name);
            });
        if (read == loaded.end()) {
            target->children.push_back(key);
            continue;
        }
        // The accounts not read stay below the connection while the window holds it (under its
        // name there); a connection removed in the window goes with all of its accounts.
        const bool held =
            std::any_of(model.begin(), model.end(), [&](const ConnectionRecord& connection) {
                return !connection.Name.empty() && EqualsNoCase(connection.Name, read->Name);
            });
        if (!held) continue;
        for (const platform::KeyTree& account : key.children) {
            const auto same = [&](const std::string& name) {
                return EqualsNoCase(name, account.name);
            };
            if (std::any_of(read->Accounts.begin(), read->Accounts.end(), same)) continue;
            platform::KeyTree* connection = MakePath(*target, read->Name);
            if (connection == nullptr) break;
            if (std::none_of(connection->children.begin(), connection->children.end(),
                             [&](const platform::KeyTree& child) { return same(child.name); })) {
                connection->children.push_back(account);
            }
        }
    }
}

SaveOutcome ConfigStore::Target(const StoredCopy& stored, platform::KeyTree* target) {
    // The Parameters key keeps its values and the keys the last load did not read, and loses its
    // other subkeys; then the model is written into it in the order of a save: the global
    // values, the connections, the accounts, each into a kept key of its name if there is one.
    *target = platform::KeyTree{
        layout::kParametersName, stored.existed ? stored.tree.values : std::vector<Value>{}, {}};
    if (stored.existed) KeepUnread(stored.tree, target);
    const auto write = [&](platform::KeyTree& key, auto& record, const auto& fields,
                           const auto& order,
                           const std::string& keyName) -> std::optional<SaveOutcome> {
        ZeroEmptyNumbers(record, fields);
        for (const std::size_t i : order) {
            const auto& field = fields[i];
            const std::string& data = record.*field.field;
            Value value{field.name, field.IsNumber() ? platform::kRegDword : platform::kRegSz, {}};
            if (std::uint32_t number = 0; field.IsNumber()) {
                if (!platform::ParseDword(data, &number)) {
                    return SaveOutcome{
                        .result = SaveResult::FailedRestored,
                        .status = error::kInvalidData,
                        .step = SaveStep::WriteValue,
                        .key = keyName == layout::kParametersName ? std::string() : keyName,
                        .value = field.name,
                        .data = data};
                }
                value.data = platform::DwordBytes(number);
            } else {
                value.data = data.substr(0, data.find('\0'));  // a text value ends at its first NUL
            }
            PutValue(key, std::move(value));
        }
        return std::nullopt;
    };
    if (auto failed = write(*target, settings_.Global, layout::kGlobalValues,
                            layout::kGlobalSaveOrder, layout::kParametersName)) {
        return *failed;
    }
    for (auto& connection : settings_.Connections) {
        if (connection.Name.empty()) break;
        platform::KeyTree* key = MakePath(*target, connection.Name);
        if (key == nullptr) {
            return {.result = SaveResult::FailedRestored,
                    .status = error::kBadPathName,
                    .step = SaveStep::CreateKey,
                    .key = connection.Name};
        }
        std::array<std::size_t, layout::kConnectionValues.size()> order;
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        if (auto failed =
                write(*key, connection, layout::kConnectionValues, order, connection.Name))
            return *failed;
    }
    for (auto& account : settings_.Accounts) {
        if (account.Name.empty()) break;
        const std::string path = account.Connection + "\\" + account.Name;
        platform::KeyTree* key = MakePath(*target, path);
        if (key == nullptr) {
            return {.result = SaveResult::FailedRestored,
                    .status = error::kBadPathName,
                    .step = SaveStep::CreateKey,
                    .key = path};
        }
        std::array<std::size_t, layout::kAccountValues.size()> order;
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        if (auto failed = write(*key, account, layout::kAccountValues, order, path)) return *failed;
    }
    return {};
}

SaveOutcome ConfigStore::WriteChanges(const StoredCopy& stored, const platform::KeyTree& target) {
    const std::vector<KeyChange> plan =
        PlanChanges(stored.existed ? &stored.tree : nullptr, target);
    SaveOutcome outcome;
    for (const KeyChange& change : plan) {
        // Every change but the first needs the Parameters key; each key is opened (or made) once.
        if (parametersKey_ == kNullKey) {
            outcome.touched = true;
            const Status status =
                api_.CreateKey(serviceKey_, layout::kParametersName, &parametersKey_);
            if (parametersKey_ == kNullKey) {
                return {.result = SaveResult::FailedRestored,
                        .status = status,
                        .step = SaveStep::CreateKey,
                        .touched = true};
            }
        }
        Key key = parametersKey_;
        if (!change.path.empty()) {
            key = kNullKey;
            const Status status = api_.CreateKey(parametersKey_, change.path, &key);
            if (key == kNullKey) {
                return {.result = SaveResult::FailedRestored,
                        .status = status,
                        .step = SaveStep::CreateKey,
                        .key = change.path,
                        .unstorable = Unstorable(status, change.path),
                        .touched = true};
            }
        }
        outcome = Apply(key, change);
        if (key != parametersKey_) api_.CloseKey(key);
        if (outcome.result != SaveResult::Saved) return outcome;
    }
    outcome.touched = !plan.empty();
    return outcome;
}

SaveOutcome ConfigStore::Apply(Key key, const KeyChange& change) {
    const auto keyName = [&](const std::string& below) {
        return change.path.empty() ? below
               : below.empty()     ? change.path
                                   : change.path + "\\" + below;
    };
    for (const std::string& name : change.removeKeys) {
        std::string failed;
        if (const Status status = platform::DeleteTree(api_, key, name, &failed);
            status != error::kSuccess) {
            return {.result = SaveResult::FailedRestored,
                    .status = status,
                    .step = SaveStep::RemoveStored,
                    .key = keyName(failed),
                    .touched = true};
        }
    }
    for (const std::string& name : change.removeValues) {
        if (const Status status = api_.DeleteValue(key, name); status != error::kSuccess) {
            return {.result = SaveResult::FailedRestored,
                    .status = status,
                    .step = SaveStep::RemoveStored,
                    .key = keyName({}),
                    .value = name,
                    .touched = true};
        }
    }
    for (const Value* value : change.setValues) {
        // A value of another kind, kept from the stored tree (below a key the load did not read),
        // goes back byte for byte, as the registry holds it.
        const bool number = value->type == platform::kRegDword && value->data.size() == 4;
        const auto failed = [&](Status status, const std::string& data) -> SaveOutcome {
            return {.result = SaveResult::FailedRestored,
                    .status = status,
                    .step = SaveStep::WriteValue,
                    .key = change.path,
                    .value = value->name,
                    .data = data,
                    .unstorable = Unstorable(status, data),
                    .touched = true};
        };
        if (!number && value->type != platform::kRegSz) {
            const Status status =
                api_.SetValueBytes(key, value->name, value->type, platform::ValueBytes(*value));
            if (status != error::kSuccess) return failed(status, {});
            continue;
        }
        // Through the value library, as the model's text: digits for a number.
        std::string data = value->data;
        if (number) data = std::to_string(platform::DwordFromBytes(value->data));
        const Status status =
            values_.SetValue(key, value->name, number ? platform::kTypeNumber : platform::kTypeText,
                             data, number ? 4u : static_cast<std::uint32_t>(data.size()));
        if (status != error::kSuccess) return failed(status, data);
    }
    return {.touched = true};
}

}  // namespace kelvaston::config
