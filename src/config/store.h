// Loading the configuration from the target computer's registry into the model, and saving it
// back, through the registry operations and the value library.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/save_plan.h"
#include "config/settings.h"
#include "platform/caching_registry.h"
#include "platform/registry_api.h"
#include "platform/task_pool.h"
#include "platform/value_library.h"

namespace kelvaston::config {

// The text before the first NUL, with leading and trailing blanks (only ' ') removed.
std::string CutAtNul(std::string_view text);

enum class SaveResult {
    Saved,              // the registry holds the model
    ServiceMissing,     // the service's key cannot be opened: nothing was changed
    FailedRestored,     // a step failed; the stored configuration was put back as it was
    FailedNotRestored,  // a step failed and putting the stored configuration back failed too
};

// The step of a save that failed.
enum class SaveStep {
    None,
    Begin,         // the registry could not be taken for the save: it may not be written now
    ReadStored,    // copying the stored configuration before anything is removed
    RemoveStored,  // a stored key (`key`) could not be removed
    OpenService,   // the service's key could not be opened
    CreateKey,     // `key` could not be created
    WriteValue,    // value `value` with the text `data` could not be written into `key`
    Flush,         // the registry could not be written to permanent storage
    Unexpected,    // anything else; `data` says what
};

// Built by field name: `{.result = ..., .step = ...}`; what is not named keeps its default.
struct SaveOutcome {
    SaveResult result = SaveResult::Saved;
    platform::Status status = platform::error::kSuccess;
    SaveStep step = SaveStep::None;
    std::string key = {};  // relative to the Parameters key
    std::string value = {};
    std::string data = {};
    // kNoUnicodeTranslation: the first character of the name or text that the registry cannot
    // store (its UTF-8 bytes, or the one byte that is not UTF-8).
    std::string unstorable = {};
    bool touched = false;  // a change had reached the registry: a failure puts the copy back
};

// What connecting to a computer's registry found.
enum class ConnectResult {
    Connected,       // the service's key may be written: the configuration is loaded
    Unreachable,     // the computer's registry cannot be reached, or its file not be read
    ReadOnly,        // the service is there, but the registry kept in files may not be written now
    ServiceMissing,  // the service's key is not there, or may not be written
};

struct ConnectOutcome {
    ConnectResult result = ConnectResult::Connected;
    // A registry kept in files: which file or folder stands in the way, and why.
    std::optional<platform::HiveFileError> problem = {};
};

// What a save did or could not do, in English, for logs and tests, e.g. `write value "TimeOut"
// ("x") of key "NORAS": status 13`. The window says it in German from the same fields.
std::string Describe(const SaveOutcome& outcome);

// Holds the registry of `root` still for the reads made during its life, where the registry can:
// a load's many reads then see one state of it, not another program's write half way.
class ReadingAtOnce {
public:
    ReadingAtOnce(platform::RegistryApi& api, platform::Key root) : api_(api), root_(root) {
        api_.BeginReading(root_);
    }
    ~ReadingAtOnce() { api_.EndReading(root_); }
    ReadingAtOnce(const ReadingAtOnce&) = delete;
    ReadingAtOnce& operator=(const ReadingAtOnce&) = delete;

private:
    platform::RegistryApi& api_;
    platform::Key root_;
};

class ConfigStore {
public:
    // Everything the store reads and writes goes through a cache over `registry`, so that a load
    // costs few calls; the program's other registry calls should use Api() to keep it coherent.
    ConfigStore(platform::RegistryApi& registry, Settings& settings);
    ConfigStore(const ConfigStore&) = delete;
    ConfigStore& operator=(const ConfigStore&) = delete;

    Settings& Model() { return settings_; }
    platform::RegistryApi& Api() { return api_; }

    // This computer's name as the system reports it, up to its first NUL, blanks trimmed.
    std::string LocalComputerName();
    // Connects to the local-machine hive of `computer` (passed on as it is) and checks that the
    // service is installed there and may be written; `connected` runs once the registry is
    // reached, before the check. When either fails, the model's lists are emptied. The handle of
    // the hive stays open until the next connection: loads and saves open their keys below it.
    ConnectOutcome Connect(const std::string& computer,
                           const std::function<void()>& connected = {});
    // Empties the model's lists and loads the connected computer's configuration into the model,
    // its global values, connections and accounts, while the registry is held still where it
    // can be. A step that fails with an exception is abandoned and the next one runs, so a load
    // that ran out of memory half way shows what it had read.
    void Load();

