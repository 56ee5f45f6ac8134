// The interval field, whose stored seconds come back from the minutes shown. (The window driven as
// a user drives it, start-up, clicks, keys and typing included, what each number field stores of
// what is typed or the save it refuses, and a store that may not be written or is no folder: the
// command table, commands.txt.)

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

}  // namespace
}  // namespace kelvaston::ui::test
