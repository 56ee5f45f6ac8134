// Every picture is a drawing on a grid of its own (16 or 32 units square) that is painted anew
// for each pixel size asked for. The coordinates are chosen so that at one device pixel per
// unit every outline lies on whole pixels: an outline one unit wide runs along half-unit
// coordinates, a filled area without outline starts and ends on whole units.
#include "ui/icons.h"

#include <QIconEngine>
#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPixmapCache>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numbers>
#include <utility>
#include <vector>

namespace kelvaston::ui {
namespace {

// --- Palette ------------------------------------------------------------------------------------

const QColor kInk(0x26, 0x32, 0x38);  // the outline of everything
const QColor kWhite(0xff, 0xff, 0xff);
const QColor kPaperShade(0xdd, 0xe5, 0xec);
const QColor kFolderBack(0xe3, 0xa2, 0x1a);
const QColor kFolderFront(0xff, 0xca, 0x3a);
const QColor kCase(0xdf, 0xe5, 0xea);
const QColor kCaseDark(0x8f, 0x9e, 0xa8);
const QColor kScreen(0x2f, 0x86, 0xd6);
const QColor kScreenGlare(0x7d, 0xbd, 0xf2);
const QColor kRed(0xe5, 0x39, 0x35);
const QColor kRedEdge(0x7f, 0x17, 0x16);
const QColor kGreen(0x3c, 0xb0, 0x4f);
const QColor kGreenEdge(0x1b, 0x57, 0x26);
const QColor kRoof(0xd8, 0x4b, 0x3c);
const QColor kWall(0xf7, 0xe5, 0xc0);
const QColor kDoor(0x8d, 0x5a, 0x3b);
const QColor kClockRim(0x1e, 0x6f, 0xc8);
const QColor kClockFace(0xcf, 0xe6, 0xff);
const QColor kLetter(0xf4, 0xf8, 0xff);
const QColor kNight(0x1b, 0x2a, 0x4a);
const QColor kMoon(0xff, 0xd5, 0x4f);
const QColor kDrive(0xb4, 0xc1, 0xca);
const QColor kDriveTop(0xd9, 0xe1, 0xe7);
const QColor kLed(0x4c, 0xe0, 0x64);
const QColor kFloppy(0x3a, 0x63, 0xb0);
const QColor kMetal(0xc9, 0xd2, 0xd8);
const QColor kPlug(0x4f, 0x64, 0x70);
const QColor kGear(0xf2, 0x9a, 0x2e);
const QColor kOcean(0x3f, 0xa0, 0xe8);
const QColor kLand(0x5c, 0xba, 0x62);
const QColor kWood(0x8d, 0x6e, 0x63);
const QColor kSand(0xf5, 0xb8, 0x2e);
const QColor kGlass(0xe4, 0xf2, 0xfc);
const QColor kTitle(0x1e, 0x7f, 0xd8);
const QColor kTray(0x4a, 0x6f, 0x8a);
const QColor kTrayLip(0x7f, 0xa3, 0xbc);
const QColor kStamp(0xe5, 0x39, 0x35);

// --- Drawing helpers ------------------------------------------------------------------------------

// The painter is scaled to the drawing's grid; `line` is the outline width in grid units.
// `fine` says there are at least two device pixels per unit, room for small detail that
// would only blur at one.
struct Canvas {
    QPainter& p;
    qreal line;
    bool fine;
};

QPainterPath Polyline(std::initializer_list<QPointF> points) {
    QPainterPath path;
    auto it = points.begin();
    path.moveTo(*it);
    for (++it; it != points.end(); ++it) path.lineTo(*it);
    return path;
}

QPainterPath Poly(std::initializer_list<QPointF> points) {
    QPainterPath path = Polyline(points);
    path.closeSubpath();
    return path;
}

// Fills a shape and draws its outline.
void Shape(Canvas& c, const QPainterPath& path, const QColor& fill, const QColor& edge = kInk) {
    c.p.setPen(QPen(edge, c.line, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    c.p.setBrush(fill);
    c.p.drawPath(path);
}

// An outlined rectangle covering exactly the cells x..x+w-1, y..y+h-1.
void Box(Canvas& c, qreal x, qreal y, qreal w, qreal h, const QColor& fill, qreal radius = 0,
         const QColor& edge = kInk) {
    const qreal half = c.line / 2;
    QPainterPath path;
    const QRectF r(x + half, y + half, w - c.line, h - c.line);
    if (radius > 0) {
        path.addRoundedRect(r, radius, radius);
    } else {
        path.addRect(r);
    }
    Shape(c, path, fill, edge);
}

// A filled rectangle without outline over the cells x..x+w-1, y..y+h-1.
void Fill(Canvas& c, qreal x, qreal y, qreal w, qreal h, const QColor& colour) {
    c.p.fillRect(QRectF(x, y, w, h), colour);
}

void Stroke(Canvas& c, const QPainterPath& path, const QColor& colour, qreal width,
            Qt::PenCapStyle cap = Qt::FlatCap, Qt::PenJoinStyle join = Qt::MiterJoin) {
    c.p.setPen(QPen(colour, width, Qt::SolidLine, cap, join));
    c.p.setBrush(Qt::NoBrush);
    c.p.drawPath(path);
}

void Circle(Canvas& c, QPointF centre, qreal radius, const QColor& fill,
            const QColor& edge = kInk) {
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    Shape(c, path, fill, edge);
}

// A gear wheel with `teeth` teeth and a hole in the middle.
QPainterPath GearPath(QPointF centre, qreal outer, qreal inner, qreal hole, int teeth) {
    QPainterPath path;
    const int corners = teeth * 4;
    for (int i = 0; i < corners; ++i) {
        // Each tooth: two corners at the outer radius, then two at the root.
        const qreal r = (i % 4 == 0 || i % 4 == 1) ? outer : inner;
        const qreal step = 2 * std::numbers::pi / corners;
        const qreal angle = (i + 0.5) * step - std::numbers::pi / 2;
        const QPointF point(centre.x() + r * std::cos(angle), centre.y() + r * std::sin(angle));
        if (i == 0) {
            path.moveTo(point);
        } else {
            path.lineTo(point);
        }
    }
    path.closeSubpath();
    path.addEllipse(centre, hole, hole);
    path.setFillRule(Qt::OddEvenFill);
    return path;
}

// An envelope seen from the back: the rectangle covers the given cells, the flap meets in the
// middle at `flapDepth` below the top.
void Envelope(Canvas& c, qreal x, qreal y, qreal w, qreal h, qreal flapDepth, const QColor& fill) {
    Box(c, x, y, w, h, fill);
    const qreal half = c.line / 2;
    Stroke(c, Polyline({{x + half, y + half}, {x + w / 2, y + flapDepth}, {x + w - half, y + half}}),
           kInk, c.line, Qt::FlatCap, Qt::RoundJoin);
}

// A monitor: an outlined case over the given cells with the screen `bezel` units inside the
// outline and `chin` units more of case below it.
void Monitor(Canvas& c, qreal x, qreal y, qreal w, qreal h, qreal bezel, qreal chin = 0,
             qreal radius = 0) {
    Box(c, x, y, w, h, kCase, radius);
    const QRectF screen(x + 1 + bezel, y + 1 + bezel, w - 2 - 2 * bezel, h - 2 - 2 * bezel - chin);
    c.p.fillRect(screen, kScreen);
    if (c.fine) {
        const qreal reach = std::min(screen.width(), screen.height()) * 0.8;
        c.p.fillPath(Poly({screen.topLeft(), screen.topLeft() + QPointF(reach, 0),
                           screen.topLeft() + QPointF(0, reach)}),
                     kScreenGlare);
    }
}

// --- The 16-unit drawings ------------------------------------------------------------------------

// The folder of a connection: back with tab over the cells x..x+w-1, y..y+h-1, front lower.
void Folder16(Canvas& c, qreal x, qreal y, qreal w, qreal h, qreal front) {
    const qreal l = x + 0.5;
    const qreal t = y + 0.5;
    const qreal r = x + w - 0.5;
    const qreal b = y + h - 0.5;
    Shape(c, Poly({{l, b}, {l, t}, {l + 5, t}, {l + 7, t + 2}, {r, t + 2}, {r, b}}), kFolderBack);
    Box(c, x, y + front, w, h - front, kFolderFront);
}

void Connection16(Canvas& c) {
    Folder16(c, 0, 0, 16, 11, 3);
    // Two computers in front of the folder, their cable running below them.
    Stroke(c, Polyline({{2.5, 14}, {2.5, 15.5}, {13.5, 15.5}, {13.5, 14}}), kInk, 1);
    Monitor(c, 0, 7, 6, 6, 0, 1);
    Monitor(c, 10, 7, 6, 6, 0, 1);
    Fill(c, 1, 13, 4, 1, kCaseDark);
    Fill(c, 11, 13, 4, 1, kCaseDark);
}

void Account16(Canvas& c) {
    // House at the back on the left.
    Shape(c, Poly({{0.5, 6.5}, {5, 2}, {9.5, 6.5}}), kRoof);
    Box(c, 1, 6, 8, 5, kWall);
    Fill(c, 3, 8, 2, 2, kDoor);
    // Clock at the top right.
    Circle(c, {12.5, 4.5}, 3.5, kClockFace);
    Stroke(c, Polyline({{12.5, 2}, {12.5, 4.5}, {14.5, 4.5}}), kInk, 1);
    // Letter in front.
    Envelope(c, 4, 9, 12, 7, 4, kLetter);
}

void Save16(Canvas& c) {
    Monitor(c, 0, 0, 10, 8, 1);
    // Arrow from beside the screen down into the disk.
    Shape(c,
          Poly({{11.5, 0.5}, {14.5, 0.5}, {14.5, 3.5}, {15.5, 3.5}, {13, 7.2}, {10.5, 3.5},
                {11.5, 3.5}}),
          kRed, kRedEdge);
    Fill(c, 4, 8, 2, 1, kCaseDark);
    Fill(c, 2, 9, 6, 1, kInk);
    // Floppy disk with shutter and label.
    Box(c, 8, 8, 8, 8, kFloppy);
    Fill(c, 10, 9, 4, 3, kMetal);
    Fill(c, 12, 10, 1, 1, kInk);
    Fill(c, 10, 13, 4, 2, kWhite);
}

void Read16(Canvas& c) {
    Box(c, 0, 9, 16, 6, kDrive, 1.5);
    Fill(c, 1, 10, 14, 1, kDriveTop);
    Fill(c, 2, 12, 7, 1, kCaseDark);
    Fill(c, 12, 12, 2, 1, kLed);
    Shape(c, Poly({{6.5, 0.5}, {9.5, 0.5}, {9.5, 4.5}, {12.5, 4.5}, {8, 9}, {3.5, 4.5}, {6.5, 4.5}}),
          kGreen, kGreenEdge);
}

void Quit16(Canvas& c) {
    Box(c, 0, 1, 16, 11, kCase, 1);
    Fill(c, 2, 3, 12, 7, kNight);
    QPainterPath moon;
    moon.addEllipse(QPointF(7.5, 6.5), 2.9, 2.9);
    QPainterPath bite;
    bite.addEllipse(QPointF(9.2, 5.4), 2.5, 2.5);
    c.p.fillPath(moon.subtracted(bite), kMoon);
    Fill(c, 11, 4, 1, 1, kMoon);
    Fill(c, 12, 7, 1, 1, kWhite);
    Fill(c, 7, 12, 2, 1, kCaseDark);
    Fill(c, 4, 13, 8, 1, kInk);
}

void Computers16(Canvas& c) {
    Stroke(c, Polyline({{4.5, 9}, {4.5, 11.5}, {7, 11.5}}), kInk, 1);
    Monitor(c, 0, 0, 9, 7, 0, 1);
    Fill(c, 4, 7, 1, 1, kCaseDark);
    Fill(c, 2, 8, 5, 1, kInk);
    Monitor(c, 7, 7, 9, 7, 0, 1);
    Fill(c, 11, 14, 1, 1, kCaseDark);
    Fill(c, 9, 15, 5, 1, kInk);
}

void Delete16(Canvas& c) {
    const QColor black(0x11, 0x11, 0x11);
    Stroke(c, Polyline({{3.5, 3.5}, {12.5, 12.5}}), black, 3, Qt::SquareCap);
    Stroke(c, Polyline({{12.5, 3.5}, {3.5, 12.5}}), black, 3, Qt::SquareCap);
}

void Copy16(Canvas& c) {
    Envelope(c, 0, 1, 12, 9, 5, kPaperShade);
    Envelope(c, 4, 6, 12, 9, 5, kLetter);
}

void FolderSheets16(Canvas& c) {
    Shape(c, Poly({{0.5, 14.5}, {0.5, 3.5}, {4.5, 3.5}, {6.5, 5.5}, {11.5, 5.5}, {11.5, 14.5}}),
          kFolderBack);
    Box(c, 2, 1, 6, 9, kWhite);
    Box(c, 5, 3, 6, 8, kWhite);
    Shape(c, Poly({{0.5, 14.5}, {1.5, 8.5}, {12.5, 8.5}, {11.5, 14.5}}), kFolderFront);
    Shape(c,
          Poly({{11.5, 0.5}, {14.5, 0.5}, {14.5, 3.5}, {15.5, 3.5}, {13, 7.2}, {10.5, 3.5},
                {11.5, 3.5}}),
          kRed, kRedEdge);
}

void House(Canvas& c, qreal left, qreal eaves, qreal width, qreal apex, qreal wallHeight) {
    const qreal mid = left + width / 2;
    Box(c, left + 1, eaves, width - 2, wallHeight, kWall);
    Shape(c, Poly({{left + 0.5, eaves + 0.5}, {mid, apex}, {left + width - 0.5, eaves + 0.5}}),
          kRoof);
}

void Template16(Canvas& c) {
    Shape(c, Poly({{2.5, 0.5}, {9.5, 0.5}, {13.5, 4.5}, {13.5, 15.5}, {2.5, 15.5}}), kWhite);
    Shape(c, Poly({{9.5, 0.5}, {9.5, 4.5}, {13.5, 4.5}}), kPaperShade);
    House(c, 4, 9, 8, 5.5, 5);
    Fill(c, 7, 11, 2, 2, kDoor);
}

void Application16(Canvas& c) {
    // Mail standing in a tray, a letter in front.
    Box(c, 4, 0, 8, 7, kWhite);
    Envelope(c, 1, 2, 10, 7, 3, kLetter);
    Shape(c, Poly({{0.5, 6.5}, {3.5, 6.5}, {4.5, 8.5}, {8.5, 8.5}, {9.5, 6.5}, {13.5, 6.5},
                   {13.5, 12.5}, {0.5, 12.5}}),
          kTray);
    Envelope(c, 6, 9, 10, 7, 3, kWhite);
    Fill(c, 13, 11, 1, 2, kStamp);
}

// --- The 32-unit drawings ------------------------------------------------------------------------

void Computer32(Canvas& c) {
    Monitor(c, 1, 3, 30, 21, 1.5, 0, 2);
    // The screen is large enough for a glare even at one pixel per unit; from two on,
    // Monitor() draws one itself.
    if (!c.fine) c.p.fillPath(Poly({{4, 16}, {4, 6}, {14, 6}}), kScreenGlare);
    Box(c, 13, 23, 6, 4, kCaseDark);
    Box(c, 7, 26, 18, 4, kCase, 1.5);
}

void PlugGear32(Canvas& c) {
    // Cable, prongs, body.
    Stroke(c, Polyline({{14, 25}, {14, 28}, {5, 28}, {5, 31}}), kInk, 3, Qt::FlatCap);
    Box(c, 7, 1, 4, 9, kMetal);
    Box(c, 17, 1, 4, 9, kMetal);
    Box(c, 4, 8, 20, 11, kPlug, 2.5);
    Shape(c, Poly({{6.5, 18.5}, {21.5, 18.5}, {17.5, 25.5}, {10.5, 25.5}}), kPlug);
    Fill(c, 7, 12, 14, 1.5, QColor(0x6b, 0x83, 0x90));
    Shape(c, GearPath({23.5, 23.5}, 8, 5.6, 2.4, 8), kGear);
}

void Connection32(Canvas& c) {
    Shape(c, Poly({{1.5, 21.5}, {1.5, 1.5}, {11.5, 1.5}, {14.5, 4.5}, {30.5, 4.5}, {30.5, 21.5}}),
          kFolderBack);
    Box(c, 1, 7, 30, 15, kFolderFront, 1);
    Stroke(c, Polyline({{6, 26}, {6, 30}, {26, 30}, {26, 26}}), kInk, 2);
    Monitor(c, 0, 13, 12, 12, 1, 1, 1);
    Monitor(c, 20, 13, 12, 12, 1, 1, 1);
    Box(c, 2, 25, 8, 3, kCaseDark);
    Box(c, 22, 25, 8, 3, kCaseDark);
}

void Account32(Canvas& c) {
    House(c, 0, 12, 18, 3, 10);
    Box(c, 4, 15, 4, 6, kDoor);
    Box(c, 10, 15, 4, 4, kScreenGlare);
    Circle(c, {24.5, 8.5}, 7, kClockRim);
    QPainterPath face;
    face.addEllipse(QPointF(24.5, 8.5), 5.5, 5.5);
    c.p.fillPath(face, kWhite);
    for (int i = 0; i < 4; ++i) {
        const qreal a = i * std::numbers::pi / 2;
        const QPointF dir(std::cos(a), std::sin(a));
        Stroke(c, Polyline({QPointF(24.5, 8.5) + dir * 4.2, QPointF(24.5, 8.5) + dir * 5.5}),
               kInk, 1);
    }
    Stroke(c, Polyline({{24.5, 4.5}, {24.5, 8.5}, {27.5, 8.5}}), kInk, 1.5, Qt::RoundCap);
    Envelope(c, 7, 17, 25, 15, 8, kLetter);
    Box(c, 26, 20, 4, 5, kStamp);
}

void Hourglass32(Canvas& c) {
    Box(c, 0, 2, 26, 22, kWhite, 1.5);
    Fill(c, 1, 3, 24, 5, kTitle);
    Fill(c, 20, 4, 3, 3, kWhite);
    Fill(c, 4, 11, 12, 1.5, kPaperShade);
    Fill(c, 4, 15, 9, 1.5, kPaperShade);
    Fill(c, 4, 19, 10, 1.5, kPaperShade);
    // Hourglass.
    Shape(c,
          Poly({{18.5, 14.5}, {29.5, 14.5}, {29.5, 16}, {25, 22}, {29.5, 28}, {29.5, 28.5},
                {18.5, 28.5}, {18.5, 28}, {23, 22}, {18.5, 16}}),
          kGlass);
    c.p.fillPath(Poly({{20.3, 16.5}, {27.7, 16.5}, {24, 21}}), kSand);
    c.p.fillPath(Poly({{24, 22}, {28.2, 27.6}, {19.8, 27.6}}), kSand);
    Box(c, 16, 11, 16, 4, kWood, 1);
    Box(c, 16, 28, 16, 4, kWood, 1);
}

void FlagGlobe32(Canvas& c) {
    const QPointF centre(13, 15);
    QPainterPath globe;
    globe.addEllipse(centre, 12.5, 12.5);
    c.p.fillPath(globe, kOcean);
    // Land, clipped to the globe.
    QPainterPath land;
    land.moveTo(4, 7);
    land.cubicTo(8, 3, 14, 4, 14, 8);
    land.cubicTo(14, 11, 9, 11, 10, 15);
    land.cubicTo(11, 19, 8, 23, 6, 21);
    land.cubicTo(3, 18, 1, 11, 4, 7);
    land.moveTo(16, 15);
    land.cubicTo(18, 11, 25, 11, 26, 16);
    land.cubicTo(26, 21, 21, 26, 19, 23);
    land.cubicTo(18, 21, 15, 18, 16, 15);
    c.p.fillPath(land.intersected(globe), kLand);
    QPainterPath grid;
    grid.addEllipse(centre, 5.5, 12.5);
    grid.moveTo(0.5, 15);
    grid.lineTo(25.5, 15);
    Stroke(c, grid, QColor(0xff, 0xff, 0xff, 0x90), 1);
    Stroke(c, globe, kInk, c.line);
    // Flag on a pole in front.
    Box(c, 20, 4, 3, 27, kWood);
    Shape(c, Poly({{22.5, 4.5}, {31.5, 4.5}, {28.5, 9.5}, {31.5, 14.5}, {22.5, 14.5}}), kRed);
    Box(c, 17, 29, 9, 3, kCaseDark);
}

void Application32(Canvas& c) {
    // Mail standing in the tray.
    Box(c, 2, 1, 17, 16, kWhite, 1);
    Fill(c, 5, 4, 9, 1.5, kPaperShade);
    Fill(c, 5, 7, 11, 1.5, kPaperShade);
    Envelope(c, 7, 5, 19, 12, 6, kLetter);
    // The tray, its rim dipping in the middle.
    Shape(c, Poly({{0.5, 13.5}, {7.5, 13.5}, {9.5, 17.5}, {18.5, 17.5}, {20.5, 13.5}, {27.5, 13.5},
                   {27.5, 25.5}, {0.5, 25.5}}),
          kTray);
    Fill(c, 1, 22, 11, 1.5, kTrayLip);
    // The letter in front.
    Envelope(c, 11, 18, 21, 14, 7, kWhite);
    Box(c, 26, 20, 4, 5, kStamp);
}

// --- The icon engine ------------------------------------------------------------------------------

using Drawing = void (*)(Canvas&);

struct Design {
    int units;       // the drawing's grid is units × units
    Drawing draw;
    int fromPixels;  // used for this many device pixels and more
};

// The outline width in device pixels: one pixel per unit while that stays fine, slower growth
// beyond so large renderings do not look heavy; never thinner than one pixel.
qreal OutlineUnits(qreal pixelsPerUnit) {
    qreal pixels = pixelsPerUnit <= 2 ? pixelsPerUnit : 2 + (pixelsPerUnit - 2) / 2;
    pixels = std::max<qreal>(1, pixels);
    return pixels / pixelsPerUnit;
}

QImage Greyed(QImage image) {
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb px = line[x];
            const int alpha = qAlpha(px);
            if (alpha == 0) continue;
            // Unpremultiplied luminance, pulled towards a middle grey, at reduced opacity.
            const int grey = 128 + (qGray(qUnpremultiply(px)) - 128) * 2 / 5;
            const int a = std::max(1, alpha * 11 / 20);
            const int g = grey * a / 255;
            line[x] = qRgba(g, g, g, a);
        }
    }
    return image;
}

class PaintedIconEngine final : public QIconEngine {
public:
    PaintedIconEngine(QString name, std::vector<Design> designs, QList<QSize> sizes)
        : name_(std::move(name)), designs_(std::move(designs)), sizes_(std::move(sizes)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        Q_UNUSED(state);
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        const int side = std::min(rect.width(), rect.height());
        if (side <= 0) return;
        QPixmap pixmap = Render(static_cast<int>(std::lround(side * dpr)), mode);
        pixmap.setDevicePixelRatio(dpr);
        const QRectF target(rect.x() + (rect.width() - side) / 2.0,
                            rect.y() + (rect.height() - side) / 2.0, side, side);
        painter->drawPixmap(target, pixmap, QRectF(pixmap.rect()));
    }

    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        Q_UNUSED(mode);
        Q_UNUSED(state);
        const int side = std::max(0, std::min(size.width(), size.height()));
        return {side, side};
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        Q_UNUSED(state);
        const int side = std::min(size.width(), size.height());
        if (side <= 0) return {};
        return Render(side, mode);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        // QIcon passes the size in device pixels already multiplied by the scale.
        Q_UNUSED(state);
        const int side = std::min(size.width(), size.height());
        if (side <= 0) return {};
        QPixmap pixmap = Render(side, mode);
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }

