// The file store as a store: what reaches the disk, when, and what it never does to a file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/file_store.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "support/temp_dir.h"

namespace kelvaston::platform {
namespace {

namespace error = platform::error;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";

class FileStoreTest : public ::testing::Test {
protected:
    std::unique_ptr<FileStoreRegistry> NewStore(const std::string& localName = "Desk1") {
        return std::make_unique<FileStoreRegistry>(FileStoreOptions{dir_.Path(), localName});
    }
    static Key Create(RegistryApi& api, Key parent, const std::string& path) {
        Key key = kNullKey;
        EXPECT_EQ(api.CreateKey(parent, path, &key), error::kSuccess) << path;
        return key;
    }
    static void SetText(RegistryApi& api, Key key, const std::string& name, const std::string& text) {
        ASSERT_EQ(api.SetValueEx(key, name, kRegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                 static_cast<std::uint32_t>(text.size() + 1)),
                  error::kSuccess);
    }
    static KeyTree Tree(RegistryApi& api, const std::string& path) {
        Key key = kNullKey;
        EXPECT_EQ(api.OpenKeyEx(kHKeyLocalMachine, path, 0, kKeyRead, &key), error::kSuccess) << path;
        KeyTree tree;
        EXPECT_EQ(ReadTree(api, key, path, &tree), error::kSuccess);
        api.CloseKey(key);
        return tree;
    }

