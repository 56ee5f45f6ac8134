// The painted pictures: sizes, real detail at high resolution, sharp outlines at the nominal
// size, the pictures being told apart, the disabled look and the null icons.
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

// Premultiplied, so every fully transparent pixel compares equal whatever its colour.
QImage Render(const QIcon& icon, int side, qreal dpr, QIcon::Mode mode = QIcon::Normal) {
    return icon.pixmap(QSize(side, side), dpr, mode)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The share of pixels for which `test` holds.
template <typename Test>
double Share(const QImage& image, Test test) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) count += test(image.pixel(x, y), x, y) ? 1 : 0;
    }
    return double(count) / (image.width() * image.height());
}

// The share of pixels that differ by more than `tolerance` in some channel.
double Difference(const QImage& a, const QImage& b, int tolerance = 24) {
    EXPECT_EQ(a.size(), b.size());
    return Share(a, [&](QRgb p, int x, int y) {
        const QRgb q = b.pixel(x, y);
        return std::abs(qRed(p) - qRed(q)) > tolerance ||
               std::abs(qGreen(p) - qGreen(q)) > tolerance ||
               std::abs(qBlue(p) - qBlue(q)) > tolerance ||
               std::abs(qAlpha(p) - qAlpha(q)) > tolerance;
    });
}

