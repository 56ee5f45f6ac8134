// The registry operations Kelvaston needs, shaped like the Win32 functions of the ANSI family.
//
// Two backends implement this interface: the Windows registry through advapi32, and the file
// store (one .reg file per computer) used on Linux. Decorators for counting, latency and fault
// injection wrap any backend. Text crossing this interface is the program's own text (UTF-8);
// the advapi32 backend converts to and from the computer's ANSI code page at its boundary.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "platform/value.h"

namespace kelvaston::platform {

// A registry key handle. Zero is the null handle: every operation that delivers a handle
// writes zero to its out-parameter first, so a failed call never leaves a stale value there.
using Key = std::uintptr_t;
inline constexpr Key kNullKey = 0;

// HKEY_LOCAL_MACHINE as Windows defines it: the 32-bit constant sign-extended to pointer width.
inline constexpr Key kHKeyLocalMachine =
    static_cast<Key>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000002u)));

// Win32 result codes (LSTATUS).
using Status = std::int32_t;
namespace error {
inline constexpr Status kSuccess = 0;
inline constexpr Status kFileNotFound = 2;
inline constexpr Status kAccessDenied = 5;
inline constexpr Status kInvalidHandle = 6;
inline constexpr Status kInvalidData = 13;
inline constexpr Status kBadNetPath = 53;
inline constexpr Status kInvalidParameter = 87;
inline constexpr Status kBufferOverflow = 111;
inline constexpr Status kBadPathName = 161;
inline constexpr Status kMoreData = 234;
inline constexpr Status kNoMoreItems = 259;
inline constexpr Status kBadDb = 1009;                 // the hive's file is malformed
inline constexpr Status kKeyDeleted = 1018;            // the handle's key has been deleted
inline constexpr Status kRegistryIoFailed = 1016;      // the hive could not be written
inline constexpr Status kNoUnicodeTranslation = 1113;  // text not representable in the code page
}  // namespace error

// Value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

// Access rights.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;
inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;

// The most calls Kelvaston keeps in flight at once against a registry whose calls wait for
// round trips.
inline constexpr std::size_t kMaxConcurrentCalls = 16;

// Limits of the Windows registry.
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;
// The most keys a path from the hive's root may pass through, that key included.
inline constexpr std::size_t kMaxKeyDepth = 512;

// A REG_DWORD's data: the number's four bytes, lowest first.
inline std::string DwordBytes(std::uint32_t n) {
    return {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
            static_cast<char>((n >> 16) & 0xFF), static_cast<char>(n >> 24)};
}
// The number that the first four bytes of a REG_DWORD's data hold; `bytes` has at least four.
inline std::uint32_t DwordFromBytes(std::string_view bytes) {
    std::uint32_t n = 0;
    for (std::size_t b = 4; b-- > 0;) n = (n << 8) | static_cast<unsigned char>(bytes[b]);
    return n;
}

// What a key holds: its values with their data as the registry keeps it (text types as UTF-16LE,
// see EnumValueBytes), and the names of its subkeys in enumeration order.
struct KeyContents {
    std::vector<RegValue> values;
    std::vector<std::string> subkeys;
    // The subkeys were not listed: the key held as many as expected, and `subkeys` are the names
    // expected, taken on trust (see QueryKeyContents).
    bool subkeysAsExpected = false;
};

// What a reader expects a key to hold: the names of its values and of its subkeys. A backend
// whose every call is a round trip reads a key in fewer calls when it is so.
struct ExpectedContents {
    std::vector<std::string> values;
    std::vector<std::string> subkeys;
};

// Why a backend that keeps hives in files could not use one: which file or folder, and what
// is wrong with it. `message` is a plain English sentence part that names no path.
struct HiveFileError {
    enum class Kind {
        Malformed,   // the file does not parse: `line` and `message` say where and what
        Unreadable,  // the file or folder cannot be read: `systemError` says why
        Unwritable,  // the file could not be written: `systemError` says why
        Unsafe,      // another user owns or may change the file or folder: `message` says how
        NotAFolder,  // the store's folder is something else
    };
    Kind kind = Kind::Malformed;
    std::string file;  // the file or folder
    int line = 0;      // 0: the file as a whole
    std::string message;
    int systemError = 0;  // errno, where the system refused
    // Unsafe: the other user who owns it, or else the mode that lets others in (as chmod
    // takes it), or else neither when it is not a regular file.
    std::string owner;
    int mode = -1;
};

