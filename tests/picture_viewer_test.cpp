// The stack window's picture viewer: the display copies against the bitmaps they show and a
// plain reference of the halving, the zoom, fitting and panning rules, the mouse, and what a
// frame draws.
#include "display_picture.h"
#include "exception.h"
#include "picture_drawing.h"
#include "picture_viewer.h"
#include "test_bitmaps.h"
#include "widget_application.h"

#include <QMouseEvent>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <random>

void PrintTo(const QPointF &point, std::ostream *out) { *out << "(" << point.x() << ", " << point.y() << ")"; }

namespace {

using Colours = std::vector<std::vector<QRgb>>;

Colours ColoursOf(const QImage &image)
{
    Colours rows(static_cast<std::size_t>(image.height()));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            rows[y].push_back(image.pixel(x, y));
    return rows;
}

// The largest difference of the two colours' red, green and blue.
int ChannelDifference(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// A bitmap of the format whose every pixel byte is drawn below limit with a fixed seed.
TBitmap RandomBitmap(TPixelFormat format, int width, int height, unsigned seed, int limit = 256)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * TBitmap::BytesPerPixel(format); ++i)
            bitmap.ScanLine(y)[i] = static_cast<std::uint8_t>(random() % limit);
    return bitmap;
}

// Level k + 1 computed the slow way: each channel the rounded mean of a 2 x 2 block, the
// block's column and row indices held inside the parent.
QImage ReferenceHalved(const QImage &parent)
{
    QImage halved((parent.width() + 1) / 2, (parent.height() + 1) / 2, QImage::Format_RGB32);
    for (int y = 0; y < halved.height(); ++y)
        for (int x = 0; x < halved.width(); ++x) {
            const int xs[] = {2 * x, std::min(2 * x + 1, parent.width() - 1)};
            const int ys[] = {2 * y, std::min(2 * y + 1, parent.height() - 1)};
            int sums[3] = {2, 2, 2};
            for (int v : ys)
                for (int u : xs) {
                    const QRgb pixel = parent.pixel(u, v);
                    sums[0] += qRed(pixel), sums[1] += qGreen(pixel), sums[2] += qBlue(pixel);
                }
            halved.setPixel(x, y, qRgb(sums[0] / 4, sums[1] / 4, sums[2] / 4));
        }
    return halved;
}

TEST(DisplayPicture, ShowsGreyColourSixteenBitsRoundedAndMapsThroughTheirTable)
{
    TBitmap deep = ChannelBitmap({{{128, 129}}, {{32767, 32896}}, {{65535, 0}}}, true);
    const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), clear = qRgba(0, 0, 255, 0), black = qRgb(0, 0, 0);
    const struct {
        const char *name;
        std::shared_ptr<DisplayPicture> picture;
        Colours expected;
    } cases[] = {
        {"grey", DisplayPicture::FromBitmap(GreyBitmap({{0, 128}, {255, 7}})),
         {{qRgb(0, 0, 0), qRgb(128, 128, 128)}, {qRgb(255, 255, 255), qRgb(7, 7, 7)}}},
        {"colour", DisplayPicture::FromBitmap(ChannelBitmap({{{10, 0}}, {{20, 1}}, {{30, 2}}})),
         {{qRgb(30, 20, 10), qRgb(2, 1, 0)}}},
        // (v * 255 + 32767) / 65535 of blue 128, 129, green 32767, 32896, red 65535, 0.
        {"16 bits", DisplayPicture::FromBitmap(deep), {{qRgb(255, 127, 0), qRgb(0, 128, 1)}}},
        // Values past the table show black; a colour of the table shows opaque.
        {"map", DisplayPicture::FromIndexed(GreyBitmap({{0, 1}, {2, 3}, {255, 0}}), {red, green, clear}),
         {{red, green}, {qRgb(0, 0, 255), black}, {black, red}}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.picture->Level(0).format(), QImage::Format_RGB32) << c.name;
        EXPECT_EQ(ColoursOf(c.picture->Level(0)), c.expected) << c.name;
        EXPECT_EQ(c.picture->PixelAt(1, 0), c.expected[0][1]) << c.name;
        EXPECT_EQ(c.picture->PixelAt(2, 0), 0u) << c.name;
    }
}

