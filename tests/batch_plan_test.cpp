// How a batch finds and plans its stacks: where a sequence of shots is cut by capture time (EXIF
// with its sub-seconds, else the file's time), which folders make which stacks under which names,
// when a stack's outputs are up to date, and that a stack waits for the memory it needs.
#include "batch_plan.h"
#include "batch_stacks.h"
#include "picture.h"
#include "picture_bytes.h"
#include "scratch_files.h"
#include "stack_queue.h"
#include "tagged_pictures.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

using namespace std::chrono_literals;

namespace {

using Names = std::vector<std::string>;

// Each stack found as its name followed by its shots' file names.
std::vector<Names> Described(const std::vector<FoundStack> &stacks)
{
    std::vector<Names> described;
    for (const FoundStack &stack : stacks) {
        described.push_back({stack.name});
        for (const std::string &shot : stack.shots)
            described.back().push_back(fs::path(shot).filename().string());
    }
    return described;
}

fs::path Picture(const fs::path &file, unsigned seed = 1)
{
    fs::create_directories(file.parent_path());
    return WriteFile(file, GreyPng(PatternTable(8, 6, seed)));
}

// 2024-05-17 14:03 and seconds, UTC.
std::chrono::sys_time<std::chrono::milliseconds> May17At1403(double seconds)
{
    using namespace std::chrono;
    return sys_days{year{2024} / 5 / 17} + 14h + 3min + milliseconds(std::llround(seconds * 1000));
}

} // namespace

TEST(BatchStacks, CutsWhereTheCaptureTimeJumpsByMoreThanTheGap)
{
    struct Case {
        std::vector<double> times;
        double gap;
        std::vector<std::size_t> cuts;
    };
    const std::vector<Case> cases = {
        {{}, 2, {}},
        {{5}, 2, {}},
        {{0, 1, 3.5, 4, 9}, 2, {2, 4}},
        {{0, 2, 4}, 2, {}},       // a jump of exactly the gap is no cut
        {{10, 11, 3, 4}, 2, {2}}, // a clock set back cuts too
        {{0, 0.5, 1}, 0, {1, 2}},
    };
    for (const auto &[times, gap, cuts] : cases)
        EXPECT_EQ(CutsWhereTimeJumps(times, gap), cuts) << testing::PrintToString(times) << " gap " << gap;
}

// A folder of folders gives a stack per folder, in natural order, but hidden ones and the output
// folder; a folder of pictures is one stack, its folders ignored, named also when given as "x/".
TEST(BatchStacks, AFolderOfPicturesIsAStackAndAFolderOfFoldersAStackPerFolder)
{
    ScratchFolder scratch;
    const fs::path shots = scratch / "shots", single = scratch / "single";
    for (const char *file : {"bee 10/1.png", "bee 10/2.png", "bee 2/1.png", "bee 2/2.png", "bee 2/10.png",
                             ".hidden/1.png", ".hidden/2.png", "out/a.png", "out/b.png"})
        Picture(shots / file);
    fs::create_directories(shots / "empty");
    WriteFile(shots / "notes.txt", "not a picture");
    for (const char *file : {"c.png", "a.png", "b.jpg", "inside/d.png", "inside/e.png"})
        Picture(single / file);
    const std::vector<FoundStack> stacks = FindStacks({shots.string(), single.string() + "/"}, {}, shots / "out");
    const std::vector<Names> expected = {{"bee 2", "1.png", "2.png", "10.png"}, {"bee 10", "1.png", "2.png"},
                                         {"empty"}, {"single", "a.png", "b.jpg", "c.png"}};
    EXPECT_EQ(Described(stacks), expected);
    EXPECT_EQ(stacks[0].origin, (shots / "bee 2").string());
}

