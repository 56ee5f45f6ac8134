#include "platform/file_store.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace kelvaston::platform {
namespace {

using filestore::Hive;
using filestore::Node;

constexpr std::uint32_t kMaximumAllowed = 0x02000000;
constexpr std::uint32_t kWriteRights = kKeySetValue | kKeyCreateSubKey | 0x0020 /*create link*/;

bool IsTextType(std::uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Splits a relative key path into its names. Empty names (doubled or trailing backslashes) are
// passed over, as the registry does; a leading backslash, a name that is not UTF-8 or one over
// 255 characters makes the path invalid.
Status SplitSubKey(std::string_view subKey, std::vector<std::string_view>* names) {
    if (subKey.starts_with('\\')) return error::kBadPathName;
    if (!text::IsValidUtf8(subKey)) return error::kNoUnicodeTranslation;
    std::size_t start = 0;
    while (start <= subKey.size()) {
        auto end = subKey.find('\\', start);
        if (end == std::string_view::npos) end = subKey.size();
        if (end > start) {
            if (text::LongerThan(subKey.substr(start, end - start), kMaxKeyNameLength)) {
                return error::kInvalidParameter;
            }
            names->push_back(subKey.substr(start, end - start));
        }
        start = end + 1;
    }
    return error::kSuccess;
}

// Whether a value of this name can be kept in the file and read back as the same name.
Status CheckValueName(std::string_view name) {
    if (!text::IsValidUtf8(name)) return error::kNoUnicodeTranslation;
    if (name.find('\0') != std::string_view::npos || text::LongerThan(name, kMaxValueNameLength)) {
        return error::kInvalidParameter;
    }
    return error::kSuccess;
}

// The text of a REG_SZ given as the registry's bytes, when the file's text form gives exactly
// these bytes back: UTF-16LE that ends in its only NUL.
bool TextFromUtf16(std::string_view bytes, std::string* textValue) {
    if (bytes.size() < 2 || bytes.size() % 2 != 0 ||
        bytes.substr(bytes.size() - 2) != std::string_view("\0\0", 2)) {
        return false;
    }
    const std::string_view units = bytes.substr(0, bytes.size() - 2);
    *textValue = text::Utf16LeToUtf8(units);
    return textValue->find('\0') == std::string::npos && text::Utf8ToUtf16Le(*textValue) == units;
}

// The value's data as the interface delivers it: text types as program text with a NUL.
std::string DeliveredData(const regfile::Value& value) {
    if (value.type == kRegSz) return value.data + '\0';
    if (value.type == kRegExpandSz || value.type == kRegMultiSz)
        return text::Utf16LeToUtf8(value.data);
    return value.data;
}

// The value's data as the Windows registry would keep it: a text value as UTF-16LE with its NUL.
std::string StoredBytes(const regfile::Value& value) {
    return value.type == kRegSz ? text::Utf8ToUtf16Le(value.data) + std::string(2, '\0')
                                : value.data;
}

}  // namespace

FileStoreRegistry::FileStoreRegistry(FileStoreOptions options) : options_(std::move(options)) {
    if (options_.localName.empty()) options_.localName = "localhost";
}

FileStoreRegistry::~FileStoreRegistry() {
    std::lock_guard lock(mutex_);
    for (auto& [name, hive] : hives_) hive->Abort();
    if (prefetch_.valid()) prefetch_.wait();
}

std::filesystem::path FileStoreRegistry::DefaultFolder() {
    if (const char* folder = std::getenv("KELVASTON_REGISTRY");
        folder != nullptr && *folder != '\0') {
        return folder;
    }
    std::filesystem::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
        data = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        data = std::filesystem::path(home) / ".local" / "share";
    } else {
        data = ".";
    }
    return data / "kelvaston" / "registry";
}

std::string FileStoreRegistry::HostComputerName() {
    std::array<char, 256> host{};
    if (::gethostname(host.data(), host.size() - 1) != 0) return {};
    std::string name(host.data());
    return name.substr(0, name.find('.'));
}

