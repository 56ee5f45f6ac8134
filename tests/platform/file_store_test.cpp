// The file store as a store: what reaches the disk and when, which files and folders it takes,
// and what it never does to a file; and the atomic replacement it writes its files with.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <random>
#include <sstream>
#include <tuple>

#include "platform/atomic_file.h"
#include "platform/file_store.h"
#include "platform/hive.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace kelvaston::platform {
namespace {

using test::ReadFile;
using test::WriteFile;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";
constexpr uid_t kNobody = 65534;

mode_t Mode(const std::filesystem::path& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Runs `body` in a child process (as nobody when this is root) and gives its exit code.
template <class Body>
int AsAnotherUser(Body&& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) std::_Exit(::geteuid() == 0 && ::setuid(kNobody) != 0 ? 99 : body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

class FileStoreTest : public ::testing::Test {
protected:
    std::unique_ptr<FileStoreRegistry> NewStore(const std::filesystem::path& folder = {}) {
        return std::make_unique<FileStoreRegistry>(FileStoreOptions{folder.empty() ? dir_.Path() : folder, "Desk1"});
    }
    static Key Create(RegistryApi& api, Key parent, const std::string& path) {
        Key key = kNullKey;
        EXPECT_EQ(api.CreateKey(parent, path, &key), error::kSuccess) << path;
        return key;
    }
    std::string Text() const { return ReadFile(dir_ / "Desk1.reg"); }

    test::TempDir dir_;
};

// Two stores on one file, as two programs would have them: every call of one sees the last
// completed write of the other, keys the other deleted are gone from open handles too, and
// each store's writes keep what the other wrote before.
TEST_F(FileStoreTest, EveryCallSeesTheLastCompletedWriteOfAnyStore) {
    auto reader = NewStore(), writer = NewStore();
    const Key mine = Create(*reader, kHKeyLocalMachine, "SOFTWARE\\Tolvane\\Mine");
    const Key theirs = Create(*writer, kHKeyLocalMachine, "SOFTWARE\\Tolvane\\Mine");
    const auto query = [&](const std::string& name) {
        char data[64] = {};
        std::uint32_t size = sizeof data;
        const Status status = reader->QueryValueEx(mine, name, nullptr, reinterpret_cast<std::uint8_t*>(data), &size);
        return status == error::kSuccess ? std::string(data) : "status " + std::to_string(status);
    };
    const auto set = [](RegistryApi& api, Key key, const std::string& name, const std::string& text) {
        return api.SetValueEx(key, name, kRegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                              static_cast<std::uint32_t>(text.size() + 1));
    };
    // Values of one size, written again and again: nothing but the content tells them apart.
    for (const char* text : {"one", "two", "six", "ten"}) {
        ASSERT_EQ(set(*writer, theirs, "POP Host", text), error::kSuccess);
        EXPECT_EQ(query("POP Host"), text);
    }
    ASSERT_EQ(writer->DeleteValue(theirs, "POP Host"), error::kSuccess);
    EXPECT_EQ(query("POP Host"), "status 2");
    ASSERT_EQ(set(*reader, mine, "TimeOut", "600"), error::kSuccess);
    ASSERT_EQ(set(*writer, theirs, "POP User", "anna"), error::kSuccess);
    EXPECT_EQ(query("TimeOut"), "600") << "the writer's change dropped the reader's";
    EXPECT_EQ(query("POP User"), "anna");

    writer->CloseKey(Create(*writer, kHKeyLocalMachine, "SOFTWARE\\Tolvane\\Theirs"));
    std::vector<std::string> names;
    Key tolvane = kNullKey;
    ASSERT_EQ(reader->OpenKeyEx(kHKeyLocalMachine, "SOFTWARE\\Tolvane", 0, kKeyRead, &tolvane), error::kSuccess);
    ASSERT_EQ(ListSubkeys(*reader, tolvane, &names), error::kSuccess);
    EXPECT_EQ(names, (std::vector<std::string>{"Mine", "Theirs"}));
    writer->CloseKey(theirs);
    ASSERT_EQ(writer->DeleteKey(kHKeyLocalMachine, "SOFTWARE\\Tolvane\\Mine"), error::kSuccess);
    EXPECT_EQ(query("TimeOut"), "status 1018");
    EXPECT_EQ(set(*reader, mine, "TimeOut", "60"), error::kKeyDeleted);
    names.clear();
    ASSERT_EQ(ListSubkeys(*reader, tolvane, &names), error::kSuccess);
    EXPECT_EQ(names, (std::vector<std::string>{"Theirs"}));
    EXPECT_EQ(Text().find("Mine"), std::string::npos);
}

// A change is in the file when its call returns, a transaction's changes when it commits;
// never those of a transaction aborted, or still open when the program ends. The file is
// written whole and private, and the folder keeps nothing else but the lock file: not the
// temporary file, nor one that a writer killed mid-write left behind.
TEST_F(FileStoreTest, ChangesReachTheFileWhenTheirCallOrTransactionEnds) {
    const auto has = [&](const char* key) { return Text().find("[HKEY_LOCAL_MACHINE\\" + std::string(key) + "]") != std::string::npos; };
    {
        auto store = NewStore();
        const Key key = Create(*store, kHKeyLocalMachine, "SOFTWARE\\Firma \"Test\"");
        ASSERT_EQ(store->SetValueBytes(key, "Pfad", kRegSz, text::Utf8ToUtf16Le(std::string("c:\\mail\\", 9))), error::kSuccess);
        EXPECT_EQ(Text(), std::string(kHeader) + std::string(regfile::kWholeFileMark) +
                              "\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Firma \"Test\"]\n"
                              "\"Pfad\"=\"c:\\\\mail\\\\\"\n\n; end of file\n");
        WriteFile(dir_ / ".Desk1.reg.tmp-99999", "half a configuration");
        for (const bool commit : {false, true}) {
            ASSERT_EQ(store->BeginTransaction(key), error::kSuccess);
            ASSERT_EQ(store->BeginTransaction(kHKeyLocalMachine), error::kSuccess);  // nested
            store->CloseKey(Create(*store, kHKeyLocalMachine, "A"));
            ASSERT_EQ(store->DeleteValue(key, "Pfad"), error::kSuccess);
            ASSERT_EQ(store->CommitTransaction(kHKeyLocalMachine), error::kSuccess);
            EXPECT_FALSE(has("A")) << "written before the outermost commit";
            if (commit) {
                ASSERT_EQ(store->CommitTransaction(key), error::kSuccess);
            } else {
                EXPECT_TRUE(store->AbortTransaction(key));
                Key a = kNullKey;
                EXPECT_EQ(store->OpenKeyEx(kHKeyLocalMachine, "A", 0, kKeyRead, &a), error::kFileNotFound);
                EXPECT_EQ(store->QueryValueEx(key, "Pfad", nullptr, nullptr, nullptr), error::kSuccess);
            }
            EXPECT_EQ(has("A"), commit);
            EXPECT_EQ(Text().find("Pfad") == std::string::npos, commit);
        }
        EXPECT_EQ(store->CommitTransaction(key), error::kInvalidParameter) << "no transaction is open";
        ASSERT_EQ(store->BeginTransaction(key), error::kSuccess);
        store->CloseKey(Create(*store, kHKeyLocalMachine, "B"));
        store->CloseKey(key);
    }
    EXPECT_FALSE(has("B"));
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) files.push_back(entry.path().filename());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{".Desk1.reg.lock", "Desk1.reg"}));
    EXPECT_EQ(Mode(dir_ / "Desk1.reg"), 0600u);
    const std::string host = FileStoreRegistry::HostComputerName();
    EXPECT_TRUE(!host.empty() && host.find('.') == std::string::npos) << host;
}

