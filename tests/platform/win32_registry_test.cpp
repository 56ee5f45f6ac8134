// What only the advapi32 backend can get wrong, beyond the shared registry-semantics suite: the
// UTF-8 <-> ANSI code page conversion at the boundary, and buffer sizes that differ between the
// ANSI text advapi32 sees and the UTF-8 text the caller sees. The registry is checked through
// the wide-character functions, independently of the code under test.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "platform/test_backend.h"
#include "platform/win32_registry.h"
#include "platform/windows_headers.h"

namespace kelvaston::platform {
namespace {

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
    return wide;
}

// Umlauts are in every Western code page (1252, 850, ...), but not in, say, 932; no Western one
// holds an omega.
bool AnsiCodePageHolds(const std::string& utf8) {
    const std::wstring wide = Wide(utf8);
    BOOL usedDefault = FALSE;
    char out[256];
    return GetACP() == CP_UTF8 || (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                                       out, sizeof out, nullptr, &usedDefault) > 0 && !usedDefault);
}

const std::uint8_t* Data(const char* text) { return reinterpret_cast<const std::uint8_t*>(text); }

class Win32RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(error::kSuccess, registry_.CreateKey(kHKeyLocalMachine, backend_->ScratchPath(), &scratch_));
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, backend_->ScratchPath().c_str(), 0, KEY_ALL_ACCESS, &raw_));
        if (!AnsiCodePageHolds("\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F")) GTEST_SKIP() << "ANSI code page " << GetACP() << " lacks umlauts";
    }
    void TearDown() override {
        RegCloseKey(raw_);
        registry_.CloseKey(scratch_);
    }
    // The value's bytes as the caller sees them, read with a buffer of exactly their size.
    std::string Query(const std::string& name, std::uint32_t* type = nullptr) {
        std::uint32_t size = 0;
        EXPECT_EQ(error::kSuccess, registry_.QueryValueEx(scratch_, name, type, nullptr, &size));
        std::string data(size, '\0');
        EXPECT_EQ(error::kSuccess, registry_.QueryValueEx(scratch_, name, type, reinterpret_cast<std::uint8_t*>(data.data()), &size));
        return data.substr(0, size);
    }

    std::unique_ptr<test::TestBackend> backend_ = test::MakeTestBackend();
    Win32Registry registry_;
    Key scratch_ = kNullKey;
    HKEY raw_ = nullptr;
};