std::optional<std::filesystem::path> FileStoreRegistry::FindFile(
    const std::string& computer) const {
    // Names compare folded, and folding needs text: a byte that is not UTF-8 would fold like
    // U+FFFD, so that two different names would reach one file. Such a name is no computer's.
    if (!text::IsValidUtf8(computer)) return std::nullopt;
    const std::string wanted = text::FoldCase(computer + ".reg");
    std::error_code ec;
    for (std::filesystem::directory_iterator it(options_.folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string fileName = it->path().filename().string();
        if (text::IsValidUtf8(fileName) && text::FoldCase(fileName) == wanted &&
            it->is_regular_file(ec)) {
            return it->path();
        }
    }
    return std::nullopt;
}

Status FileStoreRegistry::Reported(Status status, HiveFileError&& problem) {
    if (status != error::kSuccess) lastProblem_ = std::move(problem);
    return status;
}

Status FileStoreRegistry::HiveFor(const std::string& machine, std::shared_ptr<Hive>* hive) {
    if (auto unsafe = filestore::CheckStoreFolder(options_.folder)) {
        return Reported(error::kAccessDenied, std::move(*unsafe));
    }
    std::string_view name = machine;
    if (name.starts_with("\\\\")) name.remove_prefix(2);
    std::filesystem::path file;
    if (name.empty() || text::EqualsNoCase(name, options_.localName)) {
        file =
            FindFile(options_.localName).value_or(options_.folder / (options_.localName + ".reg"));
    } else {
        // Found among the folder's own files, by name: no name, however odd, reaches outside it.
        const auto found = FindFile(std::string(name));
        if (!found) return error::kBadNetPath;
        file = *found;
    }
    const std::string id = text::FoldCase(file.filename().string());
    if (prefetch_.valid()) {
        Prefetched prefetched = prefetch_.get();
        if (prefetched.hive && prefetched.file == file && hives_.count(id) == 0)
            hives_.emplace(id, prefetched.hive);
    }
    HiveFileError problem;
    if (auto cached = hives_.find(id); cached != hives_.end()) {
        if (const Status status = cached->second->Current(&problem); status != error::kSuccess) {
            return Reported(status, std::move(problem));
        }
        *hive = cached->second;
        return error::kSuccess;
    }
    auto opened = Hive::Open(file, &problem);
    if (!opened) {
        return Reported(
            problem.kind == HiveFileError::Kind::Malformed ? error::kBadDb : error::kAccessDenied,
            std::move(problem));
    }
    hives_.emplace(id, opened);
    *hive = std::move(opened);
    return error::kSuccess;
}

Key FileStoreRegistry::AddHandle(OpenKey key) {
    const Key handle = nextHandle_;
    nextHandle_ += 4;
    handles_.emplace(handle, std::move(key));
    return handle;
}

FileStoreRegistry::OpenKey* FileStoreRegistry::Find(Key key, Status* status) {
    *status = error::kSuccess;
    lastProblem_.reset();  // a problem is told about the call that met it only
    if (key != kHKeyLocalMachine) {
        auto it = handles_.find(key);
        if (it == handles_.end()) *status = error::kInvalidHandle;
        return it == handles_.end() ? nullptr : &it->second;
    }
    if (!localMachine_.hive) {
        std::shared_ptr<Hive> hive;
        if ((*status = HiveFor("", &hive)) != error::kSuccess) return nullptr;
        // What the local computer's root may do is decided for each call from its hive.
        localMachine_ = {hive, hive->Root().shared_from_this(), kKeyAllAccess};
    }
    return &localMachine_;
}

FileStoreRegistry::Resolved FileStoreRegistry::Lookup(Key key, std::uint32_t needed) {
    Status status = error::kSuccess;
    OpenKey* open = Find(key, &status);
    if (open == nullptr) return {status};
    HiveFileError problem;
    if ((status = open->hive->Current(&problem)) != error::kSuccess)
        return {Reported(status, std::move(problem))};
    if (open->node->deleted) return {error::kKeyDeleted};
    if ((open->access & needed) != needed) {
        // A handle opened while the hive could not be written: say which file or folder refuses.
        if (auto readOnly = open->hive->ReadOnly(); readOnly && (needed & kWriteRights) != 0) {
            return {Reported(error::kAccessDenied, std::move(*readOnly))};
        }
        return {error::kAccessDenied};
    }
    return {error::kSuccess, open};
}

template <class Change>
Status FileStoreRegistry::Changing(Key key, std::uint32_t needed, Change&& change) {
    Status status = error::kSuccess;
    OpenKey* open = Find(key, &status);
    if (open == nullptr) return status;
    Hive& hive = *open->hive;
    const bool own = !hive.InTransaction();
    HiveFileError problem;
    if (own && (status = hive.Begin(&problem)) != error::kSuccess)
        return Reported(status, std::move(problem));
    if (open->node->deleted) {
        status = error::kKeyDeleted;
    } else if ((open->access & needed) != needed) {
        status = error::kAccessDenied;
    } else {
        status = change(*open);
    }
    if (!own) return status;
    if (status != error::kSuccess) {
        hive.Abort();
        return status;
    }
    return Reported(hive.Commit(&problem), std::move(problem));
}

void FileStoreRegistry::PrefetchLocalHive() {
    std::lock_guard lock(mutex_);
    if (prefetch_.valid()) return;
    const auto file =
        FindFile(options_.localName).value_or(options_.folder / (options_.localName + ".reg"));
    prefetch_ = std::async(std::launch::async, [file] {
        HiveFileError ignored;  // a file that does not load is read again, and reported, on use
        return Prefetched{file, Hive::Open(file, &ignored)};
    });
}

Status FileStoreRegistry::ConnectRegistry(const std::string& machine, Key hiveKey, Key* result) {
    std::lock_guard lock(mutex_);
    if (result == nullptr) return error::kInvalidParameter;
    *result = kNullKey;
    lastProblem_.reset();
    if (hiveKey != kHKeyLocalMachine) return error::kInvalidHandle;
    std::shared_ptr<Hive> hive;
    if (const Status status = HiveFor(machine, &hive); status != error::kSuccess) return status;
    *result = AddHandle({hive, hive->Root().shared_from_this(), kKeyAllAccess});
    return error::kSuccess;
}

Status FileStoreRegistry::OpenKeyEx(Key parent, const std::string& subKey,
                                    std::uint32_t /*options*/, std::uint32_t access, Key* result) {
    std::lock_guard lock(mutex_);
    if (result == nullptr) return error::kInvalidParameter;
    *result = kNullKey;
    const Resolved base = Lookup(parent, 0);
    if (base.status != error::kSuccess) return base.status;
    std::vector<std::string_view> names;
    if (const Status status = SplitSubKey(subKey, &names); status != error::kSuccess) return status;
    Node* node = base.key->node.get();
    for (const auto& name : names) {
        node = node->FindChild(name);
        if (node == nullptr) return error::kFileNotFound;
    }
    const auto readOnly = base.key->hive->ReadOnly();
    if (access & kMaximumAllowed) {
        access = readOnly ? kKeyRead : kKeyAllAccess;
    } else if (readOnly && (access & kWriteRights) != 0) {
        // Say which file or folder refuses, for whoever wonders why.
        return Reported(error::kAccessDenied, HiveFileError(*readOnly));
    }
    *result = AddHandle({base.key->hive, node->shared_from_this(), access});
    return error::kSuccess;
}

Status FileStoreRegistry::CreateKey(Key parent, const std::string& subKey, Key* result) {
    std::lock_guard lock(mutex_);
    if (result == nullptr) return error::kInvalidParameter;
    *result = kNullKey;
    std::vector<std::string_view> names;
    if (const Status status = SplitSubKey(subKey, &names); status != error::kSuccess) return status;
    // Every name is checked before the first key is made: a path that cannot be kept whole
    // changes nothing.
    for (const auto& name : names) {
        if (regfile::KeyNameProblem(name) != nullptr) return error::kInvalidParameter;
    }
    // A key that is there already is opened as it is, with what the hive allows now.
    const Resolved base = Lookup(parent, 0);
    if (base.status != error::kSuccess) return base.status;
    Node* node = base.key->node.get();
    std::size_t existing = 0;
    for (; existing < names.size(); ++existing) {
        Node* child = node->FindChild(names[existing]);
        if (child == nullptr) break;
        node = child;
    }
    if (existing < names.size()) {
        const Status status = Changing(parent, 0, [&](OpenKey& open) {
            Hive& hive = *open.hive;
            // The tree may have been read again for the change: the walk starts anew.
            Node* at = open.node.get();
            if (at->depth + names.size() > kMaxKeyDepth) return error::kInvalidParameter;
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (Node* child = at->FindChild(names[i])) {
                    at = child;
                    continue;
                }
                // Creating needs the right to create below the handle's key.
                if (i == 0 && (open.access & kKeyCreateSubKey) == 0) return error::kAccessDenied;
                if (const Status made = hive.CreateChild(*at, names[i], &at);
                    made != error::kSuccess)
                    return made;
            }
            node = at;
            return error::kSuccess;
        });
        if (status != error::kSuccess) return status;
    }
    const std::uint32_t access = base.key->hive->ReadOnly() ? kKeyRead : kKeyAllAccess;
    *result = AddHandle({base.key->hive, node->shared_from_this(), access});
    return error::kSuccess;
}