// On a file system that keeps whole seconds (ext3, some network file systems, ext4 with small
// inodes), a file replaced twice within a second can come back with the same device, inode,
// size and times. The stores must still see each other's writes. Runs where this user may mount
// such a file system (root, with loop devices), and says so where it cannot.
TEST_F(FileStoreTest, WritesWithinOneSecondOnACoarseFileSystemAreSeen) {
    const auto image = dir_ / "coarse.img", mount = dir_ / "coarse";
    std::filesystem::create_directory(mount);
    const std::string made = "truncate -s 8M '" + image.string() + "' && mkfs.ext4 -q -F -I 128 '" + image.string() +
                             "' >/dev/null 2>&1 && mount -o loop '" + image.string() + "' '" + mount.string() + "' 2>/dev/null";
    if (::geteuid() != 0 || std::system(made.c_str()) != 0) {
        GTEST_SKIP() << "cannot mount an ext4 with whole-second times here (needs root and loop devices)";
    }
    struct Unmount {
        std::string command;
        ~Unmount() { [[maybe_unused]] const int ignored = std::system(command.c_str()); }
    } unmount{"umount '" + mount.string() + "'"};
    const auto folder = mount / "store";
    const auto set = [&](const std::string& text) {
        auto store = NewStore(folder);  // a program of its own for each change
        const Key key = Create(*store, kHKeyLocalMachine, "SOFTWARE\\Tolvane");
        EXPECT_EQ(store->SetValueEx(key, "POP Host", kRegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                    static_cast<std::uint32_t>(text.size() + 1)),
                  error::kSuccess);
        store->CloseKey(key);
    };
    set("aaa");
    auto reader = NewStore(folder);
    const Key key = Create(*reader, kHKeyLocalMachine, "SOFTWARE\\Tolvane");
    const auto query = [&] {
        char data[16] = {};
        std::uint32_t size = sizeof data;
        reader->QueryValueEx(key, "POP Host", nullptr, reinterpret_cast<std::uint8_t*>(data), &size);
        return std::string(data);
    };
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(query(), "aaa");
        set("bbb");
        set("aaa");
        set("ccc");
        EXPECT_EQ(query(), "ccc") << "round " << round;
        set("aaa");
    }
    reader->CloseKey(key);
}

