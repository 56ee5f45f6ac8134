// render-icons: paints every picture of the window into one PNG contact sheet to look at.
//
//   render-icons [OUTPUT.png]        (default: icons.png)
//
// One row per picture. On a light grey and then on a white background: 16 px and 32 px at
// device pixel ratio 1 and 2, shown pixel for pixel; at the end the 16 px rendering magnified
// four times. The last rows show the program icon at all its sizes.
#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "ui/icons.h"

namespace {

using kelvaston::ui::ApplicationIcon;
using kelvaston::ui::FrameIcon;
using kelvaston::ui::ImageListPicture;

constexpr int kLabelWidth = 170;
constexpr int kCell = 72;
constexpr int kRow = 72;
constexpr int kZoom = 4;

const QColor kLightGrey(0xe4, 0xe4, 0xe4);
const QColor kWhite(0xff, 0xff, 0xff);

struct Entry {
    QString label;
    QIcon icon;
    int nominal;  // 16 or 32
};

// The icon's pixmap for `side` logical pixels at `dpr`, drawn with one image pixel per device
// pixel, centred in the cell at (x, y).
void DrawActual(QPainter& p, const QIcon& icon, int side, qreal dpr, int x, int y) {
    QPixmap pixmap = icon.pixmap(QSize(side, side), dpr);
    pixmap.setDevicePixelRatio(1);
    p.drawPixmap(x + (kCell - pixmap.width()) / 2, y + (kRow - pixmap.height()) / 2, pixmap);
}

void DrawRow(QPainter& p, const Entry& e, int y) {
    p.setPen(Qt::black);
    p.drawText(QRect(6, y, kLabelWidth - 12, kRow), Qt::AlignVCenter | Qt::AlignLeft, e.label);
    int x = kLabelWidth;
    for (const QColor& background : {kLightGrey, kWhite}) {
        p.fillRect(QRect(x, y, 4 * kCell, kRow), background);
        DrawActual(p, e.icon, 16, 1, x, y);
        DrawActual(p, e.icon, 32, 1, x + kCell, y);
        DrawActual(p, e.icon, 16, 2, x + 2 * kCell, y);
        DrawActual(p, e.icon, 32, 2, x + 3 * kCell, y);
        x += 4 * kCell;
    }
    // The nominal size magnified, so single pixels can be judged.
    const QImage small = e.icon.pixmap(QSize(e.nominal, e.nominal), 1).toImage();
    const QImage big = small.scaled(small.size() * kZoom / (e.nominal / 16), Qt::IgnoreAspectRatio,
                                    Qt::FastTransformation);
    const int zoomWidth = 16 * kZoom + 8;
    p.fillRect(QRect(x, y, zoomWidth, kRow), kLightGrey);
    p.drawImage(x + (zoomWidth - big.width()) / 2, y + (kRow - big.height()) / 2, big);
}

}  // namespace

int main(int argc, char** argv) {
    // Nothing is shown on screen, so no display is needed unless one is asked for.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("icons.png");

    std::vector<Entry> entries;
    for (int n = 1; n <= 10; ++n) {
        entries.push_back({QStringLiteral("Picture %1").arg(n), ImageListPicture(n), 16});
    }
    for (int i = 0; i <= 5; ++i) {
        entries.push_back({QStringLiteral("Frame %1").arg(i), FrameIcon(i), 32});
    }
    entries.push_back({QStringLiteral("Application"), ApplicationIcon(), 16});

    const int headerHeight = 24;
    constexpr int kAppBox = 400;  // 16 + 32 + 48 + 256 and the gaps
    const int width = kLabelWidth + std::max(8 * kCell + 16 * kZoom + 8, 2 * kAppBox + 10);
    const int appHeight = 256 + 24;
    const int height = headerHeight + static_cast<int>(entries.size()) * kRow + appHeight;
    QImage sheet(width, height, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(kWhite);
    QPainter p(&sheet);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);

    p.setPen(Qt::black);
    const char* headers[] = {"16", "32", "16@2x", "32@2x"};
    for (int half = 0; half < 2; ++half) {
        for (int i = 0; i < 4; ++i) {
            p.drawText(QRect(kLabelWidth + (half * 4 + i) * kCell, 0, kCell, headerHeight),
                       Qt::AlignCenter, QString::fromLatin1(headers[i]));
        }
    }
    p.drawText(QRect(kLabelWidth + 8 * kCell, 0, 16 * kZoom + 8, headerHeight), Qt::AlignCenter,
               QStringLiteral("×%1").arg(kZoom));

    int y = headerHeight;
    for (const Entry& e : entries) {
        DrawRow(p, e, y);
        y += kRow;
    }

    // The program icon at its sizes, on both backgrounds.
    const QIcon appIcon = ApplicationIcon();
    int x = kLabelWidth;
    for (const QColor& background : {kLightGrey, kWhite}) {
        p.fillRect(QRect(x, y, kAppBox, appHeight), background);
        int cx = x + 8;
        for (int side : {16, 32, 48, 256}) {
            const QPixmap pixmap = appIcon.pixmap(QSize(side, side), 1);
            p.drawPixmap(cx, y + 12 + (256 - side), pixmap);
            cx += side + 8;
        }
        x += kAppBox + 10;
    }
    p.end();

    if (!sheet.save(output)) {
        std::fprintf(stderr, "render-icons: cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::printf("%s\n", qPrintable(output));
    return 0;
}
