// What the store relies on from the registry, checked through the RegistryApi alone. The same
// suite runs on every backend: the file store, the file store behind the cache the configuration
// store puts in front of every registry (KELVASTON_TEST_CACHED: what the suite sees must not
// change), and advapi32 under Wine, which also gets the checks only it needs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "platform/test_helpers.h"
#include "platform/text.h"
#ifdef _WIN32
#include "platform/win32_registry.h"
#include "platform/windows_headers.h"
#else
#include <clocale>
#include <cwctype>

#include "platform/caching_registry.h"
#include "platform/file_store.h"
#include "support/temp_dir.h"
#endif

namespace kelvaston::platform {
namespace {

using namespace test;  // NOLINT: the helpers of every test here
using Names = std::vector<std::string>;
#ifdef _WIN32
constexpr bool kNamedReads = true;  // RegQueryMultipleValues reads named values at once
#else
constexpr bool kNamedReads = false;
#endif

// "U+00C4+D801+DC00": the UTF-16 code units of a text, for messages and key names.
std::string CodePoints(std::string_view utf8) {
    const std::string units = text::Utf8ToUtf16Le(utf8);
    std::ostringstream out;
    for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
        out << (i == 0 ? "U+" : "+") << std::hex << std::uppercase << std::setw(4)
            << std::setfill('0')
            << (static_cast<unsigned char>(units[i]) |
                (static_cast<unsigned char>(units[i + 1]) << 8));
    }
    return out.str();
}

#ifdef _WIN32
// UTF-8 to and from Windows' UTF-16.
std::wstring Wide(const std::string& utf8) {
    const std::string units = text::Utf8ToUtf16Le(utf8);
    std::wstring wide(units.size() / 2, L'\0');
    std::memcpy(wide.data(), units.data(), units.size());
    return wide;
}
std::string FromWide(const std::wstring& wide) {
    std::string units(wide.size() * 2, '\0');
    std::memcpy(units.data(), wide.data(), units.size());
    return text::Utf16LeToUtf8(units);
}

// The real registry through advapi32 (Windows or Wine). Each test process gets a scratch key of
// its own below HKLM\SOFTWARE\KelvastonTest, named after its process id, so tests that ctest
// runs in parallel never meet. The scratch key is removed with advapi32 directly rather than
// through the code under test; a process id can be reused, so whatever an earlier, aborted run
// left behind goes first.
struct Backend {
    Backend() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, scratch.c_str()); }
    ~Backend() {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, scratch.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE,
                      "SOFTWARE\\KelvastonTest");  // fails while others still use it
    }
    RegistryApi& Api() { return registry; }

    Win32Registry registry;
    const std::string scratch = "SOFTWARE\\KelvastonTest\\" + std::to_string(GetCurrentProcessId());
};

// The spellings of `c` in other case that Windows' own case mapping gives, not the store's:
// CharUpperBuffW and CharLowerBuffW, and LCMapStringW in the invariant locale, plain and with
// linguistic casing.
Names OtherCaseForms(char32_t c) {
    const std::wstring wide = Wide(Utf8(c));
    Names forms;
    for (const auto map : {CharUpperBuffW, CharLowerBuffW}) {
        std::wstring buffer = wide;
        map(buffer.data(), static_cast<DWORD>(buffer.size()));
        forms.push_back(FromWide(buffer));
    }
    for (const DWORD flags : {DWORD{LCMAP_UPPERCASE}, DWORD{LCMAP_LOWERCASE},
                              DWORD{LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING},
                              DWORD{LCMAP_LOWERCASE | LCMAP_LINGUISTIC_CASING}}) {
        wchar_t mapped[64];
        const int length = LCMapStringW(LOCALE_INVARIANT, flags, wide.c_str(),
                                        static_cast<int>(wide.size()), mapped, 64);
        if (length > 0)
            forms.push_back(FromWide(std::wstring(mapped, static_cast<std::size_t>(length))));
    }
    return forms;
}
#else
// The file store, a store folder of its own per test.
struct Backend {
    RegistryApi& Api() {
        return KELVASTON_TEST_CACHED ? static_cast<RegistryApi&>(cache) : registry;
    }