// A store whose folder this user may not write is read, and refuses changes naming the folder;
// once the folder may be written again, the same store writes, without starting anew. (As
// root, which may write anywhere, the case runs as another user who owns the folder.)
TEST_F(FileStoreTest, AFolderThatMayNotBeWrittenIsNamedUntilItMayAgain) {
    {
        auto store = NewStore();
        store->CloseKey(Create(*store, kHKeyLocalMachine, "SYSTEM\\Tolvane"));
    }
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dir_.Path().c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown((dir_ / "Desk1.reg").c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown(filestore::Hive::LockFile(dir_ / "Desk1.reg").c_str(), kNobody, kNobody), 0);
    }
    const std::string folder = dir_.Path().string();
    EXPECT_EQ(AsAnotherUser([&] {
                  FileStoreRegistry store(FileStoreOptions{folder, "Desk1"});
                  int failures = 0;
                  Key key = kNullKey;
                  if (::chmod(folder.c_str(), 0500) != 0) return 100;
                  failures += store.OpenKeyEx(kHKeyLocalMachine, "SYSTEM\\Tolvane", 0, kKeyRead, &key) != error::kSuccess;
                  store.CloseKey(key);
                  failures += store.OpenKeyEx(kHKeyLocalMachine, "SYSTEM\\Tolvane", 0, kKeyWrite, &key) != error::kAccessDenied;
                  failures += !store.LastHiveFileError() || store.LastHiveFileError()->file != folder ||
                              store.LastHiveFileError()->kind != HiveFileError::Kind::Unwritable;
                  failures += store.CreateKey(kHKeyLocalMachine, "SYSTEM\\Neu", &key) != error::kAccessDenied;
                  failures += !store.LastHiveFileError() || store.LastHiveFileError()->file != folder;
                  if (::chmod(folder.c_str(), 0700) != 0) return 101;
                  failures += store.OpenKeyEx(kHKeyLocalMachine, "SYSTEM\\Tolvane", 0, kKeyWrite, &key) != error::kSuccess;
                  store.CloseKey(key);
                  failures += store.CreateKey(kHKeyLocalMachine, "SYSTEM\\Neu", &key) != error::kSuccess;
                  return failures;
              }),
              0);
    ::chmod(dir_.Path().c_str(), 0700);
    EXPECT_NE(Text().find("SYSTEM\\Neu]"), std::string::npos);
}

// A call whose write the disk refuses changes nothing, also later: nothing of it stays pending
// to be written by the next change or at the end, and reads give what the file holds.
TEST_F(FileStoreTest, AFailedWriteLeavesNothingPending) {
    {
        auto store = NewStore();
        store->CloseKey(Create(*store, kHKeyLocalMachine, "SOFTWARE\\Kept"));
    }
    const std::string before = Text();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        FileStoreRegistry store(FileStoreOptions{dir_.Path(), "Desk1"});
        Key kept = kNullKey, added = kNullKey;
        if (store.OpenKeyEx(kHKeyLocalMachine, "SOFTWARE\\Kept", 0, kKeyAllAccess, &kept) != error::kSuccess) std::_Exit(10);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{before.size() + 40, before.size() + 40};
        ::setrlimit(RLIMIT_FSIZE, &small);
        const std::string big(200, 'x');
        int failures = 0;
        failures += store.SetValueEx(kept, "big", kRegSz, reinterpret_cast<const std::uint8_t*>(big.c_str()), 201) !=
                    error::kRegistryIoFailed;
        failures += !store.LastHiveFileError() || store.LastHiveFileError()->systemError != EFBIG;
        failures += store.QueryValueEx(kept, "big", nullptr, nullptr, nullptr) != error::kFileNotFound;
        failures += store.CreateKey(kHKeyLocalMachine, std::string(100, 'k'), &added) != error::kRegistryIoFailed;
        failures += added != kNullKey;
        // A small change fits; the failed ones must not come with it.
        failures += store.CreateKey(kHKeyLocalMachine, "S", &added) != error::kSuccess;
        std::_Exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(Text().find("big"), std::string::npos);
    EXPECT_EQ(Text().find("kkkk"), std::string::npos);
    EXPECT_NE(Text().find("[HKEY_LOCAL_MACHINE\\S]"), std::string::npos);
}

