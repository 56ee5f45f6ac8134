// What only the advapi32 backend can get wrong: the UTF-8 <-> ANSI code page conversion at the
// boundary, and buffer sizes that differ between the ANSI text advapi32 sees and the UTF-8 text
// the caller sees. The registry is checked through the wide-character functions, independently
// of the code under test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32_registry.h"
#include "platform/test_backend.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace kelvaston::platform {
namespace {

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                      wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(n));
    return wide;
}

bool AnsiCodePageHolds(const std::string& utf8) {
    if (GetACP() == CP_UTF8) return true;
    const std::wstring wide = Wide(utf8);
    BOOL usedDefault = FALSE;
    char out[256];
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                      static_cast<int>(wide.size()), out, sizeof out, nullptr,
                                      &usedDefault);
    return n > 0 && !usedDefault;
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// Umlauts are in every Western code page (1252, 850, ...), but not in, say, 932.
#define SKIP_UNLESS_ACP_HOLDS(text)                                                     \
    if (!AnsiCodePageHolds(text)) GTEST_SKIP() << "ANSI code page " << GetACP()       \
                                               << " cannot represent the test text"

class Win32RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        backend_ = test::MakeTestBackend();
        ASSERT_EQ(error::kSuccess,
                  registry_.CreateKey(kHKeyLocalMachine, backend_->ScratchPath(), &scratch_));
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, backend_->ScratchPath().c_str(),
                                               0, KEY_ALL_ACCESS, &raw_));
    }
    void TearDown() override {
        if (raw_ != nullptr) RegCloseKey(raw_);
        if (scratch_ != kNullKey) registry_.CloseKey(scratch_);
        backend_.reset();
    }

    // The value as the wide-character functions see it, NULs included.
    std::wstring RawText(const std::string& name) {
        wchar_t buffer[256] = {};
        DWORD size = sizeof buffer;
        DWORD type = 0;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(raw_, Wide(name).c_str(), nullptr, &type,
                                                  reinterpret_cast<BYTE*>(buffer), &size));
        return std::wstring(buffer, size / sizeof(wchar_t));
    }

    std::vector<std::uint8_t> Query(const std::string& name, std::uint32_t* type = nullptr) {
        std::uint32_t size = 0;
        EXPECT_EQ(error::kSuccess, registry_.QueryValueEx(scratch_, name, type, nullptr, &size));
        std::vector<std::uint8_t> data(size);
        EXPECT_EQ(error::kSuccess,
                  registry_.QueryValueEx(scratch_, name, type, data.data(), &size));
        EXPECT_EQ(data.size(), size);
        return data;
    }

    std::unique_ptr<test::TestBackend> backend_;
    Win32Registry registry_;
    Key scratch_ = kNullKey;
    HKEY raw_ = nullptr;
};

using Win32RegistryAnsiTest = Win32RegistryTest;

TEST_F(Win32RegistryAnsiTest, KeyNameWithUmlautsIsStoredAsThoseCharacters) {
    const std::string name = "Grüße äöü ÄÖÜ";
    SKIP_UNLESS_ACP_HOLDS(name);
    Key key = kNullKey;
    ASSERT_EQ(error::kSuccess, registry_.CreateKey(scratch_, name, &key));
    EXPECT_EQ(error::kSuccess, registry_.CloseKey(key));

    HKEY wide = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(raw_, Wide(name).c_str(), 0, KEY_READ, &wide));
    if (wide != nullptr) RegCloseKey(wide);

    char buffer[64];
    std::uint32_t length = sizeof buffer;
    ASSERT_EQ(error::kSuccess, registry_.EnumKeyEx(scratch_, 0, buffer, &length));
    EXPECT_EQ(name, std::string(buffer, length));
    EXPECT_EQ('\0', buffer[length]);

    EXPECT_EQ(error::kSuccess, registry_.OpenKeyEx(scratch_, name, 0, kKeyRead, &key));
    EXPECT_NE(kNullKey, key);
    registry_.CloseKey(key);
    EXPECT_EQ(error::kSuccess, registry_.DeleteKey(scratch_, name));
    EXPECT_EQ(error::kNoMoreItems, registry_.EnumKeyEx(scratch_, 0, buffer, &length));
}

// The limit of 255 is in characters, not in the bytes of either encoding.
TEST_F(Win32RegistryAnsiTest, KeyNameLimitCountsCharacters) {
    SKIP_UNLESS_ACP_HOLDS("ä");
    std::string longest;
    for (int i = 0; i < 255; ++i) longest += "ä";
    Key key = kNullKey;
    EXPECT_EQ(error::kSuccess, registry_.CreateKey(scratch_, longest, &key));
    registry_.CloseKey(key);
    EXPECT_EQ(error::kInvalidParameter, registry_.CreateKey(scratch_, longest + "ä", &key));
    EXPECT_EQ(kNullKey, key);
}

