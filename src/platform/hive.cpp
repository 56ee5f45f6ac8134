#include "platform/hive.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "platform/atomic_file.h"
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

// "0644", as chmod takes it.
std::string Octal(mode_t mode) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04o", static_cast<unsigned>(mode & 07777));
    return digits;
}

std::string UserName(uid_t uid) {
    if (const passwd* user = ::getpwuid(uid)) return user->pw_name;
    return "with the id " + std::to_string(uid);
}

// Whether a file or folder belongs to this user, or to the administrator, whom no one is safe
// from anyway.
bool OwnedSafely(const struct stat& st) {
    return st.st_uid == ::geteuid() || st.st_uid == 0;
}

HiveFileError Unsafe(const std::filesystem::path& path, std::string message, std::string owner = {},
                     int mode = -1) {
    return {HiveFileError::Kind::Unsafe,
            path.string(),
            0,
            std::move(message),
            0,
            std::move(owner),
            mode};
}

HiveFileError SystemProblem(HiveFileError::Kind kind, const std::filesystem::path& path,
                            int error) {
    return {kind, path.string(), 0, std::strerror(error), error, {}, -1};
}

// Reads the whole file behind an open descriptor, with a byte to spare: the end of the file
// shows as a short read. False with errno set when the system refuses.
bool ReadAll(int fd, std::size_t size, std::string* bytes) {
    bytes->resize(size + 1);
    std::size_t done = 0;
    for (;;) {
        if (done == bytes->size()) bytes->resize(2 * done);  // the file grew meanwhile
        const ssize_t n = ::read(fd, bytes->data() + done, bytes->size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes->resize(done);
    return true;
}

// Reads a store file, refusing one that another user owns or may read or write: it holds
// passwords, and keys another user planted there must not be taken for the configuration.
// `st` receives what the system says of the file that was read.
std::optional<HiveFileError> ReadStoreFile(const std::filesystem::path& file, std::string* bytes,
                                           struct stat* st) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return SystemProblem(HiveFileError::Kind::Unreadable, file, errno);
    std::optional<HiveFileError> problem;
    if (::fstat(fd, st) != 0) {
        problem = SystemProblem(HiveFileError::Kind::Unreadable, file, errno);
    } else if (!S_ISREG(st->st_mode)) {
        problem = Unsafe(file, "is not a regular file; move it out of the store folder");
    } else if (!OwnedSafely(*st)) {
        problem = Unsafe(file,
                         "belongs to the user " + UserName(st->st_uid) +
                             ", who could have planted keys in it; if it is yours, take it over "
                             "with chown, else "
                             "remove it",
                         UserName(st->st_uid));
    } else if ((st->st_mode & 077) != 0) {
        problem = Unsafe(file,
                         "may be read or changed by other users (mode " + Octal(st->st_mode) +
                             "), and it holds passwords; make it private with: chmod 600 '" +
                             file.string() + "'",
                         {}, static_cast<int>(st->st_mode & 07777));
    } else if (!ReadAll(fd, static_cast<std::size_t>(st->st_size), bytes)) {
        problem = SystemProblem(HiveFileError::Kind::Unreadable, file, errno);
    }
    ::close(fd);
    return problem;
}

// Every node of the subtree below `node`, and `node` itself, marked deleted (or no longer).
void MarkDeleted(Node& node, bool deleted = true) {
    std::vector<Node*> pending{&node};
    while (!pending.empty()) {
        Node* next = pending.back();
        pending.pop_back();
        next->deleted = deleted;
        for (auto& child : next->children) pending.push_back(child.get());
    }
}

// Makes `target` equal to `fresh`, keeping the nodes of keys present in both.
void Sync(Node& target, Node& fresh) {
    std::vector<std::pair<Node*, Node*>> pending{{&target, &fresh}};
    while (!pending.empty()) {
        auto [into, from] = pending.back();
        pending.pop_back();
        into->values = std::move(from->values);
        into->valueHashes = std::move(from->valueHashes);
        std::vector<std::shared_ptr<Node>> merged;
        merged.reserve(from->children.size());
        auto old = into->children.begin();
        for (auto& child : from->children) {
            while (old != into->children.end() && (*old)->folded < child->folded)
                MarkDeleted(**old++);
            if (old != into->children.end() && (*old)->folded == child->folded) {
                (*old)->name = child->name;
                pending.emplace_back(old->get(), child.get());
                merged.push_back(*old++);
            } else {
                child->parent = into;
                merged.push_back(std::move(child));
            }
        }
        while (old != into->children.end()) MarkDeleted(**old++);
        into->SetChildren(std::move(merged));
    }
}

// The file a store file's name leads to: itself, or the end of the links it is. Empty with
// `problem` set when a link leads nowhere: the store it names is elsewhere (a disk that is not
// mounted, say), and an empty registry must not be taken for it.
std::optional<std::filesystem::path> Resolve(const std::filesystem::path& file,
                                             HiveFileError* problem) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return file;
    std::error_code ec;
    auto target = std::filesystem::canonical(file, ec);
    if (!ec) return target;
    const auto link = std::filesystem::read_symlink(file, ec);
    *problem = {
        HiveFileError::Kind::Unreadable,
        file.string(),
        0,
        "is a link to " + (ec ? std::string("a file") : link.string()) + ", which does not exist",
        ENOENT,
        {},
        -1};
    return std::nullopt;
}

}  // namespace

