// What the store relies on from the registry, checked through the RegistryApi alone. The same
// suite runs on every backend: the file store natively, advapi32 under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/registry_api.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "platform/test_backend.h"

namespace kelvaston::platform {
namespace {

namespace error = platform::error;

class RegistrySemantics : public ::testing::Test {
protected:
    void SetUp() override {
        backend_ = test::MakeTestBackend();
        api_ = &backend_->Api();
        ASSERT_EQ(api_->CreateKey(kHKeyLocalMachine, backend_->ScratchPath(), &scratch_), error::kSuccess);
        ASSERT_NE(scratch_, kNullKey);
    }
    void TearDown() override {
        for (Key key : open_) api_->CloseKey(key);
        if (scratch_ != kNullKey) api_->CloseKey(scratch_);
    }

    Key Create(Key parent, const std::string& name) {
        Key key = kNullKey;
        EXPECT_EQ(api_->CreateKey(parent, name, &key), error::kSuccess) << name;
        if (key != kNullKey) open_.push_back(key);
        return key;
    }
    Status Open(Key parent, const std::string& name, std::uint32_t access, Key* key) {
        const Status status = api_->OpenKeyEx(parent, name, 0, access, key);
        if (*key != kNullKey) open_.push_back(*key);
        return status;
    }
    std::vector<std::string> Subkeys(Key key) {
        std::vector<std::string> names;
        EXPECT_EQ(ListSubkeys(*api_, key, &names), error::kSuccess);
        return names;
    }
    void SetText(Key key, const std::string& name, const std::string& text) {
        ASSERT_EQ(api_->SetValueEx(key, name, kRegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                   static_cast<std::uint32_t>(text.size() + 1)),
                  error::kSuccess);
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

TEST_F(RegistrySemantics, NamesAreFoundWithoutRegardToCaseAndKeepTheirCase) {
    const Key key = Create(scratch_, "Tolvane Service");
    SetText(key, "POP Host", "pop.example.com");

    Key again = kNullKey;
    ASSERT_EQ(Open(scratch_, "TOLVANE SERVICE", kKeyRead, &again), error::kSuccess);
    EXPECT_EQ(Subkeys(scratch_), std::vector<std::string>{"Tolvane Service"});

    char data[64];
    std::uint32_t size = sizeof data;
    std::uint32_t type = 0;
    ASSERT_EQ(api_->QueryValueEx(again, "pop host", &type, reinterpret_cast<std::uint8_t*>(data), &size),
              error::kSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_STREQ(data, "pop.example.com");

    // Setting a value under another case replaces it and keeps the name it was created with.
    SetText(key, "POP HOST", "mail.example.com");
    std::string name;
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(api_->EnumValue(key, 0, &name, &type, &bytes), error::kSuccess);
    EXPECT_EQ(name, "POP Host");
    EXPECT_EQ(api_->EnumValue(key, 1, &name, &type, &bytes), error::kNoMoreItems);

    // Creating a key under another case opens the existing one.
    Create(scratch_, "TOLVANE service");
    EXPECT_EQ(Subkeys(scratch_), std::vector<std::string>{"Tolvane Service"});
}

TEST_F(RegistrySemantics, UmlautsCompareWithoutRegardToCase) {
    Create(scratch_, "M\xC3\xBCller");  // Müller
    Key key = kNullKey;
    EXPECT_EQ(Open(scratch_, "M\xC3\x9CLLER", kKeyRead, &key), error::kSuccess);  // MÜLLER
    EXPECT_EQ(Subkeys(scratch_), std::vector<std::string>{"M\xC3\xBCller"});
}

TEST_F(RegistrySemantics, SubkeysEnumerateSortedWithoutRegardToCase) {
    for (const char* name : {"b", "A", "volatile", "NORAS", "c"}) Create(scratch_, name);
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{"A", "b", "c", "NORAS", "volatile"}));

    // Deleting renumbers the rest: index 0 is always the first remaining key.
    ASSERT_EQ(api_->DeleteKey(scratch_, "A"), error::kSuccess);
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{"b", "c", "NORAS", "volatile"}));
}

TEST_F(RegistrySemantics, EnumerationPastTheEndLeavesTheBufferAlone) {
    Create(scratch_, "only");
    std::vector<char> buffer(500, ' ');
    std::uint32_t length = 500;
    EXPECT_EQ(api_->EnumKeyEx(scratch_, 1, buffer.data(), &length), error::kNoMoreItems);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](char c) { return c == ' '; }));

    length = 500;
    ASSERT_EQ(api_->EnumKeyEx(scratch_, 0, buffer.data(), &length), error::kSuccess);
    EXPECT_EQ(length, 4u);
    EXPECT_STREQ(buffer.data(), "only");

    length = 4;  // no room for the NUL
    EXPECT_EQ(api_->EnumKeyEx(scratch_, 0, buffer.data(), &length), error::kMoreData);
}

