// Wrappers around any registry backend: the base that sees every call before it is passed on,
// one that counts the calls made through it, and one that adds a remote registry's round trip.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <optional>

#include "platform/registry_api.h"

namespace kelvaston::platform {

enum class Call : std::size_t {
    ConnectRegistry,
    OpenKeyEx,
    CreateKey,
    EnumKeyEx,
    DeleteKey,
    CloseKey,
    FlushKey,
    BeginTransaction,
    CommitTransaction,
    AbortTransaction,
    BeginReading,
    EndReading,
    QueryValueEx,
    SetValueEx,
    EnumValue,
    DeleteValue,
    LocalComputerName,
    QueryKeyValues,
    QueryNamedValues,
    EnumValueBytes,
    SetValueBytes,
    QueryKeyContents,
    kCount
};
const char* CallName(Call call);

// Forwards every operation to `inner`; subclasses see each call first through Before().
class RegistryDecorator : public RegistryApi {
public:
    explicit RegistryDecorator(RegistryApi& inner) : inner_(inner) {}

    std::optional<HiveFileError> LastHiveFileError() const override {
        return inner_.LastHiveFileError();
    }
    std::optional<std::size_t> UnstorableAt(std::string_view text) const override {
        return inner_.UnstorableAt(text);
    }
    std::size_t ConcurrentCalls() const override { return inner_.ConcurrentCalls(); }

    Status ConnectRegistry(const std::string& machine, Key hive, Key* result) override;
    Status OpenKeyEx(Key parent, const std::string& subKey, std::uint32_t options,
                     std::uint32_t access, Key* result) override;
    Status CreateKey(Key parent, const std::string& subKey, Key* result) override;
    Status EnumKeyEx(Key key, std::uint32_t index, char* name, std::uint32_t* nameLength) override;
    Status DeleteKey(Key parent, const std::string& subKey) override;
    Status CloseKey(Key key) override;
    Status FlushKey(Key key) override;
    Status BeginTransaction(Key key) override;
    Status CommitTransaction(Key key) override;
    bool AbortTransaction(Key key) override;
    Status BeginReading(Key key) override;
    void EndReading(Key key) override;
    Status QueryValueEx(Key key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* dataSize) override;
    Status SetValueEx(Key key, const std::string& name, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t dataSize) override;
    Status EnumValue(Key key, std::uint32_t index, std::string* name, std::uint32_t* type,
                     std::vector<std::uint8_t>* data) override;
    Status DeleteValue(Key key, const std::string& name) override;
    Status EnumValueBytes(Key key, std::uint32_t index, std::string* name, std::uint32_t* type,
                          std::string* data) override;
    Status SetValueBytes(Key key, const std::string& name, std::uint32_t type,
                         std::string_view data) override;
    Status LocalComputerName(char* buffer, std::uint32_t* size) override;
    Status QueryKeyValues(Key key, const std::string& subKey,
                          std::vector<RegValue>* values) override;
    Status QueryNamedValues(Key key, const std::string& subKey,
                            const std::vector<std::string>& names, std::vector<RegValue>* values,
                            bool* all) override;
    Status QueryKeyContents(Key key, const std::string& subKey, KeyContents* contents,
                            const ExpectedContents& expected = {}) override;

protected:
    // Called before each operation is forwarded; a value makes the call fail with that status
    // without reaching the inner backend (out-handles are still nulled first).
    virtual std::optional<Status> Before(Call call) = 0;

private:
    RegistryApi& inner_;
};

// Counts the calls, from any number of threads.
class CountingRegistry final : public RegistryDecorator {
public:
    using RegistryDecorator::RegistryDecorator;
    std::size_t Count(Call call) const { return counts_[static_cast<std::size_t>(call)]; }
    std::size_t Total() const;
    void Reset();

protected:
    std::optional<Status> Before(Call call) override;

private:
    std::array<std::atomic<std::size_t>, static_cast<std::size_t>(Call::kCount)> counts_{};
};

// Adds a fixed delay to every call, as a remote registry's round trip would; calls made at the
// same time wait at the same time.
class LatencyRegistry final : public RegistryDecorator {
public:
    LatencyRegistry(RegistryApi& inner, std::chrono::microseconds delay)
        : RegistryDecorator(inner), delay_(delay) {}
    std::size_t ConcurrentCalls() const override { return kMaxConcurrentCalls; }

protected:
    std::optional<Status> Before(Call call) override;

private:
    std::chrono::microseconds delay_;
};

}  // namespace kelvaston::platform