TEST(DisplayPicture, ReducedCopiesAreRoundedMeansOfTwoByTwoAndAnOddEdgeAveragesItself)
{
    // 3 x 3: the last column's blocks are (2, 6) and (9), the last row's (7, 8) and (9).
    const auto small = DisplayPicture::FromBitmap(GreyBitmap({{0, 1, 2}, {3, 5, 6}, {7, 8, 9}}), 1);
    ASSERT_EQ(small->LevelCount(), 3);
    const auto grey = [](int v) { return qRgb(v, v, v); };
    // Sums 9, 16, 30 and 36, each plus 2 and divided by 4; then 23, plus 2, divided by 4.
    EXPECT_EQ(ColoursOf(small->Level(1)), (Colours{{grey(2), grey(4)}, {grey(8), grey(9)}}));
    EXPECT_EQ(ColoursOf(small->Level(2)), (Colours{{grey(6)}}));

    // Colour pictures of odd and even sizes against the slow reference; the last level is the
    // first whose longest side is at most the limit.
    const struct {
        int width, height, limit, levels;
    } sizes[] = {{7, 5, 1, 4}, {8, 6, 2, 3}, {1, 9, 1, 5}, {600, 3, 512, 2}, {512, 40, 512, 1}};
    for (const auto &size : sizes) {
        const auto picture = DisplayPicture::FromBitmap(RandomBitmap(pf24bit, size.width, size.height, 7), size.limit);
        ASSERT_EQ(picture->LevelCount(), size.levels) << size.width << " x " << size.height;
        for (int level = 1; level < picture->LevelCount(); ++level)
            EXPECT_EQ(picture->Level(level), ReferenceHalved(picture->Level(level - 1)))
                << size.width << " x " << size.height << ", level " << level;
    }
}

TEST(DisplayPicture, UpdateRewritesExactlyTheRectangleInEveryLevel)
{
    const std::vector<QRgb> table = {qRgb(9, 9, 9), qRgb(200, 0, 0), qRgb(0, 0, 250)};
    const struct {
        const char *name;
        TPixelFormat format;
        bool indexed;
    } kinds[] = {{"grey", pf8bit, false}, {"16 bits", pf48bit, false}, {"map", pf8bit, true}};
    const QRect rects[] = {{3, 2, 5, 4}, {-4, 7, 30, 10}, {12, 0, 1, 1}, {20, 20, 5, 5}};
    for (const auto &kind : kinds)
        for (const QRect &rect : rects) {
            const auto make = [&](const TBitmap &bitmap) {
                return kind.indexed ? DisplayPicture::FromIndexed(bitmap, table, 1)
                                    : DisplayPicture::FromBitmap(bitmap, 1);
            };
            const int limit = kind.indexed ? 5 : 256;
            const TBitmap before = RandomBitmap(kind.format, 13, 11, 1, limit);
            const TBitmap after = RandomBitmap(kind.format, 13, 11, 2, limit);
            // The bitmap the picture should now show: before, with the rectangle from after.
            TBitmap expected;
            expected.Assign(before);
            const QRect inside = rect & QRect(0, 0, 13, 11);
            const int step = TBitmap::BytesPerPixel(kind.format);
            for (int y = inside.top(); y <= inside.bottom(); ++y)
                std::memcpy(expected.ScanLine(y) + step * inside.left(), after.ScanLine(y) + step * inside.left(),
                            static_cast<std::size_t>(step) * inside.width());
            const auto picture = make(before);
            picture->Update(after, rect);
            const auto reference = make(expected);
            ASSERT_EQ(picture->LevelCount(), 5);
            for (int level = 0; level < picture->LevelCount(); ++level)
                EXPECT_EQ(picture->Level(level), reference->Level(level))
                    << kind.name << ", rect at " << rect.x() << ", " << rect.y() << ", level " << level;
        }
}

