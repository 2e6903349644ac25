// The stack file: every way a file can be unusable gets one message naming the file and saying
// what is wrong and where; a stack written reads back as it was, its shots named relative to the
// file's folder; a failed save keeps the earlier file.
#include "scratch_files.h"
#include "stack_file.h"

#include "exception.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

class StackFileTest : public testing::Test {
protected:
    StackFileTest()
    {
        for (const char *shot : {"1.png", "2.png", "3.png"})
            WriteFile(folder_ / shot, "a shot");
        fs::create_directory(folder_ / "folder.png");
    }

    // The file of the text, read, and the message of its refusal (empty when it was read).
    std::string Refusal(const std::string &text) const
    {
        const std::string file = WriteFile(folder_ / "stack.edgedom", text).string();
        try {
            ReadStackFile(file);
            return {};
        } catch (const Exception &refusal) {
            return refusal.Message();
        }
    }

    ScratchFolder folder_;
};

// The opening of a good file of three shots, before "retouch".
const std::string Head = R"({"edgedom-stack": 1, "shots": ["1.png", "2.png", "3.png"], )";

std::string WithStrokes(const std::string &strokes) { return Head + R"("retouch": [)" + strokes + "]}"; }

std::string ManyShots(int count)
{
    std::string shots;
    for (int i = 0; i < count; ++i)
        shots += std::string(i ? ", " : "") + "\"1.png\"";
    return R"({"edgedom-stack": 1, "shots": [)" + shots + "]}";
}

} // namespace

TEST_F(StackFileTest, UnusableFilesAreRefusedSayingWhatIsWrongAndWhere)
{
    const std::string good = R"({"shot": 1, "radius": 3, "points": [[1, 2]]}, )";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"shots: 1.png", "it is not JSON (illegal value near byte 1)"},
        {"[1, 2]", "not an object"},
        {R"({"shots": ["1.png"]})", "it is not an edgedom stack file (it has no \"edgedom-stack\" version)"},
        {R"({"edgedom-stack": 2, "shots": ["1.png"]})", "of version 2, and this program reads version 1: a later"},
        {R"({"edgedom-stack": "1", "shots": ["1.png"]})", "version is not a number"},
        {R"({"edgedom-stack": 1})", "no list of \"shots\""},
        {R"({"edgedom-stack": 1, "shots": []})", "names no shots"},
        {ManyShots(256), "names 256 shots, more than the 255 a stack holds"},
        {R"({"edgedom-stack": 1, "shots": ["1.png", 2]})", "shot 2 is not a file name"},
        {R"({"edgedom-stack": 1, "shots": [""]})", "shot 1 is not a file name"},
        {Head + R"("align": "yes"})", "\"align\" is not true or false"},
        {Head + R"("retouch": {}})", "\"retouch\" is not a list of strokes"},
        {WithStrokes(good + "3"), "stroke 2 is not an object"},
        {WithStrokes(R"({"radius": 3, "points": [[1, 2]]})"), "stroke 1 has no shot number"},
        {WithStrokes(good + R"({"shot": 1.5, "radius": 3, "points": [[1, 2]]})"), "stroke 2: its shot, 1.5, is not a whole"},
        {WithStrokes(R"({"shot": 4, "radius": 3, "points": [[1, 2]]})"), "its shot, 4, is not one of the 3 shots"},
        {WithStrokes(R"({"shot": 0, "radius": 3, "points": [[1, 2]]})"), "its shot, 0, is not one of"},
        {WithStrokes(R"({"shot": 1, "points": [[1, 2]]})"), "stroke 1 has no radius"},
        {WithStrokes(good + R"({"shot": 1, "radius": 0, "points": [[1, 2]]})"), "stroke 2: its radius, 0, is not above 0"},
        {WithStrokes(R"({"shot": 1, "radius": 500.5, "points": [[1, 2]]})"), "radius, 500.5, is not above 0 and at most 500"},
        {WithStrokes(R"({"shot": 1, "radius": 3})"), "stroke 1 has no points"},
        {WithStrokes(R"({"shot": 1, "radius": 3, "points": []})"), "stroke 1 has no points"},
        {WithStrokes(R"({"shot": 1, "radius": 3, "points": [[1, 2], [1]]})"), "stroke 1: its point 2 is not two numbers"},
        {WithStrokes(R"({"shot": 1, "radius": 3, "points": [[1, "2"]]})"), "its point 1 is not two numbers"},
        {WithStrokes(R"({"shot": 1, "radius": 3, "points": [[1, 2, 3]]})"), "its point 1 is not two numbers"},
        {WithStrokes(R"({"shot": 1, "radius": 3, "points": [[1e999, 2]]})"), "not JSON (illegal number"},
        {WithStrokes(R"({"shot": 1, "radius": 3, "points": [[1, -3e6]]})"),
         "its point 1 has the coordinate -3000000, not a number within +-1000000"},
        {R"({"edgedom-stack": 1, "shots": ["1.png", "4.png"]})", "shot 2, " + (folder_ / "4.png").string() + ", is missing"},
        {R"({"edgedom-stack": 1, "shots": ["folder.png"]})", "shot 1, " + (folder_ / "folder.png").string() + ", is a folder"},
    };
    const std::string opening = "Cannot read the stack file " + (folder_ / "stack.edgedom").string() + ": ";
    for (const auto &[text, words] : cases) {
        const std::string message = Refusal(text);
        EXPECT_EQ(message.rfind(opening, 0), 0u) << message;
        EXPECT_NE(message.find(words), std::string::npos) << message << "\n  does not say: " << words;
    }
    EXPECT_EQ(Refusal(R"({"edgedom-stack": 1, "shots": ["1.png"], "later": {"x": 1}})"), ""); // keys it does not know
    EXPECT_EQ(Refusal(WithStrokes(R"({"shot": 3, "radius": 500, "points": [[-1e6, 1e6]], "pressure": 0.5})")), "");
    EXPECT_THROW(ReadStackFile((folder_ / "missing.edgedom").string()), Exception);
    EXPECT_THROW(ReadStackFile((folder_ / "folder.png").string()), Exception);
}

