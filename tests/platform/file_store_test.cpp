// The file store as a store: what reaches the disk and when, which files and folders it takes,
// and what it never does to a file; the atomic replacement it writes its files with, and the
// cache the configuration store puts in front of it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include "platform/atomic_file.h"
#include "platform/caching_registry.h"
#include "platform/file_store.h"
#include "platform/hive.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "platform/test_helpers.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace kelvaston::platform {
namespace {

using namespace test;  // NOLINT: the helpers of every test here
using Names = std::vector<std::string>;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";
constexpr uid_t kNobody = 65534;
constexpr auto npos = std::string::npos;

mode_t Mode(const std::filesystem::path& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Runs `body` in a child process, as nobody when `anotherUser` and this is root. The checks it
// makes there print their failures as ever, and fail the test.
template <class Body>
void InChild(Body&& body, bool anotherUser = true) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (anotherUser && ::geteuid() == 0 && ::setuid(kNobody) != 0) std::_Exit(99);
        body();
        std::fflush(nullptr);
        std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the checks in the child process failed";
}

// The store's last file error as "kind line file".
std::string Problem(const RegistryApi& api) {
    const auto problem = api.LastHiveFileError();
    if (!problem) return "none";
    const char* kinds[] = {"Malformed", "Unreadable", "Unwritable", "Unsafe", "NotAFolder"};
    return kinds[static_cast<int>(problem->kind)] + (" " + std::to_string(problem->line)) + " " +
           problem->file;
}

// Connects to `machine`'s hive and lets it go: the status; the handle is null whenever it fails.
Status Connect(RegistryApi& api, const std::string& machine = "") {
    Key root = reinterpret_cast<Key>(&root);
    const Status status = api.ConnectRegistry(machine, kHKeyLocalMachine, &root);
    EXPECT_EQ(root == kNullKey, status != kSuccess) << machine;
    if (root != kNullKey) api.CloseKey(root);
    return status;
}

// The subkeys of a key as QueryKeyContents lists them.
Names Listed(RegistryApi& api, const std::string& path, Key key = kHKeyLocalMachine) {
    KeyContents contents;
    EXPECT_EQ(api.QueryKeyContents(key, path, &contents), kSuccess) << path;
    return contents.subkeys;
}

// Names in the order the registry enumerates them: by their folded form.
Names InRegistryOrder(Names names) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return text::FoldCase(a) < text::FoldCase(b);
    });
    return names;
}

class FileStoreTest : public ::testing::Test {
protected:
    std::unique_ptr<FileStoreRegistry> NewStore(const std::filesystem::path& folder = {}) {
        return std::make_unique<FileStoreRegistry>(
            FileStoreOptions{folder.empty() ? dir_.Path() : folder, "Desk1"});
    }
    static Key Create(RegistryApi& api, Key parent, const std::string& path) {
        Key key = kNullKey;
        EXPECT_EQ(api.CreateKey(parent, path, &key), kSuccess) << path;
        return key;
    }
    std::string Text() const { return ReadFile(dir_ / "Desk1.reg"); }
    bool Has(const std::string& text) const { return Text().find(text) != npos; }
    std::set<std::string> Files() const {
        std::set<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
            files.insert(entry.path().filename());
        return files;
    }

    test::TempDir dir_;
    const std::string folder_ = dir_.Path().string();
    const std::filesystem::path file_ = dir_ / "Desk1.reg";
};

