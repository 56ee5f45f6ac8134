#include "platform/hive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "platform/text.h"

namespace kelvaston::platform::filestore {
namespace {

constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";

auto ChildPosition(const std::vector<std::shared_ptr<Node>>& children, std::string_view name) {
    return std::lower_bound(children.begin(), children.end(), name,
                            [](const std::shared_ptr<Node>& n, std::string_view wanted) {
                                return text::CompareFolded(n->folded, wanted) < 0;
                            });
}

bool ReadFile(const std::filesystem::path& file, std::string* bytes) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    // A byte more than the file holds: the end of the file shows as a short read.
    if (ok) bytes->resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t done = 0;
    while (ok) {
        if (done == bytes->size()) bytes->resize(2 * done);  // the file grew meanwhile
        const ssize_t n = ::read(fd, bytes->data() + done, bytes->size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes->resize(done);
    return ok;
}

void MarkDeleted(Node& node) {
    node.deleted = true;
    for (auto& child : node.children) MarkDeleted(*child);
}

Node* Find(Node& root, const Place* place) {
    if (place == nullptr) return &root;
    Node* parent = Find(root, place->parent.get());
    return parent == nullptr ? nullptr : parent->FindChild(place->name);
}

Node* Ensure(Node& root, const Place* place) {
    return place == nullptr ? &root : Ensure(root, place->parent.get())->AddChild(place->name);
}

// Makes `target` equal to `fresh`, keeping the nodes of keys present in both.
void Sync(Node& target, Node& fresh) {
    target.values = std::move(fresh.values);
    target.valueHashes = std::move(fresh.valueHashes);
    std::vector<std::shared_ptr<Node>> merged;
    merged.reserve(fresh.children.size());
    auto old = target.children.begin();
    for (auto& child : fresh.children) {
        while (old != target.children.end() && (*old)->folded < child->folded) MarkDeleted(**old++);
        if (old != target.children.end() && (*old)->folded == child->folded) {
            (*old)->name = child->name;
            Sync(**old, *child);
            merged.push_back(*old++);
        } else {
            child->parent = &target;
            merged.push_back(std::move(child));
        }
    }
    while (old != target.children.end()) MarkDeleted(**old++);
    target.SetChildren(std::move(merged));
}

void SerializeNode(const Node& node, std::string& path, regfile::Writer& writer) {
    const std::size_t length = path.size();
    for (const auto& child : node.children) {
        path += '\\';
        path += child->name;
        writer.AddKey(path, child->values);
        SerializeNode(*child, path, writer);
        path.resize(length);
    }
}

bool Writable(const std::filesystem::path& path) { return ::access(path.c_str(), W_OK) == 0; }

// Holds the store folder's lock for the lifetime of the object.
class FolderLock {
public:
    explicit FolderLock(const std::filesystem::path& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

private:
    int fd_;
};

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

namespace {

bool HashBefore(const std::pair<std::uint32_t, Node*>& entry, std::uint32_t hash) { return entry.first < hash; }

}  // namespace

Node* Node::FindChild(std::string_view childName) const {
    const std::uint32_t wanted = text::FoldedHash(childName);
    for (auto it = std::lower_bound(byHash.begin(), byHash.end(), wanted, HashBefore);
         it != byHash.end() && it->first == wanted; ++it) {
        if (text::CompareFolded(it->second->folded, childName) == 0) return it->second;
    }
    return nullptr;
}

Node* Node::AddChild(std::string_view childName) {
    if (Node* existing = FindChild(childName)) return existing;
    auto node = std::make_shared<Node>();
    node->name = childName;
    node->folded = text::FoldCase(childName);
    node->hash = text::FoldedHash(childName);
    node->parent = this;
    Node* added = node.get();
    children.insert(ChildPosition(children, childName), std::move(node));
    byHash.insert(std::lower_bound(byHash.begin(), byHash.end(), added->hash, HashBefore), {added->hash, added});
    return added;
}

bool Node::RemoveChild(const Node& child) {
    auto pos = ChildPosition(children, child.folded);
    if (pos == children.end() || pos->get() != &child) return false;
    for (auto it = std::lower_bound(byHash.begin(), byHash.end(), child.hash, HashBefore); it != byHash.end(); ++it) {
        if (it->second == &child) {
            byHash.erase(it);
            break;
        }
    }
    MarkDeleted(**pos);
    children.erase(pos);
    return true;
}

void Node::SetChildren(std::vector<std::shared_ptr<Node>> ordered) {
    children = std::move(ordered);
    byHash.clear();
    byHash.reserve(children.size());
    for (const auto& child : children) byHash.emplace_back(child->hash, child.get());
    std::sort(byHash.begin(), byHash.end());
}

regfile::Value* Node::FindValue(std::string_view valueName) {
    const std::uint32_t wanted = text::FoldedHash(valueName);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (valueHashes[i] == wanted && text::EqualsNoCase(values[i].name, valueName)) return &values[i];
    }
    return nullptr;
}

void Node::PutValue(regfile::Value&& value) {
    const std::uint32_t nameHash = text::FoldedHash(value.name);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (valueHashes[i] == nameHash && text::EqualsNoCase(values[i].name, value.name)) {
            values[i].type = value.type;
            values[i].data = std::move(value.data);
            return;
        }
    }
    // Values mostly arrive one after another for the same key: growing by four times takes
    // fewer moves of the values already there than doubling, and a key with a few values keeps
    // a small list.
    if (values.size() == values.capacity()) {
        const std::size_t room = std::max<std::size_t>(8, values.size() * 4);
        values.reserve(room);
        valueHashes.reserve(room);
    }
    valueHashes.push_back(nameHash);
    values.push_back(std::move(value));
}

bool Node::EraseValue(std::string_view valueName) {
    const std::uint32_t wanted = text::FoldedHash(valueName);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (valueHashes[i] == wanted && text::EqualsNoCase(values[i].name, valueName)) {
            values.erase(values.begin() + static_cast<std::ptrdiff_t>(i));
            valueHashes.erase(valueHashes.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

const std::shared_ptr<const Place>& Node::Where() const {
    if (!place && parent != nullptr) place = std::make_shared<const Place>(Place{parent->Where(), name});
    return place;
}

Hive::Hive(std::filesystem::path file) : file_(std::move(file)), root_(std::make_shared<Node>()) {}

std::optional<Hive::FileStamp> Hive::Stamp(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return std::nullopt;
    return FileStamp{st.st_dev, st.st_ino, st.st_size,
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                     static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

namespace {

// Builds a hive's tree from its file, entry by entry. Key lines of a file written by the store
// come parents first, so the nodes of the previous key line are reused for the names it shares
// with the next one.
class TreeSink final : public regfile::Sink {
public:
    explicit TreeSink(Node& root) : root_(root) {}

    const char* OnKey(regfile::EntryKind kind, std::string_view root, std::span<const std::string_view> path,
                      int /*line*/) override {
        if (root != kRootName) return "only HKEY_LOCAL_MACHINE keys belong in a store file";
        if (kind != regfile::EntryKind::Key) return "deletions ([-KEY], \"name\"=-) do not belong in a store file";
        std::size_t shared = 0;
        while (shared < path.size() && shared < names_.size() && names_[shared] == path[shared]) ++shared;
        nodes_.resize(shared);
        names_.resize(shared);
        Node* node = shared == 0 ? &root_ : nodes_.back();
        for (std::size_t i = shared; i < path.size(); ++i) {
            node = node->AddChild(path[i]);
            nodes_.push_back(node);
            names_.emplace_back(path[i]);
        }
        current_ = node;
        return nullptr;
    }

    const char* OnValue(regfile::EntryKind kind, regfile::Value&& value, int /*line*/) override {
        if (kind != regfile::EntryKind::SetValue) return "deletions ([-KEY], \"name\"=-) do not belong in a store file";
        current_->PutValue(std::move(value));
        return nullptr;
    }

private:
    Node& root_;
    Node* current_ = nullptr;
    std::vector<Node*> nodes_;        // of the last key line's names
    std::vector<std::string> names_;  // those names as written
};

}  // namespace

std::shared_ptr<Node> Hive::ReadTree(const std::filesystem::path& file, LoadError* error) {
    std::string bytes;
    if (!ReadFile(file, &bytes)) {
        *error = {file, 0, "cannot be read"};
        return nullptr;
    }
    auto root = std::make_shared<Node>();
    TreeSink sink(*root);
    if (auto parseError = regfile::Parse(bytes, sink)) {
        *error = {file, parseError->line, std::move(parseError->message)};
        return nullptr;
    }
    return root;
}

std::shared_ptr<Hive> Hive::Open(const std::filesystem::path& file, LoadError* error) {
    std::shared_ptr<Hive> hive(new Hive(file));
    hive->stamp_ = Stamp(file);
    if (hive->stamp_) {
        hive->root_ = ReadTree(file, error);
        if (!hive->root_) return nullptr;
    }
    const auto folder = file.parent_path();
    hive->readOnly_ = (hive->stamp_ && !Writable(file)) ||
                      (std::filesystem::exists(folder) && !Writable(folder));
    return hive;
}

void Hive::Record(OpKind kind, Node& node, std::string_view name) {
    node.Where();
    if (journalNodes_.empty() || journalNodes_.back().get() != &node) journalNodes_.push_back(node.shared_from_this());
    journal_.push_back({kind, &node, std::string(name)});
}

Status Hive::CreateChild(Node& parent, std::string_view name, Node** child) {
    *child = parent.AddChild(name);
    Record(OpKind::CreateKey, **child, {});
    return error::kSuccess;
}

Status Hive::DeleteChild(Node& parent, Node& child) {
    if (!child.children.empty()) return error::kAccessDenied;
    Record(OpKind::DeleteKey, child, {});  // first: the node's place is worked out in the tree
    if (!parent.RemoveChild(child)) {
        journal_.pop_back();
        return error::kFileNotFound;
    }
    return error::kSuccess;
}

Status Hive::SetValue(Node& key, regfile::Value&& value) {
    Record(OpKind::SetValue, key, value.name);
    key.PutValue(std::move(value));
    return error::kSuccess;
}

Status Hive::DeleteValue(Node& key, std::string_view name) {
    if (!key.EraseValue(name)) return error::kFileNotFound;
    Record(OpKind::DeleteValue, key, name);
    return error::kSuccess;
}

void Hive::Replay(Node& root, const Op& op) {
    const Place* place = op.node->place.get();
    switch (op.kind) {
        case OpKind::CreateKey:
            Ensure(root, place);
            break;
        case OpKind::DeleteKey:
            if (Node* node = Find(root, place); node != nullptr && node->children.empty()) {
                node->parent->RemoveChild(*node);
            }
            break;
        case OpKind::SetValue:
            if (const regfile::Value* value = op.node->FindValue(op.name)) {
                if (Node* node = Find(root, place)) node->PutValue(*value);
            }
            break;
        case OpKind::DeleteValue:
            if (Node* node = Find(root, place)) node->EraseValue(op.name);
            break;
    }
}

Status Hive::Refresh(LoadError* error) {
    const auto stamp = Stamp(file_);
    if (stamp == stamp_) return error::kSuccess;
    std::shared_ptr<Node> fresh = std::make_shared<Node>();
    if (stamp) {
        fresh = ReadTree(file_, error);
        if (!fresh) return error::kBadDb;
    }
    for (const Op& op : journal_) Replay(*fresh, op);
    Sync(*root_, *fresh);
    stamp_ = stamp;
    return error::kSuccess;
}

Status Hive::Flush(LoadError* error) {
    if (journal_.empty()) return error::kSuccess;
    std::error_code ec;
    const auto folder = file_.parent_path();
    // A store folder made here is the owner's alone, like the files in it.
    if (std::filesystem::create_directories(folder, ec)) {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    }
    FolderLock lock(folder);
    if (!lock.Held()) return error::kRegistryIoFailed;
    // Writers make their temporary files while they hold the lock: one that is there now was
    // left by a writer that died. It holds a whole configuration, passwords and all.
    const std::string stale = "." + file_.filename().string() + ".tmp-";
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().starts_with(stale)) std::filesystem::remove(it->path(), ec);
    }
    if (const Status status = Refresh(error); status != error::kSuccess) return status;
    return WriteFile();
}

Status Hive::WriteFile() {
    const auto folder = file_.parent_path();
    const auto temp = folder / ("." + file_.filename().string() + ".tmp-" + std::to_string(::getpid()));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return error::kRegistryIoFailed;
    struct stat existing {};
    bool ok = true;
    if (::stat(file_.c_str(), &existing) == 0) ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
    // The text goes out in pieces as it is made: the whole file is never held in memory.
    if (ok) {
        regfile::Writer writer(regfile::Encoding::Utf8Lf, [fd](std::string_view piece) { return WriteAll(fd, piece); });
        Serialize(writer);
        writer.Finish();
        ok = !writer.Failed();
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), file_.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return error::kRegistryIoFailed;
    }
    // The rename is durable once the folder itself is synced.
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    stamp_ = Stamp(file_);
    journal_.clear();
    journalNodes_.clear();
    return error::kSuccess;
}

void Hive::Serialize(regfile::Writer& writer) const {
    std::string path(kRootName);
    if (!root_->values.empty()) writer.AddKey(path, root_->values);
    SerializeNode(*root_, path, writer);
}

}  // namespace kelvaston::platform::filestore