// A file that does not parse is named with its line and never written over: another
// computer's, the local one's, also when it was read ahead. Another computer is reached by its
// file in the store folder only: no name, however odd, reaches another file.
TEST_F(FileStoreTest, AFileThatDoesNotParseIsNamedAndNeverWrittenOver) {
    const std::string broken = std::string(kHeader) + "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tolvane]\n"
                                                      "\"TimeOut\"=dword:0000025\n\"Max Mails\"=dword:zehn\n";
    WriteFile(dir_ / "server1.reg", broken);
    WriteFile(dir_ / "desk1.reg", broken);
    for (const bool ahead : {false, true}) {
        auto store = NewStore();
        if (ahead) store->PrefetchLocalHive();
        Key root = reinterpret_cast<Key>(&root);
        EXPECT_EQ(store->ConnectRegistry(ahead ? "" : "SERVER1", kHKeyLocalMachine, &root), error::kBadDb);
        EXPECT_EQ(root, kNullKey);
        ASSERT_TRUE(store->LastHiveFileError());
        EXPECT_EQ(store->LastHiveFileError()->line, 5);
        EXPECT_EQ(std::filesystem::path(store->LastHiveFileError()->file).filename(), ahead ? "desk1.reg" : "server1.reg");
        EXPECT_EQ(store->CreateKey(kHKeyLocalMachine, "SOFTWARE\\New", &root), error::kBadDb);
    }
    EXPECT_EQ(ReadFile(dir_ / "server1.reg"), broken);
    EXPECT_EQ(ReadFile(dir_ / "desk1.reg"), broken);
    std::filesystem::create_directory(dir_ / "sub");
    WriteFile(dir_ / "sub" / "x.reg", kHeader);
    auto store = NewStore();
    for (const char* name : {"\\\\server1", "Server2", "sub/x", "..", "Server1.reg", "\\\\\\\\Server1"}) {
        Key root = kNullKey;
        EXPECT_EQ(store->ConnectRegistry(name, kHKeyLocalMachine, &root), *name == '\\' && name[2] == 's' ? error::kBadDb : error::kBadNetPath) << name;
    }

}

// Another user must neither read the passwords a store keeps nor plant keys in it: a folder or
// file that another user owns or may change is refused with a message that names it, and left
// as it is; so is a "folder" that is a file. The modes need only chmod and run as any user; a
// file of another user and the store as another user need root (the next test).
class FileStoreRefusalTest : public FileStoreTest {
protected:
    const std::string text_ = std::string(kHeader) + "\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n\"Planted\"=\"1\"\n";
    const std::filesystem::path file_ = dir_ / "Desk1.reg";

    // A store on the file with these modes and owner refuses it as unsafe, naming `refusal`, or
    // (with an empty `refusal`) opens it; the file stays as it was either way.
    void ExpectRefusal(mode_t folderMode, mode_t fileMode, uid_t fileOwner, const std::string& refusal) {
        WriteFile(file_, text_);
        ASSERT_EQ(::chown(file_.c_str(), fileOwner, ::getegid()), 0);  // first: a chown clears setuid
        ASSERT_EQ(::chmod(file_.c_str(), fileMode), 0);
        ASSERT_EQ(::chmod(dir_.Path().c_str(), folderMode), 0);
        ASSERT_EQ(Mode(file_), fileMode);
        {
            auto store = NewStore();
            Key hive = kNullKey;
            EXPECT_EQ(store->ConnectRegistry("", kHKeyLocalMachine, &hive) != error::kSuccess, !refusal.empty());
            store->CloseKey(hive);
            if (!refusal.empty()) {
                ASSERT_TRUE(store->LastHiveFileError());
                EXPECT_EQ(store->LastHiveFileError()->kind, HiveFileError::Kind::Unsafe);
                EXPECT_EQ(store->LastHiveFileError()->file, refusal);
                EXPECT_EQ(store->LastHiveFileError()->line, 0);
                EXPECT_NE(store->CreateKey(kHKeyLocalMachine, "SOFTWARE\\New", &hive), error::kSuccess);
            }
        }
        EXPECT_EQ(ReadFile(file_), text_);
    }
};

