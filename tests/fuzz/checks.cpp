#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <utility>

#include "checks.h"
#include "platform/file_store.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"

namespace kelvaston::fuzz {
namespace {

namespace fs = std::filesystem;
namespace regfile = platform::regfile;
using platform::Key;
using platform::Status;
using std::string;

const Status kFits = platform::error::kSuccess, kNotUtf8 = platform::error::kNoUnicodeTranslation,
             kInvalid = platform::error::kInvalidParameter,
             kMissing = platform::error::kFileNotFound;

// A name or a text with what the store owes it: `refusal` where it is to be stored (kFits when a
// .reg file holds it), `lookup` where a call only looks it up (a name that cannot be stored
// names nothing, so only text that is not UTF-8 and key names over 255 characters are refused
// there). `fold` is the name's class as the registry compares names, written out here by hand:
// names of one class name the same key or value; 0 for names never stored. Key classes count in
// the order the registry lists keys, by their names upper-cased, as UTF-8 bytes: " X " "\"Q\""
// "-M" ";C" "@" "A" "D" "FIT" "KK..K" "KK..<U+1F600>.." "SS" "TAB.." "[X]" "]" "Ä" "ß" (which
// has no upper case of its own) "<U+FFFD>" "<U+1F600>". `utf16`: a text's UTF-16LE form, where
// it is not ASCII.
struct Candidate {
    string text;
    Status refusal = kFits;
    int fold = 0;
    Status lookup = refusal;
    string utf16 = {};
};

const std::vector<Candidate> kKeyNames = {
    {"a", kFits, 6},
    {"A", kFits, 6},
    {"\xC3\x84", kFits, 15},
    {"\xC3\xA4", kFits, 15},
    {" x ", kFits, 1},
    {"tab\tname", kFits, 12},
    {"]", kFits, 14},
    {"[x]", kFits, 13},
    {";c", kFits, 4},
    {"\"q\"", kFits, 2},
    {"-m", kFits, 3},
    {"@", kFits, 5},
    {"\xF0\x9F\x98\x80", kFits, 18},
    {"\xEF\xBF\xBD", kFits, 17},
    {string(255, 'k'), kFits, 9},
    {string(127, 'k') + "\xF0\x9F\x98\x80" + string(126, 'k'), kFits, 10},
    {"line\nbreak", kInvalid, 0, kFits},
    {"cr\rname", kInvalid, 0, kFits},
    {string("nul\0x", 5), kInvalid, 0, kFits},
    {string(256, 'k'), kInvalid},
    {"caf\xE9", kNotUtf8},
    {"\xED\xA0\x80", kNotUtf8},
    {"ss", kFits, 11},
    {"\xC3\x9F", kFits, 16}};
const Candidate kDeep{"d", kFits, 7},
    kFit{"fit", kFits, 8};  // a chain at the depth limit; what stands in for a refused name
const std::vector<Candidate> kValueNames = {{"", kFits, 1},
                                            {"n", kFits, 2},
                                            {"N", kFits, 2},
                                            {"line\nbreak", kFits, 3},
                                            {"cr\r", kFits, 4},
                                            {"back\\slash", kFits, 5},
                                            {"quote\"", kFits, 6},
                                            {"\xC3\x9F", kFits, 7},
                                            {"=@;[", kFits, 8},
                                            {string(16383, 'v'), kFits, 9},
                                            {string("a\0b", 3), kInvalid, 0, kFits},
                                            {string(16384, 'v'), kInvalid, 0, kFits},
                                            {"\xFF", kNotUtf8},
                                            {"SS", kFits, 10}};
const std::vector<Candidate> kTexts = {
    {""},
    {"plain"},
    {"c:\\path\\"},
    {"quote\"s"},
    {"line\nbreak\r\n\r"},
    {"\x01\x1f\x7f\t"},
    {"\xC3\xBC\xF0\x9F\x98\x80", kFits, 0, kFits, string("\xFC\0\x3D\xD8\0\xDE", 6)},
    {string(5000, 'l')},
    {"caf\xE9", kNotUtf8},
    {"\xC3", kNotUtf8}};

// Picks from the input's bytes; zeros once they run out, so that every input is a whole run.
struct Choices {
    std::string_view bytes;
    std::size_t pos = 0;
    std::size_t Below(std::size_t n) {
        return (pos < bytes.size() ? static_cast<unsigned char>(bytes[pos++]) : 0u) % n;
    }
    const Candidate& From(const std::vector<Candidate>& items) {
        return items[Below(items.size())];
    }
};

// A text as the registry keeps it, in UTF-16LE.
string Utf16(const Candidate& text) {
    string out = text.utf16;
    for (const char ch : text.utf16.empty() ? text.text : "") out += {ch, '\0'};
    return out;
}

// What the store should hold below a key, as the test keeps it: subkeys by class (so in the
// order the registry lists them), values in the order first set, each under the name first given.
// Values hold their data as the registry keeps it.
struct Model {
    string name;
    std::map<int, Model> keys;
    std::vector<std::pair<int, platform::RegValue>> values;
};

// One listing for the store and for the model, which agree when their trees do: each value,
// then each subkey with its own listing, every name and data after its length.
string Item(char kind, const string& bytes) {
    return kind + std::to_string(bytes.size()) + ':' + bytes;
}
string Item(const platform::RegValue& v) {
    return Item('v', v.name) + Item('t', std::to_string(v.type)) + Item('d', v.data);
}

string Listing(const Model& key) {
    string out;
    for (const auto& [fold, value] : key.values) out += Item(value);
    for (const auto& [fold, child] : key.keys) out += Item('k', child.name) + Listing(child) + '}';
    return out;
}

// The store's side, read as a program reads it: a call for each value and each subkey.
string Listing(platform::RegistryApi& api, Key key) {
    platform::RegValue value;
    string out, name(1024, '\0');
    std::uint32_t i = 0, size = 1024;
    while (api.EnumValueBytes(key, i++, &value.name, &value.type, &value.data) == kFits)
        out += Item(value);
    for (i = 0; api.EnumKeyEx(key, i++, name.data(), &size) == kFits; size = 1024) {
        Key child = platform::kNullKey;
        const Status opened =
            api.OpenKeyEx(key, name.substr(0, size), 0, platform::kKeyRead, &child);
        out += Item('k', name.substr(0, size)) +
               (opened == kFits ? Listing(api, child) : "<unopenable>") + '}';
        api.CloseKey(child);
    }
    return out;
}

string Differs(const string& found, const string& wanted) {
    const auto at = static_cast<std::size_t>(
        std::mismatch(found.begin(), found.end(), wanted.begin(), wanted.end()).first -
        found.begin());
    return found == wanted ? ""
                           : "the tree is not the model's from byte " + std::to_string(at) + ": " +
                                 found.substr(at, 60) + "... for " + wanted.substr(at, 60);
}

string Judge(const string& call, Status status, Status owed) {
    return status == owed
               ? ""
               : call + " gave " + std::to_string(status) + ", not " + std::to_string(owed);
}

// A key path with its names and what the store owes it where a call makes it and where one only
// looks it up. Text that is not UTF-8 is refused before anything else.
struct Path {
    string text;
    Status create = kFits, lookup = kFits;
    std::vector<const Candidate*> names;
};
Status Worse(Status a, Status b) {
    return a == kNotUtf8 || b == kFits ? a : b;
}

class Run {
public:
    // Connects to the hive of computer FUZZ in `folder`; `status` says how that went. The calls
    // work below its root, or below a key `base` made anew, where what the hive held beside it
    // must come through them as it was. The calls between two flushes make one transaction, as
    // a program making many changes makes them: each call outside one would write the whole file.
    Run(const fs::path& folder, Status* status, const string& base = "")
        : folder_(folder), store_(Open()), baseName_(base) {
        *status = store_->ConnectRegistry("", platform::kHKeyLocalMachine, &root_);
        if (*status == kFits) *status = store_->BeginTransaction(root_);
        base_ = root_;
        if (*status != kFits || base.empty()) return;
        platform::DeleteTree(*store_, root_, base);
        outside_ = Listing(*store_, root_);
        *status = store_->CreateKey(root_, base, &base_);
    }
    platform::FileStoreRegistry& Store() { return *store_; }

