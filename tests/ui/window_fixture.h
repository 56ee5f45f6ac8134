// The real window with scripted dialogs, on the local computer's registry (LocalHiveTest): on
// Windows the service's key is read back as .reg text, so the same tests check what reaches the
// real registry.
#pragma once

#include <gtest/gtest.h>

#include <QLocale>
#include <QTest>
#include <QTreeWidgetItemIterator>
#include <memory>

#include "scripted_dialogs.h"
#include "support/local_hive.h"
#include "ui/editor.h"

// Texts in test messages as text, not as arrays of characters.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace kelvaston::ui::test {

using namespace kelvaston::test;  // the hive's .reg lines and paths

// A golden file is rewritten only with KELVASTON_UPDATE_GOLDEN=1 (any other value, even 0,
// compares); a run that rewrites one fails, so that the diff is reviewed before it is committed.
// Returns whether `actual` was written, in which case there is nothing to compare.
inline bool UpdateGolden(const std::string& golden, const std::string& actual) {
    if (qEnvironmentVariable("KELVASTON_UPDATE_GOLDEN") != QLatin1String("1")) return false;
    WriteFile(golden, actual);
    ADD_FAILURE() << "golden file rewritten, review the diff: " << golden;
    return true;
}

// examples/sample.reg without its header, which Start() writes.
inline std::string Sample() {
    const std::string text = ReadFile(KELVASTON_EXAMPLES_DIR "/sample.reg");
    return text.substr(text.find('\n') + 1);
}

// The local computer's name as the registry gives it.
inline QString Local() {
#ifdef _WIN32
    char name[256] = {};
    std::uint32_t size = sizeof name;
    EXPECT_EQ(platform::Win32Registry().LocalComputerName(name, &size), 0);
    return QString::fromUtf8(name, size);
#else
    return QStringLiteral("Desk1");
#endif
}

class WindowTest : public LocalHiveTest {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void TearDown() override {
        for (const auto& problem : dialogs_.Problems()) ADD_FAILURE() << problem;
        editor_.reset();
        window_.reset();
        registry_.reset();
        QLocale::setDefault(QLocale::c());
    }

    // Makes `body` the local computer's registry and starts the editor on it.
    void Start(const std::string& body) {
        SeedHive(body);
        registry_ = OpenHive();
        window_ = std::make_unique<POPConfig>();
        editor_ = std::make_unique<Editor>(*registry_, dialogs_, *window_);
        editor_->Main();
    }

    // The local computer's hive as a .reg file: the store's file; on Windows the keys down to the
    // service's key and everything below it, in the layout the store writes.
    std::string Saved() {
#ifdef _WIN32
        using platform::regfile::Value;
        platform::Win32Registry registry;  // also after the test has let go of registry_
        platform::regfile::Writer writer(platform::regfile::Encoding::Utf8Lf);
        std::string path;
        for (const char* name : {"SYSTEM", "CurrentControlSet", "Services"}) {
            path += (path.empty() ? "" : "\\") + std::string(name);
            std::vector<platform::RegValue> values;
            EXPECT_EQ(registry.QueryKeyValues(platform::kHKeyLocalMachine, path, &values), 0);
            std::vector<Value> stored;
            for (auto& value : values) stored.push_back(platform::ValueFromApi(std::move(value)));
            writer.AddKey("HKEY_LOCAL_MACHINE\\" + path, stored);
        }
        platform::Key key = platform::kNullKey;
        platform::KeyTree tree;
        if (registry.OpenKeyEx(platform::kHKeyLocalMachine, kServicePath, 0, platform::kKeyRead,
                               &key) == 0) {
            EXPECT_EQ(platform::ReadTree(registry, key, "Tolvane Service", &tree), 0);
            registry.CloseKey(key);
            const auto add = [&](const auto& self, const std::string& at,
                                 const platform::KeyTree& node) -> void {
                writer.AddKey(at, node.values);
                for (const auto& child : node.children) self(self, at + "\\" + child.name, child);
            };
            add(add, "HKEY_LOCAL_MACHINE\\" + kServicePath, tree);
        }
        return writer.Finish();
#else
        return ReadFile(dir_ / "Desk1.reg");
#endif
    }

    POPConfig& W() {
        return *window_;
    }
    void Press(int toolbar) {
        W().Symbolleiste[static_cast<std::size_t>(toolbar)]->click();
    }
    config::Settings& Model() {
        return editor_->Model();
    }

    // The node with this path ("Connection" or "Connection\Account").
    QTreeWidgetItem* Node(const QString& path) {
        for (QTreeWidgetItemIterator it(W().GlobalList); *it != nullptr; ++it) {
            if (NodePath(**it) == path) return *it;
        }
        ADD_FAILURE() << "no node " << path.toStdString();
        return nullptr;
    }

    // A mouse click on a node, as the user makes it; with no path, below the last node.
    void Click(const QString& path, Qt::KeyboardModifiers keys = Qt::NoModifier) {
        if (path.isEmpty()) {
            QWidget* empty = W().GlobalList->viewport();
            QTest::mouseClick(empty, Qt::LeftButton, keys, QPoint(4, empty->height() - 4));
            return;
        }
        QTreeWidgetItem* node = Node(path);
        ASSERT_NE(node, nullptr);
        if (node->parent() != nullptr) node->parent()->setExpanded(true);
        W().GlobalList->scrollToItem(node);
        const QPoint at = W().GlobalList->visualItemRect(node).center();
        QTest::mouseClick(W().GlobalList->viewport(), Qt::LeftButton, keys, at);
    }

    void Type(QLineEdit* box, const QString& text) {
        box->selectAll();
        box->del();
        box->insert(text);
    }

    std::unique_ptr<platform::RegistryApi> registry_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<POPConfig> window_;
    std::unique_ptr<Editor> editor_;
};

}  // namespace kelvaston::ui::test
