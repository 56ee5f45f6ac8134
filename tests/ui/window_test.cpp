// The interval field, whose stored seconds come back from the minutes shown; the texts that name a
// character the registry cannot store; the pictures on file. (The window driven as
// a user drives it, start-up, clicks, keys and typing included, what each number field stores of
// what is typed or the save it refuses, and a store that may not be written or is no folder: the
// command table, commands.txt.)

#include "ui/icons.h"
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

// The minutes shown carry no more decimals than the seconds need: whole minutes none.
TEST(Interval, MinutesAreShownWithTheFewestDecimalsThatGiveTheSecondsBack) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const std::pair<std::uint32_t, const char*> rows[] = {{0, "0"},
                                                          {60, "1"},
                                                          {300, "5"},
                                                          {90, "1,5"},
                                                          {30, "0,5"},
                                                          {100, "1,67"},
                                                          {1, "0,02"},
                                                          {59, "0,98"},
                                                          {3600, "60"},
                                                          {3630, "60,5"},
                                                          {4294967295u, "71582788,25"}};
    for (const auto& [seconds, shown] : rows)
        EXPECT_EQ(IntervalText(seconds).toStdString(), shown) << seconds << " seconds";
    QLocale::setDefault(QLocale::c());
}

// The character the registry refused, named in the save's message: a whole character by itself
// and its code point, a byte that begins or continues no UTF-8 character by its value.
TEST(Messages, TheUnstorableCharacterIsNamedWhole) {
    const std::pair<std::string, const char*> rows[] = {
        {"\u20AC", "das Zeichen „€“ (U+20AC)"},
        {"\x01", "das Zeichen „\x01“ (U+0001)"},
        {"\u00E4", "das Zeichen „ä“ (U+00E4)"},
        {"\U0001F600", "das Zeichen „😀“ (U+1F600)"},
        {"\x80", "das Byte 0x80, das zu keinem UTF-8-Zeichen gehört"},
        {"\xC3", "das Byte 0xC3, das zu keinem UTF-8-Zeichen gehört"},
        {"\xFF", "das Byte 0xFF, das zu keinem UTF-8-Zeichen gehört"}};
    for (const auto& [bytes, named] : rows) EXPECT_EQ(UnstorableText(bytes).toStdString(), named);
}

// Every picture is on file at its nominal size and at twice that, each file of the size it claims;
// a toolbar picture has its greyed form as well, a frame's has none.
TEST(Pictures, EveryPictureIsOnFileAtItsSizes) {
    const auto check = [](const QIcon& icon, int side, bool greyed, int index) {
        const QList<QSize> sizes{QSize(side, side), QSize(2 * side, 2 * side)};
        for (const auto mode : {QIcon::Normal, QIcon::Active, QIcon::Selected, QIcon::Disabled}) {
            const bool onFile = mode != QIcon::Disabled || greyed;
            EXPECT_EQ(icon.availableSizes(mode), onFile ? sizes : QList<QSize>())
                << "picture " << index << " side " << side << " mode " << mode;
            if (!onFile) continue;
            for (const int ratio : {1, 2}) {  // a screen with one or two device pixels per pixel
                const QPixmap drawn = icon.pixmap(QSize(side, side), ratio, mode);
                EXPECT_EQ(drawn.size(), QSize(ratio * side, ratio * side)) << "picture " << index;
            }
        }
    };
    for (int i = 0; i <= static_cast<int>(Image::Template); ++i)
        check(ImageListPicture(static_cast<Image>(i)), 16, true, i);
    for (int i = 0; i <= static_cast<int>(FrameImage::FlagAndGlobe); ++i)
        check(FrameIcon(static_cast<FrameImage>(i)), 32, false, i);
}

}  // namespace
}  // namespace kelvaston::ui::test
