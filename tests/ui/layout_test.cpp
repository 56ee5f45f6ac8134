// The window as it stands when it opens: sizes, captions that fit, initial states, the
// keyboard order and the bound up-down controls.
#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QToolButton>

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

TEST_F(LayoutTest, TheWindowHasItsFixedSize) {
    EXPECT_EQ(window_.size(), QSize(685, 452));
    EXPECT_EQ(window_.minimumSize(), window_.maximumSize());
    EXPECT_EQ(window_.windowTitle(), "Kelvaston");
    EXPECT_EQ(window_.GlobalList->geometry(), QRect(4, 28, 169, 277));
    EXPECT_EQ(window_.Kartei->geometry(), QRect(180, 4, 501, 397));
}

TEST_F(LayoutTest, EveryCaptionIsWholeAndEveryControlInsideItsParent) {
    std::vector<std::string> problems;
    for (QWidget* widget : window_.findChildren<QWidget*>()) {
        const QString name = widget->objectName().isEmpty() ? widget->metaObject()->className() : widget->objectName();
        if (widget->parentWidget() != nullptr && widget->isVisibleTo(&window_) &&
            !widget->parentWidget()->rect().contains(widget->geometry())) {
            problems.push_back(name.toStdString() + " sticks out of its parent");
        }
        if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && !label->text().isEmpty()) {
            const int needed = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().width();
            const int room = label->wordWrap() ? label->height() : label->width();
            if (needed > room) problems.push_back(label->text().left(30).toStdString() + " is clipped");
        }
        if (auto* tool = qobject_cast<QToolButton*>(widget); tool != nullptr && !tool->text().isEmpty()) {
            // Icon, gap, caption (its "&" not drawn) and the button's frame must fit.
            const int needed = tool->iconSize().width() + 4 +
                               tool->fontMetrics().horizontalAdvance(QString(tool->text()).remove('&')) + 6;
            if (needed > tool->width()) problems.push_back(tool->text().toStdString() + " is clipped");
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget); button != nullptr && !button->text().isEmpty()) {
            if (button->sizeHint().width() > button->width()) {
                problems.push_back(button->text().toStdString() + " is clipped: needs " +
                                   std::to_string(button->sizeHint().width()) + ", has " +
                                   std::to_string(button->width()));
            }
        }
    }
    for (const auto& problem : problems) ADD_FAILURE() << problem;
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

TEST_F(LayoutTest, AFramesPictureGreysWithItsFrame) {
    window_.Kartei->setCurrentIndex(1);
    const auto colouredPixels = [](const QImage& image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                count += std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 40;
            }
        }
        return count;
    };
    window_.Rahmen[3]->setEnabled(true);
    EXPECT_GT(colouredPixels(window_.Bild[3]->grab().toImage()), 20);
    window_.Rahmen[3]->setEnabled(false);
    EXPECT_EQ(colouredPixels(window_.Bild[3]->grab().toImage()), 0);
    window_.Rahmen[3]->setEnabled(true);
    EXPECT_GT(colouredPixels(window_.Bild[3]->grab().toImage()), 20);
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
