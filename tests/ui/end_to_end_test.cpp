// One session as a user works: start on the sample configuration, add, fill in, copy, rename,
// delete, save and quit; then the store holds exactly end-to-end.golden.reg (compared key by key
// and value by value, so the order the registry lists them in does not matter). For a wanted
// change, run the test once with KELVASTON_UPDATE_GOLDEN=1 (it rewrites the file and fails) and
// review it.
#include <QDir>
#include <algorithm>
#include <map>

#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

// Key path -> value name -> value.
using Tree = std::map<std::string, std::map<std::string, platform::regfile::Value>>;

Tree Parse(const std::string& bytes) {
    const auto parsed = platform::regfile::Parse(bytes);
    EXPECT_TRUE(parsed.document) << parsed.error.message;
    Tree tree;
    for (const auto& entry : parsed.document ? parsed.document->entries : decltype(parsed.document->entries){}) {
        std::string path;
        for (const auto& name : entry.path) path += (path.empty() ? "" : "\\") + name;
        auto& values = tree[path];
        if (entry.kind == platform::regfile::EntryKind::SetValue) values[entry.value.name] = entry.value;
    }
    return tree;
}

class EndToEnd : public WindowTest {};

TEST_F(EndToEnd, AUsersSessionReachesTheStoreFileExactly) {
    Start(Sample());
    bool ended = false;
    editor_->SetExitAction([&] { ended = true; });
    // A new connection, with a new account filled in on the pages.
    dialogs_.ExpectInput("Vodafone");
    Press(0);
    Click("Vodafone");
    W().ConnectionEnableLogging->click();
    Type(W().ConnectionTimeOut, "2,5");
    Click("Vodafone");  // a click in the tree keeps the page's edits; a command would not
    dialogs_.ExpectInput("shop");
    Press(1);
    Click("Vodafone\\shop");
    Type(W().AccountPOPHost, "pop.example.net");
    Type(W().AccountPOPUser, "shop");
    Type(W().AccountPOPPasswort, "geheim \"1\"");
    Type(W().AccountSMTPHost, "smtp.example.com");
    Type(W().AccountSMTPTo, "shop@example.com");
    W().AccountEnableUDP->click();

    // A copy of an existing account into it, the target typed in other letter case.
    Click("NORAS\\info");
    dialogs_.ExpectInput("VODAFONE");
    dialogs_.ExpectInput("info2");
    Press(8);

    // Rename one connection, delete another with its accounts.
    Click("T-Online");
    dialogs_.ExpectInput("Telekom");
    Press(10);
    Click("Arcor ISDN");
    dialogs_.ExpectMessage(Answer::Yes);
    Press(7);

    Press(3);
    Press(4);
    EXPECT_TRUE(ended);

    const std::string golden = KELVASTON_UI_TESTS_DIR "/end-to-end.golden.reg";
    if (UpdateGolden(golden, Saved())) return;
    if (Parse(Saved()) != Parse(kelvaston::test::ReadFile(golden))) {
        const std::string saved = QDir::temp().filePath("kelvaston-end-to-end.reg").toStdString();
        kelvaston::test::WriteFile(saved, Saved());
        ADD_FAILURE() << "the store differs from " << golden << "; it holds now: " << saved;
    }

}

// Another program changes the stored configuration while the window is open: it removes a
// connection, adds another and changes a value the window shows. A save then leaves what the
// window shows, with its edit, whatever the other program did, and keeps the connection the
// window never showed; read again, the window shows the same and that one. (On Linux the other
// program is a store of its own on the same file; on Windows the registry itself.)
TEST_F(EndToEnd, ASaveAfterAnotherProgramsChangesLeavesWhatTheWindowShows) {
    Start(Sample());
#ifdef _WIN32
    platform::Win32Registry other;
#else
    platform::FileStoreRegistry other(platform::FileStoreOptions{dir_.Path(), "Desk1"});
#endif
    const std::string parameters = kServicePath + "\\Parameters";
    const auto otherSets = [&](const std::string& path, const std::string& name, std::uint32_t type, const std::string& data) {
        platform::Key key = platform::kNullKey;
        ASSERT_EQ(other.CreateKey(platform::kHKeyLocalMachine, parameters + "\\" + path, &key), 0);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        ASSERT_EQ(other.SetValueEx(key, name, type, bytes, static_cast<std::uint32_t>(data.size())), 0);
        other.CloseKey(key);
    };
    for (const bool edited : {false, true}) {
        SCOPED_TRACE(edited ? "with an edit" : "without an edit");
        platform::Key key = platform::kNullKey;
        ASSERT_EQ(other.OpenKeyEx(platform::kHKeyLocalMachine, parameters, 0, platform::kKeyAllAccess, &key), 0);
        ASSERT_EQ(platform::DeleteTree(other, key, "T-Online"), 0);
        other.CloseKey(key);
        otherSets("Extra", "TimeOut", platform::kRegDword, std::string("\x3c\0\0\0", 4));
        otherSets("NORAS\\info", "POP Host", platform::kRegSz, std::string("other.example", 14));
        if (edited) {
            Click("T-Online");
            Type(W().ConnectionTimeOut, "5");
            Click("T-Online");
        }
        config::Settings shown = Model();
        Press(3);
        EXPECT_EQ(Saved().find("other.example"), std::string::npos);
        EXPECT_NE(Saved().find(edited ? "\"TimeOut\"=dword:0000012c" : "Parameters\\T-Online]"), std::string::npos);
        Press(2);
        EXPECT_EQ(Model().Global, shown.Global);
        EXPECT_EQ(Model().Accounts, shown.Accounts);
        // The window now shows the other program's connection too, where the registry lists it.
        auto& connections = shown.Connections;
        if (std::none_of(connections.begin(), connections.end(), [](auto& c) { return c.Name == "Extra"; })) {
            const auto at = std::find_if(connections.begin(), connections.end(), [](auto& c) { return c.Name > "Extra"; });
            std::move_backward(at, connections.end() - 1, connections.end());
            *at = config::ConnectionRecord{"Extra", "0", "60"};
        }
        EXPECT_EQ(Model().Connections, connections);
    }
}

}  // namespace
}  // namespace kelvaston::ui::test
