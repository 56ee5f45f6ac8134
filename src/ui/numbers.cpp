#include "ui/numbers.h"

#include <QLocale>
#include <cmath>

#include "platform/value_library.h"

namespace kelvaston::ui {

QString IntervalText(std::uint32_t seconds) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const double minutes = static_cast<double>(seconds) / 60;
    // The fewest decimals that give the seconds back: two always do, as a hundredth of a minute
    // is less than a second. The text fits the narrow field.
    for (int decimals = 0; decimals < 2; ++decimals) {
        const QString text = locale.toString(minutes, 'f', decimals);
        if (IntervalSeconds(text) == seconds) return text;
    }
    return locale.toString(minutes, 'f', 2);
}

std::optional<std::uint32_t> IntervalSeconds(const QString& text) {
    const QString minutes = text.trimmed();
    if (minutes.isEmpty()) return 0u;
    // A group separator is refused: under a German locale "1.5" would otherwise be read as 15.
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = locale.toDouble(minutes, &ok);
    if (!ok || !std::isfinite(value) || value < 0) return std::nullopt;
    const double seconds = std::round(value * 60);
    if (seconds > kLargestNumber) return std::nullopt;
    return static_cast<std::uint32_t>(seconds);
}

bool FitsANumber(const QString& text) {
    std::uint32_t number = 0;
    return text.isEmpty() || platform::ParseDword(text.toStdString(), &number);
}

}  // namespace kelvaston::ui
