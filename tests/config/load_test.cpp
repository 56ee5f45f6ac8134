// Loading the configuration: text cut at its first NUL, and the removal of a list's slot. (What
// odd and missing stored values load as, the limits of the lists, and the value library's reads
// and writes: store.txt.)
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

}  // namespace
}  // namespace kelvaston::config::test
