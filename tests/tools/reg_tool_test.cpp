// kelvaston-reg against the file store, each test on a fresh store folder of its own.
#include <gtest/gtest.h>

#include <sys/wait.h>

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
using platform::FileStoreOptions;
using platform::FileStoreRegistry;
using platform::Key;
using platform::KeyTree;

const std::string kService = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service";

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// UTF-8 text with LF line ends as regedit writes it: UTF-16LE with BOM and CRLF.
std::string AsRegedit5(const std::string& utf8) {
    std::string crlf;
    for (const char c : utf8) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    return "\xFF\xFE" + platform::text::Utf8ToUtf16Le(crlf);
}

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

// A temporary folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "kelvaston-regtool-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

// An empty store whose local computer is TESTPC.
class Store {
public:
    Store() : api_(std::make_unique<FileStoreRegistry>(FileStoreOptions{folder_.Path(), "TESTPC"})) {}
    ~Store() { api_.reset(); }  // writes before the folder goes
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    FileStoreRegistry& Api() { return *api_; }
    const fs::path& Folder() const { return folder_.Path(); }
    fs::path File() const { return folder_.Path() / "TESTPC.reg"; }
    std::string FileText() const { return ReadBytes(File()); }

    Result Run(const std::vector<std::string>& args) { return Run(*api_, args); }
    static Result Run(platform::RegistryApi& api, const std::vector<std::string>& args) {
        std::ostringstream out, err;
        Result result;
        result.code = RunRegTool(args, api, out, err);
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    // The tree below HKLM\path as a second, independent store instance reads it from disk: what
    // a later run of the tool would see.
    KeyTree TreeOnDisk(const std::string& path = "") {
        FileStoreRegistry fresh(FileStoreOptions{folder_.Path(), "TESTPC"});
        Key root = platform::kNullKey;
        Key key = platform::kNullKey;
        KeyTree tree;
        EXPECT_EQ(fresh.ConnectRegistry("", platform::kHKeyLocalMachine, &root), platform::error::kSuccess);
        const auto status = fresh.OpenKeyEx(root, path, 0, platform::kKeyRead, &key);
        if (status == platform::error::kSuccess) {
            EXPECT_EQ(platform::ReadTree(fresh, key, "X", &tree), platform::error::kSuccess);
            fresh.CloseKey(key);
        } else {
            tree.name = "<missing>";
        }
        fresh.CloseKey(root);
        return tree;
    }

private:
    TempFolder folder_;
    std::unique_ptr<FileStoreRegistry> api_;
};

const std::string kSample = std::string(KELVASTON_EXAMPLES_DIR) + "/sample.reg";

const KeyTree* Child(const KeyTree& tree, const std::string& name) {
    for (const auto& child : tree.children) {
        if (child.name == name) return &child;
    }
    return nullptr;
}

// --- import and export of the sample configuration ---------------------------------------------

TEST(RegToolRoundTrip, SampleImportsExportsAndReimportsUnchanged) {
    Store first;
    const Result imported = first.Run({"import", kSample});
    ASSERT_EQ(imported.code, 0) << imported.err;
    // The sample is written as the store writes its files, so importing it reproduces it.
    EXPECT_EQ(first.FileText(), ReadBytes(kSample));

    const KeyTree parameters = first.TreeOnDisk("SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters");
    EXPECT_EQ(parameters.values.size(), 7u);
    int accounts = 0;
    for (const char* connection : {"Arcor ISDN", "NORAS", "T-Online"}) {
        const KeyTree* key = Child(parameters, connection);
        ASSERT_NE(key, nullptr) << connection;
        EXPECT_EQ(key->values.size(), 2u) << connection;
        for (const auto& account : key->children) {
            EXPECT_EQ(account.values.size(), 19u) << connection << "\\" << account.name;
            ++accounts;
        }
    }
    EXPECT_EQ(accounts, 6);
    EXPECT_NE(Child(parameters, "volatile"), nullptr);

    TempFolder files;
    for (const std::string& key : {kService, std::string("hkey_local_machine")}) {
        SCOPED_TRACE(key);
        const fs::path exported = files.Path() / "export.reg";
        const Result exportResult = first.Run({"export", key, exported.string(), "/y"});
        ASSERT_EQ(exportResult.code, 0) << exportResult.err;
        const std::string bytes = ReadBytes(exported);
        ASSERT_TRUE(bytes.starts_with("\xFF\xFE"));
        const std::string text = platform::text::Utf16LeToUtf8(bytes.substr(2));
        EXPECT_TRUE(text.starts_with("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM"));
        EXPECT_EQ(text.find("\n\n"), std::string::npos) << "every line ends in CRLF";

        Store second;
        const Result reimported = second.Run({"import", exported.string()});
        ASSERT_EQ(reimported.code, 0) << reimported.err;
        EXPECT_EQ(second.TreeOnDisk(), first.TreeOnDisk());
        if (key == kService) {
            // Only the service key and what is below it travel, with the keys above it.
            EXPECT_EQ(second.FileText(), first.FileText());
        }
    }
}

TEST(RegToolImport, Utf16Regedit5WithDeletionsAndContinuedHex) {
    Store store;
    WriteBytes(store.Folder() / "setup.reg",
               "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Old\\Below]\n\"x\"=\"1\"\n\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Keep]\n\"Gone\"=\"1\"\n\"Stays\"=dword:00000002\n");
    ASSERT_EQ(store.Run({"import", (store.Folder() / "setup.reg").string()}).code, 0);

    WriteBytes(store.Folder() / "change.reg",
               AsRegedit5("Windows Registry Editor Version 5.00\n\n"
                          "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Old]\n\n"
                          "; a comment between the entries\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Keep]\n"
                          "\"Gone\"=-\n"
                          "\"Missing\"=-\n"
                          "\"Blob\"=hex:01,02,03,\\\n"
                          "  04,05\n"
                          "@=\"Müller & Söhne\"\n"));
    const Result result = store.Run({"import", (store.Folder() / "change.reg").string()});
    ASSERT_EQ(result.code, 0) << result.err;

    const KeyTree demo = store.TreeOnDisk("SOFTWARE\\Demo");
    EXPECT_EQ(Child(demo, "Old"), nullptr);
    const KeyTree* keep = Child(demo, "Keep");
    ASSERT_NE(keep, nullptr);
    const std::vector<platform::regfile::Value> expected = {
        {"Stays", platform::kRegDword, std::string("\x02\0\0\0", 4)},
        {"Blob", platform::kRegBinary, "\x01\x02\x03\x04\x05"},
        {"", platform::kRegSz, "Müller & Söhne"}};
    EXPECT_EQ(keep->values, expected);
}

TEST(RegToolImport, Regedit4EightBitWithContinuedExpandString) {
    Store store;
    // Windows-1252 text; REGEDIT4 keeps REG_EXPAND_SZ as 8-bit bytes.
    WriteBytes(store.Folder() / "old.reg",
               "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"
               "\"Name\"=\"M\xFCller\"\r\n"
               "\"Path\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,\\\r\n"
               "  5c,61,00\r\n");
    const Result result = store.Run({"import", (store.Folder() / "old.reg").string()});
    ASSERT_EQ(result.code, 0) << result.err;
    const Result query = store.Run({"query", "HKLM\\SOFTWARE\\Demo"});
    EXPECT_EQ(query.out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\n"
              "    Name    REG_SZ    Müller\n"
              "    Path    REG_EXPAND_SZ    %SystemRoot%\\a\n\n");
}

TEST(RegToolImport, RejectedFileNamesTheLineAndChangesNothing) {
    Store store;
    ASSERT_EQ(store.Run({"import", kSample}).code, 0);
    const std::string before = store.FileText();
    const fs::path file = store.Folder() / "bad.reg";
    const std::string goodStart =
        "Windows Registry Editor Version 5.00\n\n"
        "[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters\\NORAS]\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\n"
        "\"a\"=dword:00000001\n";
    struct Case {
        std::string lines;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"\"b\"=dword:1234567890\n", ":7: dword: with more than 8 hexadecimal digits"},
        {"\"c\"=hex:01,zz\n", ":7: malformed hex data"},
        {"\n[HKEY_CURRENT_USER\\Software\\X]\n", ":8: only HKEY_LOCAL_MACHINE keys can be imported"},
        {"[-HKEY_LOCAL_MACHINE]\n", ":7: HKEY_LOCAL_MACHINE itself cannot be deleted"},
    };
    for (const auto& [lines, expected] : cases) {
        SCOPED_TRACE(lines);
        WriteBytes(file, AsRegedit5(goodStart + lines));
        const Result result = store.Run({"import", file.string()});
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.err.find(file.string() + expected), std::string::npos) << result.err;
        EXPECT_EQ(store.FileText(), before);
        EXPECT_EQ(store.TreeOnDisk("SOFTWARE").name, "<missing>");
    }

    const Result missing = store.Run({"import", (store.Folder() / "nonexistent.reg").string()});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("cannot open the file"), std::string::npos) << missing.err;
}