// "FILE:LINE: message" or "FILE: message", in English, for the tool and for logs.
std::string Describe(const HiveFileError& problem);

class RegistryApi {
public:
    virtual ~RegistryApi() = default;

    // How many calls it pays to have in flight at once: 1 for a registry whose calls return at
    // once (as a local one's do), up to kMaxConcurrentCalls for one where each waits for a round
    // trip. Calls may come from several threads either way.
    virtual std::size_t ConcurrentCalls() const { return 1; }

    // Why the last connection or flush failed, where a backend keeps hives in files.
    virtual std::optional<HiveFileError> LastHiveFileError() const { return std::nullopt; }

    // Where `text` holds the first character that this registry cannot store in a name or a
    // text value (the refusal kNoUnicodeTranslation): its byte offset, or nothing when it can
    // store all of it. Everywhere: text that is not UTF-8; on Windows also a character the
    // computer's ANSI code page lacks.
    virtual std::optional<std::size_t> UnstorableAt(std::string_view text) const;

    // RegConnectRegistryA on HKEY_LOCAL_MACHINE: an empty name, or the local computer's name in
    // any case, with or without a leading "\\", is the local hive.
    virtual Status ConnectRegistry(const std::string& machine, Key hive, Key* result) = 0;

    // RegOpenKeyExA. An empty subKey opens a new handle to `parent` itself.
    virtual Status OpenKeyEx(Key parent, const std::string& subKey, std::uint32_t options,
                             std::uint32_t access, Key* result) = 0;

    // RegCreateKeyA: creates every missing key on the path and opens the last one.
    virtual Status CreateKey(Key parent, const std::string& subKey, Key* result) = 0;

    // RegEnumKeyExA: the name of subkey `index`, NUL-terminated, into name[0 .. *nameLength).
    // On success *nameLength is the name's length without the NUL. No class is requested.
    virtual Status EnumKeyEx(Key key, std::uint32_t index, char* name,
                             std::uint32_t* nameLength) = 0;

    // RegDeleteKeyA: removes a subkey that has no subkeys of its own.
    virtual Status DeleteKey(Key parent, const std::string& subKey) = 0;

    virtual Status CloseKey(Key key) = 0;

    // RegFlushKey: the hive's changes reach permanent storage before this returns.
    virtual Status FlushKey(Key key) = 0;

    // A transaction over the hive of `key`: from BeginTransaction to CommitTransaction no other
    // process writes that hive, and the changes made meanwhile reach it, and permanent storage,
    // together or not at all. A backend without transactions (advapi32: a remote registry takes
    // none) makes each call take effect on its own; there Begin does nothing, Commit flushes, and
    // Abort returns false: the caller must put back what it changed. Where Abort returns true,
    // every change since Begin is gone. Calls between Begin and its end may come from several
    // threads of the one caller.
    virtual Status BeginTransaction(Key key);
    virtual Status CommitTransaction(Key key);
    virtual bool AbortTransaction(Key key);

    // A stretch of reads of the hive of `key` that no other process's write falls into, so that
    // they see one state of it: what a load reads in many calls. No change may be made in it.
    // A backend that cannot hold writers off (advapi32) does nothing here.
    virtual Status BeginReading(Key key);
    virtual void EndReading(Key key);

    // RegQueryValueExA. `data` may be null to learn type and size. Text values (REG_SZ,
    // REG_EXPAND_SZ, REG_MULTI_SZ) are delivered as program text with their terminating NUL
    // (counted in *dataSize); other types as their raw bytes. Too small a buffer: kMoreData,
    // *dataSize set to the size needed.
    virtual Status QueryValueEx(Key key, const std::string& name, std::uint32_t* type,
                                std::uint8_t* data, std::uint32_t* dataSize) = 0;