// Two stores on one file, as two programs would have them: every call of one sees the last
// completed write of the other, keys the other deleted are gone from open handles too, and
// each store's writes keep what the other wrote before; so does a store that makes changes of
// the same size, each as a program of its own. Also on a file system that keeps whole seconds
// (ext3, some network file systems, ext4 with small inodes), where a file replaced twice within
// a second can come back with the same device, inode, size and times: where this user may mount
// one (root, with loop devices), and says so where it cannot.
TEST_F(FileStoreTest, EveryCallSeesTheLastCompletedWriteOfAnyStore) {
    const std::string image = dir_ / "coarse.img", mount = dir_ / "coarse";
    std::filesystem::create_directory(mount);
    const std::string made = "truncate -s 8M '" + image + "' && mkfs.ext4 -q -F -I 128 '" + image +
                             "' >/dev/null 2>&1 && mount -o loop '" + image + "' '" + mount +
                             "' 2>/dev/null";
    const bool coarse = ::geteuid() == 0 && std::system(made.c_str()) == 0;
    const std::shared_ptr<void> unmount(nullptr, [&](void*) {
        (void)!(coarse && std::system(("umount '" + mount + "'").c_str()));
    });
    if (!coarse)
        std::printf(
            "cannot mount an ext4 with whole-second times here (needs root and loop devices)\n");
    for (const auto& folder : {dir_.Path(), std::filesystem::path(mount) / "store"}) {
        if (folder != dir_.Path() && !coarse) continue;
        SCOPED_TRACE(folder);
        auto reader = NewStore(folder), writer = NewStore(folder);
        const Key mine = Create(*reader, kHKeyLocalMachine, "SOFTWARE\\Tolvane\\Mine");
        const Key theirs = Create(*writer, kHKeyLocalMachine, "SOFTWARE\\Tolvane\\Mine");
        // Values of one size, written again and again: nothing but the content tells them apart.
        for (const char* text : {"one", "two", "six", "ten"}) {
            ASSERT_EQ(SetText(*writer, theirs, "POP Host", text), kSuccess);
            EXPECT_EQ(QueryText(*reader, mine, "POP Host"), text);
        }
        ASSERT_EQ(writer->DeleteValue(theirs, "POP Host"), kSuccess);
        EXPECT_EQ(QueryText(*reader, mine, "POP Host"), "status 2");
        ASSERT_EQ(SetText(*reader, mine, "TimeOut", "600"), kSuccess);
        ASSERT_EQ(SetText(*writer, theirs, "POP User", "anna"), kSuccess);
        EXPECT_EQ(QueryText(*reader, mine, "TimeOut"), "600")
            << "the writer's change dropped the reader's";
        EXPECT_EQ(QueryText(*reader, mine, "POP User"), "anna");

        ASSERT_EQ(Make(*writer, "SOFTWARE\\Tolvane\\Theirs"), kSuccess);
        Key tolvane = kNullKey;
        ASSERT_EQ(reader->OpenKeyEx(kHKeyLocalMachine, "SOFTWARE\\Tolvane", 0, kKeyRead, &tolvane),
                  kSuccess);
        EXPECT_EQ(Subkeys(*reader, tolvane), (Names{"Mine", "Theirs"}));
        writer->CloseKey(theirs);
        ASSERT_EQ(writer->DeleteKey(kHKeyLocalMachine, "SOFTWARE\\Tolvane\\Mine"), kSuccess);
        EXPECT_EQ(QueryText(*reader, mine, "TimeOut"), "status 1018");
        EXPECT_EQ(SetText(*reader, mine, "TimeOut", "60"), error::kKeyDeleted);
        EXPECT_EQ(Subkeys(*reader, tolvane), (Names{"Theirs"}));
        EXPECT_EQ(ReadFile(folder / "Desk1.reg").find("Mine"), npos);

        const auto set = [&](const std::string& text) {  // a program of its own for each change
            auto store = NewStore(folder);
            EXPECT_EQ(SetText(*store, Create(*store, kHKeyLocalMachine, "SOFTWARE\\Tolvane"),
                              "POP Host", text),
                      kSuccess);
        };
        set("aaa");
        for (int round = 0; round < 3; ++round) {
            ASSERT_EQ(QueryText(*reader, tolvane, "POP Host"), "aaa");
            for (const char* text : {"bbb", "aaa", "ccc"}) set(text);
            EXPECT_EQ(QueryText(*reader, tolvane, "POP Host"), "ccc") << "round " << round;
            set("aaa");
        }
    }
}

// A change is in the file when its call returns, a transaction's changes when it commits;
// never those of a transaction aborted, or still open when the program ends. The file is
// written whole and private, and the folder keeps nothing else but the lock file: not the
// temporary file, nor one that a writer killed mid-write left behind.
TEST_F(FileStoreTest, ChangesReachTheFileWhenTheirCallOrTransactionEnds) {
    {
        auto store = NewStore();
        const Key key = Create(*store, kHKeyLocalMachine, "SOFTWARE\\Firma \"Test\"");
        ASSERT_EQ(store->SetValueBytes(key, "Pfad", kRegSz,
                                       text::Utf8ToUtf16Le(std::string("c:\\mail\\", 9))),
                  kSuccess);
        EXPECT_EQ(Text(), std::string(kHeader) + std::string(regfile::kWholeFileMark) +
                              "\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n[HKEY_LOCAL_"
                              "MACHINE\\SOFTWARE\\Firma \"Test\"]\n"
                              "\"Pfad\"=\"c:\\\\mail\\\\\"\n\n; end of file\n");
        WriteFile(dir_ / ".Desk1.reg.tmp-99999", "half a configuration");
        for (const bool commit : {false, true}) {
            ASSERT_EQ(store->BeginTransaction(key), kSuccess);
            ASSERT_EQ(store->BeginTransaction(kHKeyLocalMachine), kSuccess);  // nested
            ASSERT_EQ(Make(*store, "A"), kSuccess);
            ASSERT_EQ(store->DeleteValue(key, "Pfad"), kSuccess);
            ASSERT_EQ(store->CommitTransaction(kHKeyLocalMachine), kSuccess);
            EXPECT_FALSE(Has("[HKEY_LOCAL_MACHINE\\A]")) << "written before the outermost commit";
            if (commit) {
                ASSERT_EQ(store->CommitTransaction(key), kSuccess);
            } else {
                EXPECT_TRUE(store->AbortTransaction(key));
                EXPECT_EQ(Opens(*store, "A", kKeyRead), error::kFileNotFound);
                EXPECT_EQ(store->QueryValueEx(key, "Pfad", nullptr, nullptr, nullptr), kSuccess);
            }
            EXPECT_EQ(Has("[HKEY_LOCAL_MACHINE\\A]"), commit);
            EXPECT_EQ(Has("Pfad"), !commit);
        }
        EXPECT_EQ(store->CommitTransaction(key), error::kInvalidParameter)
            << "no transaction is open";
        ASSERT_EQ(store->BeginTransaction(key), kSuccess);
        ASSERT_EQ(Make(*store, "B"), kSuccess);
        store->CloseKey(key);
        EXPECT_FALSE(store->AbortTransaction(key)) << "a closed handle dropped a transaction";
    }
    EXPECT_FALSE(Has("[HKEY_LOCAL_MACHINE\\B]"));
    EXPECT_EQ(Files(), (std::set<std::string>{".Desk1.reg.lock", "Desk1.reg"}));
    EXPECT_EQ(Mode(file_), 0600u);
    const std::string host = FileStoreRegistry::HostComputerName();
    EXPECT_TRUE(!host.empty() && host.find('.') == npos) << host;
}

