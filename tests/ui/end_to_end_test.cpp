// One session as a user works: start on the sample configuration, add, fill in, copy, rename,
// delete, save and quit; then the store holds exactly end-to-end.golden.reg (compared key by key
// and value by value, so the order the registry lists them in does not matter). For a wanted
// change, run the test once with KELVASTON_UPDATE_GOLDEN=1 (it rewrites the file) and review it.
#include <QDir>
#include <map>

#include "platform/reg_file.h"
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
    const std::string sample = kelvaston::test::ReadFile(KELVASTON_EXAMPLES_DIR "/sample.reg");
    Start(sample.substr(sample.find('\n') + 1));
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
    if (qEnvironmentVariableIsSet("KELVASTON_UPDATE_GOLDEN")) kelvaston::test::WriteFile(golden, Saved());
    if (Parse(Saved()) != Parse(kelvaston::test::ReadFile(golden))) {
        const std::string saved = QDir::temp().filePath("kelvaston-end-to-end.reg").toStdString();
        kelvaston::test::WriteFile(saved, Saved());
        ADD_FAILURE() << "the store differs from " << golden << "; it holds now: " << saved;
    }

}

}  // namespace
}  // namespace kelvaston::ui::test
