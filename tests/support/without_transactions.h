// A registry as one without transactions behaves (advapi32's, a remote one's): every call takes
// effect at once, a commit only flushes, and an abort leaves the undoing to the caller. It lets
// the put-back paths of the save and the tool run against the file store.
#pragma once

#include "platform/registry_decorators.h"

namespace kelvaston::test {

class WithoutTransactions final : public platform::RegistryDecorator {
public:
    using RegistryDecorator::RegistryDecorator;
    platform::Status BeginTransaction(platform::Key key) override {
        return RegistryApi::BeginTransaction(key);
    }
    platform::Status CommitTransaction(platform::Key key) override {
        return RegistryApi::CommitTransaction(key);
    }
    bool AbortTransaction(platform::Key key) override { return RegistryApi::AbortTransaction(key); }

protected:
    std::optional<platform::Status> Before(platform::Call /*call*/) override {
        return std::nullopt;
    }
};

}  // namespace kelvaston::test
