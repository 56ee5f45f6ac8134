#include "store_call_checks.h"

#include <memory>
#include <optional>
#include <vector>

#include "platform/file_store.h"
#include "platform/registry_tree.h"
#include "platform/text.h"

namespace kelvaston::fuzz {
namespace {

namespace error = platform::error;
using platform::Key;
using platform::KeyTree;
using platform::Status;

// Picks from the input's bytes; zeros once they run out, so that every input is a whole run.
class Choices {
public:
    explicit Choices(std::string_view bytes) : bytes_(bytes) {}
    bool Left() const { return pos_ < bytes_.size(); }
    std::size_t Below(std::size_t n) {
        const std::size_t byte = pos_ < bytes_.size() ? static_cast<unsigned char>(bytes_[pos_++]) : 0;
        return byte % n;
    }
    template <class T>
    const T& From(const std::vector<T>& items) { return items[Below(items.size())]; }

private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};

// A name or a text with the refusal the store owes it: kSuccess when a .reg file holds it.
struct Candidate {
    std::string text;
    Status refusal = error::kSuccess;
};

const Status kFits = error::kSuccess;
const Status kNotUtf8 = error::kNoUnicodeTranslation;
const Status kInvalid = error::kInvalidParameter;

const std::vector<Candidate>& KeyNames() {
    static const std::vector<Candidate> names = {
        {"a", kFits}, {"A", kFits}, {"\xC3\x84", kFits}, {"\xC3\xA4", kFits}, {" x ", kFits}, {"tab\tname", kFits},
        {"]", kFits}, {"[x]", kFits}, {";c", kFits}, {"\"q\"", kFits}, {"-m", kFits}, {"@", kFits},
        {"\xF0\x9F\x98\x80", kFits}, {"\xEF\xBF\xBD", kFits}, {std::string(255, 'k'), kFits},
        {std::string(127, 'k') + "\xF0\x9F\x98\x80" + std::string(126, 'k'), kFits},  // 255 UTF-16 units
        {"line\nbreak", kInvalid}, {"cr\rname", kInvalid}, {std::string("nul\0x", 5), kInvalid},
        {std::string(256, 'k'), kInvalid}, {"caf\xE9", kNotUtf8}, {"\xED\xA0\x80", kNotUtf8}};
    return names;
}

const std::vector<Candidate>& ValueNames() {
    static const std::vector<Candidate> names = {
        {"", kFits}, {"n", kFits}, {"N", kFits}, {"line\nbreak", kFits}, {"cr\r", kFits}, {"back\\slash", kFits},
        {"quote\"", kFits}, {"\xC3\x9F", kFits}, {"=@;[", kFits}, {std::string(16383, 'v'), kFits},
        {std::string("a\0b", 3), kInvalid}, {std::string(16384, 'v'), kInvalid}, {"\xFF", kNotUtf8}};
    return names;
}

const std::vector<Candidate>& Texts() {
    static const std::vector<Candidate> texts = {
        {"", kFits}, {"plain", kFits}, {"c:\\path\\", kFits}, {"quote\"s", kFits}, {"line\nbreak\r\n\r", kFits},
        {"\x01\x1f\x7f\t", kFits}, {"\xC3\xBC\xF0\x9F\x98\x80", kFits}, {std::string(5000, 'l'), kFits},
        {"caf\xE9", kNotUtf8}, {"\xC3", kNotUtf8}};
    return texts;
}

std::string Random(Choices& choices, std::size_t longest) {
    std::string bytes(choices.Below(longest + 1), '\0');
    for (char& b : bytes) b = static_cast<char>(choices.Below(256));
    return bytes;
}

// A value's name is judged before its data.
Status NameFirst(Status name, Status data) { return name != kFits ? name : data; }

// The refusal of a path of several names: a name that is not UTF-8 wins.
Status Refusal(std::initializer_list<Status> refusals) {
    Status first = kFits;
    for (const Status refusal : refusals) {
        if (refusal == kNotUtf8) return kNotUtf8;
        if (first == kFits) first = refusal;
    }
    return first;
}

class Run {
public:
    Run(const std::filesystem::path& folder) : folder_(folder), store_(Open(folder)) {
        store_->ConnectRegistry("", platform::kHKeyLocalMachine, &root_);
    }