// --- query -------------------------------------------------------------------------------------

TEST(RegToolQuery, PrintsValuesAsRegExeDoes) {
    Store store;
    ASSERT_EQ(store.Run({"import", kSample}).code, 0);
    const std::string noras = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters\\NORAS";

    // Any spelling of the path; the output shows the stored one.
    Result result = store.Run({"query", "hklm\\system\\currentcontrolset\\services\\tolvane service\\parameters\\noras"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "\n" + noras + "\n    Enable Logging    REG_DWORD    0x0\n    TimeOut    REG_DWORD    0x258\n\n" +
                              noras + "\\info\n" + noras + "\\vertrieb\n");

    result = store.Run({"query", noras + "\\vertrieb", "/v", "pop host"});
    EXPECT_EQ(result.out, "\n" + noras + "\\vertrieb\n    POP Host    REG_SZ    pop.example.com\n\n");

    result = store.Run({"query", kService, "/v", "ImagePath"});
    EXPECT_NE(result.out.find("    ImagePath    REG_EXPAND_SZ    %ProgramFiles%\\Tolvane\\tolvsvc.exe\n"),
              std::string::npos);

    result = store.Run({"query", noras, "/ve"});
    EXPECT_EQ(result.out, "\n" + noras + "\n    (Default)    REG_SZ    (value not set)\n\n");
    ASSERT_EQ(store.Run({"add", noras, "/ve", "/d", "Ohne Wählverbindung"}).code, 0);
    result = store.Run({"query", noras, "/ve"});
    EXPECT_EQ(result.out, "\n" + noras + "\n    (Default)    REG_SZ    Ohne Wählverbindung\n\n");

    result = store.Run({"query", noras, "/s", "/v", "UDP Port"});
    EXPECT_EQ(result.out, "\n" + noras + "\\info\n    UDP Port    REG_DWORD    0x3a9a\n\n" + noras +
                              "\\vertrieb\n    UDP Port    REG_DWORD    0x3a9b\n\nEnd of search: 2 match(es) found.\n");

    result = store.Run({"query", noras, "/v", "No Such Value"});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("No Such Value"), std::string::npos);

    result = store.Run({"query", noras + "\\nobody"});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("does not exist"), std::string::npos);
}

