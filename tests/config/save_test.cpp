// Saving the configuration: what a save writes and what it reads back as, and that a save
// failing at any registry call leaves the old or the new configuration and says which step
// failed. What the saved tree holds is checked against the full rewrite (save_differential_test);
// a save that loads back and a later one that writes only what changed: store.txt.
#include "store_fixture.h"
#include "support/without_transactions.h"

namespace kelvaston::config::test {
namespace {

const std::string kStored =
    kServiceLine + "\"DisplayName\"=\"Tolvane Mail\"\n" + kParametersLine +
    "\"BDWDir\"=\"d:\\\\html\"\n" + "\"DebugLevel\"=dword:00000002\n" + KeyLine("Arcor") +
    "\"TimeOut\"=dword:00000384\n" + KeyLine("Arcor\\vertrieb") +
    "\"POP Host\"=\"pop.example.net\"\n\"Enable KeepAlive\"=dword:00000001\n" +
    KeyLine("Arcor\\info") + KeyLine("NORAS") + "\"Enable Logging\"=dword:00000001\n" +
    KeyLine("volatile") + "\"Running\"=dword:00000001\n";

using SaveTest = StoreTest;

// Fail the N-th registry call of a save, for every N: the registry (and the disk) then holds the
// new configuration and the save says saved, or the old one and the save names the failed step.
// Once with a stored configuration full of keys to remove, once with no Parameters key yet.
TEST_F(SaveTest, AFailureAtAnyCallLeavesTheOldOrTheNewConfiguration) {
    for (const std::string& stored :
         {kStored + KeyLine(" Blank ") + KeyLine("volatile\\deep"), kServiceLine}) {
        const auto edit = [](Settings& s) {
            s.Global.ProxyHost = "proxy.example.org";
            s.Connections[0].TimeOut = "1200";
            AccountRecord& added =
                s.Accounts[AccountCount(s.Accounts)];  // its numbers empty: saved as 0
            added.Connection = "NORAS";
            added.Name = "neu";
        };
        Seed(stored);
        const Tree oldTree = ServiceTree();
        LoadAll();
        edit(settings_);
        platform::CountingRegistry counter(*registry_);
        const auto counted = StoreOver(counter);
        counter.Reset();
        ASSERT_EQ(counted->SaveSettings().result, SaveResult::Saved);
        const Tree newTree = ServiceTree();
        const std::size_t calls = counter.Total();
        std::size_t failed = 0;
        for (std::size_t k = 1; k <= calls; ++k) {
            SCOPED_TRACE("call " + std::to_string(k) + " of " + std::to_string(calls));
            Seed(stored);
            LoadAll();
            edit(settings_);
            platform::FaultInjectingRegistry faulty(*registry_);
            const auto store = StoreOver(faulty);
            faulty.FailNth(std::nullopt, k, error::kAccessDenied);
#ifndef _WIN32
            const std::size_t open = OpenKeys();
#endif
            const SaveOutcome outcome = store->SaveSettings();
            ASSERT_TRUE(faulty.Fired());
#ifndef _WIN32
            EXPECT_EQ(OpenKeys(), open + faulty.ClosesRefused())
                << "a key the save opened is still open";
#endif
            const bool saved = outcome.result == SaveResult::Saved;
            failed += !saved;
            EXPECT_NE(outcome.result, SaveResult::FailedNotRestored);
            if (outcome.result == SaveResult::FailedRestored) {
                EXPECT_NE(outcome.step, SaveStep::None);
                EXPECT_EQ(outcome.status, error::kAccessDenied) << Describe(outcome);
            }
            ASSERT_EQ(ServiceTree(), saved ? newTree : oldTree) << Describe(outcome);
            Connect();
            ASSERT_EQ(ServiceTree(), saved ? newTree : oldTree) << "on disk: " << Describe(outcome);
        }
        EXPECT_GT(failed, calls / 3);
    }
}

// A text the registry cannot store fails the save, which names the value and the character (on
// Windows one the ANSI code page lacks, everywhere a byte that is no UTF-8) and leaves the stored
// configuration as it was: a registry with transactions drops the changes, one without them has
// the stored configuration put back. When that registry refuses to remove keys, so that it cannot
// be put back, the save says so.
TEST_F(SaveTest, ATextTheRegistryCannotStoreIsNamedAndUndone) {
#ifdef _WIN32
    const std::string unstorable = "\xC4\x81";  // ā: no Western code page has it
#else
    const std::string unstorable = "\xE9";
#endif
    for (const bool transactions : {true, false}) {
        for (const bool refuseRestore : {false, true}) {
            SCOPED_TRACE(testing::Message() << "transactions " << transactions
                                            << ", restore refused " << refuseRestore);
            Seed(kStored);
            const Tree before = ServiceTree();
            LoadAll();
            settings_.Global.ProxyHost = "proxy.example.org";
            settings_.Accounts[1].SMTPTo = "m" + unstorable + "ller@example.com";
            kelvaston::test::WithoutTransactions plain(*registry_);
            platform::FaultInjectingRegistry faulty(
                transactions ? static_cast<platform::RegistryApi&>(*registry_) : plain);
            const auto store = StoreOver(faulty);
            if (refuseRestore)
                faulty.FailNth(platform::Call::DeleteKey, 1, error::kAccessDenied, true);
            const SaveOutcome outcome = store->SaveSettings();
#ifdef _WIN32
            const bool dropped =
                false;  // advapi32 has no transactions: the stored tree is put back
#else
            const bool dropped = transactions;
#endif
            const bool undone = dropped || !refuseRestore;
            EXPECT_EQ(outcome.result,
                      undone ? SaveResult::FailedRestored : SaveResult::FailedNotRestored);
            if (!undone) continue;
            EXPECT_EQ(ServiceTree(), before);
            if (refuseRestore) continue;
            EXPECT_EQ(outcome.step, SaveStep::WriteValue);
            EXPECT_EQ(outcome.value, "SMTP To");
            EXPECT_EQ(outcome.unstorable, unstorable);
        }
    }
}

}  // namespace
}  // namespace kelvaston::config::test
