// What only the advapi32 backend can get wrong, beyond the shared registry-semantics suite: text
// other programs wrote in Unicode, which reaches us through the ANSI code page, and values larger
// than the first buffer the backend tries. The registry is written through the wide-character
// functions, independently of the code under test.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/test_backend.h"
#include "platform/win32_registry.h"
#include "platform/windows_headers.h"

namespace kelvaston::platform {
namespace {

class Win32RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(registry_.CreateKey(kHKeyLocalMachine, backend_->ScratchPath(), &scratch_), error::kSuccess);
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, backend_->ScratchPath().c_str(), 0, KEY_ALL_ACCESS, &raw_),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(raw_);
        registry_.CloseKey(scratch_);
    }
    std::string Query(const std::string& name, std::uint32_t* type) {
        std::uint32_t size = 0;
        EXPECT_EQ(registry_.QueryValueEx(scratch_, name, type, nullptr, &size), error::kSuccess);
        std::string data(size, '\0');
        EXPECT_EQ(registry_.QueryValueEx(scratch_, name, type, reinterpret_cast<std::uint8_t*>(data.data()), &size),
                  error::kSuccess);
        return data.substr(0, size);
    }

    std::unique_ptr<test::TestBackend> backend_ = test::MakeTestBackend();
    Win32Registry registry_;
    Key scratch_ = kNullKey;
    HKEY raw_ = nullptr;
};

// Written in Unicode by another program: text of every kind comes back as UTF-8 with its NULs
// ("multi" is two strings and the list's end, "bare" was stored without any NUL).
TEST_F(Win32RegistryTest, TextOtherProgramsWroteInUnicodeReadsAsUtf8) {
    if (GetACP() != 1252 && GetACP() != CP_UTF8) GTEST_SKIP() << "code page " << GetACP() << " lacks the umlauts";
    const wchar_t expand[] = L"%WINDIR%\\B\u00e4r", multi[] = L"\u00e4\0\u00f6\0", bare[] = L"\u00fc";
    for (const auto& [name, type, bytes, size] :
         {std::tuple(L"expand", REG_EXPAND_SZ, expand, sizeof expand), std::tuple(L"multi", REG_MULTI_SZ, multi, sizeof multi),
          std::tuple(L"bare", REG_SZ, bare, sizeof bare - sizeof(wchar_t))}) {
        ASSERT_EQ(RegSetValueExW(raw_, name, 0, static_cast<DWORD>(type), reinterpret_cast<const BYTE*>(bytes),
                                 static_cast<DWORD>(size)),
                  ERROR_SUCCESS);
    }
    std::uint32_t type = 0;
    EXPECT_EQ(Query("expand", &type), std::string("%WINDIR%\\B\xC3\xA4r") + '\0');
    EXPECT_EQ(type, kRegExpandSz);
    EXPECT_EQ(Query("multi", &type), std::string("\xC3\xA4\0\xC3\xB6\0\0", 7));
    EXPECT_EQ(Query("bare", &type), std::string("\xC3\xBC") + '\0');
}

// The backend's first buffer is 256 bytes; a larger value must be read whole, by name and in
// the enumeration.
TEST_F(Win32RegistryTest, LargeValuesAreReadWhole) {
    std::string blob(5000, '\0');
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7);
    ASSERT_EQ(registry_.SetValueEx(scratch_, "blob", kRegBinary, reinterpret_cast<const std::uint8_t*>(blob.data()),
                                   static_cast<std::uint32_t>(blob.size())),
              error::kSuccess);
    std::uint32_t type = 0;
    EXPECT_EQ(Query("blob", &type), blob);
    std::string name;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(registry_.EnumValue(scratch_, 0, &name, nullptr, &data), error::kSuccess);
    EXPECT_EQ(std::string(data.begin(), data.end()), blob);
}

}  // namespace
}  // namespace kelvaston::platform
