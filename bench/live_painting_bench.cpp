// Live painting in the stack window: one segment of a brush stroke of radius 50, 40 pixels long,
// painted from a shot over a 12.6 MP fused picture (the pcb pictures tiled 2 x 2) and shown: the
// retouching's undo tiles kept, the pixels and the source map painted, both display copies
// updated, and the viewer's frame at 100 % drawn again. The smoke run takes a small texture.
#include "bench_inputs.h"
#include "benchmarks.h"
#include "display_picture.h"
#include "picture_viewer.h"
#include "retouching.h"
#include "source_colours.h"

#include <QApplication>
#include <QImage>

#include <memory>

namespace {

constexpr double Radius = 50;
constexpr double Step = 40;            // between the pointer's positions
constexpr int SegmentsPerStroke = 25;  // then the stroke ends, as the mouse button is let go

// A fusion of picture alone, its source map all shot 1, for the retouching to start from.
std::shared_ptr<StackResult> FusionOf(const TBitmap &picture)
{
    auto fusion = std::make_shared<StackResult>();
    fusion->fused.Bitmap() = picture;
    fusion->sourceMap.SetPixelFormat(pf8bit);
    fusion->sourceMap.SetSize(picture.Width(), picture.Height());
    fusion->shots.resize(2);
    return fusion;
}

void RegisterLivePainting(const std::string &input, BenchInput fusedOf, BenchInput shotOf)
{
    Register("LivePaintSegment_r50", "ours", input, [=](benchmark::State &state) {
        const TBitmap &fused = fusedOf();
        const std::shared_ptr<StackResult> fusion = FusionOf(fused);
        Retouching retouching;
        retouching.Reset(fusion, fusion->fused, fusion->sourceMap, {});
        const auto pictureView = DisplayPicture::FromBitmap(fused);
        const auto sourcesView = DisplayPicture::FromIndexed(fusion->sourceMap, SourceColours(2));
        retouching.SetViews(pictureView, sourcesView);
        retouching.SetBrush(1, shotOf(), TBitmap());
        PictureViewer viewer;
        viewer.resize(1280, 800);
        viewer.show();
        viewer.SetPicture(pictureView);
        viewer.ShowActualSize();
        QObject::connect(&retouching, &Retouching::Changed, &viewer, &PictureViewer::UpdateRect);
        QImage frame(viewer.size(), QImage::Format_ARGB32_Premultiplied);
        // The pointer sweeps the middle of the view, left to right and back.
        double x = fused.Width() / 2.0 - 600, direction = 1;
        int segments = 0;
        for (auto _ : state) {
            retouching.PaintTo({x, fused.Height() / 2.0}, Radius);
            viewer.render(&frame);
            x += direction * Step;
            if (x > fused.Width() / 2.0 + 600 || x < fused.Width() / 2.0 - 600)
                direction = -direction;
            if (++segments % SegmentsPerStroke == 0) {
                state.PauseTiming();
                retouching.EndStroke();
                retouching.History().clear(); // keeps memory flat over a long run
                state.ResumeTiming();
            }
        }
        SetPixelCounters(state, static_cast<long long>(2 * Radius * (2 * Radius + Step)), 0);
    });
}

} // namespace

void RegisterLivePaintingBenchmarks()
{
    if (HavePcbTriple())
        RegisterLivePainting(PcbInputName(2), []() -> const TBitmap & { return PcbPicture(1, 2); },
                             []() -> const TBitmap & { return PcbPicture(2, 2); });
    const auto texture = []() -> const TBitmap & {
        static const TBitmap bitmap = [] {
            TBitmap b;
            b.SetSize(640, 480);
            return b;
        }();
        return bitmap;
    };
    RegisterLivePainting("texture_640x480", texture, texture);
}
