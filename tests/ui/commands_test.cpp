// The window driven through the dialog seam, as one table (commands.txt): a start configuration,
// a script of clicks, keys, typing, button presses and preset dialog answers with checks of the
// controls and the saved store where they stand, and the connections, accounts and messages
// that must come of it.
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <utility>

#include "platform/reg_file.h"
#include "platform/registry_decorators.h"
#include "support/ascii_code_page.h"
#include "support/script.h"
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

using kelvaston::test::ReadScript;
using kelvaston::test::ScriptCase;

const std::vector<std::string> kVerbs = {
    "start",     "other",    "linux",   "startup",    "connections", "accounts", "message",
    "elsewhere", "click",    "press",   "local",      "ok",          "yes",      "no",
    "in",        "type",     "tick",    "ctrl-click", "collapse",    "key",      "restart",
    "see",       "selected", "enabled", "disabled",   "after",       "hidden",   "mark",
    "becomes",   "same",     "count",   "titled",     "ended",       "golden",   "number",
    "read-only", "writable", "cursor",  "store",      "root",        "ascii"};

// The names of the table: its own, and those the test sets.
kelvaston::test::ScriptNames names = {
#ifdef _WIN32
    {"abc", "\u00E4\u00F6\u00FC"},
    {"ABC", "\u00C4\u00D6\u00DC"},
#else
    {"abc", "\uFF41\uFF42\uFF43"},
    {"ABC", "\uFF21\uFF22\uFF23"},
#endif
    {"local", Local().toStdString()},
    {"store", "${store}"},
    {"sample", Sample()}};

std::vector<ScriptCase> ReadCases() {
    auto cases = ReadScript(KELVASTON_UI_TESTS_DIR "/commands.txt", kVerbs, names);
    // Cases for the file store alone, and those only root can make (giving a file away).
    std::erase_if(cases, [](const ScriptCase& c) {
        return std::ranges::any_of(c.steps, [](const auto& step) {
#ifdef _WIN32
            return step.verb == "linux" || step.verb == "root";
#else
            return step.verb == "root" && ::geteuid() != 0;
#endif
        });
    });
    return cases;
}

// The text in quotes of a line, as the window gets it.
QString Quoted(const QString& quoted) {
    const auto text = kelvaston::test::Unquote(quoted.toStdString());
    if (!text) ADD_FAILURE() << "not a text in quotes: " << quoted.toStdString();
    return QString::fromStdString(text.value_or(""));
}

// Key path -> value name -> value.
using Tree = std::map<std::string, std::map<std::string, platform::regfile::Value>>;

Tree Parse(const std::string& bytes) {
    const auto parsed = platform::regfile::Parse(bytes);
    EXPECT_TRUE(parsed.document) << parsed.error.message;
    Tree tree;
    if (!parsed.document) return tree;
    for (const auto& entry : parsed.document->entries) {
        std::string path;
        for (const auto& name : entry.path) path += (path.empty() ? "" : "\\") + name;
        auto& values = tree[path];
        if (entry.kind == platform::regfile::EntryKind::SetValue)
            values[entry.value.name] = entry.value;
    }
    return tree;
}

// The registry as the editor gets it: refusing what a store that may not be written refuses
// while the script says "read-only" (the store's own refusal is the file store's test), and
// counting the connections and key openings made under the wait cursor and without it.
class Guarded final : public platform::RegistryDecorator {
public:
    Guarded(platform::RegistryApi& registry, const bool& refusing)
        : RegistryDecorator(registry), refusing_(refusing) {}
    platform::Status OpenKeyEx(platform::Key parent, const std::string& subKey,
                               std::uint32_t options, std::uint32_t access,
                               platform::Key* result) override {
        if (!refusing_ || (access & platform::kKeySetValue) == 0) {
            return RegistryDecorator::OpenKeyEx(parent, subKey, options, access, result);
        }
        *result = platform::kNullKey;
        return platform::error::kAccessDenied;
    }
    std::optional<platform::HiveFileError> LastHiveFileError() const override {
        if (!refusing_) return RegistryDecorator::LastHiveFileError();
        return platform::HiveFileError{platform::HiveFileError::Kind::Unwritable,
                                       "/srv/registry",
                                       0,
                                       "Permission denied",
                                       EACCES,
                                       {},
                                       -1};
    }

