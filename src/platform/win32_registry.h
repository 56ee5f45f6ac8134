// The Windows registry through advapi32's ANSI functions.
//
// Each method is one advapi32 call (or a short loop of them while a buffer grows) plus the text
// conversion between the program's UTF-8 and the computer's ANSI code page. Key and value names,
// the computer name and the data of REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ values are converted;
// everything else passes through unchanged. Text that the ANSI code page cannot represent, or
// that is not valid UTF-8, is refused with ERROR_NO_UNICODE_TRANSLATION (1113) rather than being
// stored with '?' in it.
//
// CreateKey refuses a path component longer than 255 characters (kInvalidParameter) before
// asking advapi32: that is the documented limit, which Wine does not enforce (it takes 256).
//
// This header deliberately does not include <windows.h>, so code that uses the class does not
// get the Windows macros.
#pragma once

#include <atomic>

#include "platform/registry_api.h"

namespace kelvaston::platform {

struct Advapi32;

class Win32Registry final : public RegistryApi {
public:
    // Through advapi32 itself.
    Win32Registry();
    // Through `calls` (advapi32 behind a measurement); with `asIfRemote`, calls overlap as they
    // do with another computer's registry, whichever computer it is.
    Win32Registry(const Advapi32& calls, bool asIfRemote);

    // Calls to another computer's registry each wait for a round trip: they are worth
    // overlapping. Those to this computer's are not.
    std::size_t ConcurrentCalls() const override { return remote_ ? kMaxConcurrentCalls : 1; }
    Status ConnectRegistry(const std::string& machine, Key hive, Key* result) override;
    Status OpenKeyEx(Key parent, const std::string& subKey, std::uint32_t options,
                     std::uint32_t access, Key* result) override;
    Status CreateKey(Key parent, const std::string& subKey, Key* result) override;
    Status EnumKeyEx(Key key, std::uint32_t index, char* name, std::uint32_t* nameLength) override;
    Status DeleteKey(Key parent, const std::string& subKey) override;
    Status CloseKey(Key key) override;
    Status FlushKey(Key key) override;
    Status QueryValueEx(Key key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* dataSize) override;
    Status SetValueEx(Key key, const std::string& name, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t dataSize) override;
    Status EnumValue(Key key, std::uint32_t index, std::string* name, std::uint32_t* type,
                     std::vector<std::uint8_t>* data) override;
    Status DeleteValue(Key key, const std::string& name) override;
    // The byte-exact pair goes through the wide functions (RegEnumValueW, RegSetValueExW): the
    // ANSI ones would convert text values through the code page.
    Status EnumValueBytes(Key key, std::uint32_t index, std::string* name, std::uint32_t* type,
                          std::string* data) override;
    Status SetValueBytes(Key key, const std::string& name, std::uint32_t type,
                         std::string_view data) override;
    // Through the wide functions as well: names of any character, paths of any length.
    Status QueryKeyContents(Key key, const std::string& subKey, KeyContents* contents,
                            const ExpectedContents& expected = {}) override;
    // The first character that is not UTF-8 or that the ANSI code page lacks.
    std::optional<std::size_t> UnstorableAt(std::string_view text) const override;
    Status LocalComputerName(char* buffer, std::uint32_t* size) override;

private:
    // The longest ANSI key path Wine takes in one call (see ByPath).
    static constexpr std::size_t kLongestAnsiPath = 258;
    // Opens or makes (`step`: RegOpenKeyExA or RegCreateKeyA) the key `subKey` below `parent`.
    template <class Step>
    Status ByPath(Key parent, const std::string& subKey, Key* result, Step&& step);

    // RegQueryMultipleValuesW: the named values of an open key (an HKEY) in one call, named as
    // asked for, their data as stored. Fails when one of them is not there.
    Status QueryValuesNamed(void* key, const std::vector<std::string>& names,
                            std::vector<RegValue>* values);

    const Advapi32& calls_;
    const bool asIfRemote_ = false;
    std::atomic<bool> remote_{false};  // the last connection went to another computer

public:
    // RegQueryMultipleValuesA: the named values in one round trip, between the key's open and
    // close. When a name is not there, every value of the key is read one by one instead.
    Status QueryNamedValues(Key key, const std::string& subKey,
                            const std::vector<std::string>& names, std::vector<RegValue>* values,
                            bool* all) override;
};

// The conversions used at the advapi32 boundary, exposed for the tests. Both return false when
// the text cannot be converted faithfully. Embedded NULs are converted like any other character.
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi);
bool AnsiToUtf8(const std::string& ansi, std::string* utf8);

}  // namespace kelvaston::platform
