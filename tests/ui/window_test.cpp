// The window driven as a user drives it: start-up, clicks and keys in the tree, typing on the
// pages, and what reaches the model.
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

std::string Sample() {
    std::string text = kelvaston::test::ReadFile(KELVASTON_EXAMPLES_DIR "/sample.reg");
    return text.substr(text.find('\n') + 1);  // without the header, which Start() writes
}

TEST_F(WindowTest, StartWithoutTheServiceSaysSoBeforeTheWindowAppears) {
    bool visibleAtBox = true;
    dialogs_.OnShow([&](const ScriptedDialogs::Shown&) { visibleAtBox = window_->isVisible(); });
    dialogs_.ExpectMessage(Answer::Ok);
    Start("\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n");
    ASSERT_EQ(dialogs_.Boxes().size(), 1u);
    EXPECT_EQ(dialogs_.Boxes()[0].text, "Der Kelvaston Dienst ist auf dem Computer " + Local() +
                                            " nicht installiert! Bitte wählen Sie einen anderen Computer.");
    EXPECT_FALSE(dialogs_.Boxes()[0].input);
    EXPECT_FALSE(visibleAtBox);
    EXPECT_EQ(W().GlobalList->topLevelItemCount(), 0);
    EXPECT_EQ(W().GlobalComputerName->text(), Local());
}

// Whatever moves the selection (a click from an account to its connection, a Ctrl+click on the
// selected node, the arrow keys), the pages go back into the record they show, never another.
TEST_F(WindowTest, PagesAreAlwaysTakenBackIntoTheRecordTheyShow) {
    Start(Sample());
    Click("NORAS\\info");
    Type(W().AccountMaxMails, "42");
    Type(W().AccountPOPPasswort, "neu");
    Type(W().GlobalProxyPort, "3129");
    Click("NORAS");
    EXPECT_EQ(Model().Accounts[2].Name + Model().Accounts[2].MaxMails + Model().Accounts[2].POPPasswort, "info42neu");
    EXPECT_EQ(Model().Global.ProxyPort, "3129");
    EXPECT_FALSE(W().AccountMaxMails->isEnabled());  // the account controls locked

    const QPoint at = W().GlobalList->visualItemRect(W().SelectedNode()).center();
    QTest::mouseClick(W().GlobalList->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
    EXPECT_EQ(W().SelectedNode(), Node("NORAS"));
    Type(W().ConnectionTimeOut, "33");
    Press(3);  // save
    EXPECT_EQ(Model().Connections[1].TimeOut, "1980");

    Node("NORAS")->setExpanded(false);
    W().GlobalList->setFocus();
    Type(W().ConnectionTimeOut, "7");
    QTest::keyClick(W().GlobalList, Qt::Key_Down);
    EXPECT_EQ(W().ConnectionName->text(), "T-Online");
    Type(W().ConnectionTimeOut, "3");
    QTest::keyClick(W().GlobalList, Qt::Key_Up);
    EXPECT_EQ(W().ConnectionTimeOut->text(), "7");
    EXPECT_EQ(Model().Connections[1].Name + "=" + Model().Connections[1].TimeOut, "NORAS=420");
    EXPECT_EQ(Model().Connections[2].Name + "=" + Model().Connections[2].TimeOut, "T-Online=180");
}

TEST_F(WindowTest, DependentControlsFollowEveryChangeOfTheirCheckBox) {
    Start(kService + kParameters + Key("A") + "\"Enable Logging\"=dword:00000005\n" + Key("A\\x") +
          "\"Enable Account\"=dword:00000001\n\"Enable Command\"=dword:00000002\n" + Key("A\\y") +
          "\"Enable Account\"=dword:00000000\n" + Key("A\\on") + "\"Enable Account\"=dword:00000001\n");
    EXPECT_EQ(W().ConnectionEnableLogging->checkState(), Qt::Checked);  // any number but 0
    Click("A\\x");
    EXPECT_EQ(W().AccountEnableCommand->checkState(), Qt::PartiallyChecked);
    EXPECT_TRUE(W().AccountCommand->isEnabled());  // grey counts as not 0
    W().ConnectionEnableLogging->click();
    EXPECT_FALSE(W().AccountLogFile->isEnabled());
    W().AccountEnableCommand->click();  // a user's click never gives grey: grey goes to set
    EXPECT_EQ(W().AccountEnableCommand->checkState(), Qt::Checked);
    W().AccountEnableCommand->click();
    EXPECT_FALSE(W().AccountCommand->isEnabled());
    // Clearing "Account aktivieren" locks the frame with "Template"; its controls keep their flags.
    W().AccountEnableAccount->click();
    EXPECT_FALSE(W().Rahmen[3]->isEnabled());
    EXPECT_FALSE(W().Symbolleiste[9]->isEnabled());
    EXPECT_TRUE(W().AccountPOPHost->isEnabledTo(W().Rahmen[3]));
    EXPECT_FALSE(W().AccountCommand->isEnabledTo(W().Rahmen[3]));
    Click("A\\on");
    EXPECT_TRUE(W().Rahmen[3]->isEnabled());
    Click("A\\y");  // the box goes from set to clear while the account is shown
    EXPECT_FALSE(W().Rahmen[3]->isEnabled());
}

}  // namespace
}  // namespace kelvaston::ui::test
