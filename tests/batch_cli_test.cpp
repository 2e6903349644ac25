// edgedom-cli --batch as a user runs it: a stack that fails beside good ones, stacks skipped and
// made again, refusals before any work, a batch killed mid-run and run again, and the --list
// lines run by GNU parallel, whose outputs must be those of the batch. (How stacks are found,
// named and judged up to date is tested on the plan.)
#include "picture.h"
#include "picture_bytes.h"
#include "program_runs.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Each test gets a scratch folder: the tool's standard output and error at its top, the stacks
// in shots/, the batch's outputs in out/.
class Batch : public testing::Test {
protected:
    fs::path Shots() const { return scratch_ / "shots"; }
    fs::path Out() const { return scratch_ / "out"; }

    Words Command(const Words &arguments) const { return Concat({EDGEDOM_CLI}, arguments); }

    CliRun Run(const Words &arguments, const Limits &limits = {}) const
    {
        return RunProgram(Command(arguments), limits, scratch_ / "stdout.txt", scratch_ / "stderr.txt");
    }

    // Writes shots/stack/1.png to N.png, grey patterns of width x height of seeds seed, seed + 1, ...
    void Stack(const std::string &stack, int count, int width = 40, int height = 30, unsigned seed = 1) const
    {
        fs::create_directories(Shots() / stack);
        for (int i = 0; i < count; ++i)
            WriteFile(Shots() / stack / (std::to_string(i + 1) + ".png"),
                      GreyPng(PatternTable(width, height, seed + static_cast<unsigned>(i))));
    }

    ScratchFolder scratch_;
};

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

bool Says(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

} // namespace

// A damaged shot and a smaller one fail their stacks, too few pictures skip theirs, and the
// good stacks are fused all the same; run again, the fused ones are up to date, unless a shot
// changed or --force is given.
TEST_F(Batch, AFailedStackIsReportedAndTheOthersAreFused)
{
    Stack("good1", 2);
    Stack("good2", 3);
    Stack("damaged", 2);
    const std::string png = ReadFile(Shots() / "damaged" / "2.png");
    WriteFile(Shots() / "damaged" / "2.png", png.substr(0, 30) + "X" + png.substr(31));
    Stack("smaller", 1);
    WriteFile(Shots() / "smaller" / "2.png", GreyPng(PatternTable(30, 30, 2)));
    Stack("one", 1);
    fs::create_directories(Shots() / "empty");
    const CliRun first = Run({"--batch", Out().string(), Shots().string()});
    EXPECT_EQ(first.status, 1);
    const std::vector<std::string> expected = {
        "edgedom-cli: skipped empty (" + (Shots() / "empty").string() + "): it holds no pictures.",
        "edgedom-cli: skipped one (" + (Shots() / "one").string() + "): it holds one picture, and a stack needs two "
        "or more.",
        "edgedom-cli: failed damaged (" + (Shots() / "damaged").string() + "): Cannot load "
            + (Shots() / "damaged" / "2.png").string() + ": ",
        "edgedom-cli: failed smaller (" + (Shots() / "smaller").string() + "): Cannot compare "
            + (Shots() / "smaller" / "2.png").string() + " with " + (Shots() / "smaller" / "1.png").string(),
        "edgedom-cli: 2 fused, 2 skipped (0 up to date), 2 failed.",
    };
    const std::vector<std::string> lines = Lines(first.err);
    ASSERT_EQ(lines.size(), expected.size()) << first.err;
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].substr(0, expected[i].size()), expected[i]);
    EXPECT_EQ(Listing(Out()), (std::set<std::string>{"good1.png", "good2.png"}));

    std::this_thread::sleep_for(10ms); // a shot changed after its output was written
    WriteFile(Shots() / "good1" / "2.png", GreyPng(PatternTable(40, 30, 9)));
    const std::vector<std::pair<Words, std::string>> again = {
        {{}, "1 fused, 3 skipped (1 up to date), 2 failed."},
        {{}, "0 fused, 4 skipped (2 up to date), 2 failed."},
        {{"--force"}, "2 fused, 2 skipped (0 up to date), 2 failed."},
    };
    for (const auto &[options, summary] : again) {
        const CliRun run = Run(Concat({"--batch", Out().string(), Shots().string()}, options));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(Lines(run.err).back(), "edgedom-cli: " + summary);
    }
}

// Each refused before a picture is read: nothing is written, the output folder is not made.
TEST_F(Batch, RefusedBeforeAnyWork)
{
    Stack("a/bee", 2);
    Stack("b/bee", 2);
    Stack("c/x", 2);
    Stack("c/x-source", 2);
    WriteFile(scratch_ / "file", "not a folder");
    fs::create_directories(scratch_ / "read-only");
    fs::permissions(scratch_ / "read-only", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read
                                                | fs::perms::others_exec);
    const std::string shots = Shots().string();
    const std::vector<std::tuple<Words, Limits, std::string>> cases = {
        {{"--batch", Out().string(), shots + "/a", shots + "/b"}, {},
         "Cannot fuse both bee (" + shots + "/a/bee) and bee (" + shots + "/b/bee) into " + Out().string() + "/bee.png"},
        {{"--batch", Out().string(), "--source-maps", shots + "/c"}, {}, "into " + Out().string() + "/x-source.png"},
        {{"--batch", (scratch_ / "read-only").string(), shots + "/a"}, {.asNobody = true}, "Permission denied"},
        {{"--batch", (scratch_ / "file").string(), shots + "/a"}, {}, "it is not a folder"},
        {{"--batch", shots + "/a/bee", shots + "/a/bee"}, {}, "it is the folder of the stacks"},
        {{"--batch", Out().string(), shots + "/missing"}, {}, "Cannot read the folder " + shots + "/missing"},
    };
    for (const auto &[arguments, limits, refusal] : cases) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const CliRun run = Run(arguments, limits);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_TRUE(Says(run.err, refusal)) << run.err;
        EXPECT_FALSE(fs::exists(Out()));
        EXPECT_TRUE(fs::is_empty(scratch_ / "read-only"));
    }
}

