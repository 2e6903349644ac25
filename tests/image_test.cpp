// The picture pane: what it shows for each kind of bitmap, how it scales, and which pixel
// it reports under the mouse.
#include "image.h"
#include "test_bitmaps.h"
#include "window_support.h"

#include <QMouseEvent>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

class ImagePane : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureWidgetApplication(); }

    void Show(const TBitmap &bitmap)
    {
        image.Picture->Assign(bitmap);
        image.Changed();
        image.resize(300, 200);
        image.show();
        QApplication::processEvents();
    }

    TImage image;
};

TEST_F(ImagePane, ShowsGreyAsGreyColourInColourSixteenBitsRoundedAndClassesThroughTheColourTable)
{
    Show(GreyBitmap({{0, 128, 9}, {255, 7, 1}}));
    EXPECT_TRUE(ShowsItsPicture(image));
    TBitmap colour;
    colour.SetSize(1, 1);
    std::copy_n("\x0a\x14\x1e", 3, colour.ScanLine(0)); // blue 10, green 20, red 30
    Show(colour);
    EXPECT_EQ(image.Shown().pixel(0, 0), qRgb(30, 20, 10));
    EXPECT_EQ(image.DescribePixel(0, 0), "x 0, y 0: red 30, green 20, blue 10");
    // 16 bits a channel: shown rounded to 8 bits, described by the 16-bit values.
    colour.SetPixelFormat(pf48bit);
    reinterpret_cast<std::uint16_t *>(colour.ScanLine(0))[2] = 40000;
    Show(colour);
    EXPECT_EQ(image.Shown().pixel(0, 0), qRgb(156, 20, 10));
    EXPECT_EQ(image.DescribePixel(0, 0), "x 0, y 0: red 40000, green 5140, blue 2570");

    // The table colours the display only: the bytes stay 1, 2, 3.
    const Table classes = {{1, 2}, {3, 0}};
    image.SetColourTable({qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)});
    Show(GreyPixels24(classes));
    EXPECT_EQ(image.Shown().pixel(1, 0), qRgb(0, 255, 0));
    EXPECT_EQ(image.Shown().pixel(0, 1), qRgb(0, 0, 255));
    EXPECT_EQ(TableOf(image.Picture->Bitmap()), classes);
    image.SetColourTable({});
    EXPECT_TRUE(ShowsItsPicture(image));
}

// An edge map of 100 pixels, 98 of them 10 and below and the 99th percentile 20: with gain, 20
// shows white and the others in proportion; the bytes stay as they are.
TEST_F(ImagePane, GainShowsAnEdgeMapBrightenedAndKeepsItsValues)
{
    Table edges(10, std::vector<int>(10, 10));
    edges[0][0] = 0, edges[5][5] = 20, edges[9][9] = 200;
    image.SetDisplayGain(true);
    Show(GreyBitmap(edges));
    EXPECT_EQ(image.Shown().pixel(5, 5), qRgb(255, 255, 255));
    EXPECT_EQ(image.Shown().pixel(1, 1), qRgb(128, 128, 128));
    EXPECT_EQ(image.Shown().pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.Shown().pixel(9, 9), qRgb(255, 255, 255));
    EXPECT_EQ(TableOf(image.Picture->Bitmap()), edges);
    EXPECT_EQ(image.DescribePixel(1, 1), "x 1, y 1: grey 10");
    image.SetDisplayGain(false);
    EXPECT_TRUE(ShowsItsPicture(image));
}

TEST_F(ImagePane, FitsByWholeStepsOrShrinksAndScrollsAt100Percent)
{
    Show(GreyBitmap(Table(5, std::vector<int>(5, 100))));
    const int room = std::min(image.viewport()->width(), image.viewport()->height());
    const double enlarged = image.Scale();
    EXPECT_EQ(enlarged, std::floor(enlarged));
    EXPECT_TRUE(5 * enlarged <= room && 5 * (enlarged + 1) > room) << enlarged << " in " << room;

    TBitmap large;
    large.SetSize(2000, 1000);
    Show(large);
    EXPECT_LE(std::lround(2000 * image.Scale()), image.viewport()->width());
    image.SetAutoSize(true);
    image.SetFitToPane(false);
    QApplication::processEvents();
    EXPECT_EQ(image.widget()->size(), QSize(2000, 1000));
    EXPECT_GT(image.horizontalScrollBar()->maximum(), 0);
}

TEST_F(ImagePane, ReportsThePixelUnderTheMouse)
{
    image.SetValueName("class");
    Show(GreyPixels24({{1, 2, 1, 1, 1}, {3, 1, 1, 2, 1}, {1, 1, 1, 1, 1}}));
    EXPECT_EQ(image.DescribePixel(0, 1), "x 0, y 1: class 3");
    EXPECT_EQ(image.DescribePixel(5, 0), "");

    // The fitted picture is centred; the mouse goes over the middle of pixel (3, 1).
    QStringList pointed;
    QObject::connect(&image, &TImage::PixelPointed, [&pointed](const QString &text) { pointed.append(text); });
    const double scale = image.Scale();
    const QSize canvas = image.widget()->size();
    const QPointF at((canvas.width() - std::lround(5 * scale)) / 2 + 3.5 * scale,
                     (canvas.height() - std::lround(3 * scale)) / 2 + 1.5 * scale);
    QMouseEvent move(QEvent::MouseMove, at, image.widget()->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(image.widget(), &move);
    EXPECT_EQ(pointed, QStringList{"x 3, y 1: class 2"});
}

} // namespace
