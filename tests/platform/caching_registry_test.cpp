// The cache in front of the registry: reads it answers itself, and nothing stale after a new
// connection or a flush. (The registry-semantics suite also runs through the cache: the
// program's own changes are seen at once.)
#include "platform/caching_registry.h"

#include <gtest/gtest.h>

#include "platform/file_store.h"
#include "platform/registry_tree.h"
#include "support/temp_dir.h"

namespace kelvaston::platform {
namespace {

// Each key's values are read once, however often and under whichever case a name is asked for;
// a list of subkeys is enumerated once. Another program's change, below the cache, is seen
// after the next connection or flush.
TEST(CachingRegistry, AnswersReadsOnceUntilTheNextConnectionOrFlush) {
    test::TempDir dir;
    FileStoreRegistry store{FileStoreOptions{dir.Path(), "Desk1"}};
    CountingRegistry counter{store};
    CachingRegistry cache{counter};
    Key a = kNullKey, t = kNullKey, root = kNullKey;
    ASSERT_EQ(cache.CreateKey(kHKeyLocalMachine, "SOFTWARE\\T\\a", &a), error::kSuccess);
    ASSERT_EQ(cache.SetValueBytes(a, "v", kRegSz, std::string("1\0\0\0", 4)), error::kSuccess);
    ASSERT_EQ(cache.OpenKeyEx(kHKeyLocalMachine, "SOFTWARE\\T", 0, kKeyAllAccess, &t), error::kSuccess);
    counter.Reset();
    for (const char* path : {"SOFTWARE\\T\\a", "SOFTWARE\\T\\none"}) {
        for (const char* name : {"v", "V", "x"}) {
            RegValue value;
            const bool found = path[11] == 'a' && *name != 'x';
            EXPECT_EQ(cache.QueryKeyValue(kHKeyLocalMachine, path, name, &value), found ? error::kSuccess : error::kFileNotFound);
            EXPECT_EQ(value.data, found ? std::string("1\0", 2) : "") << path << name;
        }
    }
    EXPECT_EQ(counter.Count(Call::QueryKeyValues), 2u);
    const auto subkeys = [&] {
        std::vector<std::string> names;
        EXPECT_EQ(ListSubkeys(cache, t, &names), error::kSuccess);
        return names;
    };
    for (int i = 0; i < 2; ++i) EXPECT_EQ(subkeys(), std::vector<std::string>{"a"});
    EXPECT_EQ(counter.Count(Call::EnumKeyEx), 2u);  // "a", then "no more", once

    Key direct = kNullKey;
    ASSERT_EQ(store.CreateKey(kHKeyLocalMachine, "SOFTWARE\\T\\c", &direct), error::kSuccess);
    EXPECT_EQ(subkeys(), std::vector<std::string>{"a"});  // still the remembered list
    ASSERT_EQ(cache.ConnectRegistry("", kHKeyLocalMachine, &root), error::kSuccess);
    EXPECT_EQ(subkeys(), (std::vector<std::string>{"a", "c"}));
    ASSERT_EQ(store.DeleteKey(kHKeyLocalMachine, "SOFTWARE\\T\\c"), error::kSuccess);
    ASSERT_EQ(cache.FlushKey(root), error::kSuccess);
    EXPECT_EQ(subkeys(), std::vector<std::string>{"a"});
    for (const Key key : {a, t, root, direct}) cache.CloseKey(key);
}

}  // namespace
}  // namespace kelvaston::platform
