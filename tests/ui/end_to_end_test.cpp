// One session as a user works: start on the sample configuration, add, fill in, copy, rename,
// delete, save and quit; then the store file on disk holds exactly what was done.
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <map>

#include "platform/reg_file.h"
#include "support/value_printer.h"
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

using platform::regfile::Value;
// Key path (below HKEY_LOCAL_MACHINE) -> value name -> value.
using Tree = std::map<std::string, std::map<std::string, Value>>;

Tree Parse(const std::string& bytes) {
    const auto parsed = platform::regfile::Parse(bytes);
    EXPECT_TRUE(parsed.document) << parsed.error.message;
    Tree tree;
    if (!parsed.document) return tree;
    for (const auto& entry : parsed.document->entries) {
        std::string path;
        for (const auto& name : entry.path) path += (path.empty() ? "" : "\\") + name;
        auto& values = tree[path];
        if (entry.kind == platform::regfile::EntryKind::SetValue) values[entry.value.name] = entry.value;
    }
    return tree;
}

const std::string kParametersPath = "SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters";

// The keys below the Parameters key, and everything else.
Tree Below(const Tree& tree, bool inside) {
    Tree part;
    for (const auto& [path, values] : tree) {
        const bool below = path.rfind(kParametersPath + "\\", 0) == 0;
        if (below == inside) part.emplace(below ? path.substr(kParametersPath.size() + 1) : path, values);
    }
    return part;
}

std::vector<QString> TreePaths(POPConfig& window) {
    std::vector<QString> paths;
    for (QTreeWidgetItemIterator it(window.GlobalList); *it; ++it) {
        paths.push_back((*it)->parent() ? (*it)->parent()->text(0) + '\\' + (*it)->text(0) : (*it)->text(0));
    }
    return paths;
}

Value Dword(const std::string& name, std::uint32_t n) {
    return {name, platform::kRegDword,
            std::string{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                        static_cast<char>((n >> 16) & 0xFF), static_cast<char>(n >> 24)}};
}
Value Text(const std::string& name, const std::string& text) { return {name, platform::kRegSz, text}; }

class EndToEnd : public WindowTest {};

TEST_F(EndToEnd, AUsersSessionReachesTheStoreFileExactly) {
    const std::string sample = kelvaston::test::ReadFile(KELVASTON_EXAMPLES_DIR "/sample.reg");
    Start(sample.substr(sample.find('\n') + 1));
    bool ended = false;
    editor_->SetExitAction([&] { ended = true; });
    const auto press = [&](int toolbar) { W().Symbolleiste[static_cast<std::size_t>(toolbar)]->click(); };

    // A new connection, with a new account filled in on the pages.
    dialogs_.ExpectInput("Vodafone");
    press(0);
    Click("Vodafone");
    W().ConnectionEnableLogging->click();
    Type(W().ConnectionTimeOut, "2,5");
    Click("Vodafone");  // a click in the tree keeps the page's edits; a command would not
    dialogs_.ExpectInput("shop");
    press(1);
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
    press(8);

    // Rename one connection, delete another with its accounts.
    Click("T-Online");
    dialogs_.ExpectInput("Telekom");
    press(10);
    Click("Arcor ISDN");
    dialogs_.ExpectMessage(Answer::Yes);
    press(7);

    press(3);
    press(4);
    EXPECT_TRUE(ended);

    const Tree before = Parse(sample);
    const Tree after = Parse(Saved());
    EXPECT_EQ(Below(after, false), Below(before, false)) << "something outside the connections changed";

    const Tree stored = Below(after, true);
    std::vector<std::string> keys;
    for (const auto& [path, values] : stored) keys.push_back(path);
    EXPECT_EQ(keys, (std::vector<std::string>{"NORAS", "NORAS\\info", "NORAS\\vertrieb", "Telekom",
                                              "Telekom\\k.schmidt", "Telekom\\m.mueller", "Vodafone",
                                              "Vodafone\\info2", "Vodafone\\shop"}));
    const Tree old = Below(before, true);
    EXPECT_EQ(stored.at("Telekom"), old.at("T-Online"));
    EXPECT_EQ(stored.at("Telekom\\k.schmidt"), old.at("T-Online\\k.schmidt"));
    EXPECT_EQ(stored.at("NORAS\\info"), old.at("NORAS\\info"));
    EXPECT_EQ(stored.at("Vodafone\\info2"), old.at("NORAS\\info"));
    EXPECT_EQ(stored.at("Vodafone"), (std::map<std::string, Value>{{"Enable Logging", Dword("Enable Logging", 1)},
                                                                    {"TimeOut", Dword("TimeOut", 150)}}));
    std::map<std::string, Value> shop = {
        {"Addressmode", Dword("Addressmode", 3)},
        {"Addressmode Ticker", Dword("Addressmode Ticker", 0)},
        {"Command", Text("Command", "")},
        {"Enable Account", Dword("Enable Account", 1)},
        {"Enable Command", Dword("Enable Command", 0)},
        {"Enable From UDP", Dword("Enable From UDP", 0)},
        {"Enable KeepAlive", Dword("Enable KeepAlive", 0)},
        {"Enable UDP", Dword("Enable UDP", 1)},
        {"Enable Wissenschaft", Dword("Enable Wissenschaft", 0)},
        {"LogFile", Text("LogFile", "c:\\Log.txt")},
        {"Max Mails", Dword("Max Mails", 10)},
        {"POP Delete", Dword("POP Delete", 1)},
        {"POP Host", Text("POP Host", "pop.example.net")},
        {"POP Passwort", Text("POP Passwort", "geheim \"1\"")},
        {"POP User", Text("POP User", "shop")},
        {"SMTP From", Text("SMTP From", "")},
        {"SMTP Host", Text("SMTP Host", "smtp.example.com")},
        {"SMTP To", Text("SMTP To", "shop@example.com")},
        {"UDP Port", Dword("UDP Port", 15002)},
    };
    EXPECT_EQ(stored.at("Vodafone\\shop"), shop);

    // A fresh start shows the same tree (the accounts of a connection now in the registry's order).
    std::vector<QString> shown = TreePaths(W());
    std::sort(shown.begin(), shown.end());
    editor_.reset();
    window_.reset();
    registry_.reset();
    Start(Saved().substr(sample.find('\n') + 1));
    for (int i = 0; i < W().GlobalList->topLevelItemCount(); ++i) W().GlobalList->topLevelItem(i)->setExpanded(true);
    std::vector<QString> reloaded = TreePaths(W());
    EXPECT_EQ(reloaded.front(), "NORAS");
    std::sort(reloaded.begin(), reloaded.end());
    EXPECT_EQ(reloaded, shown);
}

}  // namespace
}  // namespace kelvaston::ui::test