    TempDir folder;  // declared first: outlives the registry, which writes into it at the end
    FileStoreRegistry registry{FileStoreOptions{folder.Path(), "TestHost"}};
    CachingRegistry cache{registry};
    const std::string scratch = "SOFTWARE\\KelvastonTest";
};

// The other case the C library gives `c`: towupper and towlower in a UTF-8 locale.
Names OtherCaseForms(char32_t c) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (utf8 == nullptr) return {};
    const auto wide = static_cast<wint_t>(c);
    return {Utf8(static_cast<char32_t>(towupper_l(wide, utf8))),
            Utf8(static_cast<char32_t>(towlower_l(wide, utf8)))};
}
#endif

class RegistrySemantics : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(api_.CreateKey(kHKeyLocalMachine, backend_.scratch, &scratch_), kSuccess);
    }
    void TearDown() override {
        for (Key key : open_) api_.CloseKey(key);
        api_.CloseKey(scratch_);
    }
    Key Create(Key parent, const std::string& name) {
        Key key = kNullKey;
        EXPECT_EQ(api_.CreateKey(parent, name, &key), kSuccess) << name;
        return open_.emplace_back(key);
    }
    // Opens `name`; the handle is null whenever the call fails.
    Status Open(Key parent, const std::string& name, std::uint32_t access, Key* key) {
        *key = reinterpret_cast<Key>(key);
        const Status status = api_.OpenKeyEx(parent, name, 0, access, key);
        EXPECT_EQ(open_.emplace_back(*key) == kNullKey, status != kSuccess) << name;
        return status;
    }

    // Creates a key for each name (UTF-8) in turn below a new key `parent` of the scratch key,
    // enumerates the parent's subkeys (`enumerated`), opens the parent by each probe (`opened`),
    // and removes the parent. Windows: with the wide calls, as the ANSI code page cannot carry
    // most of these names. The file store: inside one transaction, which is dropped at the end,
    // so the file is not written for each key.
    struct NameBatch {
        Names enumerated;
        std::vector<bool> opened;
    };
    NameBatch CreateAndProbe(const std::string& parent, const Names& names, const Names& probes) {
        NameBatch batch;
#ifdef _WIN32
        HKEY below = nullptr, key = nullptr;
        const std::wstring path = Wide(backend_.scratch + "\\" + parent);
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &below, nullptr) != 0) {
            return batch;
        }
        for (const std::string& name : names) {
            if (RegCreateKeyExW(below, Wide(name).c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key,
                                nullptr) == 0)
                RegCloseKey(key);
        }
        wchar_t name[256];
        for (DWORD index = 0, length = 256;
             RegEnumKeyExW(below, index, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
             ++index, length = 256) {
            batch.enumerated.push_back(FromWide(std::wstring(name, length)));
        }
        for (const std::string& probe : probes) {
            batch.opened.push_back(RegOpenKeyExW(below, Wide(probe).c_str(), 0, KEY_READ, &key) ==
                                   0);
            if (batch.opened.back()) RegCloseKey(key);
        }
        RegCloseKey(below);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
#else
        const bool inTransaction = api_.BeginTransaction(scratch_) == kSuccess;
        const Key below = Create(scratch_, parent);
        for (const std::string& name : names) Make(api_, name, below);
        ListSubkeys(api_, below, &batch.enumerated);
        for (const std::string& probe : probes)
            batch.opened.push_back(Opens(api_, probe, kKeyRead, below) == kSuccess);
        if (inTransaction) api_.AbortTransaction(scratch_);
        DeleteTree(api_, scratch_, parent);
#endif
        return batch;
    }

    Backend backend_;
    RegistryApi& api_ = backend_.Api();
    Key scratch_ = kNullKey;
    std::vector<Key> open_;
};