TEST_F(Win32RegistryAnsiTest, StringValueWithUmlautsRoundTrips) {
    const std::string name = "Größe";
    const std::string text = "Bär öl Üß";
    SKIP_UNLESS_ACP_HOLDS(name + text);
    ASSERT_EQ(error::kSuccess,
              registry_.SetValueEx(scratch_, name, kRegSz,
                                   reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                   static_cast<std::uint32_t>(text.size() + 1)));
    EXPECT_EQ(Wide(text) + L'\0', RawText(name));

    std::uint32_t type = 0;
    EXPECT_EQ(Bytes(text + '\0'), Query(name, &type));
    EXPECT_EQ(kRegSz, type);

    std::string enumName;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(error::kSuccess, registry_.EnumValue(scratch_, 0, &enumName, &type, &data));
    EXPECT_EQ(name, enumName);
    EXPECT_EQ(Bytes(text + '\0'), data);

    EXPECT_EQ(error::kSuccess, registry_.DeleteValue(scratch_, name));
    EXPECT_EQ(error::kNoMoreItems, registry_.EnumValue(scratch_, 0, &enumName, &type, &data));
}

TEST_F(Win32RegistryAnsiTest, TextWrittenInUnicodeIsDeliveredAsUtf8WithItsNul) {
    SKIP_UNLESS_ACP_HOLDS("äöü");
    const std::wstring expand = L"%WINDIR%\\B\u00e4r";
    const wchar_t multi[] = L"\u00e4\0\u00f6\0";  // two strings and the list's final NUL
    const std::wstring unterminated = L"\u00fc";  // stored without any NUL
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(raw_, L"expand", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(expand.c_str()),
                             static_cast<DWORD>((expand.size() + 1) * sizeof(wchar_t))));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(raw_, L"multi", 0, REG_MULTI_SZ,
                                            reinterpret_cast<const BYTE*>(multi), sizeof multi));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(raw_, L"bare", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(unterminated.c_str()),
                             static_cast<DWORD>(unterminated.size() * sizeof(wchar_t))));

    std::uint32_t type = 0;
    EXPECT_EQ(Bytes(std::string("%WINDIR%\\Bär") + '\0'), Query("expand", &type));
    EXPECT_EQ(kRegExpandSz, type);
    EXPECT_EQ(Bytes(std::string("ä\0ö\0\0", 7)), Query("multi", &type));
    EXPECT_EQ(kRegMultiSz, type);
    EXPECT_EQ(Bytes(std::string("ü") + '\0'), Query("bare", &type));
}

TEST_F(Win32RegistryAnsiTest, TextTheCodePageCannotHoldIsRefusedNotMangled) {
    const std::string omega = "Ωmega";
    if (AnsiCodePageHolds(omega)) GTEST_SKIP() << "ANSI code page " << GetACP() << " has Ω";
    Key key = 1234;
    EXPECT_EQ(error::kNoUnicodeTranslation, registry_.CreateKey(scratch_, omega, &key));
    EXPECT_EQ(kNullKey, key);
    EXPECT_EQ(error::kNoUnicodeTranslation,
              registry_.SetValueEx(scratch_, "v", kRegSz,
                                   reinterpret_cast<const std::uint8_t*>(omega.c_str()),
                                   static_cast<std::uint32_t>(omega.size() + 1)));
    const std::string brokenUtf8 = "\xC3(";
    EXPECT_EQ(error::kNoUnicodeTranslation,
              registry_.SetValueEx(scratch_, brokenUtf8, kRegDword,
                                   reinterpret_cast<const std::uint8_t*>("\1\0\0\0"), 4));
    // Nothing named "?mega" or similar was created instead.
    char buffer[64];
    std::uint32_t length = sizeof buffer;
    EXPECT_EQ(error::kNoMoreItems, registry_.EnumKeyEx(scratch_, 0, buffer, &length));
    std::string name;
    EXPECT_EQ(error::kNoMoreItems, registry_.EnumValue(scratch_, 0, &name, nullptr, nullptr));
}

using Win32RegistryBufferTest = Win32RegistryTest;

