// kelvaston-reg against the file store. Most of it is one transcript (transcript.txt): each
// command with its exit status, a piece of what it prints, and what the store file holds
// afterwards. Every refused command must leave the store file as it was and say why in one
// short line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <iomanip>
#include <map>
#include <optional>
#include <sstream>
#include <tuple>

#include "platform/atomic_file.h"
#include "platform/file_store.h"
#include "platform/reg_file.h"
#include "platform/registry_decorators.h"
#include "platform/registry_tree.h"
#include "reg_tool.h"
#include "support/temp_dir.h"
#include "support/without_transactions.h"

namespace kelvaston::tools {
namespace {

namespace error = platform::error;
namespace fs = std::filesystem;
using platform::Call;
using platform::Key;
using platform::Status;
using test::ReadFile;

const std::string kSample = KELVASTON_EXAMPLES_DIR "/sample.reg";
const std::string kNoras =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters\\NORAS";
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

struct Result {
    int code = -1;
    std::string out, err;
};

Result Tool(platform::RegistryApi& api, const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = RunRegTool(args, api, out, err);
    return {code, out.str(), err.str()};
}

// An empty store whose local computer is TESTPC, in the folder "store" of a temporary folder;
// other files are written beside that folder.
struct Store {
    test::TempDir dir;
    fs::path folder = dir / "store";
    platform::FileStoreRegistry api{platform::FileStoreOptions{folder, "TESTPC"}};
    std::string File() const { return ReadFile(folder / "TESTPC.reg"); }
    std::string Put(const std::string& name, const std::string& bytes) const {
        test::WriteFile(dir / name, bytes);
        return (dir / name).string();
    }
};

// A command run in a child process after `prepare` there; its error output comes back by file.
template <class Prepare>
Result InChild(platform::RegistryApi& api, const std::vector<std::string>& args,
               Prepare&& prepare) {
    const std::string errFile =
        std::filesystem::temp_directory_path() / ("kelvaston-child-" + std::to_string(::getpid()));
    std::fflush(nullptr);
    if (::fork() == 0) {
        prepare();
        const Result result = Tool(api, args);
        test::WriteFile(errFile, result.err);
        std::_Exit(result.code);
    }
    int status = 0;
    ::wait(&status);
    const Result result{WIFEXITED(status) ? WEXITSTATUS(status) : 128, "", ReadFile(errFile)};
    std::filesystem::remove(errFile);
    return result;
}

const rlimit kSmallFiles{4096, 4096};
const auto kFullDisk = [] {
    std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &kSmallFiles);
};

// A registry on a computer whose code page holds ASCII only, as advapi32's ANSI calls there.
class AsciiCodePage final : public platform::RegistryDecorator {
public:
    using RegistryDecorator::RegistryDecorator;
    std::optional<std::size_t> UnstorableAt(std::string_view text) const override {
        const auto at = std::ranges::find_if(
            text, [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        return at == text.end() ? std::nullopt
                                : std::optional(static_cast<std::size_t>(at - text.begin()));
    }

protected:
    std::optional<Status> Before(Call /*call*/) override { return std::nullopt; }
};

// One command of the transcript (transcript.txt) with what it must give, or a file it writes.
struct Step {
    int line = 0;
    std::string put;       // the file to write ("NAME utf-16": in UTF-16LE); empty: a command
    std::string registry;  // the command's registry by name; empty: the store itself
    std::vector<std::string> args;  // the command's arguments, or the file's lines
    std::optional<int> code;
    std::optional<std::string> shown;  // found in the output, or the error when it fails
    std::vector<std::pair<bool, std::string>>
        file;  // the store file holds this afterwards (true) or not
};

// The transcript's text with its {placeholders} replaced; nullopt when one is unknown.
std::optional<std::string> Expand(std::string_view text,
                                  const std::map<std::string, std::string>& places) {
    std::string out;
    for (std::size_t at = 0, end = 0; at < text.size(); at = end + 1) {
        if (text[end = at] != '{') {
            out += text[at];
            continue;
        }
        if ((end = text.find('}', at)) == std::string_view::npos) return std::nullopt;
        const std::string name(text.substr(at + 1, end - at - 1));
        const std::size_t star = name.find('*');
        if (places.contains(name)) {
            out += places.at(name);
        } else if (name.size() == 3 && name[0] == 'x' &&
                   name.find_first_not_of("0123456789ABCDEF", 1) == std::string::npos) {
            out += static_cast<char>(std::stoi(name.substr(1), nullptr, 16));
        } else if (star != std::string::npos && star > 0 &&
                   name.find_first_not_of("0123456789") == star) {
            for (int i = std::stoi(name); i > 0; --i) out += name.substr(star + 1);
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// "$ kelvaston-reg ARGS", or "$ REGISTRY: kelvaston-reg ARGS" with a registry named in lower-case
// letters and dashes: that name (or empty) and " ARGS".
std::optional<std::pair<std::string, std::string>> CommandLine(std::string_view line) {
    if (!line.starts_with("$ ")) return std::nullopt;
    line.remove_prefix(2);
    std::string registry;
    if (const auto colon = line.find(": ");
        colon != std::string_view::npos && colon > 0 &&
        line.substr(0, colon).find_first_not_of("abcdefghijklmnopqrstuvwxyz-") ==
            std::string_view::npos) {
        registry = line.substr(0, colon);
        line.remove_prefix(colon + 2);
    }
    if (!line.starts_with("kelvaston-reg") || (line.size() > 13 && line[13] != ' '))
        return std::nullopt;
    return std::pair(registry, std::string(line.substr(13)));
}

// The transcript's steps; `malformed` names every line that is none of its forms.
std::vector<Step> ReadTranscript(const std::map<std::string, std::string>& places,
                                 std::string* malformed) {
    std::istringstream lines(ReadFile(KELVASTON_TRANSCRIPT));
    std::vector<Step> steps;
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line == ">" || line == "|") line += ' ';
        const auto text = Expand(line, places);
        Step* last = steps.empty() ? nullptr : &steps.back();
        const bool inCommand = last && last->put.empty(), inPut = last && !last->put.empty();
        if (++number, line.empty() || line[0] == '#') continue;
        const auto command = CommandLine(line);
        if (text && command && std::ranges::count(line, '"') % 2 == 0) {
            std::istringstream words(command->second);
            Step& step = steps.emplace_back();
            std::tie(step.line, step.registry) = std::tuple(number, command->first);
            for (std::string word; words >> std::quoted(word, '"', '\0');)
                step.args.push_back(Expand(word, places).value_or(""));
        } else if (text && line.starts_with("put ") &&
                   (text->find(' ', 4) == std::string::npos || text->ends_with(" utf-16"))) {
            steps.emplace_back().line = number;
            steps.back().put = text->substr(4);
        } else if (text && inPut && line.starts_with("| ")) {
            last->args.push_back(text->substr(2));
        } else if (inCommand && !last->code && (line == "= 0" || line == "= 1")) {
            last->code = line[2] - '0';
        } else if (text && inCommand && line.starts_with("> ")) {
            last->shown = last->shown ? *last->shown + "\n" + text->substr(2) : text->substr(2);
        } else if (text && inCommand &&
                   (line.starts_with("file: ") || line.starts_with("file!: "))) {
            last->file.emplace_back(line[4] == ':', text->substr(line[4] == ':' ? 6 : 7));
        } else {
            *malformed += std::to_string(number) + ": " + line.substr(0, 80) + "\n";
        }
    }
    return steps;
}

// A registry whose Abort undoes everything since Begin and returns true, as the file store's
// transactions do: it copies the hive at Begin and writes the copy back at Abort, by `direct`,
// past any faults. It counts the writes that reach it after an Abort: the tool must make none.
class WithTransactions final : public platform::RegistryDecorator {
public:
    WithTransactions(RegistryApi& faulty, RegistryApi& direct)
        : RegistryDecorator(faulty), direct_(direct) {}
    Status BeginTransaction(Key key) override {
        return platform::ReadTree(direct_, key, "", &copy_);
    }
    Status CommitTransaction(Key key) override { return FlushKey(key); }
    bool AbortTransaction(Key key) override {
        aborted_ = true;
        platform::KeyContents now;
        EXPECT_EQ(direct_.QueryKeyContents(key, "", &now), error::kSuccess);
        EXPECT_TRUE(now.values.empty() &&
                    copy_.values.empty());  // no command writes values of HKLM itself
        for (const auto& name : now.subkeys)
            EXPECT_EQ(platform::DeleteTree(direct_, key, name), error::kSuccess);
        for (const auto& child : copy_.children)
            EXPECT_EQ(platform::WriteTree(direct_, key, child), error::kSuccess);
        return true;
    }
    std::size_t writesAfterAbort = 0;

protected:
    std::optional<Status> Before(Call call) override {
        if (aborted_ &&
            (call == Call::CreateKey || call == Call::DeleteKey || call == Call::SetValueEx ||
             call == Call::SetValueBytes || call == Call::DeleteValue)) {
            ++writesAfterAbort;
        }
        return std::nullopt;
    }

private:
    RegistryApi& direct_;
    platform::KeyTree copy_;
    bool aborted_ = false;
};

// A command of another user (as root: user 65534) with the store folder write-protected, that
// user owning the store (`owner`) or not; the folder's modes and owners put back afterwards.
Result AsOtherUser(const Store& store, const std::vector<std::string>& args, bool owner) {
    const bool root = ::geteuid() == 0;
    const std::string dir = store.dir.Path().string(), folder = store.folder.string();
    const std::string file = folder + "/TESTPC.reg";
    const auto own = [&](uid_t user) {
        return ::chown(folder.c_str(), user, user) == 0 && ::chown(file.c_str(), user, user) == 0;
    };
    platform::FileStoreRegistry fresh({store.folder, "TESTPC"});
    const Result result = InChild(fresh, args, [&] {
        if (root && (::chmod(dir.c_str(), 0711) != 0 || (owner && !own(65534)))) std::_Exit(2);
        if (::chmod(folder.c_str(), owner ? 0500 : 0711) != 0) std::_Exit(2);
        if (root && ::setuid(65534) != 0) std::_Exit(2);
    });
    EXPECT_TRUE(!root || own(0));
    ::chmod(folder.c_str(), 0700);
    ::chmod(dir.c_str(), 0700);
    return result;
}

// A command that fails changes nothing, whichever call fails: the command runs whole, then
// again from the same start with each call in turn failing, on a registry whose Abort undoes
// it all and on one where the tool must put back what it wrote. The whole run's result, with
// the store as that run left it.
Result EachCallFails(const Store& store, const std::vector<std::string>& args) {
    const std::string before = store.File();
    platform::FileStoreRegistry fresh({store.folder, "TESTPC"});  // reads the store file anew
    const Result whole = Tool(fresh, args);
    const std::string after = store.File();
    for (const bool transactions : {false, true}) {
        std::size_t failed = 0;
        for (std::size_t nth = 1;; ++nth) {
            SCOPED_TRACE((transactions ? "with" : "without") + std::string(" transactions, call ") +
                         std::to_string(nth) + " fails");
            test::WriteFile(store.folder / "TESTPC.reg", before);
            platform::FileStoreRegistry registry({store.folder, "TESTPC"});
            platform::FaultInjectingRegistry faulty(registry);
            test::WithoutTransactions without(faulty);
            WithTransactions with(faulty, registry);
            faulty.FailNth(std::nullopt, nth, error::kAccessDenied);
            const Result result = transactions ? Tool(with, args) : Tool(without, args);
            EXPECT_EQ(registry.FlushKey(platform::kHKeyLocalMachine), error::kSuccess);
            EXPECT_EQ(with.writesAfterAbort, 0u);
            // A call whose failure does no harm (closing a key) leaves the command whole.
            EXPECT_EQ(store.File(), result.code == 0 ? after : before) << result.err;
            EXPECT_EQ(result.err.find("putting back"), std::string::npos) << result.err;
            if (!faulty.Fired()) break;
            failed += result.code == 1 ? 1 : 0;
        }
        EXPECT_GE(failed, 5u);
    }
    test::WriteFile(store.folder / "TESTPC.reg", after);
    return whole;
}

TEST(RegTool, Transcript) {
    Store store;
    // Links into the store, to a file beside it and in a circle, and a device of its own as root
    // (/dev/null itself would be at stake); else /dev/null, which only root could replace.
    fs::create_symlink(store.folder / "TESTPC.reg", store.dir / "link-into-store.reg");
    fs::create_directory_symlink(store.folder, store.dir / "store-link");
    fs::create_symlink("loop-b", store.dir / "loop-a");
    fs::create_symlink("loop-a", store.dir / "loop-b");
    const std::string backupTarget = (store.dir / "backup-target.reg").string(),
                      backupLink = store.dir / "backup-link.reg";
    fs::create_symlink(backupTarget, backupLink);
    std::string device = ::geteuid() == 0 ? (store.dir / "null").string() : "/dev/null";
    if (::geteuid() == 0 && ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        device.clear();
    // Registries in front of the store: one that makes no key, one whose changes cannot be saved,
    // one on a computer whose code page holds ASCII only; and the store in a process that may
    // write no file larger than 4 KiB.
    platform::FaultInjectingRegistry readOnly(store.api), unsaved(store.api);
    readOnly.FailNth(Call::CreateKey, 1, error::kAccessDenied, true);
    unsaved.FailNth(Call::CommitTransaction, 1, error::kRegistryIoFailed);
    AsciiCodePage ascii(store.api);
    using Args = const std::vector<std::string>&;
    const auto on = [](platform::RegistryApi& api) {
        return [&api](Args args) { return Tool(api, args); };
    };
    const auto otherUser = [&](bool owner) -> std::function<Result(Args)> {
        return [&, owner](Args args) { return AsOtherUser(store, args, owner); };
    };
    // No other user to be as anyone but root: the steps of "unreadable" are passed over.
    const std::map<std::string, std::function<Result(Args)>> registries = {
        {"", on(store.api)},
        {"read-only", on(readOnly)},
        {"unsaved", on(unsaved)},
        {"ascii", on(ascii)},
        {"full-disk", [&](Args args) { return InChild(store.api, args, kFullDisk); }},
        {"locked", otherUser(true)},
        {"unreadable", ::geteuid() == 0 ? otherUser(false) : nullptr},
        {"each-call-fails", [&](Args args) { return EachCallFails(store, args); }}};
    std::string malformed;
    const std::vector<Step> steps = ReadTranscript({{"dir", store.dir.Path().string()},
                                                    {"store", store.folder.string()},
                                                    {"sample", kSample},
                                                    {"device", device},
                                                    {"LF", "\n"}},
                                                   &malformed);
    ASSERT_EQ(malformed, "") << "lines of " << KELVASTON_TRANSCRIPT
                             << " that are none of its forms";
    ASSERT_FALSE(steps.empty());
    for (const Step& step : steps) {
        SCOPED_TRACE("transcript line " + std::to_string(step.line));
        if (const bool utf16 = step.put.ends_with(" utf-16"); !step.put.empty()) {
            std::string bytes = utf16 ? "\xFF\xFE" : "";
            for (const std::string& line : step.args) {
                for (const char c : line + (utf16 ? "\r\n" : "\n"))
                    bytes += utf16 ? std::string{c, '\0'} : std::string(1, c);
            }
            store.Put(step.put.substr(0, step.put.find(' ')), bytes);
            continue;
        }
        ASSERT_TRUE(registries.contains(step.registry)) << "no registry " << step.registry;
        if (device.empty() && std::ranges::find(step.args, "") != step.args.end())
            continue;  // no device to write into
        if (!registries.at(step.registry)) continue;
        const bool changes =
            !step.args.empty() &&
            (step.args[0] == "add" || step.args[0] == "delete" || step.args[0] == "import");
        ASSERT_TRUE(step.code) << "a command without its exit status";
        ASSERT_EQ(step.code == 0 && changes, !step.file.empty())
            << "a change that succeeds, and only such a change, says what the file holds";
        const std::string before = store.File();
        const Result result = registries.at(step.registry)(step.args);
        const std::string after = store.File();
        EXPECT_EQ(result.code, *step.code) << result.err;
        EXPECT_TRUE(step.shown ? (step.code == 0 ? result.out : result.err).find(*step.shown) !=
                                     std::string::npos
                               : result.out + result.err == "")
            << result.out << result.err;
        if (step.code != 0) {
            EXPECT_EQ(result.out, "");
            EXPECT_TRUE(result.err.starts_with("ERROR: ") && result.err.size() < 300)
                << result.err.substr(0, 300);
        }
        if (step.file.empty()) {
            EXPECT_EQ(after, before);
        }
        for (const auto& [held, text] : step.file)
            EXPECT_EQ(after.find(text) != std::string::npos, held) << text << "\n" << after;
    }
    EXPECT_EQ(ReadFile(store.dir / "backup.reg").find("precious"), std::string::npos);
    EXPECT_EQ(ReadFile(store.dir / "full.reg"), "the old backup\n");
    for (const fs::path& none :
         {store.dir / "none.reg", store.folder / ".TESTPC.reg.tmp-1", store.folder / "new.reg"}) {
        EXPECT_FALSE(fs::exists(none)) << none;
    }
    // The link stays a link, and its target, replaced, holds the export privately.
    EXPECT_TRUE(fs::is_symlink(backupLink));
    struct stat st {};
    EXPECT_TRUE(::lstat(backupTarget.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                (st.st_mode & 0777) == 0600);
    const auto exported = platform::regfile::Parse(ReadFile(backupTarget));
    EXPECT_TRUE(exported.document && !exported.document->entries.empty()) << ReadFile(backupTarget);
    EXPECT_TRUE(device.empty() || fs::is_character_file(device)) << device;
}

// The program itself on the store folder `folder` ($KELVASTON_REGISTRY): its exit status and all it
// prints.
std::pair<int, std::string> Program(const std::string& folder, const std::string& args) {
    FILE* pipe = ::popen(
        ("KELVASTON_REGISTRY='" + folder + "' '" KELVASTON_REG_PROGRAM "' " + args + " 2>&1")
            .c_str(),
        "r");
    std::string output(1 << 20, '\0');
    output.resize(std::fread(output.data(), 1, output.size(), pipe));
    return {::pclose(pipe), output};
}

// An export never replaces what is not a regular file: a fifo is written into, as a shell's
// redirection would, and stays a fifo; the program's own output in a pipe gets the file and
// nothing after it. A store file that does not parse is named with its line, and a "folder"
// that is a file is refused as such. And the tool closes every key it opens.
TEST(RegTool, ExportsAndTheProgramItself) {
    Store store;
    ASSERT_EQ(Tool(store.api, {"import", kSample}).code, 0);
    EXPECT_EQ(store.File(), ReadFile(kSample));  // the sample is written as the store writes
    const std::string fifo = (store.dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A reader that never holds the writer up: the pipe's buffer takes the whole export.
    const int reader = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    const Result result = Tool(store.api, {"export", kNoras, fifo});
    std::string received(1 << 16, '\0');
    received.resize(static_cast<std::size_t>(
        std::max<ssize_t>(::read(reader, received.data(), received.size()), 0)));
    ::close(reader);
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(fs::is_fifo(fifo));
    // Replacing it is refused.
    platform::AtomicFile replacement(fifo, platform::AtomicFile::Links::WriteThrough);
    EXPECT_FALSE(replacement.Open());
    EXPECT_EQ(replacement.Error(), platform::AtomicFile::NotARegularFile());
    EXPECT_TRUE(fs::is_fifo(fifo));
    const auto parsed = platform::regfile::Parse(received);
    ASSERT_TRUE(parsed.document) << parsed.error.message;
    EXPECT_EQ(parsed.document->entries.front().path.back(), "NORAS");
    const auto [status, piped] = Program(
        store.folder.string(), "export '\\\\TESTPC\\HKLM\\SYSTEM\\CurrentControlSet' /dev/stdout");
    EXPECT_EQ(status, 0);
    const auto whole = platform::regfile::Parse(piped);
    ASSERT_TRUE(whole.document) << whole.error.line << ": " << whole.error.message;
    EXPECT_EQ(whole.document->entries.size(),
              platform::regfile::Parse(ReadFile(kSample)).document->entries.size() - 1);
    const std::string damaged =
        store.Put("Kaputt.reg", kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"x\"=dword:zz\n");
    for (const std::string& folder : {store.dir.Path().string(), damaged}) {
        const auto [code, output] = Program(folder, "query '\\\\kaputt\\HKLM'");
        EXPECT_EQ(code, 1 << 8);
        EXPECT_NE(
            output.find(folder == damaged ? "refusing to use " + damaged + ": it is not a folder"
                                          : "\"kaputt\": the registry file is damaged at " +
                                                damaged + ":4: dword:"),
            std::string::npos)
            << output;
    }
    // Text values of other software travel byte for byte (odd counts, unpaired surrogates); an
    // export is private to its owner and imports as the same tree, for one key or all of HKLM.
    ASSERT_EQ(Tool(store.api,
                   {"import",
                    store.Put("odd.reg",
                              kHeader + "[HKEY_LOCAL_MACHINE\\Other]\n\"E\"=hex(2):41,00,42\n"
                                        "\"S\"=hex(2):41,00,00,d8,42,00\n\"M\"=hex(7):00,dc,00\n")})
                  .code,
              0);
    EXPECT_NE(store.File().find("\"S\"=hex(2):41,00,00,d8,42,00\n\"M\"=hex(7):00,dc,00"),
              std::string::npos);
    for (const std::string key :
         {"HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service", "hklm"}) {
        const std::string exported = (store.dir / "export.reg").string();
        ASSERT_EQ(Tool(store.api, {"export", key, exported, "/y"}).code, 0);
        struct stat st {};
        EXPECT_TRUE(::stat(exported.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
        Store second;
        ASSERT_EQ(Tool(second.api, {"import", exported}).code, 0);
        EXPECT_EQ(second.File(), key == "hklm"
                                     ? store.File()
                                     : ReadFile(kSample));  // for a key: the keys above it too
    }
    // Every key the tool opens it closes again, also one it deletes.
    platform::CountingRegistry counting(store.api);
    ASSERT_EQ(Tool(counting, {"delete", "HKLM\\SYSTEM", "/f"}).code, 0);
    EXPECT_EQ(counting.Count(Call::CloseKey),
              counting.Count(Call::ConnectRegistry) + counting.Count(Call::OpenKeyEx));
}

}  // namespace
}  // namespace kelvaston::tools