TEST_F(FileStoreRefusalTest, FoldersAndFilesOtherUsersCanReachAreRefused) {
    const struct {
        const char* what;
        mode_t folderMode, fileMode;
        std::string refusal;  // what the refusal names, if any
    } cases[] = {
        {"private", 0700, 0600, ""},
        {"a folder others may enter", 0755, 0600, ""},
        {"a folder others may write", 0777, 0600, dir_.Path().string()},
        {"a folder its group may write", 0770, 0600, dir_.Path().string()},
        {"a file others may read", 0700, 0644, file_.string()},
        {"a file with every bit set", 0700, 06777, file_.string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRefusal(c.folderMode, c.fileMode, ::geteuid(), c.refusal);
    }
    auto misnamed = NewStore(file_);
    Key key = kNullKey;
    EXPECT_NE(misnamed->ConnectRegistry("", kHKeyLocalMachine, &key), error::kSuccess);
    ASSERT_TRUE(misnamed->LastHiveFileError());
    EXPECT_EQ(misnamed->LastHiveFileError()->kind, HiveFileError::Kind::NotAFolder);
}

// Root may give files to another user and be another user (nobody); CI runs as root.
TEST_F(FileStoreRefusalTest, FilesOfAnotherUserAreRefusedAndAnotherUserGetsNoMoreThanItsModes) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to give files to another user and to be one";
    ExpectRefusal(0700, 0600, kNobody, file_.string());

    // As another user: a file that user may only read gives no write access; one it may not
    // read is refused as unreadable.
    Key key = kNullKey;
    ::chmod(file_.c_str(), 0400);
    ::chmod(dir_.Path().c_str(), 0711);
    ASSERT_EQ(::chown(dir_.Path().c_str(), kNobody, kNobody), 0);
    for (const uid_t owner : {kNobody, uid_t{0}}) {
        ASSERT_EQ(::chown(file_.c_str(), owner, owner), 0);
        EXPECT_EQ(AsAnotherUser([&] {
                      FileStoreRegistry store(FileStoreOptions{dir_.Path(), "Desk1"});
                      if (owner == 0) return store.ConnectRegistry("", kHKeyLocalMachine, &key) == error::kAccessDenied &&
                                             store.LastHiveFileError()->kind == HiveFileError::Kind::Unreadable ? 0 : 1;
                      return (store.OpenKeyEx(kHKeyLocalMachine, "SYSTEM", 0, kKeyWrite, &key) != error::kAccessDenied) +
                             (store.CreateKey(kHKeyLocalMachine, "SOFTWARE", &key) != error::kAccessDenied) +
                             (store.OpenKeyEx(kHKeyLocalMachine, "SYSTEM", 0, kKeyRead, &key) != error::kSuccess);
                  }),
                  0) << owner;
    }
    EXPECT_EQ(ReadFile(file_), text_);
}

// What the store makes is its owner's alone from the first, whatever the umask. A store file
// that is a link is written through it, the target made 0600 whatever its mode was; a link to
// nothing is no registry: it is named and left as it is, never replaced by an empty one.
TEST_F(FileStoreTest, FoldersAndFilesItMakesArePrivateWhateverTheUmask) {
    const mode_t umask = ::umask(0);
    const auto nested = dir_ / "data" / "kelvaston" / "registry";
    const auto write = [&](const std::string& key) {
        auto store = NewStore(nested);
        const Key created = Create(*store, kHKeyLocalMachine, key);
        EXPECT_EQ(store->FlushKey(created), error::kSuccess);
        store->CloseKey(created);
    };
    write("SOFTWARE\\A");
    for (const auto& folder : {dir_ / "data", dir_ / "data" / "kelvaston", nested}) EXPECT_EQ(Mode(folder), 0700u) << folder;
    EXPECT_EQ(Mode(nested / "Desk1.reg"), 0600u);
    std::filesystem::rename(nested / "Desk1.reg", dir_ / "elsewhere.reg");
    ::chmod((dir_ / "elsewhere.reg").c_str(), 0600);
    std::filesystem::create_symlink(dir_ / "elsewhere.reg", nested / "Desk1.reg");
    write("SOFTWARE\\B");
    ::umask(umask);
    EXPECT_TRUE(std::filesystem::is_symlink(nested / "Desk1.reg"));
    EXPECT_EQ(Mode(dir_ / "elsewhere.reg"), 0600u);
    EXPECT_NE(ReadFile(dir_ / "elsewhere.reg").find("SOFTWARE\\B]"), std::string::npos);
    EXPECT_NE(ReadFile(dir_ / "elsewhere.reg").find("SOFTWARE\\A]"), std::string::npos);

    std::filesystem::remove(dir_ / "elsewhere.reg");
    auto store = NewStore(nested);
    Key key = kNullKey;
    EXPECT_EQ(store->ConnectRegistry("", kHKeyLocalMachine, &key), error::kAccessDenied);
    ASSERT_TRUE(store->LastHiveFileError());
    EXPECT_EQ(store->LastHiveFileError()->file, (nested / "Desk1.reg").string());
    EXPECT_NE(store->LastHiveFileError()->message.find("elsewhere.reg, which does not exist"), std::string::npos);
    EXPECT_NE(store->CreateKey(kHKeyLocalMachine, "SOFTWARE\\C", &key), error::kSuccess);
    EXPECT_TRUE(std::filesystem::is_symlink(nested / "Desk1.reg"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "elsewhere.reg"));
}