// The lock file beside a hive's file. Whoever reads the hive holds its lock shared, whoever
// changes it holds it exclusively, from reading the file to replacing it. It also counts the
// changes written to the hive: a reader tells by the count, not by timestamps that may repeat
// within a second, whether the file it read is still the last one written.
class HiveLock {
public:
    enum class Mode { Shared, Exclusive };

    // Waits for the lock. A shared lock on a lock file that is not there, or that cannot be
    // opened, is not held: no writer of this store has written yet, or could.
    HiveLock(const std::filesystem::path& file, Mode mode) {
        const auto lockFile = Hive::LockFile(file);
        fd_ = mode == Mode::Shared
                  ? ::open(lockFile.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)
                  : ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        int locked;
        do {
            locked = ::flock(fd_, mode == Mode::Shared ? LOCK_SH : LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            error_ = errno;
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~HiveLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;

    bool Held() const { return fd_ >= 0; }
    int Error() const { return error_; }

    // The number of changes written so far: 0 before the first, or without the lock.
    std::uint64_t Changes() const {
        char digits[kWidth] = {};
        if (fd_ < 0 || ::pread(fd_, digits, kWidth, 0) <= 0) return 0;
        std::uint64_t count = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') break;
            count = count * 10 + static_cast<std::uint64_t>(c - '0');
        }
        return count;
    }

    // Counts one change more. False with errno set when the file cannot be written.
    bool Count(std::uint64_t changes) {
        char digits[kWidth + 1];
        std::snprintf(digits, sizeof digits, "%020llu\n", static_cast<unsigned long long>(changes));
        return ::pwrite(fd_, digits, kWidth, 0) == static_cast<ssize_t>(kWidth);
    }

private:
    static constexpr std::size_t kWidth =
        21;  // twenty digits and a line end: one write, always whole
    int fd_ = -1;
    int error_ = 0;
};

// A key looks through its first few subkeys and values one after another; only beyond these
// does it keep a table of them.
constexpr std::size_t kFewChildren = 8;
constexpr std::size_t kFewValues = 16;

template <class Entry>
std::size_t HashSlots<Entry>::Home(std::uint32_t hash) const {
    // The hash's best mixed bits, its high ones after a multiplication, pick the slot.
    const auto bits = static_cast<unsigned>(std::countr_zero(slots_->size()));
    return static_cast<std::size_t>(static_cast<std::uint32_t>(hash * 0x9E3779B9u) >> (32 - bits));
}

template <class Entry>
void HashSlots<Entry>::Reset(std::size_t count) {
    const std::size_t size = std::bit_ceil(std::max<std::size_t>(16, 2 * count));
    if (slots_) {
        slots_->assign(size, Entry{});
    } else {
        slots_ = std::make_unique<std::vector<Entry>>(size, Entry{});
    }
}

template <class Entry>
void HashSlots<Entry>::Insert(std::uint32_t hash, Entry entry) {
    std::vector<Entry>& slots = *slots_;
    const std::size_t mask = slots.size() - 1;
    std::size_t at = Home(hash);
    while (slots[at] != Entry{}) at = (at + 1) & mask;
    slots[at] = entry;
}

template <class Entry>
template <class Matches>
Entry HashSlots<Entry>::Find(std::uint32_t hash, const Matches& matches) const {
    const std::vector<Entry>& slots = *slots_;
    const std::size_t mask = slots.size() - 1;
    for (std::size_t at = Home(hash); slots[at] != Entry{}; at = (at + 1) & mask) {
        if (matches(slots[at])) return slots[at];
    }
    return Entry{};
}

template <class Entry>
template <class HashOf>
void HashSlots<Entry>::Erase(Entry entry, std::uint32_t hash, const HashOf& hashOf) {
    std::vector<Entry>& slots = *slots_;
    const std::size_t mask = slots.size() - 1;
    std::size_t gap = Home(hash);
    while (slots[gap] != entry) {
        if (slots[gap] == Entry{}) return;
        gap = (gap + 1) & mask;
    }
    // The entries after the gap that would not be found across it move up into it: those whose
    // home slot is not between the gap and where they are.
    for (std::size_t at = (gap + 1) & mask; slots[at] != Entry{}; at = (at + 1) & mask) {
        const std::size_t home = Home(hashOf(slots[at]));
        const bool stays = gap <= at ? (gap < home && home <= at) : (gap < home || home <= at);
        if (stays) continue;
        slots[gap] = slots[at];
        gap = at;
    }
    slots[gap] = Entry{};
}

template <class Entry>
template <class Change>
void HashSlots<Entry>::ForEach(const Change& change) {
    for (Entry& entry : *slots_) {
        if (entry != Entry{}) change(entry);
    }
}

Node* Node::FindChild(std::string_view childName) const {
    return FindChild(text::FoldedHash(childName), childName);
}

Node* Node::FindChild(std::uint32_t nameHash, std::string_view childName) const {
    const auto matches = [&](const Node* child) {
        return child->hash == nameHash && text::CompareFolded(child->folded, childName) == 0;
    };
    if (byHash.Active()) return byHash.Find(nameHash, matches);
    for (const auto& child : children) {
        if (matches(child.get())) return child.get();
    }
    return nullptr;
}

Node* Node::MakeChild(std::vector<std::shared_ptr<Node>>::const_iterator at,
                      std::string_view childName, std::uint32_t nameHash) {
    auto node = std::make_shared<Node>();
    node->name = childName;
    node->folded = text::FoldCase(childName);
    node->hash = nameHash;
    node->parent = this;
    node->depth = depth + 1;
    return InsertChild(at, std::move(node));
}

Node* Node::InsertChild(std::vector<std::shared_ptr<Node>>::const_iterator at,
                        std::shared_ptr<Node> child) {
    Node* put = child.get();
    children.insert(at, std::move(child));
    if (byHash.Active() && byHash.HasRoomFor(children.size() - 1)) {
        byHash.Insert(put->hash, put);
    } else if (children.size() > kFewChildren) {
        IndexChildren();
    }
    return put;
}

void Node::IndexChildren() {
    if (children.size() <= kFewChildren) {
        byHash.Drop();
        return;
    }
    byHash.Reset(children.size());
    for (const auto& child : children) byHash.Insert(child->hash, child.get());
}

Node* Node::AddChild(std::string_view childName) {
    const std::uint32_t nameHash = text::FoldedHash(childName);
    if (Node* existing = FindChild(nameHash, childName)) return existing;
    // Keys mostly come in their order: then the new one goes last.
    const bool last =
        children.empty() || text::CompareFolded(children.back()->folded, childName) < 0;
    return MakeChild(last ? children.end() : ChildPosition(children, childName), childName,
                     nameHash);
}

Node* Node::AppendChild(std::string_view childName, bool* outOfOrder) {
    const std::uint32_t nameHash = text::FoldedHash(childName);
    if (Node* existing = FindChild(nameHash, childName)) return existing;
    if (!children.empty() && text::CompareFolded(children.back()->folded, childName) > 0)
        *outOfOrder = true;
    return MakeChild(children.end(), childName, nameHash);
}

void Node::OrderChildren() {
    std::sort(children.begin(), children.end(),
              [](const std::shared_ptr<Node>& a, const std::shared_ptr<Node>& b) {
                  return a->folded < b->folded;
              });
}

bool Node::RemoveChild(const Node& child) {
    auto pos = ChildPosition(children, child.folded);
    if (pos == children.end() || pos->get() != &child) return false;
    if (byHash.Active()) {
        byHash.Erase(pos->get(), child.hash, [](const Node* entry) { return entry->hash; });
    }
    MarkDeleted(**pos);
    children.erase(pos);
    if (children.size() <= kFewChildren) byHash.Drop();
    return true;
}

void Node::RestoreChild(std::shared_ptr<Node> child) {
    if (Node* since = FindChild(child->hash, child->name)) RemoveChild(*since);
    MarkDeleted(*child, false);
    const auto at = ChildPosition(children, child->folded);
    InsertChild(at, std::move(child));
}

void Node::SetChildren(std::vector<std::shared_ptr<Node>> ordered) {
    children = std::move(ordered);
    IndexChildren();
}

std::size_t Node::ValuePosition(std::uint32_t nameHash, std::string_view valueName) const {
    const std::vector<std::uint32_t>& hashes = valueHashes.hashes;
    if (valueHashes.positions.Active()) {
        const std::uint32_t found =
            valueHashes.positions.Find(nameHash, [&](std::uint32_t position) {
                return hashes[position - 1] == nameHash &&
                       text::EqualsNoCase(values[position - 1].name, valueName);
            });
        return found == 0 ? std::string::npos : found - 1;
    }
    for (std::size_t i = 0; i < hashes.size(); ++i) {
        if (hashes[i] == nameHash && text::EqualsNoCase(values[i].name, valueName)) return i;
    }
    return std::string::npos;
}

void Node::IndexValues() {
    HashSlots<std::uint32_t>& positions = valueHashes.positions;
    if (values.size() <= kFewValues) {
        positions.Drop();
        return;
    }
    positions.Reset(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        positions.Insert(valueHashes.hashes[i], static_cast<std::uint32_t>(i + 1));
    }
}

regfile::Value* Node::FindValue(std::string_view valueName) {
    const std::size_t position = ValuePosition(text::FoldedHash(valueName), valueName);
    return position == std::string::npos ? nullptr : &values[position];
}

void Node::PutValue(regfile::Value&& value) {
    const std::uint32_t nameHash = text::FoldedHash(value.name);
    if (const std::size_t i = ValuePosition(nameHash, value.name); i != std::string::npos) {
        values[i].type = value.type;
        values[i].data = std::move(value.data);
        return;
    }
    // Values mostly arrive one after another for the same key: growing by four times takes
    // fewer moves of the values already there than doubling, and a key with a few values keeps
    // a small list.
    if (values.size() == values.capacity()) {
        const std::size_t room = std::max<std::size_t>(8, values.size() * 4);
        values.reserve(room);
        valueHashes.hashes.reserve(room);
    }
    valueHashes.hashes.push_back(nameHash);
    values.push_back(std::move(value));
    HashSlots<std::uint32_t>& positions = valueHashes.positions;
    if (positions.Active() && positions.HasRoomFor(values.size() - 1)) {
        positions.Insert(nameHash, static_cast<std::uint32_t>(values.size()));
    } else if (values.size() > kFewValues) {
        IndexValues();
    }
}

bool Node::EraseValue(std::string_view valueName) {
    const std::uint32_t nameHash = text::FoldedHash(valueName);
    const std::size_t i = ValuePosition(nameHash, valueName);
    if (i == std::string::npos) return false;
    HashSlots<std::uint32_t>& positions = valueHashes.positions;
    if (positions.Active()) {
        std::vector<std::uint32_t>& hashes = valueHashes.hashes;
        const auto erased = static_cast<std::uint32_t>(i + 1);
        positions.Erase(erased, nameHash,
                        [&](std::uint32_t position) { return hashes[position - 1]; });
        // The values after it move up by one; when it was the last, none do.
        if (erased < values.size()) {
            positions.ForEach(
                [erased](std::uint32_t& position) { position -= position > erased ? 1 : 0; });
        }
    }
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(i));
    valueHashes.hashes.erase(valueHashes.hashes.begin() + static_cast<std::ptrdiff_t>(i));
    if (values.size() <= kFewValues) positions.Drop();
    return true;
}

Node::~Node() {
    std::vector<std::shared_ptr<Node>> pending = std::move(children);
    while (!pending.empty()) {
        std::shared_ptr<Node> node = std::move(pending.back());
        pending.pop_back();
        // A node that an open key still holds keeps its subtree.
        if (node.use_count() != 1) continue;
        for (auto& child : node->children) pending.push_back(std::move(child));
        node->children.clear();
    }
}

std::optional<HiveFileError> CheckStoreFolder(const std::filesystem::path& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        if (errno == ENOENT) return std::nullopt;
        return SystemProblem(HiveFileError::Kind::Unreadable, folder, errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return HiveFileError{
            HiveFileError::Kind::NotAFolder,
            folder.string(),
            0,
            "is not a folder; the registry is kept in a folder of .reg files, one per "
            "computer: name a folder in KELVASTON_REGISTRY",
            0,
            {},
            -1};
    }
    if (!OwnedSafely(st)) {
        return Unsafe(folder,
                      "belongs to the user " + UserName(st.st_uid) +
                          ", who could read the passwords stored there and plant keys; use a "
                          "folder of your own",
                      UserName(st.st_uid));
    }
    if ((st.st_mode & 022) != 0) {
        return Unsafe(folder,
                      "may be written by other users (mode " + Octal(st.st_mode) +
                          "), who could plant keys there; make it private with: chmod 700 '" +
                          folder.string() + "'",
                      {}, static_cast<int>(st.st_mode & 07777));
    }
    return std::nullopt;
}

bool MakePrivateFolders(const std::filesystem::path& folder, HiveFileError* problem) {
    // The missing folders, from the top down; each is made private before the next goes in.
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path at = folder; !at.empty(); at = at.parent_path()) {
        struct stat st {};
        if (::stat(at.c_str(), &st) == 0) break;
        missing.push_back(at);
        if (at == at.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        // mkdir's mode passes through the umask, which can only take rights away; chmod then
        // gives the owner back what the umask took. Only a folder this call made is changed: one
        // that appeared meanwhile, and any folder that was there, keeps its mode.
        const bool made = ::mkdir(it->c_str(), 0700) == 0;
        if ((!made && errno != EEXIST) || (made && ::chmod(it->c_str(), 0700) != 0)) {
            *problem = SystemProblem(HiveFileError::Kind::Unwritable, *it, errno);
            return false;
        }
    }
    return true;
}

Hive::Hive(std::filesystem::path file) : file_(std::move(file)), root_(std::make_shared<Node>()) {}

Hive::~Hive() = default;

std::filesystem::path Hive::LockFile(const std::filesystem::path& file) {
    return file.parent_path() / ("." + file.filename().string() + ".lock");
}

Hive::FileStamp Hive::StampOf(const struct stat& st) {
    return FileStamp{
        st.st_dev, st.st_ino, st.st_size,
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
        static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

namespace {

// Builds a hive's tree from its file, entry by entry. Key lines of a file written by the store
// come parents first, so the nodes of the previous key line are reused for the names it shares
// with the next one. Keys are taken in file order, each new one last among its siblings; the
// keys whose children did not come in their order have them sorted once the file is read, so a
// load takes time in proportion to the keys (n log n at worst), whatever their order.
class TreeSink final : public regfile::Sink {
public:
    explicit TreeSink(Node& root) : root_(root) {}

    const char* OnKey(regfile::EntryKind kind, std::string_view root,
                      std::span<const std::string_view> path, int /*line*/) override {
        if (root != kRootName) return "only HKEY_LOCAL_MACHINE keys belong in a store file";
        if (kind != regfile::EntryKind::Key)
            return "deletions ([-KEY], \"name\"=-) do not belong in a store file";
        std::size_t shared = 0;
        while (shared < path.size() && shared < names_.size() && names_[shared] == path[shared])
            ++shared;
        nodes_.resize(shared);
        names_.resize(shared);
        Node* node = shared == 0 ? &root_ : nodes_.back();
        for (std::size_t i = shared; i < path.size(); ++i) {
            bool outOfOrder = false;
            Node* child = node->AppendChild(path[i], &outOfOrder);
            if (outOfOrder && (unordered_.empty() || unordered_.back() != node))
                unordered_.push_back(node);
            node = child;
            nodes_.push_back(node);
            names_.emplace_back(path[i]);
        }
        current_ = node;
        return nullptr;
    }

    const char* OnValue(regfile::EntryKind kind, regfile::Value&& value, int /*line*/) override {
        if (kind != regfile::EntryKind::SetValue)
            return "deletions ([-KEY], \"name\"=-) do not belong in a store file";
        current_->PutValue(std::move(value));
        return nullptr;
    }

    void OnEnd() override {
        std::sort(unordered_.begin(), unordered_.end());
        unordered_.erase(std::unique(unordered_.begin(), unordered_.end()), unordered_.end());
        for (Node* node : unordered_) node->OrderChildren();
        unordered_.clear();
    }

private:
    Node& root_;
    Node* current_ = nullptr;
    std::vector<Node*> nodes_;        // of the last key line's names
    std::vector<std::string> names_;  // those names as written
    std::vector<Node*> unordered_;    // the keys whose children came out of order
};

}  // namespace

std::shared_ptr<Node> Hive::ReadTree(const std::filesystem::path& file, FileStamp* stamp,
                                     HiveFileError* problem, Status* status) {
    std::string bytes;
    struct stat st {};
    if (auto refused = ReadStoreFile(file, &bytes, &st)) {
        *problem = std::move(*refused);
        *status = error::kAccessDenied;
        return nullptr;
    }
    *stamp = StampOf(st);
    auto root = std::make_shared<Node>();
    TreeSink sink(*root);
    if (auto parseError = regfile::Parse(bytes, sink)) {
        *problem = {HiveFileError::Kind::Malformed,
                    file.string(),
                    parseError->line,
                    std::move(parseError->message),
                    0,
                    {},
                    -1};
        *status = error::kBadDb;
        return nullptr;
    }
    return root;
}

std::shared_ptr<Hive> Hive::Open(const std::filesystem::path& file, HiveFileError* problem) {
    std::shared_ptr<Hive> hive(new Hive(file));
    if (hive->Current(problem) != error::kSuccess) return nullptr;
    return hive;
}

std::optional<HiveFileError> Hive::ReadOnly() const {
    const auto folder = file_.parent_path();
    for (const auto& path : {folder, file_}) {
        // What is not there yet is made by the first change, in a folder that may be written.
        if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) {
            return SystemProblem(HiveFileError::Kind::Unwritable, path, errno);
        }
    }
    return std::nullopt;
}

Status Hive::Reload(std::uint64_t changes, HiveFileError* problem) {
    const auto file = Resolve(file_, problem);
    if (!file) {
        version_.reset();
        return error::kAccessDenied;
    }
    Version now{changes, std::nullopt};
    struct stat st {};
    if (::stat(file->c_str(), &st) == 0) {
        now.stamp = StampOf(st);
    } else if (errno != ENOENT) {
        *problem = SystemProblem(HiveFileError::Kind::Unreadable, *file, errno);
        version_.reset();
        return error::kAccessDenied;
    }
    if (version_ == now) return error::kSuccess;
    std::shared_ptr<Node> fresh = std::make_shared<Node>();
    if (now.stamp) {
        Status status = error::kSuccess;
        fresh = ReadTree(*file, &*now.stamp, problem, &status);
        if (!fresh) {
            version_.reset();
            return status;
        }
    }
    Sync(*root_, *fresh);
    version_ = now;
    return error::kSuccess;
}

Status Hive::Current(HiveFileError* problem) {
    if (depth_ > 0 || readDepth_ > 0) return error::kSuccess;
    const HiveLock lock(file_, HiveLock::Mode::Shared);
    return Reload(lock.Changes(), problem);
}

Status Hive::Begin(HiveFileError* problem) {
    if (depth_ > 0) {
        ++depth_;
        return error::kSuccess;
    }
    // Its own shared lock would keep the exclusive one from it for ever.
    if (readDepth_ > 0) return error::kAccessDenied;
    const auto folder = file_.parent_path();
    if (!MakePrivateFolders(folder, problem)) return error::kRegistryIoFailed;
    // The folder may have changed hands since the hive was opened.
    if (auto unsafe = CheckStoreFolder(folder)) {
        *problem = std::move(*unsafe);
        return error::kAccessDenied;
    }
    if (auto readOnly = ReadOnly()) {
        *problem = std::move(*readOnly);
        return error::kAccessDenied;
    }
    auto lock = std::make_unique<HiveLock>(file_, HiveLock::Mode::Exclusive);
    if (!lock->Held()) {
        *problem = SystemProblem(HiveFileError::Kind::Unwritable, LockFile(file_), lock->Error());
        return error::kRegistryIoFailed;
    }
    // Writers make their temporary files while they hold the lock: one that is there now was
    // left by a writer that died. It holds a whole configuration, passwords and all.
    const std::string stale = AtomicFile::TemporaryPrefix(file_);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().filename().string().starts_with(stale))
            std::filesystem::remove(it->path(), ec);
    }
    if (const Status status = Reload(lock->Changes(), problem); status != error::kSuccess)
        return status;
    lock_ = std::move(lock);
    depth_ = 1;
    changed_ = false;
    return error::kSuccess;
}

