// kelvaston-reg against the file store. Most of it is one transcript: each command with its
// exit status, a piece of what it prints, and what the store file holds afterwards. Every
// refused command must leave the store file as it was and say why in one short line.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <sstream>

#include "platform/file_store.h"
#include "platform/registry_decorators.h"
#include "reg_tool.h"
#include "support/temp_dir.h"

namespace kelvaston::tools {
namespace {

using platform::Call;
using test::ReadFile;

const std::string kSample = KELVASTON_EXAMPLES_DIR "/sample.reg";
const std::string kNoras = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters\\NORAS";
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

struct Result { int code = -1; std::string out, err; };

Result Tool(platform::RegistryApi& api, const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = RunRegTool(args, api, out, err);
    return {code, out.str(), err.str()};
}

// An empty store whose local computer is TESTPC; other files are written next to its own.
struct Store {
    test::TempDir dir;
    platform::FileStoreRegistry api{platform::FileStoreOptions{dir.Path(), "TESTPC"}};
    std::string File() const { return ReadFile(dir / "TESTPC.reg"); }
    std::string Put(const std::string& name, const std::string& bytes) const {
        test::WriteFile(dir / name, bytes);
        return (dir / name).string();
    }
};

struct Step {
    std::vector<std::string> args;
    int code;
    std::string shown;  // found in the output, or in the error when it fails
    std::string file;   // the store file holds this afterwards; with a leading '!' it does not
};

TEST(RegTool, Transcript) {
    Store store;
    const std::string deep = [] { std::string p = "HKLM"; for (int i = 0; i < 513; ++i) p += "\\d"; return p; }();
    const std::string deepFile = store.Put("deep.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\n[HKEY_LOCAL_MACHINE" + deep.substr(4) + "]\n");
    const std::string texts = store.Put("texts.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\T]\n\"e\"=hex(2):25,41,25,00\n"
                                                     "\"m\"=hex(7):61,00,62,00,00\n\"b\"=hex:00,ab\n");
    const std::string badDword = store.Put("dword.reg", kHeader + "[HKEY_LOCAL_MACHINE\\New]\n\"a\"=dword:1\n\"b\"=dword:123456789\n");
    const std::string otherRoot = store.Put("hkcu.reg", kHeader + "[HKEY_LOCAL_MACHINE\\New]\n\n[HKEY_CURRENT_USER\\X]\n");
    const std::string backup = store.Put("backup.reg", "precious");
    const std::string sw = "HKLM\\SOFTWARE\\Demo";
    const std::vector<Step> steps = {
        {{}, 0, "Usage: kelvaston-reg", ""},
        {{"-?"}, 0, "REGEDIT4\"; UTF-16 or 8-bit)", ""},
        {{"query", "--help"}, 0, "Usage: kelvaston-reg", ""},
        {{"query", "HKLM\\A", "extra"}, 1, "unexpected argument \"extra\"", "!"},
        {{"add", "HKLM\\A", "/s"}, 1, "/s is not an option of add", "!"},
        {{"add", "HKLM\\A", "/f", "/F"}, 1, "/F is given twice", "!"},
        {{"add", "HKLM\\A", "/v"}, 1, "/v needs an argument", "!"},
        {{"query", "\\\\PC\\"}, 1, "write \\\\COMPUTER\\HKLM\\PATH", "!"},
        {{"query", "\\\\" + std::string(100000, 'c') + "\\HKLM"}, 1, "cccc...\": no such computer is known", "!"},
        {{"add", sw, "/v", "n", "/d", "caf\xE9"}, 1, "/d is not UTF-8 text (byte 0xE9 at position 4)", "!"},
        {{"add", sw + "\\a\r\nb"}, 1, "a line break or NUL character in a key name", "!"},
        {{"add", deep}, 1, "deeper than 512 levels", "!"},
        {{"import", deepFile}, 1, deepFile + ":5: key path deeper than 512 levels", "!"},
        {{"import", kSample}, 0, "The operation completed successfully.", "Tolvane Service]"},
        {{"add", sw, "/v", "Port", "/t", "reg_dword", "/d", "15001"}, 0, "", "\"Port\"=dword:00003a99"},
        {{"add", sw, "/v", "Mask", "/t", "REG_DWORD", "/d", "0xFFFFFFFF"}, 0, "", "\"Mask\"=dword:ffffffff"},
        {{"add", sw, "/v", "Five", "/t", "REG_DWORD", "/d", "0x5"}, 0, "", "\"Five\"=dword:00000005"},
        {{"add", sw, "/v", "x", "/t", "REG_DWORD", "/d", "4294967296"}, 1, "too large for a REG_DWORD", "!\"x\""},
        {{"add", sw, "/v", "Host", "/d", "mail.example.com"}, 0, "", "\"Host\"=\"mail.example.com\""},
        {{"add", sw, "/v", "host", "/d", "other"}, 1, "\"host\" already exists", "!\"other\""},
        {{"add", sw, "/v", "host", "/d", "other", "/f"}, 0, "", "\"Host\"=\"other\""},
        {{"add", "HKLM\\SOFTWARE\\Fresh", "/v", "x", "/t", "REG_BINARY", "/d", "00"}, 1, "cannot be given to add", "!Fresh"},
        {{"query", "hklm\\system\\currentcontrolset\\services\\tolvane service\\parameters\\noras"}, 0,
         "\n" + kNoras + "\n    Enable Logging    REG_DWORD    0x0\n    TimeOut    REG_DWORD    0x258\n\n" + kNoras +
             "\\info\n" + kNoras + "\\vertrieb\n", ""},
        {{"query", kNoras, "/s", "/v", "UDP Port"}, 0,
         "\n" + kNoras + "\\info\n    UDP Port    REG_DWORD    0x3a9a\n\n" + kNoras +
             "\\vertrieb\n    UDP Port    REG_DWORD    0x3a9b\n\nEnd of search: 2 match(es) found.\n", ""},
        {{"query", kNoras, "/v", "No Such"}, 1, "no value \"No Such\" was found in", ""},
        {{"import", texts}, 0, "", "[HKEY_LOCAL_MACHINE\\T]"},
        {{"query", "HKLM\\T"}, 0, "    e    REG_EXPAND_SZ    %A%\n    m    REG_MULTI_SZ    a\\0b\n    b    REG_BINARY    00AB\n", ""},
        {{"delete", kNoras}, 1, "nothing was deleted", ""},
        {{"delete", "HKLM", "/f"}, 1, "HKEY_LOCAL_MACHINE itself cannot be deleted", ""},
        {{"delete", kNoras, "/v", "timeout", "/f"}, 0, "", "NORAS]\n\"Enable Logging\"=dword:00000000\n\n"},
        {{"delete", kNoras + "\\info", "/va", "/f"}, 0, "", "NORAS\\info]\n\n["},
        {{"delete", kNoras, "/f"}, 0, "", "!NORAS"},
        {{"import", badDword}, 1, badDword + ":5: dword: with more than 8 hexadecimal digits", "!New"},
        {{"import", otherRoot}, 1, otherRoot + ":5: only HKEY_LOCAL_MACHINE keys can be imported", "!New"},
        {{"export", sw, backup}, 1, "already exists; nothing was written", ""},
        {{"export", "HKLM\\SOFTWARE\\Nothing", (store.dir / "none.reg").string()}, 1, "does not exist", ""},
        {{"export", sw, backup, "/Y"}, 0, "", ""},
    };
    for (const Step& step : steps) {
        const std::string before = store.File();
        const Result result = Tool(store.api, step.args);
        const std::string after = store.File();
        SCOPED_TRACE((step.args.empty() ? "" : step.args[0]) + " ... " + step.shown.substr(0, 60));
        EXPECT_EQ(result.code, step.code) << result.err;
        EXPECT_NE((step.code == 0 ? result.out : result.err).find(step.shown), std::string::npos) << result.out << result.err;
        if (step.code == 1) {
            EXPECT_EQ(after, before);
            EXPECT_EQ(result.out, "");
            EXPECT_TRUE(result.err.starts_with("ERROR: ") && result.err.size() < 300) << result.err.substr(0, 300);
        } else {
            const bool absent = step.file.starts_with("!");
            EXPECT_EQ(after.find(step.file.substr(absent ? 1 : 0)) == std::string::npos, absent) << after;
        }
    }
    EXPECT_EQ(ReadFile(backup).find("precious"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(store.dir / "none.reg"));
}

// Text values of other software travel byte for byte (odd counts, unpaired surrogates); an
// export is private to its owner and imports as the same tree, for one key or all of HKLM.
// And the tool closes every key it opens.
TEST(RegTool, ImportExportKeepsEveryByteAndClosesKeys) {
    Store first;
    ASSERT_EQ(Tool(first.api, {"import", kSample}).code, 0);
    EXPECT_EQ(first.File(), ReadFile(kSample));  // the sample is written as the store writes
    ASSERT_EQ(Tool(first.api, {"import", first.Put("odd.reg", kHeader + "[HKEY_LOCAL_MACHINE\\Other]\n\"E\"=hex(2):41,00,42\n"
                                                              "\"S\"=hex(2):41,00,00,d8,42,00\n\"M\"=hex(7):00,dc,00\n")}).code, 0);
    EXPECT_NE(first.File().find("\"S\"=hex(2):41,00,00,d8,42,00\n\"M\"=hex(7):00,dc,00"), std::string::npos);
    for (const std::string key : {"HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service", "hklm"}) {
        const std::string exported = (first.dir / "export.reg").string();
        ASSERT_EQ(Tool(first.api, {"export", key, exported, "/y"}).code, 0);
        struct stat st {};
        EXPECT_TRUE(::stat(exported.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
        Store second;
        ASSERT_EQ(Tool(second.api, {"import", exported}).code, 0);
        EXPECT_EQ(second.File(), key == "hklm" ? first.File() : ReadFile(kSample));  // for a key: the keys above it too
    }
    // Every key the tool opens it closes again, also one it deletes.
    platform::CountingRegistry counting(first.api);
    ASSERT_EQ(Tool(counting, {"delete", "HKLM\\SYSTEM", "/f"}).code, 0);
    EXPECT_EQ(counting.Count(Call::CloseKey), counting.Count(Call::ConnectRegistry) + counting.Count(Call::OpenKeyEx));
}

// A command run in a child process after `prepare` there; its error output comes back by file.
template <class Prepare>
Result InChild(platform::RegistryApi& api, const std::vector<std::string>& args, Prepare&& prepare) {
    const std::string errFile = std::filesystem::temp_directory_path() / ("kelvaston-child-" + std::to_string(::getpid()));
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
const auto kFullDisk = [] { std::signal(SIGXFSZ, SIG_IGN); ::setrlimit(RLIMIT_FSIZE, &kSmallFiles); };

// What went wrong is said plainly, with the file and the real cause, and whether anything changed.
TEST(RegTool, FailuresNameTheFileAndTheRealCause) {
    Store store;
    ASSERT_EQ(Tool(store.api, {"import", kSample}).code, 0);
    const std::string before = store.File(), file = (store.dir / "TESTPC.reg").string();
    const std::string backup = store.Put("backup.reg", "the old backup");
    std::vector<std::pair<Result, std::string>> cases = {
        {InChild(store.api, {"add", "HKLM\\Big", "/v", "x", "/d", std::string(8000, 'x')}, kFullDisk),
         "cannot write " + file + ": File too large; the file is left as it was"},
        {InChild(store.api, {"export", "HKLM", backup, "/y"}, kFullDisk),
         "cannot write the file " + backup + ": File too large; the file is left as it was"}};
    if (::geteuid() == 0) {  // a store file another user cannot read (root reads everything)
        platform::FileStoreRegistry fresh({store.dir.Path(), "TESTPC"});
        cases.push_back({InChild(fresh, {"query", "HKLM"}, [&] {
                             if (::chmod(store.dir.Path().c_str(), 0711) != 0 || ::setuid(65534) != 0) std::_Exit(2);
                         }), "cannot read " + file + ": Permission denied"});
        ::chmod(store.dir.Path().c_str(), 0700);
    }
    platform::FaultInjectingRegistry refusing(store.api), unsaved(store.api);
    refusing.FailNth(Call::CreateKey, 1, platform::error::kAccessDenied, true);  // a read-only store
    unsaved.FailNth(Call::FlushKey, 1, platform::error::kRegistryIoFailed);
    cases.push_back({Tool(refusing, {"import", kSample}), kSample + ":4: cannot apply this line to "
                     "HKEY_LOCAL_MACHINE\\SYSTEM: access is denied (error 5); nothing was imported"});
    EXPECT_EQ(store.File(), before);
    cases.push_back({Tool(unsaved, {"add", "HKLM\\New"}), "the changes could not be saved: "});
    for (const auto& [result, message] : cases) {
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
    EXPECT_EQ(ReadFile(backup), "the old backup");
}

// The program itself, through $KELVASTON_REGISTRY: a store file that does not parse is named
// with its line, and a "folder" that is a file is refused as such.
TEST(RegTool, ProgramNamesTheStoreProblem) {
    Store store;
    const std::string damaged = store.Put("Kaputt.reg", kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"x\"=dword:zz\n");
    for (const std::string& folder : {store.dir.Path().string(), damaged}) {
        FILE* pipe = ::popen(("KELVASTON_REGISTRY='" + folder + "' '" KELVASTON_REG_PROGRAM "' query '\\\\kaputt\\HKLM' 2>&1").c_str(), "r");
        std::string output(4096, '\0');
        output.resize(std::fread(output.data(), 1, output.size(), pipe));
        EXPECT_EQ(::pclose(pipe), 1 << 8);
        EXPECT_NE(output.find(folder == damaged ? "refusing to use " + damaged + ": it is not a folder"
                                                : "\"kaputt\": the registry file is damaged at " + damaged + ":4: dword:"),
                  std::string::npos) << output;
    }
}

}  // namespace
}  // namespace kelvaston::tools
