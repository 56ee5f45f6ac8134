// Saving the configuration: a text the registry cannot store. What the saved tree holds is
// checked against the full rewrite (save_differential_test); a save that loads back, a later one
// that writes only what changed, and a failure at any registry call of a save: store.txt.
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
