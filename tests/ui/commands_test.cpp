// The toolbar commands through the real window and the dialog seam.
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

class CommandTest : public WindowTest {
protected:
    void Press(int toolbar) { W().Symbolleiste[static_cast<std::size_t>(toolbar)]->click(); }

    std::vector<std::string> Connections() {
        std::vector<std::string> names;
        for (const auto& c : Model().Connections) names.push_back(c.Name);
        while (!names.empty() && names.back().empty()) names.pop_back();
        return names;
    }
    std::vector<std::string> Accounts() {
        std::vector<std::string> names;
        for (const auto& a : Model().Accounts) names.push_back(a.Connection + "\\" + a.Name);
        while (!names.empty() && names.back() == "\\") names.pop_back();
        return names;
    }
    const ScriptedDialogs::Shown& LastBox() { return dialogs_.Boxes().back(); }
    // A message box expected to come, answered with `answer`.
    void Answer(ui::Answer answer) { dialogs_.ExpectMessage(answer); }
    void Enter(const QString& text) { dialogs_.ExpectInput(text); }
};

const std::string kTwo = kService + kParameters + Key("Arcor") + Key("Arcor\\info") + Key("Arcor\\vertrieb") +
                         Key("NORAS") + Key("NORAS\\info") + Key("Zeta") + Key("Zeta\\z1");

TEST_F(CommandTest, NewConnectionRefusesDuplicatesAfterTrimmingButNotInOtherCase) {
    Start(kTwo);
    Enter(" NORAS ");
    Answer(Answer::Ok);
    Press(0);
    EXPECT_EQ(LastBox().text, "Diese Verbindung existiert schon. Wählen Sie einen anderen Namen");
    EXPECT_EQ(LastBox().title, "Verbindung");
    EXPECT_EQ(LastBox().style, MessageStyle::Information);
    Enter("   ");  // blanks only: equal to the trimmed empty name of the first free slot
    Answer(Answer::Ok);
    Press(0);
    Enter("");  // Cancel
    Press(0);
    EXPECT_EQ(Connections(), (std::vector<std::string>{"Arcor", "NORAS", "Zeta"}));

    Click("Zeta");
    Enter("noras ");
    Press(0);
    EXPECT_EQ(dialogs_.Boxes()[5].initial, "neue Verbindung");
    EXPECT_EQ(Connections(), (std::vector<std::string>{"Arcor", "NORAS", "Zeta", "noras "}));
    EXPECT_EQ(Model().Connections[3].TimeOut, "60");
    EXPECT_EQ(Model().Connections[3].EnableLogging, "");
    // The closing refresh shows the first connection, not the new one.
    EXPECT_EQ(W().SelectedNode()->text(0), "Arcor");
    Click("noras ");
    EXPECT_EQ(W().ConnectionTimeOut->text(), "1");
}

TEST_F(CommandTest, NewConnectionOnAFullListAddsNothingAndSaysNothing) {
    std::string body = kService + kParameters;
    for (int i = 0; i < 51; ++i) body += Key("C" + std::to_string(100 + i));
    Start(body);
    Enter("neu");
    Press(0);
    EXPECT_EQ(Connections().size(), 51u);
    EXPECT_EQ(Connections().back(), "C150");
    EXPECT_EQ(dialogs_.Boxes().size(), 1u);  // the input box only
}

TEST_F(CommandTest, RenameWalksBothListsInUpperCase) {
    Start(kService + kParameters + Key("Mail") + Key("Mail\\a") + Key("NORAS") + Key("Post") + Key("Post\\b"));
    // The same name in other letter case, as a user could have typed it before.
    Model().Connections[3].Name = "MAIL";
    Model().Accounts[2].Connection = "MAIL";
    Model().Accounts[2].Name = "c";
    editor_->BuildTree();
    editor_->ShowSettings("Mail", "a");  // an account's page shows its connection: that one is renamed

    Enter("Post");  // another connection's name: refused
    Answer(Answer::Ok);
    Press(10);
    EXPECT_EQ(dialogs_.Boxes()[0].initial, "Mail");
    EXPECT_EQ(LastBox().text, "Diese Verbindung existiert schon. Wählen Sie einen anderen Namen");

    Enter("Neu ");
    Press(10);
    EXPECT_EQ(Connections(), (std::vector<std::string>{"Neu ", "NORAS", "Post", "Neu "}));
    EXPECT_EQ(Accounts(), (std::vector<std::string>{"Neu \\a", "Post\\b", "Neu \\c"}));
    EXPECT_EQ(W().ConnectionName->text(), "Neu ");

    Enter("");  // Cancel changes nothing
    Press(10);
    EXPECT_EQ(Connections(), (std::vector<std::string>{"Neu ", "NORAS", "Post", "Neu "}));

    Click("NORAS");
    Answer(Answer::Ok);
    Press(10);
    EXPECT_EQ(LastBox().text, "Diese Verbindung kann nicht umbenannt werden");
    EXPECT_EQ(LastBox().style, MessageStyle::Warning);
}

