// The number fields of the pages through the window: what is shown and left alone is stored
// again byte for byte, what is typed is stored as the page means it, and what cannot be stored
// refuses the save with a message before anything is written, every edit still on the pages.
// (Stored intervals left alone, and letters in the interval among other edits: commands.txt.)
#include "ui/numbers.h"
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

using Numbers = WindowTest;

// A dword value's line as the store writes it.
std::string Dword(const std::string& name, std::uint32_t value) {
    return "\"" + name + "\"=dword:" + QString::asprintf("%08x", value).toStdString() + "\n";
}

// Every stored interval, shown in minutes and taken back unchanged, gives the stored text again:
// all up to 99,999 seconds, the top 20,000 below 2^32, and 100,000 spread over the rest, in a
// locale with a decimal comma and in one with a decimal point.
TEST(Interval, EveryStoredNumberOfSecondsComesBackFromItsMinutes) {
    std::vector<std::uint32_t> seconds;
    for (std::uint32_t s = 0; s < 100000; ++s) seconds.push_back(s);
    for (std::uint32_t k = 0; k < 20000; ++k) seconds.push_back(kLargestNumber - k);
    for (std::uint32_t i = 0; i < 100000; ++i)
        seconds.push_back(i * 2654435761u);  // spread over 2^32
    for (const QLocale& locale :
         {QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::English)}) {
        QLocale::setDefault(locale);
        std::size_t wrong = 0;
        for (const std::uint32_t s : seconds) {
            const QString shown = IntervalText(s);
            const auto back = IntervalSeconds(shown);
            const std::string stored = std::to_string(s);
            if (back && std::to_string(*back) == stored) continue;
            if (++wrong <= 5) {
                ADD_FAILURE() << locale.name().toStdString() << ": " << stored << " shown as "
                              << shown.toStdString() << " comes back as "
                              << (back ? std::to_string(*back) : "nothing");
            }
        }
        EXPECT_EQ(wrong, 0u) << locale.name().toStdString();
    }
    QLocale::setDefault(QLocale::c());
}

// Every number field of the pages, each with texts a user types: what the store then holds (the
// file with the one value changed, or unchanged) and what the window says, word for word.
TEST_F(Numbers, EachNumberFieldStoresWhatItMeansOrRefusesTheSaveNamingFieldAndText) {
    Start(kServiceLine + kParametersLine + KeyLine("NORAS") + KeyLine("NORAS\\info"));
    Click("NORAS\\info");
    Press(3);
    const std::string before = Saved();
    const struct Field {
        QLineEdit* box;
        QString caption;
        int page;
        std::string value;  // the stored value's line as the sample holds it
        bool minutes = false;
    } fields[] = {
        {W().GlobalTriggerPort, "Port für UDP Messages", 0, Dword("TriggerPort", 15001)},
        {W().GlobalProxyPort, "Proxy Port", 0, Dword("ProxyPort", 0)},
        {W().GlobalDebugLevel, "Protokoll Level", 0, Dword("DebugLevel", 0)},
        {W().ConnectionTimeOut, "Intervall in dem Nachrichten abgeholt werden", 1,
         Dword("TimeOut", 600), true},
        {W().AccountMaxMails, "max. Mails pro Thread", 1, Dword("Max Mails", 10)},
        {W().AccountAddressMode, "Adress Modus", 1, Dword("Addressmode", 3)},
        {W().AccountUDPPort, "Benachrichtigung über UDP-Broadcast auf Port", 1,
         Dword("UDP Port", 15002)},
        {W().AccountAddressModeTicker, "Adress Modus", 2, Dword("Addressmode Ticker", 0)},
    };
    const QString pages[] = {"Global", "Verbindungen / Accounts", "Newsticker"};
    const QString number = "Dort ist eine ganze Zahl von 0 bis 4294967295 einzutragen.";
    const QString minutes =
        "Dort ist das Intervall in Minuten einzutragen, von 0 bis 71582788,25 (4294967295 "
        "Sekunden), "
        "zum Beispiel 1,5 für 90 Sekunden.";
    const QString refused =
        "\n\nEs wurde nichts gespeichert. Berichtigen Sie das Feld und speichern Sie erneut.";
    // A stored number, or none: the save is refused.
    using Stored = std::optional<std::uint32_t>;
    const struct Typed {
        QString text;
        Stored number;   // in a field of a whole number
        Stored seconds;  // in the interval, typed in minutes
    } typed[] = {
        {"zehn", {}, {}},
        {"", 0u, 0u},
        {"-1", {}, {}},
        {"4294967295", 4294967295u, {}},
        {"4294967296", {}, {}},
        {"1,5", {}, 90u},
        {" 7 ", 7u, 420u},
        {"0x10", {}, {}},
        {"1,01", {}, 61u},  // to the nearest second
        {"1.5", {}, {}},    // a point is no decimal point in German
        {"71582788,25", {}, 4294967295u},
        {"71582788,26", {}, {}},
    };
    for (const Field& field : fields) {
        const QString original = field.box->text();
        for (const Typed& t : typed) {
            SCOPED_TRACE(field.caption.toStdString() + " <- \"" + t.text.toStdString() + "\"");
            W().Kartei->setCurrentIndex(field.page == 0 ? 1 : 0);
            dialogs_.Clear();
            Type(field.box, t.text);
            const Stored stored = field.minutes ? t.seconds : t.number;
            if (!stored) dialogs_.ExpectMessage(Answer::Ok);
            Press(3);
            if (stored) {
                const std::string name = field.value.substr(1, field.value.find('"', 1) - 1);
                const auto at = before.find(field.value);
                ASSERT_NE(at, std::string::npos) << field.value;
                std::string expected = before;
                EXPECT_EQ(Saved(), expected.replace(at, field.value.size(), Dword(name, *stored)));
            } else {
                ASSERT_EQ(dialogs_.Boxes().size(), 1u);
                EXPECT_EQ(dialogs_.Boxes()[0].text,
                          "Das Feld \"" + field.caption + "\" auf der Seite \"" +
                              pages[field.page] + "\" enthält \"" + t.text + "\". " +
                              (field.minutes ? minutes : number) + refused);
                EXPECT_EQ(dialogs_.Boxes()[0].title, "Einstellungen speichern");
                EXPECT_EQ(dialogs_.Boxes()[0].style, MessageStyle::Warning);
                EXPECT_EQ(Saved(), before);
                EXPECT_EQ(field.box->text(), t.text);  // still there to be corrected
                EXPECT_EQ(W().Kartei->currentIndex(), field.page);
            }
            for (const auto& problem : dialogs_.Problems()) ADD_FAILURE() << problem;
            dialogs_.Clear();
            Type(field.box, original);
            Press(3);
            EXPECT_EQ(Saved(), before);
        }
    }
}

}  // namespace
}  // namespace kelvaston::ui::test