// Where the store keeps its files unless told: KELVASTON_REGISTRY as it stands, else below
// XDG_DATA_HOME, else below HOME's .local/share, else below the working folder; a variable set
// but empty counts as not set. (In a child process: the environment is the process's.)
TEST_F(FileStoreTest, TheDefaultFolderFollowsTheEnvironment) {
    const struct {
        const char* registry;
        const char* xdg;
        const char* home;
        const char* folder;
    } rows[] = {
        {"/r", "/x", "/h", "/r"},
        {"", "/x", "/h", "/x/kelvaston/registry"},
        {nullptr, "/x", "/h", "/x/kelvaston/registry"},
        {nullptr, "", "/h", "/h/.local/share/kelvaston/registry"},
        {nullptr, nullptr, "/h", "/h/.local/share/kelvaston/registry"},
        {nullptr, nullptr, "", "./kelvaston/registry"},
        {nullptr, nullptr, nullptr, "./kelvaston/registry"},
    };
    InChild(
        [&] {
            for (const auto& row : rows) {
                for (const auto& [name, value] :
                     {std::pair{"KELVASTON_REGISTRY", row.registry},
                      std::pair{"XDG_DATA_HOME", row.xdg}, std::pair{"HOME", row.home}}) {
                    value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
                }
                EXPECT_EQ(FileStoreRegistry::DefaultFolder(), std::filesystem::path(row.folder));
            }
        },
        false);
}

// A store whose folder this user may not write is read, and refuses changes naming the folder;
// once the folder may be written again, the same store writes, without starting anew. A store
// on a file this user may only read gets no write access; one it may not read is refused as
// unreadable. (As root, which may read and write anywhere, the case runs as another user who
// owns the folder; the file that user may not read is root's.)
TEST_F(FileStoreTest, AFolderThatMayNotBeWrittenIsNamedUntilItMayAgain) {
    ASSERT_EQ(Make(*NewStore(), "SYSTEM\\Tolvane"), kSuccess);
    for (const auto& path : {dir_.Path(), file_, filestore::Hive::LockFile(file_)}) {
        ASSERT_TRUE(::geteuid() != 0 || ::chown(path.c_str(), kNobody, kNobody) == 0) << path;
    }
    InChild([&] {
        FileStoreRegistry store(FileStoreOptions{folder_, "Desk1"});
        ASSERT_EQ(::chmod(folder_.c_str(), 0500), 0);
        EXPECT_EQ(Opens(store, "SYSTEM\\Tolvane", kKeyRead), kSuccess);
        EXPECT_EQ(Opens(store, "SYSTEM\\Tolvane", kKeyWrite), error::kAccessDenied);
        EXPECT_EQ(Problem(store), "Unwritable 0 " + folder_);
        EXPECT_EQ(Make(store, "SYSTEM\\Neu"), error::kAccessDenied);
        EXPECT_EQ(Problem(store), "Unwritable 0 " + folder_);
        Key reading =
            kNullKey;  // a write through a handle for reading: refused, and the folder named
        ASSERT_EQ(store.OpenKeyEx(kHKeyLocalMachine, "SYSTEM\\Tolvane", 0, kKeyRead, &reading),
                  kSuccess);
        EXPECT_EQ(SetText(store, reading, "v", "x"), error::kAccessDenied);
        EXPECT_EQ(Problem(store), "Unwritable 0 " + folder_);
        ASSERT_EQ(::chmod(folder_.c_str(), 0700), 0);
        EXPECT_EQ(Opens(store, "SYSTEM\\Tolvane", kKeyWrite), kSuccess);
        EXPECT_EQ(Make(store, "SYSTEM\\Neu"), kSuccess);
        ASSERT_EQ(::chmod(file_.c_str(), 0400), 0);
        FileStoreRegistry reader(FileStoreOptions{folder_, "Desk1"});
        EXPECT_EQ(Opens(reader, "SYSTEM", kKeyWrite), error::kAccessDenied);
        EXPECT_EQ(Make(reader, "SOFTWARE"), error::kAccessDenied);
        EXPECT_EQ(Opens(reader, "SYSTEM", kKeyRead), kSuccess);
    });
    ::chmod(folder_.c_str(), 0700);
    EXPECT_TRUE(Has("SYSTEM\\Neu]"));
    EXPECT_FALSE(Has("[HKEY_LOCAL_MACHINE\\SOFTWARE]"));
    if (::geteuid() != 0) return;
    ASSERT_EQ(::chown(file_.c_str(), 0, 0), 0);
    InChild([&] {
        FileStoreRegistry store(FileStoreOptions{folder_, "Desk1"});
        EXPECT_EQ(Connect(store), error::kAccessDenied);
        EXPECT_EQ(Problem(store), "Unreadable 0 " + file_.string());
    });
}