    QIconEngine* clone() const override { return new PaintedIconEngine(*this); }
    QString key() const override { return QStringLiteral("KelvastonPaintedIcon"); }
    QString iconName() override { return name_; }
    bool isNull() override { return false; }

    QList<QSize> availableSizes(QIcon::Mode mode = QIcon::Normal,
                                QIcon::State state = QIcon::Off) override {
        Q_UNUSED(mode);
        Q_UNUSED(state);
        return sizes_;
    }

private:
    // A square pixmap `side` device pixels wide, device pixel ratio 1.
    QPixmap Render(int side, QIcon::Mode mode) const {
        const bool greyed = mode == QIcon::Disabled;
        const QString cacheKey = QStringLiteral("kelvaston-icon/%1/%2/%3")
                                     .arg(name_)
                                     .arg(side)
                                     .arg(greyed ? 'd' : 'n');
        QPixmap cached;
        if (QPixmapCache::find(cacheKey, &cached)) return cached;

        const Design* design = &designs_.front();
        for (const Design& d : designs_) {
            if (side >= d.fromPixels) design = &d;
        }
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            const qreal scale = qreal(side) / design->units;
            painter.scale(scale, scale);
            Canvas canvas{painter, OutlineUnits(scale), scale >= 2};
            design->draw(canvas);
        }
        if (greyed) image = Greyed(std::move(image));
        QPixmap pixmap = QPixmap::fromImage(image);
        QPixmapCache::insert(cacheKey, pixmap);
        return pixmap;
    }

