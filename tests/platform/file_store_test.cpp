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

// Another user must neither read the passwords a store keeps nor plant keys in it: a folder or
// file that another user owns or may change is refused with a message that names it, and left
// as it is. Root is no exception (the cases that need another owner run as root only).
TEST_F(FileStoreTest, FoldersAndFilesOtherUsersCanReachAreRefused) {
    const std::string text = std::string(kHeader) + "\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"Planted\"=\"1\"\n";
    const auto file = dir_ / "Desk1.reg";
    const bool root = ::geteuid() == 0;
    const struct {
        const char* what;
        mode_t folderMode, fileMode;
        uid_t fileOwner;
        bool refused;
        std::string named;
    } cases[] = {
        {"private", 0700, 0600, 0, false, ""},
        {"a folder others may write", 0777, 0600, 0, true, dir_.Path().string()},
        {"a folder its group may write", 0770, 0600, 0, true, dir_.Path().string()},
        {"a file others may read", 0700, 0644, 0, true, file.string()},
        {"a file with every bit set", 0700, 06777, 0, true, file.string()},
        {"a file of another user", 0700, 0600, 65534, true, file.string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.fileOwner != 0 && !root) continue;
        WriteFile(file, text);
        ASSERT_EQ(::chmod(file.c_str(), c.fileMode), 0);
        ASSERT_EQ(::chmod(dir_.Path().c_str(), c.folderMode), 0);
        if (c.fileOwner != 0) {
            ASSERT_EQ(::chown(file.c_str(), c.fileOwner, c.fileOwner), 0);
        }
        {
            auto store = NewStore();
            Key hive = kNullKey;
            EXPECT_EQ(store->ConnectRegistry("", kHKeyLocalMachine, &hive) != error::kSuccess, c.refused);
            if (c.refused) {
                ASSERT_TRUE(store->LastHiveFileError());
                EXPECT_EQ(store->LastHiveFileError()->kind, HiveFileError::Kind::Unsafe);
                EXPECT_EQ(store->LastHiveFileError()->file, c.named);
                EXPECT_NE(store->CreateKey(kHKeyLocalMachine, "SOFTWARE\\New", &hive), error::kSuccess);
            }
        }
        EXPECT_EQ(ReadFile(file), text);
        ::chmod(dir_.Path().c_str(), 0700);
        if (c.fileOwner != 0) {
            ASSERT_EQ(::chown(file.c_str(), 0, 0), 0);
        }
    }
    // KELVASTON_REGISTRY naming a file instead of a folder.
    FileStoreRegistry misnamed(FileStoreOptions{file, "Desk1"});
    Key key = kNullKey;
    EXPECT_NE(misnamed.ConnectRegistry("", kHKeyLocalMachine, &key), error::kSuccess);
    ASSERT_TRUE(misnamed.LastHiveFileError());
    EXPECT_EQ(misnamed.LastHiveFileError()->kind, HiveFileError::Kind::NotAFolder);
}

// What the store makes is its owner's alone from the first, whatever the umask, and a file
// it writes is 0600 whatever the old file's or a link's target's mode was.
TEST_F(FileStoreTest, FoldersAndFilesItMakesArePrivateWhateverTheUmask) {
    const mode_t umask = ::umask(0);
    const auto nested = dir_ / "data" / "kelvaston" / "registry";
    {
        FileStoreRegistry store(FileStoreOptions{nested, "Desk1"});
        const Key key = Create(store, kHKeyLocalMachine, "SOFTWARE\\A");
        ASSERT_EQ(store.FlushKey(key), error::kSuccess);
        store.CloseKey(key);
    }
    const auto mode = [](const std::filesystem::path& path) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        return st.st_mode & 07777;
    };
    for (const auto& folder : {dir_ / "data", dir_ / "data" / "kelvaston", nested}) EXPECT_EQ(mode(folder), 0700u) << folder;
    EXPECT_EQ(mode(nested / "Desk1.reg"), 0600u);

    // A store file that is a link to a private file elsewhere: the write replaces the link.
    const auto target = dir_ / "elsewhere.reg";
    std::filesystem::rename(nested / "Desk1.reg", target);
    std::filesystem::create_symlink(target, nested / "Desk1.reg");
    {
        FileStoreRegistry store(FileStoreOptions{nested, "Desk1"});
        const Key key = Create(store, kHKeyLocalMachine, "SOFTWARE\\B");
        ASSERT_EQ(store.FlushKey(key), error::kSuccess);
        store.CloseKey(key);
    }
    ::umask(umask);
    EXPECT_FALSE(std::filesystem::is_symlink(nested / "Desk1.reg"));
    EXPECT_EQ(mode(nested / "Desk1.reg"), 0600u);
}

// The registry's depth limit: a path of 512 keys is made, flushed, read back and let go again
// (none of which may recurse that deep), one of 513 is refused without a trace.
TEST_F(FileStoreTest, KeysAreKeptToTheRegistrysDepthLimit) {
    std::string deepest = "d";
    for (std::size_t depth = 2; depth <= kMaxKeyDepth; ++depth) deepest += "\\d";
    {
        auto store = NewStore();
        Key key = kNullKey;
        EXPECT_EQ(store->CreateKey(kHKeyLocalMachine, deepest + "\\one more", &key), error::kInvalidParameter);
        EXPECT_EQ(store->OpenKeyEx(kHKeyLocalMachine, "d", 0, kKeyRead, &key), error::kFileNotFound);
        key = Create(*store, kHKeyLocalMachine, deepest);
        SetText(*store, key, "at the bottom", "yes");
        EXPECT_EQ(store->CreateKey(key, "one more", &key), error::kInvalidParameter);
        ASSERT_EQ(store->FlushKey(kHKeyLocalMachine), error::kSuccess);
    }
    auto store = NewStore();
    const KeyTree tree = Tree(*store, "d");
    std::size_t depth = 1;
    for (const KeyTree* node = &tree; !node->children.empty(); node = &node->children.front()) ++depth;
    EXPECT_EQ(depth, kMaxKeyDepth);
    EXPECT_EQ(DeleteTree(*store, kHKeyLocalMachine, "d"), error::kSuccess);
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
