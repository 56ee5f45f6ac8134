// The window driven through the dialog seam, as one table (commands.txt): a start configuration,
// a script of clicks, keys, typing, button presses and preset dialog answers with checks of the
// controls and the saved store where they stand, and the connections, accounts and messages
// that must come of it.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <map>

#include "platform/reg_file.h"
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

struct Case {
    std::string name = {}, problem = {};  // a line of the table that is not understood
    std::string start = {}, other = {};   // configurations: the local computer's, MAIL2's
    QStringList script = {}, messages = {};
    std::optional<QStringList> connections = {}, accounts = {};
    bool linuxOnly = false, startup = false;
};

// "TEXT" with \n, \\ and \" in it as in C; nothing when `quoted` is not in quotes.
std::optional<QString> Unquote(const QString& quoted) {
    if (quoted.size() < 2 || !quoted.startsWith('"') || !quoted.endsWith('"')) return std::nullopt;
    QString text;
    for (qsizetype i = 1; i + 1 < quoted.size(); ++i) {
        text += quoted[i] != '\\' ? quoted[i] : quoted[++i] == 'n' ? QChar('\n') : quoted[i];
    }
    return text;
}

// A line of a configuration; one with {FIRST..LAST} in it stands for a line for each number
// from FIRST to LAST in its place, and \n in it for a line break.
std::string Repeated(const QString& line) {
    static const QRegularExpression range(R"(\{(\d+)\.\.(\d+)\})");
    const QRegularExpressionMatch m = range.match(line);
    if (!m.hasMatch()) return line.toStdString() + "\n";
    std::string lines;
    for (int i = m.captured(1).toInt(); i <= m.captured(2).toInt(); ++i) {
        QString one = line;
        one.replace(m.capturedStart(), m.capturedLength(), QString::number(i));
        lines += one.replace("\\n", "\n").toStdString() + "\n";
    }
    return lines;
}

// The cases of the table, each with the first line in it that is not understood.
std::vector<Case> ReadCases() {
    QFile file(KELVASTON_UI_TESTS_DIR "/commands.txt");
    if (!file.open(QIODevice::ReadOnly)) return {{"table", "commands.txt cannot be read"}};
    std::map<QString, QString> variables = {
#ifdef _WIN32
        {"abc", "\u00E4\u00F6\u00FC"}, {"ABC", "\u00C4\u00D6\u00DC"}, {"local", Local()}};
#else
        {"abc", "\uFF41\uFF42\uFF43"}, {"ABC", "\uFF21\uFF22\uFF23"}, {"local", Local()}};
#endif
    std::map<QString, std::string> configs = {{"sample", Sample()}};
    std::vector<Case> cases;
    QString config;
    const auto expand = [&](QString line) {
        for (const auto& [name, text] : variables) line.replace("${" + name + "}", text);
        return line;
    };
    for (int number = 1; !file.atEnd(); ++number) {
        QString line = expand(QString::fromUtf8(file.readLine()).chopped(1));
        const QString word = line.section(' ', 0, 0), rest = line.section(' ', 1);
        const auto problem = [&] {
            return "commands.txt:" + std::to_string(number) + ": " + line.toStdString();
        };
        if (!config.isEmpty()) {
            if (line == "end")
                config.clear();
            else
                configs[config] += Repeated(line);
        } else if (line.isEmpty() || line.startsWith('#')) {
        } else if (word == "let" && rest.contains(" = ")) {
            variables[rest.section(" = ", 0, 0)] = rest.section(" = ", 1);
        } else if (word == "config") {
            config = rest;
        } else if (word == "case") {
            cases.push_back({rest.toStdString()});
        } else if (cases.empty()) {
            cases.push_back({"table", problem()});
        } else if (Case& c = cases.back(); !c.problem.empty()) {
        } else if (word == "elsewhere" && configs.count(rest) != 0) {
            c.script << "elsewhere " + QString::fromStdString(configs[rest]);
        } else if (word == "start" || word == "other") {
            (word == "start" ? c.start : c.other) = configs.count(rest) ? configs[rest] : "";
            if (!configs.count(rest)) c.problem = problem();
        } else if (QStringList{"click", "press", "tick", "see", "after", "becomes", "golden",
                               "enabled", "disabled", "count", "titled", "ctrl-click", "selected",
                               "collapse", "key"}
                       .contains(word) ||
                   QStringList{"local", "ok", "yes", "no", "mark", "same", "ended", "restart",
                               "hidden"}
                       .contains(line)) {
            c.script << line;
        } else if (word == "in" ? Unquote(rest).has_value()
                                : word == "type" && Unquote(rest.section(' ', 1)).has_value()) {
            c.script << line;
        } else if (line == "linux" || line == "startup") {
            (line == "linux" ? c.linuxOnly : c.startup) = true;
        } else if (word == "connections" || word == "accounts") {
            (word == "connections" ? c.connections : c.accounts) =
                rest.isEmpty() ? QStringList() : rest.split(',');
        } else if (word == "message") {
            // Quoted, a message is compared as it stands: "…" is then the character itself.
            const std::optional<QString> quoted = Unquote(rest);
            c.messages << (quoted ? QStringLiteral("=") + *quoted : QStringLiteral("~") + rest);
        } else {
            c.problem = problem();
        }
    }
    for (Case& c : cases) {
        if (c.problem.empty() && c.start.empty()) c.problem = "the case has no start";
    }
    if (cases.empty()) cases.push_back({"table", "commands.txt holds no case"});