    QString name_;
    std::vector<Design> designs_;  // ordered by fromPixels
    QList<QSize> sizes_;
};

QIcon Painted(const QString& name, std::vector<Design> designs, QList<QSize> sizes) {
    return QIcon(new PaintedIconEngine(name, std::move(designs), std::move(sizes)));
}

QIcon Small(const QString& name, Drawing draw) {
    return Painted(name, {{16, draw, 0}}, {{16, 16}});
}

}  // namespace

QIcon ImageListPicture(int number) {
    switch (number) {
        case 1: return Small(QStringLiteral("connection"), Connection16);
        case 2: return Small(QStringLiteral("account"), Account16);
        case 3: return Small(QStringLiteral("save-settings"), Save16);
        case 4: return Small(QStringLiteral("read-settings"), Read16);
        case 5: return Small(QStringLiteral("quit"), Quit16);
        case 6: return Small(QStringLiteral("choose-computer"), Computers16);
        case 7: return Small(QStringLiteral("delete"), Delete16);
        case 8: return Small(QStringLiteral("copy-account"), Copy16);
        case 9: return Small(QStringLiteral("folder-sheets"), FolderSheets16);
        case 10: return Small(QStringLiteral("template"), Template16);
        default: return {};
    }
}

QIcon FrameIcon(int index) {
    const QList<QSize> sizes{{32, 32}};
    switch (index) {
        case 0: return Painted(QStringLiteral("frame-computer"), {{32, Computer32, 0}}, sizes);
        case 1: return Painted(QStringLiteral("frame-plug"), {{32, PlugGear32, 0}}, sizes);
        // Below 24 pixels the connection and account pictures use their small drawings.
        case 2:
            return Painted(QStringLiteral("frame-connection"),
                           {{16, Connection16, 0}, {32, Connection32, 24}}, sizes);
        case 3:
            return Painted(QStringLiteral("frame-account"),
                           {{16, Account16, 0}, {32, Account32, 24}}, sizes);
        case 4: return Painted(QStringLiteral("frame-hourglass"), {{32, Hourglass32, 0}}, sizes);
        case 5: return Painted(QStringLiteral("frame-flag"), {{32, FlagGlobe32, 0}}, sizes);
        default: return {};
    }
}

QIcon ApplicationIcon() {
    return Painted(QStringLiteral("kelvaston"), {{16, Application16, 0}, {32, Application32, 24}},
                   {{16, 16}, {32, 32}, {48, 48}, {256, 256}});
}

QIcon WindowIcon() {
    return Painted(QStringLiteral("kelvaston"), {{16, Application16, 0}, {32, Application32, 24}},
                   {{16, 16}, {32, 32}, {48, 48}});
}

}  // namespace kelvaston::ui
