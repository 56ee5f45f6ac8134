// What the store relies on from the registry, checked through the RegistryApi alone. The same
// suite runs on every backend: the file store, the file store behind the cache the configuration
// store puts in front of every registry (KELVASTON_TEST_CACHED: what the suite sees must not
// change), the file store read one call at a time (KELVASTON_TEST_ONE_CALL_AT_A_TIME), and
// advapi32 under Wine, which also gets the checks only it needs. Most of it is
// registry.calls, sequences of calls with the whole result of each, read and run by the script
// runner below; the file store's own cases there run in the plain file store's suite alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "platform/caching_registry.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "platform/test_helpers.h"
#include "platform/text.h"
#ifdef _WIN32
#include "platform/win32_registry.h"
#include "platform/windows_headers.h"
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cwctype>
#include <thread>

#include "platform/atomic_file.h"
#include "platform/file_store.h"
#include "platform/registry_decorators.h"
#endif
#include "support/temp_dir.h"

namespace kelvaston::platform {
namespace {

using namespace test;  // NOLINT: the helpers of every test here
using Names = std::vector<std::string>;
constexpr auto npos = std::string::npos;
#ifndef KELVASTON_TEST_CACHED
#define KELVASTON_TEST_CACHED false
#endif
#ifndef KELVASTON_TEST_ONE_CALL_AT_A_TIME
#define KELVASTON_TEST_ONE_CALL_AT_A_TIME false
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
    // Behind the cache, as the program reads it: advapi32 gives a closed handle's number to
    // the next key opened, which the file store never does.
    RegistryApi& Api() {
        return KELVASTON_TEST_CACHED ? static_cast<RegistryApi&>(cache) : registry;
    }

    Win32Registry registry;
    CachingRegistry cache{registry};
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
// The file store with what reads several things at once left to the registry's own way, call
// by call, as on a backend that has no such reads of its own: they must read the same.
class OneCallAtATime final : public RegistryDecorator {
public:
    using RegistryDecorator::RegistryDecorator;
    Status QueryKeyValues(Key key, const std::string& subKey,
                          std::vector<RegValue>* values) override {
        return RegistryApi::QueryKeyValues(key, subKey, values);
    }
    Status QueryNamedValues(Key key, const std::string& subKey, const Names& names,
                            std::vector<RegValue>* values, bool* all) override {
        return RegistryApi::QueryNamedValues(key, subKey, names, values, all);
    }
    Status QueryKeyContents(Key key, const std::string& subKey, KeyContents* contents,
                            const ExpectedContents& expected) override {
        return RegistryApi::QueryKeyContents(key, subKey, contents, expected);
    }

protected:
    std::optional<Status> Before(Call /*call*/) override { return std::nullopt; }
};

// The file store, a store folder of its own per test.
struct Backend {
    RegistryApi& Api() {
        if (KELVASTON_TEST_ONE_CALL_AT_A_TIME) return oneCallAtATime;
        return KELVASTON_TEST_CACHED ? static_cast<RegistryApi&>(cache) : registry;
    }

    TempDir folder;  // declared first: outlives the registry, which writes into it at the end
    FileStoreRegistry registry{FileStoreOptions{folder.Path(), "TestHost"}};
    CachingRegistry cache{registry};
    OneCallAtATime oneCallAtATime{registry};
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
    void TearDown() override { api_.CloseKey(scratch_); }

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
        Key below = kNullKey;
        EXPECT_EQ(api_.CreateKey(scratch_, parent, &below), kSuccess) << parent;
        for (const std::string& name : names) Make(api_, name, below);
        ListSubkeys(api_, below, &batch.enumerated);
        for (const std::string& probe : probes)
            batch.opened.push_back(Opens(api_, probe, kKeyRead, below) == kSuccess);
        if (inTransaction) api_.AbortTransaction(scratch_);
        api_.CloseKey(below);
        DeleteTree(api_, scratch_, parent);
#endif
        return batch;
    }