    // Up to `most` calls while the choices last, after each of which the store's whole tree must
    // be the model's; then the last flush, and the base key goes again.
    string Calls(Choices pick, int most) {
        for (int step = 1; pick.pos < pick.bytes.size() && step <= most; ++step) {
            if (string failed = Step(pick); !failed.empty())
                return "call " + std::to_string(step) + ": " + failed;
        }
        const string failed = Flush();
        return !failed.empty() || baseName_.empty()
                   ? failed
                   : (platform::DeleteTree(*store_, root_, baseName_), ReadBack("", outside_));
    }

private:
    std::unique_ptr<platform::FileStoreRegistry> Open() const {
        return std::make_unique<platform::FileStoreRegistry>(
            platform::FileStoreOptions{folder_, "FUZZ"});
    }

    string Step(Choices& c) {
        const std::size_t call = c.Below(6);
        string failed = call == 0 || call == 3   ? KeyCall(c, call == 0)
                        : call == 1 || call == 2 ? SetValue(c, call == 1)
                        : call == 4              ? DeleteValue(c)
                                                 : Flush();
        if (failed.empty()) failed = Differs(Listing(*store_, base_), Listing(model_));
        // A chain at the depth limit is flushed and read back once, then removed: every later
        // call would list it again.
        if (!std::exchange(deep_, false) || !failed.empty()) return failed;
        failed = Flush();
        model_.keys.erase(kDeep.fold);
        return platform::DeleteTree(*store_, base_, kDeep.text), failed;
    }

