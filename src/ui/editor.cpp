#include "ui/editor.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLocale>
#include <QTreeWidgetItem>
#include <cmath>
#include <exception>
#include <thread>
#include <unordered_map>
#include <utility>

#include "config/layout.h"
#include "platform/value_library.h"
#include "ui/icons.h"
#include "ui/messages.h"
#include "ui/numbers.h"

namespace kelvaston::ui {
namespace {

using config::AccountRecord;
using config::ConnectionRecord;
using config::GlobalSettings;

// A stored value that showing or taking back must read as a number, and cannot.
struct NotANumber {};

void ZeroIfEmpty(std::string& field) {
    if (field.empty()) field = "0";
}

// A number in the user's number format (a decimal comma under a German one).
double ReadNumber(const std::string& text) {
    bool ok = false;
    const double value = QLocale().toDouble(Q(text).trimmed(), &ok);
    if (!ok || !std::isfinite(value)) throw NotANumber{};
    return value;
}

// At most 15 significant digits, no trailing zeros, in the user's number format.
QString FormatNumber(double value) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

// A stored interval in minutes: exactly, for every number of seconds a dword holds, in that
// taking it back gives the same seconds.
QString ShowInterval(const std::string& seconds) {
    std::uint32_t number = 0;
    if (platform::ParseDword(seconds, &number)) return IntervalText(number);
    return FormatNumber(ReadNumber(seconds) / 60);  // a text value: shown if it is a number at all
}

// A check box's state from a stored whole number: 0 clear, 1 set, 2 grey.
void ShowCheck(CheckBox* box, const std::string& text) {
    const double value = ReadNumber(text);
    if (value != 0 && value != 1 && value != 2) throw NotANumber{};
    box->SetValue(static_cast<int>(value));
}

// A text box or check box that shows one field of a record.
template <class Record>
struct FieldControl {
    QWidget* control;
    std::string Record::*field;
    bool zeroIfEmpty;  // a number or flag: shown as 0 when empty
};
using AccountControl = FieldControl<AccountRecord>;

// The account page's controls, in the order of the account values, which every step follows.
std::vector<AccountControl> AccountControls(POPConfig& w) {
    std::vector<AccountControl> controls;
    for (const auto& value : config::layout::kAccountValues) {
        QWidget* control = w.AccountControl(value.field);
        if (control != nullptr) controls.push_back({control, value.field, value.IsNumber()});
    }
    return controls;
}

// The controls of the global values, in the order of their table.
std::vector<FieldControl<GlobalSettings>> GlobalControls(POPConfig& w) {
    const std::pair<std::string GlobalSettings::*, QWidget*> shownBy[] = {
        {&GlobalSettings::BDWDir, w.GlobalBDWDir},
        {&GlobalSettings::DebugLevel, w.GlobalDebugLevel},
        {&GlobalSettings::ListenRAS, w.GlobalListenRAS},
        {&GlobalSettings::ProxyHost, w.GlobalProxyHost},
        {&GlobalSettings::ProxyPort, w.GlobalProxyPort},
        {&GlobalSettings::TriggerPort, w.GlobalTriggerPort},
        {&GlobalSettings::TickerEMail, w.GlobalTickerEMail}};
    std::vector<FieldControl<GlobalSettings>> controls;
    for (const auto& value : config::layout::kGlobalValues) {
        for (const auto& [field, control] : shownBy) {
            if (field == value.field) controls.push_back({control, field, value.IsNumber()});
        }
    }
    return controls;
}

// Shows a record's fields in their controls, a number or flag stored empty as 0, in the order
// of the controls: a field that is no number ends the showing there.
template <class Record>
void ShowFields(Record& record, const std::vector<FieldControl<Record>>& controls) {
    for (const auto& c : controls) {
        if (c.zeroIfEmpty) ZeroIfEmpty(record.*c.field);
    }
    for (const auto& c : controls) {
        if (auto* box = qobject_cast<CheckBox*>(c.control)) {
            ShowCheck(box, record.*c.field);
        } else {
            static_cast<QLineEdit*>(c.control)->setText(Q(record.*c.field));
        }
    }
}

template <class Record>
void TakeBackFields(Record& record, const std::vector<FieldControl<Record>>& controls) {
    for (const auto& c : controls) {
        if (auto* box = qobject_cast<CheckBox*>(c.control)) {
            record.*c.field = std::to_string(box->Value());
        } else {
            record.*c.field = S(static_cast<QLineEdit*>(c.control)->text());
        }
    }
}

// The number fields of the pages, in the order of the pages, with their captions as the window
// shows them: the global ones always, the interval with a connection, the rest with an account.
struct NumberField {
    QLineEdit* box;
    QString caption;
    int page;  // of the Kartei
    enum { Global, Connection, Account } shownWith;
    bool minutes;
};

std::vector<NumberField> NumberFields(POPConfig& w) {
    const QString accountPage = QStringLiteral("Verbindungen / Accounts");
    return {{w.GlobalTriggerPort, QStringLiteral("Port für UDP Messages"), 0, NumberField::Global,
             false},
            {w.GlobalProxyPort, QStringLiteral("Proxy Port"), 0, NumberField::Global, false},
            {w.GlobalDebugLevel, QStringLiteral("Protokoll Level"), 0, NumberField::Global, false},
            {w.ConnectionTimeOut, QStringLiteral("Intervall in dem Nachrichten abgeholt werden"), 1,
             NumberField::Connection, true},
            {w.AccountMaxMails, QStringLiteral("max. Mails pro Thread"), 1, NumberField::Account,
             false},
            {w.AccountAddressMode, QStringLiteral("Adress Modus"), 1, NumberField::Account, false},
            {w.AccountUDPPort, QStringLiteral("Benachrichtigung über UDP-Broadcast auf Port"), 1,
             NumberField::Account, false},
            {w.AccountAddressModeTicker, QStringLiteral("Adress Modus"), 2, NumberField::Account,
             false}};
}

ConnectionRecord* FindConnection(config::Settings& s, const QString& name) {
    const std::string wanted = S(name);
    for (auto& connection : s.Connections) {
        if (connection.Name == wanted) return &connection;
    }
    return nullptr;
}

AccountRecord* FindAccount(config::Settings& s, const QString& connection, const QString& name) {
    const std::string wantedConnection = S(connection);
    const std::string wantedName = S(name);
    for (auto& account : s.Accounts) {
        if (account.Name == wantedName && account.Connection == wantedConnection) return &account;
    }
    return nullptr;
}

}  // namespace

QString NodePath(const QTreeWidgetItem& node) {
    QString path = node.text(0);
    for (const QTreeWidgetItem* up = node.parent(); up != nullptr; up = up->parent())
        path = up->text(0) + '\\' + path;
    return path;
}

Editor::Editor(platform::RegistryApi& api, Dialogs& dialogs, POPConfig& window)
    : dialogs_(dialogs), window_(window), store_(api, settings_) {
    config::InitSettings(settings_);
    connect(&window_, &POPConfig::TreePressed, this, &Editor::OnTreePressed);
    connect(&window_, &POPConfig::TreeReleased, this, &Editor::OnTreeReleased);
    connect(&window_, &POPConfig::TreeSelectionMovedByKey, this,
            &Editor::OnTreeSelectionMovedByKey);
    connect(&window_, &POPConfig::OptionComputerLocalClicked, this,
            &Editor::OnOptionComputerLocalClicked);
    connect(&window_, &POPConfig::ToolbarClicked, this, &Editor::OnToolbar);
    exit_ = [] { QCoreApplication::quit(); };
}

void Editor::Busy(const std::function<void()>& work) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        // Queued: the loop ends once it runs, even when the work ended before it started.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    QApplication::restoreOverrideCursor();
    if (failure) std::rethrow_exception(failure);
}

