// The registry-semantics suite against the real registry through advapi32 (Windows or Wine).
//
// Each test process gets a scratch key of its own below HKLM\SOFTWARE\KelvastonTest, named after
// its process id, so tests that ctest runs in parallel never meet. The scratch key is removed
// with advapi32 directly rather than through the code under test; a process id can be reused,
// so whatever an earlier, aborted run left behind goes first.
#include "platform/test_backend.h"
#include "platform/text.h"
#include "platform/win32_registry.h"
#include "platform/windows_headers.h"

namespace kelvaston::test {
namespace {

std::wstring Wide(const std::string& utf8) {
    const std::string units = platform::text::Utf8ToUtf16Le(utf8);
    std::wstring out;
    for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(units[i]) | (static_cast<unsigned char>(units[i + 1]) << 8)));
    }
    return out;
}
std::string Utf8(const std::wstring& wide) {
    std::string units;
    for (const wchar_t u : wide) units += {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF)};
    return platform::text::Utf16LeToUtf8(units);
}

class Win32TestBackend final : public TestBackend {
public:
    Win32TestBackend() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, scratch_.c_str()); }
    ~Win32TestBackend() override {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, scratch_.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KelvastonTest");  // fails while others still use it
    }
    platform::RegistryApi& Api() override { return registry_; }
    std::string ScratchPath() const override { return scratch_; }

    // The wide calls: the ANSI code page cannot carry most of these names.
    NameBatch CreateAndProbe(const std::string& parent, const std::vector<std::string>& names,
                             const std::vector<std::string>& probes) override {
        NameBatch batch;
        HKEY below = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(scratch_ + "\\" + parent).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &below, nullptr) != ERROR_SUCCESS) {
            return batch;
        }
        for (const std::string& name : names) {
            HKEY key = nullptr;
            if (RegCreateKeyExW(below, Wide(name).c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr) == ERROR_SUCCESS) {
                RegCloseKey(key);
            }
        }
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];
            DWORD length = 256;
            if (RegEnumKeyExW(below, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            batch.enumerated.push_back(Utf8(std::wstring(name, length)));
        }
        for (const std::string& probe : probes) {
            HKEY key = nullptr;
            batch.opened.push_back(RegOpenKeyExW(below, Wide(probe).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS);
            if (key != nullptr) RegCloseKey(key);
        }
        RegCloseKey(below);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(scratch_ + "\\" + parent).c_str());
        return batch;
    }

    // What Windows' own case mapping makes of the name: CharUpperBuffW and CharLowerBuffW, and
    // LCMapStringW in the invariant locale, plain and with linguistic casing.
    std::vector<std::string> OtherCaseForms(const std::string& name) const override {
        const std::wstring wide = Wide(name);
        std::vector<std::string> forms;
        std::wstring buffer = wide;
        CharUpperBuffW(buffer.data(), static_cast<DWORD>(buffer.size()));
        forms.push_back(Utf8(buffer));
        buffer = wide;
        CharLowerBuffW(buffer.data(), static_cast<DWORD>(buffer.size()));
        forms.push_back(Utf8(buffer));
        for (const DWORD flags : {DWORD{LCMAP_UPPERCASE}, DWORD{LCMAP_LOWERCASE}, DWORD{LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING},
                                  DWORD{LCMAP_LOWERCASE | LCMAP_LINGUISTIC_CASING}}) {
            wchar_t mapped[64];
            const int length = LCMapStringW(LOCALE_INVARIANT, flags, wide.c_str(), static_cast<int>(wide.size()), mapped, 64);
            if (length > 0) forms.push_back(Utf8(std::wstring(mapped, static_cast<std::size_t>(length))));
        }
        return forms;
    }

private:
    platform::Win32Registry registry_;
    std::string scratch_ = "SOFTWARE\\KelvastonTest\\" + std::to_string(GetCurrentProcessId());
};

}  // namespace

std::unique_ptr<TestBackend> MakeTestBackend() { return std::make_unique<Win32TestBackend>(); }

}  // namespace kelvaston::test
