// The cache in front of the registry: reads it answers itself, and nothing stale after the
// program's own changes or a new connection.
#include <gtest/gtest.h>

#include "platform/caching_registry.h"
#include "platform/file_store.h"
#include "platform/registry_tree.h"
#include "support/temp_dir.h"

namespace kelvaston::platform {
namespace {

class CachingRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(cache_.CreateKey(kHKeyLocalMachine, "SOFTWARE\\T\\a", &a_), error::kSuccess);
        SetText(a_, "v", "1");
        ASSERT_EQ(cache_.OpenKeyEx(kHKeyLocalMachine, "SOFTWARE\\T", 0, kKeyAllAccess, &t_), error::kSuccess);
    }
    void TearDown() override {
        cache_.CloseKey(a_);
        cache_.CloseKey(t_);
    }
    void SetText(Key key, const std::string& name, const std::string& text) {
        ASSERT_EQ(cache_.SetValueEx(key, name, kRegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                    static_cast<std::uint32_t>(text.size() + 1)),
                  error::kSuccess);
    }
    // The data of value `name` of key `path`, as the cache answers; "<missing>" when not there.
    std::string Read(const std::string& path, const std::string& name) {
        RegValue value;
        if (cache_.QueryKeyValue(kHKeyLocalMachine, path, name, &value) != error::kSuccess) return "<missing>";
        return value.data.substr(0, value.data.find('\0'));
    }
    std::vector<std::string> Subkeys(Key key) {
        std::vector<std::string> names;
        EXPECT_EQ(ListSubkeys(cache_, key, &names), error::kSuccess);
        return names;
    }

    test::TempDir dir_;
    FileStoreRegistry store_{FileStoreOptions{dir_.Path(), "Desk1"}};
    CountingRegistry counter_{store_};
    CachingRegistry cache_{counter_};
    Key a_ = kNullKey;
    Key t_ = kNullKey;
};

TEST_F(CachingRegistryTest, ReadsAreAnsweredOnceAndListsEnumeratedOnce) {
    EXPECT_EQ(Read("SOFTWARE\\T\\a", "v"), "1");
    EXPECT_EQ(Read("SOFTWARE\\T\\a", "V"), "1");
    EXPECT_EQ(Read("SOFTWARE\\T\\none", "v"), "<missing>");
    EXPECT_EQ(Read("SOFTWARE\\T\\none", "w"), "<missing>");
    EXPECT_EQ(counter_.Count(Call::QueryKeyValues), 2u);
    EXPECT_EQ(Read("software\\t\\A", "v"), "1");  // the key spelt otherwise: read once more

    EXPECT_EQ(Subkeys(t_), std::vector<std::string>{"a"});
    EXPECT_EQ(Subkeys(t_), std::vector<std::string>{"a"});
    EXPECT_EQ(counter_.Count(Call::EnumKeyEx), 2u);  // "a", then "no more", once
}

// A backend that reads named values at once, as advapi32 does: only the names asked for, or all
// values when one of them is not there.
class NamedReads final : public RegistryDecorator {
public:
    using RegistryDecorator::RegistryDecorator;
    Status QueryNamedValues(Key key, const std::string& subKey, const std::vector<std::string>& names,
                            std::vector<RegValue>* values, bool* all) override {
        ++namedReads;
        const Status status = QueryKeyValues(key, subKey, values);
        *all = true;
        if (status != error::kSuccess) return status;
        std::vector<RegValue> named;
        for (const auto& name : names) {
            const RegValue* found = FindValue(*values, name);
            if (found == nullptr) return status;
            named.push_back(*found);
        }
        *values = std::move(named);
        *all = false;
        return status;
    }
    int namedReads = 0;

protected:
    std::optional<Status> Before(Call) override { return std::nullopt; }
};