// Shots inside the file's folder, below it and beside it, in folders with spaces; coordinates
// and radii no short decimal holds.
TEST_F(StackFileTest, AStackWrittenReadsBackAsItWasWithItsShotsRelativeToTheFile)
{
    fs::create_directories(folder_ / "my stacks" / "shots of today");
    fs::create_directories(folder_ / "other shots");
    const std::vector<std::string> shots = {(folder_ / "my stacks" / "a.png").string(),
                                            (folder_ / "my stacks" / "shots of today" / "b c.png").string(),
                                            (folder_ / "other shots" / "d.png").string()};
    for (const std::string &shot : shots)
        WriteFile(shot, "a shot");
    const StackFile stack{shots, true,
                          {{2, 40, {{812.5, 300}, {1.0 / 3, -0.1}, {-25.75, 1e-9}}}, {0, std::sqrt(2.0), {{7, 7}}}}};
    const std::string file = (folder_ / "my stacks" / "a stack.edgedom").string();
    WriteStackFile(file, stack);
    const std::string text = ReadFile(file);
    for (const char *name : {"\"a.png\"", "\"shots of today/b c.png\"", "\"../other shots/d.png\""})
        EXPECT_NE(text.find(name), std::string::npos) << text;
    EXPECT_EQ(text.find(folder_.Path().string()), std::string::npos) << text;

    const StackFile read = ReadStackFile(file);
    EXPECT_EQ(read.shots, shots);
    EXPECT_TRUE(read.align);
    ASSERT_EQ(read.retouch.size(), stack.retouch.size());
    for (std::size_t i = 0; i < stack.retouch.size(); ++i) {
        const BrushStroke &before = stack.retouch[i], &after = read.retouch[i];
        EXPECT_EQ(after.shot, before.shot);
        EXPECT_EQ(after.radius, before.radius);
        ASSERT_EQ(after.points.size(), before.points.size());
        for (std::size_t j = 0; j < before.points.size(); ++j)
            EXPECT_TRUE(after.points[j].x == before.points[j].x && after.points[j].y == before.points[j].y) << i << j;
    }
}

TEST_F(StackFileTest, AFailedSaveKeepsTheEarlierFile)
{
    const std::string file = (folder_ / "stack.edgedom").string();
    WriteStackFile(file, {{(folder_ / "1.png").string()}, false, {}});
    const std::string earlier = ReadFile(file);
    const std::set<std::string> before = Listing(folder_.Path());
    const BrushStroke longStroke{0, 5, std::vector<StrokePoint>(5000, StrokePoint{1.25, 2.5})};
    const StackFile larger{{(folder_ / "1.png").string()}, false, {longStroke}};
    {
        const FileSizeLimit fullDisk(static_cast<rlim_t>(earlier.size()) + 1000);
        EXPECT_THROW(WriteStackFile(file, larger), Exception);
    }
    const StackFile unreadable{{(folder_ / "1.png").string()}, false, {{1, 5, {{1, 1}}}}}; // stroke of a second shot
    EXPECT_THROW(WriteStackFile(file, unreadable), Exception);
    EXPECT_EQ(ReadFile(file), earlier);
    EXPECT_EQ(Listing(folder_.Path()), before);
}
