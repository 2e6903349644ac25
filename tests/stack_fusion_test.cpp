// The fusion every front end runs, from files: shots that cannot be used left out and reported
// while the others fuse as they would alone, the source map numbering the files, the depth
// following the shots, and a stop request ending the run wherever it stands.
#include "picture_bytes.h"
#include "scratch_files.h"
#include "stack_files.h"
#include "shot_frames.h"
#include "stack_fusion.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <stop_token>

namespace {

// Hears nothing, or stops the run when a given stage of a given shot begins.
class Stopper : public StackObserver {
public:
    Stopper(StackStage stage, int index, std::stop_source &stop) : stage_(stage), index_(index), stop_(stop) {}
    void Stage(StackStage stage, int index, int, const std::string &) override
    {
        if (stage == stage_ && index == index_)
            stop_.request_stop();
    }

private:
    StackStage stage_;
    int index_;
    std::stop_source &stop_;
};

// The picture with the contrast of its right half doubled about mid-grey.
Table SharperOnTheRight(Table greys)
{
    for (std::vector<int> &row : greys)
        for (std::size_t x = row.size() / 2; x < row.size(); ++x)
            row[x] = std::clamp(2 * row[x] - 100, 0, 255);
    return greys;
}

// Keeps each shot as the fusion folded it in.
class Keeper : public StackObserver {
public:
    void ShotFolded(int index, TPicture &shot, const TBitmap *) override { shots[index] = shot.Bitmap(); }
    std::map<int, TBitmap> shots;
};

class StackFusion : public testing::Test {
protected:
    std::string Grey(const std::string &name, const Table &greys) const
    {
        return WriteFile(folder_.Path() / name, GreyPng(greys)).string();
    }

    // A colour picture whose channels are the tables, in 16 bits with sixteenBits.
    std::string Colour(const std::string &name, const Table &blue, const Table &green, const Table &red,
                       bool sixteenBits = false) const
    {
        TPicture picture;
        picture.Bitmap() = ChannelBitmap({blue, green, red}, sixteenBits);
        const std::string file = (folder_.Path() / name).string();
        picture.SaveToFile(file);
        return file;
    }

    ScratchFolder folder_;
    StackObserver unseen_;
};

} // namespace

TEST_F(StackFusion, ShotsThatCannotBeUsedAreLeftOutAndTheOthersFuseAsAlone)
{
    // The scene, and shots of it with twice the contrast on the right half, which win there.
    const std::string scene = Grey("scene.png", Texture(1)),
                      moved = Grey("moved.png", SharperOnTheRight(Texture(1, 3, -2))),
                      sharper = Grey("sharper.png", SharperOnTheRight(Texture(1)));
    const std::string broken = WriteFile(folder_.Path() / "broken.png", "not a picture").string();
    const std::string smaller = Grey("smaller.png", PatternTable(40, 30, 1));
    const std::string other = Grey("other.png", Texture(2));
    struct Case {
        std::vector<std::string> files;
        bool align;
        std::vector<std::string> good;
        std::string reason; // of every shot left out
    };
    const std::vector<Case> cases = {
        {{scene, broken, sharper}, false, {scene, sharper}, "not a picture"},
        {{broken, scene, sharper}, false, {scene, sharper}, "not a picture"}, // the first usable one leads
        {{scene, smaller, sharper, smaller}, false, {scene, sharper}, "smaller than the first picture (96 x 72"},
        {{scene, moved, other}, true, {scene, moved}, "another scene"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.files));
        const StackResult result = FuseStack(c.files, {.align = c.align, .sourceMap = true, .leaveOutBadShots = true},
                                             unseen_);
        const StackResult alone = FuseStack(c.good, {.align = c.align}, unseen_);
        EXPECT_EQ(Bytes(result.fused.Bitmap()), Bytes(alone.fused.Bitmap()));
        std::set<int> numbers, fusedNumbers;
        for (std::size_t i = 0; i < c.files.size(); ++i) {
            const ShotReport &shot = result.shots[i];
            const bool good = std::count(c.good.begin(), c.good.end(), c.files[i]) > 0;
            EXPECT_EQ(shot.state, good ? ShotState::Fused : ShotState::LeftOut) << i;
            EXPECT_NE(shot.reason.find(good ? "" : c.reason), std::string::npos) << shot.reason;
            EXPECT_EQ(shot.move.has_value(), good && c.align && static_cast<int>(i) != result.reference) << i;
            if (good)
                fusedNumbers.insert(static_cast<int>(i) + 1);
        }
        for (const std::vector<int> &row : TableOf(result.sourceMap))
            numbers.insert(row.begin(), row.end());
        EXPECT_TRUE(std::includes(fusedNumbers.begin(), fusedNumbers.end(), numbers.begin(), numbers.end()));
        EXPECT_EQ(numbers.size(), 2u); // both good shots win somewhere
    }
    EXPECT_THROW(FuseStack({broken, broken}, {.leaveOutBadShots = true}, unseen_), Exception);
}