    int waited = 0, bare = 0;  // connections and key openings under the wait cursor, and not
    std::function<void()> beforeFirstOpening;  // another program's doing, run once

protected:
    std::optional<platform::Status> Before(platform::Call call) override {
        if (call == platform::Call::OpenKeyEx && beforeFirstOpening)
            std::exchange(beforeFirstOpening, nullptr)();
        if (call == platform::Call::ConnectRegistry || call == platform::Call::OpenKeyEx) {
            const QCursor* cursor = QApplication::overrideCursor();
            ++(cursor != nullptr && cursor->shape() == Qt::WaitCursor ? waited : bare);
        }
        return std::nullopt;
    }

private:
    const bool& refusing_;
};

class CommandTest : public WindowTest, public ::testing::WithParamInterface<ScriptCase> {
protected:
    // A "store" line: the store's file made readable by others (chmod MODE), its folder so
    // (folder-chmod MODE), the file a named pipe (fifo) or another user's (chown UID), the folder
    // an empty file (file), the file's first line another (header TEXT), the file emptied
    // (empty). False when the line is not one of these or the change fails. After "later" the
    // change is made between the connection and the first key opened.
    bool Spoil(const QString& trick) {
#ifdef _WIN32
        (void)trick;
        return false;
#else
        const std::string file = (dir_ / "Desk1.reg").string(), folder = dir_.Path().string();
        const QString how = trick.section(' ', 0, 0);
        const auto number = static_cast<unsigned>(trick.section(' ', 1).toUInt(nullptr, 8));
        if (how == "fifo") std::filesystem::remove(file);
        if (how == "file" && std::filesystem::remove_all(folder) > 0)
            kelvaston::test::WriteFile(folder, "");
        if (how == "empty") kelvaston::test::WriteFile(file, "");
        if (how == "header") {
            std::string bytes = kelvaston::test::ReadFile(file);
            bytes.replace(0, bytes.find('\n'), trick.section(' ', 1).toStdString());
            kelvaston::test::WriteFile(file, bytes);
        }
        return how == "chmod"          ? ::chmod(file.c_str(), number) == 0
               : how == "folder-chmod" ? ::chmod(folder.c_str(), number) == 0
               : how == "fifo"         ? ::mkfifo(file.c_str(), 0600) == 0
               : how == "file"         ? std::filesystem::is_regular_file(folder)
               : how == "header"       ? true
               : how == "empty"        ? true
               : how == "chown"        ? ::chown(file.c_str(), trick.section(' ', 1).toUInt(),
                                                 trick.section(' ', 1).toUInt()) == 0
                                       : false;
#endif
    }

    bool readOnly_ = false;  // whether the registry refuses to be written
    bool ascii_ = false;     // whether its code page holds ASCII only
    std::unique_ptr<kelvaston::test::AsciiCodePage> asciiOnly_;
    std::unique_ptr<Guarded> guarded_;  // the registry the editor works on

    // A control of the window by its member's name, or else by its object's name (Rahmen_3).
    QWidget* Named(const QString& name) {
        const std::map<QString, QWidget*> controls = {
            {"AccountAddressMode", W().AccountAddressMode},
            {"AccountAddressModeTicker", W().AccountAddressModeTicker},
            {"AccountCommand", W().AccountCommand},
            {"AccountEnableAccount", W().AccountEnableAccount},
            {"AccountEnableCommand", W().AccountEnableCommand},
            {"AccountEnableUDP", W().AccountEnableUDP},
            {"AccountLogFile", W().AccountLogFile},
            {"AccountMaxMails", W().AccountMaxMails},
            {"AccountPOPHost", W().AccountPOPHost},
            {"AccountPOPPasswort", W().AccountPOPPasswort},
            {"AccountPOPUser", W().AccountPOPUser},
            {"AccountSMTPHost", W().AccountSMTPHost},
            {"AccountSMTPTo", W().AccountSMTPTo},
            {"AccountUDPPort", W().AccountUDPPort},
            {"ConnectionEnableLogging", W().ConnectionEnableLogging},
            {"ConnectionName", W().ConnectionName},
            {"ConnectionTimeOut", W().ConnectionTimeOut},
            {"GlobalBDWDir", W().GlobalBDWDir},
            {"GlobalDebugLevel", W().GlobalDebugLevel},
            {"GlobalListenRAS", W().GlobalListenRAS},
            {"GlobalProxyHost", W().GlobalProxyHost},
            {"GlobalProxyPort", W().GlobalProxyPort},
            {"GlobalTickerEMail", W().GlobalTickerEMail},
            {"GlobalTriggerPort", W().GlobalTriggerPort}};
        const auto found = controls.find(name);
        QWidget* control = found != controls.end() ? found->second : W().findChild<QWidget*>(name);
        if (control == nullptr) ADD_FAILURE() << "no such control: " << name.toStdString();
        return control;
    }

