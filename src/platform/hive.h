// One computer's HKEY_LOCAL_MACHINE in the file store: a tree of keys held in memory and kept
// in one .reg file.
//
// Every change is applied to the tree at once and also recorded in a journal. A flush takes the
// store folder's lock, reads the file again if another process has replaced it since, applies
// the journal onto what it read, and replaces the file atomically (temporary file, fsync,
// rename). So two processes sharing a file never tear it and never drop each other's changes to
// different keys. A file that does not parse is never written over.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry_api.h"

namespace kelvaston::platform::filestore {

// A key's place in the tree: its name and its parent's place (none for a key right below the
// root). Changes recorded in the journal keep the place of their key, which outlives its node.
struct Place {
    std::shared_ptr<const Place> parent;
    std::string name;

    Place(std::shared_ptr<const Place> above, std::string key) : parent(std::move(above)), name(std::move(key)) {}
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;
    // A chain of places is let go one place after another, never by recursion.
    ~Place();
};

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
    std::vector<std::uint32_t> hashes;     // of the values' names in comparison form, in their order
    HashSlots<std::uint32_t> positions;    // 1 + the position of each value; for many values only
};

struct Node : std::enable_shared_from_this<Node> {
    std::string name;    // as created
    std::string folded;  // the name in the registry's comparison form
    Node* parent = nullptr;
    std::size_t depth = 0;  // keys from the root: 0 for the root itself
    bool deleted = false;
    mutable std::shared_ptr<const Place> place;  // see Where()
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
    // Replaces the children, as they are already ordered.
    void SetChildren(std::vector<std::shared_ptr<Node>> ordered);
    regfile::Value* FindValue(std::string_view name);
    const regfile::Value* FindValue(std::string_view valueName) const { return const_cast<Node*>(this)->FindValue(valueName); }
    // Sets a value; one of the same name in another case keeps its name and its place.
    void PutValue(regfile::Value&& value);
    void PutValue(const regfile::Value& value) { PutValue(regfile::Value(value)); }
    bool EraseValue(std::string_view name);
    // Where the node is; null for the root. A node keeps its place for its life, so the place
    // is made once and shared by every change recorded for the node.
    const std::shared_ptr<const Place>& Where() const;

private:
    Node* FindChild(std::uint32_t nameHash, std::string_view name) const;
    // Makes the child `childName` at `at` among the children.
    Node* MakeChild(std::vector<std::shared_ptr<Node>>::const_iterator at, std::string_view childName,
                    std::uint32_t nameHash);
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

class Hive {
public:
    // Opens the hive kept in `file`. A missing file is an empty hive; the file is created by the
    // first flush that has something to write. The folder's lock serialises writers. A file
    // that does not parse, or that another user owns or may read or write, is not opened:
    // `problem` says why.
    static std::shared_ptr<Hive> Open(const std::filesystem::path& file, HiveFileError* problem);

    const std::filesystem::path& File() const { return file_; }
    Node& Root() { return *root_; }
    bool ReadOnly() const { return readOnly_; }
    bool Dirty() const { return !journal_.empty(); }

    // Changes. Each returns a Win32 status; the tree and the journal change only on success.
    Status CreateChild(Node& parent, std::string_view name, Node** child);
    Status DeleteChild(Node& parent, Node& child);
    Status SetValue(Node& key, regfile::Value&& value);
    Status DeleteValue(Node& key, std::string_view name);

    // Reads the file again when another process has replaced it, and applies this process's
    // unwritten changes onto it. Keys that still exist keep their nodes, so open handles stay
    // valid; keys that are gone are marked deleted.
    Status Refresh(HiveFileError* problem);

    // Writes the changes to the file. Nothing to write: success without touching the file.
    Status Flush(HiveFileError* problem);

    // The whole tree in the .reg format.
    void Serialize(regfile::Writer& writer) const;

private:
    struct FileStamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        std::int64_t modified = 0;
        std::int64_t changed = 0;
        bool operator==(const FileStamp&) const = default;
    };
    enum class OpKind { CreateKey, DeleteKey, SetValue, DeleteValue };
    // One change, by its key's node, whose place says where the change belongs when it is laid
    // onto a file another process has written. A value set refers to the node for its data:
    // what the value holds when the journal is replayed is what is written, and later changes
    // of the same value come after it in the journal anyway.
    struct Op {
        OpKind kind;
        const Node* node;  // kept alive by journalNodes_, also once it is taken out of the tree
        std::string name;  // SetValue, DeleteValue: the value's name
    };

    // Records a change of `node`, whose place is worked out now, while its parents live.
    void Record(OpKind kind, Node& node, std::string_view name);

    explicit Hive(std::filesystem::path file);
    static std::optional<FileStamp> Stamp(const std::filesystem::path& file);
    // The tree the file holds; null with `problem` and `status` set when it cannot be used.
    static std::shared_ptr<Node> ReadTree(const std::filesystem::path& file, HiveFileError* problem,
                                          Status* status);
    static void Replay(Node& root, const Op& op);
    Status WriteFile(HiveFileError* problem);

    std::filesystem::path file_;
    std::shared_ptr<Node> root_;
    std::optional<FileStamp> stamp_;  // of the file as last read or written; empty: no file
    std::deque<Op> journal_;  // grows by blocks: a save records thousands of changes
    std::vector<std::shared_ptr<const Node>> journalNodes_;  // the nodes the journal refers to
    bool readOnly_ = false;
};

}  // namespace kelvaston::platform::filestore
