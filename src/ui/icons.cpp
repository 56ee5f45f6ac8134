#include "ui/icons.h"

#include <array>

namespace kelvaston::ui {
namespace {

// The resource files of a picture `name` of nominal size `side`: name.png and name@2x.png, shown
// as they are also when active or selected; with `disabled` also name-disabled.png and
// name-disabled@2x.png, else Qt greys the picture itself.
QIcon FromFiles(const char* name, int side, bool disabled) {
    QIcon icon;
    const QString stem = QStringLiteral(":/pictures/") + QLatin1String(name);
    const auto add = [&](const QString& file, QIcon::Mode mode) {
        icon.addFile(file + QStringLiteral(".png"), QSize(side, side), mode);
        icon.addFile(file + QStringLiteral("@2x.png"), QSize(2 * side, 2 * side), mode);
    };
    for (const auto mode : {QIcon::Normal, QIcon::Active, QIcon::Selected}) add(stem, mode);
    if (disabled) add(stem + QStringLiteral("-disabled"), QIcon::Disabled);
    return icon;
}

}  // namespace

QIcon ImageListPicture(Image image) {
    static constexpr std::array kNames{"connection",    "account",      "save-settings",
                                       "read-settings", "quit",         "choose-computer",
                                       "delete",        "copy-account", "template"};
    return FromFiles(kNames.at(static_cast<std::size_t>(image)), 16, true);
}

QIcon FrameIcon(FrameImage image) {
    static constexpr std::array kNames{"frame-computer", "frame-plug",      "frame-connection",
                                       "frame-account",  "frame-hourglass", "frame-flag"};
    return FromFiles(kNames.at(static_cast<std::size_t>(image)), 32, false);
}

QIcon WindowIcon() {
    QIcon icon;
    for (const int side : {16, 32, 48}) {
        icon.addFile(QStringLiteral(":/pictures/kelvaston-%1.png").arg(side), QSize(side, side));
    }
    return icon;
}

}  // namespace kelvaston::ui