Status Hive::BeginReading(HiveFileError* problem) {
    if (depth_ > 0 || readDepth_ > 0) {
        ++readDepth_;
        return error::kSuccess;
    }
    auto lock = std::make_unique<HiveLock>(file_, HiveLock::Mode::Shared);
    if (const Status status = Reload(lock->Changes(), problem); status != error::kSuccess)
        return status;
    readLock_ = std::move(lock);
    readDepth_ = 1;
    return error::kSuccess;
}

void Hive::EndReading() {
    if (readDepth_ > 0 && --readDepth_ == 0) readLock_.reset();
}

Status Hive::Commit(HiveFileError* problem) {
    if (depth_ == 0) return error::kInvalidParameter;
    if (--depth_ > 0) return error::kSuccess;
    const Status status = changed_ ? WriteFile(problem) : error::kSuccess;
    // What the file did not take is dropped: the tree is read again before its next use.
    if (status != error::kSuccess) {
        PutBackRemoved();
        version_.reset();
    }
    removed_.clear();
    changed_ = false;
    lock_.reset();
    return status;
}

void Hive::Abort() {
    if (depth_ == 0) return;
    if (changed_) {
        PutBackRemoved();
        version_.reset();
    }
    depth_ = 0;
    changed_ = false;
    lock_.reset();
}

