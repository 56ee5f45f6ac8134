// kelvaston-reg against the file store, each test on a fresh store folder of its own.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file_store.h"
#include "platform/registry_decorators.h"
#include "platform/registry_tree.h"
#include "platform/text.h"
#include "reg_tool.h"

namespace kelvaston::tools {
namespace {

namespace fs = std::filesystem;
using platform::KeyTree;
using platform::kRegSz, platform::kRegDword, platform::kRegBinary, platform::kRegExpandSz;
using platform::regfile::Value;

const std::string kSample = std::string(KELVASTON_EXAMPLES_DIR) + "/sample.reg";
const std::string kService = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service";
const std::string kNoras = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters\\NORAS";

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Written as the store's files are: readable by their owner only.
void WriteBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
}

// UTF-8 text with LF line ends as regedit writes it: UTF-16LE with BOM and CRLF.
std::string AsRegedit5(const std::string& utf8) {
    std::string crlf;
    for (const char c : utf8) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return "\xFF\xFE" + platform::text::Utf8ToUtf16Le(crlf);
}

struct Result {
    int code = -1;
    std::string out, err;
};

// An empty store whose local computer is TESTPC, in a fresh folder removed at the end.
class Store {
public:
    Store() {
        std::string pattern = (fs::temp_directory_path() / "kelvaston-regtool-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        folder_ = pattern;
        api_ = std::make_unique<platform::FileStoreRegistry>(platform::FileStoreOptions{folder_, "TESTPC"});
    }
    ~Store() {
        api_.reset();  // writes before the folder goes
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    platform::FileStoreRegistry& Api() { return *api_; }
    const fs::path& Folder() const { return folder_; }
    std::string FileText() const { return ReadBytes(folder_ / "TESTPC.reg"); }

    Result Run(const std::vector<std::string>& args) { return Run(*api_, args); }
    static Result Run(platform::RegistryApi& api, const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const int code = RunRegTool(args, api, out, err);
        return {code, out.str(), err.str()};
    }
    // Writes `bytes` to a file in the store folder and imports it.
    Result Import(const std::string& bytes, const std::string& name = "in.reg") {
        WriteBytes(folder_ / name, bytes);
        return Run({"import", (folder_ / name).string()});
    }

    // The tree below HKLM\path as a second, independent store instance reads it from disk: what
    // a later run of the tool would see. Named "<missing>" when the key does not exist.
    KeyTree TreeOnDisk(const std::string& path = "") {
        platform::FileStoreRegistry fresh(platform::FileStoreOptions{folder_, "TESTPC"});
        platform::Key root = platform::kNullKey, key = platform::kNullKey;
        KeyTree tree{"<missing>", {}, {}};
        EXPECT_EQ(fresh.ConnectRegistry("", platform::kHKeyLocalMachine, &root), platform::error::kSuccess);
        if (fresh.OpenKeyEx(root, path, 0, platform::kKeyRead, &key) == platform::error::kSuccess) {
            EXPECT_EQ(platform::ReadTree(fresh, key, "X", &tree), platform::error::kSuccess);
            fresh.CloseKey(key);
        }
        fresh.CloseKey(root);
        return tree;
    }

private:
    fs::path folder_;
    std::unique_ptr<platform::FileStoreRegistry> api_;
};

const KeyTree* Child(const KeyTree& tree, const std::string& name) {
    for (const auto& child : tree.children) {
        if (child.name == name) return &child;
    }
    return nullptr;
}

// Guards: import or export losing or altering anything, and exporting more or less than the key
// asked for (the service key, or all of HKLM).
TEST(RegTool, SampleImportsExportsAndReimportsUnchanged) {
    Store first;
    const Result imported = first.Run({"import", kSample});
    ASSERT_EQ(imported.code, 0) << imported.err;
    EXPECT_EQ(first.FileText(), ReadBytes(kSample));  // the sample is written as the store writes
    // Other software's text values travel as their bytes: odd counts, unpaired surrogates.
    ASSERT_EQ(first.Import("Windows Registry Editor Version 5.00\n\n[" + kNoras + "\\Other]\n\"E\"=hex(2):41,00,42\n"
                           "\"S\"=hex(2):41,00,00,d8,42,00\n\"M\"=hex(7):00,dc,00\n").code, 0);
    EXPECT_EQ(first.TreeOnDisk(kNoras.substr(19) + "\\Other").values,
              (std::vector<Value>{{"E", kRegExpandSz, std::string("A\0B", 3)},
                                  {"S", kRegExpandSz, std::string("A\0\0\xD8" "B\0", 6)},
                                  {"M", platform::kRegMultiSz, std::string("\0\xDC\0", 3)}}));

    for (const std::string& key : {kService, std::string("hkey_local_machine")}) {
        SCOPED_TRACE(key);
        const fs::path exported = first.Folder() / "export.reg";
        const Result result = first.Run({"export", key, exported.string(), "/y"});
        ASSERT_EQ(result.code, 0) << result.err;
        Store second;  // the exact format of an export: ExportRefusesToOverwriteWithoutY
        ASSERT_EQ(second.Import(ReadBytes(exported)).code, 0);
        EXPECT_EQ(second.TreeOnDisk(), first.TreeOnDisk());
        if (key == kService) {  // the keys above it travel too, and nothing else
            EXPECT_EQ(second.FileText(), first.FileText());
        }
        struct stat st {};
        ASSERT_EQ(::stat(exported.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);  // a backup holds passwords
    }
}

// Guards: key and value deletions not applied, a deletion of a missing value failing the
// import, continuation lines, and 8-bit (Windows-1252) text and REG_EXPAND_SZ of REGEDIT4.
TEST(RegTool, ImportsRegedit4AndUtf16WithDeletionsAndContinuationLines) {
    Store store;
    ASSERT_EQ(store.Import("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Old\\Below]\r\n\"x\"=\"1\"\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Keep]\r\n\"Gone\"=\"1\"\r\n\"Name\"=\"M\xFCller\"\r\n"
                           "\"Path\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,\\\r\n  5c,61,00\r\n")
                  .code,
              0);
    const Result result = store.Import(AsRegedit5("Windows Registry Editor Version 5.00\n\n"
                                                  "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Old]\n\n"
                                                  "; a comment between the entries\n"
                                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Keep]\n"
                                                  "\"Gone\"=-\n\"Missing\"=-\n"
                                                  "\"Blob\"=hex:01,02,03,\\\n  04,05\n"
                                                  "@=\"Müller & Söhne\"\n"));
    ASSERT_EQ(result.code, 0) << result.err;
    const KeyTree demo = store.TreeOnDisk("SOFTWARE\\Demo");
    EXPECT_EQ(Child(demo, "Old"), nullptr);
    ASSERT_NE(Child(demo, "Keep"), nullptr);
    const std::vector<Value> expected = {
        {"Name", kRegSz, "Müller"},
        {"Path", kRegExpandSz, platform::text::Utf8ToUtf16Le(std::string("%SystemRoot%\\a\0", 15))},
        {"Blob", kRegBinary, "\x01\x02\x03\x04\x05"},
        {"", kRegSz, "Müller & Söhne"}};
    EXPECT_EQ(Child(demo, "Keep")->values, expected);
}

// Guards: lines applied before the check reached a bad one, and the message not naming the file
// and line. The parser's own errors are in reg_file_test; these are the tool's.
TEST(RegTool, RejectedImportNamesTheLineAndChangesNothing) {
    Store store;
    ASSERT_EQ(store.Run({"import", kSample}).code, 0);
    const std::string before = store.FileText();
    const std::string goodStart = "Windows Registry Editor Version 5.00\n\n[-" + kNoras +
                                  "]\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\n\"a\"=dword:00000001\n";
    for (const auto& [lines, expected] : std::vector<std::pair<std::string, std::string>>{
             {"\"b\"=dword:1234567890\n", ":7: dword: with more than 8 hexadecimal digits"},
             {"\n[HKEY_CURRENT_USER\\Software\\X]\n", ":8: only HKEY_LOCAL_MACHINE keys can be imported"},
             {"[-HKEY_LOCAL_MACHINE]\n", ":7: HKEY_LOCAL_MACHINE itself cannot be deleted"}}) {
        const Result result = store.Import(AsRegedit5(goodStart + lines), "bad.reg");
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.err.find((store.Folder() / "bad.reg").string() + expected), std::string::npos) << result.err;
        EXPECT_EQ(store.FileText(), before);
    }
    const Result missing = store.Run({"import", (store.Folder() / "nonexistent.reg").string()});
    EXPECT_NE(missing.err.find("cannot open the file"), std::string::npos) << missing.err;
}

// Guards: the output format (layout, stored case of names, the number formats, the unset
// default value, the /s summary) and failures for what does not exist.
TEST(RegTool, QueryPrintsValuesInTheUsualFormat) {
    Store store;
    ASSERT_EQ(store.Run({"import", kSample}).code, 0);
    ASSERT_EQ(store.Import("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\T]\n\"bin\"=hex:00,ab,10\n"
                           "\"q\"=hex(b):00,01,00,00,00,00,00,00\n\"multi\"=hex(7):61,00,62,00\n"
                           "\"e\"=hex(2):25,41,25,00\n\"odd\"=hex(4):01,02\n")
                  .code,
              0);
    EXPECT_EQ(store.Run({"query", "HKLM\\T"}).out,
              "\nHKEY_LOCAL_MACHINE\\T\n    bin    REG_BINARY    00AB10\n    q    REG_QWORD    0x100\n"
              "    multi    REG_MULTI_SZ    a\\0b\n    e    REG_EXPAND_SZ    %A%\n    odd    REG_DWORD    0102\n\n");

    Result result = store.Run({"query", "hklm\\system\\currentcontrolset\\services\\tolvane service\\parameters\\noras"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "\n" + kNoras + "\n    Enable Logging    REG_DWORD    0x0\n    TimeOut    REG_DWORD    0x258\n\n" +
                              kNoras + "\\info\n" + kNoras + "\\vertrieb\n");
    result = store.Run({"query", kNoras + "\\vertrieb", "/v", "pop host"});
    EXPECT_EQ(result.out, "\n" + kNoras + "\\vertrieb\n    POP Host    REG_SZ    pop.example.com\n\n");
    result = store.Run({"query", kNoras, "/ve"});
    EXPECT_EQ(result.out, "\n" + kNoras + "\n    (Default)    REG_SZ    (value not set)\n\n");
    result = store.Run({"query", kNoras, "/s", "/v", "UDP Port"});
    EXPECT_EQ(result.out, "\n" + kNoras + "\\info\n    UDP Port    REG_DWORD    0x3a9a\n\n" + kNoras +
                              "\\vertrieb\n    UDP Port    REG_DWORD    0x3a9b\n\nEnd of search: 2 match(es) found.\n");

    result = store.Run({"query", kNoras, "/v", "No Such Value"});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(store.Run({"query", kNoras + "\\nobody"}).code, 1);
}

// Guards: values written with the wrong type or bytes, an existing value (in any case)
// overwritten without /f, and bad data creating the key before it is refused.
TEST(RegTool, AddCreatesValuesAndOverwritesOnlyWithForce) {
    Store store;
    const std::string key = "HKLM\\SOFTWARE\\Demo\\Sub";
    ASSERT_EQ(store.Run({"add", key, "/v", "Port", "/t", "reg_dword", "/d", "15001"}).code, 0);
    ASSERT_EQ(store.Run({"add", key, "/v", "Mask", "/t", "REG_DWORD", "/d", "0xFFFFFFFF"}).code, 0);
    ASSERT_EQ(store.Run({"add", key, "/v", "Host", "/d", "mail.example.com"}).code, 0);
    std::vector<Value> expected = {{"Port", kRegDword, std::string("\x99\x3a\0\0", 4)},
                                   {"Mask", kRegDword, "\xFF\xFF\xFF\xFF"},
                                   {"Host", kRegSz, "mail.example.com"}};
    EXPECT_EQ(store.TreeOnDisk("SOFTWARE\\Demo\\Sub").values, expected);

    const Result refused = store.Run({"add", key, "/v", "host", "/d", "other.example.com"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("already exists"), std::string::npos) << refused.err;
    EXPECT_EQ(store.TreeOnDisk("SOFTWARE\\Demo\\Sub").values, expected);
    ASSERT_EQ(store.Run({"add", key, "/v", "host", "/d", "other.example.com", "/f"}).code, 0);
    expected[2].data = "other.example.com";
    EXPECT_EQ(store.TreeOnDisk("SOFTWARE\\Demo\\Sub").values, expected);

    for (const char* data : {"-1", "4294967296", "0x", "12abc", ""}) {
        EXPECT_EQ(store.Run({"add", "HKLM\\SOFTWARE\\Fresh", "/v", "n", "/t", "REG_DWORD", "/d", data}).code, 1) << data;
    }
    EXPECT_EQ(store.Run({"add", "HKLM\\SOFTWARE\\Fresh", "/v", "n", "/t", "REG_BINARY", "/d", "00"}).code, 1);
    EXPECT_EQ(store.TreeOnDisk("SOFTWARE\\Fresh").name, "<missing>");
}

// Guards: deleting without /f, /va taking the subkeys along, a key deleted without what is
// below it, and a missing value or HKLM itself "deleted" successfully.
TEST(RegTool, DeleteRefusesWithoutForceAndRemovesWithIt) {
    Store store;
    ASSERT_EQ(store.Run({"import", kSample}).code, 0);
    const std::string before = store.FileText();
    for (const std::vector<std::string>& args : {std::vector<std::string>{"delete", kNoras},
                                                 {"delete", kNoras, "/v", "TimeOut"},
                                                 {"delete", kNoras, "/va"},
                                                 {"delete", kNoras, "/v", "No Such", "/f"},
                                                 {"delete", "HKLM", "/f"}}) {
        EXPECT_EQ(store.Run(args).code, 1) << args.size();
    }
    EXPECT_EQ(store.FileText(), before);

    const std::string noras = "SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters\\NORAS";
    ASSERT_EQ(store.Run({"delete", kNoras, "/v", "timeout", "/f"}).code, 0);
    ASSERT_EQ(store.Run({"delete", kNoras + "\\info", "/va", "/f"}).code, 0);
    KeyTree tree = store.TreeOnDisk(noras);
    EXPECT_EQ(tree.values, (std::vector<Value>{{"Enable Logging", kRegDword, std::string(4, '\0')}}));
    ASSERT_NE(Child(tree, "info"), nullptr);
    EXPECT_TRUE(Child(tree, "info")->values.empty());

    ASSERT_EQ(store.Run({"delete", kNoras, "/f"}).code, 0);
    tree = store.TreeOnDisk("SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters");
    EXPECT_EQ(Child(tree, "NORAS"), nullptr);
    EXPECT_NE(Child(tree, "T-Online"), nullptr);
}

// Guards: a change not flushed, or a failed save reported as success; an import that stops
// at a line the registry refuses not naming it.
TEST(RegTool, AFailureToSaveIsReported) {
    Store store;
    const fs::path file = store.Folder() / "one.reg";
    WriteBytes(file, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\n\"1\"=\"1\"\n\"2\"=\"2\"\n");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"add", "HKLM\\SOFTWARE\\A"},
                                                 {"add", "HKLM\\SOFTWARE\\A", "/v", "x", "/d", "1", "/f"},
                                                 {"delete", "HKLM\\SOFTWARE\\A", "/v", "x", "/f"},
                                                 {"delete", "HKLM\\SOFTWARE\\A", "/f"},
                                                 {"import", file.string()}}) {
        ASSERT_EQ(store.Run({"add", "HKLM\\SOFTWARE\\A", "/v", "x", "/d", "0", "/f"}).code, 0);
        platform::FaultInjectingRegistry faulty(store.Api());
        faulty.FailNth(platform::Call::FlushKey, 1, platform::error::kRegistryIoFailed);
        const Result result = Store::Run(faulty, args);
        EXPECT_EQ(result.code, 1) << args[0] << " " << args.size();
        EXPECT_NE(result.err.find("could not be saved"), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }

    platform::FaultInjectingRegistry faulty(store.Api());
    faulty.FailNth(platform::Call::SetValueBytes, 2, platform::error::kAccessDenied);
    const Result result = Store::Run(faulty, {"import", file.string()});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find(file.string() + ":5: cannot apply this line"), std::string::npos) << result.err;
}

// Guards: a store file created for a computer nobody knows; another computer's keys shown
// without its name.
TEST(RegTool, ReachesOnlyComputersTheStoreKnows) {
    Store store;
    WriteBytes(store.Folder() / "Zentrale.reg",
               "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"Where\"=\"Zentrale\"\n");
    Result result = store.Run({"query", "\\\\ZENTRALE\\HKLM\\Software"});
    EXPECT_EQ(result.out, "\n\\\\ZENTRALE\\HKEY_LOCAL_MACHINE\\SOFTWARE\n    Where    REG_SZ    Zentrale\n\n");
    result = store.Run({"add", "\\\\Filiale\\HKLM\\SOFTWARE\\X", "/v", "a", "/d", "b"});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err, "ERROR: cannot connect to the registry of computer \"Filiale\": no such computer is known\n");
    EXPECT_FALSE(fs::exists(store.Folder() / "Filiale.reg"));
}

