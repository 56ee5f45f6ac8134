// The registry-semantics suite against the real registry through advapi32 (Windows or Wine).
//
// Each test process gets a scratch key of its own below HKLM\SOFTWARE\KelvastonTest, named after
// its process id, so tests that ctest runs in parallel never meet. The scratch key is removed
// with advapi32 directly rather than through the code under test.
#include <memory>
#include <string>

#include "platform/win32_registry.h"
#include "platform/test_backend.h"

#include "platform/windows_headers.h"

namespace kelvaston::test {
namespace {

constexpr const char* kScratchParent = "SOFTWARE\\KelvastonTest";

class Win32TestBackend final : public TestBackend {
public:
    Win32TestBackend()
        : scratch_(std::string(kScratchParent) + "\\" + std::to_string(GetCurrentProcessId())) {
        // A process id can be reused; whatever an earlier, aborted run left behind goes.
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, scratch_.c_str());
    }

    ~Win32TestBackend() override {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, scratch_.c_str());
        // Fails while other test processes still have their scratch keys there, as it should.
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratchParent);
    }

    Win32TestBackend(const Win32TestBackend&) = delete;
    Win32TestBackend& operator=(const Win32TestBackend&) = delete;

    platform::RegistryApi& Api() override { return registry_; }
    std::string ScratchPath() const override { return scratch_; }

private:
    platform::Win32Registry registry_;
    std::string scratch_;
};

}  // namespace

std::unique_ptr<TestBackend> MakeTestBackend() { return std::make_unique<Win32TestBackend>(); }

}  // namespace kelvaston::test
