// The editor behind the window: the working copy of the configuration, the connection to the
// target computer, the tree, and the showing and taking back of the setting pages. It reacts
// to the window's events; the window itself knows nothing of the model.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "config/settings.h"
#include "config/store.h"
#include "platform/registry_api.h"
#include "ui/dialogs.h"
#include "ui/pop_config.h"

namespace kelvaston::ui {

class Editor final : public QObject {
    Q_OBJECT

public:
    Editor(platform::RegistryApi& api, Dialogs& dialogs, POPConfig& window);

    config::Settings& Model() { return settings_; }
    POPConfig& Window() { return window_; }

    // Start-up: the local computer becomes the target, its configuration is loaded and the
    // window shows it with the first connection selected.
    void Main();
    // (Re)connects to ComputerName through the store, which checks that the service is
    // installed there and loads its configuration; says why when it cannot.
    void ConnectComputer();

    // Replaces the tree's nodes with the model's connections and accounts; selects nothing.
    void BuildTree();
    // Puts the global values and the named connection (and account) on the pages and selects
    // the node. A stored value that is not a number stops it there: the controls after it keep
    // what they showed.
    void ShowSettings(const std::optional<QString>& connection = std::nullopt,
                      const std::optional<QString>& account = std::nullopt);
    // Copies the pages back into the global values and the named records. An interval that
    // gives no number of seconds is left out (the connection keeps its interval, and the next
    // showing of the pages says so).
    void TakeBackSettings(const std::optional<QString>& connection = std::nullopt,
                          const std::optional<QString>& account = std::nullopt);

    // The connection's name in slot 0, as every closing refresh shows it.
    QString FirstConnectionName() const;

    // The command of toolbar `index` (a toolbar::Index); any other index does nothing.
    void OnToolbar(int index);
    // What "&Beenden" does; the program quits the event loop, tests watch it.
    void SetExitAction(std::function<void()> exit) { exit_ = std::move(exit); }

    // The commands.
    void NewConnection();
    void RenameConnection();
    void RemoveConnection();
    void ChooseComputer();
    void ReadSettingsAgain();
    void Save();
    void NewAccount();
    void RemoveAccount();
    void CopyAccount();
    void InsertTemplate();

private:
    // Runs `work` (registry calls and the model, nothing of the window) on a thread of its own
    // while the window goes on painting under a wait cursor; the user's input waits until the
    // work is done. A remote registry takes seconds, and the window must not look hung.
    void Busy(const std::function<void()>& work);

    using Operation = void (Editor::*)(const std::optional<QString>&,
                                       const std::optional<QString>&);
    // Calls `operation` for the selected node: a connection with its name, an account with
    // its connection's and its own name, nothing selected without names.
    void ForSelectedNode(Operation operation);
    void OnTreePressed();
    void OnTreeReleased();
    void OnTreeSelectionMovedByKey();
    void OnOptionComputerLocalClicked();
    // The end of most commands: the tree built anew and the connection of slot 0 shown.
    void ClosingRefresh();
    // The selected node as a connection name (a connection node's text, or an account node's
    // parent's text when `accountsCount`) and an account name (an account node's text).
    QString SelectedConnection(bool accountsCount) const;
    QString SelectedAccount() const;
    // The selected account's name; when none is selected, says to choose one first: empty then.
    QString ChosenAccount();
    void ShowSaveOutcome(const config::SaveOutcome& outcome);
    // Says which number field of the pages holds a text that cannot be stored, if one does, and
    // brings it to the front; true then. Only the pages that a save takes back are looked at.
    bool RefuseUnfitNumber();
    // Shows the selected node on the pages, then says why an interval was left out of the
    // last taking back, if one was.
    void ShowSelectedNode();
    // Says why a typed name cannot be a key's name, if it cannot; true then.
    bool RefuseUnfitName(const QString& name, const QString& title);
    // Refuses, with a message, the name of the service's own subkey as a connection's name.
    bool RefuseServiceKey(const QString& name);

    void ShowSettingsSteps(const std::optional<QString>& connection,
                           const std::optional<QString>& account);
    void TakeBackSettingsSteps(const std::optional<QString>& connection,
                               const std::optional<QString>& account);

    Dialogs& dialogs_;
    POPConfig& window_;
    config::Settings settings_;
    config::ConfigStore store_;
    std::vector<QTreeWidgetItem*> nodesInOrder_;  // as BuildTree added them
    // What the pages show: the names of the last ShowSettings.
    std::optional<QString> shownConnection_;
    std::optional<QString> shownAccount_;
    // Why the last taking back left an interval out; said once the next node is shown.
    QString refusedInterval_;
    std::function<void()> exit_;
};

}  // namespace kelvaston::ui
