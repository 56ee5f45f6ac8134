// The window's German wording for what the registry reports: a store file or folder that
// cannot be used, a registry error code, a character that cannot be stored.
#pragma once

#include <QString>
#include <string>

#include "platform/registry_api.h"

namespace kelvaston::ui {

// The model keeps its texts in UTF-8; Qt's controls hold QStrings.
inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
inline std::string S(const QString& s) {
    return s.toStdString();
}

// Why a file or folder of the store could not be used, as a sentence that names it.
QString DescribeProblem(const platform::HiveFileError& problem);

// A registry error code as a short German phrase with its number.
QString StatusText(platform::Status status);

// A name as a message quotes it: very long names cut short.
QString Shown(const QString& name);

// The character (or stray byte) the registry could not store, as a message names it.
QString UnstorableText(const std::string& bytes);

// Why a number field's text cannot be stored: the field by its caption and its page, the text,
// and what belongs there (a whole number, or for the interval minutes in the user's format).
QString UnfitNumberText(const QString& caption, const QString& page, const QString& text,
                        bool minutes);

// What the window says after a load that left stored connections or accounts out of its lists:
// they are not shown and a save keeps them as they are. Empty when nothing was left out.
QString LeftOutText(bool connections, bool accounts);
inline const QString kLeftOutTitle = QStringLiteral("Hinweis");

}  // namespace kelvaston::ui