// Guards: an existing file overwritten without /y (or not with it), and a file left behind
// when the key does not exist.
TEST(RegTool, ExportRefusesToOverwriteWithoutY) {
    Store store;
    ASSERT_EQ(store.Run({"add", "HKLM\\SOFTWARE\\Demo", "/v", "a", "/d", "1"}).code, 0);
    const fs::path file = store.Folder() / "backup.reg";
    WriteBytes(file, "precious");
    EXPECT_EQ(store.Run({"export", "HKLM\\SOFTWARE\\Demo", file.string()}).code, 1);
    EXPECT_EQ(ReadBytes(file), "precious");
    EXPECT_EQ(store.Run({"export", "HKLM\\SOFTWARE\\Demo", file.string(), "/Y"}).code, 0);
    EXPECT_EQ(ReadBytes(file),
              AsRegedit5("Windows Registry Editor Version 5.00\n" + std::string(platform::regfile::kWholeFileMark) +
                         "\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\n\"a\"=\"1\"\n\n; end of file\n"));
    EXPECT_EQ(store.Run({"export", "HKLM\\SOFTWARE\\Nothing", (store.Folder() / "none.reg").string()}).code, 1);
    EXPECT_FALSE(fs::exists(store.Folder() / "none.reg"));
}

// A command run in a child process, after `prepare` there; its error output comes back by pipe.
template <class Prepare>
Result InChild(platform::RegistryApi& api, const std::vector<std::string>& args, Prepare&& prepare) {
    int pipe[2];
    if (::pipe(pipe) != 0) return {};
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        prepare();
        std::ostringstream out, err;
        const int code = RunRegTool(args, api, out, err);
        const std::string text = err.str();
        const ssize_t written = ::write(pipe[1], text.data(), text.size());
        std::_Exit(written == static_cast<ssize_t>(text.size()) ? code : 3);
    }
    ::close(pipe[1]);
    std::string err;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;) err.append(buffer, static_cast<std::size_t>(n));
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128, "", err};
}

