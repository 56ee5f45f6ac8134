// The window driven as a user drives it: start-up, clicks and keys in the tree, typing on the
// pages, and what reaches the model.
#include <QApplication>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/registry_decorators.h"
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

std::string Sample() {
    std::string text = kelvaston::test::ReadFile(KELVASTON_EXAMPLES_DIR "/sample.reg");
    return text.substr(text.find('\n') + 1);  // without the header, which Start() writes
}

// A registry whose calls take their time, as a remote one's do: the first call of each kind it
// gets from another thread than the window's waits (up to 5 s) until the window's thread has
// looked at the window, which it can only do while its event loop runs.
class SlowRegistry final : public platform::RegistryDecorator {
public:
    SlowRegistry(platform::RegistryApi& inner, POPConfig*& window) : RegistryDecorator(inner), window_(window) {}
    std::vector<std::pair<Qt::CursorShape, QString>> seen;  // cursor and status text, as looked at

protected:
    std::optional<platform::Status> Before(platform::Call call) override {
        if (QThread::currentThread() == qApp->thread()) return std::nullopt;
        std::unique_lock lock(mutex_);
        if (!asked_.insert(call).second) return std::nullopt;
        bool answered = false;
        QMetaObject::invokeMethod(
            qApp,
            [&] {
                const QCursor* cursor = QApplication::overrideCursor();
                std::lock_guard guard(mutex_);
                seen.emplace_back(cursor != nullptr ? cursor->shape() : Qt::ArrowCursor, window_->StatusMessage());
                answered = true;
                done_.notify_all();
            },
            Qt::QueuedConnection);
        done_.wait_for(lock, std::chrono::seconds(5), [&] { return answered; });
        if (!answered) seen.emplace_back(Qt::BlankCursor, QStringLiteral("the window did not answer"));
        return std::nullopt;
    }

private:
    POPConfig*& window_;
    std::set<platform::Call> asked_;
    std::mutex mutex_;
    std::condition_variable done_;
};

