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
    EXPECT_EQ(dialogs_.Boxes()[0].title, "Dienst nicht installiert");
    EXPECT_EQ(dialogs_.Boxes()[0].text, "Der Kelvaston Dienst ist auf dem Computer " + Local() +
                                            " nicht installiert! Bitte wählen Sie einen anderen Computer.");
    EXPECT_FALSE(dialogs_.Boxes()[0].input);
    EXPECT_FALSE(visibleAtBox);
    EXPECT_TRUE(W().isVisible());
    EXPECT_EQ(W().GlobalList->topLevelItemCount(), 0);
    EXPECT_EQ(W().GlobalComputerName->text(), Local());
}

// Whatever moves the selection (a click from an account to its connection, a Ctrl+click on the
// selected node, the arrow keys), the pages go back into the record they show, never another.
TEST_F(WindowTest, PagesAreAlwaysTakenBackIntoTheRecordTheyShow) {
    Start(Sample());
    EXPECT_EQ(W().ConnectionName->text(), "Arcor ISDN");
    Click("NORAS\\info");
    Type(W().AccountMaxMails, "42");
    Type(W().AccountPOPPasswort, "neu");
    const bool udp = W().AccountEnableUDP->isChecked();
    W().AccountEnableUDP->click();
    Type(W().GlobalProxyPort, "3129");
    Click("NORAS");
    EXPECT_EQ(Model().Accounts[2].Name + Model().Accounts[2].MaxMails + Model().Accounts[2].POPPasswort, "info42neu");
    EXPECT_EQ(Model().Accounts[2].EnableUDP, udp ? "0" : "1");
    EXPECT_EQ(Model().Global.ProxyPort, "3129");
    EXPECT_EQ(W().AccountMaxMails->text(), "");  // the account controls emptied and locked
    EXPECT_FALSE(W().AccountMaxMails->isEnabled());

    const QPoint at = W().GlobalList->visualItemRect(W().SelectedNode()).center();
    QTest::mouseClick(W().GlobalList->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
    EXPECT_EQ(W().SelectedNode(), Node("NORAS"));
    Type(W().ConnectionTimeOut, "33");
    W().Symbolleiste[3]->click();  // save
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

TEST_F(WindowTest, MinutesOnThePageSecondsInTheModelInTheUsersNumberFormat) {
    Start(kService + kParameters + Key("A") + "\"TimeOut\"=dword:0000005a\n" + Key("B"));
    EXPECT_EQ(W().ConnectionTimeOut->text(), "1,5");  // 90 seconds under a German format
    Type(W().ConnectionTimeOut, "2,5");
    Click("B");
    EXPECT_EQ(Model().Connections[0].TimeOut, "150");
    EXPECT_EQ(W().ConnectionTimeOut->text(), "10");  // B has no value: 600 seconds
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Click("A");
    EXPECT_EQ(W().ConnectionTimeOut->text(), "2.5");
    // Not a number: the interval is not taken back, the rest of the connection is.
    W().ConnectionEnableLogging->click();
    Type(W().ConnectionTimeOut, "zehn");
    Click("B");
    EXPECT_EQ(Model().Connections[0].TimeOut + Model().Connections[0].EnableLogging, "1501");
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
    W().ConnectionEnableLogging->click();
    EXPECT_TRUE(W().AccountLogFile->isEnabled());
    W().AccountEnableCommand->click();  // a user's click never gives grey: grey goes to set
    EXPECT_EQ(W().AccountEnableCommand->checkState(), Qt::Checked);
    W().AccountEnableCommand->click();
    EXPECT_FALSE(W().AccountCommand->isEnabled());
    // Clearing "Account aktivieren" locks the frame with "Template"; its controls keep their flags.
    W().AccountEnableAccount->click();
    EXPECT_FALSE(W().Rahmen[3]->isEnabled());
    EXPECT_FALSE(W().Symbolleiste[9]->isEnabled());
    EXPECT_TRUE(W().Rahmen[2]->isEnabled());
    EXPECT_TRUE(W().AccountPOPHost->isEnabledTo(W().Rahmen[3]));
    EXPECT_FALSE(W().AccountCommand->isEnabledTo(W().Rahmen[3]));
    Click("A\\on");
    EXPECT_TRUE(W().Rahmen[3]->isEnabled());
    Click("A\\y");  // the box goes from set to clear while the account is shown
    EXPECT_FALSE(W().Rahmen[3]->isEnabled());
}

TEST_F(WindowTest, CheckingLocalComputerReloadsAndShowsTheNameInUpperCase) {
    Start(Sample());
    Click("NORAS\\info");
    Type(W().AccountPOPHost, "ungespeichert.example.com");
    W().OptionComputerLocal->click();  // cleared: only "Rechner auswählen" changes
    EXPECT_TRUE(W().Symbolleiste[5]->isEnabled());
    EXPECT_EQ(W().AccountPOPHost->text(), "ungespeichert.example.com");
    W().OptionComputerLocal->click();  // checked: everything is read again
    EXPECT_FALSE(W().Symbolleiste[5]->isEnabled());
    EXPECT_EQ(W().GlobalComputerName->text(), Local().toUpper());
    EXPECT_NE(Model().Accounts[2].POPHost, "ungespeichert.example.com");
}

}  // namespace
}  // namespace kelvaston::ui::test