QString Editor::FirstConnectionName() const {
    return Q(settings_.Connections[0].Name);
}

void Editor::BuildTree() {
    window_.ClearTreeQuietly();
    nodesInOrder_.clear();
    // The nodes are made first and handed to the tree in one go, which it then announces once
    // instead of every row on its own. Nodes share their picture.
    const QIcon pictures[] = {ImageListPicture(Image::Connection),
                              ImageListPicture(Image::Account)};
    std::unordered_map<std::string, QTreeWidgetItem*> byKey;
    QList<QTreeWidgetItem*> connections;
    std::unordered_map<QTreeWidgetItem*, QList<QTreeWidgetItem*>> accounts;
    const auto make = [&](const std::string& key, const std::string& text,
                          NodeKind kind) -> QTreeWidgetItem* {
        if (byKey.count(key) != 0) return nullptr;  // a key already in use: the node is left out
        auto* node = new QTreeWidgetItem(QStringList{Q(text)});
        node->setIcon(0, pictures[kind == NodeKind::Connection ? 0 : 1]);
        node->setData(0, kKindRole, static_cast<int>(kind));
        byKey.emplace(key, node);
        nodesInOrder_.push_back(node);
        return node;
    };
    for (const auto& connection : settings_.Connections) {
        if (config::CutAtNul(connection.Name).empty()) break;
        if (auto* node = make("A" + connection.Name, connection.Name, NodeKind::Connection))
            connections.append(node);
    }
    for (const auto& account : settings_.Accounts) {
        if (config::CutAtNul(account.Name).empty()) break;
        const auto parent = byKey.find("A" + account.Connection);
        if (parent == byKey.end()) continue;  // its connection has no node
        QTreeWidgetItem* parentNode = parent->second;
        if (auto* node =
                make("A" + account.Connection + account.Name, account.Name, NodeKind::Account)) {
            accounts[parentNode].append(node);
        }
    }
    // Children join their nodes before these are in the tree, which then takes every node with
    // the top level.
    for (const auto& [parent, children] : accounts) parent->addChildren(children);
    window_.GlobalList->addTopLevelItems(connections);
}

