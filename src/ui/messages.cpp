#include "ui/messages.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "platform/text.h"
#include "ui/numbers.h"

namespace kelvaston::ui {
namespace {

using Kind = platform::HiveFileError::Kind;

// What the system said, in German where the cause is a common one.
QString SystemErrorText(int error) {
    switch (error) {
        case ENOSPC: return QStringLiteral("Auf dem Datenträger ist kein Platz mehr frei");
#ifdef EDQUOT
        case EDQUOT: return QStringLiteral("Das Speicherkontingent ist erschöpft");
#endif
        case EACCES:
        case EPERM: return QStringLiteral("Zugriff verweigert");
        case EROFS: return QStringLiteral("Das Dateisystem ist schreibgeschützt");
        case EIO: return QStringLiteral("Ein-/Ausgabefehler des Datenträgers");
        case ENOENT: return QStringLiteral("Die Datei oder der Ordner existiert nicht");
        default: return QString::fromLocal8Bit(std::strerror(error));
    }
}

}  // namespace

QString DescribeProblem(const platform::HiveFileError& problem) {
    const QString path = Q(problem.file);
    switch (problem.kind) {
        case Kind::Malformed: {
            QString text = QStringLiteral("Die Registrierungsdatei %1 ist fehlerhaft").arg(path);
            if (problem.line > 0) text += QStringLiteral(" (Zeile %1)").arg(problem.line);
            // What the reader found there is said in English by the tool, as all its messages are.
            return text +
                   QStringLiteral(
                       ". Sie wird nicht verändert; berichtigen Sie sie dort oder stellen Sie sie "
                       "aus einer Sicherung wieder her. Was dort nicht stimmt, nennt der Befehl "
                       "„kelvaston-reg query HKLM“.");
        }
        case Kind::Unreadable:
            return QStringLiteral("%1 kann nicht gelesen werden: %2.")
                .arg(path, SystemErrorText(problem.systemError));
        case Kind::Unwritable:
            return QStringLiteral(
                       "%1 kann nicht geschrieben werden: %2. Die Datei bleibt, wie sie war.")
                .arg(path, SystemErrorText(problem.systemError));
        case Kind::NotAFolder:
            return QStringLiteral(
                       "%1 ist kein Ordner. Die Registrierung wird in einem Ordner mit einer "
                       ".reg-Datei je "
                       "Rechner geführt; nennen Sie in KELVASTON_REGISTRY einen Ordner.")
                .arg(path);
        case Kind::Unsafe:
            if (!problem.owner.empty()) {
                return QStringLiteral(
                           "%1 gehört dem Benutzer %2, der dort Schlüssel untergeschoben oder "
                           "Passwörter "
                           "gelesen haben könnte. Kelvaston verwendet sie nicht; nehmen Sie Ihre "
                           "eigene.")
                    .arg(path, Q(problem.owner));
            }
            if (problem.mode >= 0) {
                return QStringLiteral(
                           "%1 darf von anderen Benutzern gelesen oder geändert werden (Modus %2). "
                           "Kelvaston verwendet sie nicht, denn sie enthält Passwörter; schützen "
                           "Sie sie "
                           "mit: chmod %3 '%1'")
                    .arg(path, QStringLiteral("%1").arg(problem.mode, 4, 8, QLatin1Char('0')),
                         QFileInfo(path).isDir() ? QStringLiteral("700") : QStringLiteral("600"));
            }
            return QStringLiteral(
                       "%1 ist keine gewöhnliche Datei; entfernen Sie sie aus dem Ordner der "
                       "Registrierung.")
                .arg(path);
    }
    return path;
}

QString StatusText(platform::Status status) {
    namespace error = platform::error;
    QString text;
    switch (status) {
        case error::kFileNotFound: text = QStringLiteral("nicht vorhanden"); break;
        case error::kAccessDenied: text = QStringLiteral("Zugriff verweigert"); break;
        case error::kInvalidParameter: text = QStringLiteral("ungültiger Name oder Wert"); break;
        case error::kBadNetPath: text = QStringLiteral("Rechner nicht erreichbar"); break;
        case error::kBadDb: text = QStringLiteral("Registrierungsdatei fehlerhaft"); break;
        case error::kRegistryIoFailed:
            text = QStringLiteral("Registrierung nicht beschreibbar");
            break;
        case error::kKeyDeleted: text = QStringLiteral("Schlüssel inzwischen gelöscht"); break;
        case error::kNoUnicodeTranslation:
            text = QStringLiteral("Zeichen nicht speicherbar");
            break;
        default: text = QStringLiteral("Fehler der Registrierung"); break;
    }
    return QStringLiteral("%1, Fehler %2").arg(text).arg(status);
}

QString Shown(const QString& name) {
    return Q(platform::text::Abbreviated(S(name), 60, "…"));
}

QString UnstorableText(const std::string& bytes) {
    const QString character = Q(bytes);
    // One character in valid UTF-8 comes back whole; a stray byte does not.
    if (!bytes.empty() && character.toStdString() == bytes) {
        const char32_t code = character.toUcs4().value(0);
        return QStringLiteral("das Zeichen „%1“ (U+%2)")
            .arg(character,
                 QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0')));
    }
    const auto byte = static_cast<unsigned char>(bytes.empty() ? 0 : bytes.front());
    return QStringLiteral("das Byte 0x%1, das zu keinem UTF-8-Zeichen gehört")
        .arg(QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0')));
}

QString UnfitNumberText(const QString& caption, const QString& page, const QString& text,
                        bool minutes) {
    const QString field = QStringLiteral("Das Feld \"%1\" auf der Seite \"%2\" enthält \"%3\". ")
                              .arg(caption, page, Shown(text));
    if (!minutes)
        return field + QStringLiteral("Dort ist eine ganze Zahl von 0 bis %1 einzutragen.")
                           .arg(kLargestNumber);
    return field +
           QStringLiteral(
               "Dort ist das Intervall in Minuten einzutragen, von 0 bis %1 (%2 Sekunden), zum "
               "Beispiel %3 für 90 Sekunden.")
               .arg(IntervalText(kLargestNumber))
               .arg(kLargestNumber)
               .arg(IntervalText(90));
}

QString LeftOutText(bool connections, bool accounts) {
    if (connections && accounts) {
        return QStringLiteral(
            "Es sind mehr Verbindungen und Accounts gespeichert, als angezeigt werden können. Die "
            "übrigen Verbindungen und Accounts werden nicht angezeigt und beim Speichern "
            "unverändert "
            "beibehalten.");
    }
    if (connections) {
        return QStringLiteral(
            "Es sind mehr Verbindungen gespeichert, als angezeigt werden können. Die übrigen "
            "Verbindungen werden nicht angezeigt und beim Speichern unverändert beibehalten.");
    }
    if (accounts) {
        return QStringLiteral(
            "Es sind mehr Accounts gespeichert, als angezeigt werden können. Die übrigen Accounts "
            "werden nicht angezeigt und beim Speichern unverändert beibehalten.");
    }
    return {};
}

}  // namespace kelvaston::ui
