// Start-up and connecting to a computer, as the window shows them: the configuration store
// connects and loads; the window shows its status texts, the wait cursor and the answer.
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

#include "ui/editor.h"
#include "ui/messages.h"

namespace kelvaston::ui {

void Editor::Main() {
    config::InitSettings(settings_);
    settings_.ComputerName = store_.LocalComputerName();
    ConnectComputer();
    window_.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window_.size(),
                                            QGuiApplication::primaryScreen()->availableGeometry()));
    window_.show();
    window_.GlobalComputerName->setText(Q(settings_.ComputerName));
    BuildTree();
    ShowSettings(FirstConnectionName());
}

void Editor::ConnectComputer() {
    window_.SetStatus(QStringLiteral("Verbindung mit Remote Computer"));
    config::ConnectOutcome outcome;
    Busy([&] {
        outcome = store_.Connect(settings_.ComputerName, [this] {
            window_.SetStatus(QStringLiteral("Einstellungen lesen"));
        });
        if (outcome.result == config::ConnectResult::Connected) store_.Load();
    });
    const QString name = Shown(Q(settings_.ComputerName));
    // A registry kept in files: which file or folder stands in the way, and why.
    const QString problem =
        outcome.problem ? "\n\n" + DescribeProblem(*outcome.problem) : QString();
    switch (outcome.result) {
        case config::ConnectResult::Connected: {
            const QString leftOut =
                LeftOutText(settings_.Loaded.ConnectionsLeftOut, settings_.Loaded.AccountsLeftOut);
            if (!leftOut.isEmpty())
                dialogs_.Message(leftOut, kLeftOutTitle, MessageStyle::Information);
            return;
        }
        case config::ConnectResult::Unreachable:
            dialogs_.Message(QStringLiteral("Verbindung mit Computer ") + name +
                                 QStringLiteral(" kann nicht hergestellt werden.") + problem,
                             QStringLiteral("keine Verbindung"), MessageStyle::Critical);
            break;
        case config::ConnectResult::ReadOnly:
            dialogs_.Message(QStringLiteral("Die Registrierung des Computers ") + name +
                                 QStringLiteral(" kann nicht beschrieben werden.") + problem,
                             QStringLiteral("Registrierung schreibgeschützt"),
                             MessageStyle::Critical);
            break;
        case config::ConnectResult::ServiceMissing:
            dialogs_.Message(
                QStringLiteral("Der Kelvaston Dienst ist auf dem Computer ") + name +
                    QStringLiteral(" nicht installiert! Bitte wählen Sie einen anderen Computer."),
                QStringLiteral("Dienst nicht installiert"), MessageStyle::Critical);
            break;
    }
    window_.SetStatus(QString());
}

void Editor::OnOptionComputerLocalClicked() {
    const int value = window_.OptionComputerLocal->Value();
    if (value == 1) {
        settings_.ComputerName = store_.LocalComputerName();
        ConnectComputer();
        window_.GlobalComputerName->setText(Q(settings_.ComputerName).toUpper());
        BuildTree();
        ShowSettings(FirstConnectionName());
    }
    window_.Symbolleiste[toolbar::ChooseComputer]->setEnabled(value == 0);
}

}  // namespace kelvaston::ui
