// The registry-semantics suite once more, through the cache that the configuration store puts
// in front of every registry: what the suite sees must not change.
#include "platform/caching_registry.h"
#include "platform/file_store.h"
#include "platform/test_backend.h"
#include "support/temp_dir.h"

namespace kelvaston::test {
namespace {

class CachedFileStoreBackend final : public TestBackend {
public:
    CachedFileStoreBackend() : registry_(platform::FileStoreOptions{folder_.Path(), "TestHost"}), cache_(registry_) {}
    platform::RegistryApi& Api() override { return cache_; }
    std::string ScratchPath() const override { return "SOFTWARE\\KelvastonTest"; }

private:
    TempDir folder_;
    platform::FileStoreRegistry registry_;
    platform::CachingRegistry cache_;
};

}  // namespace

std::unique_ptr<TestBackend> MakeTestBackend() { return std::make_unique<CachedFileStoreBackend>(); }

}  // namespace kelvaston::test
