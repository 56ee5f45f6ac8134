// The eleven toolbar commands. They change the model only; "Einstellungen &speichern" alone
// writes the registry.
#include <QTreeWidgetItem>
#include <algorithm>
#include <utility>

#include "config/layout.h"
#include "platform/text.h"
#include "ui/editor.h"
#include "ui/messages.h"

namespace kelvaston::ui {
namespace {

// Space characters at both ends removed (not tabs).
QString Trimmed(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == ' ') ++first;
    while (last > first && text[last - 1] == ' ') --last;
    return text.mid(first, last - first);
}
QString Trimmed(const std::string& text) {
    return Trimmed(Q(text));
}

// Whether the registry takes the two names for one key: compared as the registry compares
// names, which is not Qt's upper case (ß stays, and a letter may have an upper case that Qt
// does not know or knows otherwise).
bool SameKey(const std::string& a, const QString& b) {
    return platform::text::EqualsNoCase(a, S(b));
}
// The same without the spaces at both ends: besides the names the registry merges, the window
// refuses a name that differs from another only there.
bool SameKeyTrimmed(const std::string& a, const QString& b) {
    return SameKey(S(Trimmed(a)), Trimmed(b));
}

// The load leaves the subkey "volatile" of the Parameters key to the service and reads no
// connection from it; a connection of that name (in any case: one key) would be lost after its
// save, and a save would write into the service's own key.
bool IsServiceKey(const QString& name) {
    return SameKey(config::layout::kVolatileKey, name);
}

const QString kChooseConnectionFirst = QStringLiteral("Wählen Sie zuerst eine Verbindung aus");
const QString kNoConnectionTitle = QStringLiteral("keine Verbindung");
const QString kConnectionExists =
    QStringLiteral("Diese Verbindung existiert schon. Wählen Sie einen anderen Namen");
const QString kAccountExists =
    QStringLiteral("Dieser Account existiert schon. Wählen Sie einen anderen Namen");
const QString kServiceKeyName = QStringLiteral(
    "Den Namen \"volatile\" verwendet der Dienst selbst für einen eigenen "
    "Schlüssel. Wählen Sie einen anderen Namen für die Verbindung");

// A name becomes a registry key's name: at most 255 characters, no backslash (which would make
// it a path of two keys) and no control character (a line break cannot stand in a key line of
// the store's files, and no name needs one).
bool FitsAKeyName(const QString& name) {
    if (name.size() > 255 || name.contains('\\')) return false;
    return std::none_of(name.begin(), name.end(),
                        [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

}  // namespace

void Editor::OnToolbar(int index) {
    switch (index) {
        case toolbar::NewConnection: NewConnection(); break;
        case toolbar::NewAccount: NewAccount(); break;
        case toolbar::ReadSettingsAgain: ReadSettingsAgain(); break;
        case toolbar::Save: Save(); break;
        case toolbar::Exit: exit_(); break;
        case toolbar::ChooseComputer: ChooseComputer(); break;
        case toolbar::RemoveAccount: RemoveAccount(); break;
        case toolbar::RemoveConnection: RemoveConnection(); break;
        case toolbar::CopyAccount: CopyAccount(); break;
        case toolbar::InsertTemplate: InsertTemplate(); break;
        case toolbar::RenameConnection: RenameConnection(); break;
        default: break;
    }
}

void Editor::ClosingRefresh() {
    BuildTree();
    ShowSettings(FirstConnectionName());
}

QString Editor::SelectedConnection(bool accountsCount) const {
    const QTreeWidgetItem* node = window_.SelectedNode();
    if (node == nullptr) return {};
    const NodeKind kind = KindOf(*node);
    if (kind == NodeKind::Connection) return node->text(0);
    if (kind == NodeKind::Account && accountsCount && node->parent() != nullptr)
        return node->parent()->text(0);
    return {};
}

QString Editor::SelectedAccount() const {
    const QTreeWidgetItem* node = window_.SelectedNode();
    if (node == nullptr || KindOf(*node) != NodeKind::Account) return {};
    return node->text(0);
}

QString Editor::ChosenAccount() {
    const QString account = SelectedAccount();
    if (account.isEmpty()) {
        dialogs_.Message(QStringLiteral("Wählen Sie zuerst einen Account aus"), kNoConnectionTitle,
                         MessageStyle::Information);
    }
    return account;
}

bool Editor::RefuseUnfitName(const QString& name, const QString& title) {
    if (FitsAKeyName(name)) return false;
    dialogs_.Message(
        QStringLiteral(
            "Ein Name darf höchstens 255 Zeichen lang sein und weder einen umgekehrten "
            "Schrägstrich (\\) noch ein Steuerzeichen wie einen Zeilenumbruch enthalten."),
        title, MessageStyle::Information);
    return true;
}

bool Editor::RefuseServiceKey(const QString& name) {
    if (!IsServiceKey(name)) return false;
    dialogs_.Message(kServiceKeyName, QStringLiteral("Verbindung"), MessageStyle::Information);
    return true;
}

void Editor::NewConnection() {
    const QString entry =
        dialogs_.Input(QStringLiteral("Geben Sie den Namen der neuen Verbindung ein."),
                       QStringLiteral("Neue Verbindung"), QStringLiteral("neue Verbindung"));
    if (entry.isEmpty() || RefuseUnfitName(entry, QStringLiteral("Verbindung")) ||
        RefuseServiceKey(entry))
        return;
    for (auto& slot : settings_.Connections) {
        if (SameKeyTrimmed(slot.Name, entry)) {
            dialogs_.Message(kConnectionExists, QStringLiteral("Verbindung"),
                             MessageStyle::Information);
            return;
        }
        if (Trimmed(slot.Name).isEmpty()) {
            slot.Name = S(entry);
            slot.TimeOut = "60";
            break;
        }
    }
    ClosingRefresh();
}

void Editor::RenameConnection() {
    const QString oldName = window_.ConnectionName->text();
    if (oldName == Q(config::layout::kNoRasConnection)) {
        dialogs_.Message(QStringLiteral("Diese Verbindung kann nicht umbenannt werden"),
                         QStringLiteral("Umbenennen"), MessageStyle::Warning);
        return;
    }
    if (oldName.isEmpty()) {
        dialogs_.Message(kChooseConnectionFirst, kNoConnectionTitle, MessageStyle::Information);
        return;
    }
    const QString entry =
        dialogs_.Input(QStringLiteral("Geben Sie den neuen Namen der Verbindung ein!"),
                       QStringLiteral("Verbindung"), oldName);
    if (entry.isEmpty() || RefuseUnfitName(entry, QStringLiteral("Verbindung")) ||
        RefuseServiceKey(entry))
        return;
    // The new name must not be another connection's: compared as for a new connection. The
    // connection's own name in other case is its own key.
    for (const auto& slot : settings_.Connections) {
        if (!SameKey(slot.Name, oldName) && SameKeyTrimmed(slot.Name, entry)) {
            dialogs_.Message(kConnectionExists, QStringLiteral("Verbindung"),
                             MessageStyle::Information);
            return;
        }
        if (slot.Name.empty()) break;
    }
    for (auto& slot : settings_.Connections) {
        if (SameKey(slot.Name, oldName)) slot.Name = S(entry);
    }
    for (auto& slot : settings_.Accounts) {
        if (SameKey(slot.Connection, oldName)) slot.Connection = S(entry);
    }
    // The accounts the load left out move with their connection when it is saved.
    for (auto& loaded : settings_.Loaded.Connections) {
        if (SameKey(loaded.Name, oldName)) loaded.Name = S(entry);
    }
    ClosingRefresh();
}

void Editor::RemoveConnection() {
    const QString name = SelectedConnection(false);
    if (name.isEmpty()) {
        dialogs_.Message(kChooseConnectionFirst, kNoConnectionTitle, MessageStyle::Information);
        return;
    }
    if (name == Q(config::layout::kNoRasConnection)) {
        dialogs_.Message(QStringLiteral("Diese Verbindung darf nicht gelöscht werden."),
                         QStringLiteral("Verbindung löschen"), MessageStyle::Plain);
        return;
    }
    if (dialogs_.Message(
            QStringLiteral(
                "Das Löschen der Verbindung beinhaltet auch das löschen aller enthaltenen "
                "Accounts. Möchten Sie fortfahren?"),
            QStringLiteral("Verbindung löschen"), MessageStyle::Question) != Answer::Yes) {
        return;
    }
    const std::string wanted = S(name);
    for (std::size_t i = 0; i < settings_.Connections.size(); ++i) {
        if (settings_.Connections[i].Name == wanted) {
            config::DeleteConnection(settings_.Connections, static_cast<int>(i));
            break;
        }
    }
    for (std::size_t i = 0; i < settings_.Accounts.size();) {
        if (settings_.Accounts[i].Connection == wanted) {
            config::DeleteAccount(settings_.Accounts,
                                  static_cast<int>(i));  // the next one moved here
        } else {
            ++i;
        }
    }
    ClosingRefresh();
}

void Editor::ChooseComputer() {
    const QString entry =
        dialogs_.Input(QStringLiteral("Geben Sie den Rechner ein, den Sie verwalten möchten."),
                       QStringLiteral("Rechner"), Q(settings_.ComputerName));
    settings_.ComputerName = S(entry.toUpper());
    window_.GlobalComputerName->setText(Q(settings_.ComputerName));
    ConnectComputer();
    ClosingRefresh();
}

void Editor::ReadSettingsAgain() {
    ConnectComputer();
    ClosingRefresh();
}

void Editor::Save() {
    // A number that cannot be stored stops the save before the pages are taken back: nothing is
    // written, and every edit stays on the pages to be corrected and saved again.
    if (RefuseUnfitNumber()) return;
    ForSelectedNode(&Editor::TakeBackSettings);
    // What the status bar said before comes back once the save is done.
    const QString status = window_.StatusMessage();
    window_.SetStatus(QStringLiteral("Einstellungen speichern"));
    config::SaveOutcome outcome;
    Busy([&] { outcome = store_.SaveSettings(); });
    window_.SetStatus(status);
    ShowSaveOutcome(outcome);
    // The pages show what is stored now: an interval typed in minutes to the whole second, an
    // empty number as 0.
    if (outcome.result == config::SaveResult::Saved) ShowSelectedNode();
}

void Editor::ShowSaveOutcome(const config::SaveOutcome& outcome) {
    using config::SaveResult;
    using config::SaveStep;
    if (outcome.result == SaveResult::Saved) return;
    if (outcome.result == SaveResult::ServiceMissing) {
        dialogs_.Message(QStringLiteral("Der Service ist auf diesem Rechner nicht installiert"),
                         QStringLiteral("Fehler"), MessageStyle::Warning);
        return;
    }
    const QString key = Q(outcome.key);
    QString what;
    switch (outcome.step) {
        case SaveStep::ReadStored:
            what = QStringLiteral("Die gespeicherte Konfiguration konnte nicht gelesen werden.");
            break;
        case SaveStep::RemoveStored:
            what = key.isEmpty()
                       ? QStringLiteral(
                             "Die gespeicherten Verbindungen konnten nicht entfernt werden (%1).")
                             .arg(StatusText(outcome.status))
                       : QStringLiteral(
                             "Der gespeicherte Schlüssel \"%1\" konnte nicht entfernt werden (%2).")
                             .arg(Shown(key), StatusText(outcome.status));
            break;
        case SaveStep::CreateKey:
            what = QStringLiteral("Der Schlüssel \"%1\" konnte nicht angelegt werden (%2).")
                       .arg(key.isEmpty() ? QStringLiteral("Parameters") : Shown(key),
                            StatusText(outcome.status));
            break;
        case SaveStep::WriteValue:
            what =
                QStringLiteral("Der Wert \"%1\" (\"%2\")%3 konnte nicht geschrieben werden.")
                    .arg(Q(outcome.value), Shown(Q(outcome.data)),
                         key.isEmpty() ? QString() : QStringLiteral(" von \"%1\"").arg(Shown(key)));
            if (outcome.status == platform::error::kInvalidData) {
                what += QStringLiteral(" Er muss eine ganze Zahl von 0 bis 4294967295 sein.");
            }
            break;
        case SaveStep::Begin:
            what = QStringLiteral("Die Registrierung kann jetzt nicht beschrieben werden (%1).")
                       .arg(StatusText(outcome.status));
            if (const auto problem = store_.Api().LastHiveFileError())
                what += ' ' + DescribeProblem(*problem);
            break;
        case SaveStep::Flush:
            what = QStringLiteral("Die Registrierung konnte nicht dauerhaft geschrieben werden.");
            if (const auto problem = store_.Api().LastHiveFileError())
                what += ' ' + DescribeProblem(*problem);
            break;
        default: what = QStringLiteral("Unerwarteter Fehler: %1").arg(Q(outcome.data)); break;
    }
    if (!outcome.unstorable.empty()) {
        what += QStringLiteral(
                    " Die Registrierung dieses Rechners kann %1 nicht speichern; ersetzen Sie es.")
                    .arg(UnstorableText(outcome.unstorable));
    }
    if (outcome.result == SaveResult::FailedRestored) {
        dialogs_.Message(
            what +
                QStringLiteral("\n\nDie Einstellungen wurden nicht gespeichert. Die gespeicherte "
                               "Konfiguration ist unverändert."),
            QStringLiteral("Fehler"), MessageStyle::Critical);
    } else {
        dialogs_.Message(
            what + QStringLiteral(
                       "\n\nDie Einstellungen wurden nicht gespeichert, und die zuvor "
                       "gespeicherte Konfiguration konnte nicht wiederhergestellt werden. "
                       "Speichern Sie erneut, sobald die Registrierung wieder erreichbar ist."),
            QStringLiteral("Fehler"), MessageStyle::Critical);
    }
}

void Editor::NewAccount() {
    const QString connection = SelectedConnection(true);
    if (connection.isEmpty()) {
        dialogs_.Message(kChooseConnectionFirst, kNoConnectionTitle, MessageStyle::Information);
        return;
    }
    const QString entry =
        dialogs_.Input(QStringLiteral("Geben Sie den Namen des neuen Accounts ein."),
                       QStringLiteral("Neuer Account"), QStringLiteral("neuer Account"));
    if (entry.isEmpty() || RefuseUnfitName(entry, QStringLiteral("Account"))) return;
    for (auto& slot : settings_.Accounts) {
        // An account of the same key below the same connection key.
        if (SameKey(slot.Connection, connection) && SameKeyTrimmed(slot.Name, entry)) {
            dialogs_.Message(kAccountExists, QStringLiteral("Account"), MessageStyle::Information);
            return;
        }
        if (Trimmed(slot.Name).isEmpty()) {
            config::AccountRecord fresh;
            fresh.Connection = S(connection);
            fresh.Name = S(entry);
            for (const auto& value : config::layout::kAccountValues) {
                fresh.*value.field =
                    value.newAccountText != nullptr ? value.newAccountText : slot.*value.field;
            }
            slot = std::move(fresh);
            break;
        }
    }
    BuildTree();
}

void Editor::RemoveAccount() {
    const QString connection = SelectedConnection(true);
    const QString account = ChosenAccount();
    if (account.isEmpty()) return;
    if (dialogs_.Message(QStringLiteral("Möchten Sie den Account wirklich löschen?"),
                         QStringLiteral("Account löschen"),
                         MessageStyle::Question) != Answer::Yes) {
        return;
    }
    for (std::size_t i = 0; i < settings_.Accounts.size(); ++i) {
        if (settings_.Accounts[i].Connection == S(connection) &&
            settings_.Accounts[i].Name == S(account)) {
            config::DeleteAccount(settings_.Accounts, static_cast<int>(i));
            break;
        }
    }
    ClosingRefresh();
}

void Editor::CopyAccount() {
    const QString sourceConnection = SelectedConnection(true);
    const QString sourceName = ChosenAccount();
    if (sourceName.isEmpty()) return;
    const QString enteredTarget = dialogs_.Input(
        QStringLiteral("Geben Sie die Verbindung an, in die Sie den Account kopieren wollen."),
        QStringLiteral("Account kopieren"), QString());
    const QString newName =
        dialogs_.Input(QStringLiteral("Geben Sie den Namen des neuen Accounts an."),
                       QStringLiteral("Account kopieren"), sourceName);
    if (enteredTarget.isEmpty() || newName.isEmpty() ||
        RefuseUnfitName(newName, QStringLiteral("Account")))
        return;

    std::optional<std::string> target;
    for (const auto& slot : settings_.Connections) {
        if (slot.Name.empty()) break;
        if (SameKey(slot.Name, enteredTarget)) {
            target = slot.Name;  // the name as stored wins over the entry
            break;
        }
    }
    if (!target) {
        dialogs_.Message(QStringLiteral("Diese Verbindung existiert nicht."),
                         QStringLiteral("Verbindung"), MessageStyle::Warning);
        return;
    }

    std::optional<std::size_t> destination;
    std::optional<std::size_t> source;
    for (std::size_t i = 0; i < settings_.Accounts.size(); ++i) {
        const config::AccountRecord& slot = settings_.Accounts[i];
        if (!slot.Name.empty() && SameKey(slot.Name, newName) &&
            SameKey(slot.Connection, Q(*target))) {
            if (dialogs_.Message(
                    QStringLiteral(
                        "Dieser Account existiert schon. Möchten Sie ihn überschreiben?"),
                    QStringLiteral("Account"), MessageStyle::Question) != Answer::Yes) {
                return;
            }
            destination = i;
        }
        if (slot.Name.empty() && !destination) destination = i;
        if (slot.Connection == S(sourceConnection) && slot.Name == S(sourceName)) source = i;
    }
    if (!destination) {
        dialogs_.Message(
            QStringLiteral("Die Liste der Accounts ist voll: Es können höchstens 251 Accounts "
                           "angelegt werden. Der Account wurde nicht kopiert."),
            QStringLiteral("Account kopieren"), MessageStyle::Information);
        return;
    }
    if (source) {
        config::AccountRecord copy = settings_.Accounts[*source];
        copy.Connection = *target;
        copy.Name = S(newName);
        settings_.Accounts[*destination] = copy;
    }
    ClosingRefresh();
}

void Editor::InsertTemplate() {
    if (ChosenAccount().isEmpty()) return;
    if (dialogs_.Message(
            QStringLiteral("Das Einfügen des Templates überschreibt alle Einstellungen in diesem "
                           "Account. Möchten Sie fortfahren?"),
            QStringLiteral("Template kopieren"), MessageStyle::Question) != Answer::Yes) {
        return;
    }
    // Set in the order of the values: setting a check box runs its rule (see POPConfig) as the
    // user's click would.
    for (const auto& value : config::layout::kAccountValues) {
        QWidget* control = window_.AccountControl(value.field);
        if (control == nullptr) continue;
        const QString text = QString::fromUtf8(value.templateText);
        if (auto* box = qobject_cast<CheckBox*>(control)) {
            box->SetValue(text.toInt());
        } else if (text.isEmpty()) {
            static_cast<QLineEdit*>(control)->clear();
        } else {
            static_cast<QLineEdit*>(control)->setText(text);
        }
    }
}

}  // namespace kelvaston::ui