// A remote registry takes seconds: meanwhile the window paints, with a wait cursor and the
// status text, and it takes no input.
TEST_F(WindowTest, TheWindowKeepsPaintingUnderAWaitCursorWhileTheRegistryWorks) {
    POPConfig* window = nullptr;
    SlowRegistry* slow = nullptr;
    through = [&](platform::RegistryApi& store) {
        auto registry = std::make_unique<SlowRegistry>(store, window);
        slow = registry.get();
        window = window_.get();
        return registry;
    };
    Start(Sample());
    ASSERT_NE(slow, nullptr);
    const auto waitedWith = [&](const QString& status) {
        return std::count(slow->seen.begin(), slow->seen.end(), std::pair(Qt::WaitCursor, status));
    };
    EXPECT_GT(waitedWith("Verbindung mit Remote Computer"), 0);
    EXPECT_GT(waitedWith("Einstellungen lesen"), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    slow->seen.clear();
    W().Symbolleiste[3]->click();  // save
    EXPECT_GT(waitedWith("Einstellungen speichern"), 0);
    EXPECT_EQ(slow->seen.size(), static_cast<std::size_t>(waitedWith("Einstellungen speichern")));
    EXPECT_EQ(W().StatusMessage(), "Einstellungen lesen");
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
    EXPECT_EQ(dialogs_.Boxes()[0].style, MessageStyle::Critical);
    EXPECT_FALSE(visibleAtBox);
    EXPECT_TRUE(W().isVisible());
    EXPECT_EQ(W().GlobalList->topLevelItemCount(), 0);
    EXPECT_EQ(W().StatusMessage(), "");
    EXPECT_EQ(W().GlobalComputerName->text(), Local());
    // The empty first slot is "shown": an empty connection, 0 minutes, no account.
    EXPECT_EQ(W().ConnectionName->text(), "");
    EXPECT_EQ(W().ConnectionTimeOut->text(), "0");
    EXPECT_FALSE(W().Rahmen[3]->isEnabled());
}

TEST_F(WindowTest, StartShowsTheFirstConnectionOfTheLoadedConfiguration) {
    Start(Sample());
    EXPECT_TRUE(dialogs_.Boxes().empty());
    EXPECT_EQ(W().StatusMessage(), "Einstellungen lesen");
    ASSERT_EQ(W().GlobalList->topLevelItemCount(), 3);
    EXPECT_EQ(W().GlobalList->topLevelItem(0)->text(0), "Arcor ISDN");
    EXPECT_EQ(W().GlobalList->topLevelItem(2)->childCount(), 2);
    EXPECT_EQ(W().SelectedNode(), W().GlobalList->topLevelItem(0));
    EXPECT_EQ(W().ConnectionName->text(), "Arcor ISDN");
    EXPECT_EQ(W().ConnectionTimeOut->text(), "15");  // 900 seconds
    EXPECT_EQ(W().GlobalProxyHost->text(), "proxy.example.net");
    EXPECT_EQ(W().Kartei->currentIndex(), 0);
    EXPECT_FALSE(W().AccountPOPHost->isEnabled());
    EXPECT_FALSE(W().Symbolleiste[5]->isEnabled());
}

TEST_F(WindowTest, ClickingFromAnAccountToItsConnectionKeepsTheAccountsEdits) {
    Start(Sample());
    Click("NORAS\\info");
    EXPECT_EQ(W().SelectedNode()->text(0), "info");
    ASSERT_TRUE(W().AccountPOPHost->isEnabled());
    Type(W().AccountMaxMails, "42");
    Type(W().AccountPOPPasswort, "neu");
    const bool udpBefore = W().AccountEnableUDP->isChecked();
    W().AccountEnableUDP->click();
    Type(W().GlobalProxyPort, "3129");

    Click("NORAS");
    const config::AccountRecord& info = Model().Accounts[2];
    ASSERT_EQ(info.Name, "info");
    EXPECT_EQ(info.MaxMails, "42");
    EXPECT_EQ(info.POPPasswort, "neu");
    EXPECT_EQ(info.EnableUDP, udpBefore ? "0" : "1");
    EXPECT_EQ(Model().Global.ProxyPort, "3129");
    // The connection is shown now, the account controls emptied and locked.
    EXPECT_EQ(W().ConnectionName->text(), "NORAS");
    EXPECT_EQ(W().AccountMaxMails->text(), "");
    EXPECT_FALSE(W().AccountMaxMails->isEnabled());
    EXPECT_FALSE(W().Rahmen[3]->isEnabled());
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
    Type(W().ConnectionTimeOut, "0.25");
    Click("A");  // the same node again: taken back and shown anew
    EXPECT_EQ(Model().Connections[0].TimeOut, "15");
    EXPECT_EQ(W().ConnectionTimeOut->text(), "0.25");

    // Not a number: the interval is not taken back, the rest of the connection is.
    W().ConnectionEnableLogging->click();
    Type(W().ConnectionTimeOut, "zehn");
    Click("B");
    EXPECT_EQ(Model().Connections[0].TimeOut, "15");
    EXPECT_EQ(Model().Connections[0].EnableLogging, "1");
}

TEST_F(WindowTest, ShowingWritesZeroIntoEmptyNumbersOfTheModel) {
    Start(kService + kParameters + "\"ProxyPort\"=dword:00000000\n" + Key("A") + Key("A\\x") +
          "\"Max Mails\"=\"\"\n\"UDP Port\"=\"\"\n\"Command\"=\"\"\n");
    Model().Global.TriggerPort.clear();
    editor_->ShowSettings("A", "x");
    const config::AccountRecord& x = Model().Accounts[0];
    EXPECT_EQ(x.MaxMails, "0");
    EXPECT_EQ(x.UDPPort, "0");
    EXPECT_EQ(x.Command, "");  // text stays empty
    EXPECT_EQ(Model().Global.TriggerPort, "0");
}

TEST_F(WindowTest, DependentRulesFollowEveryChangeOfTheirCheckBox) {
    Start(kService + kParameters + Key("A") + "\"Enable Logging\"=dword:00000005\n" + Key("A\\x") +
          "\"Enable Account\"=dword:00000001\n\"Enable Command\"=dword:00000002\n" + Key("A\\y") +
          "\"Enable Account\"=dword:00000000\n");
    EXPECT_EQ(W().ConnectionEnableLogging->checkState(), Qt::Checked);  // any number but 0

    Click("A\\x");
    EXPECT_TRUE(W().Rahmen[3]->isEnabled());
    EXPECT_EQ(W().AccountEnableCommand->checkState(), Qt::PartiallyChecked);
    EXPECT_TRUE(W().AccountCommand->isEnabled());  // grey counts as not 0
    EXPECT_TRUE(W().AccountLogFile->isEnabled());

    W().ConnectionEnableLogging->click();
    EXPECT_FALSE(W().AccountLogFile->isEnabled());
    W().ConnectionEnableLogging->click();
    EXPECT_TRUE(W().AccountLogFile->isEnabled());

    // A user's click never gives the grey state: grey goes to set, set to clear.
    W().AccountEnableCommand->click();
    EXPECT_EQ(W().AccountEnableCommand->checkState(), Qt::Checked);
    W().AccountEnableCommand->click();
    EXPECT_EQ(W().AccountEnableCommand->checkState(), Qt::Unchecked);
    EXPECT_FALSE(W().AccountCommand->isEnabled());

    // Clearing "Account aktivieren" locks the whole frame, itself and "Template" with it; the
    // controls inside keep their own flags for when the frame opens again.
    W().AccountEnableAccount->click();
    EXPECT_FALSE(W().Rahmen[3]->isEnabled());
    EXPECT_FALSE(W().AccountEnableAccount->isEnabled());
    EXPECT_FALSE(W().Symbolleiste[9]->isEnabled());
    EXPECT_TRUE(W().AccountPOPHost->isEnabledTo(W().Rahmen[3]));
    EXPECT_FALSE(W().AccountCommand->isEnabledTo(W().Rahmen[3]));

    // Showing an account whose box does not change state runs no rule: x's frame was closed by
    // the click, y's value is 0 as well, so the frame stays as showing left it (enabled).
    Click("A\\y");
    EXPECT_TRUE(W().Rahmen[3]->isEnabled());
    EXPECT_EQ(W().AccountEnableAccount->checkState(), Qt::Unchecked);
}

TEST_F(WindowTest, ShowingAnAccountThatClearsAccountActiveLocksTheFrame) {
    Start(kService + kParameters + Key("A") + Key("A\\on") + "\"Enable Account\"=dword:00000001\n" + Key("A\\off"));
    Click("A\\on");
    EXPECT_TRUE(W().Rahmen[3]->isEnabled());
    Click("A\\off");  // the box goes from set to clear while the account is shown
    EXPECT_FALSE(W().Rahmen[3]->isEnabled());
    EXPECT_TRUE(W().AccountPOPHost->isEnabledTo(W().Rahmen[3]));
}

TEST_F(WindowTest, KeyboardSelectionNeverWritesThePagesIntoAnotherRecord) {
    Start(kService + kParameters + Key("A") + "\"TimeOut\"=dword:0000003c\n" + Key("A\\x") + Key("B") +
          "\"TimeOut\"=dword:00000078\n");
    Click("A");
    W().GlobalList->setFocus();
    Type(W().ConnectionTimeOut, "7");
    QTest::keyClick(W().GlobalList, Qt::Key_Down);  // A is collapsed: on to B
    EXPECT_EQ(W().SelectedNode()->text(0), "B");
    EXPECT_EQ(Model().Connections[0].TimeOut, "420");  // A kept its edit
    EXPECT_EQ(Model().Connections[1].Name, "B");
    EXPECT_EQ(Model().Connections[1].TimeOut, "120");  // B untouched
    EXPECT_EQ(W().ConnectionName->text(), "B");
    EXPECT_EQ(W().ConnectionTimeOut->text(), "2");

    Type(W().ConnectionTimeOut, "3");
    QTest::keyClick(W().GlobalList, Qt::Key_Up);
    EXPECT_EQ(Model().Connections[1].TimeOut, "180");
    EXPECT_EQ(Model().Connections[0].Name, "A");
    EXPECT_EQ(Model().Connections[0].TimeOut, "420");
    EXPECT_EQ(W().ConnectionTimeOut->text(), "7");
}

TEST_F(WindowTest, AFailedConnectionLeavesThePreviousGlobalValuesOnThePages) {
    Start(Sample());
    dialogs_.ExpectMessage(Answer::Ok);
    Model().ComputerName = "NIRGENDWO";
    editor_->ConnectComputer();
    editor_->BuildTree();
    editor_->ShowSettings(editor_->FirstConnectionName());
    ASSERT_EQ(dialogs_.Boxes().size(), 1u);
    EXPECT_EQ(dialogs_.Boxes()[0].title, "keine Verbindung");
    EXPECT_EQ(dialogs_.Boxes()[0].text, "Verbindung mit Computer NIRGENDWO kann nicht hergestellt werden.");
    EXPECT_EQ(W().GlobalList->topLevelItemCount(), 0);
    EXPECT_EQ(W().StatusMessage(), "");
    EXPECT_EQ(W().GlobalProxyHost->text(), "proxy.example.net");
    EXPECT_EQ(W().GlobalTickerEMail->text(), "ticker@example.com");
}

TEST_F(WindowTest, CheckingLocalComputerReloadsAndShowsTheNameInUpperCase) {
    Start(Sample());
    Click("NORAS\\info");
    Type(W().AccountPOPHost, "ungespeichert.example.com");
    W().OptionComputerLocal->click();  // cleared: only "Rechner auswählen" changes
    EXPECT_TRUE(W().Symbolleiste[5]->isEnabled());
    EXPECT_EQ(W().GlobalComputerName->text(), Local());
    EXPECT_EQ(W().AccountPOPHost->text(), "ungespeichert.example.com");

    Click("NORAS\\info");
    W().OptionComputerLocal->click();  // checked: everything is read again
    EXPECT_FALSE(W().Symbolleiste[5]->isEnabled());
    EXPECT_EQ(W().GlobalComputerName->text(), Local().toUpper());
    EXPECT_EQ(Model().ComputerName, Local().toStdString());
    EXPECT_NE(Model().Accounts[2].POPHost, "ungespeichert.example.com");
    EXPECT_EQ(W().ConnectionName->text(), "Arcor ISDN");
}

TEST_F(WindowTest, AStoredNumberThatIsNoNumberNeverEndsTheProgram) {
    Start(kService + kParameters + "\"Listen RAS\"=\"ja\"\n\"ProxyHost\"=\"p.example.com\"\n" + Key("A") +
          "\"Enable Logging\"=\"viel\"\n" + Key("A\\x") + "\"Enable UDP\"=dword:00000007\n");
    EXPECT_TRUE(W().isVisible());
    EXPECT_EQ(W().GlobalDebugLevel->text(), "0");  // before the bad value: shown
    EXPECT_EQ(W().GlobalProxyHost->text(), "");    // after it: not reached
    Click("A\\x");
    Click("A");
    EXPECT_EQ(W().GlobalList->topLevelItemCount(), 2);  // A and the built-in NORAS
}

}  // namespace
}  // namespace kelvaston::ui::test
