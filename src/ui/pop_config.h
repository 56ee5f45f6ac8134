// The one window of the program: the tree of connections and accounts, the three setting
// pages, eleven one-button toolbars and the status bar, each control under the name by which
// the rest of the program refers to it. The window itself only lays the controls out and runs
// the three rules by which check boxes switch other controls on and off; what the controls
// show and what the buttons do is the editor's (see Editor).
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QWidget>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "ui/icons.h"

namespace kelvaston::ui {

// A check box that the user switches between clear and set; the grey third state is set only
// by the program.
class CheckBox final : public QCheckBox {
    Q_OBJECT

public:
    explicit CheckBox(const QString& text, QWidget* parent);
    // The value as the model holds it: 0 clear, 1 set, 2 grey.
    int Value() const;
    void SetValue(int value);

protected:
    void nextCheckState() override;
};

// A frame's picture, drawn at its size from the icon when first painted: the pictures of the
// pages behind the front one cost nothing until their page is shown.
class Picture final : public QWidget {
    Q_OBJECT

public:
    Picture(QIcon icon, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon icon_;
    QPixmap pixmap_;  // drawn at the first paint, and again only for another pixel ratio
};

// Two arrow buttons bound to a text box: each click moves the number in the box by one step
// within the range. The box stays free text: typing can go past the range. With the focus, the
// control shows a focus frame and the Up and Down keys step as the buttons do.
class UpDown final : public QWidget {
    Q_OBJECT

public:
    UpDown(QLineEdit* buddy, int minimum, int maximum, int value, QWidget* parent);
    void StepBy(int steps);
    QToolButton* UpButton() const { return up_; }
    QToolButton* DownButton() const { return down_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void PlaceButtons();

    QLineEdit* buddy_;
    QToolButton* up_;
    QToolButton* down_;
    int minimum_;
    int maximum_;
    int value_;
};

// The tree of connections and accounts. Its selection is never cleared by the user (a
// Ctrl+click on the selected node): the pages always belong to a selected node, so that the
// next click or the save takes them back into the records they show.
class NodeTree final : public QTreeWidget {
    Q_OBJECT

public:
    using QTreeWidget::QTreeWidget;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
};

// The toolbars by the command each one gives: their indexes in POPConfig::Symbolleiste, and what
// ToolbarClicked reports.
namespace toolbar {
enum Index : int {
    NewConnection = 0,
    NewAccount = 1,
    ReadSettingsAgain = 2,
    Save = 3,
    Exit = 4,
    ChooseComputer = 5,
    RemoveAccount = 6,
    RemoveConnection = 7,
    CopyAccount = 8,
    InsertTemplate = 9,
    RenameConnection = 10,
    Count
};
}  // namespace toolbar

// What a node of the tree stands for, kept in its data under kKindRole; a node without one is
// of no kind.
enum class NodeKind : int { None = 0, Connection = 1, Account = 2 };
inline constexpr int kKindRole = Qt::UserRole;
inline NodeKind KindOf(const QTreeWidgetItem& node) {
    return static_cast<NodeKind>(node.data(0, kKindRole).toInt());
}
// The texts of a node's ancestors and its own, joined by backslashes: "NORAS\info".
QString NodePath(const QTreeWidgetItem& node);

class POPConfig final : public QWidget {
    Q_OBJECT

public:
    explicit POPConfig(QWidget* parent = nullptr);

    // Twips to pixels (15 twips to a pixel at 96 dots per inch).
    static QRect Twips(int left, int top, int width, int height);

    // The tree.
    NodeTree* GlobalList;
    // The selected node, or null.
    QTreeWidgetItem* SelectedNode() const;
    // Selects a node without it counting as the user's selection.
    void SelectNodeQuietly(QTreeWidgetItem* node);
    void ClearTreeQuietly();

    QTabWidget* Kartei;
    std::array<QGroupBox*, 5> Rahmen{};
    std::array<QToolButton*, toolbar::Count> Symbolleiste{};
    std::array<Picture*, 6> Bild{};
    std::array<QFrame*, 2> AccountLine{};
    std::vector<QLabel*> Beschriftung;
    QStatusBar* Status;
    QLabel* StatusText;

    // "Rechner"
    CheckBox* OptionComputerLocal;
    QLineEdit* GlobalComputerName;
    // "globale Einstellungen" and the news ticker's global fields
    QLineEdit* GlobalTriggerPort;
    QLineEdit* GlobalProxyPort;
    QLineEdit* GlobalProxyHost;
    QLineEdit* GlobalDebugLevel;
    UpDown* GlobalDebugLevelUpDown;
    CheckBox* GlobalListenRAS;
    QLineEdit* GlobalBDWDir;
    QLineEdit* GlobalTickerEMail;
    // "Verbindung"
    QLineEdit* ConnectionName;
    CheckBox* ConnectionEnableLogging;
    QLineEdit* ConnectionTimeOut;
    UpDown* ConnectionTimeOutUpDown;
    // The account
    CheckBox* AccountEnableAccount;
    QLineEdit* AccountPOPHost;
    QLineEdit* AccountPOPUser;
    QLineEdit* AccountPOPPasswort;
    CheckBox* AccountPOPDelete;
    QLineEdit* AccountMaxMails;
    QLineEdit* AccountSMTPHost;
    QLineEdit* AccountAddressMode;
    QLineEdit* AccountSMTPFrom;
    QLineEdit* AccountSMTPTo;
    CheckBox* AccountEnableUDP;
    QLineEdit* AccountUDPPort;
    CheckBox* AccountEnableFromUDP;
    CheckBox* AccountEnableCommand;
    QLineEdit* AccountCommand;
    QLineEdit* AccountLogFile;
    CheckBox* AccountEnableWissenschaft;
    QLineEdit* AccountAddressModeTicker;

    void SetStatus(const QString& text);
    QString StatusMessage() const;

    // The control of the account page that shows an account value, by the value's field; null
    // for a value without one.
    using AccountField = std::string config::AccountRecord::*;
    QWidget* AccountControl(AccountField field) const;

signals:
    void ToolbarClicked(int index);
    void TreePressed();
    void TreeReleased();
    // The user moved the selection without the mouse (the keyboard).
    void TreeSelectionMovedByKey();
    void OptionComputerLocalClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* Label(QWidget* parent, const QString& text, const QRect& twips,
                  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
    // A control given the field of an account value shows that value.
    QLineEdit* TextBox(QWidget* parent, const QRect& twips, AccountField shows = nullptr);
    CheckBox* Check(QWidget* parent, const QString& text, const QRect& twips,
                    AccountField shows = nullptr);
    QGroupBox* Frame(QWidget* page, int index, const QString& title, int top, int height);
    void MakeToolbar(toolbar::Index index, QWidget* parent, const QString& caption, Image picture,
                     const QRect& twips);
    void BuildGlobalPage(QWidget* page);
    void BuildConnectionPage(QWidget* page);
    void BuildTickerPage(QWidget* page);
    void SetTabOrder();
    void ConnectRules();
    // Switches the account controls off and stops the program if an account value with a
    // template text has no control, or a control no such value.
    void CheckAccountControls();

    bool mouseDown_ = false;
    int quiet_ = 0;
    std::vector<std::pair<AccountField, QWidget*>> accountControls_;
};

}  // namespace kelvaston::ui