Status FileStoreRegistry::EnumKeyEx(Key key, std::uint32_t index, char* name,
                                    std::uint32_t* nameLength) {
    std::lock_guard lock(mutex_);
    if (name == nullptr || nameLength == nullptr) return error::kInvalidParameter;
    const Resolved open = Lookup(key, kKeyEnumerateSubKeys);
    if (open.status != error::kSuccess) return open.status;
    const auto& children = open.key->node->children;
    if (index >= children.size()) return error::kNoMoreItems;
    const std::string& childName = children[index]->name;
    if (childName.size() + 1 > *nameLength) return error::kMoreData;
    std::memcpy(name, childName.c_str(), childName.size() + 1);
    *nameLength = static_cast<std::uint32_t>(childName.size());
    return error::kSuccess;
}

Status FileStoreRegistry::DeleteKey(Key parent, const std::string& subKey) {
    std::lock_guard lock(mutex_);
    std::vector<std::string_view> names;
    if (const Status status = SplitSubKey(subKey, &names); status != error::kSuccess) return status;
    if (names.empty()) return error::kInvalidParameter;
    // A key that is not there is reported without asking for the right to write.
    const Resolved base = Lookup(parent, 0);
    if (base.status != error::kSuccess) return base.status;
    const auto find = [&names](Node* node) {
        for (const auto& name : names) {
            if (node == nullptr) break;
            node = node->FindChild(name);
        }
        return node;
    };
    if (find(base.key->node.get()) == nullptr) return error::kFileNotFound;
    return Changing(parent, 0, [&](OpenKey& open) {
        Node* node = find(open.node.get());
        if (node == nullptr) return error::kFileNotFound;
        return open.hive->DeleteChild(*node->parent, *node);
    });
}

