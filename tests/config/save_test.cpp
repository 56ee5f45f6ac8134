// Saving the configuration: what the stored keys hold afterwards, what is left alone, and that a
// save that fails anywhere leaves the stored configuration as it was.
#include <algorithm>

#include "platform/registry_decorators.h"
#include "store_fixture.h"

namespace kelvaston::config::test {
namespace {

namespace error = platform::error;

std::vector<std::string> ValueNames(const platform::KeyTree& key) {
    std::vector<std::string> names;
    for (const auto& v : key.values) names.push_back(v.name);
    return names;
}

std::string ValueData(const platform::KeyTree& key, const std::string& name) {
    for (const auto& v : key.values) {
        if (v.name == name) return v.data;
    }
    return "<missing>";
}

std::string Dword(std::uint32_t n) {
    return std::string{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                       static_cast<char>((n >> 16) & 0xFF), static_cast<char>(n >> 24)};
}

const std::string kStored =
    kServiceLine + "\"DisplayName\"=\"Tolvane Mail\"\n" +
    "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Enum]\n\"Count\"=dword:00000001\n" +
    kParametersLine + "\"BDWDir\"=\"d:\\\\html\"\n\"DebugLevel\"=dword:00000002\n" + KeyLine("Arcor") +
    "\"TimeOut\"=dword:00000384\n" + KeyLine("Arcor\\vertrieb") + "\"POP Host\"=\"pop.example.net\"\n" +
    "\"Enable KeepAlive\"=dword:00000001\n" + KeyLine("Arcor\\info") + KeyLine("NORAS") +
    "\"Enable Logging\"=dword:00000001\n" + KeyLine("volatile") + "\"Running\"=dword:00000001\n" +
    "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"Keep\"=\"me\"\n";

using SaveTest = StoreTest;

TEST_F(SaveTest, AModelWithOnlyNorasWritesTheGlobalsAndNoras) {
    Seed(kServiceLine);
    LoadAll();
    const SaveOutcome outcome = store_->SaveSettings();
    ASSERT_EQ(outcome.result, SaveResult::Saved) << outcome.failedStep;
    const platform::KeyTree service = ServiceTree();
    const platform::KeyTree* parameters = Find(service, "Parameters");
    ASSERT_NE(parameters, nullptr);
    EXPECT_EQ(ValueNames(*parameters), (std::vector<std::string>{"BDWDir", "DebugLevel", "Listen RAS", "ProxyHost",
                                                                 "ProxyPort", "TickerEMail", "TriggerPort"}));
    ASSERT_EQ(parameters->children.size(), 1u);
    const platform::KeyTree& noras = parameters->children[0];
    EXPECT_EQ(noras.name, "NORAS");
    EXPECT_EQ(ValueData(noras, "Enable Logging"), Dword(0));
    EXPECT_EQ(ValueData(noras, "TimeOut"), Dword(0));  // empty, so 0 rather than the 600 of a load
    EXPECT_EQ(settings_.Connections[0].TimeOut, "0");
}

TEST_F(SaveTest, TheStoredConnectionsAndAccountsBecomeExactlyTheModels) {
    Seed(kStored);
    LoadAll();
    // The user removes "Arcor" with its accounts and adds an account to NORAS with empty fields.
    settings_.Connections[0] = settings_.Connections[1];
    settings_.Connections[1] = {};
    settings_.Accounts[0] = AccountRecord{};
    settings_.Accounts[0].Connection = "NORAS";
    settings_.Accounts[0].Name = "neu";
    settings_.Accounts[1] = AccountRecord{};
    settings_.Accounts[1].Connection = "Ghost";
    settings_.Accounts[1].Name = "lost";
    settings_.Accounts[1].MaxMails = "7";
    ASSERT_EQ(store_->SaveSettings().result, SaveResult::Saved);

    const platform::KeyTree service = ServiceTree();
    const platform::KeyTree* parameters = Find(service, "Parameters");
    ASSERT_NE(parameters, nullptr);
    std::vector<std::string> keys;
    for (const auto& child : parameters->children) keys.push_back(child.name);
    EXPECT_EQ(keys, (std::vector<std::string>{"Ghost", "NORAS"}));  // Arcor and volatile are gone
    EXPECT_TRUE(Find(service, "Ghost") == nullptr);
    EXPECT_TRUE(Find(*parameters, "Ghost")->values.empty());  // created on the account's path only
    EXPECT_EQ(ValueData(*Find(*parameters, "NORAS"), "Enable Logging"), Dword(1));

    const platform::KeyTree* account = Find(*parameters, "NORAS\\neu");
    ASSERT_NE(account, nullptr);
    std::vector<std::string> expected;
    for (const auto& field : layout::kAccountValues) expected.push_back(field.name);
    EXPECT_EQ(ValueNames(*account), expected);
    EXPECT_EQ(ValueData(*account, "Max Mails"), Dword(0));
    EXPECT_EQ(ValueData(*account, "LogFile"), "");
    EXPECT_EQ(ValueData(*account, "UDP Port"), Dword(0));
    EXPECT_EQ(settings_.Accounts[0].MaxMails, "0");  // the model now says what was stored
    EXPECT_EQ(ValueData(*Find(*parameters, "Ghost\\lost"), "Max Mails"), Dword(7));

    // Nothing outside the Parameters key changed.
    EXPECT_EQ(ValueData(service, "DisplayName"), "Tolvane Mail");
    EXPECT_EQ(ValueData(*Find(service, "Enum"), "Count"), Dword(1));
    EXPECT_EQ(TextValue("SOFTWARE\\Other", "Keep"), "me");
}

TEST_F(SaveTest, ASavedModelLoadsBackUnchangedAndReachesTheDisk) {
    Seed(kStored);
    LoadAll();
    settings_.Accounts[0].POPPasswort = "geheim \"mit\" \\ und \xC3\xA4";
    settings_.Global.ProxyHost = "proxy.example.org";
    ASSERT_EQ(store_->SaveSettings().result, SaveResult::Saved);
    const Settings saved = settings_;

    Connect();  // a new store on the file alone, as after a restart
    LoadAll();
    EXPECT_EQ(settings_.Global, saved.Global);
    EXPECT_EQ(settings_.Connections, saved.Connections);
    EXPECT_EQ(settings_.Accounts, saved.Accounts);
    EXPECT_EQ(settings_.Accounts[1].EnableKeepAlive, "1");  // carried through the save
}

TEST_F(SaveTest, WithoutTheServiceNothingIsWritten) {
    Seed("\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services]\n");
#ifndef _WIN32
    const std::string before = kelvaston::test::ReadFile(dir_ / "Desk1.reg");
#endif
    LoadAll();
    const SaveOutcome outcome = store_->SaveSettings();
    EXPECT_EQ(outcome.result, SaveResult::ServiceMissing);
    EXPECT_TRUE(ServiceTree().name.empty());  // not created
#ifndef _WIN32
    registry_.reset();
    EXPECT_EQ(kelvaston::test::ReadFile(dir_ / "Desk1.reg"), before);
#endif
}

// A save writes only what differs: nothing when nothing changed (and one read per stored key,
// however many values), one value when one changed.
TEST_F(SaveTest, ASaveWritesOnlyWhatChanged) {
    Seed(kStored);
    LoadAll();
    ASSERT_EQ(store_->SaveSettings().result, SaveResult::Saved);  // the stored tree as the model has it
    for (const bool change : {false, true}) {
        if (change) settings_.Accounts[0].POPHost = "pop.example.org";
        platform::CountingRegistry counter(*registry_);
        ASSERT_EQ(ConfigStore(counter, settings_).SaveSettings().result, SaveResult::Saved);
        EXPECT_EQ(counter.Count(platform::Call::SetValueEx), change ? 1u : 0u);
        EXPECT_EQ(counter.Count(platform::Call::CreateKey), change ? 2u : 0u);  // Parameters and the account
        EXPECT_EQ(counter.Count(platform::Call::DeleteKey) + counter.Count(platform::Call::DeleteValue), 0u);
        EXPECT_EQ(counter.Count(platform::Call::QueryKeyContents), 5u);  // Parameters, 2 connections, 2 accounts
    }
}

TEST_F(SaveTest, ANumberThatIsNoNumberFailsTheSaveAndKeepsTheStoredOne) {
    Seed(kStored);
    LoadAll();
    const platform::KeyTree before = ServiceTree();
    settings_.Accounts[1].MaxMails = "zehn";
    const SaveOutcome outcome = store_->SaveSettings();
    EXPECT_EQ(outcome.result, SaveResult::FailedRestored);
    EXPECT_NE(outcome.failedStep.find("Max Mails"), std::string::npos) << outcome.failedStep;
    EXPECT_NE(outcome.failedStep.find("Arcor\\vertrieb"), std::string::npos) << outcome.failedStep;
    EXPECT_EQ(ServiceTree(), before);
}

// A text the registry cannot store fails the save, which names the value and the character:
// on Windows a character the ANSI code page lacks, everywhere a byte that is no UTF-8.
TEST_F(SaveTest, ATextTheRegistryCannotStoreNamesItsCharacter) {
    Seed(kStored);
    LoadAll();
    const platform::KeyTree before = ServiceTree();
#ifdef _WIN32
    const std::string unstorable = "\xC4\x81";  // ā: no Western code page has it
#else
    const std::string unstorable = "\xE9";
#endif
    settings_.Accounts[1].SMTPTo = "m" + unstorable + "ller@example.com";
    const SaveOutcome outcome = store_->SaveSettings();
    EXPECT_EQ(outcome.result, SaveResult::FailedRestored);
    EXPECT_EQ(outcome.value, "SMTP To");
    EXPECT_EQ(outcome.unstorable, unstorable);
    EXPECT_EQ(ServiceTree(), before);
}

// Keys the configuration does not know (names with blanks at their ends, which a load reads
// trimmed; more keys than the removal's passes; subkeys of accounts and of "volatile") are
// removed by their real names: the save succeeds, and so does the next one.
TEST_F(SaveTest, KeysTheConfigurationDoesNotKnowNeverLockTheSaveOut) {
    std::string many;
    for (int i = 0; i < 51; ++i) many += KeyLine("C" + std::to_string(100 + i));
    for (const std::string& stored : {kStored + KeyLine(" Blank ") + KeyLine(" Blank \\x "),
                                      many + KeyLine("volatile"), kStored + KeyLine("volatile\\deep\\deeper"),
                                      kStored + KeyLine("Arcor\\info\\Extra")}) {
        Seed(stored);
        LoadAll();
        for (int round = 1; round <= 2; ++round) {
            const SaveOutcome outcome = store_->SaveSettings();
            ASSERT_EQ(outcome.result, SaveResult::Saved) << "round " << round << ": " << outcome.failedStep;
        }
        std::vector<std::string> connections;
        for (std::size_t i = 0; i < ConnectionCount(settings_.Connections); ++i) {
            connections.push_back(settings_.Connections[i].Name);
        }
        std::sort(connections.begin(), connections.end());
        const platform::KeyTree service = ServiceTree();
        std::vector<std::string> keys;
        for (const auto& key : Find(service, "Parameters")->children) keys.push_back(key.name);
        EXPECT_EQ(keys, connections);
    }
}

// Whichever removal the registry itself refuses: the passes that go by the trimmed names pass
// over it and the save goes on, or the save fails, names the key and the reason, and leaves the
// stored configuration as it was.
TEST_F(SaveTest, ARemovalTheRegistryRefusesIsNamedAndChangesNothing) {
    const std::string stored = kStored + KeyLine(" Blank ");
    Seed(stored);
    LoadAll();
    const platform::KeyTree before = ServiceTree();
    const Settings model = settings_;
    int refused = 0;
    for (std::size_t nth = 1;; ++nth) {
        platform::FaultInjectingRegistry faulty(*registry_);
        faulty.FailNth(platform::Call::DeleteKey, nth, error::kAccessDenied);
        settings_ = model;
        const SaveOutcome outcome = ConfigStore(faulty, settings_).SaveSettings();
        if (!faulty.Fired()) break;
        if (outcome.result == SaveResult::Saved) {
            Seed(stored);
            continue;
        }
        ++refused;
        EXPECT_EQ(outcome.result, SaveResult::FailedRestored) << nth;
        EXPECT_EQ(outcome.step, SaveStep::RemoveStored) << nth;
        EXPECT_EQ(outcome.status, error::kAccessDenied) << nth;
        EXPECT_FALSE(outcome.key.empty()) << nth;
        EXPECT_EQ(ServiceTree(), before) << nth;
    }
    EXPECT_GT(refused, 0);
}

// A registry that refuses the save's first write, and after it every removal of a key: the copy
// that guards the save cannot be put back, and the save must say so rather than claim it was.
class RefusingTheRestore final : public platform::RegistryDecorator {
public:
    using RegistryDecorator::RegistryDecorator;

protected:
    std::optional<platform::Status> Before(platform::Call call) override {
        if (call == platform::Call::SetValueEx && !refused_) {
            refused_ = true;
            return error::kAccessDenied;
        }
        if (call == platform::Call::DeleteKey && refused_) return error::kAccessDenied;
        return std::nullopt;
    }

private:
    bool refused_ = false;
};

TEST_F(SaveTest, ACopyThatCannotBePutBackIsReportedAsSuch) {
    Seed(kStored);
    LoadAll();
    RefusingTheRestore refusing(*registry_);
    const SaveOutcome outcome = ConfigStore(refusing, settings_).SaveSettings();
    EXPECT_EQ(outcome.result, SaveResult::FailedNotRestored);
    EXPECT_EQ(outcome.step, SaveStep::WriteValue);
}

// Whichever registry call of a save fails, the stored configuration afterwards is either the
// old one (and the outcome says so) or the new one (and the outcome says saved), in memory and
// on disk.
TEST_F(SaveTest, AFailureAtAnyCallLeavesTheOldOrTheNewConfiguration) {
    const auto edit = [](Settings& s) {
        s.Connections[1].TimeOut = "1200";
        s.Accounts[0].POPUser = "neu";
        s.Accounts[1] = s.Accounts[0];
        s.Accounts[1].Connection = "NORAS";
    };
    Seed(kStored);
    const platform::KeyTree oldTree = ServiceTree();
    LoadAll();
    edit(settings_);
    platform::CountingRegistry counter(*registry_);
    ConfigStore counted(counter, settings_);
    ASSERT_EQ(counted.SaveSettings().result, SaveResult::Saved);
    const platform::KeyTree newTree = ServiceTree();
    const std::size_t calls = counter.Total();
    ASSERT_GT(calls, 50u);

    std::size_t failedSaves = 0;
    for (std::size_t k = 1; k <= calls; ++k) {
        Seed(kStored);
        LoadAll();
        edit(settings_);
        platform::FaultInjectingRegistry faulty(*registry_);
        faulty.FailNth(std::nullopt, k, error::kAccessDenied);
        ConfigStore store(faulty, settings_);
        const SaveOutcome outcome = store.SaveSettings();
        ASSERT_TRUE(faulty.Fired()) << k;
        const platform::KeyTree& expected = outcome.result == SaveResult::Saved ? newTree : oldTree;
        ASSERT_NE(outcome.result, SaveResult::FailedNotRestored) << "call " << k << ": " << outcome.failedStep;
        ASSERT_EQ(ServiceTree(), expected) << "call " << k << " outcome " << static_cast<int>(outcome.result);
        failedSaves += outcome.result != SaveResult::Saved;

        Connect();  // what reached the disk
        ASSERT_EQ(ServiceTree(), expected) << "on disk, call " << k;
    }
    EXPECT_GT(failedSaves, calls / 2);
}

}  // namespace
}  // namespace kelvaston::config::test