void Editor::ShowSettings(const std::optional<QString>& connection,
                          const std::optional<QString>& account) {
    shownConnection_ = connection;
    shownAccount_ = account;
    try {
        ShowSettingsSteps(connection, account);
    } catch (const NotANumber&) {
        // the controls after the bad value keep what they showed
    }
}

void Editor::ShowSettingsSteps(const std::optional<QString>& connection,
                               const std::optional<QString>& account) {
    POPConfig& w = window_;
    ShowFields(settings_.Global, GlobalControls(w));
    if (!connection && !account) return;

    const QString connectionName = connection.value_or(QString());
    const QString path = account ? connectionName + '\\' + *account : connectionName;
    for (QTreeWidgetItem* node : nodesInOrder_) {
        if (NodePath(*node) == path) {
            w.SelectNodeQuietly(node);
            break;
        }
    }

    w.Rahmen[3]->setEnabled(false);

    if (ConnectionRecord* record = FindConnection(settings_, connectionName)) {
        w.ConnectionName->setText(Q(record->Name));
        ZeroIfEmpty(record->EnableLogging);
        ZeroIfEmpty(record->TimeOut);
        w.ConnectionEnableLogging->SetValue(ReadNumber(record->EnableLogging) != 0 ? 1 : 0);
        w.ConnectionTimeOut->setText(ShowInterval(record->TimeOut));
        w.ConnectionTimeOut->setCursorPosition(0);  // a long number shows its first digits
    }

    const std::vector<AccountControl> controls = AccountControls(w);
    if (account) {
        for (const auto& c : controls) c.control->setEnabled(true);
        w.Rahmen[3]->setEnabled(true);
        if (AccountRecord* record = FindAccount(settings_, connectionName, *account))
            ShowFields(*record, controls);
    } else {
        for (const auto& c : controls) {
            if (auto* box = qobject_cast<CheckBox*>(c.control)) {
                box->SetValue(0);
            } else {
                static_cast<QLineEdit*>(c.control)->clear();
            }
            c.control->setEnabled(false);
        }
    }
}

void Editor::TakeBackSettings(const std::optional<QString>& connection,
                              const std::optional<QString>& account) {
    try {
        TakeBackSettingsSteps(connection, account);
    } catch (const NotANumber&) {
        // the values after the bad one stay as they were
    }
}