    // The saved store holds exactly the keys and values of the golden file, in any order.
    void CheckGolden(const QString& name) {
        const std::string golden = KELVASTON_UI_TESTS_DIR "/" + name.toStdString();
        if (UpdateGolden(golden, Saved()) || Parse(Saved()) == Parse(ReadFile(golden))) return;
        const std::string saved = QDir::temp().filePath("kelvaston-" + name).toStdString();
        WriteFile(saved, Saved());
        ADD_FAILURE() << "the store differs from " << golden << "; it holds now: " << saved;
    }

    // A "number" line: TEXT typed into FIELD while another page is shown, then saved. The store
    // then holds what "mark" found with OLD read as NEW; or, "refused", it is unchanged and the
    // field's page is shown with the text still in the field, for a warning to name. Then the
    // text the field had is typed back and saved: the store is again what "mark" found.
    void CheckNumber(const QString& arg, const std::string& marked) {
        auto* box = qobject_cast<QLineEdit*>(Named(arg.section(' ', 0, 0)));
        const qsizetype open = arg.indexOf('"'), close = arg.indexOf('"', open + 1);
        const QString text = Quoted(arg.mid(open, close - open + 1)), result = arg.mid(close + 2);
        ASSERT_TRUE(box != nullptr && (result == "refused" || result.contains(" => ")));
        int page = 0;
        while (page < W().Kartei->count() && !W().Kartei->widget(page)->isAncestorOf(box)) ++page;
        const QString original = box->text();
        W().Kartei->setCurrentIndex(page == 0 ? 1 : 0);
        Type(box, text);
        const std::size_t shown = dialogs_.Boxes().size();
        if (result == "refused") dialogs_.ExpectMessage(Answer::Ok);
        Press(3);
        std::string expected = marked;
        if (result == "refused") {
            ASSERT_EQ(dialogs_.Boxes().size(), shown + 1);
            EXPECT_EQ(dialogs_.Boxes().back().title, "Einstellungen speichern");
            EXPECT_EQ(dialogs_.Boxes().back().style, MessageStyle::Warning);
            EXPECT_EQ(box->text(), text);
            EXPECT_EQ(W().Kartei->currentIndex(), page);
        } else {
            const std::string was = result.section(" => ", 0, 0).toStdString();
            ASSERT_NE(expected.find(was), std::string::npos) << "not in the store";
            expected.replace(expected.find(was), was.size(),
                             result.section(" => ", 1).toStdString());
        }
        EXPECT_EQ(Saved(), expected);
        Type(box, original);
        Press(3);
        EXPECT_EQ(Saved(), marked);
    }

    // An "after" line: the enabled toolbar buttons, the computer's name shown, or a line the
    // saved store holds (or, after '!', does not hold).
    void CheckAfter(const QString& expected) {
        QStringList enabled;
        for (std::size_t i = 0; i < W().Symbolleiste.size(); ++i) {
            if (W().Symbolleiste[i]->isEnabled()) enabled << QString::number(i);
        }
        const QString shown = "computer=" + W().GlobalComputerName->text();
        const QString nodes = QString::number(W().GlobalList->topLevelItemCount());
        const std::string line = expected.mid(expected.startsWith('!') ? 1 : 0).toStdString();
        if (expected.startsWith("toolbars="))
            EXPECT_EQ(expected, "toolbars=" + enabled.join(','));
        else if (expected.startsWith("computer="))
            EXPECT_EQ(expected, shown);
        else if (expected.startsWith("nodes="))
            EXPECT_EQ(expected, "nodes=" + nodes);
        else
            EXPECT_EQ(Saved().find(line) == std::string::npos, expected.startsWith('!'));
    }
};

