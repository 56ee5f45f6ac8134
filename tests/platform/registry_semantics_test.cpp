// What the store relies on from the registry, checked through the RegistryApi alone. The same
// suite runs on every backend: the file store, the file store behind the cache, advapi32 under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry_api.h"
#include "platform/registry_tree.h"
#include "platform/test_backend.h"

namespace kelvaston::platform {
namespace {

class RegistrySemantics : public ::testing::Test {
protected:
    void SetUp() override {
        backend_ = test::MakeTestBackend();
        api_ = &backend_->Api();
        ASSERT_EQ(api_->CreateKey(kHKeyLocalMachine, backend_->ScratchPath(), &scratch_), error::kSuccess);
    }
    void TearDown() override {
        for (Key key : open_) api_->CloseKey(key);
        if (scratch_ != kNullKey) api_->CloseKey(scratch_);
    }
    Key Create(Key parent, const std::string& name) {
        Key key = kNullKey;
        EXPECT_EQ(api_->CreateKey(parent, name, &key), error::kSuccess) << name;
        open_.push_back(key);
        return key;
    }
    // Opens `name`; the handle is null whenever the call fails.
    Status Open(Key parent, const std::string& name, std::uint32_t access, Key* key) {
        *key = reinterpret_cast<Key>(key);
        const Status status = api_->OpenKeyEx(parent, name, 0, access, key);
        EXPECT_EQ(*key == kNullKey, status != error::kSuccess) << name;
        open_.push_back(*key);
        return status;
    }
    std::vector<std::string> Subkeys(Key key) {
        std::vector<std::string> names;
        EXPECT_EQ(ListSubkeys(*api_, key, &names), error::kSuccess);
        return names;
    }
    Status SetText(Key key, const std::string& name, const std::string& text) {
        return api_->SetValueEx(key, name, kRegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                static_cast<std::uint32_t>(text.size() + 1));
    }
    std::string LocalName() {
        char buffer[256];
        std::uint32_t size = sizeof buffer;
        EXPECT_EQ(api_->LocalComputerName(buffer, &size), error::kSuccess);
        return std::string(buffer, size);
    }

    std::unique_ptr<test::TestBackend> backend_;
    RegistryApi* api_ = nullptr;
    Key scratch_ = kNullKey;
    std::vector<Key> open_;
};

// Names are found without regard to case (ASCII and umlauts), keep the case they were made
// with, and enumerate sorted that way; deleting renumbers the rest.
TEST_F(RegistrySemantics, NamesIgnoreCaseKeepTheirCaseAndEnumerateSorted) {
    for (const char* name : {"b", "M\xC3\xBCller", "A", "volatile", "NORAS", "c"}) Create(scratch_, name);
    const Key again = Create(scratch_, "m\xC3\x9CLLER");
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{"A", "b", "c", "M\xC3\xBCller", "NORAS", "volatile"}));
    ASSERT_EQ(SetText(again, "POP Host", "pop.example.com"), error::kSuccess);
    ASSERT_EQ(SetText(again, "POP HOST", "mail.example.com"), error::kSuccess);
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(api_->EnumValue(again, 0, &name, &type, &bytes), error::kSuccess);
    EXPECT_EQ(name, "POP Host");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("mail.example.com", 17));
    EXPECT_EQ(api_->EnumValue(again, 1, &name, &type, &bytes), error::kNoMoreItems);

    ASSERT_EQ(api_->DeleteKey(scratch_, "a"), error::kSuccess);
    ASSERT_EQ(api_->DeleteKey(scratch_, "NoRaS"), error::kSuccess);
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{"b", "c", "M\xC3\xBCller", "volatile"}));
    Key key = kNullKey;
    EXPECT_EQ(Open(scratch_, "noras", kKeyRead, &key), error::kFileNotFound);
    Create(scratch_, "Noras");
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{"b", "c", "M\xC3\xBCller", "Noras", "volatile"}));
}

TEST_F(RegistrySemantics, EnumerationFillsTheBufferOnlyWhenTheNameFits) {
    Create(scratch_, "only");
    std::vector<char> buffer(16, ' ');
    for (const auto& [index, room, status, length] : {std::tuple(1u, 16u, error::kNoMoreItems, 16u),
                                                      std::tuple(0u, 4u, error::kMoreData, 4u),
                                                      std::tuple(0u, 5u, error::kSuccess, 4u)}) {
        std::uint32_t size = room;
        EXPECT_EQ(api_->EnumKeyEx(scratch_, index, buffer.data(), &size), status) << index << " " << room;
        EXPECT_EQ(size, length) << index << " " << room;
        const std::string written = status == error::kSuccess ? std::string("only") + '\0' : "";
        EXPECT_EQ(std::string(buffer.data(), 16), written + std::string(16 - written.size(), ' '));
    }
}

