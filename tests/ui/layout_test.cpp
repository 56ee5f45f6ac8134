// The window as it looks and as it stands when it opens: its pictures, initial states, the
// keyboard order and the bound up-down controls.
#include <QAbstractButton>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QToolButton>

#include "ui/window_picture.h"
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

class LayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_.show();
        QCoreApplication::processEvents();
    }
    POPConfig window_;
};

// The window, page by page on the sample configuration, looks exactly as its pictures in docs/
// (those the README shows): a control moved or resized, a caption or font changed, a picture
// drawn otherwise or not greyed with its frame, all show as a difference. For a change that is
// wanted, render the pictures anew (tools/screenshot) and look at them before they replace these.
TEST(WindowPictures, EveryPageLooksAsItsPicture) {
#ifdef _WIN32
    GTEST_SKIP() << "the pictures are the window on Linux, with Linux's fonts";
#else
    kelvaston::test::TempDir store;
    kelvaston::test::WriteFile(store / "SERVER1.reg", kelvaston::test::ReadFile(KELVASTON_EXAMPLES_DIR "/sample.reg"));
    platform::FileStoreRegistry registry({store.Path(), "SERVER1"});
    const struct {
        int page;
        QString node;
        const char* picture;
    } pages[] = {{0, "", "window-global.png"},
                 {1, "NORAS\\info", "window-accounts.png"},
                 {1, "NORAS", "window-connection.png"},
                 {2, "NORAS\\info", "window-ticker.png"}};
    for (const auto& page : pages) {
        POPConfig window;
        ScriptedDialogs dialogs;
        Editor editor(registry, dialogs, window);
        editor.Main();
        const QImage actual = WindowPicture(editor, page.page, page.node).convertToFormat(QImage::Format_RGB32);
        const QImage expected = QImage(KELVASTON_DOCS_DIR "/" + QString(page.picture)).convertToFormat(QImage::Format_RGB32);
        if (actual != expected) {
            const QString saved = QDir::temp().filePath(QStringLiteral("kelvaston-") + page.picture);
            actual.save(saved);
            ADD_FAILURE() << page.picture << " differs; the window as it is now: " << saved.toStdString();
        }
    }
#endif
}

TEST_F(LayoutTest, AtStartOnlyTheGlobalAndConnectionControlsTakeInput) {
    for (QWidget* account : std::initializer_list<QWidget*>{
             window_.AccountEnableAccount, window_.AccountPOPHost, window_.AccountPOPPasswort,
             window_.AccountMaxMails, window_.AccountEnableUDP, window_.AccountCommand, window_.AccountLogFile,
             window_.AccountEnableWissenschaft, window_.AccountAddressModeTicker, window_.GlobalComputerName,
             window_.ConnectionName}) {
        EXPECT_FALSE(account->isEnabled()) << account->metaObject()->className();
    }
    for (QWidget* open : std::initializer_list<QWidget*>{window_.GlobalTriggerPort, window_.GlobalBDWDir,
                                                         window_.ConnectionTimeOut, window_.ConnectionEnableLogging,
                                                         window_.GlobalListenRAS}) {
        EXPECT_TRUE(open->isEnabled());
    }
    EXPECT_TRUE(window_.Rahmen[3]->isEnabled());
    int disabledButtons = 0;
    for (QToolButton* button : window_.Symbolleiste) disabledButtons += button->isEnabled() ? 0 : 1;
    EXPECT_EQ(disabledButtons, 1);
    EXPECT_FALSE(window_.Symbolleiste[5]->isEnabled());
    EXPECT_EQ(window_.OptionComputerLocal->checkState(), Qt::Checked);
    EXPECT_EQ(window_.GlobalDebugLevel->text(), "0");
    EXPECT_TRUE(window_.GlobalList->hasFocus() || window_.focusWidget() == window_.GlobalList);
}

TEST_F(LayoutTest, ThePasswordShowsOneStarPerCharacter) {
    window_.AccountPOPPasswort->setText("geheim");
    EXPECT_EQ(window_.AccountPOPPasswort->displayText(), "******");
    EXPECT_EQ(window_.AccountPOPPasswort->text(), "geheim");
}