// The shots 1 to 4 carry EXIF times with sub-seconds (their files' times are all now), 5 to 7
// none, so their files' times count.
TEST(BatchStacks, ASequenceIsCutWhereTheCaptureTimeJumps)
{
    ScratchFolder scratch;
    const fs::path folder = scratch / "card";
    const std::vector<std::pair<const char *, const char *>> exif = {
        {"14:03:27", "42"}, {"14:03:28", "10"}, {"14:03:29", "90"}, {"14:03:33", "00"}};
    for (std::size_t i = 0; i < exif.size(); ++i) {
        TPicture shot;
        shot.Assign(GreyPixels24(PatternTable(8, 6, static_cast<unsigned>(i))));
        fs::create_directories(folder);
        const std::string file = (folder / ("IMG_" + std::to_string(i + 1) + ".jpg")).string();
        shot.SaveToFile(file, PictureSaveOptions{});
        WriteTags(file, {{"Exif.Photo.DateTimeOriginal", std::string("2024:05:17 ") + exif[i].first},
                         {"Exif.Photo.SubSecTimeOriginal", exif[i].second}}, false);
    }
    for (const auto &[number, seconds] : {std::pair{5, 34.0}, {6, 44.0}, {7, 44.5}}) {
        const fs::path file = Picture(folder / ("IMG_" + std::to_string(number) + ".png"));
        fs::last_write_time(file, std::chrono::file_clock::from_sys(May17At1403(seconds)));
    }
    const std::vector<std::pair<double, std::vector<Names>>> cases = {
        {2, {{"IMG_1", "IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg"}, {"IMG_4", "IMG_4.jpg", "IMG_5.png"},
             {"IMG_6", "IMG_6.png", "IMG_7.png"}}},
        {0.7, {{"IMG_1", "IMG_1.jpg", "IMG_2.jpg"}, {"IMG_3", "IMG_3.jpg"}, {"IMG_4", "IMG_4.jpg"},
               {"IMG_5", "IMG_5.png"}, {"IMG_6", "IMG_6.png", "IMG_7.png"}}},
        {20, {{"IMG_1", "IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg", "IMG_4.jpg", "IMG_5.png", "IMG_6.png", "IMG_7.png"}}},
    };
    for (const auto &[gap, expected] : cases)
        EXPECT_EQ(Described(FindStacks({folder.string()}, gap, scratch / "out")), expected) << "gap " << gap;
}

// Outputs written 10 s after the newer shot, at its time, 10 s before it, or missing.
TEST(BatchPlan, OutputsAreUpToDateWhenEveryOneIsNewerThanEveryShot)
{
    ScratchFolder scratch;
    const auto now = std::chrono::file_clock::now();
    const std::vector<std::string> shots = {Picture(scratch / "1.png").string(), Picture(scratch / "2.png").string()};
    fs::last_write_time(shots[0], now - 5s);
    fs::last_write_time(shots[1], now);
    const std::vector<std::pair<std::vector<int>, bool>> cases = { // each output's time after the newer shot
        {{10}, true}, {{0}, false}, {{-10}, false}, {{10, 10}, true}, {{10, -10}, false}, {{10, 999}, false},
    };
    for (const auto &[times, upToDate] : cases) {
        std::vector<std::string> outputs;
        for (const int seconds : times) {
            outputs.push_back((scratch / ("out" + std::to_string(outputs.size()) + ".png")).string());
            fs::remove(outputs.back());
            if (seconds != 999) // 999: missing
                fs::last_write_time(WriteFile(outputs.back(), "fused"), now + std::chrono::seconds(seconds));
        }
        EXPECT_EQ(UpToDate(outputs, shots), upToDate) << testing::PrintToString(times);
    }
}

// Stacks of 60, 50, 30 and 500 bytes in 100: the second waits for the first, the third fits
// beside the second, the fourth, too large for any budget, waits until it runs alone.
TEST(StackQueue, AStackWaitsUntilTheMemoryItNeedsIsFree)
{
    StackQueue queue({60, 50, 30, 500}, 100);
    EXPECT_EQ(queue.Take({}), 0u);
    std::atomic<int> taken = -1;
    const auto takeLater = [&] { return std::jthread([&] { taken = static_cast<int>(queue.Take({}).value_or(99)); }); };
    {
        std::jthread second = takeLater();
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(taken, -1) << "60 + 50 > 100";
        queue.Done(0);
    }
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(queue.Take({}), 2u);
    {
        std::jthread fourth = takeLater();
        queue.Done(1);
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(taken, 1) << "500 beside 30";
        queue.Done(2);
    }
    EXPECT_EQ(taken, 3);
    EXPECT_EQ(queue.Take({}), std::nullopt);

    StackQueue stopped({60, 50}, 100);
    stopped.Take({});
    std::stop_source stop;
    std::jthread waiting([&] { taken = static_cast<int>(stopped.Take(stop.get_token()).value_or(99)); });
    stop.request_stop();
    waiting.join();
    EXPECT_EQ(taken, 99);
}