TEST_F(CommandTest, RenameWithoutAShownConnectionAsksForOne) {
    dialogs_.ExpectMessage(Answer::Ok);  // start-up: no service
    Start("\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n");
    Answer(Answer::Ok);
    Press(10);
    EXPECT_EQ(LastBox().text, "Wählen Sie zuerst eine Verbindung aus");
    EXPECT_EQ(LastBox().title, "keine Verbindung");
}

TEST_F(CommandTest, RemoveConnectionTakesItsAccountsAndKeepsTheListsPacked) {
    Start(kTwo);
    Click("Arcor\\info");  // an account node does not count
    Answer(Answer::Ok);
    Press(7);
    EXPECT_EQ(LastBox().text, "Wählen Sie zuerst eine Verbindung aus");

    Click("NORAS");
    Answer(Answer::Ok);
    Press(7);
    EXPECT_EQ(LastBox().text, "Diese Verbindung darf nicht gelöscht werden.");
    EXPECT_EQ(LastBox().style, MessageStyle::Plain);

    Click("Arcor");
    Answer(Answer::No);
    Press(7);
    EXPECT_EQ(LastBox().style, MessageStyle::Question);
    EXPECT_EQ(Connections().size(), 3u);

    Answer(Answer::Yes);
    Press(7);
    EXPECT_EQ(Connections(), (std::vector<std::string>{"NORAS", "Zeta"}));
    EXPECT_EQ(Accounts(), (std::vector<std::string>{"NORAS\\info", "Zeta\\z1"}));
    EXPECT_EQ(W().SelectedNode()->text(0), "NORAS");
}

TEST_F(CommandTest, NorasInOtherLetterCaseCanBeRemoved) {
    Start(kService + kParameters + Key("NORAS"));
    Model().Connections[1].Name = "Noras";  // one key in the registry, two names in the model
    Model().Accounts[0].Connection = "Noras";
    Model().Accounts[0].Name = "x";
    editor_->BuildTree();
    Click("Noras");
    Answer(Answer::Yes);
    Press(7);
    EXPECT_EQ(Connections(), std::vector<std::string>{"NORAS"});
    EXPECT_TRUE(Accounts().empty());
}

TEST_F(CommandTest, ChooseComputerUpperCasesTheNameAndLoadsItsConfiguration) {
#ifdef _WIN32
    GTEST_SKIP() << "a second computer's registry is a store file; Windows would need a second computer";
#endif
    kelvaston::test::WriteFile(dir_ / "SERVER2.reg", kHeader + kService + kParameters + Key("Fern"));
    Start(kTwo);
    W().OptionComputerLocal->click();
    ASSERT_TRUE(W().Symbolleiste[5]->isEnabled());
    Enter("server2");
    Press(5);
    EXPECT_EQ(dialogs_.Boxes()[0].initial, Local());
    EXPECT_EQ(Model().ComputerName, "SERVER2");
    EXPECT_EQ(W().GlobalComputerName->text(), "SERVER2");
    EXPECT_EQ(Connections(), (std::vector<std::string>{"Fern", "NORAS"}));
    EXPECT_EQ(W().ConnectionName->text(), "Fern");

    Enter("nirgendwo");
    Answer(Answer::Ok);
    Press(5);
    EXPECT_EQ(LastBox().text, "Verbindung mit Computer NIRGENDWO kann nicht hergestellt werden.");
    EXPECT_TRUE(Connections().empty());
}

TEST_F(CommandTest, ReadingAgainDropsUnsavedEdits) {
    Start(kTwo);
    Enter("Neu");
    Press(0);
    ASSERT_EQ(Connections().size(), 4u);
    Press(2);
    EXPECT_EQ(Connections(), (std::vector<std::string>{"Arcor", "NORAS", "Zeta"}));
    EXPECT_EQ(W().StatusMessage(), "Einstellungen lesen");
}