TEST(DisplayPicture, RefusesWhatItCannotShow)
{
    const auto grey = DisplayPicture::FromBitmap(GreyBitmap({{1, 2}}));
    const auto map = DisplayPicture::FromIndexed(GreyBitmap({{1, 2}}), {});
    const std::function<void()> refused[] = {
        [] { DisplayPicture::FromBitmap(TBitmap()); },
        [] { DisplayPicture::FromIndexed(GreyPixels24({{1}}), {}); },
        [&] { grey->Update(GreyBitmap({{1, 2, 3}}), QRect(0, 0, 1, 1)); },
        [&] { map->Update(GreyPixels24({{1, 2}}), QRect(0, 0, 1, 1)); },
    };
    for (std::size_t k = 0; k < std::size(refused); ++k)
        EXPECT_THROW(refused[k](), Exception) << "case " << k;
}

TEST(DisplayPicture, AZoomReadsTheSmallestLevelStillAsLargeAsWhatIsDrawn)
{
    const auto picture = DisplayPicture::FromBitmap(GreyBitmap(Table(64, std::vector<int>(64))), 1); // 64 ... 1
    const std::pair<double, int> zoomLevels[] = {{4, 0}, {1, 0}, {0.75, 0}, {0.5, 1}, {0.3, 1},
                                                 {0.25, 2}, {0.2, 2}, {1.0 / 64, 6}, {1.0 / 200, 6}};
    for (const auto &[zoom, level] : zoomLevels)
        EXPECT_EQ(LevelFor(*picture, zoom), level) << "zoom " << zoom;
}

class Viewer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureWidgetApplication(); }

    void SetUp() override
    {
        viewer.resize(200, 100);
        viewer.show();
        QApplication::processEvents();
        QObject::connect(&viewer, &PictureViewer::StrokePoint, [this](QPointF p) { strokes.push_back(p); });
        QObject::connect(&viewer, &PictureViewer::StrokeEnded, [this] { strokes.push_back({-1, -1}); });
        QObject::connect(&viewer, &PictureViewer::PointerAt, [this](int x, int y) { pointed.push_back({x, y}); });
        QObject::connect(&viewer, &PictureViewer::BrushWheel, [this](int steps) { brushSteps += steps; });
    }

    static std::shared_ptr<DisplayPicture> Blank(int width, int height)
    {
        return DisplayPicture::FromBitmap(GreyBitmap(Table(height, std::vector<int>(width, 90))));
    }

    void Mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held)
    {
        QMouseEvent event(type, at, viewer.mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(&viewer, &event);
    }
    void Drag(QPointF from, QPointF to, Qt::MouseButton button)
    {
        Mouse(QEvent::MouseButtonPress, from, button, button);
        Mouse(QEvent::MouseMove, to, Qt::NoButton, button);
        Mouse(QEvent::MouseButtonRelease, to, button, Qt::NoButton);
    }
    void Wheel(QPointF at, int angle, Qt::KeyboardModifiers modifiers)
    {
        QWheelEvent event(at, viewer.mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&viewer, &event);
    }

    PictureViewer viewer;
    std::vector<QPointF> strokes; // (-1, -1) marks StrokeEnded
    std::vector<QPoint> pointed;
    int brushSteps = 0;
};