    std::string Step(Choices& choices) {
        const KeyTree before = Snapshot(*store_, root_);
        switch (choices.Below(6)) {
            case 0: return CreatePath(choices, before);
            case 1: return SetText(choices);
            case 2: return SetBytes(choices);
            case 3: return Delete(choices, before, false);
            case 4: return Delete(choices, before, true);
            default: return Flush();
        }
    }

    std::string Flush() {
        if (const Status status = store_->FlushKey(root_); status != error::kSuccess) {
            return "a flush failed: status " + std::to_string(status);
        }
        auto second = Open(folder_);
        Key root = platform::kNullKey;
        if (const Status status = second->ConnectRegistry("", platform::kHKeyLocalMachine, &root);
            status != error::kSuccess) {
            const auto problem = second->LastHiveFileError();
            return "the file the store wrote does not load: " + (problem ? Describe(*problem) : std::to_string(status));
        }
        if (Snapshot(*second, root) != Snapshot(*store_, root_)) return "the file reads back as another tree";
        return {};
    }

private:
    static std::unique_ptr<platform::FileStoreRegistry> Open(const std::filesystem::path& folder) {
        return std::make_unique<platform::FileStoreRegistry>(platform::FileStoreOptions{folder, "CALLS"});
    }

    static KeyTree Snapshot(platform::RegistryApi& api, Key root) {
        KeyTree tree;
        platform::ReadTree(api, root, "HKEY_LOCAL_MACHINE", &tree);
        return tree;
    }

    // A path of a few names, or now and then a chain at the depth limit.
    static Candidate Path(Choices& choices, bool fitting) {
        if (choices.Below(64) == 0) {
            const std::size_t depth = 505 + choices.Below(12);
            std::string chain = "d";
            for (std::size_t i = 1; i < depth; ++i) chain += "\\d";
            if (fitting && depth > platform::kMaxKeyDepth) return {"d", kFits};
            return {chain, depth > platform::kMaxKeyDepth ? kInvalid : kFits};
        }
        Candidate path;
        const std::size_t names = 1 + choices.Below(3);
        std::vector<Status> refusals;
        for (std::size_t i = 0; i < names; ++i) {
            Candidate name = choices.From(KeyNames());
            if (fitting && name.refusal != kFits) name = {"fit", kFits};
            path.text += (i == 0 ? "" : "\\") + name.text;
            path.refusal = i == 0 ? name.refusal : Refusal({path.refusal, name.refusal});
        }
        return path;
    }

    // The call's outcome against what the store owes it (any outcome when nothing is owed): a
    // refusal with the registry's error, success for what fits; and a failure changes nothing.
    std::string Judge(const std::string& call, Status status, std::optional<Status> owed, const KeyTree& before) {
        if (owed && status != *owed) {
            return call + " should have given " + std::to_string(*owed) + ", got " + std::to_string(status);
        }
        if (status != error::kSuccess && Snapshot(*store_, root_) != before) return call + " failed and changed the tree";
        return {};
    }

    std::string CreatePath(Choices& choices, const KeyTree& before) {
        const Candidate path = Path(choices, false);
        Key key = platform::kNullKey;
        const Status status = store_->CreateKey(root_, path.text, &key);
        if (key != platform::kNullKey) store_->CloseKey(key);
        return Judge("CreateKey", status, path.refusal, before);
    }

    // Sets a value on a key of a fitting path and reads its bytes back.
    std::string SetValue(Choices& choices, const std::string& call, Status owed, const auto& set,
                         const std::string& expected) {
        const Candidate path = Path(choices, true);
        Key key = platform::kNullKey;
        if (store_->CreateKey(root_, path.text, &key) != error::kSuccess) return "creating a path that fits failed";
        const KeyTree created = Snapshot(*store_, root_);
        std::string name;
        const Status status = set(key, &name);
        std::string problem = Judge(call, status, owed, created);
        if (problem.empty() && status == error::kSuccess) problem = ReadBack(key, name, expected, call);
        store_->CloseKey(key);
        return problem;
    }