TEST(RegToolQuery, ShowsOtherTypesInHex) {
    Store store;
    WriteBytes(store.Folder() / "types.reg",
               "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\T]\n\"bin\"=hex:00,ab,10\n\"q\"=hex(b):00,01,00,00,00,00,00,00\n"
               "\"multi\"=hex(7):61,00,62,00\n\"odd\"=hex(4):01,02\n");
    ASSERT_EQ(store.Run({"import", (store.Folder() / "types.reg").string()}).code, 0);
    const Result result = store.Run({"query", "HKLM\\T"});
    EXPECT_EQ(result.out,
              "\nHKEY_LOCAL_MACHINE\\T\n    bin    REG_BINARY    00AB10\n    q    REG_QWORD    0x100\n"
              "    multi    REG_MULTI_SZ    a\\0b\n    odd    REG_DWORD    0102\n\n");
}

// --- add and delete ----------------------------------------------------------------------------

TEST(RegToolAdd, CreatesKeysAndValuesAndOverwritesOnlyWithForce) {
    Store store;
    const std::string key = "HKLM\\SOFTWARE\\Demo\\Sub";
    ASSERT_EQ(store.Run({"add", key}).code, 0);
    EXPECT_EQ(store.TreeOnDisk("SOFTWARE\\Demo\\Sub").name, "X");

    ASSERT_EQ(store.Run({"add", key, "/v", "Port", "/t", "reg_dword", "/d", "15001"}).code, 0);
    ASSERT_EQ(store.Run({"add", key, "/v", "Mask", "/t", "REG_DWORD", "/d", "0xFFFFFFFF"}).code, 0);
    ASSERT_EQ(store.Run({"add", key, "/v", "Host", "/d", "mail.example.com"}).code, 0);
    std::vector<platform::regfile::Value> expected = {
        {"Port", platform::kRegDword, std::string("\x99\x3a\0\0", 4)},
        {"Mask", platform::kRegDword, "\xFF\xFF\xFF\xFF"},
        {"Host", platform::kRegSz, "mail.example.com"}};
    EXPECT_EQ(store.TreeOnDisk("SOFTWARE\\Demo\\Sub").values, expected);

    Result result = store.Run({"add", key, "/v", "host", "/d", "other.example.com"});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("already exists"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("/f"), std::string::npos) << result.err;
    EXPECT_EQ(store.TreeOnDisk("SOFTWARE\\Demo\\Sub").values, expected);

    result = store.Run({"add", key, "/v", "host", "/d", "other.example.com", "/f"});
    EXPECT_EQ(result.code, 0) << result.err;
    expected[2].data = "other.example.com";
    EXPECT_EQ(store.TreeOnDisk("SOFTWARE\\Demo\\Sub").values, expected);

    // Bad data is refused before anything is created.
    for (const char* data : {"-1", "4294967296", "0x", "12abc", "0x1_0", ""}) {
        SCOPED_TRACE(data);
        result = store.Run({"add", "HKLM\\SOFTWARE\\Fresh", "/v", "n", "/t", "REG_DWORD", "/d", data});
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.err.find("REG_DWORD"), std::string::npos) << result.err;
    }
    result = store.Run({"add", "HKLM\\SOFTWARE\\Fresh", "/v", "n", "/t", "REG_BINARY", "/d", "00"});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(store.TreeOnDisk("SOFTWARE\\Fresh").name, "<missing>");
}

