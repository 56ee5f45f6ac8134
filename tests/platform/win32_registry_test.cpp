// What only the advapi32 backend can get wrong, beyond the shared registry-semantics suite: the
// UTF-8 <-> ANSI code page conversion at the boundary, and buffer sizes that differ between the
// ANSI text advapi32 sees and the UTF-8 text the caller sees. The registry is checked through
// the wide-character functions, independently of the code under test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/win32_registry.h"
#include "platform/test_backend.h"

#include "platform/windows_headers.h"

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

const std::uint8_t* Data(const char* text) { return reinterpret_cast<const std::uint8_t*>(text); }

// Umlauts are in every Western code page (1252, 850, ...), but not in, say, 932.
#define SKIP_UNLESS_ACP_HOLDS(text)                                               \
    if (!AnsiCodePageHolds(text)) GTEST_SKIP() << "ANSI code page " << GetACP() \
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
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(raw_, Wide(name).c_str(), nullptr, nullptr,
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

// Guards: UTF-8 handed to the ANSI functions unconverted (either way), the name limit counted in
// bytes or left to advapi32, only REG_SZ text converted, REG_MULTI_SZ cut at its first NUL, a
// stored text without NUL delivered without one, text written past its first NUL or read past
// dataSize.
TEST_F(Win32RegistryTest, NamesAndTextAreConvertedThroughTheAnsiCodePage) {
    const std::string keyName = "Grüße äöü ÄÖÜ";
    const std::string name = "Größe";
    const std::string text = "Bär öl Üß";
    SKIP_UNLESS_ACP_HOLDS(keyName + name + text);
    Key key = kNullKey;
    ASSERT_EQ(error::kSuccess, registry_.CreateKey(scratch_, keyName, &key));
    registry_.CloseKey(key);
    HKEY wide = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(raw_, Wide(keyName).c_str(), 0, KEY_READ, &wide));
    if (wide != nullptr) RegCloseKey(wide);
    // The limit of 255 counts characters (255 umlauts pass: the shared suite). Wine itself
    // accepts 256, Windows does not.
    std::string tooLong;
    for (int i = 0; i < 256; ++i) tooLong += "ä";
    EXPECT_EQ(error::kInvalidParameter, registry_.CreateKey(scratch_, tooLong, &key));
    EXPECT_EQ(kNullKey, key);

    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, name, kRegSz, Data(text.c_str()),
                                                    static_cast<std::uint32_t>(text.size() + 1)));
    EXPECT_EQ(Wide(text) + L'\0', RawText(name));
    std::string enumName;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(error::kSuccess, registry_.EnumValue(scratch_, 0, &enumName, &type, &data));
    EXPECT_EQ(name, enumName);
    EXPECT_EQ(Bytes(text + '\0'), data);

    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "t", kRegSz, Data("abc\0tail"), 8));
    EXPECT_EQ(std::wstring(L"abc") + L'\0', RawText("t"));
    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "t", kRegSz, Data("abc"), 2));
    EXPECT_EQ(std::wstring(L"ab") + L'\0', RawText("t"));

    // Written in Unicode by someone else; "multi" is two strings and the list's final NUL,
    // "bare" is stored without any NUL.
    const wchar_t expand[] = L"%WINDIR%\\B\u00e4r", multi[] = L"\u00e4\0\u00f6\0";
    const wchar_t bare[] = L"\u00fc";
    for (const auto& [valueName, valueType, bytes, size] :
         {std::tuple(L"expand", REG_EXPAND_SZ, expand, sizeof expand),
          std::tuple(L"multi", REG_MULTI_SZ, multi, sizeof multi),
          std::tuple(L"bare", REG_SZ, bare, sizeof bare - sizeof(wchar_t))}) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(raw_, valueName, 0, static_cast<DWORD>(valueType),
                                                reinterpret_cast<const BYTE*>(bytes),
                                                static_cast<DWORD>(size)));
    }
    EXPECT_EQ(Bytes(std::string("%WINDIR%\\Bär") + '\0'), Query("expand", &type));
    EXPECT_EQ(kRegExpandSz, type);
    EXPECT_EQ(Bytes(std::string("ä\0ö\0\0", 7)), Query("multi", &type));
    EXPECT_EQ(Bytes(std::string("ü") + '\0'), Query("bare", &type));
}

// Guards: a best-fit or default character ("?mega") naming another key or value instead.
TEST_F(Win32RegistryTest, TextTheCodePageCannotHoldIsRefusedNotMangled) {
    const std::string omega = "Ωmega";
    if (AnsiCodePageHolds(omega)) GTEST_SKIP() << "ANSI code page " << GetACP() << " has Ω";
    Key key = 1234;
    EXPECT_EQ(error::kNoUnicodeTranslation, registry_.CreateKey(scratch_, omega, &key));
    EXPECT_EQ(kNullKey, key);
    EXPECT_EQ(error::kNoUnicodeTranslation,
              registry_.SetValueEx(scratch_, "v", kRegSz, Data(omega.c_str()),
                                   static_cast<std::uint32_t>(omega.size() + 1)));
    EXPECT_EQ(error::kNoUnicodeTranslation,
              registry_.SetValueEx(scratch_, "\xC3(", kRegDword, Data("\1\0\0\0"), 4));
    char buffer[64];
    std::uint32_t length = sizeof buffer;
    EXPECT_EQ(error::kNoMoreItems, registry_.EnumKeyEx(scratch_, 0, buffer, &length));
    std::string name;
    EXPECT_EQ(error::kNoMoreItems, registry_.EnumValue(scratch_, 0, &name, nullptr, nullptr));
}