TEST_F(RegistrySemantics, KeyNamesUpTo255CharactersOnly) {
    const std::string longest(255, 'k');
    Create(scratch_, longest);
    EXPECT_EQ(Subkeys(scratch_), std::vector<std::string>{longest});
    // Characters count, not bytes: 255 umlauts are two bytes each in UTF-8.
    std::string umlauts;
    for (int i = 0; i < 255; ++i) umlauts += "\xC3\xA4";
    Key wide = kNullKey;
    EXPECT_EQ(api_->CreateKey(scratch_, umlauts, &wide), error::kSuccess);
    if (wide != kNullKey) api_->CloseKey(wide);
    EXPECT_EQ(api_->DeleteKey(scratch_, umlauts), error::kSuccess);

    Key key = reinterpret_cast<Key>(&key);  // a stale value that must not survive the call
    EXPECT_NE(api_->CreateKey(scratch_, std::string(256, 'k'), &key), error::kSuccess);
    EXPECT_EQ(key, kNullKey);
    EXPECT_EQ(Subkeys(scratch_), std::vector<std::string>{longest});
}

TEST_F(RegistrySemantics, DeleteRefusesKeysWithSubkeysAndMissingKeys) {
    const Key connection = Create(scratch_, "NORAS");
    Create(connection, "info");

    EXPECT_EQ(api_->DeleteKey(scratch_, "NORAS"), error::kAccessDenied);
    EXPECT_EQ(Subkeys(scratch_), std::vector<std::string>{"NORAS"});

    EXPECT_EQ(api_->DeleteKey(scratch_, "missing"), error::kFileNotFound);

    EXPECT_EQ(api_->DeleteKey(connection, "INFO"), error::kSuccess);
    EXPECT_EQ(api_->DeleteKey(scratch_, "NORAS"), error::kSuccess);
    EXPECT_TRUE(Subkeys(scratch_).empty());
}

TEST_F(RegistrySemantics, FailedOpenLeavesANullHandle) {
    Key key = reinterpret_cast<Key>(&key);
    EXPECT_EQ(api_->OpenKeyEx(scratch_, "missing\\deeper", 0, kKeyAllAccess, &key), error::kFileNotFound);
    EXPECT_EQ(key, kNullKey);
}

TEST_F(RegistrySemantics, CreateMakesEveryMissingKeyOnThePath) {
    Key account = Create(scratch_, "Arcor\\vertrieb");
    ASSERT_NE(account, kNullKey);
    EXPECT_EQ(Subkeys(scratch_), std::vector<std::string>{"Arcor"});
    Key connection = kNullKey;
    ASSERT_EQ(Open(scratch_, "Arcor", kKeyRead, &connection), error::kSuccess);
    EXPECT_EQ(Subkeys(connection), std::vector<std::string>{"vertrieb"});
}

TEST_F(RegistrySemantics, TextAndNumberValuesRoundTrip) {
    const Key key = Create(scratch_, "values");
    SetText(key, "empty", "");
    SetText(key, "text", "c:\\Log.txt");
    const std::uint8_t number[4] = {0x58, 0x02, 0, 0};  // 600
    ASSERT_EQ(api_->SetValueEx(key, "TimeOut", kRegDword, number, 4), error::kSuccess);

    std::uint32_t type = 0;
    std::uint32_t size = 0;
    ASSERT_EQ(api_->QueryValueEx(key, "text", &type, nullptr, &size), error::kSuccess);
    EXPECT_EQ(size, 11u);  // the text and its NUL

    std::uint8_t small[4];
    size = sizeof small;
    EXPECT_EQ(api_->QueryValueEx(key, "text", &type, small, &size), error::kMoreData);
    EXPECT_EQ(size, 11u);

    std::uint8_t data[16] = {};
    size = sizeof data;
    ASSERT_EQ(api_->QueryValueEx(key, "empty", &type, data, &size), error::kSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, 1u);

    size = sizeof data;
    ASSERT_EQ(api_->QueryValueEx(key, "timeout", &type, data, &size), error::kSuccess);
    EXPECT_EQ(type, kRegDword);
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(data[0] | (data[1] << 8), 600);

    EXPECT_EQ(api_->QueryValueEx(key, "missing", &type, data, &size), error::kFileNotFound);
    EXPECT_EQ(api_->DeleteValue(key, "TEXT"), error::kSuccess);
    EXPECT_EQ(api_->QueryValueEx(key, "text", &type, nullptr, &size), error::kFileNotFound);
}

// Values set as the registry's own bytes come back as exactly those bytes, whatever they hold:
// expandable and multi-part text with odd byte counts or unpaired surrogates, numbers of the
// wrong size, types nobody knows. (A REG_SZ is given as the text UTF-16LE it always is.)
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
    for (std::uint32_t index = 0;; ++index) {
        regfile::Value value;
        if (api_->EnumValueBytes(key, index, &value.name, &value.type, &value.data) != error::kSuccess) break;
        read.push_back(value);
    }
    ASSERT_EQ(read.size(), values.size());
    for (const auto& value : values) {
        const auto found = std::find_if(read.begin(), read.end(), [&](const auto& v) { return v.name == value.name; });
        ASSERT_NE(found, read.end()) << value.name;
        EXPECT_EQ(found->type, value.type) << value.name;
        EXPECT_EQ(found->data, value.data) << value.name;
    }
}

