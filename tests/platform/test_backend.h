// What the registry-semantics suite needs of a backend under test. Each backend's test
// executable links exactly one implementation of MakeTestBackend().
#pragma once

#include <memory>
#include <string>

#include "platform/registry_api.h"

namespace kelvaston::test {

class TestBackend {
public:
    virtual ~TestBackend() = default;
    virtual platform::RegistryApi& Api() = 0;
    // A key path below HKEY_LOCAL_MACHINE that the suite may create, fill and remove. The
    // backend makes sure it does not exist when the backend is created and removes it at the end.
    virtual std::string ScratchPath() const = 0;
};

std::unique_ptr<TestBackend> MakeTestBackend();

}  // namespace kelvaston::test