TEST_F(CommandTest, SaveTakesThePagesBackAndReportsWhatFailed) {
    Start(kTwo);
    Click("Arcor\\vertrieb");
    Type(W().AccountPOPHost, "pop.example.org");
    Press(3);
    EXPECT_TRUE(dialogs_.Boxes().empty());
    EXPECT_EQ(Model().Accounts[1].POPHost, "pop.example.org");
    EXPECT_NE(Saved().find("\"POP Host\"=\"pop.example.org\""),
              std::string::npos);

    const std::string before = Saved();
    Type(W().AccountMaxMails, "viele");
    Answer(Answer::Ok);
    Press(3);
    EXPECT_EQ(LastBox().title, "Fehler");
    EXPECT_EQ(LastBox().style, MessageStyle::Critical);
    EXPECT_TRUE(LastBox().text.contains("\"Max Mails\" (\"viele\") von \"Arcor\\vertrieb\""));
    EXPECT_TRUE(LastBox().text.contains("unverändert"));
    EXPECT_EQ(Saved(), before);
}

TEST_F(CommandTest, SaveWithoutTheServiceSaysSo) {
    dialogs_.ExpectMessage(Answer::Ok);
    Start("\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n");
    Answer(Answer::Ok);
    Press(3);
    EXPECT_EQ(LastBox().text, "Der Service ist auf diesem Rechner nicht installiert");
    EXPECT_EQ(LastBox().title, "Fehler");
    EXPECT_EQ(LastBox().style, MessageStyle::Warning);
}

TEST_F(CommandTest, ExitEndsAtOnceWithoutSaving) {
    Start(kTwo);
    bool ended = false;
    editor_->SetExitAction([&] { ended = true; });
    Enter("Neu");
    Press(0);
    const std::string before = Saved();
    Press(4);
    EXPECT_TRUE(ended);
    EXPECT_EQ(Saved(), before);
    editor_->OnToolbar(11);  // no such toolbar: nothing happens
    editor_->OnToolbar(-1);
}

TEST_F(CommandTest, NewAccountGoesToTheSelectedConnectionAndLeavesNoNodeSelected) {
    Start(kTwo);
    Click("Zeta\\z1");  // an account node: its connection gets the new account
    Enter(" z1 ");
    Answer(Answer::Ok);
    Press(1);
    EXPECT_EQ(LastBox().text, "Dieser Account existiert schon. Wählen Sie einen anderen Namen");
    Enter("Z1");  // other letter case: accepted
    Press(1);
    EXPECT_EQ(Accounts().back(), "Zeta\\Z1");
    const config::AccountRecord& added = Model().Accounts[4];
    EXPECT_EQ(added.EnableAccount, "1");
    EXPECT_EQ(added.LogFile, "c:\\Log.txt");
    EXPECT_EQ(added.UDPPort, "15002");
    EXPECT_EQ(W().SelectedNode(), nullptr);
    EXPECT_EQ(W().AccountPOPHost->isEnabled(), true);  // the pages still show z1

    // The next click takes back only the global values, then shows the node clicked.
    Type(W().AccountPOPHost, "verloren.example.com");
    Click("Zeta\\Z1");
    EXPECT_EQ(Model().Accounts[3].POPHost, "");
    EXPECT_EQ(W().AccountMaxMails->text(), "10");

    Click("NORAS");
    Enter("vertrieb");  // a name another connection uses: accepted, behind all others
    Press(1);
    EXPECT_EQ(Accounts().back(), "NORAS\\vertrieb");
    EXPECT_EQ(Accounts()[2], "NORAS\\info");
}

TEST_F(CommandTest, RemoveAccountRemovesOnlyTheSelectedOne) {
    Start(kTwo);
    Click("NORAS\\info");
    Answer(Answer::No);
    Press(6);
    EXPECT_EQ(LastBox().text, "Möchten Sie den Account wirklich löschen?");
    EXPECT_EQ(Accounts().size(), 4u);
    Answer(Answer::Yes);
    Press(6);
    EXPECT_EQ(Accounts(), (std::vector<std::string>{"Arcor\\info", "Arcor\\vertrieb", "Zeta\\z1"}));

    Click("Arcor");  // a connection node is no account
    Answer(Answer::Ok);
    Press(6);
    EXPECT_EQ(LastBox().text, "Wählen Sie zuerst einen Account aus");
}

