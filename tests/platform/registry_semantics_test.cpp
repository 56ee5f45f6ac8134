// What the store relies on from the registry, checked through the RegistryApi alone. The same
// suite runs on every backend: the file store, the file store behind the cache, advapi32 under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <iomanip>
#include <map>
#include <sstream>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry_api.h"
#include "platform/registry_tree.h"
#include "platform/test_backend.h"
#include "platform/text.h"

namespace kelvaston::platform {
namespace {

class RegistrySemantics : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(api_.CreateKey(kHKeyLocalMachine, backend_->ScratchPath(), &scratch_), error::kSuccess); }
    void TearDown() override {
        for (Key key : open_) api_.CloseKey(key);
        api_.CloseKey(scratch_);
    }
    Key Create(Key parent, const std::string& name) {
        Key key = kNullKey;
        EXPECT_EQ(api_.CreateKey(parent, name, &key), error::kSuccess) << name;
        return open_.emplace_back(key);
    }
    // Opens `name`; the handle is null whenever the call fails.
    Status Open(Key parent, const std::string& name, std::uint32_t access, Key* key) {
        *key = reinterpret_cast<Key>(key);
        const Status status = api_.OpenKeyEx(parent, name, 0, access, key);
        EXPECT_EQ(open_.emplace_back(*key) == kNullKey, status != error::kSuccess) << name;
        return status;
    }
    std::vector<std::string> Subkeys(Key key) {
        std::vector<std::string> names;
        EXPECT_EQ(ListSubkeys(api_, key, &names), error::kSuccess);
        return names;
    }
    Status SetText(Key key, const std::string& name, const std::string& text) {
        return api_.SetValueEx(key, name, kRegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                               static_cast<std::uint32_t>(text.size() + 1));
    }

    std::unique_ptr<test::TestBackend> backend_ = test::MakeTestBackend();
    RegistryApi& api_ = backend_->Api();
    Key scratch_ = kNullKey;
    std::vector<Key> open_;
};

// Names are found without regard to case (ASCII and umlauts), keep the case they were made
// with, and enumerate sorted that way; deleting renumbers the rest. A key with subkeys, or one
// that is not there, is not deleted.
TEST_F(RegistrySemantics, NamesIgnoreCaseKeepTheirCaseAndEnumerateSorted) {
    for (const char* name : {"b", "M\xC3\xBCller", "A", "volatile", "NORAS\\info", "c"}) Create(scratch_, name);
    const Key again = Create(scratch_, "m\xC3\x9CLLER");
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{"A", "b", "c", "M\xC3\xBCller", "NORAS", "volatile"}));
    ASSERT_EQ(SetText(again, "POP Host", "pop.example.com"), error::kSuccess);
    ASSERT_EQ(SetText(again, "POP HOST", "mail.example.com"), error::kSuccess);
    std::string name;
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(api_.EnumValue(again, 0, &name, nullptr, &bytes), error::kSuccess);
    EXPECT_EQ(name + std::string(bytes.begin(), bytes.end()), std::string("POP Hostmail.example.com", 25));
    EXPECT_EQ(api_.EnumValue(again, 1, &name, nullptr, &bytes), error::kNoMoreItems);
    for (const auto& [path, status] : {std::pair("NORAS", error::kAccessDenied), std::pair("missing", error::kFileNotFound),
                                       std::pair("noras\\missing", error::kFileNotFound), std::pair("a", error::kSuccess),
                                       std::pair("noras\\INFO", error::kSuccess), std::pair("NoRaS", error::kSuccess)}) {
        EXPECT_EQ(api_.DeleteKey(scratch_, path), status) << path;
    }
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{"b", "c", "M\xC3\xBCller", "volatile"}));
    Key key = kNullKey;
    EXPECT_EQ(Open(scratch_, "noras", kKeyRead, &key), error::kFileNotFound);
    Create(scratch_, "Noras");
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{"b", "c", "M\xC3\xBCller", "Noras", "volatile"}));
}

std::string Utf8(char32_t c) {
    const std::string units = c < 0x10000 ? std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)}
                                          : std::string{static_cast<char>((0xD800 + ((c - 0x10000) >> 10)) & 0xFF),
                                                        static_cast<char>((0xD800 + ((c - 0x10000) >> 10)) >> 8),
                                                        static_cast<char>((0xDC00 + ((c - 0x10000) & 0x3FF)) & 0xFF),
                                                        static_cast<char>((0xDC00 + ((c - 0x10000) & 0x3FF)) >> 8)};
    return text::Utf16LeToUtf8(units);
}