TEST_F(CachingRegistryTest, AValueNotExpectedIsStillFound) {
    SetText(a_, "w", "2");
    NamedReads named(store_);
    CachingRegistry cache(named);
    cache.ExpectValues({"v"});
    RegValue value;
    ASSERT_EQ(cache.QueryKeyValue(kHKeyLocalMachine, "SOFTWARE\\T\\a", "v", &value), error::kSuccess);
    EXPECT_EQ(named.namedReads, 1);
    ASSERT_EQ(cache.QueryKeyValue(kHKeyLocalMachine, "SOFTWARE\\T\\a", "w", &value), error::kSuccess);
    EXPECT_EQ(value.data, std::string("2\0", 2));
    EXPECT_EQ(cache.QueryKeyValue(kHKeyLocalMachine, "SOFTWARE\\T\\a", "x", &value), error::kFileNotFound);
    std::vector<RegValue> all;
    ASSERT_EQ(cache.QueryKeyValues(kHKeyLocalMachine, "SOFTWARE\\T\\a", &all), error::kSuccess);
    EXPECT_EQ(all.size(), 2u);
    EXPECT_EQ(named.namedReads, 1);
}

TEST_F(CachingRegistryTest, TheProgramsOwnChangesAreSeenAtOnce) {
    EXPECT_EQ(Read("SOFTWARE\\T\\a", "v"), "1");
    SetText(a_, "v", "2");
    EXPECT_EQ(Read("SOFTWARE\\T\\a", "v"), "2");
    ASSERT_EQ(cache_.DeleteValue(a_, "v"), error::kSuccess);
    EXPECT_EQ(Read("SOFTWARE\\T\\a", "v"), "<missing>");

    EXPECT_EQ(Read("SOFTWARE\\T\\b", "v"), "<missing>");
    EXPECT_EQ(Subkeys(t_), std::vector<std::string>{"a"});
    Key b = kNullKey;
    ASSERT_EQ(cache_.CreateKey(t_, "b", &b), error::kSuccess);
    SetText(b, "v", "neu");
    cache_.CloseKey(b);
    EXPECT_EQ(Read("SOFTWARE\\T\\b", "v"), "neu");
    EXPECT_EQ(Subkeys(t_), (std::vector<std::string>{"a", "b"}));

    ASSERT_EQ(cache_.DeleteKey(t_, "b"), error::kSuccess);
    EXPECT_EQ(Read("SOFTWARE\\T\\b", "v"), "<missing>");
    EXPECT_EQ(Subkeys(t_), std::vector<std::string>{"a"});
}

TEST_F(CachingRegistryTest, NothingOutlivesAConnectionOrAFlush) {
    Key root = kNullKey;
    ASSERT_EQ(cache_.ConnectRegistry("", kHKeyLocalMachine, &root), error::kSuccess);
    EXPECT_EQ(Subkeys(t_), std::vector<std::string>{"a"});
    EXPECT_EQ(Read("SOFTWARE\\T\\a", "v"), "1");

    // Another program's change, below the cache: seen after the next connection or flush.
    Key direct = kNullKey;
    ASSERT_EQ(store_.CreateKey(kHKeyLocalMachine, "SOFTWARE\\T\\c", &direct), error::kSuccess);
    store_.CloseKey(direct);
    EXPECT_EQ(Subkeys(t_), std::vector<std::string>{"a"});  // still the remembered list
    Key again = kNullKey;
    ASSERT_EQ(cache_.ConnectRegistry("", kHKeyLocalMachine, &again), error::kSuccess);
    EXPECT_EQ(Subkeys(t_), (std::vector<std::string>{"a", "c"}));
    ASSERT_EQ(store_.DeleteKey(kHKeyLocalMachine, "SOFTWARE\\T\\c"), error::kSuccess);
    ASSERT_EQ(cache_.FlushKey(root), error::kSuccess);
    EXPECT_EQ(Subkeys(t_), std::vector<std::string>{"a"});
    cache_.CloseKey(again);
    cache_.CloseKey(root);
}

}  // namespace
}  // namespace kelvaston::platform