// Names are found without regard to case (ASCII and umlauts), keep the case they were made
// with, and enumerate sorted that way; deleting renumbers the rest. A key with subkeys, or one
// that is not there, is not deleted.
TEST_F(RegistrySemantics, NamesIgnoreCaseKeepTheirCaseAndEnumerateSorted) {
    for (const char* name : {"b", "M\xC3\xBCller", "A", "volatile", "NORAS\\info", "c"})
        Create(scratch_, name);
    const Key again = Create(scratch_, "m\xC3\x9CLLER");
    EXPECT_EQ(Subkeys(api_, scratch_),
              (Names{"A", "b", "c", "M\xC3\xBCller", "NORAS", "volatile"}));
    ASSERT_EQ(SetText(api_, again, "POP Host", "pop.example.com"), kSuccess);
    ASSERT_EQ(SetText(api_, again, "POP HOST", "mail.example.com"), kSuccess);
    std::string name;
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(api_.EnumValue(again, 0, &name, nullptr, &bytes), kSuccess);
    EXPECT_EQ(name + std::string(bytes.begin(), bytes.end()),
              std::string("POP Hostmail.example.com", 25));
    EXPECT_EQ(api_.EnumValue(again, 1, &name, nullptr, &bytes), error::kNoMoreItems);
    for (const auto& [path, status] :
         {std::pair("NORAS", error::kAccessDenied), std::pair("missing", error::kFileNotFound),
          std::pair("noras\\missing", error::kFileNotFound), std::pair("a", kSuccess),
          std::pair("noras\\INFO", kSuccess), std::pair("NoRaS", kSuccess)}) {
        EXPECT_EQ(api_.DeleteKey(scratch_, path), status) << path;
    }
    EXPECT_EQ(Subkeys(api_, scratch_), (Names{"b", "c", "M\xC3\xBCller", "volatile"}));
    Key key = kNullKey;
    EXPECT_EQ(Open(scratch_, "noras", kKeyRead, &key), error::kFileNotFound);
    Create(scratch_, "Noras");
    EXPECT_EQ(Subkeys(api_, scratch_), (Names{"b", "c", "M\xC3\xBCller", "Noras", "volatile"}));
}

// Every code point of the Basic Multilingual Plane that can stand in a key name, and the
// supplementary blocks with cased letters (Deseret, Osage, Old Hungarian, Medefaidrin, Adlam),
// each a key name in batches of 256 below a parent of their own. The registry keeps a name
// apart from those before it exactly when EqualsNoCase does, and opens a key by another
// spelling (the store's folded form; the platform's own upper and lower case) exactly when
// EqualsNoCase says the spelling equals a name of the batch. On Windows this judges the
// store's case folding against the registry's.
TEST_F(RegistrySemantics, NamesAreOneKeyExactlyWhenTheStoreSaysTheyAreEqual) {
    std::vector<char32_t> batches = {0x10400, 0x10C80, 0x16E00, 0x1E900};
    for (char32_t first = 0; first < 0x10000; first += 0x100) batches.push_back(first);
    Names wrong;
    for (const char32_t first : batches) {
        Names names;
        std::set<std::string> spellings;
        // The first name of each of the store's classes, by its folded form; EqualsNoCase must
        // agree with that form (checked natively, for every code point, with the text helpers).
        std::map<std::string, std::string> kept;
        for (char32_t c = first; c <= first + 0xFF; ++c) {
            // No control character, no backslash (a path), no surrogate (not a character).
            if (c < 0x20 || c == 0x7F || c == '\\' || (c >= 0xD800 && c <= 0xDFFF)) continue;
            const std::string& name = names.emplace_back(Utf8(c));
            const auto [at, added] = kept.emplace(text::FoldCase(name), name);
            EXPECT_TRUE(added || text::EqualsNoCase(at->second, name)) << CodePoints(name);
            const Names forms = OtherCaseForms(c);
            spellings.insert(forms.begin(), forms.end());
            spellings.insert(text::FoldCase(name));
        }
        // The other spellings are probes, but the names of the batch (which open anyway) and
        // those that cannot be key names.
        for (const std::string& name : names) spellings.erase(name);
        std::erase_if(spellings, [](const auto& s) {
            return s.empty() || s.find_first_of(std::string("\\\0", 2)) != std::string::npos;
        });
        const Names probes(spellings.begin(), spellings.end());
        const NameBatch batch = CreateAndProbe(CodePoints(Utf8(first)), names, probes);
        Names enumerated = batch.enumerated, apart;
        for (const auto& [folded, name] : kept) apart.push_back(name);
        std::sort(enumerated.begin(), enumerated.end());
        std::sort(apart.begin(), apart.end());
        const auto onlyIn = [&](const Names& these, const Names& those, const char* what) {
            Names only;
            std::set_difference(these.begin(), these.end(), those.begin(), those.end(),
                                std::back_inserter(only));
            for (const std::string& name : only) wrong.push_back(CodePoints(name) + what);
        };
        onlyIn(apart, enumerated, " merged by the registry, kept apart by the store");
        onlyIn(enumerated, apart, " kept apart by the registry, merged by the store");
        ASSERT_EQ(batch.opened.size(), probes.size());
        for (std::size_t i = 0; i < probes.size(); ++i) {
            const auto same = kept.find(text::FoldCase(probes[i]));
            const bool equal = same != kept.end() && text::EqualsNoCase(same->second, probes[i]);
            if (batch.opened[i] != equal) {
                wrong.push_back(CodePoints(probes[i]) +
                                (batch.opened[i] ? " opens a key of the batch from "
                                                 : " opens no key of the batch from ") +
                                CodePoints(Utf8(first)) + ", the store says it " +
                                (equal ? "would" : "would not"));
            }
        }
    }
    std::ostringstream listed;
    for (std::size_t i = 0; i < wrong.size() && i < 60; ++i) listed << wrong[i] << "\n";
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " disagreements, the first of them:\n"
                               << listed.str();
}

