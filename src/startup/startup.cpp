// Start-up and the connection to the target computer: the parts of the editor that decide
// which computer's registry is edited.
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <array>

#include "config/layout.h"
#include "ui/editor.h"
#include "ui/messages.h"

namespace kelvaston::ui {
namespace {

// Runs one step of the connection; whatever it raises only abandons that step.
template <class Step>
void Attempt(Step&& step) {
    try {
        step();
    } catch (...) {
    }
}

}  // namespace

std::string Editor::LocalComputerName() {
    std::array<char, 255> buffer{};
    std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
    store_.Api().LocalComputerName(buffer.data(), &size);
    return config::CutAtNul(std::string_view(buffer.data(), buffer.size()));
}

void Editor::Main() {
    config::InitSettings(settings_);
    settings_.ComputerName = LocalComputerName();
    ConnectComputer();
    window_.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window_.size(),
                                            QGuiApplication::primaryScreen()->availableGeometry()));
    window_.show();
    window_.GlobalComputerName->setText(Q(settings_.ComputerName));
    BuildTree();
    ShowSettings(FirstConnectionName());
}

void Editor::ConnectComputer() {
    Attempt([&] {
        config::ClearConnections(settings_.Connections);
        config::ClearAccounts(settings_.Accounts);
        settings_.Loaded = {};
    });
    window_.SetStatus(QStringLiteral("Verbindung mit Remote Computer"));
    const QString name = Q(settings_.ComputerName);

    settings_.RootKey = platform::kNullKey;
    Busy([&] {
        Attempt([&] {
            store_.Api().ConnectRegistry(settings_.ComputerName, platform::kHKeyLocalMachine, &settings_.RootKey);
        });
    });
    if (settings_.RootKey == platform::kNullKey) {
        QString text = QStringLiteral("Verbindung mit Computer ") + Shown(name) +
                       QStringLiteral(" kann nicht hergestellt werden.");
        // A registry kept in files: say which file or folder stands in the way, and why.
        if (const auto problem = store_.Api().LastHiveFileError()) text += "\n\n" + DescribeProblem(*problem);
        dialogs_.Message(text, QStringLiteral("keine Verbindung"), MessageStyle::Critical);
        window_.SetStatus(QString());
        return;
    }

    window_.SetStatus(QStringLiteral("Einstellungen lesen"));
    settings_.ServiceKeyHandle = platform::kNullKey;
    platform::Status opened = platform::error::kSuccess;
    Busy([&] {
        Attempt([&] {
            opened = store_.Api().OpenKeyEx(settings_.RootKey, config::layout::kServiceKey, 0, platform::kKeyWrite,
                                            &settings_.ServiceKeyHandle);
        });
    });
    const auto problem = store_.Api().LastHiveFileError();
    if (settings_.ServiceKeyHandle == platform::kNullKey && opened == platform::error::kAccessDenied && problem) {
        // The service is there, but the registry kept in files may not be written now: say where.
        dialogs_.Message(QStringLiteral("Die Registrierung des Computers ") + Shown(name) +
                             QStringLiteral(" kann nicht beschrieben werden.\n\n") + DescribeProblem(*problem),
                         QStringLiteral("Registrierung schreibgeschützt"), MessageStyle::Critical);
        window_.SetStatus(QString());
        return;
    }
    if (settings_.ServiceKeyHandle == platform::kNullKey) {
        dialogs_.Message(QStringLiteral("Der Kelvaston Dienst ist auf dem Computer ") + Shown(name) +
                             QStringLiteral(" nicht installiert! Bitte wählen Sie einen anderen Computer."),
                         QStringLiteral("Dienst nicht installiert"), MessageStyle::Critical);
        window_.SetStatus(QString());
        return;
    }
    store_.Api().CloseKey(settings_.ServiceKeyHandle);
    settings_.ServiceKeyHandle = platform::kNullKey;
    Busy([&] {
        const config::ReadingAtOnce reading(store_.Api(), settings_.RootKey);
        Attempt([&] { store_.LoadGlobalSettings(); });
        Attempt([&] { store_.LoadConnections(); });
        Attempt([&] { store_.LoadAccounts(); });
    });
    const QString leftOut = LeftOutText(settings_.Loaded.ConnectionsLeftOut, settings_.Loaded.AccountsLeftOut);
    if (!leftOut.isEmpty()) dialogs_.Message(leftOut, kLeftOutTitle, MessageStyle::Information);
}

void Editor::OnOptionComputerLocalClicked() {
    const int value = window_.OptionComputerLocal->Value();
    if (value == 1) {
        settings_.ComputerName = LocalComputerName();
        ConnectComputer();
        window_.GlobalComputerName->setText(Q(settings_.ComputerName).toUpper());
        BuildTree();
        ShowSettings(FirstConnectionName());
    }
    window_.Symbolleiste[toolbar::ChooseComputer]->setEnabled(value == 0);
}

}  // namespace kelvaston::ui