// The registry's depth limit: a tree 512 keys deep is made, flushed, read back (on a pool of one
// thread too) and let go again, none of which may recurse that deep; a 513th key is refused
// without a trace, as is a name the file cannot hold.
TEST_F(FileStoreTest, TreesAreKeptToTheRegistrysDepthLimitAndNames) {
    KeyTree tree{"d", {{"first", kRegDword, std::string("\1\0\0\0", 4)}, {"second", kRegBinary, "\2"}}, {}};
    KeyTree* node = &tree;
    for (std::size_t depth = 2; depth <= kMaxKeyDepth; ++depth) node = &node->children.emplace_back(KeyTree{"d", {}, {}});
    tree.children.push_back(KeyTree{"e", {{"only", kRegBinary, "\3"}}, {}});
    {
        auto store = NewStore();
        ASSERT_EQ(WriteTree(*store, kHKeyLocalMachine, tree), error::kSuccess);
        Key key = kNullKey;
        for (const std::string& bad : {std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3)}) {
            EXPECT_EQ(store->CreateKey(kHKeyLocalMachine, "x\\" + bad, &key), error::kInvalidParameter);
        }
        EXPECT_EQ(store->OpenKeyEx(kHKeyLocalMachine, "x", 0, kKeyRead, &key), error::kFileNotFound);
        ASSERT_EQ(store->FlushKey(kHKeyLocalMachine), error::kSuccess);
    }
    auto store = NewStore();
    std::string deepest = "d";
    for (std::size_t depth = 2; depth <= kMaxKeyDepth; ++depth) deepest += "\\d";
    Key key = kNullKey;
    EXPECT_EQ(store->CreateKey(kHKeyLocalMachine, deepest + "\\one more", &key), error::kInvalidParameter);
    TaskPool pool(1);
    KeyTree read;
    EXPECT_EQ(ReadTree(*store, (key = Create(*store, kHKeyLocalMachine, "d")), "d", &read, &pool), error::kSuccess);
    EXPECT_EQ(read, tree);
    store->CloseKey(key);
    EXPECT_EQ(DeleteTree(*store, kHKeyLocalMachine, "d"), error::kSuccess);
}

// The subkeys of a key, as enumerated.
std::vector<std::string> Subkeys(RegistryApi& api, Key key, const std::string& path) {
    KeyContents contents;
    EXPECT_EQ(api.QueryKeyContents(key, path, &contents), error::kSuccess) << path;
    return contents.subkeys;
}

// Names in the order the registry enumerates them: by their folded form.
std::vector<std::string> InRegistryOrder(std::vector<std::string> names) {
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return text::FoldCase(a) < text::FoldCase(b); });
    return names;
}

// A file's keys load in the registry's order whatever order the file lists them in (and with
// lone CRs as line ends): thousands of siblings, names that differ only in case (ASCII, umlauts, ÿ and Ÿ) taken for one key that
// keeps its first spelling, subkeys listed before their parents and in reverse. The file
// written afterwards lists them in that order, and reads back the same.
TEST_F(FileStoreTest, KeysOfAFileInAnyOrderLoadInTheRegistrysOrder) {
    std::vector<std::string> names;
    for (int i = 0; i < 3000; ++i) names.push_back("Key" + std::to_string(i));
    for (const char* odd : {"_under", "[bracket", "a", "Z", "M\xC3\xBCller", "\xC3\xBF" "end", "\xC3\xA4"}) {
        names.push_back(odd);
    }
    std::shuffle(names.begin(), names.end(), std::mt19937(5));
    std::vector<std::string> subs;  // of Key7, listed before it and each before the one above it
    for (char c = 'a'; c <= 't'; ++c) subs.push_back(std::string("Sub ") + c);
    std::string file = kHeader;
    const std::string software = "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\";
    for (auto sub = subs.rbegin(); sub != subs.rend(); ++sub) file += software + "Key7\\" + *sub + "]\n";
    for (const auto& name : names) file += software + name + "]\n\"first\"=\"" + name + "\"\n";
    for (const char* again : {"KEY17", "key2999", "m\xC3\x9CLLER", "\xC5\xB8" "END", "A", "z", "KEY7", "\xC3\x84"}) {
        file += software + again + "]\n\"again\"=\"" + again + "\"\n";
    }
    std::replace(file.begin(), file.end(), '\n', '\r');  // lone CRs end its lines
    WriteFile(dir_ / "Desk1.reg", file);
    {
        auto store = NewStore();
        ASSERT_EQ(Subkeys(*store, kHKeyLocalMachine, "SOFTWARE"), InRegistryOrder(names));
        EXPECT_EQ(Subkeys(*store, kHKeyLocalMachine, "software\\KEY7"), subs);
        // A key's name, its first spelling and its second one.
        for (const auto& [name, first, again] :
             {std::tuple("key17", "Key17", "KEY17"), std::tuple("M\xC3\xBCLLER", "M\xC3\xBCller", "m\xC3\x9CLLER"),
              std::tuple("\xC5\xB8" "end", "\xC3\xBF" "end", "\xC5\xB8" "END"), std::tuple("a", "a", "A")}) {
            std::vector<RegValue> values;
            ASSERT_EQ(store->QueryKeyValues(kHKeyLocalMachine, "SOFTWARE\\" + std::string(name), &values),
                      error::kSuccess)
                << name;
            ASSERT_EQ(values.size(), 2u) << name;
            EXPECT_EQ(values[0].name + "=" + values[0].data.substr(0, std::strlen(first)) + " " + values[1].name + "=" +
                          values[1].data.substr(0, std::strlen(again)),
                      "first=" + std::string(first) + " again=" + again);
        }
        store->CloseKey(Create(*store, kHKeyLocalMachine, "SOFTWARE\\Key0\\new"));
    }
    std::vector<std::string> written;  // the file's key lines right below SOFTWARE
    std::istringstream lines(Text());
    const std::string prefix = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\";
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(prefix) && line.find('\\', prefix.size()) == std::string::npos) {
            written.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 1));
        }
    }
    EXPECT_EQ(written, InRegistryOrder(names));
    auto store = NewStore();
    EXPECT_EQ(Subkeys(*store, kHKeyLocalMachine, "SOFTWARE"), InRegistryOrder(names));
    EXPECT_EQ(Subkeys(*store, kHKeyLocalMachine, "SOFTWARE\\key0"), std::vector<std::string>{"new"});
}