    // During a load: one value of the key `path` below the open key `key` (empty: that key) as
    // text; `defaultText` when the key or the value is missing or unreadable. A value stored as
    // empty text reads as empty text.
    std::string QueryValue(platform::Key key, const std::string& path, const std::string& name,
                           std::int32_t type, const std::string& defaultText);

    // The name of subkey `index` of an open key; empty when there is none.
    std::string SubkeyName(platform::Key key, std::uint32_t index);

    // A connection's accounts as listed from its key: the records, named, the keys' names as
    // stored, and whether the key holds keys not read as accounts (past the list's slots, or
    // after a name of blanks, which ends the list).
    struct ListedAccounts {
        bool listed = false;
        bool leftOut = false;
        std::vector<AccountRecord> accounts;
        std::vector<std::string> keys;
    };
    // Lists the accounts below the open key of `connection`; none when the key is not open.
    ListedAccounts ListAccounts(platform::Key connectionKey, const std::string& connection);
    // Reads the values of the accounts listed, each account a task of `pool`.
    void ReadAccounts(platform::TaskPool& pool, ListedAccounts& listed);
    // Reads the values of `fields` of the key `path` below `key` into `record`, at once where
    // the registry can.
    template <class Record, class Fields>
    void ReadRecord(platform::Key key, const std::string& path, Record& record,
                    const Fields& fields);

    // The three steps of a load, in the order Load runs them, with the Parameters key open. The
    // connections' keys are read once, for their values and their lists of accounts.
    void LoadGlobalSettings();
    std::vector<ListedAccounts> LoadConnections();
    void LoadAccounts(std::vector<ListedAccounts> listed);

    // Replaces the stored connections and accounts with the model's, so that the Parameters key
    // holds what removing every stored subkey and writing the whole model would leave, but
    // writes only what differs from the stored tree. The save is one transaction: the stored
    // tree is read (its keys at the same time) and the changes written while no other program
    // writes, so the result is what a full rewrite would leave on the registry as it is then.
    // The changes reach permanent storage together at the end, or not at all: a registry with
    // transactions drops them, on one without them the stored tree read first is put back.
    SaveOutcome SaveSettings();

    // The stored Parameters tree as it was before the save touched it.
    struct StoredCopy {
        bool existed = false;
        platform::KeyTree tree;
    };

private:
    // Both lists emptied, nothing loaded.
    void ClearLists();
    // What the Parameters key holds after the model is written over `stored`; a failure when a
    // number of the model is no number (nothing is written then).
    SaveOutcome Target(const StoredCopy& stored, platform::KeyTree* target);
    // Puts into `target` the stored keys that the last load did not read, as they are stored.
    void KeepUnread(const platform::KeyTree& stored, platform::KeyTree* target) const;
    // Makes the registry's Parameters key hold `target`, writing only what differs.
    SaveOutcome WriteChanges(const StoredCopy& stored, const platform::KeyTree& target);
    SaveOutcome Apply(platform::Key key, const KeyChange& change);
    // The name of subkey `index` of an open key as stored, end blanks and all; none when there is
    // none.
    std::optional<std::string> StoredName(platform::Key key, std::uint32_t index);
    // What a failure to store `text` says: the character the registry cannot store, if that is why.
    std::string Unstorable(platform::Status status, const std::string& text) const;

    platform::CachingRegistry cache_;
    platform::RegistryApi& api_;
    platform::ValueLibrary values_;
    Settings& settings_;
    // The connected computer's local-machine hive, and the service's and the Parameters key
    // while a load or a save has them open.
    platform::Key root_ = platform::kNullKey;
    platform::Key serviceKey_ = platform::kNullKey;
    platform::Key parametersKey_ = platform::kNullKey;
};

}  // namespace kelvaston::config
