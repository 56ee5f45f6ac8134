// The configuration store driven by scripts (store.txt): a stored configuration, loads, edits of
// the model as the window makes them, saves, and checks of the whole model, the whole stored tree
// and the value library's reads and writes where they stand in the script; the removal of a
// list's slot; and a text the registry cannot store, on registries with and without transactions,
// and on one whose code page holds ASCII only.
// (What the saved tree holds is checked against the full rewrite: save_differential_test.cpp.)

#include <chrono>

#include "full_rewrite_save.h"
#include "platform/text.h"
#include "platform/value_library.h"
#include "support/ascii_code_page.h"
#include "support/fault_injecting_registry.h"
#include "support/script.h"
#include "support/without_transactions.h"

namespace kelvaston::config::test {
namespace {

const std::vector<std::string> kVerbs = {
    "seed",           "mark",   "forget",        "load",       "reconnect",
    "left-out",       "remove", "set",           "see",        "save",
    "same",           "empty",  "global",        "connection", "account",
    "model",          "keep",   "kept",          "restore",    "delete-account",
    "save-counted",   "read",   "load-through",  "counts",     "write",
    "fail-each-call", "cut",    "load-refusing", "linux"};

ScriptNames configs;  // the configurations of the script
const std::vector<ScriptCase> kCases = ReadScript(KELVASTON_STORE_SCRIPT, kVerbs, configs);

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
    for (int i = static_cast<int>(kAccountSlots) - 1; i >= 0; --i) {  // from the end: what
        const AccountRecord& a = settings.Accounts[static_cast<std::size_t>(i)];  // moves up
        if (!a.Name.empty() && (a.Connection == path || a.Connection + "\\" + a.Name == path))
            DeleteAccount(settings.Accounts, i);  // was seen
    }
}

// A record from its values separated by '|': the names first, then the fields in table order.
template <class Record, std::size_t N>
Record Parse(const std::string& text, const std::array<Field<Record>, N>& fields,
             std::vector<std::string Record::*> names) {
    Record record{};
    const std::vector<std::string> parts = Split(text, '|');
    EXPECT_EQ(parts.size(), names.size() + N) << "values in " << text;
    for (const auto& f : fields) names.push_back(f.field);
    for (std::size_t i = 0; i < std::min(parts.size(), names.size()); ++i)
        record.*names[i] = parts[i];
    return record;
}

// A field of the model by its stored value's name: "global ProxyHost", "account 1 SMTP To".
template <class Record, std::size_t N>
std::string* FieldOf(Record& record, const std::array<Field<Record>, N>& fields,
                     const std::string& name) {
    if constexpr (requires { record.Name; }) {
        if (name == "Name") return &record.Name;
    }
    if constexpr (requires { record.Connection; }) {
        if (name == "Connection") return &record.Connection;
    }
    for (const auto& f : fields) {
        if (name == f.name) return &(record.*f.field);
    }
    ADD_FAILURE() << "no such value: " << name;
    return nullptr;
}

const std::map<std::string, platform::Status> kStatus = {
    {"success", error::kSuccess},
    {"more-data", error::kMoreData},
    {"invalid-data", error::kInvalidData},
    {"not-found", error::kFileNotFound},
    {"invalid-parameter", error::kInvalidParameter}};
const std::map<std::string, SaveResult> kResults = {{"Saved", SaveResult::Saved},
                                                    {"ServiceMissing", SaveResult::ServiceMissing}};

// Opens the keys named `name` (the last part of the path, in any case) for reading only, as a
// key whose permissions allow no more does.
class ReadOnlyKeys final : public platform::RegistryDecorator {
public:
    ReadOnlyKeys(platform::RegistryApi& inner, std::string name)
        : RegistryDecorator(inner), name_(std::move(name)) {}
    platform::Status OpenKeyEx(Key parent, const std::string& subKey, std::uint32_t options,
                               std::uint32_t access, Key* result) override {
        const std::string last = subKey.substr(subKey.rfind('\\') + 1);
        if ((access & ~platform::kKeyRead) == 0 || !platform::text::EqualsNoCase(last, name_))
            return RegistryDecorator::OpenKeyEx(parent, subKey, options, access, result);
        *result = platform::kNullKey;
        return error::kAccessDenied;
    }

protected:
    std::optional<platform::Status> Before(platform::Call /*call*/) override {
        return std::nullopt;
    }

private:
    std::string name_;
};

class StoreScript : public StoreTest, public ::testing::WithParamInterface<ScriptCase> {
protected:
    // One line of a script.
    void Run(const std::string& word, const std::string& rest) {
        const std::vector<std::string> args = Split(rest, ' ');
        if (word == "seed") {
            seeded_.clear();
            for (const std::string& name : args) seeded_ += configs.at(name);
            Seed(seeded_);
        } else if (word == "mark") {
            marked_ = ServiceTree();
        } else if (word == "forget") {
            EXPECT_TRUE(Remove(marked_, rest)) << "not in the tree";
        } else if (word == "load") {
            LoadAll();
        } else if (word == "load-through") {
            platform::CountingRegistry counter(*registry_);
            platform::LatencyRegistry remote(counter, std::chrono::microseconds(0));
            InitSettings(settings_);
            ConfigStore store(
                args.at(0) == "overlapping" ? static_cast<platform::RegistryApi&>(remote) : counter,
                settings_);
            LoadAll(store);
            EXPECT_LE(counter.Total(), std::stoul(args.at(1)));
        } else if (word == "load-refusing") {
            ReadOnlyKeys refusing(*registry_, rest);
            InitSettings(settings_);
            ConfigStore store(refusing, settings_);
            LoadAll(store);
        } else if (word == "counts") {
            EXPECT_EQ(std::to_string(ConnectionCount(settings_.Connections)) + " " +
                          std::to_string(AccountCount(settings_.Accounts)),
                      rest);
        } else if (word == "reconnect") {
            Connect();
        } else if (word == "left-out") {
            EXPECT_EQ(settings_.Loaded.ConnectionsLeftOut ? "yes" : "no", args.at(0));
            EXPECT_EQ(settings_.Loaded.AccountsLeftOut ? "yes" : "no", args.at(1));
        } else if (word == "remove") {
            RemoveInWindow(settings_, rest);
        } else if (word == "delete-account") {
            DeleteAccount(settings_.Accounts, std::stoi(rest));
        } else if (word == "set") {
            *Field(args) = Quoted(rest);
        } else if (word == "see") {
            EXPECT_EQ(*Field(args), Quoted(rest));
        } else if (word == "save") {
            const SaveOutcome outcome = store_->SaveSettings();
            EXPECT_EQ(outcome.result, kResults.at(rest)) << Describe(outcome);
        } else if (word == "save-counted") {  // a save through a counter: SETS values written
            platform::CountingRegistry counter(*registry_);
            ASSERT_EQ(StoreOver(counter)->SaveSettings().result, SaveResult::Saved);
            EXPECT_EQ(counter.Count(platform::Call::SetValueEx), std::stoul(rest));
            EXPECT_EQ(counter.Count(platform::Call::DeleteKey) +
                          counter.Count(platform::Call::DeleteValue),
                      0u);
        } else if (word == "cut") {
            const std::size_t arrow = rest.find(" => ");
            EXPECT_EQ(CutAtNul(Quoted(rest.substr(0, arrow))), Quoted(rest.substr(arrow + 4)));
        } else if (word == "fail-each-call") {
            FailEachCall();
        } else if (word == "same") {
            EXPECT_EQ(ServiceTree(), marked_);
        } else if (word == "empty") {
            EXPECT_EQ(ServiceTree(), Tree());
        } else if (word == "global") {
            expected_.Global = Parse(rest, kGlobalFields, {});
        } else if (word == "connection") {
            expected_.Connections[ConnectionCount(expected_.Connections)] =
                Parse(rest, kConnectionFields, {&ConnectionRecord::Name});
        } else if (word == "account") {
            expected_.Accounts[AccountCount(expected_.Accounts)] =
                Parse(rest, kAccountFields, {&AccountRecord::Connection, &AccountRecord::Name});
        } else if (word == "model") {  // the model is what the lines since the last said
            EXPECT_EQ(settings_.Global, expected_.Global);
            EXPECT_EQ(settings_.Connections, expected_.Connections);
            EXPECT_EQ(settings_.Accounts, expected_.Accounts);
            expected_ = {};
        } else if (word == "keep") {
            kept_ = settings_;
        } else if (word == "restore") {
            settings_ = kept_;
        } else if (word == "kept") {
            EXPECT_EQ(settings_.Global, kept_.Global);
            EXPECT_EQ(settings_.Connections, kept_.Connections);
            EXPECT_EQ(settings_.Accounts, kept_.Accounts);
        } else if (word == "read") {
            Read(args.at(0), static_cast<std::uint32_t>(std::stoul(args.at(1))),
                 kStatus.at(args.at(2)), Quoted(rest));
        } else if (word == "write") {
            Write(std::stoi(args.at(0)), static_cast<std::uint32_t>(std::stoul(args.at(1))),
                  kStatus.at(args.at(2)), args.at(3), Quoted(rest));
        } else {
            ADD_FAILURE() << "not understood";
        }
    }