// A call whose write the disk refuses changes nothing, also later: nothing of it stays pending
// to be written by the next change or at the end, and reads give what the file holds.
TEST_F(FileStoreTest, AFailedWriteLeavesNothingPending) {
    ASSERT_EQ(Make(*NewStore(), "SOFTWARE\\Kept"), kSuccess);
    const rlimit small{Text().size() + 40, Text().size() + 40};
    InChild(
        [&] {
            FileStoreRegistry store(FileStoreOptions{folder_, "Desk1"});
            Key kept = kNullKey, added = kNullKey;
            ASSERT_EQ(store.OpenKeyEx(kHKeyLocalMachine, "SOFTWARE\\Kept", 0, kKeyAllAccess, &kept),
                      kSuccess);
            std::signal(SIGXFSZ, SIG_IGN);
            ::setrlimit(RLIMIT_FSIZE, &small);
            EXPECT_EQ(SetText(store, kept, "big", std::string(200, 'x')), error::kRegistryIoFailed);
            EXPECT_EQ(store.LastHiveFileError().value_or(HiveFileError{}).systemError, EFBIG);
            EXPECT_EQ(store.QueryValueEx(kept, "big", nullptr, nullptr, nullptr),
                      error::kFileNotFound);
            EXPECT_EQ(store.CreateKey(kHKeyLocalMachine, std::string(100, 'k'), &added),
                      error::kRegistryIoFailed);
            EXPECT_EQ(added, kNullKey);
            EXPECT_EQ(Make(store, "S"), kSuccess)
                << "a small change fits; the failed ones must not come with it";
        },
        false);
    EXPECT_FALSE(Has("big"));
    EXPECT_FALSE(Has("kkkk"));
    EXPECT_TRUE(Has("[HKEY_LOCAL_MACHINE\\S]"));
}

// A file that does not parse is named with its line and never written over: another
// computer's, the local one's, also when it was read ahead. Another computer is reached by its
// file in the store folder only: no name, however odd, reaches another file.
TEST_F(FileStoreTest, AFileThatDoesNotParseIsNamedAndNeverWrittenOver) {
    const std::string broken = std::string(kHeader) +
                               "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tolvane]\n"
                               "\"TimeOut\"=dword:0000025\n\"Max Mails\"=dword:zehn\n";
    WriteFile(dir_ / "server1.reg", broken);
    WriteFile(dir_ / "desk1.reg", broken);
    for (const bool ahead : {false, true}) {
        auto store = NewStore();
        if (ahead) store->PrefetchLocalHive();
        EXPECT_EQ(Connect(*store, ahead ? "" : "SERVER1"), error::kBadDb);
        EXPECT_EQ(Problem(*store),
                  "Malformed 5 " + (dir_ / (ahead ? "desk1.reg" : "server1.reg")).string());
        EXPECT_EQ(Make(*store, "SOFTWARE\\New"), error::kBadDb);
    }
    EXPECT_EQ(ReadFile(dir_ / "server1.reg") + ReadFile(dir_ / "desk1.reg"), broken + broken);
    std::filesystem::create_directory(dir_ / "sub");
    WriteFile(dir_ / "sub" / "x.reg", kHeader);
    auto store = NewStore();
    for (const char* name :
         {"\\\\server1", "Server2", "sub/x", "..", "Server1.reg", "\\\\\\\\Server1"}) {
        EXPECT_EQ(Connect(*store, name),
                  *name == '\\' && name[2] == 's' ? error::kBadDb : error::kBadNetPath)
            << name;
    }
}