std::string CodePoints(const std::string& utf8) {
    const std::string units = text::Utf8ToUtf16Le(utf8);
    std::ostringstream out;
    for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
        out << (i == 0 ? "U+" : "+") << std::hex << std::uppercase << std::setw(4) << std::setfill('0')
            << (static_cast<unsigned char>(units[i]) | (static_cast<unsigned char>(units[i + 1]) << 8));
    }
    return out.str();
}

// Every code point of the Basic Multilingual Plane that can stand in a key name, and the
// supplementary blocks with cased letters (Deseret, Osage, Old Hungarian, Medefaidrin, Adlam),
// each a key name in batches of 256 below a parent of their own. The registry keeps a name
// apart from those before it exactly when EqualsNoCase does, and opens a key by another
// spelling (the store's folded form; the platform's own upper and lower case) exactly when
// EqualsNoCase says the spelling equals a name of the batch. On Windows this judges the
// store's case folding against the registry's.
TEST_F(RegistrySemantics, NamesAreOneKeyExactlyWhenTheStoreSaysTheyAreEqual) {
    std::vector<std::pair<char32_t, char32_t>> ranges;
    for (char32_t first = 0; first < 0x10000; first += 0x100) ranges.emplace_back(first, first + 0xFF);
    for (const char32_t first : {0x10400u, 0x10C80u, 0x16E00u, 0x1E900u}) ranges.emplace_back(first, first + 0xFF);
    std::vector<std::string> wrong;
    for (const auto& [first, last] : ranges) {
        std::vector<std::string> names, probes;
        for (char32_t c = first; c <= last; ++c) {
            // No control character, no backslash (a path), no surrogate (not a character).
            if (c < 0x20 || c == 0x7F || c == '\\' || (c >= 0xD800 && c <= 0xDFFF)) continue;
            names.push_back(Utf8(c));
        }
        // The first name of each of the store's classes, by its folded form; EqualsNoCase must
        // agree with that form (checked natively, for every code point, with the text helpers).
        std::map<std::string, std::string> kept;
        for (const std::string& name : names) {
            const auto [at, added] = kept.emplace(text::FoldCase(name), name);
            if (!added) {
                EXPECT_TRUE(text::EqualsNoCase(at->second, name)) << CodePoints(name);
            }
            std::vector<std::string> spellings = backend_->OtherCaseForms(name);
            spellings.push_back(text::FoldCase(name));
            for (const std::string& spelling : spellings) {
                if (spelling.empty() || spelling.find_first_of(std::string("\\\0", 2)) != std::string::npos) continue;
                if (std::find(names.begin(), names.end(), spelling) != names.end()) continue;  // opens anyway
                if (std::find(probes.begin(), probes.end(), spelling) == probes.end()) probes.push_back(spelling);
            }
        }
        const test::TestBackend::NameBatch batch = backend_->CreateAndProbe(CodePoints(Utf8(first)), names, probes);
        std::vector<std::string> enumerated = batch.enumerated, apart;
        for (const auto& [folded, name] : kept) apart.push_back(name);
        std::sort(enumerated.begin(), enumerated.end());
        std::sort(apart.begin(), apart.end());
        std::vector<std::string> missing, extra;
        std::set_difference(apart.begin(), apart.end(), enumerated.begin(), enumerated.end(), std::back_inserter(missing));
        std::set_difference(enumerated.begin(), enumerated.end(), apart.begin(), apart.end(), std::back_inserter(extra));
        for (const std::string& name : missing) wrong.push_back(CodePoints(name) + " merged by the registry, kept apart by the store");
        for (const std::string& name : extra) wrong.push_back(CodePoints(name) + " kept apart by the registry, merged by the store");
        ASSERT_EQ(batch.opened.size(), probes.size());
        for (std::size_t i = 0; i < probes.size(); ++i) {
            const auto same = kept.find(text::FoldCase(probes[i]));
            const bool equal = same != kept.end() && text::EqualsNoCase(same->second, probes[i]);
            if (batch.opened[i] != equal) {
                wrong.push_back(CodePoints(probes[i]) + (batch.opened[i] ? " opens a key of the batch from " : " opens no key of the batch from ") +
                                CodePoints(Utf8(first)) + ", the store says it " + (equal ? "would" : "would not"));
            }
        }
    }
    std::ostringstream listed;
    for (std::size_t i = 0; i < wrong.size() && i < 60; ++i) listed << wrong[i] << "\n";
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " disagreements, the first of them:\n" << listed.str();
}

