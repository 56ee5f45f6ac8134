// The registry on Linux: one .reg file per computer in a store folder, each holding that
// computer's HKEY_LOCAL_MACHINE, behind the same operations as the Windows registry.
#pragma once

#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/hive.h"
#include "platform/registry_api.h"

namespace kelvaston::platform {

struct FileStoreOptions {
    std::filesystem::path folder;  // where the <COMPUTER>.reg files are
    std::string localName;         // the local computer's name
};

class FileStoreRegistry final : public RegistryApi {
public:
    explicit FileStoreRegistry(FileStoreOptions options);
    // A transaction still open at the end is dropped: its changes never reach the file.
    ~FileStoreRegistry() override;
    FileStoreRegistry(const FileStoreRegistry&) = delete;
    FileStoreRegistry& operator=(const FileStoreRegistry&) = delete;

    // $KELVASTON_REGISTRY, else ${XDG_DATA_HOME:-$HOME/.local/share}/kelvaston/registry.
    static std::filesystem::path DefaultFolder();
    // The host name up to its first dot, in the case the system delivers it.
    static std::string HostComputerName();

    const std::filesystem::path& Folder() const { return options_.folder; }

    // Starts reading the local computer's hive on another thread, so that the program can do
    // other work meanwhile; the first use of that hive waits for it.
    void PrefetchLocalHive();
    // Why the last connection or flush failed on a file or the store folder.
    std::optional<HiveFileError> LastHiveFileError() const override;
    // How many keys are open: opened or created and not yet closed (the predefined keys not
    // counted). A program that closes what it opens leaves this as it found it.
    std::size_t OpenKeys() const { return handles_.size(); }

    Status ConnectRegistry(const std::string& machine, Key hive, Key* result) override;
    Status OpenKeyEx(Key parent, const std::string& subKey, std::uint32_t options,
                     std::uint32_t access, Key* result) override;
    Status CreateKey(Key parent, const std::string& subKey, Key* result) override;
    Status EnumKeyEx(Key key, std::uint32_t index, char* name, std::uint32_t* nameLength) override;
    Status DeleteKey(Key parent, const std::string& subKey) override;
    Status CloseKey(Key key) override;
    // Every change is in the file once its call returns; inside a transaction, once it commits.
    Status FlushKey(Key key) override;
    // The whole hive of the key's computer: the lock held, the file written once at the commit.
    Status BeginTransaction(Key key) override;
    Status CommitTransaction(Key key) override;
    bool AbortTransaction(Key key) override;
    // The hive's lock held shared: other programs read meanwhile, none writes.
    Status BeginReading(Key key) override;
    void EndReading(Key key) override;
    Status QueryValueEx(Key key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* dataSize) override;
    Status SetValueEx(Key key, const std::string& name, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t dataSize) override;
    Status EnumValue(Key key, std::uint32_t index, std::string* name, std::uint32_t* type,
                     std::vector<std::uint8_t>* data) override;
    Status DeleteValue(Key key, const std::string& name) override;
    Status EnumValueBytes(Key key, std::uint32_t index, std::string* name, std::uint32_t* type,
                          std::string* data) override;
    Status SetValueBytes(Key key, const std::string& name, std::uint32_t type,
                         std::string_view data) override;
    Status LocalComputerName(char* buffer, std::uint32_t* size) override;
    // Served from one lookup of the key.
    Status QueryKeyValues(Key key, const std::string& subKey,
                          std::vector<RegValue>* values) override;
    Status QueryKeyContents(Key key, const std::string& subKey, KeyContents* contents,
                            const ExpectedContents& expected = {}) override;

private:
    struct OpenKey {
        std::shared_ptr<filestore::Hive> hive;
        std::shared_ptr<filestore::Node> node;
        std::uint32_t access = 0;
    };
    struct Resolved {
        Status status = error::kSuccess;
        OpenKey* key = nullptr;
    };

    // The hive of a computer name, loaded on first use; empty when it is unreachable.
    Status HiveFor(const std::string& machine, std::shared_ptr<filestore::Hive>* hive);
    std::optional<std::filesystem::path> FindFile(const std::string& computer) const;
    // The open key of a handle, its hive loaded; null with the status when there is none.
    OpenKey* Find(Key key, Status* status);
    // The handle's key for a read, its tree brought up to the last completed write of any
    // process, and checked for existence and for the access the read needs.
    Resolved Lookup(Key key, std::uint32_t needed);
    // Makes a change to the handle's key inside a transaction: the caller's, or one of its own
    // that commits when the change succeeds. A call that fails leaves the hive as it was.
    template <class Change>
    Status Changing(Key key, std::uint32_t needed, Change&& change);
    // The node of the key `subKey` below an open key, or why there is none.
    Status Walk(const Resolved& base, const std::string& subKey, const filestore::Node** node);
    Key AddHandle(OpenKey key);
    // Value `index` of an open key, its name and type given out; null with `status` set when
    // there is none. The caller holds the lock.
    const regfile::Value* ValueAt(Key key, std::uint32_t index, std::string* name,
                                  std::uint32_t* type, Status* status);
    // Stores a value whose name and data have been checked.
    Status PutValue(Key key, const std::string& name, std::uint32_t type, std::string data);
    // Runs an operation on the whole hive of the handle's key, keeping what it reports.
    Status OnHive(Key key, Status (filestore::Hive::*operation)(HiveFileError*));
    // Keeps what a hive operation reported, for LastHiveFileError().
    Status Reported(Status status, HiveFileError&& problem);

    // Every operation holds it: readers on several threads are served one after another, which
    // costs them nothing beside the round trips a remote registry would take.
    mutable std::mutex mutex_;
    FileStoreOptions options_;
    std::map<std::string, std::shared_ptr<filestore::Hive>> hives_;  // by folded file name
    std::unordered_map<Key, OpenKey> handles_;
    OpenKey localMachine_;  // what HKEY_LOCAL_MACHINE itself refers to, once used
    Key nextHandle_ = 0x100;
    std::optional<HiveFileError> lastProblem_;
    struct Prefetched {
        std::filesystem::path file;
        std::shared_ptr<filestore::Hive> hive;  // empty when the file did not load
    };
    std::future<Prefetched> prefetch_;
};

}  // namespace kelvaston::platform