Status FileStoreRegistry::CloseKey(Key key) {
    std::lock_guard lock(mutex_);
    if (key == kHKeyLocalMachine) return error::kSuccess;
    return handles_.erase(key) == 1 ? error::kSuccess : error::kInvalidHandle;
}

Status FileStoreRegistry::FlushKey(Key key) {
    std::lock_guard lock(mutex_);
    return Lookup(key, 0).status;
}

Status FileStoreRegistry::OnHive(Key key, Status (Hive::*operation)(HiveFileError*)) {
    std::lock_guard lock(mutex_);
    Status status = error::kSuccess;
    OpenKey* open = Find(key, &status);
    if (open == nullptr) return status;
    HiveFileError problem;
    return Reported((*open->hive.*operation)(&problem), std::move(problem));
}

Status FileStoreRegistry::BeginTransaction(Key key) {
    return OnHive(key, &Hive::Begin);
}

Status FileStoreRegistry::CommitTransaction(Key key) {
    return OnHive(key, &Hive::Commit);
}

bool FileStoreRegistry::AbortTransaction(Key key) {
    std::lock_guard lock(mutex_);
    Status status = error::kSuccess;
    OpenKey* open = Find(key, &status);
    if (open == nullptr) return false;
    open->hive->Abort();
    return true;
}