// Keys with many subkeys and values, through changes on either side of where a key starts to
// keep a table of them: siblings made in any order and deleted and made again in another case
// enumerate in order and are found by any spelling, deleted ones not; a value set again in
// another case keeps its name and its place, a deleted one's followers move up, one set anew
// goes last. Another store's changes merged into these keys are found the same way.
TEST_F(FileStoreTest, ManySubkeysAndValuesThroughDeletionsAndMerges) {
    auto store = NewStore();
    const Key parent = Create(*store, kHKeyLocalMachine, "SOFTWARE\\Many");
    std::vector<std::string> model;  // the subkeys as spelt when made
    const auto check = [&](const std::vector<std::string>& gone) {
        ASSERT_EQ(Subkeys(*store, parent, ""), InRegistryOrder(model));
        for (const auto& name : model) {
            Key key = kNullKey;
            ASSERT_EQ(store->OpenKeyEx(parent, text::FoldCase(name), 0, kKeyRead, &key), error::kSuccess) << name;
            store->CloseKey(key);
        }
        for (const auto& name : gone) {
            Key key = kNullKey;
            EXPECT_EQ(store->OpenKeyEx(parent, name, 0, kKeyRead, &key), error::kFileNotFound) << name;
        }
    };
    std::mt19937 random(3);
    // One by one up to 30 and down to none again, then to 2000 made in shuffled order.
    std::vector<std::string> names;
    for (int i = 0; i < 2000; ++i) names.push_back("n" + std::to_string(i));
    for (std::size_t i = 0; i < 30; ++i) {
        store->CloseKey(Create(*store, parent, names[i]));
        model.push_back(names[i]);
        check({});
    }
    while (!model.empty()) {
        const std::string gone = model[random() % model.size()];
        ASSERT_EQ(store->DeleteKey(parent, gone), error::kSuccess) << gone;
        std::erase(model, gone);
        check({gone});
    }
    std::shuffle(names.begin(), names.end(), random);
    for (const auto& name : names) store->CloseKey(Create(*store, parent, name));
    model = names;
    std::vector<std::string> gone;
    for (std::size_t i = 0; i < names.size(); i += 3) {
        ASSERT_EQ(store->DeleteKey(parent, names[i]), error::kSuccess);
        std::erase(model, names[i]);
        if (i % 2 == 0) {
            store->CloseKey(Create(*store, parent, text::FoldCase(names[i])));
            model.push_back(text::FoldCase(names[i]));
        } else {
            gone.push_back(names[i]);
        }
    }
    check(gone);

    // Values: 40 of them, one set again in another case, one deleted and set anew, then
    // deleted down to 10.
    const Key key = Create(*store, parent, "values");
    model.push_back("values");
    std::vector<std::pair<std::string, std::string>> values;  // in their order
    const auto set = [&](const std::string& name, const std::string& data) {
        ASSERT_EQ(store->SetValueBytes(key, name, kRegBinary, data), error::kSuccess);
        auto at = std::find_if(values.begin(), values.end(),
                               [&](const auto& value) { return text::EqualsNoCase(value.first, name); });
        if (at == values.end()) {
            values.emplace_back(name, data);
        } else {
            at->second = data;
        }
    };
    const auto checkValues = [&] {
        std::string name, data;
        std::uint32_t type = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            ASSERT_EQ(store->EnumValueBytes(key, static_cast<std::uint32_t>(i), &name, &type, &data), error::kSuccess);
            EXPECT_EQ(name + "=" + data, values[i].first + "=" + values[i].second) << i;
            std::uint32_t size = 0;
            EXPECT_EQ(store->QueryValueEx(key, text::FoldCase(values[i].first), nullptr, nullptr, &size),
                      error::kSuccess);
            EXPECT_EQ(size, values[i].second.size());
        }
        EXPECT_EQ(store->EnumValueBytes(key, static_cast<std::uint32_t>(values.size()), &name, &type, &data),
                  error::kNoMoreItems);
    };
    for (int i = 0; i < 40; ++i) set("v" + std::to_string(i), std::string(static_cast<std::size_t>(i), 'd'));
    set("V5", "changed");
    ASSERT_EQ(store->DeleteValue(key, "V3"), error::kSuccess);
    values.erase(values.begin() + 3);
    set("v3", "anew");
    checkValues();
    while (values.size() > 10) {
        const std::size_t at = random() % values.size();
        ASSERT_EQ(store->DeleteValue(key, values[at].first), error::kSuccess);
        EXPECT_EQ(store->DeleteValue(key, values[at].first), error::kFileNotFound);
        values.erase(values.begin() + static_cast<std::ptrdiff_t>(at));
        checkValues();
    }
    for (int i = 0; i < 30; ++i) set("w" + std::to_string(i), "w");
    ASSERT_EQ(store->FlushKey(parent), error::kSuccess);

    // Another store deletes and adds subkeys and values; merged into this store's keys.
    {
        auto other = NewStore();
        Key many = kNullKey, otherValues = kNullKey;
        ASSERT_EQ(other->OpenKeyEx(kHKeyLocalMachine, "SOFTWARE\\Many", 0, kKeyAllAccess, &many), error::kSuccess);
        ASSERT_EQ(other->OpenKeyEx(many, "values", 0, kKeyAllAccess, &otherValues), error::kSuccess);
        for (std::size_t i = 0; i < 100; ++i) {
            ASSERT_EQ(other->DeleteKey(many, model[i]), error::kSuccess);
            gone.push_back(model[i]);
            other->CloseKey(Create(*other, many, "other" + std::to_string(i)));
        }
        ASSERT_EQ(other->DeleteValue(otherValues, values[0].first), error::kSuccess);
        ASSERT_EQ(other->SetValueBytes(otherValues, "from other", kRegBinary, "o"), error::kSuccess);
        other->CloseKey(otherValues);
        other->CloseKey(many);
    }
    model.erase(model.begin(), model.begin() + 100);
    for (int i = 0; i < 100; ++i) model.push_back("other" + std::to_string(i));
    values.erase(values.begin());
    values.emplace_back("from other", "o");
    store->CloseKey(Create(*store, parent, "mine"));
    model.push_back("mine");
    ASSERT_EQ(store->FlushKey(parent), error::kSuccess);
    check(gone);
    checkValues();
    store->CloseKey(key);
    store->CloseKey(parent);
}

