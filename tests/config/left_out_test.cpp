// Keys the load leaves out of its lists (connections past the 51 indexes it looks at, accounts
// past 251 in a connection or in all) are neither shown nor lost: a save keeps them, with
// everything below them, exactly as stored, and removes only what the user removed. Checked on
// whole stored trees around both limits.
#include "full_rewrite_save.h"

namespace kelvaston::config::test {
namespace {

// Values as a save writes them back unchanged: every value of the table, numbers not 0 (a
// NORAS written with the empty record would show), texts not empty.
template <class Record, std::size_t N>
std::string Canonical(const std::array<Field<Record>, N>& fields) {
    std::string lines;
    for (const auto& f : fields)
        lines += "\"" + std::string(f.name) + (f.type == 4 ? "\"=dword:0000003c\n" : "\"=\"t\"\n");
    return lines;
}

std::string Connection(const std::string& name) {
    return KeyLine(name) + Canonical(kConnectionFields);
}
std::string Account(const std::string& path) {
    return KeyLine(path) + Canonical(kAccountFields);
}

// Removes the key `path` (below Parameters) and everything below it from a service's tree;
// false when it is not there.
bool Remove(Tree& service, const std::string& path) {
    const std::string key = "Parameters\\" + path;
    return std::erase_if(
        service, [&](const auto& k) { return k.first == key || k.first.starts_with(key + "\\"); });
}

// What the window does when the user removes a connection (with its accounts) or an account.
void RemoveInWindow(Settings& settings, const std::string& path) {
    for (std::size_t i = 0; i < kConnectionSlots; ++i) {
        if (settings.Connections[i].Name == path)
            DeleteConnection(settings.Connections, static_cast<int>(i));
    }
    for (int i = static_cast<int>(kAccountSlots) - 1; i >= 0;
         --i) {  // from the end: what moves up was seen
        const AccountRecord& a = settings.Accounts[static_cast<std::size_t>(i)];
        if (!a.Name.empty() && (a.Connection == path || a.Connection + "\\" + a.Name == path)) {
            DeleteAccount(settings.Accounts, i);
        }
    }
}

// A stored tree (`body`, below the Parameters line), whether the load leaves connections or
// accounts out (which the window mentions), and a loaded connection or "connection\\account" that
// the user then removes.
struct Case {
    std::string what, body;
    bool connectionsLeftOut, accountsLeftOut;
    std::string removedInWindow;
};

// Stored keys sort without regard to case: "A…" < "NORAS" < "volatile" < "Z…"; " " first.
std::vector<Case> Cases() {
    std::vector<Case> cases;
    const auto many = [](const std::string& prefix, int count) {
        std::string body;
        for (int i = 0; i < count; ++i) {
            const std::string name = prefix + std::to_string(100 + i);
            body += Connection(name) + Account(name + "\\info");
        }
        return body;
    };
    const std::string noras = Connection("NORAS") + Account("NORAS\\info");
    const std::string service =
        KeyLine("volatile") + "\"Running\"=dword:00000001\n" + KeyLine("volatile\\state");
    for (const int keys : {50, 51, 52, 60}) {  // connection keys, NORAS among them
        const std::string n = std::to_string(keys);
        // NORAS the last key: past the 51 indexes looked at from 52 keys on; "volatile" after it.
        cases.push_back(
            {n + " keys, NORAS last", many("A", keys - 1) + noras, keys > 51, false, "A100"});
        cases.push_back({n + " keys, NORAS then volatile", many("A", keys - 1) + noras + service,
                         keys > 51, false, "A100"});
        // "volatile" at index 11 takes up one of the 51: from 51 keys on the last ones are left
        // out.
        cases.push_back({n + " keys, volatile among the first 51",
                         many("A", 10) + noras + service + many("Z", keys - 11), keys > 50, false,
                         "Z100"});
        // A name of blanks first, which is no connection: NORAS past the indexes is read into the
        // free slot, its values and accounts as stored.
        cases.push_back({n + " keys after a blank name",
                         KeyLine(" ") + "\"x\"=\"1\"\n" + many("A", keys - 1) + noras, true, false,
                         "A100"});
    }
    // Accounts: one connection with 250 to 260 of them; two whose 251st, 252nd account is the
    // second's last; a name of blanks, which ends a connection's list.
    for (const int count : {250, 251, 252, 260}) {
        std::string body = Connection("NORAS") + Connection("Ost");
        for (int i = 0; i < count; ++i) body += Account("Ost\\k" + std::to_string(1000 + i));
        // Below an account left out, a key the save would not write.
        if (count > 251)
            body += KeyLine("Ost\\k" + std::to_string(999 + count) + "\\unten") +
                    "\"frei\"=hex:01,02\n";
        cases.push_back({std::to_string(count) + " accounts in one connection", body, false,
                         count > 251, "Ost\\k1000"});
    }
    for (const int second : {124, 125, 126}) {
        std::string body = Connection("NORAS") + Connection("Ost") + Connection("West");
        for (int i = 0; i < 126; ++i) body += Account("Ost\\k" + std::to_string(1000 + i));
        for (int i = 0; i < second; ++i) body += Account("West\\k" + std::to_string(1000 + i));
        const std::string n = std::to_string(126 + second);
        cases.push_back(
            {n + " accounts in two, one removed", body, false, second > 125, "Ost\\k1000"});
        cases.push_back({n + " accounts in two, the second connection removed", body, false,
                         second > 125, "West"});
    }
    cases.push_back({"an account named with blanks",
                     Connection("NORAS") + Connection("Ost") + KeyLine("Ost\\ ") +
                         Account("Ost\\x") + Account("NORAS\\info"),
                     false, true, "NORAS\\info"});
    return cases;
}

using LeftOutTest = StoreTest;

// Load and save with no edit: the stored tree stays as it was ("volatile", the service's own key,
// goes as before). Load, remove one loaded connection or account as the window does, save: the
// stored tree loses that key and nothing else.
TEST_F(LeftOutTest, ASaveKeepsEveryKeyTheLoadLeftOut) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        Seed(kServiceLine + kParametersLine + Canonical(kGlobalFields) + c.body);
        Tree expected = ServiceTree();
        Remove(expected, "volatile");
        LoadAll();
        EXPECT_EQ(settings_.Loaded.ConnectionsLeftOut, c.connectionsLeftOut);
        EXPECT_EQ(settings_.Loaded.AccountsLeftOut, c.accountsLeftOut);
        ASSERT_EQ(store_->SaveSettings().result, SaveResult::Saved);
        ASSERT_EQ(ServiceTree(), expected);