// "äöü" is 4 bytes with its NUL in the code page but 7 in UTF-8: a buffer big enough for the
// first is still too small for what the caller gets. Guards: sizes measured in ANSI bytes, and a
// too small buffer written to or its length changed (EnumKeyEx).
TEST_F(Win32RegistryTest, BufferSizesCountUtf8Bytes) {
    const std::string text = "äöü";
    SKIP_UNLESS_ACP_HOLDS(text);
    Key key = kNullKey;
    ASSERT_EQ(error::kSuccess, registry_.CreateKey(scratch_, text, &key));
    registry_.CloseKey(key);
    char name[16];
    std::memset(name, 'Z', sizeof name);
    for (const std::uint32_t tooSmall : {4u, 6u}) {
        std::uint32_t length = tooSmall;
        EXPECT_EQ(error::kMoreData, registry_.EnumKeyEx(scratch_, 0, name, &length));
        EXPECT_EQ(tooSmall, length);
    }
    EXPECT_EQ(std::string(16, 'Z'), std::string(name, 16));
    std::uint32_t length = 7;
    EXPECT_EQ(error::kSuccess, registry_.EnumKeyEx(scratch_, 0, name, &length));
    EXPECT_EQ(6u, length);
    EXPECT_EQ(text, std::string(name));

    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "s", kRegSz, Data(text.c_str()), 7));
    std::uint32_t type = 0;
    std::uint8_t buffer[16];
    std::memset(buffer, 'Z', sizeof buffer);
    std::uint32_t size = 4;
    EXPECT_EQ(error::kMoreData, registry_.QueryValueEx(scratch_, "s", &type, buffer, &size));
    EXPECT_EQ(7u, size);
    EXPECT_EQ('Z', buffer[0]);
    EXPECT_EQ(Bytes(text + '\0'), Query("s"));
    type = 0;  // only the type: no size and no buffer
    EXPECT_EQ(error::kSuccess, registry_.QueryValueEx(scratch_, "s", &type, nullptr, nullptr));
    EXPECT_EQ(kRegSz, type);
    EXPECT_EQ(error::kInvalidParameter,
              registry_.QueryValueEx(scratch_, "s", &type, buffer, nullptr));
}

// Guards: the first buffer QueryValueEx and EnumValue try (256 bytes) not grown.
TEST_F(Win32RegistryTest, LargeValuesAreReadWhole) {
    std::vector<std::uint8_t> blob(5000);
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "blob", kRegBinary, blob.data(),
                                                    static_cast<std::uint32_t>(blob.size())));
    EXPECT_EQ(blob, Query("blob"));
    std::string name;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(error::kSuccess, registry_.EnumValue(scratch_, 0, &name, nullptr, &data));
    EXPECT_EQ(blob, data);
}

// Guards: named values read without their conversion, or a missing name failing the read
// instead of falling back to every value of the key.
TEST_F(Win32RegistryTest, NamedValuesComeInOneReadOrAllWhenOneIsMissing) {
    SKIP_UNLESS_ACP_HOLDS("M\xC3\xBCller");
    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "Name", kRegSz, Data("M\xC3\xBCller"), 8));
    const std::uint8_t four[4] = {4, 0, 0, 0};
    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "Zahl", kRegDword, four, 4));
    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "Andere", kRegSz, Data("x"), 2));

    std::vector<RegValue> values;
    bool all = true;
    ASSERT_EQ(error::kSuccess,
              registry_.QueryNamedValues(kHKeyLocalMachine, backend_->ScratchPath(), {"Zahl", "Name"}, &values, &all));
    EXPECT_FALSE(all);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, "Zahl");
    EXPECT_EQ(values[0].type, kRegDword);
    EXPECT_EQ(values[0].data, std::string("\x04\0\0\0", 4));
    EXPECT_EQ(values[1].name, "Name");
    EXPECT_EQ(values[1].data, std::string("M\xC3\xBCller\0", 8));

    ASSERT_EQ(error::kSuccess, registry_.QueryNamedValues(kHKeyLocalMachine, backend_->ScratchPath(),
                                                          {"Name", "Fehlt"}, &values, &all));
    EXPECT_TRUE(all);
    EXPECT_EQ(values.size(), 3u);
    EXPECT_EQ(registry_.QueryNamedValues(kHKeyLocalMachine, backend_->ScratchPath() + "\\Fehlt", {"Name"}, &values,
                                         &all),
              error::kFileNotFound);
}

// Guards: a name other than GetComputerName's, or cut short. Its buffer rules are in the shared
// suite.
TEST(Win32RegistryComputerNameTest, IsTheComputerNameInUtf8) {
    wchar_t wide[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD wideLength = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(wide, &wideLength));
    char expected[64];
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(wideLength), expected,
                                      sizeof expected, nullptr, nullptr);
    ASSERT_GT(n, 0);
    Win32Registry registry;
    char buffer[64];
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(error::kSuccess, registry.LocalComputerName(buffer, &size));
    EXPECT_EQ(std::string(expected, static_cast<std::size_t>(n)), std::string(buffer, size));
}

}  // namespace
}  // namespace kelvaston::platform
