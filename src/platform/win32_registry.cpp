// Win32Registry: see win32_registry.h.
//
// registry_api.h comes first, before <windows.h> defines its macros (GetComputerName, DeleteFile
// and friends), so our own declarations are never rewritten by them.
#include "platform/win32_registry.h"

#include "platform/advapi32.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace kelvaston::platform {

namespace {

HKEY ToHKey(Key key) {
    return reinterpret_cast<HKEY>(key);
}
Key FromHKey(HKEY key) {
    return reinterpret_cast<Key>(key);
}

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The bytes of `text` converted from code page `from` to UTF-16. Fails on bytes that are not
// valid in `from`.
bool ToWide(UINT from, const std::string& text, std::wstring* wide) {
    wide->clear();
    if (text.empty()) return true;
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
    const int length = static_cast<int>(text.size());
    const int needed =
        MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (needed <= 0) return false;
    wide->resize(static_cast<std::size_t>(needed));
    return MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), length, wide->data(),
                               needed) == needed;
}

}  // namespace

// ASCII is the same in every ANSI code page Windows uses, so names and values that are pure
// ASCII (almost all of them) skip the two conversions.
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi) {
    if (IsAscii(utf8)) {
        *ansi = utf8;
        return true;
    }
    std::wstring wide;
    if (!ToWide(CP_UTF8, utf8, &wide)) return false;
    if (GetACP() == CP_UTF8) {  // the "UTF-8 for worldwide language support" setting
        *ansi = utf8;
        return true;
    }
    const int length = static_cast<int>(wide.size());
    // No best-fit mapping and no default character: "ā" must not silently become "a" or "?",
    // which would name a different key.
    BOOL usedDefault = FALSE;
    const int needed = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length,
                                           nullptr, 0, nullptr, &usedDefault);
    if (needed <= 0 || usedDefault) return false;
    ansi->resize(static_cast<std::size_t>(needed));
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, ansi->data(),
                               needed, nullptr, &usedDefault) == needed &&
           !usedDefault;
}

bool AnsiToUtf8(const std::string& ansi, std::string* utf8) {
    if (IsAscii(ansi)) {
        *utf8 = ansi;
        return true;
    }
    std::wstring wide;
    if (!ToWide(CP_ACP, ansi, &wide)) return false;
    const int length = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return false;
    utf8->resize(static_cast<std::size_t>(needed));
    return WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8->data(), needed, nullptr,
                               nullptr) == needed;
}

namespace {

// Value data as advapi32 returned it (ANSI) into what the caller sees (UTF-8). A REG_SZ or
// REG_EXPAND_SZ value always ends in a NUL on the way out, even if it was stored without one.
bool DataToCaller(DWORD type, std::string* bytes) {
    if (!IsStringType(type)) return true;
    std::string converted;
    if (!AnsiToUtf8(*bytes, &converted)) return false;
    if (type != REG_MULTI_SZ && (converted.empty() || converted.back() != '\0')) {
        converted.push_back('\0');
    }
    *bytes = std::move(converted);
    return true;
}

// Reads value `name` (already ANSI) of `key` into `bytes`, growing the buffer while advapi32
// reports ERROR_MORE_DATA. The loop is bounded because another writer could keep the value
// growing between two calls.
LONG ReadValue(const Advapi32& calls, HKEY key, const char* name, DWORD* type, std::string* bytes) {
    DWORD size = 256;
    for (int attempt = 0; attempt < 8; ++attempt) {
        bytes->resize(size);
        DWORD got = size;
        const LONG rc = calls.RegQueryValueExA(key, name, nullptr, type,
                                               reinterpret_cast<BYTE*>(bytes->data()), &got);
        if (rc == ERROR_SUCCESS) {
            bytes->resize(got);
            return rc;
        }
        if (rc != ERROR_MORE_DATA) return rc;
        size = std::max(got, size * 2);
    }
    return ERROR_MORE_DATA;
}

// One value of an enumeration, ANSI or wide: `enumerate(name, &nameLength, data, &size)` is
// called with the data buffer growing while it reports ERROR_MORE_DATA, a bounded number of
// times, as another writer could keep the value growing. `name` has room for the longest value
// name, so only the data buffer ever grows; both are cut to what was read.
template <class Name, class Enumerate>
LONG EnumValueGrowing(Name* name, std::string* bytes, Enumerate&& enumerate) {
    bytes->assign(256, '\0');
    LONG rc = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < 8 && rc == ERROR_MORE_DATA; ++attempt) {
        DWORD nameLength = static_cast<DWORD>(name->size());
        DWORD size = static_cast<DWORD>(bytes->size());
        rc = enumerate(name->data(), &nameLength, reinterpret_cast<BYTE*>(bytes->data()), &size);
        if (rc == ERROR_SUCCESS) {
            name->resize(nameLength);
            bytes->resize(size);
        } else if (rc == ERROR_MORE_DATA) {
            bytes->resize(std::max<std::size_t>(size, 2 * bytes->size()));
        }
    }
    return rc;
}