// Another user must neither read the passwords a store keeps nor plant keys in it: a folder or
// file that another user owns or may change is refused with a message that names it, and left
// as it is; so is a "folder" that is a file. The modes need only chmod; a file of another user
// needs root (CI runs as root).
TEST_F(FileStoreTest, FoldersAndFilesOtherUsersCanReachAreRefused) {
    const std::string text =
        std::string(kHeader) + "\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n\"Planted\"=\"1\"\n";
    // `refusal`: what the refusal names, if any.
    const struct {
        const char* what;
        mode_t folderMode, fileMode;
        uid_t owner;
        std::string refusal;
    } cases[] = {
        {"private", 0700, 0600, ::geteuid(), ""},
        {"a folder others may enter", 0755, 0600, ::geteuid(), ""},
        {"a folder others may write", 0777, 0600, ::geteuid(), folder_},
        {"a folder its group may write", 0770, 0600, ::geteuid(), folder_},
        {"a file others may read", 0700, 0644, ::geteuid(), file_},
        {"a file with every bit set", 0700, 06777, ::geteuid(), file_},
        {"a file of another user", 0700, 0600, kNobody, file_},
    };
    for (const auto& c : cases) {
        if (c.owner != ::geteuid() && ::geteuid() != 0) continue;  // only root gives files away
        SCOPED_TRACE(c.what);
        WriteFile(file_, text);
        ASSERT_EQ(::chown(file_.c_str(), c.owner, ::getegid()), 0);  // first: a chown clears setuid
        ASSERT_EQ(::chmod(file_.c_str(), c.fileMode), 0);
        ASSERT_EQ(::chmod(folder_.c_str(), c.folderMode), 0);
        ASSERT_EQ(Mode(file_), c.fileMode);
        {
            auto store = NewStore();
            EXPECT_EQ(Connect(*store) != kSuccess, !c.refusal.empty());
            if (!c.refusal.empty()) {
                EXPECT_EQ(Problem(*store), "Unsafe 0 " + c.refusal);
                EXPECT_NE(Make(*store, "SOFTWARE\\New"), kSuccess);
            }
        }
        EXPECT_EQ(ReadFile(file_), text);
    }
    auto misnamed = NewStore(file_);
    EXPECT_NE(Connect(*misnamed), kSuccess);
    EXPECT_EQ(Problem(*misnamed).substr(0, 10), "NotAFolder");
}

// What the store makes is its owner's alone from the first, whatever the umask. A store file
// that is a link is written through it, the target made 0600 whatever its mode was; a link to
// nothing is no registry: it is named and left as it is, never replaced by an empty one.
TEST_F(FileStoreTest, FoldersAndFilesItMakesArePrivateWhateverTheUmask) {
    const mode_t umask = ::umask(0);
    const auto nested = dir_ / "data" / "kelvaston" / "registry", link = nested / "Desk1.reg";
    const auto elsewhere = dir_ / "elsewhere.reg";
    const auto write = [&](const std::string& key) {
        auto store = NewStore(nested);
        const Key created = Create(*store, kHKeyLocalMachine, key);
        EXPECT_EQ(store->FlushKey(created), kSuccess);
        store->CloseKey(created);
    };
    write("SOFTWARE\\A");
    for (const auto& folder : {dir_ / "data", dir_ / "data" / "kelvaston", nested})
        EXPECT_EQ(Mode(folder), 0700u) << folder;
    EXPECT_EQ(Mode(link), 0600u);
    std::filesystem::rename(link, elsewhere);
    ::chmod(elsewhere.c_str(), 0600);
    std::filesystem::create_symlink(elsewhere, link);
    write("SOFTWARE\\B");
    ::umask(umask);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Mode(elsewhere), 0600u);
    for (const char* key : {"SOFTWARE\\A]", "SOFTWARE\\B]"})
        EXPECT_NE(ReadFile(elsewhere).find(key), npos) << key;

    std::filesystem::remove(elsewhere);
    auto store = NewStore(nested);
    EXPECT_EQ(Connect(*store), error::kAccessDenied);
    EXPECT_EQ(store->LastHiveFileError().value_or(HiveFileError{}).file, link.string());
    EXPECT_NE(store->LastHiveFileError()
                  .value_or(HiveFileError{})
                  .message.find("elsewhere.reg, which does not exist"),
              npos);
    EXPECT_NE(Make(*store, "SOFTWARE\\C"), kSuccess);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_FALSE(std::filesystem::exists(elsewhere));
}

// The registry's depth limit: a tree 512 keys deep is made, flushed, read back (on a pool of one
// thread too) and let go again, none of which may recurse that deep; a 513th key is refused.
// (The fuzz checks refuse names the file cannot hold, and paths around the limit, at random.)
TEST_F(FileStoreTest, TreesAreKeptToTheRegistrysDepthLimit) {
    {  // Data the call does not give: none at all, or refused when a size says otherwise.
        auto store = NewStore();
        Key key = kNullKey;
        ASSERT_EQ(store->CreateKey(kHKeyLocalMachine, "SOFTWARE\\Sizes", &key), kSuccess);
        EXPECT_EQ(store->SetValueEx(key, "none", kRegBinary, nullptr, 0), kSuccess);
        EXPECT_EQ(store->SetValueEx(key, "lies", kRegBinary, nullptr, 4), error::kInvalidParameter);
        std::uint32_t size = 9;
        EXPECT_EQ(store->QueryValueEx(key, "none", nullptr, nullptr, &size), kSuccess);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(store->QueryValueEx(key, "lies", nullptr, nullptr, &size), error::kFileNotFound);
        store->CloseKey(key);
    }
    KeyTree tree{
        "d", {{"first", kRegDword, std::string("\1\0\0\0", 4)}, {"second", kRegBinary, "\2"}}, {}};
    KeyTree* node = &tree;
    std::string deepest = "d";
    for (std::size_t depth = 2; depth <= kMaxKeyDepth; ++depth, deepest += "\\d") {
        node = &node->children.emplace_back(KeyTree{"d", {}, {}});
    }
    tree.children.push_back(KeyTree{"e", {{"only", kRegBinary, "\3"}}, {}});
    auto writer = NewStore();
    ASSERT_EQ(WriteTree(*writer, kHKeyLocalMachine, tree), kSuccess);
    ASSERT_EQ(writer->FlushKey(kHKeyLocalMachine), kSuccess);
    auto store = NewStore();
    EXPECT_EQ(Make(*store, deepest + "\\one more"), error::kInvalidParameter);
    TaskPool pool(1);
    KeyTree read;
    const Key key = Create(*store, kHKeyLocalMachine, "d");
    EXPECT_EQ(ReadTree(*store, key, "d", &read, &pool), kSuccess);
    EXPECT_EQ(read, tree);
    store->CloseKey(key);
    EXPECT_EQ(DeleteTree(*store, kHKeyLocalMachine, "d"), kSuccess);
}