TEST_F(Viewer, ZoomKeepsThePointUnderTheAnchorWithinTheLimits)
{
    viewer.SetPicture(Blank(400, 300));
    EXPECT_DOUBLE_EQ(viewer.Zoom(), 1.0 / 3);
    const std::pair<double, QPointF> steps[] = {{2, {50, 30}}, {1.25, {199, 99}}, {0.8, {100, 50}}, {3, {0, 0}}};
    for (const auto &[factor, anchor] : steps) {
        const QPointF under = viewer.PictureAt(anchor);
        const double zoom = viewer.Zoom();
        viewer.ZoomBy(factor, anchor);
        EXPECT_DOUBLE_EQ(viewer.Zoom(), zoom * factor);
        EXPECT_NEAR(viewer.PictureAt(anchor).x(), under.x(), 1e-9);
        EXPECT_NEAR(viewer.PictureAt(anchor).y(), under.y(), 1e-9);
        EXPECT_FALSE(viewer.IsFitted());
    }
    viewer.ZoomBy(1e6, {});
    EXPECT_EQ(viewer.Zoom(), 32);
    viewer.ZoomBy(1e-9, {});
    EXPECT_EQ(viewer.Zoom(), 1.0 / 64);
    // A tiny picture fits enlarged by a whole factor, at most 32; it cannot shrink below 1/64.
    viewer.SetPicture(Blank(4, 2));
    EXPECT_EQ(viewer.Zoom(), 32);
    viewer.ZoomBy(1e-9, {});
    EXPECT_EQ(viewer.Zoom(), 1.0 / 64);
}

TEST_F(Viewer, PanningStopsWithTheEdgeAtTheMiddle)
{
    viewer.SetPicture(Blank(400, 300));
    viewer.ZoomTo(1, {});
    viewer.PanBy({10000, 10000});
    EXPECT_EQ(viewer.WidgetAt({0, 0}), QPointF(100, 50));
    viewer.PanBy({-20000, -20000});
    EXPECT_EQ(viewer.WidgetAt({400, 300}), QPointF(100, 50));
}

TEST_F(Viewer, ASameSizedPictureKeepsTheViewAnotherSizeFits)
{
    viewer.SetPicture(Blank(400, 300));
    viewer.ZoomBy(2.5, {70, 20});
    viewer.PanBy({-13, 7});
    const double zoom = viewer.Zoom();
    const QPointF corner = viewer.WidgetAt({0, 0});
    for (const auto &next : {Blank(400, 300), std::shared_ptr<DisplayPicture>(), Blank(400, 300)}) {
        viewer.SetPicture(next);
        EXPECT_EQ(viewer.Zoom(), zoom);
        EXPECT_EQ(viewer.WidgetAt({0, 0}), corner);
    }
    // Resizing keeps a zoomed view as it is, refits a fitted one.
    viewer.resize(300, 150);
    QApplication::processEvents();
    EXPECT_EQ(viewer.WidgetAt({0, 0}), corner);
    viewer.SetPicture(Blank(300, 400));
    EXPECT_TRUE(viewer.IsFitted());
    EXPECT_DOUBLE_EQ(viewer.Zoom(), 150.0 / 400);
    viewer.resize(200, 100);
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(viewer.Zoom(), 100.0 / 400);
    EXPECT_EQ(viewer.WidgetAt({150, 200}), QPointF(100, 50));
}

TEST_F(Viewer, PaintModeStrokesInPictureCoordinatesOfPixelCentresAndDoesNotPan)
{
    viewer.SetPicture(Blank(200, 100)); // fits at 100 %, the picture's corner on the viewer's
    viewer.SetPaintMode(true);
    viewer.SetBrushRadius(5);
    Drag({3, 2}, {10, 4}, Qt::LeftButton);
    EXPECT_EQ(strokes, (std::vector<QPointF>{{3.5, 2.5}, {10.5, 4.5}, {-1, -1}}));
    EXPECT_EQ(pointed, (std::vector<QPoint>{{3, 2}, {10, 4}}));
    EXPECT_EQ(viewer.WidgetAt({0, 0}), QPointF(0, 0));
    EXPECT_TRUE(viewer.IsFitted());

    viewer.ZoomTo(4, {0, 0});
    strokes.clear();
    Drag({9, 5}, {9, 5}, Qt::LeftButton);
    EXPECT_EQ(strokes, (std::vector<QPointF>{{2.375, 1.375}, {2.375, 1.375}, {-1, -1}}));
    // The middle button still pans, and strokes nothing.
    strokes.clear();
    Drag({50, 50}, {40, 45}, Qt::MiddleButton);
    EXPECT_EQ(viewer.WidgetAt({0, 0}), QPointF(-10, -5));
    EXPECT_TRUE(strokes.empty());
    // PictureAt and WidgetAt undo each other at any zoom and position.
    viewer.ZoomBy(0.37, {33, 21});
    for (const QPointF point : {QPointF(0, 0), QPointF(17.25, 93.5)})
        EXPECT_NEAR((viewer.WidgetAt(viewer.PictureAt(point)) - point).manhattanLength(), 0, 1e-9);
}

