// The window and the stores it cannot use: every kind of store file or folder it refuses, named
// word for word, and a store that may not be written. (The window driven as a user drives it,
// start-up, clicks, keys and typing included: the command table, commands.txt.)
#include <QApplication>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "platform/registry_decorators.h"
#include "ui/messages.h"
#include "window_fixture.h"

namespace kelvaston::ui::test {
namespace {

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

#ifndef _WIN32
// A registry kept in files whose folder may not be written: the start says so, naming the
// folder, instead of calling the service not installed; once it may be written again, reading
// the settings again loads them, without a new start. (The store's own refusal is the file
// store's test; here it stands as a wrapper that refuses what the store refuses.) Loads and
// saves wait for the registry under the wait cursor, which no message box and nothing after
// them, failed or not, still shows.
TEST_F(WindowTest, AStoreThatMayNotBeWrittenIsNamedAndReadOnceItMayAgain) {
    class ReadOnly final : public platform::RegistryDecorator {
    public:
        using RegistryDecorator::RegistryDecorator;
        bool refusing = true;
        platform::Status OpenKeyEx(platform::Key parent, const std::string& subKey,
                                   std::uint32_t options, std::uint32_t access,
                                   platform::Key* result) override {
            if (!refusing || (access & platform::kKeySetValue) == 0) {
                return RegistryDecorator::OpenKeyEx(parent, subKey, options, access, result);
            }
            *result = platform::kNullKey;
            return platform::error::kAccessDenied;
        }
        std::optional<platform::HiveFileError> LastHiveFileError() const override {
            if (!refusing) return RegistryDecorator::LastHiveFileError();
            return platform::HiveFileError{platform::HiveFileError::Kind::Unwritable,
                                           "/srv/registry",
                                           0,
                                           "Permission denied",
                                           EACCES,
                                           {},
                                           -1};
        }

        int waited = 0, bare = 0;  // connections and key openings under the wait cursor, and not

    protected:
        std::optional<platform::Status> Before(platform::Call call) override {
            if (call == platform::Call::ConnectRegistry || call == platform::Call::OpenKeyEx) {
                const QCursor* cursor = QApplication::overrideCursor();
                ++(cursor != nullptr && cursor->shape() == Qt::WaitCursor ? waited : bare);
            }
            return std::nullopt;
        }
    };
    SeedHive(Sample());
    registry_ = OpenHive();
    ReadOnly store(*registry_);
    window_ = std::make_unique<POPConfig>();
    editor_ = std::make_unique<Editor>(store, dialogs_, *window_);
    dialogs_.ExpectMessage(Answer::Ok);
    dialogs_.OnShow(
        [](const ScriptedDialogs::Shown&) { EXPECT_EQ(QApplication::overrideCursor(), nullptr); });
    editor_->Main();
    ASSERT_EQ(dialogs_.Boxes().size(), 1u);
    EXPECT_EQ(dialogs_.Boxes()[0].title, "Registrierung schreibgeschützt");
    EXPECT_EQ(dialogs_.Boxes()[0].style, MessageStyle::Critical);
    EXPECT_EQ(dialogs_.Boxes()[0].text,
              "Die Registrierung des Computers Desk1 kann nicht beschrieben werden.\n\n"
              "/srv/registry kann nicht geschrieben werden: Zugriff verweigert. Die Datei "
              "bleibt, wie sie war.");
    EXPECT_EQ(W().GlobalList->topLevelItemCount(), 0);
    store.refusing = false;
    Press(2);
    EXPECT_EQ(W().GlobalList->topLevelItemCount(), 3);  // the sample's three connections
    store.refusing = true;
    dialogs_.ExpectMessage(Answer::Ok);
    Press(3);  // a save that fails
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_GT(store.waited, 3);
    EXPECT_EQ(store.bare, 0);
}
#endif

}  // namespace
}  // namespace kelvaston::ui::test
