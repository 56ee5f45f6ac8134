#include "config/store.h"

#include <algorithm>
#include <array>
#include <optional>

#include "config/layout.h"
#include "platform/registry_tree.h"
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

// Opens a key by its full path from RootKey into `slot`, which is null unless it succeeded.
void Open(platform::RegistryApi& api, Key root, const std::string& path, std::uint32_t access, Key& slot) {
    slot = kNullKey;
    api.OpenKeyEx(root, path, 0, access, &slot);
}

void Close(platform::RegistryApi& api, Key& slot) {
    if (slot != kNullKey) api.CloseKey(slot);
    slot = kNullKey;
}

// Empty numbers and flags of a record become "0" before the record is written.
template <class Record, std::size_t N>
void ZeroEmptyNumbers(Record& record, const std::array<layout::ValueField<Record>, N>& fields) {
    for (const auto& field : fields) {
        if (field.IsNumber() && (record.*field.field).empty()) record.*field.field = "0";
    }
}

// The names of a table's values: what a load step will ask each of its keys for.
template <class Record, std::size_t N>
std::vector<std::string> Names(const std::array<layout::ValueField<Record>, N>& fields) {
    std::vector<std::string> names;
    names.reserve(N);
    for (const auto& field : fields) names.emplace_back(field.name);
    return names;
}

// Tells the cache, for the life of a load step, which values the step asks each key for.
class Expecting {
public:
    Expecting(platform::CachingRegistry& cache, std::vector<std::string> names) : cache_(cache) {
        cache_.ExpectValues(std::move(names));
    }
    ~Expecting() { cache_.ExpectValues({}); }
    Expecting(const Expecting&) = delete;
    Expecting& operator=(const Expecting&) = delete;

private:
    platform::CachingRegistry& cache_;
};

std::string Describe(const std::string& what, const std::string& key) { return what + " of key \"" + key + "\""; }

// The stored Parameters tree as it was before the save touched it.
struct StoredCopy {
    bool existed = false;
    platform::KeyTree tree;
};