#ifdef _WIN32
    std::erase_if(cases, [](const Case& c) { return c.linuxOnly; });
#endif
    return cases;
}

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
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

class CommandTest : public WindowTest, public ::testing::WithParamInterface<Case> {
protected:
    // A control of the window by its member's name, or else by its object's name (Rahmen_3).
    QWidget* Named(const QString& name) {
        const std::map<QString, QWidget*> controls = {
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
            {"GlobalProxyHost", W().GlobalProxyHost},
            {"GlobalProxyPort", W().GlobalProxyPort}};
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
    const Case& c = GetParam();
    ASSERT_EQ(c.problem, "");
    std::size_t before = 0;
    if (!c.other.empty()) kelvaston::test::WriteFile(dir_ / "Mail2.reg", kHeader + c.other);
    std::string marked;  // the store as "mark" found it, with the changes "becomes" made since
    bool ended = false;  // whether "Beenden" ended the program
    std::size_t overWindow = 0;  // the boxes shown while the window was visible
    dialogs_.OnShow([&](const ScriptedDialogs::Shown&) { overWindow += window_->isVisible(); });
    for (const QString& step : c.script) {
        SCOPED_TRACE(step.toStdString());
        const QString word = step.section(' ', 0, 0), arg = step.section(' ', 1);
        const QString name = arg.section(step.startsWith("see ") ? '=' : ' ', 0, 0);
        if (word == "in") {
            dialogs_.ExpectInput(*Unquote(arg));
            continue;
        }
        if (step == "ok" || step == "yes" || step == "no") {
            dialogs_.ExpectMessage(step == "ok"    ? Answer::Ok
                                   : step == "yes" ? Answer::Yes
                                                   : Answer::No);
            continue;
        }
        if (!window_) {
            Start(c.start);
            editor_->SetExitAction([&] { ended = true; });
            before = c.startup ? 0 : dialogs_.Boxes().size();
        }
        const bool ofControl = word == "type" || word == "see" || word == "tick";
        QWidget* control = ofControl ? Named(name) : nullptr;
        auto* box = qobject_cast<QLineEdit*>(control);
        auto* check = qobject_cast<QCheckBox*>(control);
        if (word == "type" && box != nullptr) {
            Type(box, *Unquote(arg.section(' ', 1)));
        } else if (word == "see" && (box != nullptr || check != nullptr)) {
            const QString states[] = {"clear", "grey", "set"};  // Qt::CheckState's order
            const QString shown = box != nullptr ? box->text() : states[check->checkState()];
            EXPECT_EQ(name + "=" + shown, arg);
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
            EXPECT_EQ(W().SelectedNode(), Node(arg));
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
        } else if (word == "elsewhere") {
            ApplyReg(*OpenHive(), arg.toStdString());
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
    QStringList connections, accounts, messages;
    for (const auto& r : Model().Connections) {
        if (!r.Name.empty()) connections << QString::fromStdString(r.Name);
    }
    for (const auto& a : Model().Accounts) {
        if (!a.Name.empty()) accounts << QString::fromStdString(a.Connection + "\\" + a.Name);
    }
    for (std::size_t i = before; i < dialogs_.Boxes().size(); ++i) {
        if (!dialogs_.Boxes()[i].input) messages << dialogs_.Boxes()[i].text;
    }
    EXPECT_EQ(c.connections.value_or(connections), connections);
    EXPECT_EQ(c.accounts.value_or(accounts), accounts);
    QStringList expected;
    for (const QString& message : c.messages) {
        expected << message.mid(1).replace("${store}",
                                           QString::fromStdString(dir_.Path().string()));
    }
    for (qsizetype i = 0; i < std::min(messages.size(), expected.size()); ++i) {
        if (c.messages[i].startsWith('=')) continue;
        QStringList parts = expected[i].split(u'…');  // "…" stands for any text
        for (QString& part : parts) part = QRegularExpression::escape(part);
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(parts.join(".*")),
                                         QRegularExpression::DotMatchesEverythingOption);
        if (pattern.match(messages[i]).hasMatch()) expected[i] = messages[i];
    }
    EXPECT_EQ(messages, expected);
}

INSTANTIATE_TEST_SUITE_P(Toolbar, CommandTest, ::testing::ValuesIn(ReadCases()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             std::string name;
                             for (const char ch : param.param.name)
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name;
                         });

}  // namespace
}  // namespace kelvaston::ui::test
