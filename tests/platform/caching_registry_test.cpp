// The cache in front of the registry: reads it answers itself, and nothing stale after the
// program's own changes or a new connection.
#include "platform/caching_registry.h"

#include <gtest/gtest.h>

#include "platform/file_store.h"
#include "platform/registry_tree.h"
#include "support/temp_dir.h"

namespace kelvaston::platform {
namespace {

class CachingRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(cache_.CreateKey(kHKeyLocalMachine, "SOFTWARE\\T\\a", &a_), error::kSuccess);
        ASSERT_EQ(cache_.SetValueBytes(a_, "v", kRegSz, std::string("1\0\0\0", 4)), error::kSuccess);
        ASSERT_EQ(cache_.OpenKeyEx(kHKeyLocalMachine, "SOFTWARE\\T", 0, kKeyAllAccess, &t_), error::kSuccess);
        counter_.Reset();
    }
    void TearDown() override {
        cache_.CloseKey(a_);
        cache_.CloseKey(t_);
    }
    // The text of value `name` of key `path`, as the cache answers; "<missing>" when not there.
    std::string Read(const std::string& path, const std::string& name) {
        RegValue value;
        if (cache_.QueryKeyValue(kHKeyLocalMachine, path, name, &value) != error::kSuccess) return "<missing>";
        return value.data.substr(0, value.data.find('\0'));
    }
    std::vector<std::string> Subkeys() {
        std::vector<std::string> names;
        EXPECT_EQ(ListSubkeys(cache_, t_, &names), error::kSuccess);
        return names;
    }

    test::TempDir dir_;
    FileStoreRegistry store_{FileStoreOptions{dir_.Path(), "Desk1"}};
    CountingRegistry counter_{store_};
    CachingRegistry cache_{counter_};
    Key a_ = kNullKey;
    Key t_ = kNullKey;
};

// Each key's values are read once, however often and under whichever case a name is asked for;
// a list of subkeys is enumerated once.
TEST_F(CachingRegistryTest, ReadsAreAnsweredOnce) {
    EXPECT_EQ(counter_.Total(), 0u);
    for (const char* path : {"SOFTWARE\\T\\a", "SOFTWARE\\T\\none"}) {
        for (const char* name : {"v", "V", "x"}) {
            EXPECT_EQ(Read(path, name), path[11] == 'a' && *name != 'x' ? "1" : "<missing>") << path << name;
        }
    }
    EXPECT_EQ(counter_.Count(Call::QueryKeyValues), 2u);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Subkeys(), std::vector<std::string>{"a"});
    EXPECT_EQ(counter_.Count(Call::EnumKeyEx), 2u);  // "a", then "no more", once

}

// The program's own changes are seen at once (the registry-semantics suite runs through the
// cache too); another program's, below the cache, after the next connection or flush.
TEST_F(CachingRegistryTest, AnotherProgramsChangesAreSeenAfterAConnectionOrAFlush) {
    EXPECT_EQ(Subkeys(), std::vector<std::string>{"a"});
    Key direct = kNullKey;
    ASSERT_EQ(store_.CreateKey(kHKeyLocalMachine, "SOFTWARE\\T\\c", &direct), error::kSuccess);
    store_.CloseKey(direct);
    EXPECT_EQ(Subkeys(), std::vector<std::string>{"a"});  // still the remembered list
    Key root = kNullKey;
    ASSERT_EQ(cache_.ConnectRegistry("", kHKeyLocalMachine, &root), error::kSuccess);
    EXPECT_EQ(Subkeys(), (std::vector<std::string>{"a", "c"}));
    ASSERT_EQ(store_.DeleteKey(kHKeyLocalMachine, "SOFTWARE\\T\\c"), error::kSuccess);
    ASSERT_EQ(cache_.FlushKey(root), error::kSuccess);
    EXPECT_EQ(Subkeys(), std::vector<std::string>{"a"});
    cache_.CloseKey(root);
}

}  // namespace
}  // namespace kelvaston::platform