Status Hive::CreateChild(Node& parent, std::string_view name, Node** child) {
    if (depth_ == 0) return error::kInvalidParameter;
    *child = parent.AddChild(name);
    changed_ = true;
    return error::kSuccess;
}

Status Hive::DeleteChild(Node& parent, Node& child) {
    if (depth_ == 0) return error::kInvalidParameter;
    if (!child.children.empty()) return error::kAccessDenied;
    std::shared_ptr<Node> held = child.shared_from_this();
    if (!parent.RemoveChild(child)) return error::kFileNotFound;
    removed_.push_back(std::move(held));
    changed_ = true;
    return error::kSuccess;
}

// The keys the transaction deleted go back into the tree as the nodes they were, the last
// deleted first: the file still holds them, and reading it again keeps a node it finds there,
// so a handle to a key a failed call would have deleted stays good.
void Hive::PutBackRemoved() {
    for (auto key = removed_.rbegin(); key != removed_.rend(); ++key)
        (*key)->parent->RestoreChild(*key);
    removed_.clear();
}

Status Hive::SetValue(Node& key, regfile::Value&& value) {
    if (depth_ == 0) return error::kInvalidParameter;
    key.PutValue(std::move(value));
    changed_ = true;
    return error::kSuccess;
}

Status Hive::DeleteValue(Node& key, std::string_view name) {
    if (depth_ == 0) return error::kInvalidParameter;
    if (!key.EraseValue(name)) return error::kFileNotFound;
    changed_ = true;
    return error::kSuccess;
}