// Paths: every missing key on the way is made, empty names are passed over, a leading
// backslash is refused, a slash is part of a name, 255 characters (not bytes) at most. A name
// is enumerated into a buffer only when it fits with its NUL.
TEST_F(RegistrySemantics, PathsNameLengthsAndEnumeration) {
    std::string umlauts;
    for (int i = 0; i < 255; ++i) umlauts += "\xC3\xA4";
    const std::string longest(255, 'k');
    for (const std::string& path : {std::string("\xC3\x84rcor\\vertrieb\\"), std::string("x\\\\y"), std::string("q/r"), longest, umlauts}) {
        Create(scratch_, path);
    }
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{longest, "q/r", "x", "\xC3\x84rcor", umlauts}));
    Key key = kNullKey;
    EXPECT_EQ(Open(scratch_, "\xC3\xA4RCOR\\Vertrieb", kKeyRead, &key), error::kSuccess);
    EXPECT_EQ(Open(scratch_, "x\\y", kKeyRead, &key), error::kSuccess);
    EXPECT_EQ(Open(scratch_, "x\\missing\\deeper", kKeyAllAccess, &key), error::kFileNotFound);
    EXPECT_EQ(Open(scratch_, "\\x", kKeyRead, &key), error::kBadPathName);
    for (const std::string& bad : {std::string("\\lead"), std::string(256, 'k'), umlauts + "\xC3\xA4"}) {
        key = reinterpret_cast<Key>(&key);
        EXPECT_NE(api_.CreateKey(scratch_, bad, &key), error::kSuccess);
        EXPECT_EQ(key, kNullKey);
    }
    std::vector<char> buffer(16, ' ');
    // "Ärcor" fits 6 bytes in a Western code page, but needs 7 in UTF-8 with its NUL.
    for (const auto& [index, room, status, length] : {std::tuple(5u, 16u, error::kNoMoreItems, 16u),
                                                      std::tuple(3u, 6u, error::kMoreData, 6u),
                                                      std::tuple(3u, 7u, error::kSuccess, 6u)}) {
        std::uint32_t size = room;
        EXPECT_EQ(api_.EnumKeyEx(scratch_, index, buffer.data(), &size), status) << index << " " << room;
        EXPECT_EQ(size, length) << index << " " << room;
        const std::string written = status == error::kSuccess ? std::string("\xC3\x84rcor") + '\0' : "";
        EXPECT_EQ(std::string(buffer.data(), 16), written + std::string(16 - written.size(), ' '));
    }
}

// A value's size counts UTF-8 bytes and the NUL of a text; a buffer too small gets nothing.
TEST_F(RegistrySemantics, TextAndNumberValuesAndTheirSizes) {
    const Key key = Create(scratch_, "values");
    ASSERT_EQ(SetText(key, "empty", ""), error::kSuccess);
    ASSERT_EQ(SetText(key, "text", "c:\\L\xC3\xB6g.txt"), error::kSuccess);
    ASSERT_EQ(api_.SetValueEx(key, "TimeOut", kRegDword, reinterpret_cast<const std::uint8_t*>("\x58\x02\0"), 4), error::kSuccess);
    const struct {
        const char* name;
        std::uint32_t room;  // 0: no buffer, the size only
        Status status;
        std::uint32_t size;
        std::string data;
    } cases[] = {{"text", 0, error::kSuccess, 12, ""},
                 {"TEXT", 11, error::kMoreData, 12, std::string(11, '?')},
                 {"text", 16, error::kSuccess, 12, std::string("c:\\L\xC3\xB6g.txt", 12)},
                 {"empty", 16, error::kSuccess, 1, std::string(1, '\0')},
                 {"timeout", 16, error::kSuccess, 4, std::string("\x58\x02\0\0", 4)},
                 {"missing", 16, error::kFileNotFound, 16, std::string(16, '?')}};
    for (const auto& c : cases) {
        std::string data(16, '?');
        std::uint32_t type = 0;
        std::uint32_t size = c.room;
        EXPECT_EQ(api_.QueryValueEx(key, c.name, &type, c.room ? reinterpret_cast<std::uint8_t*>(data.data()) : nullptr, &size),
                  c.status)
            << c.name;
        EXPECT_EQ(c.status == error::kSuccess ? type : 0, c.status != error::kSuccess ? 0 : c.size == 4 ? kRegDword : kRegSz);
        EXPECT_EQ(size, c.size) << c.name;
        EXPECT_EQ(data.substr(0, c.data.size()), c.data) << c.name;
    }
    EXPECT_EQ(api_.DeleteValue(key, "TEXT"), error::kSuccess);
    EXPECT_EQ(api_.DeleteValue(key, "text"), error::kFileNotFound);
}