Status CopyStoredParameters(platform::RegistryApi& api, Key root, StoredCopy* copy) {
    Key parameters = kNullKey;
    const Status status = api.OpenKeyEx(root, layout::kParametersKey, 0, platform::kKeyRead, &parameters);
    if (status == error::kFileNotFound) return error::kSuccess;
    if (status != error::kSuccess) return status;
    copy->existed = true;
    const Status read = platform::ReadTree(api, parameters, layout::kParametersName, &copy->tree);
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
    if (status == error::kSuccess && copy.existed) status = platform::WriteTree(api, service, copy.tree);
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

ConfigStore::ConfigStore(platform::RegistryApi& registry, Settings& settings)
    : cache_(registry), api_(cache_), values_(cache_), settings_(settings) {}

std::string ConfigStore::QueryValue(const std::string& path, const std::string& name, std::int32_t type,
                                    const std::string& defaultText) {
    // Not cleared first: what GetValue delivers ends in a NUL or fills the buffer.
    std::array<char, kValueBufferSize * platform::text::kMaxUtf8BytesPerCharacter> buffer;
    const Status status = values_.GetValue(settings_.RootKey, path, name, type, buffer.data(), kValueBufferSize);
    // A text longer than the buffer is read as far as it fits.
    if (status != error::kSuccess && status != error::kMoreData) return defaultText;
    return CutAtNul(std::string_view(buffer.data(), buffer.size()));
}

std::string ConfigStore::SubkeyName(Key key, std::uint32_t index) {
    std::array<char, kNameBufferSize> buffer;
    std::uint32_t length = kNameBufferSize;
    // A failed call delivers no name. A name comes NUL-terminated, its length counted.
    if (api_.EnumKeyEx(key, index, buffer.data(), &length) != error::kSuccess) return {};
    return CutAtNul(std::string_view(buffer.data(), std::min<std::size_t>(length, buffer.size())));
}

void ConfigStore::DeleteParametersTree() {
    Open(api_, settings_.RootKey, layout::kParametersKey, platform::kKeyAllAccess, settings_.ServiceKeyHandle);
    if (settings_.ServiceKeyHandle != kNullKey) {
        for (std::size_t pass = 0; pass < kConnectionSlots; ++pass) {
            const std::string connection = SubkeyName(settings_.ServiceKeyHandle, 0);
            if (connection.empty()) break;
            Key connectionKey = kNullKey;
            Open(api_, settings_.RootKey, layout::kParametersKey + "\\" + connection, platform::kKeyAllAccess,
                 connectionKey);
            if (connectionKey != kNullKey) {
                for (std::size_t inner = 0; inner < kAccountSlots; ++inner) {
                    const std::string account = SubkeyName(connectionKey, 0);
                    if (account.empty()) break;
                    api_.DeleteKey(connectionKey, account);
                }
            }
            api_.DeleteKey(settings_.ServiceKeyHandle, connection);
            Close(api_, connectionKey);
        }
    }
    Close(api_, settings_.ServiceKeyHandle);
}

void ConfigStore::LoadGlobalSettings() {
    const Expecting expecting(cache_, Names(layout::kGlobalValues));
    for (const auto& value : layout::kGlobalValues) {
        settings_.Global.*value.field =
            QueryValue(layout::kParametersValuePath, value.name, value.type, value.defaultText);
    }
}

void ConfigStore::LoadConnections() {
    ClearConnections(settings_.Connections);
    const Expecting expecting(cache_, Names(layout::kConnectionValues));
    Open(api_, settings_.RootKey, layout::kParametersKey, platform::kKeyAllAccess, settings_.ParametersKeyHandle);
    std::size_t count = 0;
    for (std::uint32_t index = 0; index < kConnectionSlots; ++index) {
        const std::string name = SubkeyName(settings_.ParametersKeyHandle, index);
        if (name.empty() || name == layout::kVolatileKey) continue;
        ConnectionRecord& connection = settings_.Connections[count++];
        connection.Name = name;
        const std::string path = layout::kParametersValuePath + "\\" + name;
        for (const auto& value : layout::kConnectionValues) {
            connection.*value.field = QueryValue(path, value.name, value.type, value.defaultText);
        }
    }
    for (auto& connection : settings_.Connections) {
        if (connection.Name == layout::kNoRasConnection) break;
        if (connection.Name.empty()) {
            connection.Name = layout::kNoRasConnection;
            break;
        }
    }
    Close(api_, settings_.ParametersKeyHandle);
}

void ConfigStore::LoadAccounts() {
    ClearAccounts(settings_.Accounts);
    const Expecting expecting(cache_, Names(layout::kAccountValues));
    std::size_t count = 0;
    for (const auto& connection : settings_.Connections) {
        if (connection.Name.empty()) break;
        Key connectionKey = kNullKey;
        Open(api_, settings_.RootKey, layout::kParametersKey + "\\" + connection.Name, platform::kKeyAllAccess,
             connectionKey);
        for (std::uint32_t index = 0; index < kAccountSlots; ++index) {
            const std::string name = SubkeyName(connectionKey, index);
            if (name.empty()) break;
            if (count == kAccountSlots) {  // the list is full: the rest is not loaded
                Close(api_, connectionKey);
                return;
            }
            AccountRecord& account = settings_.Accounts[count++];
            account.Name = name;
            account.Connection = connection.Name;
            const std::string path = layout::kParametersValuePath + "\\" + connection.Name + "\\" + name;
            for (const auto& value : layout::kAccountValues) {
                account.*value.field = QueryValue(path, value.name, value.type, value.defaultText);
            }
        }
        Close(api_, connectionKey);
    }
}

SaveOutcome ConfigStore::SaveSettings() {
    // The copy that guards the save is read afresh: another program may have changed the
    // registry since the load.
    cache_.Forget();
    StoredCopy copy;
    if (const Status status = CopyStoredParameters(api_, settings_.RootKey, &copy); status != error::kSuccess) {
        // Nothing has been changed yet, so nothing needs to be put back.
        return {SaveResult::FailedRestored, "read the stored configuration", status, SaveStep::ReadStored, {}, {}, {}, {}};
    }
    SaveOutcome outcome;
    try {
        outcome = WriteModel();
    } catch (const std::exception& e) {
        outcome = {SaveResult::FailedRestored, std::string("unexpected error: ") + e.what(), error::kSuccess,
                   SaveStep::Unexpected, {}, {}, e.what(), {}};
    }
    if (outcome.result == SaveResult::Saved) {
        const Status flushed = api_.FlushKey(settings_.RootKey);
        if (flushed == error::kSuccess) return outcome;
        outcome = {SaveResult::FailedRestored, "write the registry to permanent storage", flushed, SaveStep::Flush,
                   {}, {}, {}, {}};
    }
    Close(api_, settings_.ParametersKeyHandle);
    Close(api_, settings_.ServiceKeyHandle);
    const bool restored = RestoreStoredParameters(api_, settings_.RootKey, copy) == error::kSuccess;
    // When permanent storage refused the save, it holds the old configuration still: a second
    // refusal after the restore loses nothing.
    const bool stored = api_.FlushKey(settings_.RootKey) == error::kSuccess || outcome.step == SaveStep::Flush;
    if ((!restored || !stored) && outcome.result != SaveResult::ServiceMissing) {
        outcome.result = SaveResult::FailedNotRestored;
    }
    return outcome;
}

SaveOutcome ConfigStore::RemoveLeftovers() {
    // The passes above stop after 51 keys and look keys up by their names with the blanks at
    // their ends taken away, and an account key or "volatile" with subkeys of its own stays:
    // any of them would make every later save fail.
    Key parameters = kNullKey;
    Status status = api_.OpenKeyEx(settings_.RootKey, layout::kParametersKey, 0, platform::kKeyAllAccess, &parameters);
    if (status == error::kFileNotFound) return {};
    if (status != error::kSuccess) {
        return {SaveResult::FailedRestored, "open the Parameters key", status, SaveStep::RemoveStored, {}, {}, {}, {}};
    }
    std::vector<std::string> names;
    status = platform::ListSubkeys(api_, parameters, &names);
    std::string failed;
    for (std::size_t i = 0; status == error::kSuccess && i < names.size(); ++i) {
        status = platform::DeleteTree(api_, parameters, names[i], &failed);
    }
    api_.CloseKey(parameters);
    if (status == error::kSuccess) return {};
    return {SaveResult::FailedRestored, Describe("remove the stored key", failed), status, SaveStep::RemoveStored,
            failed, {}, {}, {}};
}

std::string ConfigStore::Unstorable(Status status, const std::string& text) const {
    if (status != error::kNoUnicodeTranslation) return {};
    const auto at = api_.UnstorableAt(text);
    if (!at) return {};
    // The character's bytes: its UTF-8 sequence, or the single byte that begins none.
    const std::size_t next = platform::text::FirstInvalidUtf8(std::string_view(text).substr(*at));
    if (next == 0) return text.substr(*at, 1);
    std::size_t length = 1;
    while (*at + length < text.size() && (static_cast<unsigned char>(text[*at + length]) & 0xC0) == 0x80) ++length;
    return text.substr(*at, length);
}

SaveOutcome ConfigStore::WriteModel() {
    DeleteParametersTree();
    if (SaveOutcome left = RemoveLeftovers(); left.result != SaveResult::Saved) return left;

    Open(api_, settings_.RootKey, layout::kServiceKey, platform::kKeyAllAccess, settings_.ServiceKeyHandle);
    if (settings_.ServiceKeyHandle == kNullKey) {
        return {SaveResult::ServiceMissing, "open the service's key", 0, SaveStep::OpenService, {}, {}, {}, {}};
    }

    settings_.ParametersKeyHandle = kNullKey;
    Status status = api_.CreateKey(settings_.ServiceKeyHandle, layout::kParametersName, &settings_.ParametersKeyHandle);
    if (settings_.ParametersKeyHandle == kNullKey) {
        return {SaveResult::FailedRestored, "create the Parameters key", status, SaveStep::CreateKey, {}, {}, {}, {}};
    }

    // Writes the values of one record into an open key; false when one of them fails.
    const auto writeValues = [&](Key key, auto& record, const auto& fields, auto order, const std::string& keyName) {
        ZeroEmptyNumbers(record, fields);
        for (const std::size_t i : order) {
            const auto& field = fields[i];
            const std::string& data = record.*field.field;
            status = values_.SetValue(key, field.name, field.type, data,
                                      field.IsNumber() ? 4u : static_cast<std::uint32_t>(data.size()));
            if (status != error::kSuccess) {
                return std::optional<SaveOutcome>(SaveOutcome{
                    SaveResult::FailedRestored,
                    Describe(std::string("write value \"") + field.name + "\" (\"" + data + "\")", keyName), status,
                    SaveStep::WriteValue, keyName == layout::kParametersName ? std::string() : keyName, field.name,
                    data, Unstorable(status, data)});
            }
        }
        return std::optional<SaveOutcome>();
    };
    const auto inOrder = [](std::size_t n) {
        std::vector<std::size_t> order(n);
        for (std::size_t i = 0; i < n; ++i) order[i] = i;
        return order;
    };

    if (auto failed = writeValues(settings_.ParametersKeyHandle, settings_.Global, layout::kGlobalValues,
                                  layout::kGlobalSaveOrder, layout::kParametersName)) {
        return *failed;
    }
    Close(api_, settings_.ServiceKeyHandle);

    for (auto& connection : settings_.Connections) {
        if (connection.Name.empty()) break;
        Key key = kNullKey;
        status = api_.CreateKey(settings_.ParametersKeyHandle, connection.Name, &key);
        if (key == kNullKey) {
            return {SaveResult::FailedRestored, Describe("create the key", connection.Name), status,
                    SaveStep::CreateKey, connection.Name, {}, {}, Unstorable(status, connection.Name)};
        }
        auto failed = writeValues(key, connection, layout::kConnectionValues,
                                  inOrder(layout::kConnectionValues.size()), connection.Name);
        Close(api_, key);
        if (failed) return *failed;
    }

    for (auto& account : settings_.Accounts) {
        if (account.Name.empty()) break;
        const std::string path = account.Connection + "\\" + account.Name;
        Key key = kNullKey;
        status = api_.CreateKey(settings_.ParametersKeyHandle, path, &key);
        if (key == kNullKey) {
            return {SaveResult::FailedRestored, Describe("create the key", path), status, SaveStep::CreateKey, path, {}, {},
                    Unstorable(status, path)};
        }
        auto failed = writeValues(key, account, layout::kAccountValues, inOrder(layout::kAccountValues.size()), path);
        Close(api_, key);
        if (failed) return *failed;
    }

    Close(api_, settings_.ParametersKeyHandle);
    return {};
}

}  // namespace kelvaston::config
