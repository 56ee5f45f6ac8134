// The value library's contract: text and numbers in and out, a missing value told apart from an
// empty one by the result, a too-long text cut to the buffer's characters, bad digits never
// written, a buffer left alone when there is nothing to give.
#include "platform/value_library.h"

#include <gtest/gtest.h>

#include "platform/file_store.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace kelvaston::platform {
namespace {

TEST(ValueLibrary, TextsAndNumbersRoundTripThroughTheirTypes) {
    test::TempDir dir;
    FileStoreRegistry store{FileStoreOptions{dir.Path(), "Desk1"}};
    ValueLibrary values{store};
    Key key = kNullKey;
    ASSERT_EQ(store.CreateKey(kHKeyLocalMachine, "SOFTWARE\\T", &key), error::kSuccess);
    std::string umlauts;
    for (int i = 0; i < 300; ++i) umlauts += "\xC3\xA4";
    const std::uint8_t blob[3] = {1, 2, 3};
    ASSERT_EQ(store.SetValueEx(key, "Blob", kRegBinary, blob, 3), error::kSuccess);
    const struct {
        const char* name;
        int type;
        std::string set;
        std::uint32_t size, room;  // what SetValue is given, the characters GetValue may give
        Status status;
        std::string got;
    } cases[] = {{"TimeOut", kTypeNumber, "600", 4, 255, error::kSuccess, "600"},
                 {"Max", kTypeNumber, " 4294967295 ", 4, 255, error::kSuccess, "4294967295"},
                 {"Host", kTypeText, "pop.example.com and more", 15, 255, error::kSuccess, "pop.example.com"},
                 {"Empty", kTypeText, "", 0, 255, error::kSuccess, ""},
                 {"Long", kTypeText, "a" + std::string(300, 'x'), 301, 255, error::kMoreData, "a" + std::string(254, 'x')},
                 {"Wide", kTypeText, umlauts, 600, 255, error::kMoreData, umlauts.substr(0, 510)},
                 {"Narrow", kTypeText, umlauts, 600, 3, error::kMoreData, umlauts.substr(0, 6)}};
    for (const auto& c : cases) {
        ASSERT_EQ(values.SetValue(key, c.name, c.type, c.set, c.size), error::kSuccess) << c.name;
        std::vector<char> buffer(c.room * text::kMaxUtf8BytesPerCharacter + 1, '\0');
        EXPECT_EQ(values.GetValue(kHKeyLocalMachine, "software\\t", c.name, kTypeText, buffer.data(), c.room), c.status);
        EXPECT_EQ(std::string(buffer.data()), c.got) << c.name;
    }
    std::uint32_t type = 0, size = 0;
    ASSERT_EQ(store.QueryValueEx(key, "TimeOut", &type, nullptr, &size), error::kSuccess);
    EXPECT_EQ(type, kRegDword);
    EXPECT_EQ(size, 4u);
    for (const char* bad : {"", "abc", "-1", "12a", "4294967296", "99999999999999999999", "1.5", "+7"}) {
        EXPECT_EQ(values.SetValue(key, "Bad", kTypeNumber, bad, 4), error::kInvalidData) << bad;
    }
    EXPECT_EQ(store.QueryValueEx(key, "Bad", nullptr, nullptr, &size), error::kFileNotFound);
    char buffer[32] = {};
    EXPECT_EQ(values.GetValue(kHKeyLocalMachine, "software\\t", "Missing", kTypeText, buffer, 8), error::kFileNotFound);
    EXPECT_NE(values.GetValue(kHKeyLocalMachine, "software\\t", "Blob", kTypeText, buffer, 8), error::kSuccess);
    EXPECT_NE(values.GetValue(kHKeyLocalMachine, "software\\none", "x", kTypeText, buffer, 8), error::kSuccess);
    EXPECT_EQ(std::string(buffer, 32), std::string(32, '\0'));
    store.CloseKey(key);
}

}  // namespace
}  // namespace kelvaston::platform
