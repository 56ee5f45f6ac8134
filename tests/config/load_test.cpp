// Loading the configuration: the defaults of missing values, the order and limits of the lists,
// and the keys that are not connections.
#include <chrono>
#include <optional>

#include "platform/registry_decorators.h"
#include "store_fixture.h"

namespace kelvaston::config::test {
namespace {

std::vector<std::string> ConnectionNames(const Settings& settings) {
    std::vector<std::string> names;
    for (const auto& c : settings.Connections) {
        if (!c.Name.empty()) names.push_back(c.Name);
    }
    return names;
}

TEST(CutAtNul, TakesTheTextBeforeTheFirstNulWithoutBlanks) {
    EXPECT_EQ(CutAtNul(std::string("abc\0def", 7)), "abc");
    EXPECT_EQ(CutAtNul("  x "), "x");
    EXPECT_EQ(CutAtNul(std::string(5, '\0')), "");
    EXPECT_EQ(CutAtNul(""), "");
    EXPECT_EQ(CutAtNul(std::string(500, ' ')), "");
    EXPECT_EQ(CutAtNul("\tx\t "), "\tx\t");  // only blanks go
}

using LoadTest = StoreTest;

TEST_F(LoadTest, MissingValuesTakeTheirDefaultsButEmptyTextStaysEmpty) {
    Seed(kServiceLine + kParametersLine +
         "\"ProxyHost\"=\"\"\n"
         "\"DebugLevel\"=dword:00000000\n"
         "\"TickerEMail\"=\"ticker@example.com\"\n" +
         KeyLine("NORAS") + KeyLine("NORAS\\info") + "\"LogFile\"=\"\"\n\"Max Mails\"=dword:00000000\n");
    LoadAll();
    const GlobalSettings& g = settings_.Global;
    EXPECT_EQ(g.BDWDir, "c:\\");
    EXPECT_EQ(g.DebugLevel, "0");
    EXPECT_EQ(g.ListenRAS, "0");
    EXPECT_EQ(g.ProxyHost, "");
    EXPECT_EQ(g.ProxyPort, "0");
    EXPECT_EQ(g.TriggerPort, "15001");
    EXPECT_EQ(g.TickerEMail, "ticker@example.com");

    EXPECT_EQ(settings_.Connections[0], (ConnectionRecord{"NORAS", "0", "600"}));
    const AccountRecord& a = settings_.Accounts[0];
    EXPECT_EQ(a.Connection, "NORAS");
    EXPECT_EQ(a.Name, "info");
    EXPECT_EQ(a.LogFile, "");
    EXPECT_EQ(a.MaxMails, "0");
    EXPECT_EQ(a.AddressMode, "3");
    EXPECT_EQ(a.POPDelete, "1");
    EXPECT_EQ(a.UDPPort, "15002");
    EXPECT_EQ(a.EnableKeepAlive, "0");
    EXPECT_EQ(a.POPHost, "");
    EXPECT_TRUE(settings_.Accounts[1].Name.empty());
}

TEST_F(LoadTest, WithoutParametersOnlyNorasAndTheDefaults) {
    Seed(kServiceLine);
    settings_.Global.BDWDir = "stale";
    LoadAll();
    EXPECT_EQ(settings_.Global.BDWDir, "c:\\");
    EXPECT_EQ(ConnectionNames(settings_), std::vector<std::string>{"NORAS"});
    EXPECT_EQ(settings_.Connections[0], (ConnectionRecord{"NORAS", "", ""}));
    EXPECT_TRUE(settings_.Accounts[0].Name.empty());
}

TEST_F(LoadTest, NorasIsAppendedOnlyWhenItHasNoKey) {
    Seed(kServiceLine + kParametersLine + KeyLine("A") + KeyLine("NORAS") + KeyLine("volatile") +
         "\"State\"=dword:00000001\n");
    LoadAll();
    EXPECT_EQ(ConnectionNames(settings_), (std::vector<std::string>{"A", "NORAS"}));

    Seed(kServiceLine + kParametersLine + KeyLine("A") + "\"TimeOut\"=dword:00000000\n");
    LoadAll();
    EXPECT_EQ(ConnectionNames(settings_), (std::vector<std::string>{"A", "NORAS"}));
    EXPECT_EQ(settings_.Connections[0], (ConnectionRecord{"A", "0", "0"}));
    EXPECT_EQ(settings_.Connections[1], (ConnectionRecord{"NORAS", "", ""}));

    // Only the exact name "volatile" is the service's own key.
    Seed(kServiceLine + kParametersLine + KeyLine("Volatile"));
    LoadAll();
    EXPECT_EQ(ConnectionNames(settings_), (std::vector<std::string>{"Volatile", "NORAS"}));
}

TEST_F(LoadTest, AtMost51ConnectionsAndVolatileUsesUpAnIndex) {
    std::string body = kServiceLine + kParametersLine;
    for (int i = 0; i < 52; ++i) body += KeyLine("C" + std::string(i < 10 ? "0" : "") + std::to_string(i));
    Seed(body);
    LoadAll();
    std::vector<std::string> names = ConnectionNames(settings_);
    ASSERT_EQ(names.size(), 51u);
    EXPECT_EQ(names.front(), "C00");
    EXPECT_EQ(names.back(), "C50");  // no room for NORAS

    body = kServiceLine + kParametersLine + KeyLine("volatile") + KeyLine("W1") + KeyLine("W2");
    for (int i = 0; i < 49; ++i) body += KeyLine("A" + std::string(i < 10 ? "0" : "") + std::to_string(i));
    Seed(body);  // enumerated: A00..A48, volatile, W1, W2
    LoadAll();
    names = ConnectionNames(settings_);
    ASSERT_EQ(names.size(), 51u);
    EXPECT_EQ(names[48], "A48");
    EXPECT_EQ(names[49], "W1");
    EXPECT_EQ(names[50], "NORAS");  // W2 stood at the 52nd index
}

TEST_F(LoadTest, AccountsFollowTheirConnectionsUpTo251InAll) {
    std::string body = kServiceLine + kParametersLine + KeyLine("B") + KeyLine("B\\y") + "\"Max Mails\"=dword:00000005\n" +
                       KeyLine("B\\x") + "\"POP Host\"=\"pop.example.com\"\n";
    Seed(body);
    LoadAll();
    EXPECT_EQ(settings_.Accounts[0].Connection, "B");
    EXPECT_EQ(settings_.Accounts[0].Name, "x");
    EXPECT_EQ(settings_.Accounts[0].POPHost, "pop.example.com");
    EXPECT_EQ(settings_.Accounts[1].Name, "y");
    EXPECT_EQ(settings_.Accounts[1].MaxMails, "5");
    EXPECT_EQ(settings_.Accounts[2].Connection, "");  // NORAS has no key, so no accounts

    body = kServiceLine + kParametersLine;
    for (int i = 0; i < 126; ++i) {
        body += KeyLine("A\\a" + std::to_string(1000 + i));
        body += KeyLine("B\\b" + std::to_string(1000 + i));
    }
    Seed(body);
    LoadAll();
    EXPECT_EQ(AccountCount(settings_.Accounts), 251u);
    EXPECT_EQ(settings_.Accounts[125].Name, "a1125");
    EXPECT_EQ(settings_.Accounts[250].Name, "b1124");  // b1125, the 252nd, is not loaded
}

TEST_F(LoadTest, NamesWithBlanksAtTheEndsAreReadTrimmedAndTheirValuesMissed) {
    Seed(kServiceLine + kParametersLine + KeyLine(" Blank ") + "\"TimeOut\"=dword:00000001\n");
    LoadAll();
    EXPECT_EQ(settings_.Connections[0], (ConnectionRecord{"Blank", "0", "600"}));
}

// Every value of a key comes with one read, every key is listed once: a full configuration
// costs a few calls per key, not three per value (which would be over 15,000).
TEST_F(LoadTest, AFullConfigurationLoadsWithAFewCallsPerKey) {
    Seed(kServiceLine);
    for (std::size_t c = 0; c < kConnectionSlots; ++c) {
        settings_.Connections[c] = {c == 0 ? "NORAS" : "V" + std::to_string(100 + c), "1", "600"};
    }
    for (std::size_t a = 0; a < kAccountSlots; ++a) {
        AccountRecord& r = settings_.Accounts[a];
        r.Connection = settings_.Connections[a % kConnectionSlots].Name;
        r.Name = "k" + std::to_string(1000 + a);
        for (const auto& field : layout::kAccountValues) r.*field.field = field.IsNumber() ? "7" : "x";
    }
    ASSERT_EQ(store_->SaveSettings().result, SaveResult::Saved);

    // Once one read after another, once with the reads overlapping as for a remote registry:
    // the same model, in as few calls.
    std::optional<Settings> first;
    for (const bool overlapping : {false, true}) {
        platform::CountingRegistry counter(*registry_);
        platform::LatencyRegistry remote(counter, std::chrono::microseconds(0));
        Settings loaded;
        InitSettings(loaded);
        ConfigStore store(overlapping ? static_cast<platform::RegistryApi&>(remote) : counter, loaded);
        ASSERT_EQ(store.Api().ConnectRegistry("", platform::kHKeyLocalMachine, &loaded.RootKey),
                  platform::error::kSuccess);
        store.LoadGlobalSettings();
        store.LoadConnections();
        store.LoadAccounts();
        EXPECT_LE(counter.Total(), 800u) << overlapping;
        EXPECT_EQ(AccountCount(loaded.Accounts), kAccountSlots);
        EXPECT_EQ(loaded.Accounts[250].MaxMails, "7");
        EXPECT_EQ(loaded.Accounts[250].SMTPTo, "x");
        if (!first) first = loaded;
        EXPECT_EQ(loaded.Connections, first->Connections);
        EXPECT_EQ(loaded.Accounts, first->Accounts);
    }
}

TEST_F(LoadTest, ALongTextIsCutTo255Characters) {
    Seed(kServiceLine + kParametersLine + "\"BDWDir\"=\"" + std::string(300, 'd') + "\"\n");
    LoadAll();
    EXPECT_EQ(settings_.Global.BDWDir, std::string(255, 'd'));
}

}  // namespace
}  // namespace kelvaston::config::test