// A file's keys load in the registry's order whatever order the file lists them in (and with
// lone CRs as line ends): thousands of siblings, names that differ only in case (ASCII, umlauts, ÿ
// and Ÿ) taken for one key that keeps its first spelling, subkeys listed before their parents and
// in reverse. The file written afterwards lists them in that order, and reads back the same.
TEST_F(FileStoreTest, KeysOfAFileInAnyOrderLoadInTheRegistrysOrder) {
    Names names = {"_under",
                   "[bracket",
                   "a",
                   "Z",
                   "M\xC3\xBCller",
                   "\xC3\xBF"
                   "end",
                   "\xC3\xA4"},
          subs;
    for (int i = 0; i < 3000; ++i) names.push_back("Key" + std::to_string(i));
    std::shuffle(names.begin(), names.end(), std::mt19937(5));
    for (char c = 'a'; c <= 't'; ++c) subs.push_back(std::string("Sub ") + c);
    std::string file = kHeader;
    const std::string software = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\";
    // The subkeys of Key7 first, each before the one above it.
    for (auto sub = subs.rbegin(); sub != subs.rend(); ++sub)
        file += "\n" + software + "Key7\\" + *sub + "]\n";
    for (const auto& name : names)
        file += "\n" + software + name + "]\n\"first\"=\"" + name + "\"\n";
    for (const char* again : {"KEY17", "key2999", "m\xC3\x9CLLER",
                              "\xC5\xB8"
                              "END",
                              "A", "z", "KEY7", "\xC3\x84"}) {
        file += "\n" + software + again + "]\n\"again\"=\"" + again + "\"\n";
    }
    std::replace(file.begin(), file.end(), '\n', '\r');  // lone CRs end its lines
    WriteFile(file_, file);
    const Names sorted = InRegistryOrder(names);
    {
        auto store = NewStore();
        ASSERT_EQ(Listed(*store, "SOFTWARE"), sorted);
        EXPECT_EQ(Listed(*store, "software\\KEY7"), subs);
        // A key's name, its first spelling and its second one.
        for (const auto& [name, first, again] :
             {std::tuple("key17", "Key17", "KEY17"),
              std::tuple("M\xC3\xBCLLER", "M\xC3\xBCller", "m\xC3\x9CLLER"),
              std::tuple("\xC5\xB8"
                         "end",
                         "\xC3\xBF"
                         "end",
                         "\xC5\xB8"
                         "END"),
              std::tuple("a", "a", "A")}) {
            std::vector<RegValue> values;
            ASSERT_EQ(
                store->QueryKeyValues(kHKeyLocalMachine, "SOFTWARE\\" + std::string(name), &values),
                kSuccess);
            std::string found;
            for (const auto& value : values) found += value.name + "=" + value.data.c_str() + " ";
            EXPECT_EQ(found, "first=" + std::string(first) + " again=" + again + " ") << name;
        }
        ASSERT_EQ(Make(*store, "SOFTWARE\\Key0\\new"), kSuccess);
    }
    Names written;  // the file's key lines right below SOFTWARE
    std::istringstream lines(Text());
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(software) && line.find('\\', software.size()) == npos) {
            written.push_back(line.substr(software.size(), line.size() - software.size() - 1));
        }
    }
    EXPECT_EQ(written, sorted);
    auto store = NewStore();
    EXPECT_EQ(Listed(*store, "SOFTWARE"), sorted);
    EXPECT_EQ(Listed(*store, "SOFTWARE\\key0"), Names{"new"});
}