Status FileStoreRegistry::BeginReading(Key key) {
    return OnHive(key, &Hive::BeginReading);
}

void FileStoreRegistry::EndReading(Key key) {
    std::lock_guard lock(mutex_);
    Status status = error::kSuccess;
    if (OpenKey* open = Find(key, &status)) open->hive->EndReading();
}

Status FileStoreRegistry::QueryValueEx(Key key, const std::string& name, std::uint32_t* type,
                                       std::uint8_t* data, std::uint32_t* dataSize) {
    std::lock_guard lock(mutex_);
    if (data != nullptr && dataSize == nullptr) return error::kInvalidParameter;
    if (!text::IsValidUtf8(name)) return error::kNoUnicodeTranslation;
    const Resolved open = Lookup(key, kKeyQueryValue);
    if (open.status != error::kSuccess) return open.status;
    const regfile::Value* value = open.key->node->FindValue(name);
    if (value == nullptr) return error::kFileNotFound;
    if (type != nullptr) *type = value->type;
    const std::string delivered = DeliveredData(*value);
    const auto size = static_cast<std::uint32_t>(delivered.size());
    if (data != nullptr && *dataSize < size) {
        *dataSize = size;
        return error::kMoreData;
    }
    if (data != nullptr) std::memcpy(data, delivered.data(), size);
    if (dataSize != nullptr) *dataSize = size;
    return error::kSuccess;
}

Status FileStoreRegistry::SetValueEx(Key key, const std::string& name, std::uint32_t type,
                                     const std::uint8_t* data, std::uint32_t dataSize) {
    std::lock_guard lock(mutex_);
    if (data == nullptr && dataSize != 0) return error::kInvalidParameter;
    if (const Status status = CheckValueName(name); status != error::kSuccess) return status;
    std::string bytes(reinterpret_cast<const char*>(data), dataSize);
    if (type == kRegSz) bytes.resize(std::min(bytes.size(), bytes.find('\0')));
    if (IsTextType(type)) {
        // Program text, which the file keeps as UTF-8 or UTF-16: what is not UTF-8 would come
        // back as other characters.
        if (!text::IsValidUtf8(bytes)) return error::kNoUnicodeTranslation;
        if (type != kRegSz) bytes = text::Utf8ToUtf16Le(bytes);
    }
    return PutValue(key, name, type, std::move(bytes));
}

Status FileStoreRegistry::SetValueBytes(Key key, const std::string& name, std::uint32_t type,
                                        std::string_view data) {
    std::lock_guard lock(mutex_);
    if (const Status status = CheckValueName(name); status != error::kSuccess) return status;
    std::string stored(data);
    // A text value is kept as its text; any other value as its bytes, whatever they are.
    if (type == kRegSz && !TextFromUtf16(data, &stored)) return error::kInvalidParameter;
    return PutValue(key, name, type, std::move(stored));
}

Status FileStoreRegistry::PutValue(Key key, const std::string& name, std::uint32_t type,
                                   std::string data) {
    return Changing(key, kKeySetValue, [&](OpenKey& open) {
        return open.hive->SetValue(*open.node, regfile::Value{name, type, std::move(data)});
    });
}

const regfile::Value* FileStoreRegistry::ValueAt(Key key, std::uint32_t index, std::string* name,
                                                 std::uint32_t* type, Status* status) {
    const Resolved open = Lookup(key, kKeyQueryValue);
    *status = open.status;
    if (open.status != error::kSuccess) return nullptr;
    const auto& values = open.key->node->values;
    if (index >= values.size()) {
        *status = error::kNoMoreItems;
        return nullptr;
    }
    if (name != nullptr) *name = values[index].name;
    if (type != nullptr) *type = values[index].type;
    return &values[index];
}