// Paths: every missing key on the way is made, empty names are passed over, a leading
// backslash is refused, a slash is part of a name, 255 characters (not bytes) at most. A name
// is enumerated into a buffer only when it fits with its NUL.
TEST_F(RegistrySemantics, PathsNameLengthsAndEnumeration) {
    std::string umlauts;
    for (int i = 0; i < 255; ++i) umlauts += "\xC3\xA4";
    const std::string longest(255, 'k');
    for (const std::string& path : {std::string("\xC3\x84rcor\\vertrieb\\"), std::string("x\\\\y"),
                                    std::string("q/r"), longest, umlauts}) {
        Create(scratch_, path);
    }
    EXPECT_EQ(Subkeys(api_, scratch_), (Names{longest, "q/r", "x", "\xC3\x84rcor", umlauts}));
    Key key = kNullKey;
    EXPECT_EQ(Open(scratch_, "\xC3\xA4RCOR\\Vertrieb", kKeyRead, &key), kSuccess);
    EXPECT_EQ(Open(scratch_, "x\\y", kKeyRead, &key), kSuccess);
    EXPECT_EQ(Open(scratch_, "x\\missing\\deeper", kKeyAllAccess, &key), error::kFileNotFound);
    EXPECT_EQ(Open(scratch_, "\\x", kKeyRead, &key), error::kBadPathName);
    for (const std::string& bad :
         {std::string("\\lead"), std::string(256, 'k'), umlauts + "\xC3\xA4"}) {
        key = reinterpret_cast<Key>(&key);
        EXPECT_NE(api_.CreateKey(scratch_, bad, &key), kSuccess);
        EXPECT_EQ(key, kNullKey);
    }
    std::vector<char> buffer(16, ' ');
    // "Ärcor" fits 6 bytes in a Western code page, but needs 7 in UTF-8 with its NUL. Twice: the
    // second time a cache in front of the registry answers with the name it kept.
    for (const auto& [index, room, status, length] :
         {std::tuple(5u, 16u, error::kNoMoreItems, 16u), std::tuple(3u, 6u, error::kMoreData, 6u),
          std::tuple(3u, 7u, kSuccess, 6u), std::tuple(3u, 6u, error::kMoreData, 6u),
          std::tuple(3u, 7u, kSuccess, 6u)}) {
        std::fill(buffer.begin(), buffer.end(), ' ');
        std::uint32_t size = room;
        EXPECT_EQ(api_.EnumKeyEx(scratch_, index, buffer.data(), &size), status)
            << index << " " << room;
        EXPECT_EQ(size, length) << index << " " << room;
        const std::string written = status == kSuccess ? std::string("\xC3\x84rcor") + '\0' : "";
        EXPECT_EQ(std::string(buffer.data(), 16), written + std::string(16 - written.size(), ' '));
    }
}