    // RegSetValueExA. Text values are taken as program text; a REG_SZ runs to its first NUL or
    // the end of `data`.
    virtual Status SetValueEx(Key key, const std::string& name, std::uint32_t type,
                              const std::uint8_t* data, std::uint32_t dataSize) = 0;

    // RegEnumValueA, with the buffers managed here: value `index` of the key, its data as
    // QueryValueEx delivers it.
    virtual Status EnumValue(Key key, std::uint32_t index, std::string* name, std::uint32_t* type,
                             std::vector<std::uint8_t>* data) = 0;

    // RegDeleteValueA.
    virtual Status DeleteValue(Key key, const std::string& name) = 0;

    // Value `index` of the key with its data exactly as the registry keeps it: text types
    // (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) as their UTF-16LE bytes, other types as they are.
    // What copies a value elsewhere uses, so that no byte changes on the way.
    virtual Status EnumValueBytes(Key key, std::uint32_t index, std::string* name,
                                  std::uint32_t* type, std::string* data) = 0;

    // Sets a value from such bytes. A backend that cannot keep exactly these bytes refuses with
    // kInvalidParameter and changes nothing.
    virtual Status SetValueBytes(Key key, const std::string& name, std::uint32_t type,
                                 std::string_view data) = 0;

    // All values of the key `subKey` below `key` (empty: `key` itself). A backend that can read
    // a key's values at once does so in one call; this default opens the key, enumerates its
    // values and closes it again. A missing key: kFileNotFound.
    virtual Status QueryKeyValues(Key key, const std::string& subKey,
                                  std::vector<RegValue>* values);

    // The values of the given names of the key `subKey` below `key`, for a reader that knows
    // which values it will ask for: a backend that reads named values in one call (advapi32's
    // RegQueryMultipleValues, also against a remote registry) does so and sets *all to false.
    // Otherwise, and when a name is not there, it delivers all the key's values as
    // QueryKeyValues does and sets *all to true. A missing key: kFileNotFound. An empty
    // `subKey` reads `key` itself through its handle, which then must allow reading values.
    virtual Status QueryNamedValues(Key key, const std::string& subKey,
                                    const std::vector<std::string>& names,
                                    std::vector<RegValue>* values, bool* all);

    // Everything the key `subKey` below `key` holds, read as one call where the backend can
    // (the file store does, from one lookup). This default opens the key, enumerates its values
    // and its subkeys and closes it again. A missing key: kFileNotFound. `expected` says what the
    // caller expects the key to hold. A backend that reads named values in one call (advapi32)
    // reads the values expected at once, and enumerates a key's values one by one only when it
    // holds others; a value read so is named as expected, whatever case it is stored in. A
    // backend that lists subkeys a call each (advapi32) does not list them when the key holds as
    // many as expected: it gives the names expected and sets `subkeysAsExpected`; a reader that
    // then finds one of them missing asks again without expecting subkeys.
    virtual Status QueryKeyContents(Key key, const std::string& subKey, KeyContents* contents,
                                    const ExpectedContents& expected = {});

    // Value `name` of the key `subKey` below `key`, by way of QueryKeyValues: a backend or cache
    // that holds the key's values answers from them. Missing key or value: kFileNotFound.
    virtual Status QueryKeyValue(Key key, const std::string& subKey, const std::string& name,
                                 RegValue* value);

    // GetComputerNameA: the local computer's name, NUL-terminated, into buffer[0 .. *size).
    // On success *size is the name's length; when the buffer is too small or missing,
    // kBufferOverflow and *size is the length needed including the NUL; without `size`,
    // kInvalidParameter.
    virtual Status LocalComputerName(char* buffer, std::uint32_t* size) = 0;
};

// The names of the subkeys of an open key, in enumeration order.
Status ListSubkeys(RegistryApi& api, Key key, std::vector<std::string>* names);

// The value of that name among `values`, found as the registry finds names; null when none.
inline const RegValue* FindValue(const std::vector<RegValue>& values, std::string_view name) {
    // Names are nearly always spelt as stored.
    for (const RegValue& value : values) {
        if (value.name == name) return &value;
    }
    for (const RegValue& value : values) {
        if (text::EqualsNoCase(value.name, name)) return &value;
    }
    return nullptr;
}

}  // namespace kelvaston::platform
