// Retouching a fused stack: the strokes applied in one go give the bytes the window gets by
// painting them one by one on shots read again, aligned or not; strokes that cannot be applied
// are refused before anything changes.
#include "brush_stroke.h"
#include "picture_bytes.h"
#include "retouch.h"
#include "scratch_files.h"
#include "shot_frames.h"
#include "stack_fusion.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

namespace {

// Shots of one scene, the later ones moved a few pixels, and strokes that cross each other,
// come back to a shot painted over, and reach past the edges, where a moved shot shows nothing.
class Retouching : public testing::Test {
protected:
    std::string Grey(const std::string &name, const Table &greys) const
    {
        return WriteFile(folder_.Path() / name, GreyPng(greys)).string();
    }

    std::vector<std::string> Shots() const
    {
        return {Grey("1.png", Texture(3)), Grey("2.png", Texture(3, 4, -3, 30)), Grey("3.png", Texture(3, -2, 5, 60))};
    }

    const std::vector<BrushStroke> strokes_ = {
        {2, 10, {{20, 20}, {60, 30}, {80, 60}}},
        {1, 2.5, {{0, 0}, {95.5, 71.5}}},
        {0, 6, {{50, 35}}},
        {2, 4, {{90, 2}, {100, 20}, {90, 70}}},
        {1, 30, {{-10, 75}}},
    };
    ScratchFolder folder_;
    StackObserver unseen_;
};

// What the window does: each stroke painted with PaintStroke from its shot read again.
StackResult PaintedOneByOne(StackResult result, const std::vector<BrushStroke> &strokes)
{
    ShotFrames frames(result);
    for (const BrushStroke &stroke : strokes) {
        TBitmap coverage;
        const TBitmap shot = frames.Shot(stroke.shot, &coverage);
        PaintStroke(stroke, shot, result.fused.Bitmap(), &result.sourceMap, static_cast<std::uint8_t>(stroke.shot + 1),
                    coverage.Empty() ? nullptr : &coverage);
    }
    return result;
}

} // namespace

TEST_F(Retouching, StrokesAppliedInOneGoGiveTheBytesOfPaintingThemOneByOne)
{
    const std::vector<std::string> files = Shots();
    for (const bool align : {false, true}) {
        SCOPED_TRACE(align ? "aligned" : "not aligned");
        const StackResult fused = FuseStack(files, {.align = align, .sourceMap = true}, unseen_);
        ASSERT_EQ(fused.shots[2].move.has_value(), align);
        StackResult retouched = fused;
        ApplyRetouch(retouched, strokes_);
        const StackResult expected = PaintedOneByOne(fused, strokes_);
        EXPECT_EQ(Bytes(retouched.fused.Bitmap()), Bytes(expected.fused.Bitmap()));
        EXPECT_EQ(Bytes(retouched.sourceMap), Bytes(expected.sourceMap));
        EXPECT_NE(Bytes(retouched.fused.Bitmap()), Bytes(fused.fused.Bitmap()));
        EXPECT_EQ(TableOf(retouched.sourceMap)[35][50], 1); // the disc of the first shot, painted over nothing later
    }
}

TEST_F(Retouching, StrokesThatCannotBeAppliedAreRefusedNamingStrokeAndShot)
{
    std::vector<std::string> files = Shots();
    files.insert(files.begin() + 1, WriteFile(folder_.Path() / "broken.png", "not a picture").string());
    const StackResult fused = FuseStack(files, {.sourceMap = true, .leaveOutBadShots = true}, unseen_);
    const std::vector<std::pair<BrushStroke, std::string>> refused = {
        {{4, 3, {{1, 1}}}, "stroke 2: it paints from shot 5, but the stack has 4 shots"},
        {{-1, 3, {{1, 1}}}, "stroke 2: it paints from shot 0,"},
        {{1, 3, {{1, 1}}}, "stroke 2: it paints from shot 2 (broken.png), which was left out of the fusion: it is not a picture"},
        {{0, 0, {{1, 1}}}, "stroke 2: its radius, 0,"},
    };
    for (const auto &[stroke, words] : refused) {
        StackResult result = fused;
        try {
            ApplyRetouch(result, {{2, 3, {{5, 5}}}, stroke});
            ADD_FAILURE() << "not refused: " << words;
        } catch (const Exception &refusal) {
            EXPECT_NE(refusal.Message().find(words), std::string::npos) << refusal.Message();
        }
        EXPECT_EQ(Bytes(result.fused.Bitmap()), Bytes(fused.fused.Bitmap()));
        EXPECT_EQ(Bytes(result.sourceMap), Bytes(fused.sourceMap));
    }
}