// A value's size counts UTF-8 bytes and the NUL of a text; a buffer too small gets nothing.
TEST_F(RegistrySemantics, TextAndNumberValuesAndTheirSizes) {
    const Key key = Create(scratch_, "values");
    ASSERT_EQ(SetText(api_, key, "empty", ""), kSuccess);
    ASSERT_EQ(SetText(api_, key, "text", "c:\\L\xC3\xB6g.txt"), kSuccess);
    ASSERT_EQ(api_.SetValueEx(key, "TimeOut", kRegDword,
                              reinterpret_cast<const std::uint8_t*>("\x58\x02\0"), 4),
              kSuccess);
    // `room`: the buffer's size; 0: no buffer, the size only.
    const struct {
        const char* name;
        std::uint32_t room;
        Status status;
        std::uint32_t size;
        std::string data;
    } cases[] = {{"text", 0, kSuccess, 12, ""},
                 {"TEXT", 11, error::kMoreData, 12, std::string(11, '?')},
                 {"text", 16, kSuccess, 12, std::string("c:\\L\xC3\xB6g.txt", 12)},
                 {"empty", 16, kSuccess, 1, std::string(1, '\0')},
                 {"timeout", 16, kSuccess, 4, std::string("\x58\x02\0\0", 4)},
                 {"missing", 16, error::kFileNotFound, 16, std::string(16, '?')}};
    for (const auto& c : cases) {
        std::string data(16, '?');
        std::uint32_t type = 0, size = c.room;
        std::uint8_t* const buffer =
            c.room ? reinterpret_cast<std::uint8_t*>(data.data()) : nullptr;
        EXPECT_EQ(api_.QueryValueEx(key, c.name, &type, buffer, &size), c.status) << c.name;
        EXPECT_EQ(c.status == kSuccess ? type : 0, c.status != kSuccess ? 0
                                                   : c.size == 4        ? kRegDword
                                                                        : kRegSz);
        EXPECT_EQ(size, c.size) << c.name;
        EXPECT_EQ(data.substr(0, c.data.size()), c.data) << c.name;
    }
    // Values read by their names: in one read where the registry can (advapi32), else all the
    // key's values; all of them also when a name is not there.
    const std::string number = std::string("TimeOut 4 \x58\x02\0\0", 14),
                      text = std::string("text 1 c:\\L\xC3\xB6g.txt") + '\0';
    for (const auto& [names, all] : {std::pair(Names{"TimeOut", "text"}, !kNamedReads),
                                     std::pair(Names{"text", "gone"}, true)}) {
        std::vector<RegValue> values;
        bool gotAll = !all;
        ASSERT_EQ(api_.QueryNamedValues(scratch_, "values", names, &values, &gotAll), kSuccess);
        EXPECT_EQ(gotAll, all);
        if (all)
            std::sort(values.begin(), values.end(),
                      [](const auto& a, const auto& b) { return a.name < b.name; });
        std::string listed;
        for (const RegValue& value : values)
            listed += value.name + " " + std::to_string(value.type) + " " + value.data + "|";
        EXPECT_EQ(listed, number + "|" + (all ? std::string("empty 1 \0|", 10) : "") + text + "|");
    }
    std::vector<RegValue> values;
    bool all = false;
    EXPECT_EQ(api_.QueryNamedValues(scratch_, "gone", {"text"}, &values, &all),
              error::kFileNotFound);
    EXPECT_EQ(api_.DeleteValue(key, "TEXT"), kSuccess);
    EXPECT_EQ(api_.DeleteValue(key, "text"), error::kFileNotFound);
}