// Guards: wrong sizes or pixel ratios, a blank or filled square, the double size being the
// nominal one enlarged (or another picture), paint() ignoring the device's pixel ratio, and the
// disabled look not grey or leaking into the normal one through the pixmap cache.
TEST(Icons, EveryPictureRendersAtNominalAndDoubleSize) {
    struct Picture {
        std::string name;
        QIcon icon;
        int nominal;
        bool ownDrawingAtDouble = false;  // twice the nominal size is a drawing of its own
    };
    std::vector<Picture> pictures{{"application", ApplicationIcon(), 16, true}};
    for (int n = 1; n <= 10; ++n) pictures.push_back({std::to_string(n), ImageListPicture(n), 16});
    for (int i = 0; i <= 5; ++i) {
        pictures.push_back({"frame" + std::to_string(i), FrameIcon(i), 32});
    }

    for (const auto& [name, icon, n, ownDrawingAtDouble] : pictures) {
        SCOPED_TRACE(name);
        const QImage single = Render(icon, n, 1);
        ASSERT_EQ(single.size(), QSize(n, n));
        EXPECT_GT(Share(single, [](QRgb p, int, int) { return qAlpha(p) == 0; }), 0.05);
        EXPECT_GT(Share(single, [](QRgb p, int, int) { return qAlpha(p) == 255; }), 0.05);
        EXPECT_DOUBLE_EQ(icon.pixmap(QSize(n, n), 2.0).devicePixelRatio(), 2.0);
        const QImage twice = Render(icon, n, 2);
        ASSERT_EQ(twice.size(), QSize(2 * n, 2 * n));
        // Outlines on whole pixels double exactly, so only slanted, round and finer parts differ
        // from a pixel doubling; an enlargement would match it everywhere.
        const auto enlarged = [&](Qt::TransformationMode how) {
            return single.scaled(2 * n, 2 * n, Qt::IgnoreAspectRatio, how);
        };
        EXPECT_GT(Difference(twice, enlarged(Qt::FastTransformation)), 0.02);
        EXPECT_GT(Difference(twice, enlarged(Qt::SmoothTransformation)), 0.05);
        if (!ownDrawingAtDouble) {  // ... yet reduced again it looks like the nominal rendering
            const QImage reduced =
                twice.scaled(n, n, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            EXPECT_LT(Difference(reduced, single, 100), 0.05);
        }

        QImage target(2 * n, 2 * n, QImage::Format_ARGB32_Premultiplied);
        target.setDevicePixelRatio(2);
        target.fill(Qt::transparent);
        {
            QPainter painter(&target);
            icon.paint(&painter, QRect(0, 0, n, n));
        }
        target.setDevicePixelRatio(1);
        EXPECT_LT(Difference(target, twice, 2), 0.01);

        const QImage disabled = Render(icon, n, 1, QIcon::Disabled);
        EXPECT_GT(Difference(disabled, single), 0.05);
        const auto coloured = [](QRgb p, int, int) {
            return std::abs(qRed(p) - qGreen(p)) > 1 || std::abs(qGreen(p) - qBlue(p)) > 1;
        };
        EXPECT_EQ(Share(disabled, coloured), 0);
        EXPECT_EQ(Render(icon, n, 1), single);
    }
}

// Guards: two numbers giving the same drawing, the two tree nodes swapped or alike, and
// outlines drawn half a pixel off (blurred) at the nominal size.
TEST(Icons, ImageListPicturesAreSharpAndToldApart) {
    std::vector<QImage> images;
    for (int n = 1; n <= 10; ++n) images.push_back(Render(ImageListPicture(n), 16, 1));
    for (std::size_t i = 0; i < images.size(); ++i) {
        for (std::size_t j = i + 1; j < images.size(); ++j) {
            EXPECT_GT(Difference(images[i], images[j]), 0.25) << i + 1 << " and " << j + 1;
        }
        if (i + 1 == 7) continue;  // the cross is nothing but slanted edges
        const double drawn = Share(images[i], [](QRgb p, int, int) { return qAlpha(p) != 0; });
        const double opaque = Share(images[i], [](QRgb p, int, int) { return qAlpha(p) == 255; });
        EXPECT_LT((drawn - opaque) / drawn, 0.2) << "picture " << i + 1;  // partly covered
    }
    // In the tree the connection is a yellow folder, the account has no yellow at all.
    const auto yellow = [](QRgb p, int, int) {
        const QColor c = QColor::fromRgba(qUnpremultiply(p));
        return c.alpha() >= 128 && c.hsvHue() >= 30 && c.hsvHue() <= 60 &&
               c.hsvSaturation() > 150 && c.value() > 180;
    };
    for (const int side : {16, 32}) {
        const QImage connection = Render(ImageListPicture(1), side, 1);
        const QImage account = Render(ImageListPicture(2), side, 1);
        EXPECT_GT(Difference(connection, account), 0.5) << side;
        EXPECT_GT(Share(connection, yellow), 0.2) << side;
        EXPECT_LT(Share(account, yellow), 0.02) << side;
    }
}

// Guards: the choice of drawing by size (frames 2 and 3 and the program icon have a small and a
// large one) and the sizes the program icon offers.
TEST(Icons, LargerSizesUseTheLargeDrawing) {
    for (const int i : {2, 3}) {
        EXPECT_EQ(Render(FrameIcon(i), 16, 1), Render(ImageListPicture(i - 1), 16, 1)) << i;
        const QImage large = Render(FrameIcon(i), 32, 1);
        EXPECT_GT(Difference(large, Render(ImageListPicture(i - 1), 32, 1)), 0.1) << i;
    }
    const QIcon application = ApplicationIcon();
    for (const int side : {16, 32, 48, 256}) {
        EXPECT_TRUE(application.availableSizes().contains(QSize(side, side))) << side;
    }
    // The window's own icon is the same picture without the large size.
    EXPECT_EQ(WindowIcon().availableSizes(), QList<QSize>({{16, 16}, {32, 32}, {48, 48}}));
    EXPECT_EQ(Render(WindowIcon(), 32, 1), Render(application, 32, 1));
    const QImage small = Render(application, 16, 1);
    const QImage large = Render(application, 48, 1);
    const QImage enlarged = small.scaled(48, 48, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_GT(Difference(large, enlarged), 0.15);
}

TEST(Icons, OutOfRangeNumbersGiveNullIcons) {
    for (const int n : {0, -1, 11, INT_MIN, INT_MAX}) {
        EXPECT_TRUE(ImageListPicture(n).isNull()) << n;
    }
    for (const int i : {-1, 6, INT_MIN, INT_MAX}) EXPECT_TRUE(FrameIcon(i).isNull()) << i;
}

}  // namespace
}  // namespace kelvaston::ui
