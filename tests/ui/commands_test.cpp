// The toolbar commands through the real window and the dialog seam, as one table: a start
// configuration, a script of clicks, button presses and preset dialog answers, and the
// connections, accounts and messages that must come of it.
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

const std::string kTwo = kService + kParameters + Key("Arcor") + Key("Arcor\\info") + Key("Arcor\\vertrieb") +
                         Key("NORAS") + Key("NORAS\\info") + Key("Zeta") + Key("Zeta\\z1");
const std::string kNoService = "\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n";
const QString kExists = "Diese Verbindung existiert schon. Wählen Sie einen anderen Namen";
const QString kAccountExists = "Dieser Account existiert schon. Wählen Sie einen anderen Namen";
const QString kOverwrite = "Dieser Account existiert schon. Möchten Sie ihn überschreiben?";
const QString kServiceKey = "Den Namen \"volatile\" verwendet der Dienst selbst für einen eigenen Schlüssel. Wählen Sie "
                            "einen anderen Namen für die Verbindung";
// Names the registry keeps apart though Qt's upper case makes them one (Straße, STRASSE), and
// names it takes for one though they differ in more than ASCII case (fullwidth ａｂｃ, ＡＢＣ; on
// Windows, whose ANSI calls cannot name a key in fullwidth letters, äöü and ÄÖÜ).
#ifdef _WIN32
#define KELVASTON_ABC "\u00E4\u00F6\u00FC"
#define KELVASTON_ABC_UPPER "\u00C4\u00D6\u00DC"
#else
#define KELVASTON_ABC "\uFF41\uFF42\uFF43"
#define KELVASTON_ABC_UPPER "\uFF21\uFF22\uFF23"
#endif
const std::string kNames = kService + kParameters + Key("NORAS") + Key("NORAS\\info") + Key("STRASSE") +
                           Key("STRASSE\\s1") + Key("Stra\u00DFe") + Key("Stra\u00DFe\\s2") + Key("T-Online") +
                           Key("T-Online\\" KELVASTON_ABC);
const QString kNamesAccounts = "NORAS\\info,STRASSE\\s1,Stra\u00DFe\\s2,T-Online\\" KELVASTON_ABC;
const QString kRemoveAll = "Das Löschen der Verbindung beinhaltet auch das löschen aller enthaltenen Accounts. Möchten Sie fortfahren?";
const QString kUnfit = "Ein Name darf höchstens 255 Zeichen lang sein und weder einen umgekehrten Schrägstrich (\\) noch "
                       "ein Steuerzeichen wie einen Zeilenumbruch enthalten.";

// One account, with every value other than the template's ("Enable Account" grey, which still
// lets the account frame and its "Template" button be used).
const std::string kOwnValues =
    kService + kParameters + Key("NORAS") + Key("NORAS\\info") +
    "\"Addressmode\"=dword:00000001\n\"Addressmode Ticker\"=dword:00000002\n\"Command\"=\"run.cmd\"\n"
    "\"Enable Account\"=dword:00000002\n\"Enable Command\"=dword:00000001\n\"Enable From UDP\"=dword:00000001\n"
    "\"Enable UDP\"=dword:00000001\n\"Enable Wissenschaft\"=dword:00000001\n\"LogFile\"=\"d:\\\\z.log\"\n"
    "\"Max Mails\"=dword:00000005\n\"POP Delete\"=dword:00000000\n\"POP Host\"=\"pop.alt\"\n\"POP Passwort\"=\"geheim\"\n"
    "\"POP User\"=\"alt\"\n\"SMTP From\"=\"von@alt\"\n\"SMTP Host\"=\"smtp.alt\"\n\"SMTP To\"=\"an@alt\"\n\"UDP Port\"=dword:00000007\n";
const QString kTemplate = "Das Einfügen des Templates überschreibt alle Einstellungen in diesem Account. Möchten Sie fortfahren?";
const QString kConnectionShown = "toolbars=0,1,2,3,4,6,7,8,10";  // "Rechner auswählen" and "Template" off