TEST_P(CommandTest, EndsWithTheExpectedModelAndMessages) {
    ASSERT_EQ(GetParam().problem, "");
    // What the case starts on and what must come of it; the rest is its script.
    std::string start, other;
    bool startup = false;
    std::optional<QStringList> connections, accounts;
    QStringList messages;  // "=TEXT" as it stands, "~TEXT" with "…" for any text
    std::vector<kelvaston::test::ScriptStep> script;
    QStringList tricks;  // what is done to the store's file or folder before the start
    for (const auto& step : GetParam().steps) {
        const QString rest = QString::fromStdString(step.rest);
        if (step.verb == "start" || step.verb == "other")
            (step.verb == "start" ? start : other) = names.at(step.rest);
        else if (step.verb == "connections" || step.verb == "accounts")
            (step.verb == "connections" ? connections : accounts) =
                rest.isEmpty() ? QStringList() : rest.split(',');
        else if (step.verb == "message")
            messages << (rest.startsWith('"') ? "=" + Quoted(rest) : "~" + rest);
        else if (step.verb == "store")
            tricks << rest;
        else if (step.verb == "ascii")
            ascii_ = true;
        else if (step.verb == "startup" || step.verb == "linux" || step.verb == "root")
            startup = startup || step.verb == "startup";
        else
            script.push_back(step);
    }
    ASSERT_NE(start, "") << "the case has no start";
    std::size_t before = 0;
    if (!other.empty()) kelvaston::test::WriteFile(dir_ / "Mail2.reg", kHeader + other);
    std::string marked;  // the store as "mark" found it, with the changes "becomes" made since
    bool ended = false;  // whether "Beenden" ended the program
    std::size_t overWindow = 0;  // the boxes shown while the window was visible
    dialogs_.OnShow([&](const ScriptedDialogs::Shown&) {
        overWindow += window_->isVisible();
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "a box under the wait cursor";
    });
    for (const auto& scripted : script) {
        SCOPED_TRACE(scripted.where);
        const QString word = QString::fromStdString(scripted.verb);
        const QString arg = QString::fromStdString(scripted.rest);
        const QString step = arg.isEmpty() ? word : word + " " + arg;
        QString name = arg.section(step.startsWith("see ") ? '=' : ' ', 0, 0);
        const bool fromStart = word == "see" && name.endsWith('^');
        if (fromStart) name.chop(1);
        if (word == "in") {
            dialogs_.ExpectInput(Quoted(arg));
            continue;
        }
        if (step == "ok" || step == "yes" || step == "no") {
            dialogs_.ExpectMessage(step == "ok"    ? Answer::Ok
                                   : step == "yes" ? Answer::Yes
                                                   : Answer::No);
            continue;
        }
        if (word == "read-only" || word == "writable") {
            readOnly_ = word == "read-only";
            continue;
        }
        if (!window_) {
            SeedHive(start);
            for (const QString& trick : tricks) {
                if (!trick.startsWith("later ")) {
                    ASSERT_TRUE(Spoil(trick)) << trick.toStdString();
                }
            }
            registry_ = OpenHive();
            asciiOnly_ = std::make_unique<kelvaston::test::AsciiCodePage>(*registry_);
            guarded_ = std::make_unique<Guarded>(
                ascii_ ? static_cast<platform::RegistryApi&>(*asciiOnly_) : *registry_, readOnly_);
            for (const QString& trick : tricks) {
                if (trick.startsWith("later "))
                    guarded_->beforeFirstOpening = [this, trick] {
                        EXPECT_TRUE(Spoil(trick.mid(6)));
                    };
            }
            window_ = std::make_unique<POPConfig>();
            editor_ = std::make_unique<Editor>(*guarded_, dialogs_, *window_);
            editor_->Main();
            editor_->SetExitAction([&] { ended = true; });
            before = startup ? 0 : dialogs_.Boxes().size();
        }
        const bool ofControl = word == "type" || word == "see" || word == "tick";
        QWidget* control = ofControl ? Named(name) : nullptr;
        auto* box = qobject_cast<QLineEdit*>(control);
        auto* check = qobject_cast<QCheckBox*>(control);
        if (word == "type" && box != nullptr) {
            Type(box, Quoted(arg.section(' ', 1)));
        } else if (word == "see" && (box != nullptr || check != nullptr)) {
            const QString states[] = {"clear", "grey", "set"};  // Qt::CheckState's order
            const QString shown = box != nullptr ? box->text() : states[check->checkState()];
            EXPECT_EQ(name + (fromStart ? "^=" : "=") + shown, arg);
            if (fromStart) {
                EXPECT_EQ(box != nullptr ? box->cursorPosition() : -1, 0);
            }
        } else if (word == "tick" && check != nullptr) {
            check->click();
        } else if (word == "enabled" || word == "disabled") {
            QWidget* shown = Named(arg.section(' ', 0, 0));
            QWidget* frame = arg.contains(" below ") ? Named(arg.section(" below ", 1)) : nullptr;
            ASSERT_NE(shown, nullptr);
            const bool enabled = frame != nullptr ? shown->isEnabledTo(frame) : shown->isEnabled();
            EXPECT_EQ(enabled, word == "enabled");
        } else if (control != nullptr) {
            ADD_FAILURE() << "not a control to " << word.toStdString();
        } else if (step == "ended")
            EXPECT_TRUE(ended);
        else if (step == "hidden")
            EXPECT_EQ(overWindow, 0u);
        else if (word == "golden")
            CheckGolden(arg);
        else if (word == "click")
            Click(arg);
        else if (word == "ctrl-click")
            Click(arg, Qt::ControlModifier);
        else if (word == "selected")
            EXPECT_EQ(W().SelectedNode(), arg.isEmpty() ? nullptr : Node(arg));
        else if (word == "collapse" && Node(arg) != nullptr)
            Node(arg)->setExpanded(false);
        else if (word == "press")
            Press(arg.toInt());
        else if (step == "local")
            W().OptionComputerLocal->click();
        else if (step == "mark")
            marked = Saved();
        else if (step == "restart") {
            const std::string saved = Saved();
            editor_.reset();
            window_.reset();
            registry_.reset();
            Start(saved.substr(saved.find('\n') + 1));
        } else if (step == "same")
            EXPECT_EQ(Saved(), marked);
        else if (word == "becomes") {
            const std::string was = arg.section(" => ", 0, 0).toStdString();
            const auto at = marked.find(was);
            if (at == std::string::npos || !arg.contains(" => ")) {
                ADD_FAILURE() << "not in the store";
            } else {
                marked.replace(at, was.size(), arg.section(" => ", 1).toStdString());
            }
        } else if (word == "after") {
            CheckAfter(arg);
        } else if (word == "cursor") {
            EXPECT_EQ(QApplication::overrideCursor(), nullptr);
            EXPECT_GT(guarded_->waited, arg.toInt());
            EXPECT_EQ(guarded_->bare, 0);
        } else if (word == "number") {
            CheckNumber(arg, marked);
        } else if (word == "elsewhere") {
            ApplyReg(*OpenHive(), names.at(scripted.rest));
        } else if (step == "key up" || step == "key down") {
            W().GlobalList->setFocus();
            QTest::keyClick(W().GlobalList, step == "key up" ? Qt::Key_Up : Qt::Key_Down);
        } else if (word == "count") {
            const std::string saved = Saved(), text = arg.section(' ', 1).toStdString();
            std::size_t n = 0;
            for (auto at = saved.find(text); at < saved.size(); at = saved.find(text, at + 1)) ++n;
            EXPECT_EQ(QString::number(n), arg.section(' ', 0, 0));
        } else if (word == "titled") {
            const QString styles[] = {"Information", "Warning", "Question", "Critical", "Plain"};
            auto shown = dialogs_.Boxes().rbegin();
            while (shown != dialogs_.Boxes().rend() && shown->input) ++shown;
            ASSERT_NE(shown, dialogs_.Boxes().rend()) << "no message box";
            EXPECT_EQ(styles[static_cast<int>(shown->style)] + " " + shown->title, arg);
        } else {
            ADD_FAILURE() << "not understood";
        }
    }
    ASSERT_NE(window_, nullptr) << "the script never starts the window";
    QStringList connectionsNow, accountsNow, shown;
    for (const auto& r : Model().Connections) {
        if (!r.Name.empty()) connectionsNow << QString::fromStdString(r.Name);
    }
    for (const auto& a : Model().Accounts) {
        if (!a.Name.empty()) accountsNow << QString::fromStdString(a.Connection + "\\" + a.Name);
    }
    for (std::size_t i = before; i < dialogs_.Boxes().size(); ++i) {
        if (!dialogs_.Boxes()[i].input) shown << dialogs_.Boxes()[i].text;
    }
    EXPECT_EQ(connections.value_or(connectionsNow), connectionsNow);
    EXPECT_EQ(accounts.value_or(accountsNow), accountsNow);
    QStringList expected;
    for (const QString& message : messages) {
        expected << message.mid(1).replace("${store}",
                                           QString::fromStdString(dir_.Path().string()));
    }
    for (qsizetype i = 0; i < std::min(shown.size(), expected.size()); ++i) {
        if (messages[i].startsWith('=')) continue;
        QStringList parts = expected[i].split(u'…');  // "…" stands for any text
        for (QString& part : parts) part = QRegularExpression::escape(part);
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(parts.join(".*")),
                                         QRegularExpression::DotMatchesEverythingOption);
        if (pattern.match(shown[i]).hasMatch()) expected[i] = shown[i];
    }
    EXPECT_EQ(shown, expected);
}

INSTANTIATE_TEST_SUITE_P(Toolbar, CommandTest, ::testing::ValuesIn(ReadCases()),
                         [](const auto& param) { return kelvaston::test::TestName(param.param); });

}  // namespace
}  // namespace kelvaston::ui::test