    // Fails the N-th registry call of a save of the kept model on what was seeded last, for every
    // N: the registry (and the disk) then holds the new configuration and the save says saved, or
    // the old one and the save names the failed step; no key the save opened stays open.
    void FailEachCall() {
        Seed(seeded_);
        const Tree oldTree = ServiceTree();
        settings_ = kept_;
        ASSERT_EQ(StoreOver(*registry_)->SaveSettings().result, SaveResult::Saved);
        const Tree newTree = ServiceTree();
        // On the file store, whose transactions undo a failed save, and as on a registry
        // without them, where the save must put back what it changed.
        for (const bool transactions : {true, false}) {
            std::size_t failed = 0, k = 1;
            for (;; ++k) {
                SCOPED_TRACE("call " + std::to_string(k) + (transactions ? " with" : " without") +
                             " transactions");
                Seed(seeded_);
                settings_ = kept_;
                kelvaston::test::FaultInjectingRegistry faulty(*registry_);
                kelvaston::test::WithoutTransactions without(faulty);
                const auto store =
                    StoreOver(transactions ? static_cast<platform::RegistryApi&>(faulty) : without);
                faulty.FailNth(std::nullopt, k, error::kAccessDenied);
#ifndef _WIN32
                const std::size_t open = OpenKeys();
#endif
                const SaveOutcome outcome = store->SaveSettings();
#ifndef _WIN32
                EXPECT_EQ(OpenKeys(), open + faulty.ClosesRefused())
                    << "a key the save opened is still open";
#endif
                const bool saved = outcome.result == SaveResult::Saved;
                if (!faulty.Fired()) {  // every call has failed once
                    EXPECT_TRUE(saved && ServiceTree() == newTree) << Describe(outcome);
                    break;
                }
                failed += !saved;
                EXPECT_NE(outcome.result, SaveResult::FailedNotRestored);
                if (outcome.result == SaveResult::FailedRestored) {
                    EXPECT_NE(outcome.step, SaveStep::None);
                    EXPECT_EQ(outcome.status, error::kAccessDenied) << Describe(outcome);
                }
                ASSERT_EQ(ServiceTree(), saved ? newTree : oldTree) << Describe(outcome);
                Connect();
                ASSERT_EQ(ServiceTree(), saved ? newTree : oldTree)
                    << "on disk: " << Describe(outcome);
            }
            EXPECT_GT(failed, k / 3);
        }
    }

