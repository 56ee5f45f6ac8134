// One computer's HKEY_LOCAL_MACHINE in the file store: a tree of keys held in memory and kept
// in one .reg file.
//
// The file is the one truth. Beside it a lock file serialises the processes that use it and
// counts the changes written: a reader holds the lock shared while it looks, a writer holds it
// exclusively from reading the file to replacing it. Before every use the tree is compared with
// the file by that count (and, for editors that do not keep the count, by the file's identity)
// and read again when another process wrote since. Changes are made in a transaction: the lock
// is held, the tree is current, and the file is replaced atomically (temporary file, fsync,
// rename) once at its end, or not at all. So a read sees the last completed write of any
// process, and a call that fails leaves the file and, read back, the tree as they were. A file
// that does not parse is never written over.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry_api.h"

namespace kelvaston::platform::filestore {

// A table that finds entries by the hash of a name: open addressing with linear probing, at most
// half full, in slots that hold Entry{} when empty. What an entry's hash is and whether it is
// the one wanted, the caller says. Only keys with many subkeys or values have one: a table that
// is not active takes the room of a pointer.
template <class Entry>
class HashSlots {
public:
    HashSlots() = default;
    HashSlots(const HashSlots& other)
        : slots_(other.slots_ ? std::make_unique<std::vector<Entry>>(*other.slots_) : nullptr) {}
    HashSlots& operator=(const HashSlots& other) {
        if (this != &other) *this = HashSlots(other);
        return *this;
    }
    HashSlots(HashSlots&&) noexcept = default;
    HashSlots& operator=(HashSlots&&) noexcept = default;
    ~HashSlots() = default;

    bool Active() const { return slots_ != nullptr; }
    // Empties the table and sizes it for `count` entries, which the caller inserts again.
    void Reset(std::size_t count);
    // Lets the table go.
    void Drop() { slots_.reset(); }
    // Whether the table holds `count` entries and one more without growing.
    bool HasRoomFor(std::size_t count) const { return slots_ && 2 * (count + 1) <= slots_->size(); }
    void Insert(std::uint32_t hash, Entry entry);
    // The entry for which `matches(entry)` holds; Entry{} when none does.
    template <class Matches>
    Entry Find(std::uint32_t hash, const Matches& matches) const;
    // Takes `entry`, whose hash is `hash`, out of the table; `hashOf` gives the hashes of the
    // entries that move up into the gap.
    template <class HashOf>
    void Erase(Entry entry, std::uint32_t hash, const HashOf& hashOf);
    // Calls `change(entry)` on every entry, in no order.
    template <class Change>
    void ForEach(const Change& change);

private:
    std::size_t Home(std::uint32_t hash) const;

    std::unique_ptr<std::vector<Entry>> slots_;  // a power of two of them; none when not active
};

// How a key finds its values by name. It belongs to the values as they stand: whatever moves or
// copies a key's values moves or copies it along.
struct ValueIndex {
    std::vector<std::uint32_t> hashes;   // of the values' names in comparison form, in their order
    HashSlots<std::uint32_t> positions;  // 1 + the position of each value; for many values only
};

struct Node : std::enable_shared_from_this<Node> {
    std::string name;    // as created
    std::string folded;  // the name in the registry's comparison form
    Node* parent = nullptr;
    std::size_t depth = 0;  // keys from the root: 0 for the root itself
    bool deleted = false;
    std::vector<regfile::Value> values;           // in creation order; change them through
                                                  // PutValue and EraseValue only
    ValueIndex valueHashes;                       // the values' index: whatever replaces
                                                  // `values` as a whole moves it along
    std::uint32_t hash = 0;                       // text::FoldedHash(name)
    std::vector<std::shared_ptr<Node>> children;  // sorted by `folded`: the enumeration order
    // The children again, by the hash of their names, for a key with many: how a name is found
    // (a key with a few looks through `children`). Kept by the functions below that add and
    // remove children.
    HashSlots<Node*> byHash;

    Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    // The subtree is let go one node after another, never by recursion: a tree can be as deep
    // as the registry allows.
    ~Node();