// Whether every component of a key path is within the registry's limit of 255 UTF-16 units.
// Windows refuses longer names; Wine accepts 256, so without this check the same call would
// succeed under Wine and fail on Windows.
bool ComponentsWithinLimit(const std::string& utf8Path) {
    std::size_t units = 0;
    for (const char c : utf8Path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            units = 0;
        } else if ((byte & 0xC0) != 0x80) {  // the first byte of a character
            units += byte >= 0xF0 ? 2 : 1;   // four-byte sequences are surrogate pairs
            if (units > kMaxKeyNameLength) return false;
        }
    }
    return true;
}

}  // namespace

Win32Registry::Win32Registry() : calls_(RealAdvapi32()) {}

Win32Registry::Win32Registry(const Advapi32& calls, bool asIfRemote)
    : calls_(calls), asIfRemote_(asIfRemote) {}

Status Win32Registry::ConnectRegistry(const std::string& machine, Key hive, Key* result) {
    if (result == nullptr) return error::kInvalidParameter;
    *result = kNullKey;
    std::string ansi;
    if (!Utf8ToAnsi(machine, &ansi)) return error::kNoUnicodeTranslation;
    HKEY out = nullptr;
    const LONG rc =
        calls_.RegConnectRegistryA(ansi.empty() ? nullptr : ansi.c_str(), ToHKey(hive), &out);
    if (rc == ERROR_SUCCESS) {
        *result = FromHKey(out);
        std::string name = machine.starts_with("\\\\") ? machine.substr(2) : machine;
        char local[256] = {};
        std::uint32_t size = sizeof local;
        const bool otherComputer =
            !name.empty() && (LocalComputerName(local, &size) != error::kSuccess ||
                              CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str(), -1,
                                             local, -1) != CSTR_EQUAL);
        remote_ = asIfRemote_ || otherComputer;
    }
    return static_cast<Status>(rc);
}