    // The text in quotes at the end of a line.
    static std::string Quoted(const std::string& rest) {
        const auto text = Unquote(rest.substr(std::min(rest.find('"'), rest.size())));
        if (!text) ADD_FAILURE() << "no text in quotes";
        return text.value_or("");
    }

    // A field of the model: "global NAME", "connection N NAME" or "account N NAME", NAME the
    // stored value's name.
    std::string* Field(const std::vector<std::string>& args) {
        const std::string& record = args.at(0);
        const std::size_t at =
            record == "global" ? 0 : static_cast<std::uint32_t>(std::stoul(args.at(1)));
        const std::size_t nameAt = record == "global" ? 1 : 2;
        std::string name = args.at(nameAt);
        for (std::size_t i = nameAt + 1; i < args.size() && !args[i].starts_with('"'); ++i)
            name += " " + args[i];
        std::string* field = record == "global" ? FieldOf(settings_.Global, kGlobalFields, name)
                             : record == "connection"
                                 ? FieldOf(settings_.Connections[at], kConnectionFields, name)
                                 : FieldOf(settings_.Accounts[at], kAccountFields, name);
        static std::string none;
        return field != nullptr ? field : &none;
    }

    // The value library's read of NAME (below Parameters, or below a key of it: KEY\NAME) into a
    // buffer of SIZE characters of 4 bytes: its status, and the buffer holding TEXT and its NUL
    // where they fit, and the '#' it was filled with everywhere else.
    void Read(const std::string& path, std::uint32_t size, platform::Status status,
              const std::string& text) {
        const std::size_t slash = path.rfind('\\');
        const std::string key = layout::kParametersKey +
                                (slash == std::string::npos ? "" : "\\" + path.substr(0, slash));
        std::string buffer(255 * 4 + 1, '#');
        platform::ValueLibrary values(*registry_);
        EXPECT_EQ(values.GetValue(root_, key, path.substr(slash + 1), 1, buffer.data(), size),
                  status);
        const std::string held =
            text.empty() ? "" : text + (text.size() < size * 4 ? std::string(1, '\0') : "");
        EXPECT_EQ(buffer, held + std::string(buffer.size() - held.size(), '#'));
    }