TEST_F(RegistrySemantics, PathsIgnoreEmptyNamesButNotALeadingBackslash) {
    Create(scratch_, "a\\b\\");
    Key key = kNullKey;
    EXPECT_EQ(Open(scratch_, "A\\B", kKeyRead, &key), error::kSuccess);
    EXPECT_EQ(Subkeys(scratch_), std::vector<std::string>{"a"});

    key = reinterpret_cast<Key>(&key);
    EXPECT_EQ(api_->CreateKey(scratch_, "\\lead", &key), error::kBadPathName);
    EXPECT_EQ(key, kNullKey);
    key = reinterpret_cast<Key>(&key);
    EXPECT_EQ(api_->OpenKeyEx(scratch_, "\\a", 0, kKeyRead, &key), error::kBadPathName);
    EXPECT_EQ(key, kNullKey);
    // A slash is part of a name, not a separator.
    Create(scratch_, "q/r");
    EXPECT_EQ(Subkeys(scratch_), (std::vector<std::string>{"a", "q/r"}));
}

TEST_F(RegistrySemantics, AHandleOfADeletedKeyIsDead) {
    const Key doomed = Create(scratch_, "doomed");
    SetText(doomed, "v", "x");
    ASSERT_EQ(api_->DeleteKey(scratch_, "doomed"), error::kSuccess);
    std::uint32_t size = 0;
    EXPECT_EQ(api_->QueryValueEx(doomed, "v", nullptr, nullptr, &size), error::kKeyDeleted);
    const std::uint8_t n[4] = {};
    EXPECT_EQ(api_->SetValueEx(doomed, "v", kRegDword, n, 4), error::kKeyDeleted);
    char name[16];
    std::uint32_t length = sizeof name;
    EXPECT_EQ(api_->EnumKeyEx(doomed, 0, name, &length), error::kKeyDeleted);
    Key child = kNullKey;
    EXPECT_EQ(api_->CreateKey(doomed, "child", &child), error::kKeyDeleted);
    EXPECT_EQ(api_->FlushKey(doomed), error::kKeyDeleted);
    // Recreating the name makes a new key; the old handle stays dead.
    Create(scratch_, "doomed");
    EXPECT_EQ(api_->QueryValueEx(doomed, "v", nullptr, nullptr, &size), error::kKeyDeleted);
}

TEST_F(RegistrySemantics, AccessIsLimitedToWhatTheHandleWasOpenedFor) {
    Create(scratch_, "guarded");
    Key readOnly = kNullKey;
    ASSERT_EQ(Open(scratch_, "guarded", kKeyRead, &readOnly), error::kSuccess);
    const std::uint8_t number[4] = {1, 0, 0, 0};
    EXPECT_EQ(api_->SetValueEx(readOnly, "x", kRegDword, number, 4), error::kAccessDenied);

    Key writeOnly = kNullKey;
    ASSERT_EQ(Open(scratch_, "guarded", kKeyWrite, &writeOnly), error::kSuccess);
    EXPECT_EQ(api_->SetValueEx(writeOnly, "x", kRegDword, number, 4), error::kSuccess);
    std::uint32_t size = 0;
    EXPECT_EQ(api_->QueryValueEx(writeOnly, "x", nullptr, nullptr, &size), error::kAccessDenied);
}

TEST_F(RegistrySemantics, ConnectReachesTheLocalHiveUnderEveryName) {
    std::string name = LocalName();
    ASSERT_FALSE(name.empty());
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const std::string& form : {std::string(), name, lower, "\\\\" + name}) {
        Key root = kNullKey;
        EXPECT_EQ(api_->ConnectRegistry(form, kHKeyLocalMachine, &root), error::kSuccess) << '"' << form << '"';
        ASSERT_NE(root, kNullKey) << form;
        Key key = kNullKey;
        EXPECT_EQ(api_->OpenKeyEx(root, backend_->ScratchPath(), 0, kKeyRead, &key), error::kSuccess) << form;
        if (key != kNullKey) api_->CloseKey(key);
        api_->CloseKey(root);
    }
}

TEST_F(RegistrySemantics, ConnectToAnUnknownComputerFailsWithANullHandle) {
    Key root = reinterpret_cast<Key>(&root);
    EXPECT_EQ(api_->ConnectRegistry(backend_->UnreachableComputer(), kHKeyLocalMachine, &root),
              error::kBadNetPath);
    EXPECT_EQ(root, kNullKey);
}

TEST_F(RegistrySemantics, ComputerNameReportsTheSizeItNeeds) {
    const std::string name = LocalName();
    char tiny[2];
    std::uint32_t size = sizeof tiny;
    EXPECT_EQ(api_->LocalComputerName(tiny, &size), error::kBufferOverflow);
    EXPECT_EQ(size, name.size() + 1);
}

}  // namespace
}  // namespace kelvaston::platform