    TempDir dir_;
};

TEST_F(FileStoreTest, ChangesReachTheFileOnFlushOwnerOnlyAndNotBefore) {
    auto store = NewStore();
    const Key key = Create(*store, kHKeyLocalMachine, "SOFTWARE\\Firma \"Test\"");
    SetText(*store, key, "Pfad", "c:\\mail\\");
    const auto file = dir_ / "Desk1.reg";
    EXPECT_FALSE(std::filesystem::exists(file)) << "written before a flush";

    ASSERT_EQ(store->FlushKey(key), error::kSuccess);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadFile(file), std::string(kHeader) + std::string(regfile::kWholeFileMark) +
                                  "\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
                                  "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Firma \"Test\"]\n"
                                  "\"Pfad\"=\"c:\\\\mail\\\\\"\n\n; end of file\n");
    // No temporary file is left behind, and one that a writer killed mid-write left is removed.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
    WriteFile(dir_ / ".Desk1.reg.tmp-99999", "half a configuration");
    SetText(*store, key, "Pfad", "d:\\");
    ASSERT_EQ(store->FlushKey(key), error::kSuccess);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
    store->CloseKey(key);
}

TEST_F(FileStoreTest, ClosingTheConnectionAndEndingTheProgramWrite) {
    {
        auto store = NewStore();
        Key root = kNullKey;
        ASSERT_EQ(store->ConnectRegistry("", kHKeyLocalMachine, &root), error::kSuccess);
        store->CloseKey(Create(*store, root, "A"));
        ASSERT_EQ(store->CloseKey(root), error::kSuccess);
        EXPECT_NE(ReadFile(dir_ / "Desk1.reg").find("[HKEY_LOCAL_MACHINE\\A]"), std::string::npos);

        store->CloseKey(Create(*store, kHKeyLocalMachine, "B"));
    }  // the store goes away as at the program's normal exit
    EXPECT_NE(ReadFile(dir_ / "Desk1.reg").find("[HKEY_LOCAL_MACHINE\\B]"), std::string::npos);
}

TEST_F(FileStoreTest, ValuesOfOtherSoftwareSurviveByteForByte) {
    const std::string original = std::string(kHeader) +
                                 "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n"
                                 "@=\"default text\"\n"
                                 "\"Path\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,\\\n"
                                 "  00,74,00,25,00,00,00\n"
                                 "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
                                 "\"Blob\"=hex:00,ff,10\n"
                                 "\"Big\"=hex(b):01,02,03,04,05,06,07,08\n"
                                 "\"Odd\"=hex(4):01,02\n"
                                 "\"None\"=hex(0):\n";
    WriteFile(dir_ / "Desk1.reg", original);
    const auto before = regfile::Parse(original);
    ASSERT_TRUE(before.document) << before.error.message;
    {
        auto store = NewStore();
        const Key key = Create(*store, kHKeyLocalMachine, "SOFTWARE\\Mine");
        SetText(*store, key, "x", "y");
        ASSERT_EQ(store->FlushKey(key), error::kSuccess);
        store->CloseKey(key);
    }
    const auto after = regfile::Parse(ReadFile(dir_ / "Desk1.reg"));
    ASSERT_TRUE(after.document) << after.error.message;
    std::vector<regfile::Value> kept;
    for (const auto& entry : after.document->entries) {
        if (entry.kind == regfile::EntryKind::SetValue && entry.path.back() == "Other") kept.push_back(entry.value);
    }
    std::vector<regfile::Value> expected;
    for (const auto& entry : before.document->entries) {
        if (entry.kind == regfile::EntryKind::SetValue) expected.push_back(entry.value);
    }
    EXPECT_EQ(kept, expected);
}

TEST_F(FileStoreTest, AMalformedFileIsReportedAndNeverOverwritten) {
    const std::string broken = std::string(kHeader) +
                               "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tolvane]\n"
                               "\"TimeOut\"=dword:0000025\n"
                               "\"Max Mails\"=dword:zehn\n";
    WriteFile(dir_ / "server1.reg", broken);
    WriteFile(dir_ / "Desk1.reg", broken);
    {
        auto store = NewStore();
        Key root = reinterpret_cast<Key>(&root);
        EXPECT_EQ(store->ConnectRegistry("SERVER1", kHKeyLocalMachine, &root), error::kBadDb);
        EXPECT_EQ(root, kNullKey);
        ASSERT_TRUE(store->LastHiveFileError());
        EXPECT_EQ(store->LastHiveFileError()->line, 5);
        EXPECT_EQ(std::filesystem::path(store->LastHiveFileError()->file).filename(), "server1.reg");

        // The local hive as well: nothing can be read from it or written to it.
        Key key = kNullKey;
        EXPECT_EQ(store->CreateKey(kHKeyLocalMachine, "SOFTWARE\\New", &key), error::kBadDb);
        EXPECT_EQ(key, kNullKey);
    }
    EXPECT_EQ(ReadFile(dir_ / "server1.reg"), broken);
    EXPECT_EQ(ReadFile(dir_ / "Desk1.reg"), broken);
}

TEST_F(FileStoreTest, AFileBrokenByAnotherProgramIsNotWrittenOver) {
    auto store = NewStore();
    const Key key = Create(*store, kHKeyLocalMachine, "SOFTWARE\\A");
    ASSERT_EQ(store->FlushKey(key), error::kSuccess);
    SetText(*store, key, "v", "1");
    const std::string broken = std::string(kHeader) + "garbage\n";
    WriteFile(dir_ / "Desk1.reg", broken);
    EXPECT_EQ(store->FlushKey(key), error::kBadDb);
    EXPECT_EQ(ReadFile(dir_ / "Desk1.reg"), broken);
    store->CloseKey(key);
}

TEST_F(FileStoreTest, AHiveReadAheadIsTheOneUsedAndItsErrorsStillReported) {
    WriteFile(dir_ / "desk1.reg", std::string(kHeader) + "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ahead]\n");
    auto store = NewStore();
    store->PrefetchLocalHive();
    EXPECT_EQ(Tree(*store, "SOFTWARE").children.size(), 1u);

    WriteFile(dir_ / "desk1.reg", std::string(kHeader) + "junk\n");
    auto broken = NewStore();
    broken->PrefetchLocalHive();
    Key root = kNullKey;
    EXPECT_EQ(broken->ConnectRegistry("", kHKeyLocalMachine, &root), error::kBadDb);
    ASSERT_TRUE(broken->LastHiveFileError());
    EXPECT_EQ(broken->LastHiveFileError()->line, 2);
}

TEST_F(FileStoreTest, OtherComputersAreReachedByTheirFileOnly) {
    WriteFile(dir_ / "Server1.reg", std::string(kHeader) + "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Remote]\n");
    std::filesystem::create_directory(dir_ / "sub");
    WriteFile(dir_ / "sub" / "x.reg", kHeader);
    auto store = NewStore();
    for (const char* name : {"Server1", "SERVER1", "\\\\server1"}) {
        Key root = kNullKey;
        ASSERT_EQ(store->ConnectRegistry(name, kHKeyLocalMachine, &root), error::kSuccess) << name;
        Key key = kNullKey;
        EXPECT_EQ(store->OpenKeyEx(root, "software\\remote", 0, kKeyRead, &key), error::kSuccess) << name;
        store->CloseKey(key);
        store->CloseKey(root);
    }
    for (const char* name : {"Server2", "sub/x", "..", "Server1.reg", "\\\\\\\\Server1"}) {
        Key root = kNullKey;
        EXPECT_EQ(store->ConnectRegistry(name, kHKeyLocalMachine, &root), error::kBadNetPath) << name;
        EXPECT_EQ(root, kNullKey);
    }
    // The local computer's hive needs no file yet.
    Key root = kNullKey;
    EXPECT_EQ(store->ConnectRegistry("DESK1", kHKeyLocalMachine, &root), error::kSuccess);
    store->CloseKey(root);
}

TEST_F(FileStoreTest, TwoStoresOnOneFileKeepEachOthersChanges) {
    auto first = NewStore();
    auto second = NewStore();
    const Key a = Create(*first, kHKeyLocalMachine, "SOFTWARE\\A");
    const Key b = Create(*second, kHKeyLocalMachine, "SOFTWARE\\B");
    SetText(*first, a, "from", "first");
    SetText(*second, b, "from", "second");
    ASSERT_EQ(first->FlushKey(a), error::kSuccess);
    ASSERT_EQ(second->FlushKey(b), error::kSuccess);

    // The second store wrote on top of the first one's file and now sees both keys; an open
    // handle to a key that both know stays usable.
    EXPECT_EQ(Tree(*second, "SOFTWARE").children.size(), 2u);
    ASSERT_EQ(second->DeleteKey(kHKeyLocalMachine, "SOFTWARE\\A"), error::kSuccess);
    ASSERT_EQ(second->FlushKey(b), error::kSuccess);

    // The first store meets the deletion when it writes again: its handle to A is dead.
    SetText(*first, a, "late", "value");
    ASSERT_EQ(first->FlushKey(a), error::kSuccess);
    std::uint32_t size = 0;
    EXPECT_EQ(first->QueryValueEx(a, "from", nullptr, nullptr, &size), error::kKeyDeleted);
    const std::string text = ReadFile(dir_ / "Desk1.reg");
    EXPECT_EQ(text.find("SOFTWARE\\A]"), std::string::npos);
    EXPECT_NE(text.find("\"from\"=\"second\""), std::string::npos);
    first->CloseKey(a);
    second->CloseKey(b);
}

// When another store has written the file meanwhile, this store's changes are laid onto it
// again at flush: each value ends as it ended here, whatever happened to it in between.
TEST_F(FileStoreTest, ChangesLaidOntoAnotherStoresFileEndAsTheyEndedHere) {
    auto first = NewStore();
    auto second = NewStore();
    Key k = Create(*first, kHKeyLocalMachine, "SOFTWARE\\K");
    SetText(*first, k, "value", "one");
    SetText(*first, k, "value", "two");
    SetText(*first, k, "gone", "soon");
    ASSERT_EQ(first->DeleteValue(k, "gone"), error::kSuccess);
    first->CloseKey(k);
    const Key again = Create(*first, kHKeyLocalMachine, "SOFTWARE\\Again");
    SetText(*first, again, "state", "old");
    first->CloseKey(again);
    ASSERT_EQ(first->DeleteKey(kHKeyLocalMachine, "SOFTWARE\\Again"), error::kSuccess);
    const Key reborn = Create(*first, kHKeyLocalMachine, "SOFTWARE\\Again");
    SetText(*first, reborn, "state", "new");

    const Key other = Create(*second, kHKeyLocalMachine, "SOFTWARE\\Other");
    ASSERT_EQ(second->FlushKey(other), error::kSuccess);
    ASSERT_EQ(first->FlushKey(reborn), error::kSuccess);

    const std::string text = ReadFile(dir_ / "Desk1.reg");
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]"), std::string::npos) << text;
    EXPECT_NE(text.find("\"value\"=\"two\""), std::string::npos) << text;
    EXPECT_EQ(text.find("\"value\"=\"one\""), std::string::npos) << text;
    EXPECT_EQ(text.find("gone"), std::string::npos) << text;
    EXPECT_NE(text.find("\"state\"=\"new\""), std::string::npos) << text;
    EXPECT_EQ(text.find("\"state\"=\"old\""), std::string::npos) << text;
    first->CloseKey(reborn);
    second->CloseKey(other);
}