TEST(RegToolDelete, RefusesWithoutForceAndRemovesWithIt) {
    Store store;
    ASSERT_EQ(store.Run({"import", kSample}).code, 0);
    const std::string noras = kService + "\\Parameters\\NORAS";
    const std::string before = store.FileText();

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"delete", noras}, {"delete", noras, "/v", "TimeOut"}, {"delete", noras, "/va"}}) {
        const Result result = store.Run(args);
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.err.find("add /f"), std::string::npos) << result.err;
    }
    EXPECT_EQ(store.FileText(), before);

    Result result = store.Run({"delete", noras, "/v", "No Such", "/f"});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("does not exist"), std::string::npos) << result.err;
    EXPECT_EQ(store.Run({"delete", "HKLM", "/f"}).code, 1);

    ASSERT_EQ(store.Run({"delete", noras, "/v", "timeout", "/f"}).code, 0);
    KeyTree tree = store.TreeOnDisk("SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters\\NORAS");
    ASSERT_EQ(tree.values.size(), 1u);
    EXPECT_EQ(tree.values[0].name, "Enable Logging");

    ASSERT_EQ(store.Run({"delete", noras + "\\info", "/va", "/f"}).code, 0);
    tree = store.TreeOnDisk("SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters\\NORAS");
    ASSERT_NE(Child(tree, "info"), nullptr);
    EXPECT_TRUE(Child(tree, "info")->values.empty());
    EXPECT_EQ(Child(tree, "vertrieb")->values.size(), 19u);

    ASSERT_EQ(store.Run({"delete", noras, "/f"}).code, 0);
    tree = store.TreeOnDisk("SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters");
    EXPECT_EQ(Child(tree, "NORAS"), nullptr);
    EXPECT_NE(Child(tree, "T-Online"), nullptr);
    EXPECT_EQ(store.Run({"delete", noras, "/f"}).code, 1);
}

TEST(RegToolFlush, EveryChangeIsFlushedAndAFailureToSaveIsReported) {
    Store store;
    const fs::path file = store.Folder() / "one.reg";
    WriteBytes(file, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported]\n\"v\"=\"1\"\n");
    const std::vector<std::vector<std::string>> changes = {
        {"add", "HKLM\\SOFTWARE\\A"},
        {"add", "HKLM\\SOFTWARE\\A", "/v", "x", "/d", "1", "/f"},
        {"delete", "HKLM\\SOFTWARE\\A", "/v", "x", "/f"},
        {"delete", "HKLM\\SOFTWARE\\A", "/f"},
        {"import", file.string()},
    };
    for (const auto& args : changes) {
        SCOPED_TRACE(args.front() + " " + args[1]);
        platform::CountingRegistry counting(store.Api());
        const Result result = Store::Run(counting, args);
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_GE(counting.Count(platform::Call::FlushKey), 1u);
    }
    for (const auto& args : changes) {
        SCOPED_TRACE(args.front() + " " + args[1]);
        ASSERT_EQ(store.Run({"add", "HKLM\\SOFTWARE\\A", "/v", "x", "/d", "0", "/f"}).code, 0);
        platform::FaultInjectingRegistry faulty(store.Api());
        faulty.FailNth(platform::Call::FlushKey, 1, platform::error::kRegistryIoFailed);
        const Result result = Store::Run(faulty, args);
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.err.find("could not be saved"), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }

    // A line the registry refuses stops the import there and is named.
    WriteBytes(file, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\n\"1\"=\"1\"\n\"2\"=\"2\"\n\"3\"=\"3\"\n");
    platform::FaultInjectingRegistry faulty(store.Api());
    faulty.FailNth(platform::Call::SetValueEx, 2, platform::error::kAccessDenied);
    const Result result = Store::Run(faulty, {"import", file.string()});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find(file.string() + ":5: cannot apply this line"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("access is denied"), std::string::npos) << result.err;
}

