#include "platform/registry_decorators.h"

#include <thread>

namespace kelvaston::platform {

const char* CallName(Call call) {
    static constexpr std::array<const char*, static_cast<std::size_t>(Call::kCount)> kNames = {
        "ConnectRegistry",   "OpenKeyEx",        "CreateKey",        "EnumKeyEx",
        "DeleteKey",         "CloseKey",         "FlushKey",         "BeginTransaction",
        "CommitTransaction", "AbortTransaction", "BeginReading",     "EndReading",
        "QueryValueEx",      "SetValueEx",       "EnumValue",        "DeleteValue",
        "LocalComputerName", "QueryKeyValues",   "QueryNamedValues", "EnumValueBytes",
        "SetValueBytes",     "QueryKeyContents"};
    return kNames[static_cast<std::size_t>(call)];
}

Status RegistryDecorator::ConnectRegistry(const std::string& machine, Key hive, Key* result) {
    if (result != nullptr) *result = kNullKey;
    if (auto failed = Before(Call::ConnectRegistry)) return *failed;
    return inner_.ConnectRegistry(machine, hive, result);
}

Status RegistryDecorator::OpenKeyEx(Key parent, const std::string& subKey, std::uint32_t options,
                                    std::uint32_t access, Key* result) {
    if (result != nullptr) *result = kNullKey;
    if (auto failed = Before(Call::OpenKeyEx)) return *failed;
    return inner_.OpenKeyEx(parent, subKey, options, access, result);
}

Status RegistryDecorator::CreateKey(Key parent, const std::string& subKey, Key* result) {
    if (result != nullptr) *result = kNullKey;
    if (auto failed = Before(Call::CreateKey)) return *failed;
    return inner_.CreateKey(parent, subKey, result);
}

Status RegistryDecorator::EnumKeyEx(Key key, std::uint32_t index, char* name,
                                    std::uint32_t* nameLength) {
    if (auto failed = Before(Call::EnumKeyEx)) return *failed;
    return inner_.EnumKeyEx(key, index, name, nameLength);
}

Status RegistryDecorator::DeleteKey(Key parent, const std::string& subKey) {
    if (auto failed = Before(Call::DeleteKey)) return *failed;
    return inner_.DeleteKey(parent, subKey);
}

Status RegistryDecorator::CloseKey(Key key) {
    if (auto failed = Before(Call::CloseKey)) return *failed;
    return inner_.CloseKey(key);
}

Status RegistryDecorator::FlushKey(Key key) {
    if (auto failed = Before(Call::FlushKey)) return *failed;
    return inner_.FlushKey(key);
}

Status RegistryDecorator::BeginTransaction(Key key) {
    if (auto failed = Before(Call::BeginTransaction)) return *failed;
    return inner_.BeginTransaction(key);
}

Status RegistryDecorator::CommitTransaction(Key key) {
    if (auto failed = Before(Call::CommitTransaction)) return *failed;
    return inner_.CommitTransaction(key);
}

// Ending a transaction is never refused here: a caller whose abort failed could not end it.
bool RegistryDecorator::AbortTransaction(Key key) {
    Before(Call::AbortTransaction);
    return inner_.AbortTransaction(key);
}

Status RegistryDecorator::BeginReading(Key key) {
    if (auto failed = Before(Call::BeginReading)) return *failed;
    return inner_.BeginReading(key);
}

void RegistryDecorator::EndReading(Key key) {
    Before(Call::EndReading);
    inner_.EndReading(key);
}

Status RegistryDecorator::QueryValueEx(Key key, const std::string& name, std::uint32_t* type,
                                       std::uint8_t* data, std::uint32_t* dataSize) {
    if (auto failed = Before(Call::QueryValueEx)) return *failed;
    return inner_.QueryValueEx(key, name, type, data, dataSize);
}

Status RegistryDecorator::SetValueEx(Key key, const std::string& name, std::uint32_t type,
                                     const std::uint8_t* data, std::uint32_t dataSize) {
    if (auto failed = Before(Call::SetValueEx)) return *failed;
    return inner_.SetValueEx(key, name, type, data, dataSize);
}

Status RegistryDecorator::EnumValue(Key key, std::uint32_t index, std::string* name,
                                    std::uint32_t* type, std::vector<std::uint8_t>* data) {
    if (auto failed = Before(Call::EnumValue)) return *failed;
    return inner_.EnumValue(key, index, name, type, data);
}

Status RegistryDecorator::DeleteValue(Key key, const std::string& name) {
    if (auto failed = Before(Call::DeleteValue)) return *failed;
    return inner_.DeleteValue(key, name);
}

Status RegistryDecorator::EnumValueBytes(Key key, std::uint32_t index, std::string* name,
                                         std::uint32_t* type, std::string* data) {
    if (auto failed = Before(Call::EnumValueBytes)) return *failed;
    return inner_.EnumValueBytes(key, index, name, type, data);
}

Status RegistryDecorator::SetValueBytes(Key key, const std::string& name, std::uint32_t type,
                                        std::string_view data) {
    if (auto failed = Before(Call::SetValueBytes)) return *failed;
    return inner_.SetValueBytes(key, name, type, data);
}

Status RegistryDecorator::LocalComputerName(char* buffer, std::uint32_t* size) {
    if (auto failed = Before(Call::LocalComputerName)) return *failed;
    return inner_.LocalComputerName(buffer, size);
}

Status RegistryDecorator::QueryKeyValues(Key key, const std::string& subKey,
                                         std::vector<RegValue>* values) {
    if (auto failed = Before(Call::QueryKeyValues)) return *failed;
    return inner_.QueryKeyValues(key, subKey, values);
}

Status RegistryDecorator::QueryNamedValues(Key key, const std::string& subKey,
                                           const std::vector<std::string>& names,
                                           std::vector<RegValue>* values, bool* all) {
    *all = true;
    if (auto failed = Before(Call::QueryNamedValues)) return *failed;
    return inner_.QueryNamedValues(key, subKey, names, values, all);
}

Status RegistryDecorator::QueryKeyContents(Key key, const std::string& subKey,
                                           KeyContents* contents,
                                           const ExpectedContents& expected) {
    if (auto failed = Before(Call::QueryKeyContents)) return *failed;
    return inner_.QueryKeyContents(key, subKey, contents, expected);
}

std::size_t CountingRegistry::Total() const {
    std::size_t total = 0;
    for (const auto& count : counts_) total += count;
    return total;
}

void CountingRegistry::Reset() {
    for (auto& count : counts_) count = 0;
}

std::optional<Status> CountingRegistry::Before(Call call) {
    ++counts_[static_cast<std::size_t>(call)];
    return std::nullopt;
}

std::optional<Status> LatencyRegistry::Before(Call) {
    std::this_thread::sleep_for(delay_);
    return std::nullopt;
}

}  // namespace kelvaston::platform
