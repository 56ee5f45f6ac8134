// The window and the stores it cannot use: every kind of store file or folder it refuses, named
// word for word; and the interval field, whose stored
// seconds come back from the minutes shown. (The window driven as a user drives it, start-up,
// clicks, keys and typing included, and what each number field stores of what is typed or the
// save it refuses, and a store that may not be written: the command table, commands.txt.)

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "ui/messages.h"
#include "ui/numbers.h"
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

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

#ifndef _WIN32
// Every kind of store file or folder the store will not use, as the window names it, word for word.
TEST(StoreProblems, AreNamedInGermanWordForWord) {
    kelvaston::test::TempDir dir;
    const QString tail =
        " darf von anderen Benutzern gelesen oder geändert werden (Modus %1). Kelvaston verwendet "
        "sie "
        "nicht, denn sie enthält Passwörter; schützen Sie sie mit: chmod %2 '%3'";  // filled in
                                                                                    // below
    const struct {
        const char* name;
        std::function<void(const std::filesystem::path& folder, const std::filesystem::path& file)>
            make;
        QString text;  // with {folder} and {file}
    } cases[] = {
        {"open file", [](auto&, auto& file) { ::chmod(file.c_str(), 0644); },
         "{file}" + tail.arg("0644", "600", "{file}")},
        {"open folder", [](auto& folder, auto&) { ::chmod(folder.c_str(), 0775); },
         "{folder}" + tail.arg("0775", "700", "{folder}")},
        {"damaged",
         [](auto&, auto& file) {
             kelvaston::test::WriteFile(file,
                                        kHeader + "\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:zz\n");
         },
         "Die Registrierungsdatei {file} ist fehlerhaft (Zeile 4). Sie wird nicht verändert; "
         "berichtigen Sie sie dort oder "
         "stellen Sie sie aus einer Sicherung wieder her. Was dort nicht stimmt, nennt der Befehl "
         "„kelvaston-reg query HKLM“."},
        {"fifo",
         [](auto&, auto& file) {
             std::filesystem::remove(file);
             ::mkfifo(file.c_str(), 0600);
         },
         "{file} ist keine gewöhnliche Datei; entfernen Sie sie aus dem Ordner der Registrierung."},
        {"other user's", [](auto&, auto& file) { (void)::chown(file.c_str(), 65534, 65534); },
         "{file} gehört dem Benutzer nobody, der dort Schlüssel untergeschoben oder Passwörter "
         "gelesen haben könnte. "
         "Kelvaston verwendet sie nicht; nehmen Sie Ihre eigene."},
    };
    for (const auto& c : cases) {
        if (std::string(c.name) == "other user's" && ::geteuid() != 0)
            continue;  // only root gives files away
        const std::filesystem::path folder = dir / c.name, file = folder / "Desk1.reg";
        std::filesystem::create_directory(folder);
        ::chmod(folder.c_str(), 0700);
        kelvaston::test::WriteFile(file, kHeader + "\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n");
        c.make(folder, file);
        platform::FileStoreRegistry store({folder, "Desk1"});
        platform::Key root = platform::kNullKey;
        EXPECT_NE(store.ConnectRegistry("", platform::kHKeyLocalMachine, &root),
                  platform::error::kSuccess)
            << c.name;
        const auto problem = store.LastHiveFileError();
        ASSERT_TRUE(problem) << c.name;
        EXPECT_EQ(DescribeProblem(*problem),
                  QString(c.text)
                      .replace("{folder}", QString::fromStdString(folder.string()))
                      .replace("{file}", QString::fromStdString(file.string())))
            << c.name;
    }
    const std::filesystem::path plain = dir / "plain";
    kelvaston::test::WriteFile(plain, "");
    platform::FileStoreRegistry notAFolder({plain, "Desk1"});
    platform::Key root = platform::kNullKey;
    EXPECT_NE(notAFolder.ConnectRegistry("", platform::kHKeyLocalMachine, &root),
              platform::error::kSuccess);
    ASSERT_TRUE(notAFolder.LastHiveFileError());
    EXPECT_EQ(DescribeProblem(*notAFolder.LastHiveFileError()),
              QString::fromStdString(plain.string()) +
                  " ist kein Ordner. Die Registrierung wird in einem Ordner mit einer "
                  ".reg-Datei je Rechner geführt; nennen Sie in KELVASTON_REGISTRY einen Ordner.");
}
#endif

}  // namespace
}  // namespace kelvaston::ui::test