void Editor::TakeBackSettingsSteps(const std::optional<QString>& connection,
                                   const std::optional<QString>& account) {
    POPConfig& w = window_;
    TakeBackFields(settings_.Global, GlobalControls(w));
    if (!connection && !account) return;

    const QString connectionName = connection.value_or(QString());
    if (ConnectionRecord* record = FindConnection(settings_, connectionName)) {
        record->Name = S(w.ConnectionName->text());
        record->EnableLogging = std::to_string(w.ConnectionEnableLogging->Value() != 0 ? 1 : 0);
        // The rest of the pages is taken back all the same: no edit there is lost for this one.
        if (const auto seconds = IntervalSeconds(w.ConnectionTimeOut->text())) {
            record->TimeOut = std::to_string(*seconds);
        } else {
            refusedInterval_ =
                UnfitNumberText(NumberFields(w)[3].caption, w.Kartei->tabText(1),
                                w.ConnectionTimeOut->text(), true) +
                QStringLiteral("\n\nDie Verbindung \"%1\" behält ihr Intervall von %2 Minuten.")
                    .arg(Q(record->Name), ShowInterval(record->TimeOut));
        }
    }
    if (!account) return;
    if (AccountRecord* record = FindAccount(settings_, connectionName, *account)) {
        TakeBackFields(*record, AccountControls(w));
    }
}

void Editor::ForSelectedNode(Operation operation) {
    QTreeWidgetItem* node = window_.SelectedNode();
    if (node == nullptr) {
        (this->*operation)(std::nullopt, std::nullopt);
    } else if (KindOf(*node) == NodeKind::Connection) {
        (this->*operation)(node->text(0), std::nullopt);
    } else if (KindOf(*node) == NodeKind::Account && node->parent() != nullptr) {
        (this->*operation)(node->parent()->text(0), node->text(0));
    }
}

bool Editor::RefuseUnfitNumber() {
    // The pages that a save takes back, as ForSelectedNode finds them.
    const QTreeWidgetItem* node = window_.SelectedNode();
    int shown = NumberField::Global;
    if (node != nullptr && KindOf(*node) == NodeKind::Connection) {
        shown = NumberField::Connection;
    } else if (node != nullptr && KindOf(*node) == NodeKind::Account) {
        if (node->parent() == nullptr) return false;  // nothing is taken back
        shown = NumberField::Account;
    }
    for (const NumberField& field : NumberFields(window_)) {
        if (field.shownWith > shown) continue;
        const QString text = field.box->text();
        if (field.minutes ? IntervalSeconds(text).has_value() : FitsANumber(text)) continue;
        window_.Kartei->setCurrentIndex(field.page);
        field.box->setFocus();
        field.box->selectAll();
        dialogs_.Message(
            UnfitNumberText(field.caption, window_.Kartei->tabText(field.page), text,
                            field.minutes) +
                QStringLiteral(
                    "\n\nEs wurde nichts gespeichert. Berichtigen Sie das Feld und speichern "
                    "Sie erneut."),
            QStringLiteral("Einstellungen speichern"), MessageStyle::Warning);
        return true;
    }
    return false;
}

void Editor::OnTreePressed() {
    ForSelectedNode(&Editor::TakeBackSettings);
}

void Editor::OnTreeReleased() {
    ShowSelectedNode();
}

void Editor::ShowSelectedNode() {
    ForSelectedNode(&Editor::ShowSettings);
    // Said only now: a box between the press and the release would take the release, and the
    // tree would select a node whose pages are never shown.
    if (refusedInterval_.isEmpty()) return;
    const QString why = std::exchange(refusedInterval_, QString());
    dialogs_.Message(why, QStringLiteral("Intervall"), MessageStyle::Warning);
}

void Editor::OnTreeSelectionMovedByKey() {
    // The pages still show the records of the last node shown: they go back there, never into
    // the records of the node the keyboard moved to, which is then shown.
    TakeBackSettings(shownConnection_, shownAccount_);
    ShowSelectedNode();
}

}  // namespace kelvaston::ui