    Backend backend_;
    RegistryApi& api_ = backend_.Api();
    Key scratch_ = kNullKey;
};

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

// ---- Call scripts: registry.calls ----------------------------------------------------------
// Each case of the file is a sequence of calls, each with the whole result it must give; the
// runner knows the verbs, the file the cases (its head says how to read it). Cases headed
// "case" run on every backend, below the scratch key S; those headed "file case" on the file
// store alone, in a folder of their own ($DIR), with stores the case opens itself.

// Bytes as a script shows them: printable ASCII as it is, anything else escaped.
std::string Shown(std::string_view bytes) {
    std::ostringstream out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            out << "\\\\";
        else if (byte >= 0x20 && byte < 0x7F)
            out << c;
        else
            out << "\\x" << std::hex << std::setw(2) << std::setfill('0') << unsigned{byte};
    }
    return out.str();
}
std::string Joined(const Names& names, const char* separator = "|") {
    std::string out;
    for (const auto& name : names) out += (out.empty() ? "" : separator) + name;
    return out;
}
Names Split(const std::string& text) {
    Names parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, '|');) parts.push_back(part);
    return parts;
}
std::string Listed(const std::vector<RegValue>& values) {
    Names listed;
    for (const auto& v : values)
        listed.push_back(v.name + "=" + std::to_string(v.type) + ":" + v.data);
    return Joined(listed);
}
// A value's type and data, read by asking for its size first (the size alone: no type, no
// buffer); or the status of the failing call.
std::string Read(RegistryApi& api, Key key, const std::string& name) {
    std::uint32_t size = 0, type = 0;
    Status status = api.QueryValueEx(key, name, nullptr, nullptr, &size);
    std::string data(size, '\0');
    if (status == kSuccess) {
        status =
            api.QueryValueEx(key, name, &type, reinterpret_cast<std::uint8_t*>(data.data()), &size);
    }
    return std::to_string(status) +
           (status == kSuccess ? " " + std::to_string(type) + " " + data.substr(0, size) : "");
}

struct Step {
    int line = 0;
    std::string store, handle;  // "NAME:" the store called (else the current one); "NAME =" the
                                // handle the call delivers, kept (else closed at once)
    Names words;                // the verb and its arguments
    std::string expected;       // after "->", and the "|" lines below it
};
struct Case {
    int line = 0;
    bool fileStore = false;
    std::vector<Step> steps;
};

// A line's words: bare, or in double quotes with spaces in them; each with Unescape's escapes.
std::optional<Names> Words(std::string_view text) {
    Names words;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        const bool quoted = text[i] == '"';
        const std::size_t end = std::min(text.find(quoted ? '"' : ' ', i + 1), text.size());
        const auto word = Unescape(std::string(text.substr(i + quoted, end - i - quoted)));
        if (!word || (quoted && end == text.size())) return std::nullopt;
        words.push_back(*word);
        i = end + 1;
    }
    return words;
}

// The cases of the file; a line of no known form fails the test, naming it.
std::vector<Case> ReadCases(const std::string& file) {
    std::istringstream lines(ReadFile(file));
    std::vector<Case> cases;
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const std::size_t arrow = line.find(" ->");
        const auto words = Words(line.substr(0, arrow));
        const auto expected =
            Unescape(arrow == npos ? "" : line.substr(arrow + 3 + (line.size() > arrow + 3)));
        if (line.starts_with("case ") || line.starts_with("file case ")) {
            cases.push_back(Case{number, line[0] == 'f', {}});
        } else if ((line == "|" || line.starts_with("| ")) && !cases.empty() &&
                   !cases.back().steps.empty() &&
                   Unescape(line.substr(std::min<std::size_t>(line.size(), 2)))) {
            cases.back().steps.back().expected +=
                *Unescape(line.substr(std::min<std::size_t>(line.size(), 2))) + "\n";
        } else if (words && expected && !words->empty() && !cases.empty()) {
            Step& step = cases.back().steps.emplace_back(Step{number, "", "", *words, *expected});
            if (step.words[0].ends_with(':')) {
                step.store = step.words[0].substr(0, step.words[0].size() - 1);
                step.words.erase(step.words.begin());
            }
            if (step.words.size() > 2 && step.words[1] == "=") {
                step.handle = step.words[0];
                step.words.erase(step.words.begin(), step.words.begin() + 2);
            }
        } else {
            ADD_FAILURE() << file << ":" << number << ": a line of no known form: " << line;
        }
    }
    EXPECT_FALSE(cases.empty()) << "no cases in " << file;
    return cases;
}

#ifdef _WIN32
constexpr const char* kPlatform = "windows";
#else
constexpr const char* kPlatform = "posix";
constexpr uid_t kNobody = 65534;