// Several processes flushing into one file at once: every key of every process is there, and
// the file always parses.
TEST_F(FileStoreTest, ConcurrentProcessesNeverTearTheFileOrLoseKeys) {
    constexpr int kProcesses = 4;
    constexpr int kRounds = 20;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            {
                FileStoreRegistry store(FileStoreOptions{dir_.Path(), "Desk1"});
                for (int r = 0; r < kRounds; ++r) {
                    Key key = kNullKey;
                    const std::string path = "SOFTWARE\\P" + std::to_string(p) + "\\R" + std::to_string(r);
                    failures += store.CreateKey(kHKeyLocalMachine, path, &key) != error::kSuccess;
                    const std::uint8_t n[4] = {static_cast<std::uint8_t>(r), 0, 0, 0};
                    failures += store.SetValueEx(key, "Round", kRegDword, n, 4) != error::kSuccess;
                    failures += store.FlushKey(key) != error::kSuccess;
                    store.CloseKey(key);
                }
            }
            std::_Exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto store = NewStore();
    const KeyTree software = Tree(*store, "SOFTWARE");
    ASSERT_EQ(software.children.size(), static_cast<std::size_t>(kProcesses));
    for (const auto& process : software.children) EXPECT_EQ(process.children.size(), std::size_t{kRounds});
}