// Values set as the registry's own bytes come back as exactly those bytes, whatever they hold:
// expandable and multi-part text with odd byte counts or unpaired surrogates, numbers of the
// wrong size, types nobody knows. (A REG_SZ is given as the UTF-16LE text it always is.)
TEST_F(RegistrySemantics, ValueBytesComeBackExactly) {
    const Key key = Create(scratch_, "foreign");
    std::map<std::string, std::pair<std::uint32_t, std::string>> values = {
        {"Blob", {kRegBinary, std::string("\x00\xFF\x10\x00\x7F", 5)}},
        {"Big", {kRegQword, "\x01\x02\x03\x04\x05\x06\x07\x08"}},
        {"Odd", {kRegExpandSz, std::string("A\0B", 3)}},
        {"Unpaired",
         {kRegExpandSz, std::string("A\0\0\xD8"
                                    "B\0",
                                    6)}},
        {"Multi", {kRegMultiSz, std::string("\0\xDC\0", 3)}},
        {"Short", {kRegDword, "\x01\x02"}},
        {"Nothing", {kRegNone, ""}},
        {"Unknown", {0x12345678, "?"}},
        {"Text", {kRegSz, std::string("G\0r\0\xFC\0\xDF\0e\0\0\0", 12)}}};
    for (const auto& [name, value] : values)
        ASSERT_EQ(api_.SetValueBytes(key, name, value.first, value.second), kSuccess) << name;
    // The order in which values are listed differs between registries: look them up by name.
    std::string name, data;
    std::uint32_t type = 0, index = 0;
    for (; api_.EnumValueBytes(key, index, &name, &type, &data) == kSuccess; ++index) {
        const auto listed = values.extract(name);  // each once
        EXPECT_TRUE(listed && listed.mapped() == std::pair(type, data)) << name;
    }
    EXPECT_TRUE(values.empty()) << values.begin()->first << " not listed";
}

// A handle carries the access it was opened with; one of a deleted key is dead, also once the
// name is made again.
TEST_F(RegistrySemantics, HandlesKeepTheirAccessAndDieWithTheirKey) {
    Create(scratch_, "guarded");
    Key readOnly = kNullKey, writeOnly = kNullKey;
    ASSERT_EQ(Open(scratch_, "guarded", kKeyRead, &readOnly), kSuccess);
    ASSERT_EQ(Open(scratch_, "guarded", kKeyWrite, &writeOnly), kSuccess);
    const std::uint8_t number[4] = {1, 0, 0, 0};
    EXPECT_EQ(api_.SetValueEx(readOnly, "x", kRegDword, number, 4), error::kAccessDenied);
    EXPECT_EQ(api_.SetValueEx(writeOnly, "x", kRegDword, number, 4), kSuccess);
    std::uint32_t size = 0;
    EXPECT_EQ(api_.QueryValueEx(writeOnly, "x", nullptr, nullptr, &size), error::kAccessDenied);
    EXPECT_EQ(api_.QueryValueEx(readOnly, "x", nullptr, nullptr, &size), kSuccess);
    // Making a subkey takes a handle that may create below it (KEY_CREATE_SUB_KEY), which a
    // reading one may not; deleting one asks nothing of the parent's handle. Wine 8 lets a
    // reading handle make one, which Windows' documentation of RegCreateKeyEx rules out: that
    // part is checked on the file store alone.
#ifndef _WIN32
    Key none = kNullKey;
    EXPECT_EQ(api_.CreateKey(readOnly, "new", &none), error::kAccessDenied);
    EXPECT_EQ(none, kNullKey);
#endif
    const Key doomed = Create(writeOnly, "doomed");
    ASSERT_EQ(SetText(api_, doomed, "v", "x"), kSuccess);
    EXPECT_EQ(api_.DeleteKey(writeOnly, "doomed"), kSuccess);

    EXPECT_EQ(api_.SetValueEx(doomed, "v", kRegDword, number, 4), error::kKeyDeleted);
    EXPECT_EQ(api_.FlushKey(doomed), error::kKeyDeleted);
    const Key reborn = Create(scratch_, "Doomed");
    EXPECT_EQ(api_.QueryValueEx(doomed, "v", nullptr, nullptr, &size), error::kKeyDeleted);
    EXPECT_EQ(api_.QueryValueEx(reborn, "v", nullptr, nullptr, &size), error::kFileNotFound);
    EXPECT_EQ(Subkeys(api_, scratch_), (Names{"Doomed", "guarded"}));
    // A handle closes once.
    EXPECT_EQ(api_.CloseKey(readOnly), kSuccess);
    EXPECT_EQ(api_.CloseKey(readOnly), error::kInvalidHandle);
}