// --- other computers, export, the command line --------------------------------------------------

TEST(RegToolRemote, ReachesOnlyComputersTheStoreKnows) {
    Store store;
    WriteBytes(store.Folder() / "Zentrale.reg",
               "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"Where\"=\"Zentrale\"\n");
    Result result = store.Run({"query", "\\\\ZENTRALE\\HKLM\\Software"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "\n\\\\ZENTRALE\\HKEY_LOCAL_MACHINE\\SOFTWARE\n    Where    REG_SZ    Zentrale\n\n");

    result = store.Run({"add", "\\\\Filiale\\HKLM\\SOFTWARE\\X", "/v", "a", "/d", "b"});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err, "ERROR: cannot connect to the registry of computer \"Filiale\": no such computer is known\n");
    EXPECT_FALSE(fs::exists(store.Folder() / "Filiale.reg"));

    for (const char* bad : {"\\\\\\HKLM\\X", "\\\\Filiale", "\\\\Filiale\\"}) {
        result = store.Run({"query", bad});
        EXPECT_EQ(result.code, 1) << bad;
        EXPECT_NE(result.err.find("is not a key"), std::string::npos) << result.err;
    }
}

TEST(RegToolExport, RefusesToOverwriteWithoutY) {
    Store store;
    ASSERT_EQ(store.Run({"add", "HKLM\\SOFTWARE\\Demo", "/v", "a", "/d", "1"}).code, 0);
    const fs::path file = store.Folder() / "backup.reg";
    WriteBytes(file, "precious");

    Result result = store.Run({"export", "HKLM\\SOFTWARE\\Demo", file.string()});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("/y"), std::string::npos) << result.err;
    EXPECT_EQ(ReadBytes(file), "precious");

    result = store.Run({"export", "HKLM\\SOFTWARE\\Demo", file.string(), "/Y"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(ReadBytes(file), AsRegedit5("Windows Registry Editor Version 5.00\n\n"
                                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\n\"a\"=\"1\"\n\n"));

    const fs::path none = store.Folder() / "none.reg";
    EXPECT_EQ(store.Run({"export", "HKLM\\SOFTWARE\\Nothing", none.string()}).code, 1);
    EXPECT_FALSE(fs::exists(none));
}

TEST(RegToolCommandLine, HelpAndMistakes) {
    Store store;
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"/?"}, {"--help"}, {"query", "/?"}}) {
        const Result result = store.Run(args);
        EXPECT_EQ(result.code, 0);
        EXPECT_TRUE(result.out.starts_with("Usage: kelvaston-reg")) << result.out;
    }
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"frobnicate"}, "unknown command"},
        {{"query"}, "query needs KEY"},
        {{"add", "HKLM\\A", "/s"}, "/s is not an option of add"},
        {{"add", "HKLM\\A", "/v", "x", "/ve"}, "only one of /v, /ve and /va"},
        {{"add", "HKLM\\A", "/f", "/F"}, "/F is given twice"},
        {{"add", "HKLM\\A", "/d", "1"}, "name it with /v NAME"},
        {{"query", "HKLM\\A", "extra"}, "unexpected argument \"extra\""},
        {{"query", "HKCU\\Software"}, "only HKLM keys"},
    };
    for (const auto& [args, message] : cases) {
        const Result result = store.Run(args);
        EXPECT_EQ(result.code, 1) << args.front();
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with("ERROR: ")) << result.err;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(store.File()));
}

// The program itself: a store file that does not parse is named with its line.
TEST(RegToolProgram, DamagedStoreFileIsNamedWithItsLine) {
    TempFolder folder;
    WriteBytes(folder.Path() / "Kaputt.reg",
               "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"x\"=dword:zz\n");
    const std::string command = "KELVASTON_REGISTRY='" + folder.Path().string() + "' '" KELVASTON_REG_PROGRAM
                                "' query '\\\\kaputt\\HKLM\\SOFTWARE' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    const int status = ::pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(output.find("registry of computer \"kaputt\" cannot be read"), std::string::npos) << output;
    EXPECT_NE(output.find((folder.Path() / "Kaputt.reg").string() + ":4: dword: without hexadecimal digits"),
              std::string::npos)
        << output;
}

}  // namespace
}  // namespace kelvaston::tools