// Paths: every missing key on the way is made, empty names are passed over, a leading
// backslash is refused, a slash is part of a name, 255 characters (not bytes) at most.
TEST_F(RegistrySemantics, PathsAndNameLengths) {
    std::string umlauts;
    for (int i = 0; i < 255; ++i) umlauts += "\xC3\xA4";
    const std::string longest(255, 'k');
    for (const std::string& path : {std::string("Arcor\\vertrieb\\"), std::string("x\\\\y"), std::string("q/r"),
                                    longest, umlauts}) {
        Create(scratch_, path);
    }
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{"Arcor", longest, "q/r", "x", umlauts}));
    Key key = kNullKey;
    EXPECT_EQ(Open(scratch_, "ARCOR\\Vertrieb", kKeyRead, &key), error::kSuccess);
    EXPECT_EQ(Open(scratch_, "x\\y", kKeyRead, &key), error::kSuccess);
    EXPECT_EQ(Open(scratch_, "Arcor\\missing\\deeper", kKeyAllAccess, &key), error::kFileNotFound);
    EXPECT_EQ(Open(scratch_, "\\Arcor", kKeyRead, &key), error::kBadPathName);
    for (const std::string& bad : {std::string("\\lead"), std::string(256, 'k'), "ok\\" + umlauts + "\xC3\xA4"}) {
        key = reinterpret_cast<Key>(&key);
        EXPECT_NE(api_->CreateKey(scratch_, bad, &key), error::kSuccess);
        EXPECT_EQ(key, kNullKey);
    }
    EXPECT_EQ(Subkeys(scratch_).size(), 5u);
}

TEST_F(RegistrySemantics, DeleteRefusesKeysWithSubkeysAndMissingKeys) {
    const Key connection = Create(scratch_, "NORAS");
    Create(connection, "info");
    EXPECT_EQ(api_->DeleteKey(scratch_, "NORAS"), error::kAccessDenied);
    EXPECT_EQ(api_->DeleteKey(scratch_, "missing"), error::kFileNotFound);
    EXPECT_EQ(api_->DeleteKey(scratch_, "NORAS\\missing"), error::kFileNotFound);
    EXPECT_EQ(Subkeys(connection), std::vector<std::string>{"info"});
    EXPECT_EQ(api_->DeleteKey(scratch_, "noras\\INFO"), error::kSuccess);
    EXPECT_EQ(api_->DeleteKey(scratch_, "NORAS"), error::kSuccess);
    EXPECT_TRUE(Subkeys(scratch_).empty());
}

TEST_F(RegistrySemantics, TextAndNumberValuesAndTheirSizes) {
    const Key key = Create(scratch_, "values");
    ASSERT_EQ(SetText(key, "empty", ""), error::kSuccess);
    ASSERT_EQ(SetText(key, "text", "c:\\Log.txt"), error::kSuccess);
    const std::uint8_t number[4] = {0x58, 0x02, 0, 0};  // 600
    ASSERT_EQ(api_->SetValueEx(key, "TimeOut", kRegDword, number, 4), error::kSuccess);
    const struct {
        const char* name;
        std::uint32_t room;  // 0: no buffer, the size only
        Status status;
        std::uint32_t type, size;
        std::string data;
    } cases[] = {{"text", 0, error::kSuccess, kRegSz, 11, ""},
                 {"TEXT", 4, error::kMoreData, kRegSz, 11, std::string(4, '?')},
                 {"text", 16, error::kSuccess, kRegSz, 11, std::string("c:\\Log.txt", 11)},
                 {"empty", 16, error::kSuccess, kRegSz, 1, std::string(1, '\0')},
                 {"timeout", 16, error::kSuccess, kRegDword, 4, std::string("\x58\x02\0\0", 4)},
                 {"missing", 16, error::kFileNotFound, 0, 16, std::string(16, '?')}};
    for (const auto& c : cases) {
        std::string data(16, '?');
        std::uint32_t type = 0;
        std::uint32_t size = c.room;
        EXPECT_EQ(api_->QueryValueEx(key, c.name, &type, c.room ? reinterpret_cast<std::uint8_t*>(data.data()) : nullptr,
                                     &size),
                  c.status)
            << c.name;
        EXPECT_EQ(c.status == error::kSuccess ? type : c.type, c.type) << c.name;
        EXPECT_EQ(size, c.size) << c.name;
        EXPECT_EQ(data.substr(0, c.data.size()), c.data) << c.name;
    }
    EXPECT_EQ(api_->DeleteValue(key, "TEXT"), error::kSuccess);
    EXPECT_EQ(api_->DeleteValue(key, "text"), error::kFileNotFound);
    std::uint32_t size = 0;
    EXPECT_EQ(api_->QueryValueEx(key, "text", nullptr, nullptr, &size), error::kFileNotFound);
}