Status FileStoreRegistry::EnumValue(Key key, std::uint32_t index, std::string* name,
                                    std::uint32_t* type, std::vector<std::uint8_t>* data) {
    std::lock_guard lock(mutex_);
    Status status = error::kSuccess;
    const regfile::Value* value = ValueAt(key, index, name, type, &status);
    if (value != nullptr && data != nullptr) {
        const std::string delivered = DeliveredData(*value);
        data->assign(delivered.begin(), delivered.end());
    }
    return status;
}

Status FileStoreRegistry::EnumValueBytes(Key key, std::uint32_t index, std::string* name,
                                         std::uint32_t* type, std::string* data) {
    std::lock_guard lock(mutex_);
    Status status = error::kSuccess;
    const regfile::Value* value = ValueAt(key, index, name, type, &status);
    if (value != nullptr && data != nullptr) *data = StoredBytes(*value);
    return status;
}

Status FileStoreRegistry::DeleteValue(Key key, const std::string& name) {
    std::lock_guard lock(mutex_);
    if (!text::IsValidUtf8(name)) return error::kNoUnicodeTranslation;
    // A value that is not there is reported without taking the store for writing.
    const Resolved open = Lookup(key, kKeySetValue);
    if (open.status != error::kSuccess) return open.status;
    if (open.key->node->FindValue(name) == nullptr) return error::kFileNotFound;
    return Changing(key, kKeySetValue, [&](OpenKey& changed) {
        return changed.hive->DeleteValue(*changed.node, name);
    });
}

Status FileStoreRegistry::Walk(const Resolved& base, const std::string& subKey, const Node** node) {
    if (base.status != error::kSuccess) return base.status;
    std::vector<std::string_view> names;
    if (const Status status = SplitSubKey(subKey, &names); status != error::kSuccess) return status;
    *node = base.key->node.get();
    for (const auto& name : names) {
        *node = (*node)->FindChild(name);
        if (*node == nullptr) return error::kFileNotFound;
    }
    // Without a path the handle's own rights apply, as for QueryValueEx.
    if (names.empty() && (base.key->access & kKeyQueryValue) == 0) return error::kAccessDenied;
    return error::kSuccess;
}

Status FileStoreRegistry::QueryKeyValues(Key key, const std::string& subKey,
                                         std::vector<RegValue>* values) {
    std::lock_guard lock(mutex_);
    values->clear();
    const Node* node = nullptr;
    if (const Status status = Walk(Lookup(key, 0), subKey, &node); status != error::kSuccess)
        return status;
    values->reserve(node->values.size());
    for (const auto& value : node->values)
        values->push_back({value.name, value.type, DeliveredData(value)});
    return error::kSuccess;
}

Status FileStoreRegistry::QueryKeyContents(Key key, const std::string& subKey,
                                           KeyContents* contents,
                                           const ExpectedContents& /*expected*/) {
    std::lock_guard lock(mutex_);
    *contents = KeyContents{};
    const Node* node = nullptr;
    if (const Status status = Walk(Lookup(key, 0), subKey, &node); status != error::kSuccess)
        return status;
    contents->values.reserve(node->values.size());
    for (const auto& value : node->values) {
        contents->values.push_back({value.name, value.type, StoredBytes(value)});
    }
    contents->subkeys.reserve(node->children.size());
    for (const auto& child : node->children) contents->subkeys.push_back(child->name);
    return error::kSuccess;
}

std::optional<HiveFileError> FileStoreRegistry::LastHiveFileError() const {
    std::lock_guard lock(mutex_);
    return lastProblem_;
}

Status FileStoreRegistry::LocalComputerName(char* buffer, std::uint32_t* size) {
    std::lock_guard lock(mutex_);
    // As GetComputerName: without a size nothing can be said; without a buffer, how much it
    // takes.
    if (size == nullptr) return error::kInvalidParameter;
    const std::string& name = options_.localName;
    if (buffer == nullptr || *size < name.size() + 1) {
        *size = static_cast<std::uint32_t>(name.size() + 1);
        return error::kBufferOverflow;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<std::uint32_t>(name.size());
    return error::kSuccess;
}

}  // namespace kelvaston::platform
