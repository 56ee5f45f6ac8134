#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>

#include "checks.h"
#include "platform/file_store.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "platform/text.h"

namespace kelvaston::fuzz {
namespace {

namespace fs = std::filesystem;
namespace regfile = platform::regfile;
namespace text = platform::text;
using platform::Key;
using platform::KeyTree;
using platform::Status;
using std::string;

const Status kFits = platform::error::kSuccess, kNotUtf8 = platform::error::kNoUnicodeTranslation,
             kInvalid = platform::error::kInvalidParameter;

// A name or a text with the refusal the store owes it: kFits when a .reg file holds it.
struct Candidate { string text; Status refusal = kFits; };

const std::vector<Candidate> kKeyNames = {
    {"a"}, {"A"}, {"\xC3\x84"}, {"\xC3\xA4"}, {" x "}, {"tab\tname"}, {"]"}, {"[x]"}, {";c"}, {"\"q\""}, {"-m"}, {"@"},
    {"\xF0\x9F\x98\x80"}, {"\xEF\xBF\xBD"}, {string(255, 'k')}, {string(127, 'k') + "\xF0\x9F\x98\x80" + string(126, 'k')},
    {"line\nbreak", kInvalid}, {"cr\rname", kInvalid}, {string("nul\0x", 5), kInvalid}, {string(256, 'k'), kInvalid},
    {"caf\xE9", kNotUtf8}, {"\xED\xA0\x80", kNotUtf8}};
const std::vector<Candidate> kValueNames = {
    {""}, {"n"}, {"N"}, {"line\nbreak"}, {"cr\r"}, {"back\\slash"}, {"quote\""}, {"\xC3\x9F"}, {"=@;["}, {string(16383, 'v')},
    {string("a\0b", 3), kInvalid}, {string(16384, 'v'), kInvalid}, {"\xFF", kNotUtf8}};
const std::vector<Candidate> kTexts = {
    {""}, {"plain"}, {"c:\\path\\"}, {"quote\"s"}, {"line\nbreak\r\n\r"}, {"\x01\x1f\x7f\t"}, {"\xC3\xBC\xF0\x9F\x98\x80"},
    {string(5000, 'l')}, {"caf\xE9", kNotUtf8}, {"\xC3", kNotUtf8}};

// Picks from the input's bytes; zeros once they run out, so that every input is a whole run.
struct Choices {
    std::string_view bytes;
    std::size_t pos = 0;
    std::size_t Below(std::size_t n) { return (pos < bytes.size() ? static_cast<unsigned char>(bytes[pos++]) : 0u) % n; }
    const Candidate& From(const std::vector<Candidate>& items) { return items[Below(items.size())]; }
};

KeyTree Tree(platform::RegistryApi& api, Key root) {
    KeyTree tree;
    return platform::ReadTree(api, root, "HKEY_LOCAL_MACHINE", &tree) == kFits ? tree : KeyTree{"<unreadable>", {}, {}};
}

std::optional<Status> OnlyNotUtf8(Status refusal) { return refusal == kNotUtf8 ? std::optional(refusal) : std::nullopt; }


class Run {
public:
    // Connects to the hive of computer FUZZ in `folder`; `status` says how that went.
    // The calls between two flushes make one transaction, as a program making many changes makes
    // them: each call outside one would write the whole file.
    Run(const fs::path& folder, Status* status) : folder_(folder), store_(Open()) {
        *status = store_->ConnectRegistry("", platform::kHKeyLocalMachine, &root_);
        if (*status == kFits) *status = store_->BeginTransaction(root_);
    }
    platform::FileStoreRegistry& Store() { return *store_; }

    string Step(Choices& c) {
        const KeyTree before = Tree(*store_, root_);
        string failed;
        switch (c.Below(6)) {
            case 0: failed = KeyCall(c, before, true); break;
            case 1: failed = SetText(c); break;
            case 2: failed = SetBytes(c); break;
            case 3: failed = KeyCall(c, before, false); break;
            case 4: failed = DeleteValue(c, before); break;
            default: return Flush();
        }
        // A chain at the depth limit is flushed and read back once, then removed: every later
        // reading of the whole tree would cost its depth squared.
        if (!deep_ || !failed.empty()) return failed;
        deep_ = false;
        failed = Flush();
        platform::DeleteTree(*store_, root_, "d");
        return failed;
    }

    string Flush() {
        if (const Status status = store_->CommitTransaction(root_); status != kFits) {
            return "a commit failed: " + std::to_string(status);
        }
        string failed;
        {
            const auto second = Open();
            Key root = platform::kNullKey;
            if (const Status status = second->ConnectRegistry("", platform::kHKeyLocalMachine, &root); status != kFits) {
                const auto problem = second->LastHiveFileError();
                failed = "the file the store wrote does not load: " + (problem ? Describe(*problem) : std::to_string(status));
            } else if (Tree(*second, root) != Tree(*store_, root_)) {
                failed = "the file reads back as another tree";
            }
        }
        if (const Status status = store_->BeginTransaction(root_); failed.empty() && status != kFits) {
            failed = "a transaction could not begin: " + std::to_string(status);
        }
        return failed;
    }

private:
    std::unique_ptr<platform::FileStoreRegistry> Open() const {
        return std::make_unique<platform::FileStoreRegistry>(platform::FileStoreOptions{folder_, "FUZZ"});
    }

