// The registry-semantics suite on the file store, a store folder of its own per test; with
// KELVASTON_TEST_CACHED, once more through the cache the configuration store puts in front of
// every registry: what the suite sees must not change.
#include "platform/caching_registry.h"
#include "platform/file_store.h"
#include "platform/test_backend.h"
#include "support/temp_dir.h"

namespace kelvaston::test {
namespace {

class FileStoreBackend final : public TestBackend {
public:
    platform::RegistryApi& Api() override { return KELVASTON_TEST_CACHED ? static_cast<platform::RegistryApi&>(cache_) : registry_; }
    std::string ScratchPath() const override { return "SOFTWARE\\KelvastonTest"; }

private:
    TempDir folder_;  // declared first: outlives the registry, which writes into it at the end
    platform::FileStoreRegistry registry_{platform::FileStoreOptions{folder_.Path(), "TestHost"}};
    platform::CachingRegistry cache_{registry_};
};

}  // namespace

std::unique_ptr<TestBackend> MakeTestBackend() { return std::make_unique<FileStoreBackend>(); }

}  // namespace kelvaston::test
