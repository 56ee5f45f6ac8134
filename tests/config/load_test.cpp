// Loading the configuration: what odd and missing stored values load as, the order and limits
// of the lists, the keys that are not connections; and the removal of a list's slot.
#include <chrono>
#include <optional>

#include "platform/value_library.h"
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

// The value library, read into a buffer of 255 characters (4 bytes each) filled with '#', and
// written through a key: numbers as their decimal digits, every byte of them; text cut at 255
// characters, not bytes, and at its first NUL; what has no text form, or is missing, leaves the
// buffer as it was.
TEST_F(LoadTest, TheValueLibraryReadsAndWritesValuesAsText) {
    using platform::Status;
    const std::string a254(254, 'a'), u255 = [] {
        std::string u;
        for (int i = 0; i < 255; ++i) u += "\xC3\xA4";
        return u;
    }();
    Seed(kServiceLine + kParametersLine +
         "\"D0\"=dword:00000000\n\"D1\"=dword:01020304\n\"DMax\"=dword:ffffffff\n"
         "\"DHigh\"=dword:80000001\n\"Short\"=hex(4):01,02\n\"Bin\"=hex:41\n\"E\"=hex(2):25,00,41,"
         "00,25,00,00,00\n"
         "\"Nul\"=hex(1):61,00,00,00,62,00,00,00\n\"T254\"=\"" +
         a254 + "\"\n\"T255\"=\"" + a254 + "b\"\n\"T256\"=\"" + a254 + "bc\"\n\"U255\"=\"" + u255 +
         "\"\n\"U256\"=\"" + u255 + "\xC3\xB6\"\n");
    platform::ValueLibrary values(*registry_);
    const std::string& parameters = layout::kParametersKey;
    const struct {
        const char* name;
        std::uint32_t size;
        Status status;
        std::string text;
    } reads[] = {{"D0", 255, error::kSuccess, "0"},
                 {"D1", 255, error::kSuccess, "16909060"},
                 {"DMax", 255, error::kSuccess, "4294967295"},
                 {"DHigh", 255, error::kSuccess, "2147483649"},
                 {"E", 255, error::kSuccess, "%A%"},
                 {"Nul", 255, error::kSuccess, "a"},
                 {"T254", 255, error::kSuccess, a254},
                 {"T255", 255, error::kSuccess, a254 + "b"},
                 {"T256", 255, error::kMoreData, a254 + "b"},
                 {"U255", 255, error::kSuccess, u255},
                 {"U256", 255, error::kMoreData, u255},
                 {"D1", 8, error::kSuccess, "16909060"},
                 {"D1", 7, error::kMoreData, "1690906"},
                 {"D1", 0, error::kMoreData, ""},
                 {"Short", 255, error::kInvalidData, ""},
                 {"Bin", 255, error::kInvalidData, ""},
                 {"Missing", 255, error::kFileNotFound, ""}};
    for (const auto& read : reads) {
        std::string buffer(255 * 4 + 1, '#');
        const Status status =
            values.GetValue(root_, parameters, read.name, 1, buffer.data(), read.size);
        EXPECT_EQ(status, read.status) << read.name << " " << read.size;
        const std::string held =
            read.text.empty()
                ? ""
                : read.text + (read.text.size() < read.size * 4 ? std::string(1, '\0') : "");
        EXPECT_EQ(buffer, held + std::string(buffer.size() - held.size(), '#'))
            << read.name << " " << read.size;
    }
    EXPECT_EQ(values.GetValue(root_, parameters + "\\Gone", "D0", 4, nullptr, 255),
              error::kFileNotFound);
    platform::Key key = platform::kNullKey;
    ASSERT_EQ(registry_->CreateKey(root_, parameters, &key), error::kSuccess);
    const struct {
        std::int32_t type;
        std::string data;
        std::uint32_t size;
        Status status;
        std::string bytes;
    } writes[] = {{4, "0", 4, error::kSuccess, std::string(4, '\0')},
                  {4, "4294967295", 4, error::kSuccess, "\xFF\xFF\xFF\xFF"},
                  {4, " 16909060 ", 4, error::kSuccess, "\x04\x03\x02\x01"},
                  {4, "007", 4, error::kSuccess, std::string("\x07\0\0\0", 4)},
                  {4, "4294967296", 4, error::kInvalidData, ""},
                  {4, "", 4, error::kInvalidData, ""},
                  {4, " ", 4, error::kInvalidData, ""},
                  {4, "-1", 4, error::kInvalidData, ""},
                  {4, "+1", 4, error::kInvalidData, ""},
                  {4, "1 2", 4, error::kInvalidData, ""},
                  {4, "0x10", 4, error::kInvalidData, ""},
                  {1, "abc", 2, error::kSuccess, std::string("ab\0", 3)},
                  {1, "abc", 9, error::kSuccess, std::string("abc\0", 4)},
                  {1, "", 0, error::kSuccess, std::string(1, '\0')},
                  {2, "abc", 3, error::kInvalidParameter, ""}};
    for (const auto& write : writes) {
        registry_->DeleteValue(key, "W");
        EXPECT_EQ(values.SetValue(key, "W", write.type, write.data, write.size), write.status)
            << write.data;
        platform::RegValue stored;
        const Status found = registry_->QueryKeyValue(key, "", "W", &stored);
        EXPECT_EQ(found == error::kSuccess ? stored.data : "", write.bytes) << write.data;
        EXPECT_EQ(found == error::kSuccess ? stored.type : 0u, write.bytes.empty() ? 0u
                                                               : write.type == 4   ? 4u
                                                                                   : 1u)
            << write.data;
    }
    registry_->CloseKey(key);
}

// Missing values and values with no text form load as their defaults; text where a number
// belongs loads as that text (the save then refuses it); text ends at its first NUL and loses
// its end blanks; an empty text stays empty; a long text is cut to 255 characters. Only the
// exact name "volatile" is the service's own key, names lose their end blanks (and with them
// their values), and NORAS is added when no key of that name is there.
TEST_F(LoadTest, OddAndMissingValuesLoadAsDocumented) {
    Seed(kServiceLine + kParametersLine +
         "\"ProxyHost\"=\"\"\n\"DebugLevel\"=\"zehn\"\n\"TriggerPort\"=hex:01,02,03\n" +
         "\"BDWDir\"=hex(1):20,00,64,00,3a,00,20,00,00,00,78,00\n\"TickerEMail\"=\"" +
         std::string(300, 't') + "\"\n" + KeyLine(" Blank ") + "\"TimeOut\"=dword:00000001\n" +
         KeyLine("Volatile") + KeyLine("Volatile\\info") +
         "\"LogFile\"=\"\"\n\"Max Mails\"=dword:00000000\n\"POP Host\"=\" pop \"\n");
    LoadAll();
    EXPECT_EQ(settings_.Global,
              (GlobalSettings{"0", "d:", "zehn", "", "0", "15001", std::string(255, 't')}));
    const ConnectionList connections = {
        {{"Blank", "0", "600"}, {"Volatile", "0", "600"}, {"NORAS", "", ""}}};
    EXPECT_EQ(settings_.Connections, connections);
    AccountList accounts;
    accounts[0] = {"Volatile", "info", "3", "0",   "", "0", "0", "0", "0", "0",    "0",
                   "",         "0",    "1", "pop", "", "",  "",  "",  "",  "15002"};
    EXPECT_EQ(settings_.Accounts, accounts);
}

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
