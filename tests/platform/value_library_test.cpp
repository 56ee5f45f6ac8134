// The value library's contract: text and numbers in and out, a missing value told apart from an
// empty one by the result, a too-long text cut to the buffer, bad digits never written.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/file_store.h"
#include "platform/text.h"
#include "platform/value_library.h"
#include "support/temp_dir.h"

namespace kelvaston::platform {
namespace {

class ValueLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(store_.CreateKey(kHKeyLocalMachine, "SOFTWARE\\T", &key_), error::kSuccess); }
    void TearDown() override { store_.CloseKey(key_); }

    Status Get(const std::string& name, std::string* text, std::uint32_t size = 255) {
        const std::size_t bytes = size * text::kMaxUtf8BytesPerCharacter;
        buffer_.assign(bytes, '\0');
        const Status status = values_.GetValue(kHKeyLocalMachine, "software\\t", name, kTypeText, buffer_.data(), size);
        *text = std::string(buffer_.data(), strnlen(buffer_.data(), bytes));
        return status;
    }

    test::TempDir dir_;
    FileStoreRegistry store_{FileStoreOptions{dir_.Path(), "Desk1"}};
    ValueLibrary values_{store_};
    Key key_ = kNullKey;
    std::vector<char> buffer_;
};

TEST_F(ValueLibraryTest, NumbersAndTextsRoundTripThroughTheirTypes) {
    ASSERT_EQ(values_.SetValue(key_, "TimeOut", kTypeNumber, "600", 4), error::kSuccess);
    ASSERT_EQ(values_.SetValue(key_, "Max", kTypeNumber, " 4294967295 ", 4), error::kSuccess);
    ASSERT_EQ(values_.SetValue(key_, "Host", kTypeText, "pop.example.com and more", 15), error::kSuccess);
    ASSERT_EQ(values_.SetValue(key_, "Empty", kTypeText, "", 0), error::kSuccess);

    std::uint32_t type = 0;
    std::uint32_t size = 0;
    ASSERT_EQ(store_.QueryValueEx(key_, "TimeOut", &type, nullptr, &size), error::kSuccess);
    EXPECT_EQ(type, kRegDword);
    EXPECT_EQ(size, 4u);

    std::string text;
    EXPECT_EQ(Get("TimeOut", &text), error::kSuccess);
    EXPECT_EQ(text, "600");
    EXPECT_EQ(Get("max", &text), error::kSuccess);
    EXPECT_EQ(text, "4294967295");
    EXPECT_EQ(Get("Host", &text), error::kSuccess);
    EXPECT_EQ(text, "pop.example.com");
    EXPECT_EQ(Get("Empty", &text), error::kSuccess);
    EXPECT_EQ(text, "");
    EXPECT_EQ(Get("Missing", &text), error::kFileNotFound);
}

TEST_F(ValueLibraryTest, DigitsThatAreNoDwordAreRefusedAndWriteNothing) {
    for (const char* bad : {"", "abc", "-1", "12a", "4294967296", "99999999999999999999", "1.5", "+7"}) {
        EXPECT_EQ(values_.SetValue(key_, "Bad", kTypeNumber, bad, 4), error::kInvalidData) << bad;
    }
    std::uint32_t size = 0;
    EXPECT_EQ(store_.QueryValueEx(key_, "Bad", nullptr, nullptr, &size), error::kFileNotFound);
}

TEST_F(ValueLibraryTest, MissingKeyAndUnreadableTypesLeaveTheBufferAlone) {
    const std::uint8_t blob[3] = {1, 2, 3};
    ASSERT_EQ(store_.SetValueEx(key_, "Blob", kRegBinary, blob, 3), error::kSuccess);
    char buffer[32];
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_NE(values_.GetValue(kHKeyLocalMachine, "software\\t", "Blob", kTypeText, buffer, 8), error::kSuccess);
    EXPECT_NE(values_.GetValue(kHKeyLocalMachine, "software\\none", "x", kTypeText, buffer, 8), error::kSuccess);
    EXPECT_EQ(std::string(buffer, 32), std::string(32, '\0'));
}

TEST_F(ValueLibraryTest, ALongTextIsCutToTheBuffersCharacters) {
    const std::string longText = "a" + std::string(300, 'x');
    ASSERT_EQ(values_.SetValue(key_, "Long", kTypeText, longText, 301), error::kSuccess);
    std::string text;
    EXPECT_EQ(Get("Long", &text), error::kMoreData);
    EXPECT_EQ(text, longText.substr(0, 255));

    // Characters count, not bytes: 300 umlauts come back as 255 umlauts, 510 bytes.
    std::string umlauts;
    for (int i = 0; i < 300; ++i) umlauts += "\xC3\xA4";
    ASSERT_EQ(values_.SetValue(key_, "Wide", kTypeText, umlauts, static_cast<std::uint32_t>(umlauts.size())),
              error::kSuccess);
    EXPECT_EQ(Get("Wide", &text), error::kMoreData);
    EXPECT_EQ(text, umlauts.substr(0, 510));
    EXPECT_EQ(Get("Wide", &text, 3), error::kMoreData);
    EXPECT_EQ(text, umlauts.substr(0, 6));
}

}  // namespace
}  // namespace kelvaston::platform