TEST_F(LayoutTest, UpDownStaysInItsRangeWhileTypingMayLeaveIt) {
    window_.ConnectionTimeOut->setText("9998");
    QTest::mouseClick(window_.ConnectionTimeOutUpDown->UpButton(), Qt::LeftButton);
    QTest::mouseClick(window_.ConnectionTimeOutUpDown->UpButton(), Qt::LeftButton);
    EXPECT_EQ(window_.ConnectionTimeOut->text(), "9999");
    window_.ConnectionTimeOut->setText("0");
    QTest::mouseClick(window_.ConnectionTimeOutUpDown->DownButton(), Qt::LeftButton);
    EXPECT_EQ(window_.ConnectionTimeOut->text(), "1");
    window_.GlobalDebugLevel->setText("12");
    EXPECT_EQ(window_.GlobalDebugLevel->text(), "12");
    QTest::mouseClick(window_.GlobalDebugLevelUpDown->DownButton(), Qt::LeftButton);
    EXPECT_EQ(window_.GlobalDebugLevel->text(), "9");
}

TEST_F(LayoutTest, TheTabKeyVisitsTheControlsInTheirOrder) {
    POPConfig& w = window_;
    const std::vector<QWidget*> order = {
        w.GlobalList, w.OptionComputerLocal, w.GlobalComputerName, w.GlobalTriggerPort, w.GlobalProxyPort,
        w.GlobalProxyHost, w.GlobalDebugLevel, w.GlobalDebugLevelUpDown, w.ConnectionName, w.Symbolleiste[10],
        w.ConnectionEnableLogging, w.ConnectionTimeOut, w.ConnectionTimeOutUpDown, w.AccountEnableAccount,
        w.AccountPOPHost, w.AccountPOPUser, w.AccountPOPPasswort, w.AccountPOPDelete, w.AccountMaxMails,
        w.AccountSMTPHost, w.AccountAddressMode, w.AccountSMTPFrom, w.AccountSMTPTo, w.AccountEnableUDP,
        w.AccountUDPPort, w.AccountEnableCommand, w.AccountCommand, w.AccountLogFile, w.AccountEnableWissenschaft,
        w.AccountAddressModeTicker, w.GlobalBDWDir, w.GlobalTickerEMail, w.Symbolleiste[0], w.Symbolleiste[1],
        w.Symbolleiste[8], w.Symbolleiste[7], w.Symbolleiste[6], w.Symbolleiste[2], w.Symbolleiste[3],
        w.Symbolleiste[4], w.AccountEnableFromUDP, w.GlobalListenRAS, w.Kartei, w.Symbolleiste[5],
        w.Symbolleiste[9]};
    // The focus chain, restricted to these controls, runs in exactly this order.
    std::vector<QWidget*> chain;
    QWidget* widget = w.GlobalList;
    do {
        if (std::find(order.begin(), order.end(), widget) != order.end()) chain.push_back(widget);
        widget = widget->nextInFocusChain();
    } while (widget != w.GlobalList && chain.size() < 2 * order.size());
    ASSERT_EQ(chain.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(chain[i], order[i]) << "position " << i;

    // And the Tab key follows it, passing over what is disabled or on a hidden page.
    w.GlobalList->setFocus();
    QCoreApplication::processEvents();
    std::vector<QWidget*> visited = {QApplication::focusWidget()};
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(visited, (std::vector<QWidget*>{w.GlobalList, w.OptionComputerLocal, w.GlobalTriggerPort,
                                              w.GlobalProxyPort, w.GlobalProxyHost, w.GlobalDebugLevel}));
}

TEST_F(LayoutTest, StandardButtonsSpeakGerman) {
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove('&'), "Ja");
    EXPECT_EQ(box.button(QMessageBox::No)->text().remove('&'), "Nein");
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text().remove('&'), "Abbrechen");
    EXPECT_EQ(box.button(QMessageBox::Ok)->text().remove('&'), "OK");
}

}  // namespace
}  // namespace kelvaston::ui::test