// A store file its user may only read: write access is refused, the file is left alone. Root
// may write any file, so then a child process gives up root for the user who owns the store.
TEST_F(FileStoreTest, AReadOnlyStoreRefusesWriteAccess) {
    const std::string text = std::string(kHeader) + "\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n";
    WriteFile(dir_ / "Desk1.reg", text);
    constexpr uid_t kNobody = 65534;
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dir_.Path().c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown((dir_ / "Desk1.reg").c_str(), kNobody, kNobody), 0);
    }
    std::filesystem::permissions(dir_ / "Desk1.reg", std::filesystem::perms::owner_read);
    std::filesystem::permissions(dir_.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::geteuid() == 0 && ::setuid(kNobody) != 0) std::_Exit(2);
        FileStoreRegistry store(FileStoreOptions{dir_.Path(), "Desk1"});
        Key key = kNullKey;
        int failures = store.OpenKeyEx(kHKeyLocalMachine, "SYSTEM", 0, kKeyWrite, &key) != error::kAccessDenied;
        failures += store.CreateKey(kHKeyLocalMachine, "SOFTWARE", &key) != error::kAccessDenied;
        failures += store.OpenKeyEx(kHKeyLocalMachine, "SYSTEM", 0, kKeyRead, &key) != error::kSuccess;
        store.CloseKey(key);
        std::_Exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(ReadFile(dir_ / "Desk1.reg"), text);
}

TEST(FileStoreFolder, ComesFromTheEnvironment) {
    const auto restore = [](const char* name, const char* old) {
        if (old != nullptr) {
            ::setenv(name, old, 1);
        } else {
            ::unsetenv(name);
        }
    };
    const char* oldStore = std::getenv("KELVASTON_REGISTRY");
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const char* oldHome = std::getenv("HOME");
    ::setenv("KELVASTON_REGISTRY", "/srv/reg", 1);
    ::setenv("XDG_DATA_HOME", "/data", 1);
    ::setenv("HOME", "/home/admin", 1);
    EXPECT_EQ(FileStoreRegistry::DefaultFolder(), "/srv/reg");
    ::setenv("KELVASTON_REGISTRY", "", 1);
    EXPECT_EQ(FileStoreRegistry::DefaultFolder(), "/data/kelvaston/registry");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(FileStoreRegistry::DefaultFolder(), "/home/admin/.local/share/kelvaston/registry");
    restore("KELVASTON_REGISTRY", oldStore);
    restore("XDG_DATA_HOME", oldXdg);
    restore("HOME", oldHome);

    const std::string host = FileStoreRegistry::HostComputerName();
    EXPECT_FALSE(host.empty());
    EXPECT_EQ(host.find('.'), std::string::npos);
}

}  // namespace
}  // namespace kelvaston::platform
