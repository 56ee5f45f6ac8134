#include "ui/numbers.h"

#include <QLocale>
#include <cmath>

#include "platform/value_library.h"

namespace kelvaston::ui {

QString IntervalText(std::uint32_t seconds) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    // Below 2^32 seconds, 15 significant digits leave the minutes off by less than a millionth of
    // a second: the nearest whole second is always the stored one.
    return locale.toString(static_cast<double>(seconds) / 60, 'g', 15);
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