// Values set as the registry's own bytes come back as exactly those bytes, whatever they hold:
// expandable and multi-part text with odd byte counts or unpaired surrogates, numbers of the
// wrong size, types nobody knows. (A REG_SZ is given as the UTF-16LE text it always is.)
TEST_F(RegistrySemantics, ValueBytesComeBackExactly) {
    const Key key = Create(scratch_, "foreign");
    const std::vector<regfile::Value> values = {
        {"Blob", kRegBinary, std::string("\x00\xFF\x10\x00\x7F", 5)},
        {"Big", kRegQword, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
        {"Odd", kRegExpandSz, std::string("A\0B", 3)},
        {"Unpaired", kRegExpandSz, std::string("A\0\0\xD8" "B\0", 6)},
        {"Multi", kRegMultiSz, std::string("\0\xDC\0", 3)},
        {"Short", kRegDword, std::string("\x01\x02", 2)},
        {"Nothing", kRegNone, ""},
        {"Unknown", 0x12345678, "?"},
        {"Text", kRegSz, std::string("G\0r\0\xFC\0\xDF\0e\0\0\0", 12)},
    };
    for (const auto& value : values) {
        ASSERT_EQ(api_->SetValueBytes(key, value.name, value.type, value.data), error::kSuccess) << value.name;
    }
    // The order in which values are listed differs between registries: look them up by name.
    std::vector<regfile::Value> read;
    for (regfile::Value value; api_->EnumValueBytes(key, static_cast<std::uint32_t>(read.size()), &value.name,
                                                    &value.type, &value.data) == error::kSuccess;) {
        read.push_back(value);
    }
    ASSERT_EQ(read.size(), values.size());
    for (const auto& value : values) {
        EXPECT_NE(std::find(read.begin(), read.end(), value), read.end()) << value.name;
    }
}

// A handle carries the access it was opened with; one of a deleted key is dead, also once the
// name is made again.
TEST_F(RegistrySemantics, HandlesKeepTheirAccessAndDieWithTheirKey) {
    Create(scratch_, "guarded");
    Key readOnly = kNullKey;
    Key writeOnly = kNullKey;
    ASSERT_EQ(Open(scratch_, "guarded", kKeyRead, &readOnly), error::kSuccess);
    ASSERT_EQ(Open(scratch_, "guarded", kKeyWrite, &writeOnly), error::kSuccess);
    const std::uint8_t number[4] = {1, 0, 0, 0};
    EXPECT_EQ(api_->SetValueEx(readOnly, "x", kRegDword, number, 4), error::kAccessDenied);
    EXPECT_EQ(api_->SetValueEx(writeOnly, "x", kRegDword, number, 4), error::kSuccess);
    std::uint32_t size = 0;
    EXPECT_EQ(api_->QueryValueEx(writeOnly, "x", nullptr, nullptr, &size), error::kAccessDenied);
    EXPECT_EQ(api_->QueryValueEx(readOnly, "x", nullptr, nullptr, &size), error::kSuccess);
    // Making and deleting a subkey asks nothing of the parent's handle.
    const Key doomed = Create(writeOnly, "doomed");
    ASSERT_EQ(SetText(doomed, "v", "x"), error::kSuccess);
    EXPECT_EQ(api_->DeleteKey(writeOnly, "doomed"), error::kSuccess);

    EXPECT_EQ(api_->QueryValueEx(doomed, "v", nullptr, nullptr, &size), error::kKeyDeleted);
    EXPECT_EQ(api_->SetValueEx(doomed, "v", kRegDword, number, 4), error::kKeyDeleted);
    char name[16];
    std::uint32_t length = sizeof name;
    EXPECT_EQ(api_->EnumKeyEx(doomed, 0, name, &length), error::kKeyDeleted);
    Key child = kNullKey;
    EXPECT_EQ(api_->CreateKey(doomed, "child", &child), error::kKeyDeleted);
    EXPECT_EQ(api_->FlushKey(doomed), error::kKeyDeleted);
    const Key reborn = Create(scratch_, "Doomed");
    EXPECT_EQ(api_->QueryValueEx(doomed, "v", nullptr, nullptr, &size), error::kKeyDeleted);
    EXPECT_EQ(api_->QueryValueEx(reborn, "v", nullptr, nullptr, &size), error::kFileNotFound);
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{"Doomed", "guarded"}));
}

TEST_F(RegistrySemantics, ConnectReachesTheLocalHiveUnderEveryNameAndNoOther) {
    const std::string name = LocalName();
    ASSERT_FALSE(name.empty());
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const std::string& form : {std::string(), name, lower, "\\\\" + name, backend_->UnreachableComputer()}) {
        const bool reachable = form != backend_->UnreachableComputer();
        Key root = reinterpret_cast<Key>(&root);
        EXPECT_EQ(api_->ConnectRegistry(form, kHKeyLocalMachine, &root), reachable ? error::kSuccess : error::kBadNetPath)
            << '"' << form << '"';
        if (!reachable) {
            EXPECT_EQ(root, kNullKey);
            continue;
        }
        Key key = kNullKey;
        EXPECT_EQ(api_->OpenKeyEx(root, backend_->ScratchPath(), 0, kKeyRead, &key), error::kSuccess) << form;
        api_->CloseKey(key);
        api_->CloseKey(root);
    }
    char tiny[2];
    std::uint32_t size = sizeof tiny;
    EXPECT_EQ(api_->LocalComputerName(tiny, &size), error::kBufferOverflow);
    EXPECT_EQ(size, name.size() + 1);
}

}  // namespace
}  // namespace kelvaston::platform
