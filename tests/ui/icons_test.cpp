// The painted pictures: sizes at every device pixel ratio, real detail at high resolution,
// sharp outlines at the nominal size, the pictures being told apart, and the null icons.
#include "ui/icons.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace kelvaston::ui {
namespace {

// gtest_main creates no application; pixmaps need one.
class GuiEnvironment : public testing::Environment {
public:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QGuiApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[11] = "icons_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QGuiApplication> app_;
};

[[maybe_unused]] testing::Environment* const kGuiEnvironment =
    testing::AddGlobalTestEnvironment(new GuiEnvironment);

struct Picture {
    std::string name;
    QIcon (*make)();
    int nominal;
    bool ownDrawingAtDouble = false;  // twice the nominal size is a drawing of its own
};

std::ostream& operator<<(std::ostream& out, const Picture& p) { return out << p.name; }

template <int N>
QIcon ListPicture() {
    return ImageListPicture(N);
}
template <int N>
QIcon Frame() {
    return FrameIcon(N);
}

const std::vector<Picture> kAllPictures = {
    {"Picture1", ListPicture<1>, 16}, {"Picture2", ListPicture<2>, 16},
    {"Picture3", ListPicture<3>, 16}, {"Picture4", ListPicture<4>, 16},
    {"Picture5", ListPicture<5>, 16}, {"Picture6", ListPicture<6>, 16},
    {"Picture7", ListPicture<7>, 16}, {"Picture8", ListPicture<8>, 16},
    {"Picture9", ListPicture<9>, 16}, {"Picture10", ListPicture<10>, 16},
    {"Frame0", Frame<0>, 32},         {"Frame1", Frame<1>, 32},
    {"Frame2", Frame<2>, 32},         {"Frame3", Frame<3>, 32},
    {"Frame4", Frame<4>, 32},         {"Frame5", Frame<5>, 32},
    {"Application", ApplicationIcon, 16, true},
};

// Premultiplied, so every fully transparent pixel compares equal whatever its colour.
QImage Render(const QIcon& icon, int side, qreal dpr, QIcon::Mode mode = QIcon::Normal) {
    return icon.pixmap(QSize(side, side), dpr, mode)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

int ChannelDifference(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
}

// The share of pixels that differ by more than `tolerance` in some channel.
double ShareDifferent(const QImage& a, const QImage& b, int tolerance = 24) {
    EXPECT_EQ(a.size(), b.size());
    int different = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (ChannelDifference(a.pixel(x, y), b.pixel(x, y)) > tolerance) ++different;
        }
    }
    return double(different) / (a.width() * a.height());
}

double MeanDifference(const QImage& a, const QImage& b) {
    EXPECT_EQ(a.size(), b.size());
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) sum += ChannelDifference(a.pixel(x, y), b.pixel(x, y));
    }
    return sum / (a.width() * a.height());
}

struct AlphaCount {
    int transparent = 0;
    int opaque = 0;
    int partial = 0;
};

AlphaCount CountAlpha(const QImage& image) {
    AlphaCount count;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int a = qAlpha(image.pixel(x, y));
            if (a == 0) {
                ++count.transparent;
            } else if (a == 255) {
                ++count.opaque;
            } else {
                ++count.partial;
            }
        }
    }
    return count;
}

// --- Every picture ------------------------------------------------------------------------------

class EveryPicture : public testing::TestWithParam<Picture> {};

TEST_P(EveryPicture, HasTheRequestedSizeAtEveryPixelRatio) {
    const QIcon icon = GetParam().make();
    ASSERT_FALSE(icon.isNull());
    const int n = GetParam().nominal;
    for (const qreal dpr : {1.0, 1.5, 2.0, 3.0}) {
        SCOPED_TRACE(dpr);
        const QPixmap pixmap = icon.pixmap(QSize(n, n), dpr);
        const int side = int(n * dpr);
        EXPECT_EQ(pixmap.size(), QSize(side, side));
        EXPECT_DOUBLE_EQ(pixmap.devicePixelRatio(), dpr);
        EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(n, n));
    }
    // A toolbar may ask for a size that is not square: the picture stays square.
    EXPECT_EQ(icon.actualSize(QSize(24, 40)), QSize(24, 24));
    EXPECT_EQ(icon.pixmap(QSize(24, 40), 1.0).size(), QSize(24, 24));
}