    // Commits; a second store reading the file must see the model's tree.
    string Flush() { return ReadBack(baseName_, Listing(model_)); }

    // Commits the calls so far and begins the next transaction; a second store reading the file
    // must list the key `subKey` as `wanted`.
    string ReadBack(const string& subKey, const string& wanted) {
        if (const Status status = store_->CommitTransaction(root_); status != kFits)
            return "a commit failed: " + std::to_string(status);
        const auto second = Open();
        Key root = platform::kNullKey, key = platform::kNullKey;
        const Status status = second->ConnectRegistry("", platform::kHKeyLocalMachine, &root);
        const string failed =
            status != kFits ? "the file the store wrote does not load: " + std::to_string(status)
            : second->OpenKeyEx(root, subKey, 0, platform::kKeyRead, &key) != kFits
                ? "the file lost its key " + subKey
                : Differs(Listing(*second, key), wanted);
        return store_->BeginTransaction(root_) == kFits || !failed.empty()
                   ? failed
                   : "a transaction could not begin";
    }

    // A path of one to three names, or now and then a chain at the depth limit. `fitting`: a path
    // the store must make, "fit" standing in for refused names.
    Path PickPath(Choices& c, bool fitting) {
        Path path;
        const std::size_t limit = platform::kMaxKeyDepth - (baseName_.empty() ? 0 : 1);
        const bool deep = c.Below(256) == 255;  // never from the zeros after the end of the input
        const std::size_t depth = deep ? 505 + c.Below(12) : 1 + c.Below(3);
        deep_ = deep_ || deep;
        for (std::size_t i = 0; i < (fitting && depth > limit ? 1 : depth); ++i) {
            const Candidate* name = deep ? &kDeep : &c.From(kKeyNames);
            path.names.push_back(name = fitting && name->refusal != kFits ? &kFit : name);
            path.text += (i == 0 ? "" : "\\") + name->text;
            path.create = Worse(Worse(path.create, name->refusal), i < limit ? kFits : kInvalid),
            path.lookup = Worse(path.lookup, name->lookup);
        }
        return path;
    }

    // The model's key at the first `count` names of the path, made when `make`; null when there is
    // none.
    Model* Walk(const Path& path, std::size_t count, bool make = false) {
        Model* at = &model_;
        for (std::size_t i = 0; at != nullptr && i < count; ++i) {
            const Candidate& name = *path.names[i];
            const auto it = make ? at->keys.try_emplace(name.fold, Model{name.text, {}, {}}).first
                                 : at->keys.find(name.fold);
            at = it == at->keys.end() ? nullptr : &it->second;
        }
        return at;
    }
    static auto ValueOf(Model& key, int fold) {
        return std::find_if(key.values.begin(), key.values.end(),
                            [fold](auto& v) { return v.first == fold; });
    }