TEST_F(Viewer, LeftDragPansTheWheelZoomsAndCtrlWheelIsTheBrushs)
{
    viewer.SetPicture(Blank(400, 300));
    viewer.ZoomTo(1, {});
    const QPointF corner = viewer.WidgetAt({0, 0});
    Drag({60, 40}, {50, 50}, Qt::LeftButton);
    EXPECT_EQ(viewer.WidgetAt({0, 0}), corner + QPointF(-10, 10));
    EXPECT_TRUE(strokes.empty());

    const QPointF under = viewer.PictureAt({150.5, 60.5});
    Wheel({150, 60}, 120, Qt::NoModifier);
    EXPECT_DOUBLE_EQ(viewer.Zoom(), 1.25);
    EXPECT_NEAR((viewer.PictureAt({150.5, 60.5}) - under).manhattanLength(), 0, 1e-9);
    Wheel({150, 60}, 60, Qt::ControlModifier);
    Wheel({150, 60}, 300, Qt::ControlModifier);
    EXPECT_EQ(brushSteps, 3);
    EXPECT_DOUBLE_EQ(viewer.Zoom(), 1.25);
}

TEST_F(Viewer, AFrameShowsEachPixelWhereThePictureSaysAndRepaintsAPartAlike)
{
    viewer.SetPicture(DisplayPicture::FromBitmap(RandomBitmap(pf24bit, 40, 30, 3), 8));
    // The part of the frame inside rect, painted alone.
    const auto render = [&](QRect rect) {
        QImage frame(viewer.size(), QImage::Format_RGB32);
        frame.fill(Qt::magenta);
        viewer.render(&frame, rect.topLeft(), QRegion(rect));
        return frame;
    };
    // At 100 % and 300 %, every pixel is the picture's pixel under its centre, or background.
    for (const double zoom : {1.0, 3.0}) {
        viewer.ZoomTo(zoom, {77, 41});
        const QImage frame = render(viewer.rect());
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) {
                const QPointF at = viewer.PictureAt({x + 0.5, y + 0.5});
                const QRgb shown = viewer.Picture()->PixelAt(static_cast<int>(std::floor(at.x())),
                                                               static_cast<int>(std::floor(at.y())));
                ASSERT_EQ(frame.pixel(x, y), shown != 0 ? shown : qRgb(72, 72, 72))
                    << "zoom " << zoom << " at " << x << ", " << y;
            }
    }
    // Reduced and smoothed, each part repainted alone (as after UpdateRect) matches the whole,
    // but for the last bit Qt's fixed-point steps along a row may round otherwise.
    for (const double zoom : {0.37, 0.61, 0.93}) {
        viewer.ZoomTo(zoom, {100, 50});
        const QImage whole = render(viewer.rect());
        for (int y = 0; y < whole.height(); y += 5)
            for (int x = 0; x < whole.width(); x += 7) {
                const QImage part = render({x, y, 7, 5});
                for (int v = y; v < std::min(y + 5, whole.height()); ++v)
                    for (int u = x; u < std::min(x + 7, whole.width()); ++u)
                        ASSERT_LE(ChannelDifference(part.pixel(u, v), whole.pixel(u, v)), 1)
                            << "zoom " << zoom << " at " << u << ", " << v;
            }
    }
}

} // namespace