TEST_F(StackFusion, TheFusedPictureHasTheDepthOfItsShots)
{
    const Table a = PatternTable(9, 7, 1), b = PatternTable(9, 7, 2), c = PatternTable(9, 7, 3);
    const std::string grey = Grey("grey.png", a), colour = Colour("colour.png", a, b, c),
                      deep = Colour("deep.png", a, b, c, true), deeper = Colour("deeper.png", c, b, a, true);
    const std::vector<std::pair<std::vector<std::string>, TPixelFormat>> cases = {
        {{grey, grey}, pf8bit},
        {{grey, colour}, pf24bit},
        {{deep, deeper}, pf48bit},
        {{deep, colour}, pf24bit},
    };
    for (const auto &[files, format] : cases)
        EXPECT_EQ(FuseStack(files, {}, unseen_).fused.Bitmap().PixelFormat(), format);
}

TEST_F(StackFusion, AStopRequestEndsTheRunWhereverItStands)
{
    const std::vector<std::string> files = {Grey("1.png", Texture(1)), Grey("2.png", Texture(1, 2, 1)),
                                            Grey("3.png", Texture(1, -1, 2))};
    for (const auto &[stage, index] : {std::pair{StackStage::Reading, 0}, std::pair{StackStage::Reading, 2},
                                       std::pair{StackStage::Aligning, 1}, std::pair{StackStage::Folding, 2},
                                       std::pair{StackStage::Feathering, 3}}) {
        std::stop_source stop;
        Stopper stopper(stage, index, stop);
        EXPECT_THROW(FuseStack(files, {.align = true}, stopper, stop.get_token()), FusionCancelled)
            << static_cast<int>(stage) << " " << index;
    }
}

TEST(StackFiles, NamesComeInNaturalOrderAndAFolderGivesItsPictures)
{
    const std::vector<std::pair<std::string, std::string>> ordered = {
        {"2.jpg", "10.jpg"}, {"IMG_0009.JPG", "img_10.jpg"}, {"shot", "shot1"}, {"a7b", "a07c"}, {"B1", "b2"},
    };
    for (const auto &[before, after] : ordered) {
        EXPECT_TRUE(NaturalLess(before, after)) << before << " " << after;
        EXPECT_FALSE(NaturalLess(after, before)) << after << " " << before;
    }
    ScratchFolder folder;
    for (const char *name : {"10.jpg", "2.PNG", "notes.txt", ".hidden.png", "1.tif", "raw.cr2"})
        WriteFile(folder.Path() / name, "");
    fs::create_directory(folder.Path() / "sub.png");
    const FolderPictures found = PicturesInFolder(folder.Path().string());
    const std::vector<std::string> pictures = {(folder.Path() / "1.tif").string(), (folder.Path() / "2.PNG").string(),
                                               (folder.Path() / "10.jpg").string()};
    EXPECT_EQ(found.pictures, pictures);
    EXPECT_EQ(found.skipped, (std::vector<std::string>{"notes.txt", "raw.cr2"}));
    EXPECT_THROW(PicturesInFolder((folder.Path() / "missing").string()), Exception);
}

TEST_F(StackFusion, ShotsReadAgainAreThePicturesFoldedIn)
{
    const std::vector<std::string> files = {Grey("1.png", Texture(3)), Grey("2.png", Texture(3, 4, -3)),
                                            Grey("3.png", Texture(3, -2, 5))};
    for (const bool align : {false, true}) {
        Keeper keeper;
        const StackResult result = FuseStack(files, {.align = align}, keeper);
        ShotFrames frames(result);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Bytes(frames.Shot(i)), Bytes(keeper.shots.at(i))) << "shot " << i << (align ? " aligned" : "");
    }
}