template <class Step>
Status Win32Registry::ByPath(Key parent, const std::string& subKey, Key* result, Step&& step) {
    if (result == nullptr) return error::kInvalidParameter;
    *result = kNullKey;
    std::string ansi;
    if (!Utf8ToAnsi(subKey, &ansi)) return error::kNoUnicodeTranslation;
    HKEY out = nullptr;
    if (ansi.size() <= kLongestAnsiPath) {
        const LONG rc = step(ToHKey(parent), ansi.c_str(), &out);
        if (rc == ERROR_SUCCESS) *result = FromHKey(out);
        return static_cast<Status>(rc);
    }
    // Wine refuses an ANSI key path of more than 260 characters, which Windows takes: a longer
    // one is walked a name at a time, each below the last. The names are cut from the UTF-8
    // path, whose bytes never stand for a backslash inside a character, as a double-byte code
    // page's may.
    HKEY at = ToHKey(parent);
    for (std::size_t start = 0;;) {
        const std::size_t end = subKey.find('\\', start);
        Utf8ToAnsi(subKey.substr(start, end - start), &ansi);  // converted whole above
        const LONG rc = step(at, ansi.c_str(), &out);
        if (at != ToHKey(parent)) calls_.RegCloseKey(at);
        if (rc != ERROR_SUCCESS) return static_cast<Status>(rc);
        at = out;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    *result = FromHKey(at);
    return error::kSuccess;
}

Status Win32Registry::OpenKeyEx(Key parent, const std::string& subKey, std::uint32_t options,
                                std::uint32_t access, Key* result) {
    return ByPath(parent, subKey, result, [&](HKEY from, const char* path, HKEY* out) {
        return calls_.RegOpenKeyExA(from, path, options, access, out);
    });
}

Status Win32Registry::CreateKey(Key parent, const std::string& subKey, Key* result) {
    if (result == nullptr) return error::kInvalidParameter;
    *result = kNullKey;
    if (!ComponentsWithinLimit(subKey)) return error::kInvalidParameter;
    return ByPath(parent, subKey, result, [&](HKEY from, const char* path, HKEY* out) {
        return calls_.RegCreateKeyA(from, path, out);
    });
}

Status Win32Registry::EnumKeyEx(Key key, std::uint32_t index, char* name,
                                std::uint32_t* nameLength) {
    if (name == nullptr || nameLength == nullptr) return error::kInvalidParameter;
    // The name is fetched into a buffer of our own, large enough for any key name (255 UTF-16
    // units, at most two bytes each in a DBCS code page), because the caller's length counts
    // UTF-8 bytes, not ANSI ones.
    char ansi[2 * kMaxKeyNameLength + 2];
    DWORD length = sizeof ansi;
    FILETIME lastWrite;
    const LONG rc = calls_.RegEnumKeyExA(ToHKey(key), index, ansi, &length, nullptr, nullptr,
                                         nullptr, &lastWrite);
    if (rc != ERROR_SUCCESS) return static_cast<Status>(rc);
    std::string utf8;
    if (!AnsiToUtf8(std::string(ansi, length), &utf8)) return error::kNoUnicodeTranslation;
    // Like advapi32: too small a buffer leaves both the buffer and *nameLength as they were.
    if (utf8.size() >= *nameLength) return error::kMoreData;
    std::memcpy(name, utf8.c_str(), utf8.size() + 1);
    *nameLength = static_cast<std::uint32_t>(utf8.size());
    return error::kSuccess;
}

Status Win32Registry::DeleteKey(Key parent, const std::string& subKey) {
    std::string ansi;
    if (!Utf8ToAnsi(subKey, &ansi)) return error::kNoUnicodeTranslation;
    return static_cast<Status>(calls_.RegDeleteKeyA(ToHKey(parent), ansi.c_str()));
}

Status Win32Registry::CloseKey(Key key) {
    return static_cast<Status>(calls_.RegCloseKey(ToHKey(key)));
}

Status Win32Registry::FlushKey(Key key) {
    return static_cast<Status>(calls_.RegFlushKey(ToHKey(key)));
}

Status Win32Registry::QueryValueEx(Key key, const std::string& name, std::uint32_t* type,
                                   std::uint8_t* data, std::uint32_t* dataSize) {
    if (data != nullptr && dataSize == nullptr) return error::kInvalidParameter;
    std::string ansiName;
    if (!Utf8ToAnsi(name, &ansiName)) return error::kNoUnicodeTranslation;
    // Always read the whole value: the size the caller needs is that of the converted data,
    // which advapi32 cannot tell us.
    DWORD valueType = REG_NONE;
    std::string bytes;
    const LONG rc = ReadValue(calls_, ToHKey(key), ansiName.c_str(), &valueType, &bytes);
    if (rc != ERROR_SUCCESS) return static_cast<Status>(rc);
    if (!DataToCaller(valueType, &bytes)) return error::kNoUnicodeTranslation;
    if (type != nullptr) *type = static_cast<std::uint32_t>(valueType);
    if (dataSize == nullptr) return error::kSuccess;
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (data == nullptr) {
        *dataSize = needed;
        return error::kSuccess;
    }
    if (*dataSize < needed) {
        *dataSize = needed;
        return error::kMoreData;
    }
    if (needed != 0) std::memcpy(data, bytes.data(), needed);
    *dataSize = needed;
    return error::kSuccess;
}

Status Win32Registry::SetValueEx(Key key, const std::string& name, std::uint32_t type,
                                 const std::uint8_t* data, std::uint32_t dataSize) {
    std::string ansiName;
    if (!Utf8ToAnsi(name, &ansiName)) return error::kNoUnicodeTranslation;
    if (!IsStringType(type)) {
        return static_cast<Status>(
            calls_.RegSetValueExA(ToHKey(key), ansiName.c_str(), 0, type, data, dataSize));
    }
    if (data == nullptr && dataSize != 0) return error::kInvalidParameter;
    const char* text = reinterpret_cast<const char*>(data);
    std::string utf8;
    if (type == REG_MULTI_SZ) {
        utf8.assign(text, dataSize);  // the NULs are the separators; keep them all
    } else {
        utf8.assign(text, text == nullptr ? 0 : strnlen(text, dataSize));
    }
    std::string ansi;
    if (!Utf8ToAnsi(utf8, &ansi)) return error::kNoUnicodeTranslation;
    if (type != REG_MULTI_SZ) ansi.push_back('\0');
    if (ansi.size() > static_cast<std::size_t>(UINT32_MAX)) return error::kInvalidParameter;
    return static_cast<Status>(calls_.RegSetValueExA(ToHKey(key), ansiName.c_str(), 0, type,
                                                     reinterpret_cast<const BYTE*>(ansi.data()),
                                                     static_cast<DWORD>(ansi.size())));
}

Status Win32Registry::EnumValue(Key key, std::uint32_t index, std::string* name,
                                std::uint32_t* type, std::vector<std::uint8_t>* data) {
    // Room for the longest value name (16,383 UTF-16 units, two bytes each in a DBCS code page),
    // so only the data buffer ever needs to grow.
    std::string ansiName(2 * kMaxValueNameLength + 2, '\0');
    std::string bytes;
    DWORD valueType = REG_NONE;
    const LONG rc = EnumValueGrowing(
        &ansiName, &bytes, [&](char* buffer, DWORD* length, BYTE* into, DWORD* size) {
            return calls_.RegEnumValueA(ToHKey(key), index, buffer, length, nullptr, &valueType,
                                        into, size);
        });
    if (rc != ERROR_SUCCESS) return static_cast<Status>(rc);
    std::string utf8Name;
    if (!AnsiToUtf8(ansiName, &utf8Name) || !DataToCaller(valueType, &bytes)) {
        return error::kNoUnicodeTranslation;
    }
    if (name != nullptr) *name = std::move(utf8Name);
    if (type != nullptr) *type = static_cast<std::uint32_t>(valueType);
    if (data != nullptr) data->assign(bytes.begin(), bytes.end());
    return error::kSuccess;
}

Status Win32Registry::DeleteValue(Key key, const std::string& name) {
    std::string ansi;
    if (!Utf8ToAnsi(name, &ansi)) return error::kNoUnicodeTranslation;
    return static_cast<Status>(calls_.RegDeleteValueA(ToHKey(key), ansi.c_str()));
}

namespace {

bool Utf8ToWide(const std::string& utf8, std::wstring* wide) {
    return ToWide(CP_UTF8, utf8, wide);
}

bool WideToUtf8(const std::wstring& wide, std::string* utf8) {
    utf8->clear();
    if (wide.empty()) return true;
    const int length = static_cast<int>(wide.size());
    const int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length,
                                           nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return false;
    utf8->resize(static_cast<std::size_t>(needed));
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, utf8->data(),
                               needed, nullptr, nullptr) == needed;
}

}  // namespace