        Connect();
        LoadAll();
        RemoveInWindow(settings_, c.removedInWindow);
        ASSERT_EQ(store_->SaveSettings().result, SaveResult::Saved);
        ASSERT_TRUE(Remove(expected, c.removedInWindow));
        EXPECT_EQ(ServiceTree(), expected);
    }
}

// The load remembers the keys it read by name, not how many it looked at: keys another program
// adds before the save (sorting before the loaded ones, so that the indexes shift) are kept,
// and a key the user removed is removed even when it now stands past the 51st index.
TEST_F(LeftOutTest, KeysAddedSinceTheLoadAreKeptAndShiftNothing) {
    std::string body;
    for (int i = 0; i < 51; ++i) body += Connection("M" + std::to_string(100 + i));
    Seed(kServiceLine + kParametersLine + Canonical(kGlobalFields) + body + Connection("NORAS"));
    LoadAll();
    ASSERT_TRUE(settings_.Loaded.ConnectionsLeftOut);
    RemoveInWindow(settings_, "M150");
    // Meanwhile another program adds three connections.
    std::string added;
    for (const char* name : {"A1", "A2", "A3"}) added += Connection(name);
    Settings model = settings_;
    Seed(kServiceLine + kParametersLine + Canonical(kGlobalFields) + added + body +
         Connection("NORAS"));
    Tree expected = ServiceTree();
    ASSERT_TRUE(Remove(expected, "M150"));
    settings_ = model;
    ASSERT_EQ(store_->SaveSettings().result, SaveResult::Saved);
    EXPECT_EQ(ServiceTree(), expected);
}

}  // namespace
}  // namespace kelvaston::config::test
