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

struct Node : std::enable_shared_from_this<Node> {
    std::string name;    // as created
    std::string folded;  // the name in the registry's comparison form
    Node* parent = nullptr;
    std::size_t depth = 0;  // keys from the root: 0 for the root itself
    bool deleted = false;
    mutable std::shared_ptr<const Place> place;  // see Where()
    std::vector<regfile::Value> values;           // in creation order; change them through
                                                  // PutValue and EraseValue only
    std::vector<std::uint32_t> valueHashes;       // of the values' names in comparison form
    std::uint32_t hash = 0;                       // text::FoldedHash(name)
    std::vector<std::shared_ptr<Node>> children;  // sorted by `folded`: the enumeration order
    // The children again, by the hash of their names: how a name is found. Kept by the
    // functions below that add and remove children.
    std::vector<std::pair<std::uint32_t, Node*>> byHash;

    Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    // The subtree is let go one node after another, never by recursion: a tree can be as deep
    // as the registry allows.
    ~Node();

    Node* FindChild(std::string_view name) const;
    // The child of that name, made when there is none.
    Node* AddChild(std::string_view name);
    // Takes a child out of the tree, with everything below it marked deleted.
    bool RemoveChild(const Node& child);
    // Replaces the children, as they are already ordered.
    void SetChildren(std::vector<std::shared_ptr<Node>> ordered);
    regfile::Value* FindValue(std::string_view name);
    const regfile::Value* FindValue(std::string_view valueName) const { return const_cast<Node*>(this)->FindValue(valueName); }
    // Sets a value; one of the same name in another case keeps its name.
    void PutValue(regfile::Value&& value);
    void PutValue(const regfile::Value& value) { PutValue(regfile::Value(value)); }
    bool EraseValue(std::string_view name);
    // Where the node is; null for the root. A node keeps its place for its life, so the place
    // is made once and shared by every change recorded for the node.
    const std::shared_ptr<const Place>& Where() const;
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