// Keys with many subkeys and values, through changes on either side of where a key starts to
// keep a table of them: siblings made in any order and deleted and made again in another case
// enumerate in order and are found by any spelling, deleted ones not; a value set again in
// another case keeps its name and its place, a deleted one's followers move up, one set anew
// goes last. Another store's changes merged into these keys are found the same way.
TEST_F(FileStoreTest, ManySubkeysAndValuesThroughDeletionsAndMerges) {
    auto store = NewStore();
    const Key parent = Create(*store, kHKeyLocalMachine, "SOFTWARE\\Many");
    Names model, gone, names;  // the subkeys as spelt when made; those deleted
    const auto check = [&] {
        ASSERT_EQ(Listed(*store, "", parent), InRegistryOrder(model));
        for (const auto& name : model)
            ASSERT_EQ(Opens(*store, text::FoldCase(name), kKeyRead, parent), kSuccess) << name;
        for (const auto& name : gone)
            EXPECT_EQ(Opens(*store, name, kKeyRead, parent), error::kFileNotFound) << name;
    };
    // One by one up to 30 and down to none again, then to 2000 made in shuffled order, a third
    // of them deleted and half of those made again in another case.
    std::mt19937 random(3);
    for (int i = 0; i < 2000; ++i) names.push_back("n" + std::to_string(i));
    for (std::size_t i = 0; i < 30; ++i) {
        ASSERT_EQ(Make(*store, model.emplace_back(names[i]), parent), kSuccess);
        check();
    }
    while (!model.empty()) {
        ASSERT_EQ(store->DeleteKey(parent, gone.emplace_back(model[random() % model.size()])),
                  kSuccess)
            << gone.back();
        std::erase(model, gone.back());
        check();
    }
    gone.clear();
    std::shuffle(names.begin(), names.end(), random);
    for (const auto& name : names) ASSERT_EQ(Make(*store, name, parent), kSuccess);
    model = names;
    for (std::size_t i = 0; i < names.size(); i += 3) {
        ASSERT_EQ(store->DeleteKey(parent, names[i]), kSuccess);
        std::erase(model, names[i]);
        if (i % 2 == 1) gone.push_back(names[i]);
        if (i % 2 == 0) {
            ASSERT_EQ(Make(*store, model.emplace_back(text::FoldCase(names[i])), parent), kSuccess);
        }
    }
    check();

    // Values: 40 of them, one set again in another case, one deleted and set anew, then
    // deleted down to 10.
    const Key key = Create(*store, parent, model.emplace_back("values"));
    std::vector<std::pair<std::string, std::string>> values;  // in their order
    const auto set = [&](const std::string& name, const std::string& data) {
        ASSERT_EQ(store->SetValueBytes(key, name, kRegBinary, data), kSuccess);
        const auto at = std::find_if(values.begin(), values.end(), [&](const auto& v) {
            return text::EqualsNoCase(v.first, name);
        });
        (at == values.end() ? values.emplace_back(name, data) : *at).second = data;
    };
    const auto checkValues = [&] {
        std::string listed, expected, name, data;
        std::uint32_t type = 0, size = 0, index = 0;
        Status status = kSuccess;
        for (; (status = store->EnumValueBytes(key, index, &name, &type, &data)) == kSuccess;
             ++index)
            listed += name + "=" + data + "\n";
        EXPECT_EQ(status, error::kNoMoreItems);
        for (const auto& [valueName, valueData] : values) {
            expected += valueName + "=" + valueData + "\n";
            EXPECT_EQ(store->QueryValueEx(key, text::FoldCase(valueName), nullptr, nullptr, &size),
                      kSuccess);
            EXPECT_EQ(size, valueData.size()) << valueName;
        }
        EXPECT_EQ(listed, expected);
    };
    for (int i = 0; i < 40; ++i)
        set("v" + std::to_string(i), std::string(static_cast<std::size_t>(i), 'd'));
    set("V5", "changed");
    ASSERT_EQ(store->DeleteValue(key, "V3"), kSuccess);
    values.erase(values.begin() + 3);
    set("v3", "anew");
    checkValues();
    while (values.size() > 10) {
        const auto at = values.begin() + static_cast<std::ptrdiff_t>(random() % values.size());
        ASSERT_EQ(store->DeleteValue(key, at->first), kSuccess);
        EXPECT_EQ(store->DeleteValue(key, at->first), error::kFileNotFound);
        values.erase(at);
        checkValues();
    }
    for (int i = 0; i < 30; ++i) set("w" + std::to_string(i), "w");
    ASSERT_EQ(store->FlushKey(parent), kSuccess);

    // Another store deletes and adds subkeys and values; merged into this store's keys.
    {
        auto other = NewStore();
        Key many = kNullKey, otherValues = kNullKey;
        ASSERT_EQ(other->OpenKeyEx(kHKeyLocalMachine, "SOFTWARE\\Many", 0, kKeyAllAccess, &many),
                  kSuccess);
        ASSERT_EQ(other->OpenKeyEx(many, "values", 0, kKeyAllAccess, &otherValues), kSuccess);
        for (std::size_t i = 0; i < 100; ++i) {
            ASSERT_EQ(other->DeleteKey(many, gone.emplace_back(model[i])), kSuccess);
            ASSERT_EQ(Make(*other, model.emplace_back("other" + std::to_string(i)), many),
                      kSuccess);
        }
        ASSERT_EQ(other->DeleteValue(otherValues, values[0].first), kSuccess);
        ASSERT_EQ(other->SetValueBytes(otherValues, "from other", kRegBinary, "o"), kSuccess);
    }
    model.erase(model.begin(), model.begin() + 100);
    values.erase(values.begin());
    values.emplace_back("from other", "o");
    ASSERT_EQ(Make(*store, model.emplace_back("mine"), parent), kSuccess);
    ASSERT_EQ(store->FlushKey(parent), kSuccess);
    check();
    checkValues();
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
    EXPECT_EQ(Files(), std::set<std::string>{"backup.reg"});
    AtomicFile nowhere(dir_ / "missing" / "x.reg");
    EXPECT_FALSE(nowhere.Open() || nowhere.Write("x") || nowhere.Commit());
    EXPECT_EQ(nowhere.Error(), std::errc::no_such_file_or_directory);
    // A write that failed stays failed, even once writing would work again (a file size limit
    // lifted): nothing more is written, and the old file stays.
    InChild(
        [&] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            const rlim_t hard = limit.rlim_max;
            limit.rlim_cur = 4096;
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
            AtomicFile big(file);
            ASSERT_TRUE(big.Open());
            EXPECT_FALSE(big.Write(std::string(8192, 'x')));
            limit.rlim_cur = hard;
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
            EXPECT_FALSE(big.Write("y")) << "a write went on after one had failed";
            EXPECT_FALSE(big.Commit());
            EXPECT_EQ(big.Error(), std::errc::file_too_large);
        },
        false);
    EXPECT_EQ(ReadFile(file), "new text");
    // A link is written through a chain of 40 links, as the system's own calls follow, not 41.
    for (int link = 1; link <= 41; ++link) {
        std::filesystem::create_symlink("link" + std::to_string(link - 1),
                                        dir_ / ("link" + std::to_string(link)));
    }
    std::filesystem::rename(file, dir_ / "link0");
    for (const int links : {40, 41}) {
        AtomicFile through(dir_ / ("link" + std::to_string(links)),
                           AtomicFile::Links::WriteThrough);
        EXPECT_EQ(through.Open() && through.Write("end") && through.Commit(), links == 40) << links;
        EXPECT_EQ(ReadFile(dir_ / "link0"), "end") << links;
    }
}

