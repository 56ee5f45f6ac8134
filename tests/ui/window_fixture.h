// The real window on a file store of its own, with scripted dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QLocale>
#include <QTest>
#include <functional>
#include <memory>

#include "platform/file_store.h"
#include "support/temp_dir.h"
#include "ui/editor.h"

// Texts in test messages as text, not as arrays of characters.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace kelvaston::ui::test {

inline const std::string kHeader = "Windows Registry Editor Version 5.00\n";
inline const std::string kService = "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service]\n";
inline const std::string kParameters =
    "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters]\n";
inline std::string Key(const std::string& path) {
    return "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters\\" + path + "]\n";
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void TearDown() override {
        for (const auto& problem : dialogs_.Problems()) ADD_FAILURE() << problem;
        editor_.reset();
        window_.reset();
        front_.reset();
        registry_.reset();
        QLocale::setDefault(QLocale::c());
    }

    // Writes the local computer's hive ("Desk1") and starts the editor on it, through what
    // `through` puts in front of the store when it is set.
    void Start(const std::string& body) {
        kelvaston::test::WriteFile(dir_ / "Desk1.reg", kHeader + body);
        registry_ = std::make_unique<platform::FileStoreRegistry>(platform::FileStoreOptions{dir_.Path(), "Desk1"});
        window_ = std::make_unique<POPConfig>();
        if (through) front_ = through(*registry_);
        editor_ = std::make_unique<Editor>(front_ ? *front_ : *registry_, dialogs_, *window_);
        editor_->Main();
    }
    std::function<std::unique_ptr<platform::RegistryApi>(platform::RegistryApi&)> through;

    POPConfig& W() { return *window_; }
    config::Settings& Model() { return editor_->Model(); }

    // The node with this path ("Connection" or "Connection\Account").
    QTreeWidgetItem* Node(const QString& path) {
        const QStringList parts = path.split('\\');
        for (int i = 0; i < W().GlobalList->topLevelItemCount(); ++i) {
            QTreeWidgetItem* top = W().GlobalList->topLevelItem(i);
            if (top->text(0) != parts[0]) continue;
            if (parts.size() == 1) return top;
            for (int j = 0; j < top->childCount(); ++j) {
                if (top->child(j)->text(0) == parts[1]) return top->child(j);
            }
        }
        ADD_FAILURE() << "no node " << path.toStdString();
        return nullptr;
    }

    // A mouse click on a node, as the user makes it.
    void Click(const QString& path) {
        QTreeWidgetItem* node = Node(path);
        ASSERT_NE(node, nullptr);
        if (node->parent() != nullptr) node->parent()->setExpanded(true);
        W().GlobalList->scrollToItem(node);
        const QPoint at = W().GlobalList->visualItemRect(node).center();
        QTest::mouseClick(W().GlobalList->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    void Type(QLineEdit* box, const QString& text) {
        box->selectAll();
        box->del();
        box->insert(text);
    }

    kelvaston::test::TempDir dir_;
    std::unique_ptr<platform::FileStoreRegistry> registry_;
    std::unique_ptr<platform::RegistryApi> front_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<POPConfig> window_;
    std::unique_ptr<Editor> editor_;
};

}  // namespace kelvaston::ui::test