// The same with files that may not grow past a few kilobytes: a full disk.
Result OnAFullDisk(platform::RegistryApi& api, const std::vector<std::string>& args) {
    return InChild(api, args, [] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
}

// What went wrong is said plainly, with the file or folder and the real cause, and a command
// that changed nothing says so.
TEST(RegTool, FailuresNameTheFileAndTheRealCause) {
    Store store;
    ASSERT_EQ(store.Run({"import", kSample}).code, 0);
    const std::string before = store.FileText();
    const std::string file = (store.Folder() / "TESTPC.reg").string();

    // A full disk, for the store file and for a backup that exists already.
    Result result = OnAFullDisk(store.Api(), {"add", "HKLM\\SOFTWARE\\Big", "/v", "x", "/d",
                                                             std::string(8000, 'x')});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("cannot write " + file + ": File too large; the file is left as it was"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(store.FileText(), before);
    const fs::path backup = store.Folder() / "backup.reg";
    WriteBytes(backup, "the old backup");
    result = OnAFullDisk(store.Api(), {"export", "HKLM", backup.string(), "/y"});
    EXPECT_NE(result.err.find("cannot write the file " + backup.string() + ": File too large; the file is left as it was"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(ReadBytes(backup), "the old backup");

    // A store another user cannot read (root reads everything, so root tries as nobody).
    if (::geteuid() == 0) {
        platform::FileStoreRegistry fresh({store.Folder(), "TESTPC"});
        ::chmod(store.Folder().c_str(), 0711);
        result = InChild(fresh, {"query", "HKLM"}, [] {
            if (::setuid(65534) != 0) std::_Exit(2);
        });
        ::chmod(store.Folder().c_str(), 0700);
        EXPECT_NE(result.err.find("cannot read " + file + ": Permission denied"), std::string::npos) << result.err;
    }

    // An import whose first line the registry refuses imported nothing.
    platform::FaultInjectingRegistry refusing(store.Api());
    refusing.FailNth(platform::Call::CreateKey, 1, platform::error::kAccessDenied, true);
    result = Store::Run(refusing, {"import", kSample});
    EXPECT_NE(result.err.find("access is denied (error 5); nothing was imported"), std::string::npos) << result.err;

    // A folder other users may write into, and a store "folder" that is a file.
    fs::permissions(store.Folder(), fs::perms::all);
    result = store.Run({"query", "HKLM"});
    EXPECT_NE(result.err.find("refusing to use " + store.Folder().string() + ": it may be written by other users"),
              std::string::npos)
        << result.err;
    fs::permissions(store.Folder(), fs::perms::owner_all);
    platform::FileStoreRegistry misnamed({store.Folder() / "TESTPC.reg", "TESTPC"});
    result = Store::Run(misnamed, {"query", "HKLM"});
    EXPECT_NE(result.err.find("refusing to use " + file + ": it is not a folder"), std::string::npos) << result.err;

    // Names and data that are not UTF-8, and a computer name no message repeats whole.
    EXPECT_NE(store.Run({"add", "HKLM\\SOFTWARE\\x", "/v", "n", "/d", "caf\xE9"}).err.find("is not UTF-8 text"),
              std::string::npos);
    result = store.Run({"query", "\\\\" + std::string(100000, 'c') + "\\HKLM"});
    EXPECT_EQ(result.code, 1);
    EXPECT_LT(result.err.size(), 300u) << result.err.substr(0, 300);
    EXPECT_EQ(store.FileText(), before);
}

TEST(RegTool, CommandLineHelpAndMistakes) {
    Store store;
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"/?"}, {"query", "/?"}}) {
        EXPECT_TRUE(store.Run(args).out.starts_with("Usage: kelvaston-reg")) << args.size();
    }
    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"frobnicate"}, "unknown command"},
             {{"query"}, "query needs KEY"},
             {{"query", "HKLM\\A", "extra"}, "unexpected argument \"extra\""},
             {{"add", "HKLM\\A", "/s"}, "/s is not an option of add"},
             {{"add", "HKLM\\A", "/v", "x", "/ve"}, "only one of /v, /ve and /va"},
             {{"add", "HKLM\\A", "/f", "/F"}, "/F is given twice"},
             {{"add", "HKLM\\A", "/d", "1"}, "name it with /v NAME"},
             {{"query", "HKCU\\Software"}, "only HKLM keys"},
             {{"query", "\\\\Filiale"}, "is not a key"}}) {
        const Result result = store.Run(args);
        EXPECT_EQ(result.code, 1) << message;
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with("ERROR: ")) << result.err;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(store.Folder() / "TESTPC.reg"));
}

// The program itself: a store file that does not parse is named with its line.
TEST(RegTool, ProgramNamesADamagedStoreFileWithItsLine) {
    Store store;
    const fs::path file = store.Folder() / "Kaputt.reg";
    WriteBytes(file, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"x\"=dword:zz\n");
    const std::string command = "KELVASTON_REGISTRY='" + store.Folder().string() + "' '" KELVASTON_REG_PROGRAM
                                "' query '\\\\kaputt\\HKLM\\SOFTWARE' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    const int status = ::pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(output.find("registry of computer \"kaputt\": the registry file is damaged"), std::string::npos)
        << output;
    EXPECT_NE(output.find(file.string() + ":4: dword: without hexadecimal digits"), std::string::npos) << output;
}

}  // namespace
}  // namespace kelvaston::tools
