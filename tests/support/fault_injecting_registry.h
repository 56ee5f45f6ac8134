// A registry that fails the k-th call (counting from 1) of the chosen kind, or of any kind, and
// optionally every call of that kind after it: how the tests make a registry refuse at each
// call in turn.
#pragma once

#include <mutex>
#include <optional>

#include "platform/registry_decorators.h"

namespace kelvaston::test {

class FaultInjectingRegistry final : public platform::RegistryDecorator {
public:
    using RegistryDecorator::RegistryDecorator;
    void FailNth(std::optional<platform::Call> kind, std::size_t nth, platform::Status status,
                 bool andAfter = false) {
        std::lock_guard lock(mutex_);
        kind_ = kind;
        nth_ = nth;
        status_ = status;
        andAfter_ = andAfter;
        seen_ = 0;
        armed_ = true;
        fired_ = false;
    }
    bool Fired() const {
        std::lock_guard lock(mutex_);
        return fired_;
    }
    // How many CloseKey calls it failed: each leaves its key open.
    std::size_t ClosesRefused() const {
        std::lock_guard lock(mutex_);
        return closesRefused_;
    }

protected:
    std::optional<platform::Status> Before(platform::Call call) override {
        std::lock_guard lock(mutex_);
        if (!armed_ || (kind_ && *kind_ != call)) return std::nullopt;
        ++seen_;
        if (seen_ != nth_ && !(andAfter_ && seen_ > nth_)) return std::nullopt;
        fired_ = true;
        closesRefused_ += call == platform::Call::CloseKey;
        return status_;
    }

private:
    mutable std::mutex mutex_;  // calls may come from several threads
    std::optional<platform::Call> kind_;
    std::size_t nth_ = 0;
    std::size_t seen_ = 0;
    platform::Status status_ = platform::error::kSuccess;
    bool andAfter_ = false;
    bool armed_ = false;
    bool fired_ = false;
    std::size_t closesRefused_ = 0;
};

}  // namespace kelvaston::test
