// Odd input through the window: long, blank-edged and umlaut names, numbers that are none, in
// the pages or in the store. Nothing crashes; each gets a German message or the registry's own
// behaviour. (Names that cannot be key names, stored numbers that are none and texts with
// blanks at their ends: see the command table.)
#include <set>

#include "window_fixture.h"

#ifdef _WIN32
#include "platform/windows_headers.h"
#endif

namespace kelvaston::ui::test {
namespace {

class OddInput : public WindowTest {};

TEST_F(OddInput, LongAndUmlautNamesSurviveTheSaveBlankEdgesDoNot) {
#ifdef _WIN32
    // Wine 8's RegCreateKeyA and RegOpenKeyExA refuse a path of more than 260 characters with
    // 234 (ERROR_MORE_DATA), and a 255-character name below the service's key makes one.
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr) {
        GTEST_SKIP() << "Wine cannot take key paths over 260 characters through the ANSI functions";
    }
#endif
    Start(kServiceLine + kParametersLine + KeyLine("NORAS"));
    const QString umlauts = QString(255, QChar(0xE4));  // 255 × ä: 510 bytes, 255 characters
    for (const QString& name : {QString(255, 'x'), umlauts, QStringLiteral(" Rand ")}) {
        dialogs_.ExpectInput(name);
        Press(0);
    }
    Click(umlauts);
    dialogs_.ExpectInput(QStringLiteral("Müller & Söhne"));
    Press(1);
    Press(3);  // save, then start afresh on what the store holds
    editor_.reset();
    window_.reset();
    registry_.reset();
    const std::string text = Saved();
    Start(text.substr(text.find('\n') + 1));
    // Blanks at the ends are stored, but read back without them, and the values under the
    // trimmed name are not found: the defaults stand in.
    std::set<std::string> names;
    for (const auto& c : Model().Connections) names.insert(c.Name + (c.Name == "Rand" ? "=" + c.TimeOut : ""));
    EXPECT_EQ(names, (std::set<std::string>{"", std::string(255, 'x'), umlauts.toStdString(), "NORAS", "Rand=600"}));
    EXPECT_EQ(Model().Accounts[0].Connection + "\\" + Model().Accounts[0].Name, umlauts.toStdString() + "\\Müller & Söhne");
}

// A number field left by a click in the tree goes into its record as typed; the save, which
// looks at the shown page first (see numbers_test.cpp), then fails naming the value and the key.
TEST_F(OddInput, NumbersThatAreNoDwordFailTheSaveWithAMessage) {
    Start(kServiceLine + kParametersLine + KeyLine("NORAS") + KeyLine("NORAS\\info"));
    Press(3);  // a first save writes the file as the store writes it
    const std::string before = Saved();
    for (const QString& bad : {QStringLiteral("99999999999"), QStringLiteral("-1"), QStringLiteral("zehn")}) {
        Click("NORAS\\info");
        Type(W().AccountUDPPort, bad);
        Click("NORAS");
        dialogs_.ExpectMessage(Answer::Ok);
        Press(3);
        EXPECT_TRUE(dialogs_.Boxes().back().text.contains("\"UDP Port\" (\"" + bad + "\") von \"NORAS\\info\"")) << bad.toStdString();
        EXPECT_TRUE(dialogs_.Boxes().back().text.contains("0 bis 4294967295"));
        EXPECT_EQ(Saved(), before);
    }
}

}  // namespace
}  // namespace kelvaston::ui::test