// Killed once its first stack is fused: SIGTERM takes back what was being written, SIGKILL can
// leave temporary files beside (planted here, as it seldom hits a save); either way no output is
// partial, and the same command run again skips the stacks done and fuses the rest, leaving
// nothing else.
TEST_F(Batch, ABatchKilledMidRunFinishesWhenRunAgain)
{
    constexpr int Stacks = 12;
    std::set<std::string> outputs;
    for (int k = 0; k < Stacks; ++k) {
        const std::string name = "s" + std::to_string(k + 1);
        Stack(name, 3, 2000, 1500, static_cast<unsigned>(k));
        outputs.insert(name + ".png");
    }
    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        fs::remove_all(Out());
        const Words batch = Command({"--batch", Out().string(), "-j", "1", Shots().string()});
        const pid_t pid = StartProgram(batch, {}, scratch_ / "stdout.txt", scratch_ / "stderr.txt");
        while (!fs::exists(Out() / "s1.png"))
            std::this_thread::sleep_for(2ms);
        kill(pid, signal);
        const CliRun killed = FinishProgram(pid, scratch_ / "stdout.txt", scratch_ / "stderr.txt");
        EXPECT_EQ(killed.signal, signal) << killed.err;
        std::size_t done = 0;
        for (const std::string &name : Listing(Out())) {
            if (outputs.count(name) == 0) {
                EXPECT_EQ(signal, SIGKILL) << name;
                EXPECT_TRUE(Says(name, ".png.edgedom-new-")) << name;
                continue;
            }
            ++done;
            TPicture fused;
            EXPECT_NO_THROW(fused.LoadFromFile((Out() / name).string())) << name;
        }
        ASSERT_LT(done, outputs.size()) << "the batch ended before it was killed";
        if (signal == SIGKILL) { // what it leaves when killed saving s12, or replacing it
            WriteFile(Out() / "s12.png.edgedom-new-99999.png", "half a picture");
            WriteFile(Out() / "s12.png.edgedom-old-99999", "an earlier picture");
        }
        const CliRun again = RunProgram(batch, {}, scratch_ / "stdout.txt", scratch_ / "stderr.txt");
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(again.err, "edgedom-cli: " + std::to_string(Stacks - done) + " fused, " + std::to_string(done)
                                 + " skipped (" + std::to_string(done) + " up to date), 0 failed.\n");
        EXPECT_EQ(Listing(Out()), outputs);
    }
}

// Folder names that need quoting in a shell; the lines run two at a time by GNU parallel write
// what the batch writes, byte for byte, and once the batch has run, nothing is left to list.
TEST_F(Batch, ListedCommandsRunByGnuParallelWriteWhatTheBatchWrites)
{
    if (!fs::exists("/usr/bin/parallel"))
        GTEST_SKIP() << "no GNU parallel (scripts/install-deps installs it)";
    Stack("bee 1", 3, 40, 30, 1);
    Stack("it's $HOME", 2, 40, 30, 4);
    Stack("-plain", 4, 40, 30, 6);
    const fs::path listed = scratch_ / "listed";
    const std::string list = "'" + std::string(EDGEDOM_CLI) + "' --batch '" + listed.string()
                             + "' --source-maps --format tif --list '" + Shots().string() + "' | parallel -j 2";
    const CliRun parallel = RunProgram({"/bin/sh", "-c", list}, {}, scratch_ / "stdout.txt", scratch_ / "stderr.txt");
    ASSERT_EQ(parallel.status, 0) << parallel.err;
    const CliRun batch = Run({"--batch", Out().string(), "--source-maps", "--format", "tif", Shots().string()});
    ASSERT_EQ(batch.status, 0) << batch.err;
    const std::set<std::string> written = {"bee 1.tif", "bee 1-source.png", "it's $HOME.tif", "it's $HOME-source.png",
                                           "-plain.tif", "-plain-source.png"};
    EXPECT_EQ(Listing(Out()), written);
    EXPECT_EQ(Listing(listed), written);
    for (const std::string &name : written)
        EXPECT_EQ(ReadFile(listed / name), ReadFile(Out() / name)) << name;
    const CliRun nothingLeft = Run({"--batch", Out().string(), "--source-maps", "--format", "tif", "--list",
                                    Shots().string()});
    EXPECT_EQ(std::tie(nothingLeft.status, nothingLeft.out, nothingLeft.err), std::tuple(0, "", ""));
}

// On a terminal, a line follows the stacks: which one, its shot and stage, and the time left.
TEST_F(Batch, ShowsItsProgressOnATerminal)
{
    if (!fs::exists("/usr/bin/script"))
        GTEST_SKIP() << "no script command to run the tool on a terminal";
    Stack("a", 2);
    Stack("b", 2);
    const std::string command = std::string(EDGEDOM_CLI) + " --batch " + Out().string() + " -j 1 " + Shots().string();
    const CliRun run = RunProgram({"/usr/bin/script", "-qec", command, "/dev/null"}, {}, scratch_ / "stdout.txt",
                                  scratch_ / "stderr.txt");
    EXPECT_TRUE(Says(run.out, "stack 2 of 2: b, shot 2 of 2, fusing; 0:0")) << run.out;
    EXPECT_TRUE(Says(run.out, " left")) << run.out;
}