// A child process inherits the checks its parent already failed; it answers for its own alone.
int FailedParts() {
    const auto* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int failed = 0;
    for (int i = 0; i < result->total_part_count(); ++i)
        failed += result->GetTestPartResult(i).failed();
    return failed;
}

// A disk whose write-back failed refuses the fsync of a file written to it. A case can make it
// do so ("syncfails"); the linker takes this fsync over the C library's for the store's code.
std::atomic<bool> syncFails = false;
}  // namespace
}  // namespace kelvaston::platform

extern "C" int fsync(int fd) {
    struct stat st {};
    if (kelvaston::platform::syncFails && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace kelvaston::platform {
namespace {
#endif

// One case's run: the backend (its scratch key S), the handles the script named, and on the
// file store the case's folder with the stores and caches it opened.
class ScriptRun {
public:
    explicit ScriptRun(const Case& c) : fileStore_(c.fileStore) {
        if (!c.fileStore) {
            EXPECT_EQ(api_->CreateKey(kHKeyLocalMachine, backend_.scratch, &scratch_), kSuccess);
        }
        char name[256];
        std::uint32_t size = sizeof name;
        const std::string host =
            api_->LocalComputerName(name, &size) == kSuccess ? std::string(name, size) : "none";
        std::string lower = host;
        std::ranges::transform(lower, lower.begin(),
                               [](unsigned char x) { return std::tolower(x); });
        variables_ = {{"$SCRATCH", backend_.scratch},
                      {"$HOST", host},
                      {"$host", lower},
                      {"$LENGTH", std::to_string(host.size())},
                      {"$NEEDED", std::to_string(host.size() + 1)}};
#ifndef _WIN32
        variables_.emplace_back("$DIR", folder_.Path().string());
#endif
    }
    ~ScriptRun() {
#ifndef _WIN32
        while (!stores_.empty()) stores_.pop_back();
        if (!mounted_.empty()) (void)!std::system(("umount '" + mounted_ + "'").c_str());
        if (umask_) ::umask(*umask_);
        syncFails = false;
        if (held_ != -1) ::close(held_);
        ::chmod(folder_.Path().c_str(), 0700);
#endif
    }
    void Play(const std::string& file, const Case& c);

private:
    Key K(const std::string& name) const {
        if (name == "HKLM") return kHKeyLocalMachine;
        if (name == "S" && !fileStore_) return scratch_;
        return handles_.at(name);
    }
    // The status of a call that delivers a handle, and whether the handle is null exactly when
    // the call failed. The handle is kept under the step's name, or closed at once.
    std::string Delivered(RegistryApi& api, const Step& step, Status status, Key key) {
        std::string result = std::to_string(status);
        if ((key == kNullKey) != (status != kSuccess))
            result += key == kNullKey ? " with a null handle" : " with a handle";
        if (key != kNullKey && step.handle.empty()) api.CloseKey(key);
        if (key != kNullKey && !step.handle.empty()) handles_[step.handle] = key;
        return result;
    }
    std::string Do(RegistryApi& api, const Step& step, Names w);
#ifndef _WIN32
    std::string DoInFolder(RegistryApi& api, const std::string& verb, const Names& w);
#endif

    bool fileStore_;
    Backend backend_;
    RegistryApi* api_ = &backend_.Api();  // the store unnamed calls go to
    Key scratch_ = kNullKey;
    std::map<std::string, Key> handles_;
    std::vector<std::pair<std::string, std::string>> variables_;
#ifndef _WIN32
    TempDir folder_;
    // The stores by name, in the order they were made (a cache's counter as "NAME counter");
    // let go in reverse, so that none outlives the store below it.
    std::vector<std::pair<std::string, std::unique_ptr<RegistryApi>>> stores_;
    std::map<std::string, CountingRegistry*> counters_;
    RegistryApi& Store(const std::string& name) {
        const auto at = std::ranges::find(stores_, name, &decltype(stores_)::value_type::first);
        if (at == stores_.end()) throw std::invalid_argument("no store " + name);
        return *at->second;
    }
    // Unnamed calls then go to the backend again, not to a store that is gone.
    bool Forget(const std::string& name) {
        return std::erase_if(stores_, [&](const auto& store) {
            if (store.first == name && store.second.get() == api_) api_ = &backend_.Api();
            return store.first == name;
        });
    }
    std::map<std::string, std::unique_ptr<AtomicFile>> atomics_;
    int held_ = -1;
    std::string mounted_;
    std::optional<mode_t> umask_;
    bool inChild_ = false;
    int partsBeforeChild_ = 0;  // the checks already failed when the child began
#endif
};

void ScriptRun::Play(const std::string& file, const Case& c) {
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        Step step = c.steps[i];
        if (step.store == "posix" || step.store == "windows") {
            if (step.store != kPlatform) continue;
            step.store.clear();
        }
        const std::string at = file + ":" + std::to_string(step.line) + ": ";
        step.words.push_back(step.expected);  // the variables, in words and result
        for (std::string& word : step.words) {
            for (const auto& [name, value] : variables_) {
                for (std::size_t found; (found = word.find(name)) != npos;)
                    word.replace(found, name.size(), value);
            }
        }
        step.expected = step.words.back();
        step.words.pop_back();
#ifndef _WIN32
        const std::string& verb = step.words[0];
        if (verb == "child") {  // the steps up to "end" in a child process, as nobody if said
            const std::string how = step.words.size() > 1 ? step.words[1] : "";
            std::fflush(nullptr);
            const pid_t pid = ::fork();
            if (pid == 0) {
                inChild_ = true;
                partsBeforeChild_ = FailedParts();
                if (how == "nobody" && ::geteuid() == 0 && ::setuid(kNobody) != 0) std::_Exit(99);
                continue;
            }
            while (i < c.steps.size() && c.steps[i].words[0] != "end") ++i;
            // A child that waits must still be waiting after a second; any other must end
            // within a minute.
            const auto limit =
                std::chrono::steady_clock::now() +
                (how == "waiting" ? std::chrono::seconds(1) : std::chrono::minutes(1));
            int status = 0;
            while (::waitpid(pid, &status, WNOHANG) == 0 &&
                   std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const bool ended =
                ::kill(pid, SIGKILL) != 0 || ::waitpid(pid, &status, 0) < 0 || !WIFSIGNALED(status);
            if (how == "waiting") {
                EXPECT_FALSE(ended) << at << "the child process did not wait";
            } else {
                EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0)
                    << at << "the checks in the child process failed or did not end";
            }
            continue;
        }
        if (verb == "end" && inChild_) {
            std::fflush(nullptr);
            std::_Exit(FailedParts() > partsBeforeChild_ ? 1 : 0);
        }
        if (verb == "root-only" && ::geteuid() != 0) return;
        if (verb == "root-only") continue;
        if (verb == "coarse") {  // the case goes on on an ext4 that keeps whole seconds
            const std::string image = folder_ / "coarse.img", mount = folder_ / "coarse";
            std::filesystem::create_directory(mount);
            const std::string made = "truncate -s 8M '" + image + "' && mkfs.ext4 -q -F -I 128 '" +
                                     image + "' >/dev/null 2>&1 && mount -o loop '" + image +
                                     "' '" + mount + "' 2>/dev/null";
            if (::geteuid() != 0 || std::system(made.c_str()) != 0) {
                std::printf("%scannot mount an ext4 with whole-second times here\n", at.c_str());
                return;
            }
            mounted_ = mount;
            continue;
        }
#endif
        std::string result;
        try {
#ifdef _WIN32
            if (!step.store.empty()) throw std::invalid_argument("no store " + step.store);
            RegistryApi* api = api_;
#else
            RegistryApi* api = step.store.empty() ? api_ : &Store(step.store);
#endif
            result = Do(*api, step, step.words);
        } catch (const std::exception& e) {
            result = std::string("a script error: ") + e.what();
        }
        const bool anyFailure = step.expected == "failure" && result != "0" &&
                                result.find_first_not_of("0123456789") == npos;
        EXPECT_TRUE(result == step.expected || anyFailure)
            << at << Shown(Joined(step.words, " ")) << "\n  gives    " << Shown(result)
            << "\n  expected " << Shown(step.expected);
    }
}

std::string ScriptRun::Do(RegistryApi& api, const Step& step, Names w) {
    const std::string verb = w[0];
    w.erase(w.begin());
    const auto need = [&](std::size_t least, std::size_t most) {
        if (w.size() < least || w.size() > most)
            throw std::invalid_argument(verb + " with " + std::to_string(w.size()) + " arguments");
    };
    const auto number = [&](std::size_t i) {
        return static_cast<std::uint32_t>(std::stoul(w.at(i), nullptr, 0));
    };
    const auto type = [&](std::size_t i) {
        const Names types = {"none", "sz", "expand", "binary", "dword", "", "", "multi"};
        const auto known = std::find(types.begin(), types.end(), w.at(i));
        return w[i] == "qword"        ? kRegQword
               : known != types.end() ? static_cast<std::uint32_t>(known - types.begin())
                                      : number(i);
    };
    const auto S = [](auto n) { return std::to_string(n); };
    if (verb == "create" || verb == "open") {
        need(2 + (verb == "open"), 2 + (verb == "open"));
        Key key = reinterpret_cast<Key>(&w);
        const std::uint32_t access = verb == "create"  ? 0
                                     : w[2] == "read"  ? kKeyRead
                                     : w[2] == "write" ? kKeyWrite
                                                       : kKeyAllAccess;
        const Status status = verb == "create" ? api.CreateKey(K(w[0]), w[1], &key)
                                               : api.OpenKeyEx(K(w[0]), w[1], 0, access, &key);
        return Delivered(api, step, status, key);
    }
    if (verb == "connect") {
        need(0, 1);
        Key root = reinterpret_cast<Key>(&w);
        const Status status = api.ConnectRegistry(w.empty() ? "" : w[0], kHKeyLocalMachine, &root);
        return Delivered(api, step, status, root);
    }
    if (verb == "computername") {  // none: no size; nobuffer; or a buffer, of which ROOM told
        need(1, 1);
        std::string name(256, '?');
        std::uint32_t size = w[0] == "nobuffer" || w[0] == "none" ? 0 : number(0);
        const Status status = api.LocalComputerName(w[0] == "nobuffer" ? nullptr : name.data(),
                                                    w[0] == "none" ? nullptr : &size);
        return S(status) + (w[0] == "none" ? "" : " " + S(size)) +
               (status == kSuccess ? " " + name.substr(0, size + 1) : "");  // with its NUL
    }
    if (verb == "abort") return need(1, 1), api.AbortTransaction(K(w[0])) ? "true" : "false";
    const std::map<std::string, Status (RegistryApi::*)(Key)> onKey = {
        {"close", &RegistryApi::CloseKey},
        {"flush", &RegistryApi::FlushKey},
        {"begin", &RegistryApi::BeginTransaction},
        {"commit", &RegistryApi::CommitTransaction},
        {"beginreading", &RegistryApi::BeginReading}};
    if (onKey.contains(verb)) return need(1, 1), S((api.*onKey.at(verb))(K(w[0])));
    if (verb == "endreading") return need(1, 1), api.EndReading(K(w[0])), "";
    if (verb == "delete") return need(2, 2), S(api.DeleteKey(K(w[0]), w[1]));
    if (verb == "delvalue") return need(2, 2), S(api.DeleteValue(K(w[0]), w[1]));
    if (verb == "read") return need(2, 2), Read(api, K(w[0]), w[1]);
    if (verb == "subkeys") {
        need(1, 1);
        Names names;
        const Status status = ListSubkeys(api, K(w[0]), &names);
        return status == kSuccess ? Joined(names) : "status " + S(status);
    }
    if (verb == "set") {  // the data's bytes, or none ("nodata"); as many as they are, or as said
        need(4, 5);
        const auto* data =
            w[3] == "nodata" ? nullptr : reinterpret_cast<const std::uint8_t*>(w[3].data());
        const auto size = w.size() == 5 ? number(4) : static_cast<std::uint32_t>(w[3].size());
        return S(api.SetValueEx(K(w[0]), w[1], type(2), data, size));
    }
    if (verb == "setbytes") return need(4, 4), S(api.SetValueBytes(K(w[0]), w[1], type(2), w[3]));
    if (verb == "query") {  // into a buffer of that many bytes, each '?' before; ~N: none
        need(3, 3);
        if (w[2] == "nothing") return S(api.QueryValueEx(K(w[0]), w[1], nullptr, nullptr, nullptr));
        std::string data(16, '?');
        if (w[2] == "nosize") {
            auto* buffer = reinterpret_cast<std::uint8_t*>(data.data());
            return S(api.QueryValueEx(K(w[0]), w[1], nullptr, buffer, nullptr)) + " " + data;
        }
        const bool none = w[2].starts_with('~');
        w[2].erase(0, none);
        data.assign(none ? 0 : number(2), '?');
        std::uint32_t found = 0, size = number(2);
        const Status status =
            api.QueryValueEx(K(w[0]), w[1], &found,
                             none ? nullptr : reinterpret_cast<std::uint8_t*>(data.data()), &size);
        return S(status) + (status == kSuccess ? " " + S(found) : "") + " " + S(size) +
               (data.empty() ? "" : " " + data);
    }
    if (verb == "enumvalue") {  // without asking for the type
        need(2, 2);
        std::string name;
        std::vector<std::uint8_t> data;
        const Status status = api.EnumValue(K(w[0]), number(1), &name, nullptr, &data);
        return status == kSuccess ? "0 " + name + "=" + std::string(data.begin(), data.end())
                                  : S(status);
    }
    if (verb == "values") {  // as listed, or by name
        need(1, 2);
        std::vector<RegValue> values;
        RegValue value;
        Status status = kSuccess;
        for (std::uint32_t i = 0; (status = api.EnumValueBytes(K(w[0]), i, &value.name, &value.type,
                                                               &value.data)) == kSuccess;
             ++i)
            values.push_back(value);
        if (w.size() == 2 && w[1] != "sorted") throw std::invalid_argument(w[1]);
        if (w.size() == 2) std::ranges::sort(values, {}, &RegValue::name);
        return Listed(values) + (status == error::kNoMoreItems ? "" : " then " + S(status));
    }
    // Into 16 spaces, of which the call is told `room`; or without the buffer or its size.
    if (verb == "enumkey") {
        need(3, 3);
        std::string buffer(16, ' ');
        const bool noBuffer = w[2] == "nobuffer", noSize = w[2] == "nosize";
        std::uint32_t size = noBuffer || noSize ? 16 : number(2);
        const Status status = api.EnumKeyEx(K(w[0]), number(1), noBuffer ? nullptr : buffer.data(),
                                            noSize ? nullptr : &size);
        return S(status) + (noSize ? "" : " " + S(size)) + " " + buffer;
    }
    if (verb == "named") {  // all of them sorted by name, or those named in their order
        need(3, 3);
        std::string results[2];
        for (const bool before : {false, true}) {
            std::vector<RegValue> values;
            bool all = before;
            const Status status = api.QueryNamedValues(K(w[0]), w[1], Split(w[2]), &values, &all);
            if (all) std::ranges::sort(values, {}, &RegValue::name);
            results[before] = S(status) + (status != kSuccess ? ""
                                           : all              ? " all " + Listed(values)
                                                              : " named " + Listed(values));
        }
        return results[0] == results[1] ? results[0] : results[0] + " or else " + results[1];
    }
    if (verb == "contents") {  // (values by name) (subkeys)
        need(2, 2);
        KeyContents contents;
        const Status status = api.QueryKeyContents(K(w[0]), w[1], &contents);
        std::ranges::sort(contents.values, {}, &RegValue::name);
        if (status != kSuccess) return S(status);
        return "(" + Listed(contents.values) + ") (" + Joined(contents.subkeys) + ")";
    }
    if (verb == "keyvalue") {
        need(3, 3);
        RegValue value;
        const Status status = api.QueryKeyValue(K(w[0]), w[1], w[2], &value);
        return S(status) + (value.data.empty() ? "" : " " + value.data);
    }
#ifndef _WIN32
    return DoInFolder(api, verb, w);
#else
    throw std::invalid_argument("no verb " + verb);
#endif
}

#ifndef _WIN32
// What only the file store has: stores of a case's own on its folder, caches in front of them,
// the folder's files, their modes and owners, and the limits of a child process.
std::string ScriptRun::DoInFolder(RegistryApi& api, const std::string& verb, const Names& w) {
    const auto path = [&](std::size_t i) { return folder_.Path() / w.at(i); };
    const auto done = [](bool ok) { return ok ? "" : std::strerror(errno); };
    if (verb == "store") {  // a store of computer Desk1 on the folder, or one below it
        Forget(w.at(0));
        api_ = stores_
                   .emplace_back(w[0], std::make_unique<FileStoreRegistry>(FileStoreOptions{
                                           w.size() > 1 ? path(1) : folder_.Path(), "Desk1"}))
                   .second.get();
        return "";
    }
    if (verb == "forget") return Forget(w.at(0)) || atomics_.erase(w.at(0)) ? "" : "no such store";
    if (verb == "cache") {  // NAME in front of the store OVER, counting the calls it passes on
        auto counter = std::make_unique<CountingRegistry>(Store(w.at(1)));
        counters_[w.at(0)] = counter.get();
        stores_.emplace_back(w[0] + " counter", std::move(counter));
        stores_.emplace_back(w[0], std::make_unique<CachingRegistry>(*counters_[w[0]]));
        return "";
    }
    if (verb == "count") {
        const std::map<std::string, Call> calls = {{"QueryKeyValues", Call::QueryKeyValues},
                                                   {"QueryNamedValues", Call::QueryNamedValues},
                                                   {"EnumKeyEx", Call::EnumKeyEx}};
        return std::to_string(counters_.at(w.at(0))->Count(calls.at(w.at(1))));
    }
    if (verb == "reset") return counters_.at(w.at(0))->Reset(), "";
    if (verb == "readahead") {  // KEY PATH NAME|NAME through a cache
        dynamic_cast<CachingRegistry&>(api).ReadAhead(K(w.at(0)), w.at(1), Split(w.at(2)));
        return "";
    }
    if (verb == "prefetch") return dynamic_cast<FileStoreRegistry&>(api).PrefetchLocalHive(), "";
    if (verb == "problem") {  // the last file error whole: kind, line, file, errno, owner, mode
        const auto problem = api.LastHiveFileError();
        if (!problem) return "none";
        const char* kinds[] = {"Malformed", "Unreadable", "Unwritable", "Unsafe", "NotAFolder"};
        std::ostringstream out;
        out << kinds[static_cast<int>(problem->kind)] << ' ' << problem->line << ' '
            << problem->file;
        if (problem->systemError) out << " errno " << problem->systemError;
        if (!problem->owner.empty()) out << " owner " << problem->owner;
        if (problem->mode >= 0) out << " mode " << std::oct << problem->mode;
        return out.str() + ": " + problem->message;
    }
    if (verb == "file") return ReadFile(path(0));
    if (verb == "write") return WriteFile(path(0), w.at(1)), "";
    if (verb == "files") {
        Names files;
        for (const auto& entry : std::filesystem::directory_iterator(folder_.Path()))
            files.push_back(entry.path().filename());
        std::ranges::sort(files);
        return Joined(files);
    }
    if (verb == "kind") {
        const auto status = std::filesystem::symlink_status(path(0));
        return std::filesystem::is_symlink(status)     ? "link"
               : std::filesystem::is_directory(status) ? "folder"
               : std::filesystem::exists(status)       ? "file"
                                                       : "none";
    }
    if (verb == "mode") {
        struct stat st {};
        ::lstat(path(0).c_str(), &st);
        std::ostringstream mode;
        mode << std::oct << (st.st_mode & 07777);
        return mode.str();
    }
    if (verb == "chmod")
        return done(
            ::chmod(path(0).c_str(), static_cast<mode_t>(std::stoul(w.at(1), nullptr, 8))) == 0);
    if (verb == "chown") {  // to nobody or root, where this is root; elsewhere nothing
        const uid_t user = w.at(1) == "nobody" ? kNobody : 0;
        return ::geteuid() != 0 ? "" : done(::chown(path(0).c_str(), user, gid_t(-1)) == 0);
    }
    if (verb == "mkdir") return done(std::filesystem::create_directories(path(0)));
    if (verb == "symlink") return std::filesystem::create_symlink(w.at(0), path(1)), "";
    if (verb == "rename") return std::filesystem::rename(path(0), path(1)), "";
    if (verb == "remove") return done(std::filesystem::remove(path(0)));
    if (verb == "umask") {
        const mode_t before = ::umask(static_cast<mode_t>(std::stoul(w.at(0), nullptr, 8)));
        umask_ = umask_.value_or(before);
        return "";
    }
    if (verb == "syncfails") return syncFails = true, "";
    if (verb == "env" && inChild_) {  // the variable set, or without a value not set
        return done(w.size() > 1 ? ::setenv(w.at(0).c_str(), w[1].c_str(), 1) == 0
                                 : ::unsetenv(w.at(0).c_str()) == 0);
    }
    if (verb == "defaultfolder") return FileStoreRegistry::DefaultFolder().string();
    if (verb == "limit" && inChild_) {  // files no bigger than that one and some bytes more
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur =
            w.empty() ? limit.rlim_max : std::filesystem::file_size(path(0)) + std::stoul(w.at(1));
        return done(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
    }
    if (verb == "atomic") {  // a replacement for the file, through links if said
        atomics_[w.at(0)] = std::make_unique<AtomicFile>(
            path(1), w.size() > 2 ? AtomicFile::Links::WriteThrough : AtomicFile::Links::Replace);
        return "";
    }
    if (verb == "replace") {  // NAME open|write TEXT|commit: true or false; NAME error: errno
        AtomicFile& file = *atomics_.at(w.at(0));
        const bool ok = w.at(1) == "open"  ? file.Open()
                        : w[1] == "write"  ? file.Write(w.at(2))
                        : w[1] == "commit" ? file.Commit()
                        : w[1] != "error"  ? throw std::invalid_argument(w[1])
                                           : false;
        if (w[1] == "error") return file.Error() ? std::to_string(file.Error().value()) : "none";
        return ok ? "true" : "false";
    }
    if (verb == "hold") {  // a descriptor of the file kept open: whether it still is
        if (w.at(0) == "open?") return ::fcntl(held_, F_GETFD) != -1 ? "open" : "closed";
        held_ = ::open(path(0).c_str(), O_RDONLY | O_CLOEXEC);
        return "";
    }
    throw std::invalid_argument("no verb " + verb);
}
#endif

// Every case of registry.calls, each on a backend of its own.
TEST(RegistryScripts, EachCallGivesWhatItsScriptSays) {
    const std::vector<Case> cases = ReadCases(KELVASTON_REGISTRY_CALLS);
    for (const Case& c : cases) {
        if (c.fileStore && (kPlatform != std::string("posix") || KELVASTON_TEST_CACHED ||
                            KELVASTON_TEST_ONE_CALL_AT_A_TIME))
            continue;
        ScriptRun(c).Play(KELVASTON_REGISTRY_CALLS, c);
    }
}

// A tree read as expected, or not, or with names expected that are not there in as many
// keys as there are: what the reader expects only saves calls, the tree read is the same.
TEST_F(RegistrySemantics, TreesReadTheSameWhateverIsExpected) {
    for (const char* path : {"T\\a\\d", "T\\b", "T\\c"})
        ASSERT_EQ(Make(api_, path, scratch_), kSuccess);
    Key tree = kNullKey, c = kNullKey;
    ASSERT_EQ(api_.OpenKeyEx(scratch_, "T", 0, kKeyAllAccess, &tree), kSuccess);
    ASSERT_EQ(api_.OpenKeyEx(tree, "c", 0, kKeyAllAccess, &c), kSuccess);
    ASSERT_EQ(api_.SetValueEx(c, "v", kRegSz, reinterpret_cast<const std::uint8_t*>("1"), 2),
              kSuccess);
    api_.CloseKey(c);
    platform::KeyTree plain;
    ASSERT_EQ(ReadTree(api_, tree, "T", &plain), kSuccess);
    ASSERT_EQ(plain.children.size(), 3u);
    const std::vector<std::map<std::string, Names>> expectations = {
        {{"", {"a", "b", "c"}}, {"a", {"d"}}},  // as stored
        {{"", {"a", "b", "x"}}, {"a", {"y"}}},  // as many, one of them not there
        {{"", {"x", "y", "z"}}},                // none of them there
        {{"", {"a"}}, {"a", {"d", "e"}}},       // fewer, more
    };
    platform::TaskPool pool(4);
    for (const auto& subkeys : expectations) {
        for (platform::TaskPool* overlapping : {static_cast<platform::TaskPool*>(nullptr), &pool}) {
            platform::KeyTree read;
            EXPECT_EQ(ReadTree(api_, tree, "T", &read, overlapping, {{}, subkeys}), kSuccess);
            EXPECT_TRUE(read == plain) << subkeys.begin()->second.back();
        }
    }
    api_.CloseKey(tree);
}

#ifdef _WIN32
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
        EXPECT_EQ(Read(api_, scratch_, FromWide(name)), "0 " + std::to_string(type) + " " + read);
    }
    RegCloseKey(raw);
}

#endif

}  // namespace
}  // namespace kelvaston::platform