    // Creates or deletes a key of any path. A key with subkeys is not deleted.
    string KeyCall(Choices& c, bool create) {
        const Path path = PickPath(c, false);
        Model* parent =
            Walk(path, path.names.size() - 1);  // a name that cannot be stored names no key
        const Model* key = parent != nullptr ? Walk(path, path.names.size()) : nullptr;
        const Status owed = create                 ? path.create
                            : path.lookup != kFits ? path.lookup
                            : key == nullptr       ? kMissing
                            : key->keys.empty()    ? kFits
                                                   : platform::error::kAccessDenied;
        Key made = platform::kNullKey;
        const Status status = create ? store_->CreateKey(base_, path.text, &made)
                                     : store_->DeleteKey(base_, path.text);
        store_->CloseKey(made);
        if (owed == kFits)
            create ? void(Walk(path, path.names.size(), true))
                   : void(parent->keys.erase(path.names.back()->fold));
        return Judge(create ? "CreateKey" : "DeleteKey", status, owed);
    }

    // Sets a value, as text (SetValueEx) or as the registry's own bytes (SetValueBytes), on a key
    // of a fitting path made first.
    string SetValue(Choices& c, bool asText) {
        const Candidate& name = c.From(kValueNames);
        const Candidate* value = asText ? &c.From(kTexts) : nullptr;
        const std::uint32_t type =
            asText ? std::vector<std::uint32_t>{platform::kRegSz, platform::kRegExpandSz,
                                                platform::kRegMultiSz}[c.Below(3)]
                   : std::vector<std::uint32_t>{0,
                                                platform::kRegSz,
                                                platform::kRegExpandSz,
                                                platform::kRegBinary,
                                                platform::kRegDword,
                                                platform::kRegMultiSz,
                                                platform::kRegQword,
                                                0x12345678}[c.Below(8)];
        // As text a REG_SZ ends at its first NUL, the other text types keep theirs.
        string data = asText ? value->text + (c.Below(2) == 0 ? string("\0after", 6) : "") + '\0'
                             : string(c.Below(10), '\0');
        if (!asText)
            std::generate(data.begin(), data.end(),
                          [&c] { return static_cast<char>(c.Below(256)); });
        Status owed = name.refusal != kFits ? name.refusal : asText ? value->refusal : kFits;
        string stored = asText ? Utf16(*value) + Utf16({type == platform::kRegSz
                                                            ? string(1, '\0')
                                                            : data.substr(value->text.size())})
                               : data;
        if (!asText && type == platform::kRegSz) {
            // As bytes a text value's are kept only as UTF-16LE that ends in its one NUL.
            const Candidate& text = c.From(kTexts);
            const std::size_t form = c.Below(3);
            stored = data = form == 0
                                ? Utf16(text.refusal == kFits ? text : kTexts[1]) + string(2, '\0')
                            : form == 1 ? string(1 + 2 * data.size(), 'x')  // an odd count
                                        : string("t\0\0\0x\0\0\0", 8);      // a NUL before the end
            owed = form != 0 && owed == kFits ? kInvalid : owed;
        }
        const Path path = PickPath(c, true);
        Key key = platform::kNullKey;
        if (const Status status = store_->CreateKey(base_, path.text, &key); status != kFits)
            return Judge("CreateKey", status, kFits);
        Model& at = *Walk(path, path.names.size(), true);
        const Status status =
            asText ? store_->SetValueEx(key, name.text, type,
                                        reinterpret_cast<const std::uint8_t*>(data.data()),
                                        static_cast<std::uint32_t>(data.size()))
                   : store_->SetValueBytes(key, name.text, type, data);
        store_->CloseKey(key);
        if (const auto it = ValueOf(at, name.fold); owed == kFits)
            it == at.values.end() ? at.values.push_back({name.fold, {name.text, type, stored}})
                                  : void(it->second = {it->second.name, type, stored});
        return Judge(asText ? "SetValueEx" : "SetValueBytes", status, owed);
    }

    string DeleteValue(Choices& c) {
        const Path path = PickPath(c, false);
        Model* at = Walk(path, path.names.size());
        const Status owedOpen = path.lookup != kFits ? path.lookup
                                : at == nullptr      ? kMissing
                                                     : kFits;
        Key key = platform::kNullKey;
        if (const Status opened =
                store_->OpenKeyEx(base_, path.text, 0, platform::kKeyAllAccess, &key);
            opened != kFits || owedOpen != kFits)
            return store_->CloseKey(key), Judge("OpenKeyEx", opened, owedOpen);
        const Candidate& name = c.From(kValueNames);
        const auto it = ValueOf(*at, name.fold);
        const Status owed = name.lookup != kFits     ? name.lookup
                            : it == at->values.end() ? kMissing
                                                     : kFits;
        const Status status = store_->DeleteValue(key, name.text);
        store_->CloseKey(key);
        if (owed == kFits) at->values.erase(it);
        return Judge("DeleteValue", status, owed);
    }

