// What the registry-semantics suite needs of a backend under test. Each backend's test
// executable links exactly one implementation of MakeTestBackend().
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/registry_api.h"

namespace kelvaston::test {

class TestBackend {
public:
    virtual ~TestBackend() = default;
    virtual platform::RegistryApi& Api() = 0;
    // A key path below HKEY_LOCAL_MACHINE that the suite may create, fill and remove. The
    // backend makes sure it does not exist when the backend is created and removes it at the end.
    virtual std::string ScratchPath() const = 0;

    // What became of a batch of names (UTF-8) below one new key `parent` of the scratch key: a
    // key was created for each name in turn, then the parent's subkeys were enumerated and the
    // parent was opened by each probe. The parent is gone afterwards. Where the ANSI calls of
    // RegistryApi cannot carry every character, the backend uses the registry's wide calls.
    struct NameBatch {
        std::vector<std::string> enumerated;
        std::vector<bool> opened;  // one per probe
    };
    virtual NameBatch CreateAndProbe(const std::string& parent, const std::vector<std::string>& names,
                                     const std::vector<std::string>& probes) = 0;
    // The spellings of `name` in other case that the platform's own case mapping gives, not
    // the store's: other candidates for the registry to take as the same name.
    virtual std::vector<std::string> OtherCaseForms(const std::string& name) const = 0;
};

std::unique_ptr<TestBackend> MakeTestBackend();

}  // namespace kelvaston::test
