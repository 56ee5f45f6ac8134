// kelvaston-reg against the file store, as one transcript (transcript.txt): each command with its
// exit status, what it prints, and what the store file holds afterwards; between them the files
// the commands read, the links and fifos they meet, and the files they write, whole. Every
// refused command must leave the store file as it was and say why in one short line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <functional>
#include <iomanip>
#include <map>
#include <optional>
#include <sstream>

#include "platform/atomic_file.h"
#include "platform/file_store.h"
#include "platform/registry_decorators.h"
#include "platform/registry_tree.h"
#include "platform/text.h"
#include "reg_tool.h"
#include "support/ascii_code_page.h"
#include "support/fault_injecting_registry.h"
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

// One line of the transcript (transcript.txt) with the lines that belong to it: a command with
// what it must give, or a directive with its arguments.
struct Step {
    int line = 0;
    std::string verb;                // "$" for a command, else the directive's name
    std::string registry;            // the command's registry by name; empty: the store itself
    std::vector<std::string> args;   // the command's or the directive's arguments
    std::vector<std::string> lines;  // the "|" lines of a put or a holds
    std::optional<int> code;
    std::optional<std::string> shown, wholeOutput;   // "> " lines; ">= FILE"
    std::vector<std::pair<char, std::string>> file;  // "file:", "file!:", "file=" and their text
};