    fs::path folder_;
    std::unique_ptr<platform::FileStoreRegistry> store_;
    string baseName_,
        outside_;  // the key the calls work below (empty: the root); what the hive held beside it
    Key root_ = platform::kNullKey, base_ = platform::kNullKey;
    Model model_;        // what the store should hold below the base
    bool deep_ = false;  // a chain at the depth limit was picked in this step
};

// The keys of `entries` with the values that follow each, as the Writer takes them.
string Write(const std::vector<regfile::Entry>& entries, regfile::Encoding encoding) {
    regfile::Writer writer(encoding);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::vector<regfile::Value> values;
        for (std::size_t j = i + 1;
             j < entries.size() && entries[j].kind == regfile::EntryKind::SetValue; ++j)
            values.push_back(entries[j].value);
        string path = entries[i].root;
        for (const auto& name : entries[i].path) path += "\\" + name;
        if (entries[i].kind == regfile::EntryKind::Key) writer.AddKey(path, values);
    }
    return writer.Finish();
}

}  // namespace

string CheckStoreCalls(std::string_view choices, const fs::path& folder) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    Status status = kFits;
    return Run(folder, &status).Calls({choices}, 64);
}

string CheckRoundTrip(std::string_view bytes) {
    const regfile::ParseResult parsed = regfile::Parse(bytes);
    if (!parsed.document)
        return parsed.error.message.empty() || parsed.error.line < 0
                   ? "a parse failed, not saying where"
                   : "";
    std::vector<regfile::Entry> kept;  // deletions have no written form
    std::copy_if(parsed.document->entries.begin(), parsed.document->entries.end(),
                 std::back_inserter(kept), [](const auto& entry) {
                     return entry.kind == regfile::EntryKind::Key ||
                            entry.kind == regfile::EntryKind::SetValue;
                 });
    for (const auto encoding : {regfile::Encoding::Utf8Lf, regfile::Encoding::Utf16LeBomCrlf}) {
        const string written = Write(kept, encoding);
        const regfile::ParseResult again = regfile::Parse(written);
        if (!again.document)
            return "the text written does not parse: " + std::to_string(again.error.line) + ": " +
                   again.error.message;
        if (again.document->flavor != regfile::Flavor::Regedit5)
            return "the text written is not read as 5.00";
        const auto same = [](const regfile::Entry& a, const regfile::Entry& b) {
            return a.kind == b.kind && a.root == b.root && a.path == b.path && a.value == b.value;
        };
        if (!std::equal(kept.begin(), kept.end(), again.document->entries.begin(),
                        again.document->entries.end(), same)) {
            return "the text written reads back as other entries";
        }
        if (Write(again.document->entries, encoding) != written)
            return "writing what was read back changes the text";
    }
    return {};
}

string CheckStoreFile(std::string_view bytes, const fs::path& folder) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    fs::permissions(folder, fs::perms::owner_all, ec);
    const fs::path file = folder / "FUZZ.reg";
    std::ofstream(file, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write,
                    ec);  // as the store's own files
    Status status = kFits;
    {
        // A hive that loads takes the calls its own bytes pick, as CheckStoreCalls does.
        Run run(folder, &status, "fuzz");
        if (status == kFits)
            return regfile::Parse(bytes).document ? run.Calls({bytes}, 8)
                                                  : "the store loaded a file that does not parse";
        if (status != platform::error::kBadDb || !run.Store().LastHiveFileError())
            return "refused, not saying where";
        if (Key probe = platform::kNullKey;
            run.Store().CreateKey(platform::kHKeyLocalMachine, "probe", &probe) == kFits)
            return "changed a hive not loaded";
    }  // the store's end writes whatever it still holds
    if (std::ifstream in(file, std::ios::binary);
        string(std::istreambuf_iterator<char>(in), {}) != bytes)
        return "a store file that did not load was overwritten";
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path() != file)
            return "the store left " + entry.path().filename().string() + " in its folder";
    }
    return {};
}

}  // namespace kelvaston::fuzz