    // A path of one to three names, or now and then a chain at the depth limit; its refusal is
    // the first of its names', but a name that is not UTF-8 wins.
    Candidate Path(Choices& c, bool fitting) {
        Candidate path;
        if (c.Below(256) == 255) {  // never from the zeros after the end of the input
            const std::size_t depth = 505 + c.Below(12);
            path = {"d", depth > platform::kMaxKeyDepth ? kInvalid : kFits};
            for (std::size_t i = 1; i < depth; ++i) path.text += "\\d";
            if (fitting && path.refusal != kFits) path = {"d"};
            deep_ = true;
        } else {
            for (std::size_t i = 0, names = 1 + c.Below(3); i < names; ++i) {
                Candidate name = c.From(kKeyNames);
                if (fitting && name.refusal != kFits) name = {"fit"};
                path.text += (i == 0 ? "" : "\\") + name.text;
                if (path.refusal != kNotUtf8 && (name.refusal == kNotUtf8 || path.refusal == kFits)) path.refusal = name.refusal;
            }
        }
        return path;
    }

    // The call's outcome against what the store owes it (anything when nothing is owed); a
    // call that fails must leave the tree as it was.
    string Judge(const string& call, Status status, std::optional<Status> owed, const KeyTree& before) {
        if (owed && status != *owed) return call + " should have given " + std::to_string(*owed) + ", got " + std::to_string(status);
        if (status != kFits && Tree(*store_, root_) != before) return call + " failed and changed the tree";
        return {};
    }

    // Creates or deletes a key of any path. A deletion is owed nothing but the refusal of text
    // that is not UTF-8: a name that cannot be stored may name no key.
    string KeyCall(Choices& c, const KeyTree& before, bool create) {
        const Candidate path = Path(c, false);
        Key key = platform::kNullKey;
        const Status status = create ? store_->CreateKey(root_, path.text, &key) : store_->DeleteKey(root_, path.text);
        if (key != platform::kNullKey) store_->CloseKey(key);
        return Judge(create ? "CreateKey" : "DeleteKey", status, create ? std::optional(path.refusal) : OnlyNotUtf8(path.refusal), before);
    }

    // Sets a value with `set` on a key of a fitting path; what succeeds must read back as `expected`.
    template <class Set>
    string SetValue(Choices& c, const string& call, const Candidate& name, Status owed, const string& expected, Set set) {
        Key key = platform::kNullKey;
        if (store_->CreateKey(root_, Path(c, true).text, &key) != kFits) return "creating a path that fits failed";
        const KeyTree created = Tree(*store_, root_);
        const Status status = set(key);
        string problem = Judge(call, status, owed, created);
        if (problem.empty() && status == kFits) {
            string found, data;
            std::uint32_t type = 0, i = 0;
            bool there = false;
            while (!there && store_->EnumValueBytes(key, i++, &found, &type, &data) == kFits) there = text::EqualsNoCase(found, name.text);
            if (!there || data != expected) problem = call + " does not read back as set";
        }
        store_->CloseKey(key);
        return problem;
    }

    string SetText(Choices& c) {
        const Candidate& name = c.From(kValueNames);
        const Candidate& value = c.From(kTexts);
        const auto type = std::vector<std::uint32_t>{platform::kRegSz, platform::kRegExpandSz, platform::kRegMultiSz}[c.Below(3)];
        // A REG_SZ ends at its first NUL; the other text types keep theirs.
        const string data = value.text + (c.Below(2) == 0 ? string("\0after", 6) : "") + '\0';
        const string kept = type == platform::kRegSz ? data.substr(0, data.find('\0')) : data;
        const Status owed = name.refusal != kFits ? name.refusal : text::IsValidUtf8(kept) ? kFits : kNotUtf8;
        const string expected = text::Utf8ToUtf16Le(kept) + (type == platform::kRegSz ? string(2, '\0') : "");
        return SetValue(c, "SetValueEx", name, owed, expected, [&](Key key) {
            return store_->SetValueEx(key, name.text, type, reinterpret_cast<const std::uint8_t*>(data.data()),
                                      static_cast<std::uint32_t>(data.size()));
        });
    }