// Values set as the registry's own bytes come back as exactly those bytes, whatever they hold:
// expandable and multi-part text with odd byte counts or unpaired surrogates, numbers of the
// wrong size, types nobody knows. (A REG_SZ is given as the UTF-16LE text it always is.)
TEST_F(RegistrySemantics, ValueBytesComeBackExactly) {
    const Key key = Create(scratch_, "foreign");
    const std::vector<regfile::Value> values = {
        {"Blob", kRegBinary, std::string("\x00\xFF\x10\x00\x7F", 5)}, {"Big", kRegQword, "\x01\x02\x03\x04\x05\x06\x07\x08"},
        {"Odd", kRegExpandSz, std::string("A\0B", 3)},         {"Unpaired", kRegExpandSz, std::string("A\0\0\xD8" "B\0", 6)},
        {"Multi", kRegMultiSz, std::string("\0\xDC\0", 3)},    {"Short", kRegDword, "\x01\x02"},
        {"Nothing", kRegNone, ""},                            {"Unknown", 0x12345678, "?"},
        {"Text", kRegSz, std::string("G\0r\0\xFC\0\xDF\0e\0\0\0", 12)}};
    for (const auto& value : values) {
        ASSERT_EQ(api_.SetValueBytes(key, value.name, value.type, value.data), error::kSuccess) << value.name;
    }
    // The order in which values are listed differs between registries: look them up by name.
    std::vector<regfile::Value> read(1);
    while (api_.EnumValueBytes(key, static_cast<std::uint32_t>(read.size() - 1), &read.back().name, &read.back().type,
                               &read.back().data) == error::kSuccess) {
        read.emplace_back();
    }
    read.pop_back();
    std::sort(read.begin(), read.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    std::vector<regfile::Value> sorted = values;
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    EXPECT_EQ(read, sorted);
}

// A handle carries the access it was opened with; one of a deleted key is dead, also once the
// name is made again.
TEST_F(RegistrySemantics, HandlesKeepTheirAccessAndDieWithTheirKey) {
    Create(scratch_, "guarded");
    Key readOnly = kNullKey, writeOnly = kNullKey;
    ASSERT_EQ(Open(scratch_, "guarded", kKeyRead, &readOnly), error::kSuccess);
    ASSERT_EQ(Open(scratch_, "guarded", kKeyWrite, &writeOnly), error::kSuccess);
    const std::uint8_t number[4] = {1, 0, 0, 0};
    EXPECT_EQ(api_.SetValueEx(readOnly, "x", kRegDword, number, 4), error::kAccessDenied);
    EXPECT_EQ(api_.SetValueEx(writeOnly, "x", kRegDword, number, 4), error::kSuccess);
    std::uint32_t size = 0;
    EXPECT_EQ(api_.QueryValueEx(writeOnly, "x", nullptr, nullptr, &size), error::kAccessDenied);
    EXPECT_EQ(api_.QueryValueEx(readOnly, "x", nullptr, nullptr, &size), error::kSuccess);
    // Making and deleting a subkey asks nothing of the parent's handle.
    const Key doomed = Create(writeOnly, "doomed");
    ASSERT_EQ(SetText(doomed, "v", "x"), error::kSuccess);
    EXPECT_EQ(api_.DeleteKey(writeOnly, "doomed"), error::kSuccess);

    EXPECT_EQ(api_.SetValueEx(doomed, "v", kRegDword, number, 4), error::kKeyDeleted);
    EXPECT_EQ(api_.FlushKey(doomed), error::kKeyDeleted);
    const Key reborn = Create(scratch_, "Doomed");
    EXPECT_EQ(api_.QueryValueEx(doomed, "v", nullptr, nullptr, &size), error::kKeyDeleted);
    EXPECT_EQ(api_.QueryValueEx(reborn, "v", nullptr, nullptr, &size), error::kFileNotFound);
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{"Doomed", "guarded"}));
}

// The local computer's name, in any case and with or without a leading "\\", reaches the local
// hive; an unknown one fails with a null handle. The name's size includes its NUL.
TEST_F(RegistrySemantics, ConnectReachesTheLocalHiveUnderEveryNameAndNoOther) {
    char buffer[256];
    std::uint32_t size = 2;
    EXPECT_EQ(api_.LocalComputerName(buffer, &size), error::kBufferOverflow);
    ASSERT_EQ(api_.LocalComputerName(buffer, &size), error::kSuccess);
    const std::string name(buffer, size);
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const std::string& form : {std::string(), name, lower, "\\\\" + name, std::string("KELVASTON-NO-SUCH-HOST-7")}) {
        const bool reachable = form.find("NO-SUCH-HOST") == std::string::npos;
        Key root = reinterpret_cast<Key>(&root);
        EXPECT_EQ(api_.ConnectRegistry(form, kHKeyLocalMachine, &root), reachable ? error::kSuccess : error::kBadNetPath) << form;
        Key key = kNullKey;
        EXPECT_EQ(reachable ? api_.OpenKeyEx(root, backend_->ScratchPath(), 0, kKeyRead, &key) : root != kNullKey, 0) << form;
        api_.CloseKey(key);
        api_.CloseKey(root);
    }
}

}  // namespace
}  // namespace kelvaston::platform