Status Win32Registry::EnumValueBytes(Key key, std::uint32_t index, std::string* name,
                                     std::uint32_t* type, std::string* data) {
    std::wstring wideName(kMaxValueNameLength + 1, L'\0');
    std::string bytes;
    DWORD valueType = REG_NONE;
    const LONG rc = EnumValueGrowing(
        &wideName, &bytes, [&](wchar_t* buffer, DWORD* length, BYTE* into, DWORD* size) {
            return calls_.RegEnumValueW(ToHKey(key), index, buffer, length, nullptr, &valueType,
                                        into, size);
        });
    if (rc != ERROR_SUCCESS) return static_cast<Status>(rc);
    std::string utf8Name;
    if (!WideToUtf8(wideName, &utf8Name)) return error::kNoUnicodeTranslation;
    if (name != nullptr) *name = std::move(utf8Name);
    if (type != nullptr) *type = static_cast<std::uint32_t>(valueType);
    if (data != nullptr) *data = std::move(bytes);
    return error::kSuccess;
}

Status Win32Registry::SetValueBytes(Key key, const std::string& name, std::uint32_t type,
                                    std::string_view data) {
    std::wstring wideName;
    if (!Utf8ToWide(name, &wideName)) return error::kNoUnicodeTranslation;
    if (data.size() > static_cast<std::size_t>(UINT32_MAX) - 2) return error::kInvalidParameter;
    // For a text type, RegSetValueExW looks at the character after the data: when the data's
    // last character is not NUL and that one is, it stores the NUL too ("the caller forgot to
    // count it"). Two bytes that are no NUL after the data keep exactly the bytes given.
    std::string buffer(data);
    buffer.append("\xFF\xFF");
    return static_cast<Status>(calls_.RegSetValueExW(ToHKey(key), wideName.c_str(), 0, type,
                                                     reinterpret_cast<const BYTE*>(buffer.data()),
                                                     static_cast<DWORD>(data.size())));
}