    string SetBytes(Choices& c) {
        const Candidate& name = c.From(kValueNames);
        const auto type = std::vector<std::uint32_t>{0, platform::kRegSz, platform::kRegExpandSz, platform::kRegBinary,
                                                     platform::kRegDword, platform::kRegMultiSz, platform::kRegQword, 0x12345678}[c.Below(8)];
        string bytes(c.Below(10), '\0');
        for (char& b : bytes) b = static_cast<char>(c.Below(256));
        Status owed = name.refusal;
        if (type == platform::kRegSz) {
            // A text value's bytes come back only as UTF-16LE that ends in its one NUL.
            const Candidate& value = c.From(kTexts);
            const std::size_t form = c.Below(3);
            bytes = form == 0   ? text::Utf8ToUtf16Le(value.refusal == kFits ? value.text : "t") + string(2, '\0')
                    : form == 1 ? string(1 + 2 * bytes.size(), 'x')  // an odd count
                                : string("t\0\0\0x\0\0\0", 8);        // a NUL before the end
            if (form != 0 && owed == kFits) owed = kInvalid;
        }
        return SetValue(c, "SetValueBytes", name, owed, bytes, [&](Key key) { return store_->SetValueBytes(key, name.text, type, bytes); });
    }

    string DeleteValue(Choices& c, const KeyTree& before) {
        Key key = platform::kNullKey;
        if (store_->OpenKeyEx(root_, Path(c, false).text, 0, platform::kKeyAllAccess, &key) != kFits) return {};
        const Candidate& name = c.From(kValueNames);
        const Status status = store_->DeleteValue(key, name.text);
        store_->CloseKey(key);
        return Judge("DeleteValue", status, OnlyNotUtf8(name.refusal), before);
    }

    fs::path folder_;
    std::unique_ptr<platform::FileStoreRegistry> store_;
    Key root_ = platform::kNullKey;
    bool deep_ = false;    // a chain at the depth limit was picked in this step
};

// The keys of `entries` with the values that follow each, as the Writer takes them.
string Write(const std::vector<regfile::Entry>& entries, regfile::Encoding encoding) {
    regfile::Writer writer(encoding);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::vector<regfile::Value> values;
        for (std::size_t j = i + 1; j < entries.size() && entries[j].kind == regfile::EntryKind::SetValue; ++j) {
            values.push_back(entries[j].value);
        }
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
    Choices pick{choices};
    Status status = kFits;
    Run run(folder, &status);
    for (int step = 1; pick.pos < choices.size() && step <= 64; ++step) {
        if (string failed = run.Step(pick); !failed.empty()) return "call " + std::to_string(step) + ": " + failed;
    }
    return run.Flush();
}

string CheckRoundTrip(std::string_view bytes) {
    const regfile::ParseResult parsed = regfile::Parse(bytes);
    if (!parsed.document) return parsed.error.message.empty() || parsed.error.line < 0 ? "a parse failed, not saying where" : "";
    std::vector<regfile::Entry> kept;  // deletions have no written form
    for (const auto& entry : parsed.document->entries) {
        if (entry.kind == regfile::EntryKind::Key || entry.kind == regfile::EntryKind::SetValue) kept.push_back(entry);
    }
    for (const auto encoding : {regfile::Encoding::Utf8Lf, regfile::Encoding::Utf16LeBomCrlf}) {
        const string written = Write(kept, encoding);
        const regfile::ParseResult again = regfile::Parse(written);
        if (!again.document) return "the text written does not parse: " + std::to_string(again.error.line) + ": " + again.error.message;
        if (again.document->flavor != regfile::Flavor::Regedit5) return "the text written is not read as 5.00";
        const auto same = [](const regfile::Entry& a, const regfile::Entry& b) {
            return a.kind == b.kind && a.root == b.root && a.path == b.path && a.value == b.value;
        };
        if (!std::equal(kept.begin(), kept.end(), again.document->entries.begin(), again.document->entries.end(), same)) {
            return "the text written reads back as other entries";
        }
        if (Write(again.document->entries, encoding) != written) return "writing what was read back changes the text";
    }
    return {};
}

string CheckStoreFile(std::string_view bytes, const fs::path& folder) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    fs::permissions(folder, fs::perms::owner_all, ec);
    const fs::path file = folder / "FUZZ.reg";
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, ec);  // as the store's own files
    Status status = kFits;
    {
        // A hive that loads takes the calls its own bytes pick, as CheckStoreCalls does.
        Run run(folder, &status);
        Key probe = platform::kNullKey;
        if (status == kFits) {
            if (!regfile::Parse(bytes).document) return "the store loaded a file that does not parse";
            Choices pick{bytes};
            for (int step = 1; step <= 8; ++step) {
                if (string failed = run.Step(pick); !failed.empty()) return "call " + std::to_string(step) + ": " + failed;
            }
            return run.Flush();
        }
        if (status != platform::error::kBadDb || !run.Store().LastHiveFileError()) return "refused, not saying where";
        if (run.Store().CreateKey(platform::kHKeyLocalMachine, "probe", &probe) == kFits) return "changed a hive not loaded";
    }  // the store's end writes whatever it still holds
    std::ifstream in(file, std::ios::binary);
    if (string(std::istreambuf_iterator<char>(in), {}) != bytes) return "a store file that did not load was overwritten";
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path() != file) return "the store left " + entry.path().filename().string() + " in its folder";
    }
    return {};
}

}  // namespace kelvaston::fuzz