    Node* FindChild(std::string_view name) const;
    // The child of that name, made when there is none.
    Node* AddChild(std::string_view name);
    // The same for a bulk load, which adds the children in any order: a child made now goes
    // last, whatever its name, and `outOfOrder` is set when that breaks the order. FindChild
    // works meanwhile; OrderChildren() must be called before the children are read in order.
    Node* AppendChild(std::string_view name, bool* outOfOrder);
    void OrderChildren();
    // Takes a child out of the tree, with everything below it marked deleted.
    bool RemoveChild(const Node& child);
    // Puts a child RemoveChild took out back as the same node, everything below it no longer
    // deleted, so that handles that hold it stay good; a child made since under its name goes.
    void RestoreChild(std::shared_ptr<Node> child);
    // Replaces the children, as they are already ordered.
    void SetChildren(std::vector<std::shared_ptr<Node>> ordered);
    regfile::Value* FindValue(std::string_view name);
    const regfile::Value* FindValue(std::string_view valueName) const {
        return const_cast<Node*>(this)->FindValue(valueName);
    }
    // Sets a value; one of the same name in another case keeps its name and its place.
    void PutValue(regfile::Value&& value);
    void PutValue(const regfile::Value& value) { PutValue(regfile::Value(value)); }
    bool EraseValue(std::string_view name);

private:
    Node* FindChild(std::uint32_t nameHash, std::string_view name) const;
    // Makes the child `childName` at `at` among the children.
    Node* MakeChild(std::vector<std::shared_ptr<Node>>::const_iterator at,
                    std::string_view childName, std::uint32_t nameHash);
    Node* InsertChild(std::vector<std::shared_ptr<Node>>::const_iterator at,
                      std::shared_ptr<Node> child);
    void IndexChildren();
    // The position of the value of that name; npos when there is none.
    std::size_t ValuePosition(std::uint32_t nameHash, std::string_view valueName) const;
    void IndexValues();
};

// Whether a store folder may be used: it must be a folder that belongs to this user (or to the
// administrator) and that no other user may write into. Nothing when it may, or does not exist.
std::optional<HiveFileError> CheckStoreFolder(const std::filesystem::path& folder);

// Makes `folder` and any missing folder above it, each readable by its owner only (0700)
// whatever the umask. False with `problem` set when that fails.
bool MakePrivateFolders(const std::filesystem::path& folder, HiveFileError* problem);

class HiveLock;

class Hive {
public:
    // Opens the hive kept in `file` and reads it. A missing file is an empty hive; the file is
    // made by the first change. A file that does not parse, that another user owns or may read
    // or write, that is not a regular file, or that is a link to nothing is not opened:
    // `problem` says why.
    static std::shared_ptr<Hive> Open(const std::filesystem::path& file, HiveFileError* problem);
    ~Hive();
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;

    const std::filesystem::path& File() const { return file_; }
    Node& Root() { return *root_; }
    // Whether this process may not change the hive now (its folder or its file refuses writing),
    // and then why.
    std::optional<HiveFileError> ReadOnly() const;

    // Brings the tree up to the last completed write of any process. Keys that still exist keep
    // their nodes, so open handles stay valid; keys that are gone are marked deleted. Inside a
    // transaction the tree is current already.
    Status Current(HiveFileError* problem);

    // A transaction: from Begin to Commit or Abort no other process writes the hive, and the
    // tree is current. Commit writes the changes made meanwhile to the file at once; when that
    // fails, or on Abort, they are dropped: the tree is read again from the file before its next
    // use. Begins nest; the outermost Commit writes.
    Status Begin(HiveFileError* problem);
    Status Commit(HiveFileError* problem);
    void Abort();
    bool InTransaction() const { return depth_ > 0; }

    // Reads that see one state of the hive: its lock held shared, the tree current. No change
    // and no transaction may begin meanwhile. Nested in a transaction, they are part of it.
    Status BeginReading(HiveFileError* problem);
    void EndReading();

    // Changes, made inside a transaction. Each returns a Win32 status and changes nothing unless
    // it succeeds.
    Status CreateChild(Node& parent, std::string_view name, Node** child);
    Status DeleteChild(Node& parent, Node& child);
    Status SetValue(Node& key, regfile::Value&& value);
    Status DeleteValue(Node& key, std::string_view name);

    // The whole tree in the .reg format.
    void Serialize(regfile::Writer& writer) const;

    // The lock file kept beside a hive's file.
    static std::filesystem::path LockFile(const std::filesystem::path& file);

private:
    struct FileStamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        std::int64_t modified = 0;
        std::int64_t changed = 0;
        bool operator==(const FileStamp&) const = default;
    };
    // What the tree was read from: the change count in the lock file and the file's identity.
    struct Version {
        std::uint64_t changes = 0;
        std::optional<FileStamp> stamp;  // empty: there was no file
        bool operator==(const Version&) const = default;
    };

    explicit Hive(std::filesystem::path file);
    static FileStamp StampOf(const struct stat& st);
    // The tree the file holds; null with `problem` and `status` set when it cannot be used.
    static std::shared_ptr<Node> ReadTree(const std::filesystem::path& file, FileStamp* stamp,
                                          HiveFileError* problem, Status* status);
    // Reads the file again unless the tree holds the version `changes` and the file's identity
    // say is there. The caller holds the lock, or there is no lock file to hold.
    Status Reload(std::uint64_t changes, HiveFileError* problem);
    Status WriteFile(HiveFileError* problem);
    void PutBackRemoved();

    std::filesystem::path file_;
    std::shared_ptr<Node> root_;
    std::optional<Version> version_;      // empty: the tree must be read again before it is used
    std::unique_ptr<HiveLock> lock_;      // held from Begin to the end of the transaction
    std::unique_ptr<HiveLock> readLock_;  // held shared from BeginReading to its end
    int readDepth_ = 0;
    int depth_ = 0;
    bool changed_ = false;
    // The keys the transaction deleted, in their order: put back if it does not reach the file.
    std::vector<std::shared_ptr<Node>> removed_;
};

}  // namespace kelvaston::platform::filestore