// "äöü" is 3 bytes in the ANSI code page but 6 in UTF-8: a buffer big enough for the first is
// still too small for what the caller gets.
TEST_F(Win32RegistryBufferTest, EnumKeyExMeasuresTheUtf8Name) {
    SKIP_UNLESS_ACP_HOLDS("äöü");
    Key key = kNullKey;
    for (const char* name : {"volatile", "äöü"}) {
        ASSERT_EQ(error::kSuccess, registry_.CreateKey(scratch_, name, &key));
        registry_.CloseKey(key);
    }
    struct Case {
        std::uint32_t index;
        std::uint32_t bufferLength;
        Status expected;
    };
    for (const Case& c : {Case{0, 8, error::kMoreData}, Case{0, 9, error::kSuccess},
                          Case{1, 4, error::kMoreData}, Case{1, 6, error::kMoreData},
                          Case{1, 7, error::kSuccess}}) {
        SCOPED_TRACE(testing::Message() << "index " << c.index << ", length " << c.bufferLength);
        char buffer[16];
        std::memset(buffer, 'Z', sizeof buffer);
        std::uint32_t length = c.bufferLength;
        EXPECT_EQ(c.expected, registry_.EnumKeyEx(scratch_, c.index, buffer, &length));
        if (c.expected == error::kSuccess) {
            EXPECT_EQ(c.bufferLength - 1, length);
            EXPECT_EQ('\0', buffer[length]);
        } else {  // neither the buffer nor the length touched
            EXPECT_EQ(c.bufferLength, length);
            EXPECT_EQ(std::string(16, 'Z'), std::string(buffer, 16));
        }
    }
}

TEST_F(Win32RegistryBufferTest, QueryValueExReportsTheSizeTheCallerNeeds) {
    SKIP_UNLESS_ACP_HOLDS("äöü");
    const std::string text = "äöü";  // 4 bytes with NUL in the code page, 7 in UTF-8
    ASSERT_EQ(error::kSuccess,
              registry_.SetValueEx(scratch_, "s", kRegSz,
                                   reinterpret_cast<const std::uint8_t*>(text.c_str()), 7));
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(error::kSuccess, registry_.QueryValueEx(scratch_, "s", &type, nullptr, &size));
    EXPECT_EQ(7u, size);
    std::uint8_t buffer[16];
    std::memset(buffer, 'Z', sizeof buffer);
    size = 4;
    EXPECT_EQ(error::kMoreData, registry_.QueryValueEx(scratch_, "s", &type, buffer, &size));
    EXPECT_EQ(7u, size);
    EXPECT_EQ('Z', buffer[0]);
    size = 7;
    EXPECT_EQ(error::kSuccess, registry_.QueryValueEx(scratch_, "s", &type, buffer, &size));
    EXPECT_EQ(7u, size);
    EXPECT_EQ(0, std::memcmp(buffer, text.c_str(), 7));

    // Only the type: no size and no buffer.
    type = 0;
    EXPECT_EQ(error::kSuccess, registry_.QueryValueEx(scratch_, "s", &type, nullptr, nullptr));
    EXPECT_EQ(kRegSz, type);
    EXPECT_EQ(error::kInvalidParameter,
              registry_.QueryValueEx(scratch_, "s", &type, buffer, nullptr));
}

// Larger than the first buffer either QueryValueEx or EnumValue tries.
TEST_F(Win32RegistryBufferTest, LargeValuesAreReadWhole) {
    std::vector<std::uint8_t> blob(5000);
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "blob", kRegBinary, blob.data(),
                                                    static_cast<std::uint32_t>(blob.size())));
    std::uint32_t type = 0;
    EXPECT_EQ(blob, Query("blob", &type));
    EXPECT_EQ(kRegBinary, type);
    std::string name;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(error::kSuccess, registry_.EnumValue(scratch_, 0, &name, &type, &data));
    EXPECT_EQ("blob", name);
    EXPECT_EQ(blob, data);
}

TEST_F(Win32RegistryBufferTest, StringTextEndsAtItsFirstNul) {
    const char withTail[] = "abc\0tail";
    ASSERT_EQ(error::kSuccess,
              registry_.SetValueEx(scratch_, "s", kRegSz,
                                   reinterpret_cast<const std::uint8_t*>(withTail), 8));
    EXPECT_EQ(std::wstring(L"abc") + L'\0', RawText("s"));
    // No NUL within dataSize at all: the terminator is added.
    ASSERT_EQ(error::kSuccess,
              registry_.SetValueEx(scratch_, "t", kRegSz,
                                   reinterpret_cast<const std::uint8_t*>(withTail), 2));
    EXPECT_EQ(std::wstring(L"ab") + L'\0', RawText("t"));
}

TEST(Win32RegistryComputerNameTest, IsGetComputerNameInUtf8WithItsBufferRules) {
    wchar_t wide[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD wideLength = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(wide, &wideLength));
    char expected[64];
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(wideLength), expected,
                                      sizeof expected, nullptr, nullptr);
    ASSERT_GT(n, 0);
    const auto length = static_cast<std::uint32_t>(n);

    Win32Registry registry;
    char buffer[64];
    std::uint32_t size = length;  // no room for the NUL
    EXPECT_EQ(error::kBufferOverflow, registry.LocalComputerName(buffer, &size));
    EXPECT_EQ(length + 1, size);
    EXPECT_EQ(error::kSuccess, registry.LocalComputerName(buffer, &size));
    EXPECT_EQ(length, size);
    EXPECT_EQ(std::string(expected, length), std::string(buffer));
}

}  // namespace
}  // namespace kelvaston::platform
