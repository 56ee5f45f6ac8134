// The registry-semantics suite on the file store, a store folder of its own per test; with
// KELVASTON_TEST_CACHED, once more through the cache the configuration store puts in front of
// every registry: what the suite sees must not change.
#include <clocale>
#include <cwctype>

#include "platform/caching_registry.h"
#include "platform/file_store.h"
#include "platform/registry_tree.h"
#include "platform/test_backend.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace kelvaston::test {
namespace {

using platform::Key;
using platform::kNullKey;

// UTF-8 to code points and back, for the C library's case mapping.
std::u32string Decode(const std::string& utf8) {
    const std::string units = platform::text::Utf8ToUtf16Le(utf8);
    std::u32string out;
    for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
        const auto u = static_cast<char32_t>(static_cast<unsigned char>(units[i])) |
                       (static_cast<char32_t>(static_cast<unsigned char>(units[i + 1])) << 8);
        if (u >= 0xDC00 && u <= 0xDFFF && !out.empty() && out.back() >= 0xD800 && out.back() <= 0xDBFF) {
            out.back() = 0x10000 + ((out.back() - 0xD800) << 10) + (u - 0xDC00);
        } else {
            out.push_back(u);
        }
    }
    return out;
}
std::string Encode(const std::u32string& points) {
    std::string units;
    const auto put = [&](char32_t u) { units += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)}; };
    for (const char32_t c : points) {
        if (c < 0x10000) put(c);
        else put(0xD800 + ((c - 0x10000) >> 10)), put(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
    return platform::text::Utf16LeToUtf8(units);
}

class FileStoreBackend final : public TestBackend {
public:
    FileStoreBackend() { locale_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr); }
    ~FileStoreBackend() override {
        if (locale_ != nullptr) freelocale(locale_);
    }
    platform::RegistryApi& Api() override { return KELVASTON_TEST_CACHED ? static_cast<platform::RegistryApi&>(cache_) : registry_; }
    std::string ScratchPath() const override { return "SOFTWARE\\KelvastonTest"; }

    // Inside one transaction, which is dropped at the end: the file is not written for each key.
    NameBatch CreateAndProbe(const std::string& parent, const std::vector<std::string>& names,
                             const std::vector<std::string>& probes) override {
        platform::RegistryApi& api = Api();
        NameBatch batch;
        Key scratch = kNullKey;
        if (api.OpenKeyEx(platform::kHKeyLocalMachine, ScratchPath(), 0, platform::kKeyAllAccess, &scratch) != 0) return batch;
        const bool inTransaction = api.BeginTransaction(scratch) == platform::error::kSuccess;
        Key below = kNullKey;
        if (api.CreateKey(scratch, parent, &below) == platform::error::kSuccess) {
            for (const std::string& name : names) {
                Key key = kNullKey;
                if (api.CreateKey(below, name, &key) == platform::error::kSuccess) api.CloseKey(key);
            }
            platform::ListSubkeys(api, below, &batch.enumerated);
            for (const std::string& probe : probes) {
                Key key = kNullKey;
                batch.opened.push_back(api.OpenKeyEx(below, probe, 0, platform::kKeyRead, &key) == platform::error::kSuccess);
                if (key != kNullKey) api.CloseKey(key);
            }
            api.CloseKey(below);
        }
        if (inTransaction) api.AbortTransaction(scratch);
        platform::DeleteTree(api, scratch, parent);
        api.CloseKey(scratch);
        return batch;
    }

    // The C library's towupper and towlower in a UTF-8 locale.
    std::vector<std::string> OtherCaseForms(const std::string& name) const override {
        if (locale_ == nullptr) return {};
        std::u32string upper = Decode(name), lower = upper;
        for (char32_t& c : upper) c = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale_));
        for (char32_t& c : lower) c = static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), locale_));
        return {Encode(upper), Encode(lower)};
    }

private:
    TempDir folder_;  // declared first: outlives the registry, which writes into it at the end
    platform::FileStoreRegistry registry_{platform::FileStoreOptions{folder_.Path(), "TestHost"}};
    platform::CachingRegistry cache_{registry_};
    locale_t locale_ = nullptr;
};

}  // namespace

std::unique_ptr<TestBackend> MakeTestBackend() { return std::make_unique<FileStoreBackend>(); }

}  // namespace kelvaston::test
