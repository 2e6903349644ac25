// The stack window's picture viewer: one whole frame of a 1280 x 800 viewer at each zoom and a
// pan step, on a 12.6 MP picture (the pcb picture tiled 2 x 2) and, for the smoke run, on a
// small synthetic one; and the display copies, built (the worker's part) and updated for a
// 101 x 101 rectangle of a brush stroke. A frame is the viewer rendered into an image, the
// path of its paint event.
#include "bench_inputs.h"
#include "benchmarks.h"
#include "display_picture.h"
#include "picture_viewer.h"

#include <QApplication>
#include <QImage>

#include <cstdint>
#include <memory>

namespace {

const QSize ViewerSize(1280, 800);

// A 640 x 480 colour texture of smooth stripes, cached for the run.
const TBitmap &SmallTexture()
{
    static const TBitmap texture = [] {
        TBitmap bitmap;
        bitmap.SetSize(640, 480);
        for (int y = 0; y < bitmap.Height(); ++y) {
            std::uint8_t *row = bitmap.ScanLine(y);
            // Each pixel gets three ramps of different slopes.
            for (int x = 0; x < bitmap.Width(); ++x) {
                row[3 * x] = static_cast<std::uint8_t>(x + y);
                row[3 * x + 1] = static_cast<std::uint8_t>(2 * x - y);
                row[3 * x + 2] = static_cast<std::uint8_t>(x * y / 64);
            }
        }
        return bitmap;
    }();
    return texture;
}

// A shown viewer of ViewerSize on the picture, its view set by setView.
std::unique_ptr<PictureViewer> ViewerOn(const TBitmap &bitmap, const std::function<void(PictureViewer &)> &setView)
{
    auto viewer = std::make_unique<PictureViewer>();
    viewer->resize(ViewerSize);
    viewer->show();
    QApplication::processEvents();
    viewer->SetPicture(DisplayPicture::FromBitmap(bitmap));
    setView(*viewer);
    return viewer;
}

void CountFrame(benchmark::State &state, const PictureViewer &viewer)
{
    const long long pixels = static_cast<long long>(ViewerSize.width()) * ViewerSize.height();
    SetPixelCounters(state, pixels, 4 * pixels);
    const QImage &level = viewer.Picture()->Level(viewer.DrawnLevel());
    state.counters["level"] = viewer.DrawnLevel();
    state.counters["level_px"] = static_cast<double>(level.width()) * level.height();
}

void RegisterFrame(const std::string &stage, const std::string &input, BenchInput bitmapOf,
                   std::function<void(PictureViewer &)> setView)
{
    Register(stage, "ours", input, [=](benchmark::State &state) {
        const auto viewer = ViewerOn(bitmapOf(), setView);
        QImage frame(ViewerSize, QImage::Format_ARGB32_Premultiplied);
        for (auto _ : state) {
            viewer->render(&frame);
            benchmark::DoNotOptimize(frame.constBits());
        }
        CountFrame(state, *viewer);
    });
}

// Each step moves the picture by a sixtieth of the viewer, back and forth, and repaints it.
void RegisterPanStep(const std::string &stage, const std::string &input, BenchInput bitmapOf, double zoom)
{
    Register(stage, "ours", input, [=](benchmark::State &state) {
        const auto viewer = ViewerOn(bitmapOf(), [zoom](PictureViewer &v) { v.ZoomTo(zoom, QPointF(640, 400)); });
        QImage frame(ViewerSize, QImage::Format_ARGB32_Premultiplied);
        double direction = 1;
        for (auto _ : state) {
            viewer->PanBy(QPointF(21, 13) * direction);
            direction = -direction;
            viewer->render(&frame);
            benchmark::DoNotOptimize(frame.constBits());
        }
        CountFrame(state, *viewer);
    });
}

// Each step shows the other of two pictures of one size, as the user flicking between the
// fused picture and a shot: the frame reads a copy that is not in the caches.
void RegisterFlick(const std::string &stage, const std::string &input, BenchInput bitmapOf)
{
    Register(stage, "ours", input, [=](benchmark::State &state) {
        const auto viewer = ViewerOn(bitmapOf(), [](PictureViewer &v) { v.FitToWindow(); });
        const std::shared_ptr<const DisplayPicture> pictures[] = {viewer->Picture(),
                                                                  DisplayPicture::FromBitmap(bitmapOf())};
        QImage frame(ViewerSize, QImage::Format_ARGB32_Premultiplied);
        int shown = 0;
        for (auto _ : state) {
            shown = 1 - shown;
            viewer->SetPicture(pictures[shown]);
            viewer->render(&frame);
            benchmark::DoNotOptimize(frame.constBits());
        }
        CountFrame(state, *viewer);
    });
}

void RegisterDisplayCopies(const std::string &input, BenchInput bitmapOf)
{
    Register("DisplayPictureFromBitmap", "ours", input, [=](benchmark::State &state) {
        const TBitmap &bitmap = bitmapOf();
        for (auto _ : state) {
            const auto picture = DisplayPicture::FromBitmap(bitmap);
            benchmark::DoNotOptimize(picture->Level(0).constBits());
        }
        // Reads 3 bytes a pixel, writes 4 and a third of that for the reduced copies.
        SetPixelCounters(state, PixelsOf(bitmap), 3 * PixelsOf(bitmap) + 16 * PixelsOf(bitmap) / 3);
    });
    Register("DisplayPictureUpdate_101x101", "ours", input, [=](benchmark::State &state) {
        const TBitmap &bitmap = bitmapOf();
        const auto picture = DisplayPicture::FromBitmap(bitmap);
        // The rectangle walks along the diagonal, as a stroke would.
        int step = 0;
        for (auto _ : state) {
            const int x = (step * 37) % (bitmap.Width() - 101), y = (step * 23) % (bitmap.Height() - 101);
            picture->Update(bitmap, QRect(x, y, 101, 101));
            ++step;
        }
        SetPixelCounters(state, 101 * 101, 7 * 101 * 101);
    });
}

void RegisterInput(const std::string &input, BenchInput bitmapOf)
{
    const QPointF centre(ViewerSize.width() / 2.0, ViewerSize.height() / 2.0);
    RegisterFrame("ViewerFrame_fit", input, bitmapOf, [](PictureViewer &viewer) { viewer.FitToWindow(); });
    for (const int percent : {25, 50, 70, 100, 300, 1600})
        RegisterFrame("ViewerFrame_" + std::to_string(percent), input, bitmapOf,
                      [=](PictureViewer &viewer) { viewer.ZoomTo(percent / 100.0, centre); });
    RegisterPanStep("ViewerPanStep_70", input, bitmapOf, 0.7);
    RegisterFlick("ViewerFlick_fit", input, bitmapOf);
    RegisterDisplayCopies(input, bitmapOf);
}

} // namespace

void RegisterPictureViewerBenchmarks()
{
    if (HavePcbTriple())
        RegisterInput(PcbInputName(2), []() -> const TBitmap & { return PcbPicture(1, 2); });
    RegisterInput("texture_640x480", SmallTexture);
}
