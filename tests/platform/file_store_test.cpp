// The file store where a case needs code to make its data: trees at the depth limit, files of
// thousands of keys in any order, keys and values through thousands of changes. What reaches
// the disk and when, the files and folders it takes, the atomic replacement and the cache are
// file cases of registry.calls.
#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <tuple>
#include <unordered_map>

#include "platform/file_store.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "platform/test_helpers.h"
#include "platform/text.h"
#include "support/fault_injecting_registry.h"
#include "support/temp_dir.h"

namespace kelvaston::platform {
namespace {

using namespace test;  // NOLINT: the helpers of every test here
using Names = std::vector<std::string>;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";
constexpr auto npos = std::string::npos;

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

// Two names that differ but hash alike when folded: a birthday search over PREFIX0, PREFIX1, ….
std::pair<std::string, std::string> HashTwins(const std::string& prefix) {
    std::unordered_map<std::uint32_t, std::string> seen;
    for (int i = 0;; ++i) {
        std::string name = prefix + std::to_string(i);
        const auto [at, fresh] = seen.emplace(text::FoldedHash(name), name);
        if (!fresh) return {at->second, name};
    }
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
    test::TempDir dir_;
    const std::filesystem::path file_ = dir_ / "Desk1.reg";
};

// The computer's own name is its host name without the domain.
TEST(FileStoreHost, IsTheHostNameWithoutTheDomain) {
    struct utsname system {};
    ASSERT_EQ(::uname(&system), 0);
    const std::string host = FileStoreRegistry::HostComputerName(), full = system.nodename;
    EXPECT_TRUE(!host.empty() && full.starts_with(host) &&
                (host.size() == full.size() || full[host.size()] == '.'))
        << host << " of " << full;
}

// The registry's depth limit: a tree 512 keys deep is made, flushed, read back (on a pool of one
// thread too) and let go again, none of which may recurse that deep; a 513th key is refused.
// (The fuzz checks refuse names the file cannot hold, and paths around the limit, at random.)
TEST_F(FileStoreTest, TreesAreKeptToTheRegistrysDepthLimit) {
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
    // Below a handle the limit counts from the handle's own depth: at 511 one more level is
    // made and two are refused, at 512 none is made.
    Key made = kNullKey;
    const Key at511 = Create(*store, kHKeyLocalMachine, deepest.substr(0, deepest.size() - 2));
    EXPECT_EQ(store->CreateKey(at511, "a\\b", &made), error::kInvalidParameter);
    EXPECT_EQ(store->CreateKey(at511, "a", &made), kSuccess);
    store->CloseKey(made);
    const Key at512 = Create(*store, kHKeyLocalMachine, deepest);
    EXPECT_EQ(store->CreateKey(at512, "x", &made), error::kInvalidParameter);
    store->CloseKey(at511);
    store->CloseKey(at512);
    EXPECT_EQ(DeleteTree(*store, kHKeyLocalMachine, "d"), kSuccess);
}

// A tree removed depth first, each key's subkeys from the last to the first, the registry
// refusing one call on the way: the removal stops there and names the key it stopped at, below
// the one it was asked to remove.
TEST_F(FileStoreTest, ARemovalThatFailsNamesTheKeyItStoppedAt) {
    const struct {
        Call call;
        std::size_t nth;
        std::string stoppedAt;
    } kCases[] = {
        {Call::OpenKeyEx, 1, "d"},    {Call::OpenKeyEx, 2, "d\\b"},
        {Call::OpenKeyEx, 3, "d\\a"}, {Call::OpenKeyEx, 4, "d\\a\\x"},
        {Call::EnumKeyEx, 3, "d"},    {Call::EnumKeyEx, 4, "d\\b"},
        {Call::EnumKeyEx, 5, "d\\a"}, {Call::EnumKeyEx, 7, "d\\a\\x"},
        {Call::DeleteKey, 1, "d\\b"}, {Call::DeleteKey, 2, "d\\a\\x"},
        {Call::DeleteKey, 3, "d\\a"}, {Call::DeleteKey, 4, "d"},
    };
    for (const auto& c : kCases) {
        auto store = NewStore();
        for (const char* path : {"d\\a\\x", "d\\b"})
            store->CloseKey(Create(*store, kHKeyLocalMachine, path));
        FaultInjectingRegistry failing(*store);
        failing.FailNth(c.call, c.nth, error::kAccessDenied);
        std::string stoppedAt = "not told";
        EXPECT_EQ(DeleteTree(failing, kHKeyLocalMachine, "d", &stoppedAt), error::kAccessDenied)
            << CallName(c.call) << " " << c.nth;
        EXPECT_EQ(stoppedAt, c.stoppedAt) << CallName(c.call) << " " << c.nth;
        std::string untold = "untold";
        EXPECT_EQ(DeleteTree(*store, kHKeyLocalMachine, "d", &untold), kSuccess);
        EXPECT_EQ(untold, "untold");
        EXPECT_TRUE(Listed(*store, "").empty());
    }
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
// goes last. Another store's changes merged into these keys are found the same way. Among them
// are names that hash alike, which are still other names.
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
    const auto [twin, otherTwin] = HashTwins("t");
    names = {twin, otherTwin};
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
    set(twin, "twin");
    set(otherTwin, "other twin");
    set("V5", "changed");
    ASSERT_EQ(store->DeleteValue(key, "V3"), kSuccess);
    values.erase(values.begin() + 3);
    set("v3", "anew");
    checkValues();
    // Churn at 42 values: one deleted anywhere, one set anew, again and again.
    for (int round = 0; round < 200; ++round) {
        const auto at = values.begin() + static_cast<std::ptrdiff_t>(random() % values.size());
        ASSERT_EQ(store->DeleteValue(key, at->first), kSuccess);
        values.erase(at);
        set("c" + std::to_string(round), "c");
        checkValues();
    }
    while (values.size() > 10) {
        const auto at = values.begin() + static_cast<std::ptrdiff_t>(random() % values.size());
        ASSERT_EQ(store->DeleteValue(key, at->first), kSuccess);
        EXPECT_EQ(store->DeleteValue(key, at->first), error::kFileNotFound);
        values.erase(at);
        checkValues();
    }
    set(twin, "twin again");
    set(otherTwin, "other twin again");
    checkValues();
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

}  // namespace
}  // namespace kelvaston::platform