    std::string ReadBack(Key key, const std::string& name, const std::string& expected, const std::string& call) {
        for (std::uint32_t index = 0;; ++index) {
            std::string found, data;
            std::uint32_t type = 0;
            if (store_->EnumValueBytes(key, index, &found, &type, &data) != error::kSuccess) break;
            if (platform::text::EqualsNoCase(found, name)) {
                return data == expected ? std::string() : call + " reads back other bytes";
            }
        }
        return call + " succeeded, but the value is not there";
    }

    std::string SetText(Choices& choices) {
        const Candidate name = choices.From(ValueNames());
        const Candidate textValue = choices.From(Texts());
        const std::uint32_t type = std::vector<std::uint32_t>{platform::kRegSz, platform::kRegExpandSz,
                                                              platform::kRegMultiSz}[choices.Below(3)];
        // A REG_SZ ends at its first NUL; the other text types keep theirs.
        const std::string data = textValue.text + (choices.Below(2) == 0 ? std::string("\0after", 6) : "") + '\0';
        const std::string kept = type == platform::kRegSz ? data.substr(0, data.find('\0')) : data;
        const Status owed = NameFirst(name.refusal, platform::text::IsValidUtf8(kept) ? kFits : kNotUtf8);
        const std::string expected =
            platform::text::Utf8ToUtf16Le(kept) + (type == platform::kRegSz ? std::string(2, '\0') : "");
        return SetValue(choices, "SetValueEx", owed,
                        [&](Key key, std::string* set) {
                            *set = name.text;
                            return store_->SetValueEx(key, name.text, type,
                                                      reinterpret_cast<const std::uint8_t*>(data.data()),
                                                      static_cast<std::uint32_t>(data.size()));
                        },
                        expected);
    }

    std::string SetBytes(Choices& choices) {
        const Candidate name = choices.From(ValueNames());
        const std::uint32_t type =
            std::vector<std::uint32_t>{0, platform::kRegSz, platform::kRegExpandSz, platform::kRegBinary,
                                       platform::kRegDword, platform::kRegMultiSz, platform::kRegQword,
                                       0x12345678}[choices.Below(8)];
        std::string bytes = Random(choices, 9);
        Status owed = name.refusal;
        if (type == platform::kRegSz) {
            // A text value's bytes come back only as UTF-16LE that ends in its one NUL.
            const Candidate text = choices.From(Texts());
            switch (choices.Below(3)) {
                case 0:
                    bytes = platform::text::Utf8ToUtf16Le(text.refusal == kFits ? text.text : "t") + std::string(2, '\0');
                    break;
                case 1: bytes = std::string(1 + 2 * bytes.size(), 'x'); owed = NameFirst(owed, kInvalid); break;
                default: bytes = std::string("t\0\0\0x\0\0\0", 8); owed = NameFirst(owed, kInvalid); break;
            }
        }
        return SetValue(choices, "SetValueBytes", owed,
                        [&](Key key, std::string* set) {
                            *set = name.text;
                            return store_->SetValueBytes(key, name.text, type, bytes);
                        },
                        bytes);
    }

    std::string Delete(Choices& choices, const KeyTree& before, bool value) {
        const Candidate path = Path(choices, false);
        const std::optional<Status> owed = path.refusal == kNotUtf8 ? std::optional(kNotUtf8) : std::nullopt;
        if (!value) return Judge("DeleteKey", store_->DeleteKey(root_, path.text), owed, before);
        Key key = platform::kNullKey;
        if (store_->OpenKeyEx(root_, path.text, 0, platform::kKeyAllAccess, &key) != error::kSuccess) return {};
        const Candidate name = choices.From(ValueNames());
        const Status status = store_->DeleteValue(key, name.text);
        store_->CloseKey(key);
        return Judge("DeleteValue", status, name.refusal == kNotUtf8 ? std::optional(kNotUtf8) : std::nullopt, before);
    }

    std::filesystem::path folder_;
    std::unique_ptr<platform::FileStoreRegistry> store_;
    Key root_ = platform::kNullKey;
};

}  // namespace

std::string CheckStoreCalls(std::string_view choices, const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    Choices pick(choices);
    Run run(folder);
    for (int step = 0; pick.Left() && step < 64; ++step) {
        if (std::string failed = run.Step(pick); !failed.empty()) return "call " + std::to_string(step + 1) + ": " + failed;
    }
    return run.Flush();
}

}  // namespace kelvaston::fuzz