TEST_F(CommandTest, CopyAccountFindsTheTargetInAnyCaseAndAsksBeforeOverwriting) {
    Start(kService + kParameters + Key("Arcor") + Key("Arcor\\info") + "\"POP Host\"=\"a.example.com\"\n" +
          Key("NORAS") + Key("NORAS\\info") + "\"POP Host\"=\"n.example.com\"\n" + Key("Zeta") + Key("Zeta\\z1"));
    Click("NORAS\\info");
    Enter("zeta");
    Enter("kopie");
    Press(8);
    EXPECT_EQ(dialogs_.Boxes()[1].initial, "info");
    EXPECT_EQ(Accounts().back(), "Zeta\\kopie");  // the connection's name as stored
    EXPECT_EQ(Model().Accounts[3].POPHost, "n.example.com");  // from the selected one of two "info"s

    // Onto an existing account: No changes nothing, Yes overwrites in place.
    Click("NORAS\\info");
    Enter("ZETA");
    Enter("z1");
    Answer(Answer::No);
    Press(8);
    EXPECT_EQ(LastBox().text, "Dieser Account existiert schon. Möchten Sie ihn überschreiben?");
    EXPECT_EQ(Model().Accounts[2].POPHost, "");
    Click("NORAS\\info");
    Enter("Zeta");
    Enter("z1");
    Answer(Answer::Yes);
    Press(8);
    EXPECT_EQ(Accounts().size(), 4u);
    EXPECT_EQ(Accounts()[2], "Zeta\\z1");
    EXPECT_EQ(Model().Accounts[2].POPHost, "n.example.com");

    Click("NORAS\\info");
    Enter("Nirgends");
    Enter("x");
    Answer(Answer::Ok);
    Press(8);
    EXPECT_EQ(LastBox().text, "Diese Verbindung existiert nicht.");
    EXPECT_EQ(LastBox().style, MessageStyle::Warning);

    Click("NORAS\\info");
    Enter("");  // the first box cancelled: the second still comes
    Enter("x");
    Press(8);
    EXPECT_EQ(Accounts().size(), 4u);
}

TEST_F(CommandTest, CopyAccountIntoAFullListSaysSoAndChangesNothing) {
    std::string body = kService + kParameters + Key("A");
    for (int i = 0; i < 251; ++i) body += Key("A\\a" + std::to_string(1000 + i));
    Start(body);
    Click("A\\a1000");
    Enter("A");
    Enter("neu");
    Answer(Answer::Ok);
    const auto before = Accounts();
    Press(8);
    EXPECT_TRUE(LastBox().text.contains("voll"));
    EXPECT_EQ(Accounts(), before);
}

TEST_F(CommandTest, TemplateFillsThePageAndRunsTheDependentRules) {
    Start(kService + kParameters + Key("A") + Key("A\\x") + "\"Enable Command\"=dword:00000001\n" +
          "\"Enable Account\"=dword:00000000\n\"Command\"=\"run.cmd\"\n" + Key("A\\y"));
    Click("A\\x");
    Answer(Answer::No);
    Press(9);
    EXPECT_EQ(LastBox().title, "Template kopieren");
    EXPECT_EQ(W().AccountCommand->text(), "run.cmd");  // No changes nothing
    EXPECT_TRUE(W().AccountCommand->isEnabled());

    // With "Account aktivieren" cleared the frame and its "Template" button are locked; the
    // template (reached here directly) sets the box again and so unlocks the frame.
    W().AccountEnableAccount->click();
    W().AccountEnableAccount->click();
    ASSERT_FALSE(W().Rahmen[3]->isEnabled());
    Answer(Answer::Yes);
    editor_->InsertTemplate();
    EXPECT_TRUE(W().Rahmen[3]->isEnabled());
    EXPECT_EQ(W().AccountEnableCommand->checkState(), Qt::Unchecked);
    EXPECT_FALSE(W().AccountCommand->isEnabled());
    EXPECT_EQ(W().AccountPOPUser->text(), "popuser");
    EXPECT_EQ(Model().Accounts[0].POPUser, "");  // only the page so far

    Click("A\\y");  // the take-back stores the template in x
    EXPECT_EQ(Model().Accounts[0].POPUser, "popuser");
    EXPECT_EQ(Model().Accounts[0].EnableAccount, "1");
    EXPECT_EQ(Model().Accounts[0].Command, "");
}

TEST(ModelLists, DeletingASlotKeepsTheListPacked) {
    config::Settings s;
    config::InitSettings(s);
    for (int i = 0; i < 51; ++i) s.Connections[static_cast<std::size_t>(i)].Name = "C" + std::to_string(i);
    config::DeleteConnection(s.Connections, 50);
    EXPECT_EQ(s.Connections[49].Name, "C49");
    EXPECT_EQ(s.Connections[50].Name, "");
    config::DeleteConnection(s.Connections, 0);
    EXPECT_EQ(s.Connections[0].Name, "C1");
    EXPECT_EQ(s.Connections[48].Name, "C49");
    EXPECT_EQ(s.Connections[49].Name, "");
    config::DeleteAccount(s.Accounts, 251);  // outside the list: nothing
    config::DeleteConnection(s.Connections, -1);
    EXPECT_EQ(s.Connections[0].Name, "C1");
}

}  // namespace
}  // namespace kelvaston::ui::test
