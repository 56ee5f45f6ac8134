// The registry-semantics suite on the file store: a store folder of its own per test.
#include "platform/file_store.h"
#include "platform/test_backend.h"
#include "support/temp_dir.h"

namespace kelvaston::test {
namespace {

class FileStoreBackend final : public TestBackend {
public:
    FileStoreBackend() : registry_(platform::FileStoreOptions{folder_.Path(), "TestHost"}) {}
    platform::RegistryApi& Api() override { return registry_; }
    std::string ScratchPath() const override { return "SOFTWARE\\KelvastonTest"; }

private:
    TempDir folder_;  // declared first: outlives the registry, which writes into it at the end
    platform::FileStoreRegistry registry_;
};

}  // namespace

std::unique_ptr<TestBackend> MakeTestBackend() { return std::make_unique<FileStoreBackend>(); }

}  // namespace kelvaston::test