struct Case {
    const char* name;
    std::string start;
    // "click <node>", "press <toolbar>", "in <entry>" (the next input box), "ok", "yes", "no",
    // "local" (a click on "lokaler Rechner").
    std::vector<QString> script;
    QString connections, accounts;  // the model's names, joined by commas
    QStringList messages;           // the message boxes shown after the start
    // After the script: "toolbars=" the enabled buttons, "computer=" the computer's name shown,
    // else a line that the store holds (with "!", must not hold).
    QStringList after = {};
    std::string other = {};  // the store's computer MAIL2, when given
};

const Case kCases[] = {
    {"new connection: duplicates after trimming refused, in any letter case", kTwo,
     {"in  NORAS ", "ok", "press 0", "in    ", "ok", "press 0", "in ", "press 0", "click Zeta", "in noras ", "ok", "press 0"},
     "Arcor,NORAS,Zeta", "Arcor\\info,Arcor\\vertrieb,NORAS\\info,Zeta\\z1", {kExists, kExists, kExists}},
    {"new connection: refused where the registry would merge it with another, and as the service's own key", kNames,
     {"in noras", "ok", "press 0", "in stra\u00DFe", "ok", "press 0", "in Strasse", "ok", "press 0", "in volatile", "ok",
      "press 0", "in VOLATILE", "ok", "press 0", "in STRA\u1E9EE", "press 0"},
     "NORAS,STRASSE,Stra\u00DFe,T-Online,STRA\u1E9EE", kNamesAccounts, {kExists, kExists, kExists, kServiceKey, kServiceKey}},
    {"rename: refused into a name the registry merges with another's, and into the service's key; "
     "a name Qt's upper case alone makes alike is another connection", kNames,
     {"click T-Online", "in noras", "ok", "press 10", "click Stra\u00DFe", "in Gasse", "press 10", "click STRASSE",
      "in Volatile", "ok", "press 10", "click STRASSE", "in strasse", "press 10"},
     "NORAS,strasse,Gasse,T-Online", "NORAS\\info,strasse\\s1,Gasse\\s2,T-Online\\" KELVASTON_ABC, {kExists, kServiceKey}},
    {"new account: refused where the registry would merge it with an account of that connection", kNames,
     {"click NORAS", "in INFO", "ok", "press 1", "click T-Online\\" KELVASTON_ABC, "in " KELVASTON_ABC_UPPER, "ok",
      "press 1", "click STRASSE", "in info", "press 1", "click Stra\u00DFe\\s2", "in S2 ", "ok", "press 1"},
     "NORAS,STRASSE,Stra\u00DFe,T-Online", kNamesAccounts + ",STRASSE\\info", {kAccountExists, kAccountExists, kAccountExists}},
    {"copy account: the target connection and account as the registry finds them", kNames,
     {"click T-Online\\" KELVASTON_ABC, "in stra\u00DFe", "in kopie", "press 8", "click T-Online\\" KELVASTON_ABC,
      "in T-ONLINE", "in " KELVASTON_ABC_UPPER, "no", "press 8", "click T-Online\\" KELVASTON_ABC, "in \uFF54-\uFF4F\uFF4E\uFF4C\uFF49\uFF4E\uFF45",
      "in x", "ok", "press 8"},
     "NORAS,STRASSE,Stra\u00DFe,T-Online", kNamesAccounts + ",Stra\u00DFe\\kopie",
     {kOverwrite, "Diese Verbindung existiert nicht."}},
    {"new connection: names that cannot be key names are refused", kTwo,
     {"in " + QString(256, 'x'), "ok", "press 0", "in Arcor\\ISDN", "ok", "press 0", "in Zeilen\numbruch", "ok", "press 0"},
     "Arcor,NORAS,Zeta", "Arcor\\info,Arcor\\vertrieb,NORAS\\info,Zeta\\z1", {kUnfit, kUnfit, kUnfit}},
    {"rename the shown account's connection, not into another's name, never NORAS", kTwo,
     {"click Arcor\\info", "in NORAS", "ok", "press 10", "in Neu ", "press 10", "in ", "press 10", "click NORAS", "ok", "press 10"},
     "Neu ,NORAS,Zeta", "Neu \\info,Neu \\vertrieb,NORAS\\info,Zeta\\z1",
     {kExists, "Diese Verbindung kann nicht umbenannt werden"}},
    {"rename without a shown connection asks for one", kNoService, {"ok", "ok", "press 10"}, "", "",
     {"Wählen Sie zuerst eine Verbindung aus"}},
    {"remove connection: not an account node, not NORAS, only after Yes, with its accounts", kTwo,
     {"click Arcor\\info", "ok", "press 7", "click NORAS", "ok", "press 7", "click Arcor", "no", "press 7", "yes", "press 7"},
     "NORAS,Zeta", "NORAS\\info,Zeta\\z1",
     {"Wählen Sie zuerst eine Verbindung aus", "Diese Verbindung darf nicht gelöscht werden.", kRemoveAll, kRemoveAll}},
    {"reading again drops unsaved edits", kTwo, {"in Neu", "press 0", "press 2"}, "Arcor,NORAS,Zeta",
     "Arcor\\info,Arcor\\vertrieb,NORAS\\info,Zeta\\z1", {}, {kConnectionShown}},
    {"save without the service says so", kNoService, {"ok", "ok", "press 3"}, "", "",
     {"Der Service ist auf diesem Rechner nicht installiert"}, {kConnectionShown}},
    {"stored numbers that are none never end the program", kService + kParameters + "\"Listen RAS\"=\"ja\"\n" + Key("A") +
     "\"Enable Logging\"=\"viel\"\n" + Key("A\\x") + "\"Enable UDP\"=dword:00000007\n", {"click A\\x", "click A"}, "A,NORAS",
     "A\\x", {}},
    {"template: only on a shown account, only after Yes", kOwnValues,
     {"press 9", "click NORAS\\info", "no", "press 9", "press 3"}, "NORAS", "NORAS\\info", {kTemplate},
     {"\"Max Mails\"=dword:00000005", "\"POP User\"=\"alt\"", "\"Enable Account\"=dword:00000002"}},
    {"template: every value of the account page, saved into the shown account", kOwnValues,
     {"click NORAS\\info", "yes", "press 9", "press 3"}, "NORAS", "NORAS\\info", {kTemplate},
     {"toolbars=0,1,2,3,4,6,7,8,9,10", "\"Addressmode\"=dword:00000003", "\"Addressmode Ticker\"=dword:00000000",
      "\"Command\"=\"\"", "\"Enable Account\"=dword:00000001", "\"Enable Command\"=dword:00000000",
      "\"Enable From UDP\"=dword:00000000", "\"Enable UDP\"=dword:00000000", "\"Enable Wissenschaft\"=dword:00000000",
      "\"LogFile\"=\"c:\\\\Log.txt\"", "\"Max Mails\"=dword:0000000a", "\"POP Delete\"=dword:00000001",
      "\"POP Passwort\"=\"\"", "\"POP User\"=\"popuser\"", "\"UDP Port\"=dword:00003a9a", "!\"POP Host\"=\"pop.alt\"",
      "!\"POP Host\"=\"\"", "!\"SMTP From\"=\"von@alt\"", "!\"SMTP From\"=\"\"", "!\"SMTP Host\"=\"smtp.alt\"",
      "!\"SMTP Host\"=\"\"", "!\"SMTP To\"=\"an@alt\"", "!\"SMTP To\"=\"\""}},
#ifndef _WIN32
    {"choose computer: only once \"lokaler Rechner\" is clear; the name in upper case", kTwo,
     {"press 5", "local", "in mail2", "press 5"}, "Fern,NORAS", "Fern\\f1", {},
     {"computer=MAIL2", "toolbars=0,1,2,3,4,5,6,7,8,10"}, kService + kParameters + Key("NORAS") + Key("Fern\\f1")},
    {"choose computer: an unknown one is named; the lists stay empty", kTwo, {"local", "in Nirgends", "ok", "press 5"},
     "", "", {"Verbindung mit Computer NIRGENDS kann nicht hergestellt werden."},
     {"computer=NIRGENDS", "toolbars=0,1,2,3,4,5,6,7,8,10"}},
    {"choose computer: Cancel connects to the empty name, the local computer", kTwo,
     {"local", "in mail2", "press 5", "in ", "press 5"}, "Arcor,NORAS,Zeta", "Arcor\\info,Arcor\\vertrieb,NORAS\\info,Zeta\\z1",
     {}, {"computer="}, kService + kParameters + Key("Fern")},
    {"checking \"lokaler Rechner\" again loads the local computer", kTwo, {"local", "in mail2", "press 5", "local"},
     "Arcor,NORAS,Zeta", "Arcor\\info,Arcor\\vertrieb,NORAS\\info,Zeta\\z1", {}, {"computer=DESK1", kConnectionShown},
     kService + kParameters + Key("Fern")},
#endif
    {"new account: to the selected node's connection, unfit and duplicate names refused", kTwo,
     {"click Zeta\\z1", "in  z1 ", "ok", "press 1", "in a\\b", "ok", "press 1", "in ", "press 1", "in Z1", "ok", "press 1",
      "click NORAS", "in vertrieb", "press 1"},
     "Arcor,NORAS,Zeta", "Arcor\\info,Arcor\\vertrieb,NORAS\\info,Zeta\\z1,NORAS\\vertrieb", {kAccountExists, kUnfit, kAccountExists}},
    {"remove account: only the selected one, only after Yes, never a connection node", kTwo,
     {"click NORAS\\info", "no", "press 6", "yes", "press 6", "click Arcor", "ok", "press 6"}, "Arcor,NORAS,Zeta",
     "Arcor\\info,Arcor\\vertrieb,Zeta\\z1",
     {"Möchten Sie den Account wirklich löschen?", "Möchten Sie den Account wirklich löschen?",
      "Wählen Sie zuerst einen Account aus"}},
    {"copy account: target in any case, overwrite only after Yes, unknown target named", kTwo,
     {"click NORAS\\info", "in zeta", "in kopie", "press 8", "click NORAS\\info", "in ZETA", "in z1", "no", "press 8",
      "click NORAS\\info", "in Zeta", "in z1", "yes", "press 8", "click NORAS\\info", "in Nirgends", "in x", "ok",
      "press 8", "click NORAS\\info", "in ", "in x", "press 8"},
     "Arcor,NORAS,Zeta", "Arcor\\info,Arcor\\vertrieb,NORAS\\info,Zeta\\z1,Zeta\\kopie",
     {"Dieser Account existiert schon. Möchten Sie ihn überschreiben?",
      "Dieser Account existiert schon. Möchten Sie ihn überschreiben?", "Diese Verbindung existiert nicht."}},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class CommandTest : public WindowTest, public ::testing::WithParamInterface<Case> {};

TEST_P(CommandTest, EndsWithTheExpectedModelAndMessages) {
    const Case& c = GetParam();
    std::size_t before = 0;
    if (!c.other.empty()) kelvaston::test::WriteFile(dir_ / "Mail2.reg", kHeader + c.other);
    for (const QString& step : c.script) {
        const QString arg = step.section(' ', 1);
        if (step.startsWith("in ")) dialogs_.ExpectInput(arg);
        if (step == "ok" || step == "yes" || step == "no") {
            dialogs_.ExpectMessage(step == "ok" ? Answer::Ok : step == "yes" ? Answer::Yes : Answer::No);
        }
        if (!window_ && (step.startsWith("click ") || step.startsWith("press ") || step == "local")) {
            Start(c.start);
            before = dialogs_.Boxes().size();
        }
        if (step.startsWith("click ")) Click(arg);
        if (step.startsWith("press ")) Press(arg.toInt());
        if (step == "local") W().OptionComputerLocal->click();
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
    EXPECT_EQ(connections.join(','), c.connections);
    EXPECT_EQ(accounts.join(','), c.accounts);
    EXPECT_EQ(messages, c.messages);
    QStringList enabled;
    for (std::size_t i = 0; i < W().Symbolleiste.size(); ++i) {
        if (W().Symbolleiste[i]->isEnabled()) enabled << QString::number(i);
    }
    for (const QString& expected : c.after) {
        const bool absent = expected.startsWith('!');
        if (expected.startsWith("toolbars=")) EXPECT_EQ(expected, "toolbars=" + enabled.join(','));
        else if (expected.startsWith("computer=")) EXPECT_EQ(expected, "computer=" + W().GlobalComputerName->text());
        else EXPECT_EQ(Saved().find(expected.mid(absent ? 1 : 0).toStdString()) == std::string::npos, absent) << expected.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Toolbar, CommandTest, ::testing::ValuesIn(kCases), [](const ::testing::TestParamInfo<Case>& param) {
    std::string name;
    for (const char* p = param.param.name; *p != 0; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

}  // namespace
}  // namespace kelvaston::ui::test