// Guards: UTF-8 handed to the ANSI functions unconverted (either way), the name limit counted in
// bytes or left to advapi32 (Wine accepts 256 characters), only REG_SZ text converted,
// REG_MULTI_SZ cut at its first NUL, a stored text without NUL delivered without one, text
// written past its first NUL or past dataSize, a too small buffer written to, sizes in ANSI
// bytes, the first buffer tried (256 bytes) not grown, text the code page lacks mangled.
TEST_F(Win32RegistryTest, NamesTextAndSizesAreConvertedThroughTheAnsiCodePage) {
    const std::string keyName = "Gr\xC3\xBC\xC3\x9F" "e \xC3\xA4\xC3\xB6\xC3\xBC", text = "B\xC3\xA4r \xC3\xB6l \xC3\x9F";
    Key key = kNullKey;
    ASSERT_EQ(error::kSuccess, registry_.CreateKey(scratch_, keyName, &key));
    registry_.CloseKey(key);
    HKEY wide = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(raw_, Wide(keyName).c_str(), 0, KEY_READ, &wide));
    RegCloseKey(wide);
    std::string tooLong;
    for (int i = 0; i < 256; ++i) tooLong += "\xC3\xA4";
    EXPECT_EQ(error::kInvalidParameter, registry_.CreateKey(scratch_, tooLong, &key));
    EXPECT_EQ(kNullKey, key);
    char name[32];
    std::memset(name, 'Z', sizeof name);
    for (const auto& [room, status, length] : {std::tuple(10u, error::kMoreData, 10u), std::tuple(15u, error::kSuccess, 14u)}) {
        std::uint32_t size = room;
        EXPECT_EQ(status, registry_.EnumKeyEx(scratch_, 0, name, &size));
        EXPECT_EQ(length, size);
        EXPECT_EQ(status == error::kSuccess ? keyName : std::string(10, 'Z'), std::string(name, status == error::kSuccess ? 14 : 10));
    }

    const auto raw = [&](const wchar_t* valueName) {
        wchar_t buffer[256] = {};
        DWORD size = sizeof buffer;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(raw_, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size));
        return std::wstring(buffer, size / sizeof(wchar_t));
    };
    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, keyName, kRegSz, Data(text.c_str()), 12));
    EXPECT_EQ(Wide(text) + L'\0', raw(Wide(keyName).c_str()));
    std::string enumName;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(error::kSuccess, registry_.EnumValue(scratch_, 0, &enumName, &type, &bytes));
    EXPECT_EQ(keyName, enumName);
    EXPECT_EQ(text + '\0', std::string(bytes.begin(), bytes.end()));
    std::uint32_t size = 11;
    std::memset(name, 'Z', sizeof name);
    EXPECT_EQ(error::kMoreData, registry_.QueryValueEx(scratch_, keyName, &type, reinterpret_cast<std::uint8_t*>(name), &size));
    EXPECT_EQ(12u, size);
    EXPECT_EQ('Z', name[0]);
    EXPECT_EQ(error::kInvalidParameter, registry_.QueryValueEx(scratch_, keyName, &type, reinterpret_cast<std::uint8_t*>(name), nullptr));
    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "t", kRegSz, Data("abc\0tail"), 8));
    EXPECT_EQ(std::wstring(L"abc") + L'\0', raw(L"t"));
    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "t", kRegSz, Data("abc"), 2));
    EXPECT_EQ(std::wstring(L"ab") + L'\0', raw(L"t"));

    // Written in Unicode by someone else: "multi" is two strings and the list's final NUL, "bare"
    // is stored without any NUL.
    const wchar_t expand[] = L"%WINDIR%\\B\u00e4r", multi[] = L"\u00e4\0\u00f6\0", bare[] = L"\u00fc";
    for (const auto& [valueName, valueType, wide, bytesSize] : {std::tuple(L"expand", REG_EXPAND_SZ, expand, sizeof expand),
                                                                std::tuple(L"multi", REG_MULTI_SZ, multi, sizeof multi),
                                                                std::tuple(L"bare", REG_SZ, bare, sizeof bare - sizeof(wchar_t))}) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(raw_, valueName, 0, static_cast<DWORD>(valueType),
                                                reinterpret_cast<const BYTE*>(wide), static_cast<DWORD>(bytesSize)));
    }
    EXPECT_EQ(std::string("%WINDIR%\\B\xC3\xA4r") + '\0', Query("expand", &type));
    EXPECT_EQ(kRegExpandSz, type);
    EXPECT_EQ(std::string("\xC3\xA4\0\xC3\xB6\0\0", 7), Query("multi"));
    EXPECT_EQ(std::string("\xC3\xBC") + '\0', Query("bare"));
    std::string blob(5000, '\0');
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7);
    ASSERT_EQ(error::kSuccess, registry_.SetValueBytes(scratch_, "blob", kRegBinary, blob));
    EXPECT_EQ(blob, Query("blob"));

    if (AnsiCodePageHolds("\xCE\xA9")) return;
    key = reinterpret_cast<Key>(&key);
    EXPECT_EQ(error::kNoUnicodeTranslation, registry_.CreateKey(scratch_, "\xCE\xA9mega", &key));
    EXPECT_EQ(kNullKey, key);
    EXPECT_EQ(error::kNoUnicodeTranslation, registry_.SetValueEx(scratch_, "v", kRegSz, Data("\xCE\xA9mega"), 7));
    EXPECT_EQ(error::kNoUnicodeTranslation, registry_.SetValueEx(scratch_, "\xC3(", kRegDword, Data("\1\0\0\0"), 4));
}

// Guards: named values read without their conversion, or a missing name failing the read
// instead of falling back to every value of the key.
TEST_F(Win32RegistryTest, NamedValuesComeInOneReadOrAllWhenOneIsMissing) {
    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "Name", kRegSz, Data("M\xC3\xBCller"), 8));
    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "Zahl", kRegDword, Data("\4\0\0\0"), 4));
    ASSERT_EQ(error::kSuccess, registry_.SetValueEx(scratch_, "Andere", kRegSz, Data("x"), 2));
    std::vector<RegValue> values;
    bool all = true;
    const std::string path = backend_->ScratchPath();
    ASSERT_EQ(error::kSuccess, registry_.QueryNamedValues(kHKeyLocalMachine, path, {"Zahl", "Name"}, &values, &all));
    EXPECT_FALSE(all);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name + values[0].data, std::string("Zahl\4\0\0\0", 8));
    EXPECT_EQ(values[1].name + values[1].data, std::string("NameM\xC3\xBCller\0", 12));
    ASSERT_EQ(error::kSuccess, registry_.QueryNamedValues(kHKeyLocalMachine, path, {"Name", "Fehlt"}, &values, &all));
    EXPECT_TRUE(all);
    EXPECT_EQ(values.size(), 3u);
    EXPECT_EQ(registry_.QueryNamedValues(kHKeyLocalMachine, path + "\\Fehlt", {"Name"}, &values, &all), error::kFileNotFound);
}

}  // namespace
}  // namespace kelvaston::platform