TEST_P(EveryPicture, HasTransparentBackgroundAndOpaqueDrawing) {
    const QImage image = Render(GetParam().make(), GetParam().nominal, 1);
    const AlphaCount count = CountAlpha(image);
    const int all = image.width() * image.height();
    EXPECT_GT(count.transparent, all / 20);
    EXPECT_GT(count.opaque, all / 20);
}

// Painted anew for the device pixels, not an enlargement of the nominal size.
TEST_P(EveryPicture, DoubleResolutionIsRenderedNotEnlarged) {
    const QIcon icon = GetParam().make();
    const int n = GetParam().nominal;
    const QImage single = Render(icon, n, 1);
    const QImage twice = Render(icon, n, 2);
    ASSERT_EQ(twice.size(), QSize(2 * n, 2 * n));
    const QImage blocky = single.scaled(2 * n, 2 * n, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const QImage smooth = single.scaled(2 * n, 2 * n, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Outlines on whole pixels double exactly, so only the slanted, round and finer parts
    // differ from a pixel doubling; an enlargement would match it everywhere.
    EXPECT_GT(ShareDifferent(twice, blocky), 0.02);
    EXPECT_GT(ShareDifferent(twice, smooth), 0.05);
    if (GetParam().ownDrawingAtDouble) return;
    // ... yet the same picture: reduced again it looks like the nominal rendering.
    const QImage reduced = twice.scaled(n, n, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_LT(MeanDifference(reduced, single), 40);
}

// The pixel ratio of the painted-on device counts, as for a widget on a HiDPI screen.
TEST_P(EveryPicture, PaintingOnAHighResolutionDeviceUsesItsPixels) {
    const QIcon icon = GetParam().make();
    const int n = GetParam().nominal;
    QImage target(2 * n, 2 * n, QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(2);
    target.fill(Qt::transparent);
    {
        QPainter painter(&target);
        icon.paint(&painter, QRect(0, 0, n, n));
    }
    target.setDevicePixelRatio(1);
    EXPECT_LT(ShareDifferent(target, Render(icon, n, 2), 2), 0.01);
}

TEST_P(EveryPicture, DisabledIsGreyAndLeavesTheNormalPictureAlone) {
    const QIcon icon = GetParam().make();
    const int n = GetParam().nominal;
    const QImage before = Render(icon, n, 1);
    const QImage disabled = Render(icon, n, 1, QIcon::Disabled);
    EXPECT_EQ(CountAlpha(disabled).transparent, CountAlpha(before).transparent);
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const QRgb px = disabled.pixel(x, y);
            ASSERT_LE(std::abs(qRed(px) - qGreen(px)), 1);
            ASSERT_LE(std::abs(qGreen(px) - qBlue(px)), 1);
        }
    }
    EXPECT_EQ(Render(icon, n, 1), before);
}

INSTANTIATE_TEST_SUITE_P(Icons, EveryPicture, testing::ValuesIn(kAllPictures),
                         [](const testing::TestParamInfo<Picture>& tested) {
                             return tested.param.name;
                         });

// --- The image list at 16 px ----------------------------------------------------------------------

TEST(ImageList, OutlinesLieOnWholePixels) {
    // A one-pixel outline on half-pixel coordinates covers whole pixels; shifted by half a
    // pixel it smears into two half-covered ones. Slanted and round edges are always partial,
    // but they are the minority.
    for (int n = 1; n <= 10; ++n) {
        SCOPED_TRACE(n);
        if (n == 7) continue;  // the cross is nothing but slanted edges
        const AlphaCount count = CountAlpha(Render(ImageListPicture(n), 16, 1));
        EXPECT_LT(double(count.partial) / (count.partial + count.opaque), 0.2);
    }
}

TEST(ImageList, PicturesArePairwiseDifferent) {
    std::vector<QImage> images;
    for (int n = 1; n <= 10; ++n) images.push_back(Render(ImageListPicture(n), 16, 1));
    for (size_t i = 0; i < images.size(); ++i) {
        for (size_t j = i + 1; j < images.size(); ++j) {
            EXPECT_GT(ShareDifferent(images[i], images[j]), 0.25)
                << "pictures " << i + 1 << " and " << j + 1;
        }
    }
}

// The share of the picture in a strong yellow, the folder colour.
double YellowShare(const QImage& image) {
    int yellow = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = QColor::fromRgba(qUnpremultiply(image.pixel(x, y)));
            if (colour.alpha() < 128) continue;
            const int hue = colour.hsvHue();
            if (hue >= 30 && hue <= 60 && colour.hsvSaturation() > 150 && colour.value() > 180) {
                ++yellow;
            }
        }
    }
    return double(yellow) / (image.width() * image.height());
}