Status Win32Registry::QueryKeyContents(Key key, const std::string& subKey, KeyContents* contents,
                                       const ExpectedContents& expected) {
    *contents = KeyContents{};
    std::wstring widePath;
    if (!Utf8ToWide(subKey, &widePath)) return error::kNoUnicodeTranslation;
    HKEY open = nullptr;
    LONG rc = calls_.RegOpenKeyExW(ToHKey(key), widePath.c_str(), 0, KEY_READ, &open);
    if (rc != ERROR_SUCCESS) return static_cast<Status>(rc);
    // How many values and subkeys the key holds: the expected values are read in one call when
    // it holds no others, values are listed one by one only when there are others, and subkeys
    // only when there are others than those expected.
    DWORD subkeys = 0, values = 0;
    rc = calls_.RegQueryInfoKeyW(open, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                 &values, nullptr, nullptr, nullptr, nullptr);
    Status status = static_cast<Status>(rc);
    bool valuesRead = values == 0;
    if (status == error::kSuccess && !valuesRead && values == expected.values.size()) {
        // A name that is not there fails the call: then the values are listed after all.
        valuesRead = QueryValuesNamed(open, expected.values, &contents->values) == error::kSuccess;
    }
    for (std::uint32_t index = 0; status == error::kSuccess && !valuesRead; ++index) {
        RegValue value;
        status = EnumValueBytes(FromHKey(open), index, &value.name, &value.type, &value.data);
        if (status == error::kSuccess) contents->values.push_back(std::move(value));
    }
    if (status == error::kNoMoreItems) status = error::kSuccess;
    if (status == error::kSuccess && subkeys > 0 && subkeys == expected.subkeys.size()) {
        contents->subkeys = expected.subkeys;
        contents->subkeysAsExpected = true;
        subkeys = 0;
    }
    // A key name has at most 255 characters. The count is known, so the list's end is not
    // asked for; a key another program removes meanwhile ends it early.
    std::wstring name(kMaxKeyNameLength + 1, L'\0');
    for (DWORD index = 0; status == error::kSuccess && index < subkeys; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        rc = calls_.RegEnumKeyExW(open, index, name.data(), &length, nullptr, nullptr, nullptr,
                                  nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        std::string utf8;
        if (rc != ERROR_SUCCESS) {
            status = static_cast<Status>(rc);
        } else if (!WideToUtf8(std::wstring(name.data(), length), &utf8)) {
            status = error::kNoUnicodeTranslation;
        } else {
            contents->subkeys.push_back(std::move(utf8));
        }
    }
    calls_.RegCloseKey(open);
    return status;
}

Status Win32Registry::QueryValuesNamed(void* key, const std::vector<std::string>& names,
                                       std::vector<RegValue>* values) {
    std::vector<std::wstring> wide(names.size());
    std::vector<VALENTW> entries(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!Utf8ToWide(names[i], &wide[i])) return error::kNoUnicodeTranslation;
        entries[i].ve_valuename = wide[i].data();
    }
    std::vector<wchar_t> buffer(8192);
    LONG rc = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < 8 && rc == ERROR_MORE_DATA; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        rc = calls_.RegQueryMultipleValuesW(static_cast<HKEY>(key), entries.data(),
                                            static_cast<DWORD>(entries.size()), buffer.data(),
                                            &size);
        if (rc == ERROR_MORE_DATA) {
            buffer.resize(std::max<std::size_t>(size / sizeof(wchar_t) + 1, 2 * buffer.size()));
        }
    }
    if (rc != ERROR_SUCCESS) return static_cast<Status>(rc);
    values->clear();
    for (std::size_t i = 0; i < names.size(); ++i) {
        values->push_back({names[i], static_cast<std::uint32_t>(entries[i].ve_type),
                           std::string(reinterpret_cast<const char*>(entries[i].ve_valueptr),
                                       entries[i].ve_valuelen)});
    }
    return error::kSuccess;
}