// The directives and how many arguments each takes.
const std::map<std::string, std::size_t> kDirectives = {
    {"put", 1}, {"put-utf16", 1}, {"holds", 1}, {"holds-utf16", 1},
    {"is", 2},  {"link", 2},      {"fifo", 1},  {"folder", 1}};

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
        const bool inCommand = last && last->verb == "$";
        if (++number, line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::vector<std::string> split;  // the line's words, each with its placeholders replaced
        for (std::string word; words >> std::quoted(word, '"', '\0');)
            split.push_back(Expand(word, places).value_or(""));
        // "$ kelvaston-reg ARGS", "$ REGISTRY: kelvaston-reg ARGS" with a registry named in
        // lower-case letters and dashes, or "$ KELVASTON_REGISTRY=FOLDER kelvaston-reg ARGS".
        const bool named =
            split.size() > 2 && split[2] == "kelvaston-reg" &&
            (split[1].starts_with("KELVASTON_REGISTRY=") ||
             (split[1].size() > 1 && split[1].ends_with(':') &&
              split[1].find_first_not_of("abcdefghijklmnopqrstuvwxyz-") == split[1].size() - 1));
        const bool isCommand = text && !split.empty() && split[0] == "$" &&
                               std::ranges::count(line, '"') % 2 == 0 &&
                               (named || (split.size() > 1 && split[1] == "kelvaston-reg"));
        if (isCommand || (text && !split.empty() && kDirectives.contains(split[0]) &&
                          kDirectives.at(split[0]) == split.size() - 1)) {
            Step& step = steps.emplace_back();
            step.line = number;
            step.verb = isCommand ? "$" : split[0];
            step.registry = !named                    ? ""
                            : split[1].ends_with(':') ? split[1].substr(0, split[1].size() - 1)
                                                      : split[1];
            const std::size_t skipped = !isCommand ? 1 : named ? 3 : 2;
            step.args.assign(split.begin() + static_cast<std::ptrdiff_t>(skipped), split.end());
        } else if (const bool takesLines =
                       last && (last->verb.starts_with("put") || last->verb.starts_with("holds"));
                   text && takesLines && line.starts_with("| ")) {
            last->lines.push_back(text->substr(2));
        } else if (inCommand && !last->code && (line == "= 0" || line == "= 1")) {
            last->code = line[2] - '0';
        } else if (text && inCommand && line.starts_with(">= ")) {
            last->wholeOutput = text->substr(3);
        } else if (text && inCommand && line.starts_with("> ")) {
            last->shown = last->shown ? *last->shown + "\n" + text->substr(2) : text->substr(2);
        } else if (text && inCommand &&
                   (line.starts_with("file: ") || line.starts_with("file!: ") ||
                    line.starts_with("file= "))) {
            last->file.emplace_back(line[4], text->substr(line[4] == '!' ? 7 : 6));
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
// it all and on one where the tool must put back what it wrote; every key it opened is closed
// again. The whole run's result, with the store as that run left it.
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
            kelvaston::test::FaultInjectingRegistry faulty(registry);
            test::WithoutTransactions without(faulty);
            WithTransactions with(faulty, registry);
            faulty.FailNth(std::nullopt, nth, error::kAccessDenied);
            const Result result = transactions ? Tool(with, args) : Tool(without, args);
            EXPECT_EQ(registry.FlushKey(platform::kHKeyLocalMachine), error::kSuccess);
            EXPECT_EQ(with.writesAfterAbort, 0u);
            EXPECT_EQ(registry.OpenKeys(), faulty.ClosesRefused()) << "keys left open";
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

// The program itself on the store folder `folder` ($KELVASTON_REGISTRY): its exit status and all it
// prints, as its error when it fails.
Result Program(const std::string& folder, const std::vector<std::string>& args) {
    std::string command = "KELVASTON_REGISTRY='" + folder + "' '" KELVASTON_REG_PROGRAM "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::string output(1 << 20, '\0');
    output.resize(std::fread(output.data(), 1, output.size(), pipe));
    const int status = ::pclose(pipe);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return code == 0 ? Result{code, output, ""} : Result{code, "", output};
}

// What is at `path`: absent, link, folder, fifo, device, or file-NNN with its permissions.
std::string Kind(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "absent";
    std::ostringstream mode;
    mode << "file-" << std::oct << (st.st_mode & 0777);
    return S_ISLNK(st.st_mode)    ? "link"
           : S_ISDIR(st.st_mode)  ? "folder"
           : S_ISFIFO(st.st_mode) ? "fifo"
           : S_ISCHR(st.st_mode)  ? "device"
           : S_ISREG(st.st_mode)  ? mode.str()
                                  : "other";
}

TEST(RegTool, Transcript) {
    Store store;
    // Devices of its own as root (those of /dev would be at stake); else those of /dev, which
    // only root could replace. The steps that name a device that cannot be made are left out.
    const std::string noDevice = "(no device)";
    const auto device = [&](const char* name, unsigned minor) {
        if (::geteuid() != 0) return "/dev/" + std::string(name);
        const std::string own = (store.dir / name).string();
        return ::mknod(own.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0 ? own : noDevice;
    };
    // Registries in front of the store: one that makes no key, one whose changes cannot be saved,
    // one on a computer whose code page holds ASCII only, one that counts the calls; and the
    // store in a process that may write no file larger than 4 KiB.
    kelvaston::test::FaultInjectingRegistry readOnly(store.api), unsaved(store.api);
    readOnly.FailNth(Call::CreateKey, 1, error::kAccessDenied, true);
    unsaved.FailNth(Call::CommitTransaction, 1, error::kRegistryIoFailed);
    kelvaston::test::AsciiCodePage ascii(store.api);
    const fs::path secondFolder = store.dir / "second";
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
        {"each-call-fails", [&](Args args) { return EachCallFails(store, args); }},
        {"counting",
         [&](Args args) {
             platform::CountingRegistry counting(store.api);
             const Result result = Tool(counting, args);
             EXPECT_EQ(counting.Count(Call::CloseKey),
                       counting.Count(Call::ConnectRegistry) + counting.Count(Call::OpenKeyEx))
                 << "keys left open";
             return result;
         }},
        {"second",
         [&](Args args) {
             fs::remove_all(secondFolder);
             platform::FileStoreRegistry second({secondFolder, "TESTPC"});
             return Tool(second, args);
         }},
        {"stuck", [&](Args args) {
             platform::FileStoreRegistry second({secondFolder, "TESTPC"});
             using Faulty = kelvaston::test::FaultInjectingRegistry;
             Faulty noSet(second);
             Faulty noBytes(static_cast<platform::RegistryApi&>(noSet));
             Faulty noDelete(static_cast<platform::RegistryApi&>(noBytes));
             noSet.FailNth(Call::SetValueEx, 1, error::kAccessDenied, true);
             noBytes.FailNth(Call::SetValueBytes, 1, error::kAccessDenied, true);
             noDelete.FailNth(Call::DeleteKey, 1, error::kAccessDenied, true);
             test::WithoutTransactions without(noDelete);
             return Tool(without, args);
         }}};
    std::map<std::string, int> fifos;  // the fifos made, each with a reader that never blocks
    std::string malformed;
    const std::vector<Step> steps = ReadTranscript({{"dir", store.dir.Path().string()},
                                                    {"store", store.folder.string()},
                                                    {"sample", kSample},
                                                    {"device", device("null", 3)},
                                                    {"full", device("full", 7)},
                                                    {"LF", "\n"}},
                                                   &malformed);
    ASSERT_EQ(malformed, "") << "lines of " << KELVASTON_TRANSCRIPT
                             << " that are none of its forms";
    ASSERT_FALSE(steps.empty());
    for (const Step& step : steps) {
        SCOPED_TRACE(KELVASTON_TRANSCRIPT ":" + std::to_string(step.line));
        if (std::ranges::find(step.args, noDevice) != step.args.end()) continue;
        // The "|" lines as put writes them and holds wants them: each byte one character.
        const bool utf16 = step.verb.ends_with("-utf16");
        std::string lines = utf16 ? "\xFF\xFE" : "";
        for (const std::string& line : step.lines) {
            for (const char c : line + (utf16 ? "\r\n" : "\n"))
                lines += utf16 ? std::string{c, '\0'} : std::string(1, c);
        }
        if (step.verb.starts_with("put")) {
            test::WriteFile(store.dir / step.args[0], lines);
        } else if (step.verb == "folder") {
            fs::create_directories(step.args[0]);
        } else if (step.verb == "link") {
            fs::create_symlink(step.args[1], step.args[0]);
        } else if (step.verb == "fifo") {
            ASSERT_EQ(::mkfifo(step.args[0].c_str(), 0600), 0);
            fifos[step.args[0]] = ::open(step.args[0].c_str(), O_RDWR | O_NONBLOCK);
        } else if (step.verb == "is") {
            EXPECT_EQ(Kind(step.args[0]), step.args[1]) << step.args[0];
        } else if (step.verb.starts_with("holds")) {
            const bool fifo = fifos.contains(step.args[0]);
            std::string held = fifo ? std::string(1 << 16, '\0') : ReadFile(step.args[0]);
            if (fifo) {
                const ssize_t got = ::read(fifos[step.args[0]], held.data(), held.size());
                held.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            }
            EXPECT_EQ(held, lines) << step.args[0];
        }
        if (step.verb != "$") continue;
        const bool program = step.registry.starts_with("KELVASTON_REGISTRY=");
        ASSERT_TRUE(program || registries.contains(step.registry))
            << "no registry " << step.registry;
        if (!program && !registries.at(step.registry)) continue;
        const bool changes =
            !step.args.empty() &&
            std::ranges::any_of(std::array{"add", "delete", "import"}, [&](const char* verb) {
                return platform::text::EqualsNoCase(step.args[0], verb);
            });
        ASSERT_TRUE(step.code) << "a command without its exit status";
        ASSERT_EQ(step.code == 0 && changes, !step.file.empty())
            << "a change that succeeds, and only such a change, says what the file holds";
        const fs::path file =
            step.registry == "second" ? secondFolder / "TESTPC.reg" : store.folder / "TESTPC.reg";
        const std::string before = store.File();
        const Result result = program ? Program(step.registry.substr(19), step.args)
                                      : registries.at(step.registry)(step.args);
        const std::string after = ReadFile(file);
        EXPECT_EQ(result.code, *step.code) << result.err;
        if (step.wholeOutput) {
            EXPECT_EQ(result.out + result.err, ReadFile(*step.wholeOutput));
        } else {
            EXPECT_TRUE(step.shown ? (step.code == 0 ? result.out : result.err).find(*step.shown) !=
                                         std::string::npos
                                   : result.out + result.err == "")
                << result.out << result.err;
        }
        if (step.code != 0) {
            EXPECT_EQ(result.out, "");
            EXPECT_TRUE(result.err.starts_with("ERROR: ") && result.err.size() < 300)
                << result.err.substr(0, 300);
        }
        if (step.file.empty()) {
            EXPECT_EQ(store.File(), before);
        }
        for (const auto& [form, text] : step.file) {
            EXPECT_EQ(form == '=' ? after == ReadFile(text) : after.find(text) != std::string::npos,
                      form != '!')
                << text << "\n"
                << after;
        }
    }
    // An export never replaces what is not a regular file: replacing the fifo is refused.
    platform::AtomicFile replacement(store.dir / "fifo", platform::AtomicFile::Links::WriteThrough);
    EXPECT_FALSE(replacement.Open());
    EXPECT_EQ(replacement.Error(), platform::AtomicFile::NotARegularFile());
    EXPECT_EQ(Kind(store.dir / "fifo"), "fifo");
    for (const auto& [name, reader] : fifos) ::close(reader);
}

}  // namespace
}  // namespace kelvaston::tools