    // The value library's write of TEXT as a value W of TYPE in Parameters, SIZE its length:
    // its status, and what is then stored as TYPE:BYTES (bytes in hex, as .reg text), or none.
    void Write(int type, std::uint32_t size, platform::Status status, const std::string& stored,
               const std::string& text) {
        platform::Key key = platform::kNullKey;
        ASSERT_EQ(registry_->CreateKey(root_, layout::kParametersKey, &key), error::kSuccess);
        registry_->DeleteValue(key, "W");
        EXPECT_EQ(platform::ValueLibrary(*registry_).SetValue(key, "W", type, text, size), status);
        platform::RegValue value;
        std::string shown = "none";
        if (registry_->QueryKeyValue(key, "", "W", &value) == error::kSuccess) {
            shown = std::to_string(value.type) + ":";
            for (const char byte : value.data) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02x,", static_cast<unsigned char>(byte));
                shown += hex;
            }
            shown.pop_back();
        }
        EXPECT_EQ(shown, stored);
        registry_->CloseKey(key);
    }

    std::string seeded_;      // the configurations "seed" made the registry last
    Tree marked_;             // the stored tree as "mark" found it, with "forget"s since
    Settings expected_ = {};  // the model as the "global", "connection" and "account" lines say
    Settings kept_;           // the model as "keep" found it
};

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

