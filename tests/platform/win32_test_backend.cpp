// The registry-semantics suite against the real registry through advapi32 (Windows or Wine).
//
// Each test process gets a scratch key of its own below HKLM\SOFTWARE\KelvastonTest, named after
// its process id, so tests that ctest runs in parallel never meet. The scratch key is removed
// with advapi32 directly rather than through the code under test; a process id can be reused,
// so whatever an earlier, aborted run left behind goes first.
#include "platform/test_backend.h"
#include "platform/win32_registry.h"
#include "platform/windows_headers.h"

namespace kelvaston::test {
namespace {

class Win32TestBackend final : public TestBackend {
public:
    Win32TestBackend() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, scratch_.c_str()); }
    ~Win32TestBackend() override {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, scratch_.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KelvastonTest");  // fails while others still use it
    }
    platform::RegistryApi& Api() override { return registry_; }
    std::string ScratchPath() const override { return scratch_; }

private:
    platform::Win32Registry registry_;
    std::string scratch_ = "SOFTWARE\\KelvastonTest\\" + std::to_string(GetCurrentProcessId());
};

}  // namespace

std::unique_ptr<TestBackend> MakeTestBackend() { return std::make_unique<Win32TestBackend>(); }

}  // namespace kelvaston::test