// In the tree the two kinds of node must be told apart at a glance: the connection is a yellow
// folder, the account has no yellow at all.
TEST(ImageList, ConnectionAndAccountNodesAreToldApart) {
    for (const int side : {16, 32}) {
        SCOPED_TRACE(side);
        const QImage connection = Render(ImageListPicture(1), side, 1);
        const QImage account = Render(ImageListPicture(2), side, 1);
        EXPECT_GT(ShareDifferent(connection, account), 0.5);
        EXPECT_GT(YellowShare(connection), 0.2);
        EXPECT_LT(YellowShare(account), 0.02);
    }
}

TEST(ImageList, OutOfRangeNumbersGiveNullIcons) {
    for (const int n : {0, -1, 11, 100, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(n);
        const QIcon icon = ImageListPicture(n);
        EXPECT_TRUE(icon.isNull());
        EXPECT_TRUE(icon.pixmap(16).isNull());
    }
}

// --- Frames and the program icon -----------------------------------------------------------------

TEST(Frames, ConnectionAndAccountShareTheSmallDrawingButHaveTheirOwnLargeOne) {
    for (const int i : {2, 3}) {
        SCOPED_TRACE(i);
        const QIcon frame = FrameIcon(i);
        const QIcon listPicture = ImageListPicture(i - 1);
        EXPECT_EQ(Render(frame, 16, 1), Render(listPicture, 16, 1));
        EXPECT_GT(ShareDifferent(Render(frame, 32, 1), Render(listPicture, 32, 1)), 0.1);
    }
}

TEST(Frames, OutOfRangeIndexesGiveNullIcons) {
    for (const int i : {-1, 6, INT_MIN, INT_MAX}) EXPECT_TRUE(FrameIcon(i).isNull()) << i;
}

TEST(Application, OffersItsSizesAndRendersEach) {
    const QIcon icon = ApplicationIcon();
    const QList<QSize> sizes = icon.availableSizes();
    for (const int side : {16, 32, 48, 256}) {
        SCOPED_TRACE(side);
        EXPECT_TRUE(sizes.contains(QSize(side, side)));
        const QImage image = Render(icon, side, 1);
        EXPECT_EQ(image.size(), QSize(side, side));
        const AlphaCount count = CountAlpha(image);
        EXPECT_GT(count.opaque, side * side / 4);
        EXPECT_GT(count.transparent, side * side / 50);
    }
    // 48 px is the larger drawing again, not the small one enlarged.
    const QImage large = Render(icon, 48, 1);
    const QImage fromSmall = Render(icon, 16, 1).scaled(48, 48, Qt::IgnoreAspectRatio,
                                                        Qt::SmoothTransformation);
    EXPECT_GT(ShareDifferent(large, fromSmall), 0.15);
}

}  // namespace
}  // namespace kelvaston::ui