// A text the registry cannot store fails the save, which names the value and the character (on
// Windows one the ANSI code page lacks, everywhere a byte that is no UTF-8) and leaves the stored
// configuration as it was: a registry with transactions drops the changes, one without them has
// the stored configuration put back. When that registry refuses to remove keys, so that it cannot
// be put back, the save says so.
TEST_F(StoreTest, ATextTheRegistryCannotStoreIsNamedAndUndone) {
#ifdef _WIN32
    const std::string unstorable = "\xC4\x81";  // ā: no Western code page has it
#else
    const std::string unstorable = "\xE9";
#endif
    for (const bool transactions : {true, false}) {
        // The put-back refused at its first deletion, or at the flush that makes it permanent.
        for (const auto refused :
             {std::optional<platform::Call>(), std::optional(platform::Call::DeleteKey),
              std::optional(platform::Call::FlushKey)}) {
            SCOPED_TRACE(testing::Message()
                         << "transactions " << transactions << ", put-back refused at "
                         << (refused ? platform::CallName(*refused) : "no call"));
            Seed(configs.at("stored"));
            const Tree before = ServiceTree();
            LoadAll();
            settings_.Global.ProxyHost = "proxy.example.org";
            settings_.Accounts[1].SMTPTo = "m" + unstorable + "ller@example.com";
            kelvaston::test::WithoutTransactions plain(*registry_);
            kelvaston::test::FaultInjectingRegistry faulty(
                transactions ? static_cast<platform::RegistryApi&>(*registry_) : plain);
            const auto store = StoreOver(faulty);
            if (refused) faulty.FailNth(*refused, 1, error::kAccessDenied, true);
            const SaveOutcome outcome = store->SaveSettings();
#ifdef _WIN32
            const bool dropped =
                false;  // advapi32 has no transactions: the stored tree is put back
#else
            const bool dropped = transactions;
#endif
            const bool undone = dropped || !refused;
            EXPECT_EQ(outcome.result,
                      undone ? SaveResult::FailedRestored : SaveResult::FailedNotRestored);
            if (!undone) continue;
            EXPECT_EQ(ServiceTree(), before);
            if (refused) continue;
            EXPECT_EQ(outcome.step, SaveStep::WriteValue);
            EXPECT_EQ(outcome.value, "SMTP To");
            EXPECT_EQ(outcome.unstorable, unstorable);
        }
    }
}

// What the save names is the character it cannot store whole, whatever its length, and nothing
// after it.
TEST_F(StoreTest, ACharacterAnAsciiRegistryCannotStoreIsNamedWhole) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        // account name, SMTP To, the character named
        {"m\xC3\xBCller", "x", "\xC3\xBC"},
        {"info", "x\xC3\xBC", "\xC3\xBC"},
        {"info", "\xE2\x82\xAC!", "\xE2\x82\xAC"},
        {"info", "a\xF0\x9F\x98\x80\xC3\xBC", "\xF0\x9F\x98\x80"},
        {"\xF0\x9F\x98\x80", "x", "\xF0\x9F\x98\x80"}};
    for (const auto& [name, to, named] : cases) {
        Seed(configs.at("stored"));
        LoadAll();
        settings_.Accounts[1].Name = name;
        settings_.Accounts[1].SMTPTo = to;
        kelvaston::test::AsciiCodePage ascii(*registry_);
        const SaveOutcome outcome = StoreOver(ascii)->SaveSettings();
        EXPECT_EQ(outcome.status, error::kNoUnicodeTranslation) << name << " " << to;
        EXPECT_EQ(outcome.unstorable, named) << name << " " << to;
    }
}

TEST_P(StoreScript, EndsWithTheExpectedTreeAndModel) {
    ASSERT_EQ(GetParam().problem, "");
    for (const ScriptStep& step : GetParam().steps) {
        SCOPED_TRACE(step.where);
#ifdef _WIN32
        if (step.verb == "linux") return;
#endif
        if (step.verb == "linux") continue;
        Run(step.verb, step.rest);
        if (HasFatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Script, StoreScript, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return TestName(param.param); });

}  // namespace
}  // namespace kelvaston::config::test