// The cache in front of the registry answers reads itself: each key's values are read once,
// however often and under whichever case a name is asked for; a list of subkeys is enumerated
// once. Another program's change, below the cache, is seen after the next connection or flush.
// (The registry-semantics suite also runs through the cache: the program's own changes are seen
// at once.)
TEST_F(FileStoreTest, TheCacheAnswersReadsOnceUntilTheNextConnectionOrFlush) {
    auto store = NewStore();
    CountingRegistry counter{*store};
    CachingRegistry cache{counter};
    Key a = kNullKey, t = kNullKey, root = kNullKey;
    ASSERT_EQ(cache.CreateKey(kHKeyLocalMachine, "SOFTWARE\\T\\a", &a), kSuccess);
    ASSERT_EQ(cache.SetValueBytes(a, "v", kRegSz, std::string("1\0\0\0", 4)), kSuccess);
    ASSERT_EQ(cache.OpenKeyEx(kHKeyLocalMachine, "SOFTWARE\\T", 0, kKeyAllAccess, &t), kSuccess);
    counter.Reset();
    for (const char* path : {"SOFTWARE\\T\\a", "SOFTWARE\\T\\none"}) {
        for (const char* name : {"v", "V", "x"}) {
            RegValue value;
            const bool found = path[11] == 'a' && *name != 'x';
            EXPECT_EQ(cache.QueryKeyValue(kHKeyLocalMachine, path, name, &value),
                      found ? kSuccess : error::kFileNotFound);
            EXPECT_EQ(value.data, found ? std::string("1\0", 2) : "") << path << name;
        }
    }
    EXPECT_EQ(counter.Count(Call::QueryKeyValues), 2u);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Subkeys(cache, t), Names{"a"});
    EXPECT_EQ(counter.Count(Call::EnumKeyEx), 2u);  // "a", then "no more", once

    ASSERT_EQ(Make(*store, "SOFTWARE\\T\\c"), kSuccess);
    EXPECT_EQ(Subkeys(cache, t), Names{"a"});  // still the remembered list
    ASSERT_EQ(cache.ConnectRegistry("", kHKeyLocalMachine, &root), kSuccess);
    EXPECT_EQ(Subkeys(cache, t), (Names{"a", "c"}));
    ASSERT_EQ(store->DeleteKey(kHKeyLocalMachine, "SOFTWARE\\T\\c"), kSuccess);
    ASSERT_EQ(cache.FlushKey(root), kSuccess);
    EXPECT_EQ(Subkeys(cache, t), Names{"a"});
    for (const Key key : {a, t, root}) cache.CloseKey(key);
}

}  // namespace
}  // namespace kelvaston::platform