Status Hive::WriteFile(HiveFileError* problem) {
    // Through a link to its target: the link stays, and so does the store it leads to.
    const auto target = Resolve(file_, problem);
    if (!target) return error::kRegistryIoFailed;
    // The count goes up first: a reader never holds the lock between the count and the file, and
    // a writer that dies after counting only makes readers read the file again.
    const std::uint64_t changes = lock_->Changes() + 1;
    if (!lock_->Count(changes)) {
        *problem = SystemProblem(HiveFileError::Kind::Unwritable, LockFile(file_), errno);
        return error::kRegistryIoFailed;
    }
    AtomicFile file(*target);
    // The text goes out in pieces as it is made: the whole file is never held in memory.
    if (file.Open()) {
        regfile::Writer writer(regfile::Encoding::Utf8Lf,
                               [&file](std::string_view piece) { return file.Write(piece); });
        Serialize(writer);
        writer.Finish();
        file.Commit();
    }
    if (file.Error()) {
        *problem = SystemProblem(HiveFileError::Kind::Unwritable, *target, file.Error().value());
        return error::kRegistryIoFailed;
    }
    struct stat st {};
    if (::stat(target->c_str(), &st) == 0) {
        version_ = Version{changes, StampOf(st)};
    } else {
        version_.reset();
    }
    return error::kSuccess;
}

void Hive::Serialize(regfile::Writer& writer) const {
    std::string path(kRootName);
    if (!root_->values.empty()) writer.AddKey(path, root_->values);
    // Depth first, parents before their children: the order in which a reader makes the keys.
    struct Visit {
        const Node* node;
        std::size_t next;    // the index of the child to write next
        std::size_t length;  // of the node's path
    };
    std::vector<Visit> pending{{root_.get(), 0, path.size()}};
    while (!pending.empty()) {
        Visit& top = pending.back();
        if (top.next == top.node->children.size()) {
            pending.pop_back();
            continue;
        }
        const Node& child = *top.node->children[top.next++];
        path.resize(top.length);
        path += '\\';
        path += child.name;
        writer.AddKey(path, child.values);
        pending.push_back({&child, 0, path.size()});
    }
}

}  // namespace kelvaston::platform::filestore