// Replacing a file as a whole: the new content takes the old file's place at once, readable by
// its owner only; the old file stays when anything fails; nothing is left open or behind.
TEST_F(FileStoreTest, AtomicFileReplacesTheFileWholeAndPrivatelyOrNotAtAll) {
    const auto file = dir_ / "backup.reg";
    WriteFile(file, "old");
    ::chmod(file.c_str(), 0644);
    const mode_t umask = ::umask(0);
    int reused = -1;
    {
        AtomicFile replacement(file);
        ASSERT_TRUE(replacement.Open() && replacement.Write("new ") && replacement.Write("text"));
        EXPECT_EQ(ReadFile(file), "old");
        ASSERT_TRUE(replacement.Commit());
        // The descriptor the commit closed is the next one handed out; it must outlive this.
        reused = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    }
    ::umask(umask);
    {
        AtomicFile abandoned(file);  // never committed: the old file stays, the temporary one goes
        ASSERT_TRUE(abandoned.Open() && abandoned.Write("half"));
    }
    EXPECT_NE(::fcntl(reused, F_GETFD), -1) << "a descriptor was closed twice";
    ::close(reused);
    EXPECT_EQ(ReadFile(file), "new text");
    EXPECT_EQ(Mode(file), 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
    AtomicFile nowhere(dir_ / "missing" / "x.reg");
    EXPECT_FALSE(nowhere.Open() || nowhere.Write("x") || nowhere.Commit());
    EXPECT_EQ(nowhere.Error(), std::errc::no_such_file_or_directory);
}

}  // namespace
}  // namespace kelvaston::platform