std::optional<std::size_t> Win32Registry::UnstorableAt(std::string_view text) const {
    if (const auto invalid = RegistryApi::UnstorableAt(text)) return invalid;
    if (GetACP() == CP_UTF8) return std::nullopt;
    for (std::size_t at = 0; at < text.size();) {
        const std::string_view character = text::CharacterAt(text, at);
        std::string ansi;
        if (static_cast<unsigned char>(character[0]) >= 0x80 &&
            !Utf8ToAnsi(std::string(character), &ansi)) {
            return at;
        }
        at += character.size();
    }
    return std::nullopt;
}

Status Win32Registry::QueryNamedValues(Key key, const std::string& subKey,
                                       const std::vector<std::string>& names,
                                       std::vector<RegValue>* values, bool* all) {
    *all = true;
    values->clear();
    // The key itself is read through the handle given, without a call to open it again.
    Key open = key;
    if (!subKey.empty()) {
        if (const Status status = OpenKeyEx(key, subKey, 0, kKeyQueryValue, &open);
            status != error::kSuccess) {
            return status;
        }
    }
    std::vector<std::string> ansiNames(names.size());
    bool convertible = !names.empty();
    for (std::size_t i = 0; convertible && i < names.size(); ++i)
        convertible = Utf8ToAnsi(names[i], &ansiNames[i]);
    std::vector<VALENTA> entries(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) entries[i].ve_valuename = ansiNames[i].data();
    std::string buffer(4096, '\0');
    LONG rc = ERROR_MORE_DATA;
    for (int attempt = 0; convertible && attempt < 8 && rc == ERROR_MORE_DATA; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer.size());
        rc = calls_.RegQueryMultipleValuesA(
            ToHKey(open), entries.data(), static_cast<DWORD>(entries.size()), buffer.data(), &size);
        if (rc == ERROR_MORE_DATA) buffer.resize(std::max<std::size_t>(size, 2 * buffer.size()));
    }
    Status status = error::kSuccess;
    if (convertible && rc == ERROR_SUCCESS) {
        values->reserve(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::string bytes(reinterpret_cast<const char*>(entries[i].ve_valueptr),
                              entries[i].ve_valuelen);
            if (!DataToCaller(entries[i].ve_type, &bytes)) {
                status = error::kNoUnicodeTranslation;
                break;
            }
            values->push_back(
                {names[i], static_cast<std::uint32_t>(entries[i].ve_type), std::move(bytes)});
        }
        *all = false;
    } else {
        // A name that is not there fails the whole call: then every value, one by one.
        status = RegistryApi::QueryKeyValues(open, std::string(), values);
    }
    if (open != key) CloseKey(open);
    return status;
}

Status Win32Registry::LocalComputerName(char* buffer, std::uint32_t* size) {
    if (size == nullptr) return error::kInvalidParameter;
    // DNS host names reach 63 characters; MAX_COMPUTERNAME_LENGTH (15) is only the NetBIOS one.
    std::string ansi(64, '\0');
    DWORD length = static_cast<DWORD>(ansi.size());
    if (!GetComputerNameA(ansi.data(), &length)) {
        const DWORD failure = GetLastError();
        if (failure != ERROR_BUFFER_OVERFLOW) return static_cast<Status>(failure);
        ansi.resize(length);  // length now includes the NUL
        length = static_cast<DWORD>(ansi.size());
        if (!GetComputerNameA(ansi.data(), &length)) return static_cast<Status>(GetLastError());
    }
    ansi.resize(length);
    std::string utf8;
    if (!AnsiToUtf8(ansi, &utf8)) return error::kNoUnicodeTranslation;
    const auto needed = static_cast<std::uint32_t>(utf8.size() + 1);
    if (buffer == nullptr || *size < needed) {
        *size = needed;
        return error::kBufferOverflow;
    }
    std::memcpy(buffer, utf8.c_str(), needed);
    *size = needed - 1;
    return error::kSuccess;
}

}  // namespace kelvaston::platform