// The local computer's name, in any case and with or without a leading "\\", reaches the local
// hive; an unknown one fails with a null handle. The name's size includes its NUL.
TEST_F(RegistrySemantics, ConnectReachesTheLocalHiveUnderEveryNameAndNoOther) {
    char buffer[256];
    std::uint32_t size = 2, needed = 0;
    EXPECT_EQ(api_.LocalComputerName(buffer, nullptr), error::kInvalidParameter);
    EXPECT_EQ(api_.LocalComputerName(nullptr, &needed), error::kBufferOverflow);
    EXPECT_EQ(api_.LocalComputerName(buffer, &size), error::kBufferOverflow);
    ASSERT_EQ(api_.LocalComputerName(buffer, &size), kSuccess);
    EXPECT_EQ(needed, size + 1);
    const std::string name(buffer, size);
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    for (const std::string& form :
         {std::string(), name, lower, "\\\\" + name, std::string("KELVASTON-NO-SUCH-HOST-7")}) {
        const bool reachable = form.find("NO-SUCH-HOST") == std::string::npos;
        Key root = reinterpret_cast<Key>(&root);
        EXPECT_EQ(api_.ConnectRegistry(form, kHKeyLocalMachine, &root),
                  reachable ? kSuccess : error::kBadNetPath)
            << form;
        EXPECT_EQ(reachable ? Opens(api_, backend_.scratch, kKeyRead, root) : root != kNullKey, 0)
            << form;
        api_.CloseKey(root);
    }
}

#ifdef _WIN32
// The value's data, as read by asking for its size first.
std::string Query(RegistryApi& api, Key key, const std::string& name, std::uint32_t* type) {
    std::uint32_t size = 0;
    EXPECT_EQ(api.QueryValueEx(key, name, type, nullptr, &size), kSuccess);
    std::string data(size, '\0');
    EXPECT_EQ(
        api.QueryValueEx(key, name, type, reinterpret_cast<std::uint8_t*>(data.data()), &size),
        kSuccess);
    return data.substr(0, size);
}

// Only advapi32's backend reads text that other programs wrote in Unicode, which reaches it
// through the ANSI code page: every kind of text comes back as UTF-8 with its NULs ("multi" is
// two strings and the list's end, "bare" was stored without any NUL). The registry is written
// through the wide-character functions, independently of the code under test.
TEST_F(RegistrySemantics, TextOtherProgramsWroteInUnicodeReadsAsUtf8) {
    if (GetACP() != 1252 && GetACP() != CP_UTF8)
        GTEST_SKIP() << "code page " << GetACP() << " lacks the umlauts";
    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, backend_.scratch.c_str(), 0, KEY_ALL_ACCESS, &raw),
              ERROR_SUCCESS);
    const wchar_t expand[] = L"%WINDIR%\\B\u00e4r", multi[] = L"\u00e4\0\u00f6\0",
                  bare[] = L"\u00fc";
    for (const auto& [name, type, bytes, size, read] :
         {std::tuple(L"expand", kRegExpandSz, expand, sizeof expand,
                     std::string("%WINDIR%\\B\xC3\xA4r") + '\0'),
          std::tuple(L"multi", kRegMultiSz, multi, sizeof multi,
                     std::string("\xC3\xA4\0\xC3\xB6\0\0", 7)),
          std::tuple(L"bare", kRegSz, bare, sizeof bare - sizeof(wchar_t),
                     std::string("\xC3\xBC") + '\0')}) {
        ASSERT_EQ(RegSetValueExW(raw, name, 0, type, reinterpret_cast<const BYTE*>(bytes),
                                 static_cast<DWORD>(size)),
                  ERROR_SUCCESS);
        std::uint32_t found = 0;
        EXPECT_EQ(Query(api_, scratch_, FromWide(name), &found), read);
        EXPECT_EQ(found, type);
    }
    RegCloseKey(raw);
}

// The backend's first buffer is 256 bytes; a larger value must be read whole, by name and in
// the enumeration.
TEST_F(RegistrySemantics, LargeValuesAreReadWhole) {
    std::string blob(5000, '\0');
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7);
    ASSERT_EQ(api_.SetValueEx(scratch_, "blob", kRegBinary,
                              reinterpret_cast<const std::uint8_t*>(blob.data()),
                              static_cast<std::uint32_t>(blob.size())),
              kSuccess);
    std::uint32_t type = 0;
    EXPECT_EQ(Query(api_, scratch_, "blob", &type), blob);
    std::string name;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(api_.EnumValue(scratch_, 0, &name, nullptr, &data), kSuccess);
    EXPECT_EQ(std::string(data.begin(), data.end()), blob);
}
#endif

}  // namespace
}  // namespace kelvaston::platform
