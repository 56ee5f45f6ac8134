// Loading the configuration: the limits of the lists, read one after another and overlapping;
// text cut at its first NUL; and the removal of a list's slot. (What odd and missing stored
// values load as, and the value library's reads and writes: store.txt.)
#include <chrono>
#include <optional>

#include "store_fixture.h"

namespace kelvaston::config::test {
namespace {

TEST(CutAtNul, TakesTheTextBeforeTheFirstNulWithoutBlanks) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {std::string("abc\0def", 7), "abc"},
        {"  x ", "x"},
        {std::string(5, '\0'), ""},
        {std::string(500, ' '), ""},
        {"\tx\t ", "\tx\t"},
        {std::string(" a b \0 c ", 9), "a b"}};
    for (const auto& [text, cut] : cases) EXPECT_EQ(CutAtNul(text), cut) << text;
}

// Removing slot k of a full list, or of one with a few entries, for k at either end, in the
// middle and outside: the later entries move up one slot, the last slot is empty.
TEST(DeleteAccount, TheLaterEntriesMoveUpAndTheLastSlotEmpties) {
    for (const std::size_t used : {kAccountSlots, std::size_t{3}}) {
        for (const int index : {-1, 0, 1, 2, 125, 249, 250, 251}) {
            AccountList accounts;
            std::vector<std::string> expected(kAccountSlots);
            for (std::size_t i = 0; i < used; ++i)
                accounts[i].Name = expected[i] = "a" + std::to_string(i);
            if (index >= 0 && index < static_cast<int>(kAccountSlots)) {
                expected.erase(expected.begin() + index);
                expected.emplace_back();
            }
            DeleteAccount(accounts, index);
            for (std::size_t i = 0; i < kAccountSlots; ++i) {
                ASSERT_EQ(accounts[i].Name, expected[i])
                    << "slot " << i << " after removing " << index;
            }
        }
    }
}

using LoadTest = StoreTest;

// 50 connections, "volatile" (which uses up an index of the 51 looked at) and one more; 126
// accounts each for two of them, of which 251 fit. Read one after another and with the reads
// overlapping as for a remote registry: the same lists, in a few calls per key.
TEST_F(LoadTest, TheListsStopAt51IndexesAnd251Accounts) {
    std::string body = kServiceLine + kParametersLine + KeyLine("volatile") + KeyLine("W1");
    for (int i = 0; i < 50; ++i) body += KeyLine("A" + std::to_string(100 + i));
    for (int i = 0; i < 126; ++i) {
        body += KeyLine("A100\\a" + std::to_string(100 + i)) +
                KeyLine("A101\\b" + std::to_string(100 + i));
        if (i == 124) body += "\"Max Mails\"=dword:00000007\n";
    }
    Seed(body);
    std::optional<Settings> first;
    for (const bool overlapping : {false, true}) {
        platform::CountingRegistry counter(*registry_);
        platform::LatencyRegistry remote(counter, std::chrono::microseconds(0));
        Settings loaded;
        InitSettings(loaded);
        ConfigStore store(overlapping ? static_cast<platform::RegistryApi&>(remote) : counter,
                          loaded);
        LoadAll(store);
        EXPECT_LE(counter.Total(), 3 * (50 + 252)) << overlapping;
        ASSERT_EQ(ConnectionCount(loaded.Connections), kConnectionSlots);
        EXPECT_EQ(loaded.Connections[49].Name, "A149");
        EXPECT_EQ(loaded.Connections[50].Name, "NORAS");  // W1 stood at the 52nd index
        ASSERT_EQ(AccountCount(loaded.Accounts), kAccountSlots);
        EXPECT_EQ(loaded.Accounts[125].Name, "a225");
        EXPECT_EQ(loaded.Accounts[250].Name, "b224");  // b225, the 252nd, is not loaded
        EXPECT_EQ(loaded.Accounts[250].MaxMails, "7");
        if (!first) first = loaded;
        EXPECT_EQ(loaded.Connections, first->Connections);
        EXPECT_EQ(loaded.Accounts, first->Accounts);
    }
}

}  // namespace
}  // namespace kelvaston::config::test
