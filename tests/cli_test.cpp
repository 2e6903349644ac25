// End-to-end tests of edgedom-cli: whole runs on the real picture triples, checked by the
// properties their maps must have, and every way a command can go wrong, checked by its
// exit status, its message and the files it leaves behind.
#include "picture.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;

namespace {

struct CliRun {
    int status = -1; // the exit status; -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path &file, const std::string &text) { std::ofstream(file, std::ios::binary) << text; }

std::set<std::string> Listing(const fs::path &folder)
{
    std::set<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        names.insert(fs::relative(entry.path(), folder).string());
    return names;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TBitmap Load(const fs::path &file)
{
    TPicture picture;
    picture.LoadFromFile(file.string());
    return picture.Bitmap();
}

// A pf24bit picture file of the given size with a seeded pattern of grey levels.
void WritePicture(const fs::path &file, int width, int height, unsigned seed)
{
    Table rows(static_cast<std::size_t>(height), std::vector<int>(static_cast<std::size_t>(width)));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rows[y][x] = static_cast<int>((x * 37u + y * 91u + seed * 53u + x * y * seed) % 256u);
    TPicture picture;
    picture.Assign(GreyPixels24(rows));
    picture.SaveToFile(file.string());
}

// Each test gets a scratch folder: the tool's standard output and error are kept at its
// top, the files a command writes go to out/.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "edgedom-cli-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
        scratch_ = pattern;
        fs::create_directory(Out());
    }

    void TearDown() override
    {
        std::error_code error;
        fs::remove_all(scratch_, error);
    }

    fs::path Out() const { return scratch_ / "out"; }

    CliRun Run(const std::vector<std::string> &arguments) const
    {
        const fs::path out = scratch_ / "stdout.txt", err = scratch_ / "stderr.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> words{EDGEDOM_CLI};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char *> argv;
        for (std::string &word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);

        CliRun run;
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, EDGEDOM_CLI, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            run.err = std::string("cannot start " EDGEDOM_CLI ": ") + std::strerror(spawned);
            return run;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = ReadFile(out);
        run.err = ReadFile(err);
        return run;
    }

    // Three fitting 8 x 6 pictures in the scratch folder; their paths.
    std::vector<std::string> SmallTriple() const
    {
        std::vector<std::string> files;
        for (unsigned i = 1; i <= 3; ++i) {
            files.push_back((scratch_ / ("small" + std::to_string(i) + ".png")).string());
            WritePicture(files.back(), 8, 6, i);
        }
        return files;
    }

    fs::path scratch_;
};

// A failure is reported on exactly one line that starts with the tool's name.
void ExpectOneLineFailure(const CliRun &run, const std::string &mustMention)
{
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err.rfind("edgedom-cli: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(mustMention), std::string::npos) << run.err << " does not name " << mustMention;
}

// ---- Whole runs on real pictures ----------------------------------------------------

// Checks the maps a run wrote against each other: the dominance map holds classes, the
// region map holds only 0 or its class's grey, each class with pixels keeps at least its
// largest region, and the messages count the pixels of classes 1..k.
void ExpectConsistentMaps(const fs::path &out, const std::vector<std::string> &messages, int width, int height)
{
    for (int i = 1; i <= 3; ++i) {
        const TBitmap edges = Load(out / "edges" / ("edge" + std::to_string(i) + ".png"));
        EXPECT_EQ(edges.PixelFormat(), pf8bit) << "edge map " << i;
        EXPECT_EQ(edges.Width(), width);
        EXPECT_EQ(edges.Height(), height);
    }
    const TBitmap dominance = Load(out / "dominance.png");
    const TBitmap regions = Load(out / "regions.png");
    ASSERT_EQ(dominance.Width(), width);
    ASSERT_EQ(dominance.Height(), height);
    ASSERT_EQ(regions.Width(), width);
    ASSERT_EQ(regions.Height(), height);
    ASSERT_EQ(dominance.PixelFormat(), pf24bit);
    ASSERT_EQ(regions.PixelFormat(), pf24bit);
    EXPECT_TRUE(AllBytesEqual(dominance));
    EXPECT_TRUE(AllBytesEqual(regions));

    long long classPixels[4] = {0, 0, 0, 0}, paintedPixels[4] = {0, 0, 0, 0};
    long long misfits = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *classes = dominance.ScanLine(y), *painted = regions.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const int k = classes[3 * x], grey = painted[3 * x];
            ASSERT_LE(k, 3) << "dominance class at x=" << x << " y=" << y;
            ++classPixels[k];
            if (grey != 0 && grey != 50 * k)
                ++misfits;
            else if (grey != 0)
                ++paintedPixels[k];
        }
    }
    EXPECT_EQ(misfits, 0) << "region-map pixels that are neither 0 nor 50 x their class";

    ASSERT_EQ(messages.size(), 3u);
    long long counted = 0, previous = 0;
    for (int k = 1; k <= 3; ++k) {
        counted += classPixels[k];
        EXPECT_EQ(messages[k - 1], "We get max =" + std::to_string(counted));
        const long long n = std::stoll(messages[k - 1].substr(messages[k - 1].find('=') + 1));
        EXPECT_GE(n, previous);
        previous = n;
        EXPECT_EQ(paintedPixels[k] > 0, classPixels[k] > 0) << "class " << k << " lost its largest region";
    }
    EXPECT_LE(previous, static_cast<long long>(width) * height);
}

TEST_F(CliTest, RealTriplesGiveConsistentMapsAndTheRegionStepRepeatsFromTheSavedDominanceMap)
{
    const char *testdata = std::getenv("EDGEDOM_TESTDATA");
    const fs::path triples = testdata != nullptr ? fs::path(testdata) / "triples" : fs::path();
    if (triples.empty() || !fs::is_directory(triples))
        GTEST_SKIP() << "no real pictures: set EDGEDOM_TESTDATA to a folder with triples/*/{1,2,3}.png";

    int checked = 0;
    for (const auto &entry : fs::directory_iterator(triples)) {
        const fs::path folder = entry.path();
        if (!fs::is_regular_file(folder / "1.png"))
            continue;
        SCOPED_TRACE(folder.filename().string());
        const fs::path out = Out() / folder.filename();
        fs::create_directory(out);
        const CliRun run = Run({"--dominance", (out / "dominance.png").string(), "--regions",
                                (out / "regions.png").string(), "--edge-maps", (out / "edges").string(),
                                (folder / "1.png").string(), (folder / "2.png").string(),
                                (folder / "3.png").string()});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const TBitmap first = Load(folder / "1.png");
        ExpectConsistentMaps(out, Lines(run.out), first.Width(), first.Height());

        const CliRun again = Run({"--from-dominance", (out / "dominance.png").string(), "--regions",
                                  (out / "again.png").string()});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(again.out, run.out);
        EXPECT_EQ(ReadFile(out / "again.png"), ReadFile(out / "regions.png"));
        ++checked;
    }
    EXPECT_GT(checked, 0) << "no triple in " << triples;
}

// ---- Command lines of the wrong shape -----------------------------------------------

TEST_F(CliTest, HelpAndVersionPrintToStandardOutput)
{
    const CliRun help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: edgedom-cli"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");

    const CliRun version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("edgedom-cli ", 0), 0u) << version.out;
    EXPECT_EQ(Lines(version.out).size(), 1u) << version.out;
    EXPECT_EQ(version.err, "");
}

TEST_F(CliTest, BadUsagePrintsTheUsageAndExitsWith2)
{
    const std::vector<std::vector<std::string>> commands = {
        {},
        {"a.png"},
        {"a.png", "b.png"},
        {"a.png", "b.png", "c.png", "d.png"},
        {"--bogus", "a.png", "b.png", "c.png"},
        {"a.png", "b.png", "c.png", "--regions"},
        {"--dominance", "--regions", "r.png", "a.png", "b.png", "c.png"},
        {"--dominance=", "a.png", "b.png", "c.png"},
        {"--regions", "r1.png", "--regions", "r2.png", "a.png", "b.png", "c.png"},
        {"--from-dominance"},
        {"--from-dominance", "d.png", "a.png"},
        {"--from-dominance", "d.png", "--dominance", "e.png"},
        {"--from-dominance", "d.png", "--edge-maps", "dir"},
    };
    for (const auto &command : commands) {
        std::string shown;
        for (const std::string &word : command)
            shown += " " + word;
        SCOPED_TRACE("edgedom-cli" + shown);
        const CliRun run = Run(command);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("Usage: edgedom-cli"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(Listing(Out()), std::set<std::string>{});
}

// ---- Failures while working -----------------------------------------------------------

TEST_F(CliTest, PicturesThatCannotBeUsedAreNamedAndNothingIsWritten)
{
    const std::vector<std::string> good = SmallTriple();
    const std::string missing = (scratch_ / "missing.png").string();
    const std::string notAPicture = (scratch_ / "notes.png").string();
    WriteFile(notAPicture, "These are notes, not a picture.\n");
    const std::string smaller = (scratch_ / "smaller.png").string();
    WritePicture(smaller, 4, 3, 7);

    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{good[0], good[1], missing}, missing},
        {{good[0], notAPicture, good[2]}, notAPicture},
        {{good[0], smaller, good[2]}, smaller},
    };
    for (const auto &[pictures, culprit] : cases) {
        SCOPED_TRACE(culprit);
        std::vector<std::string> command = {"--dominance", (Out() / "dominance.png").string(), "--regions",
                                            (Out() / "regions.png").string(), "--edge-maps",
                                            (Out() / "edges").string()};
        command.insert(command.end(), pictures.begin(), pictures.end());
        ExpectOneLineFailure(Run(command), culprit);
        EXPECT_EQ(Listing(Out()), std::set<std::string>{});
    }
    ExpectOneLineFailure(Run({"--from-dominance", missing, "--regions", (Out() / "regions.png").string()}), missing);
    EXPECT_EQ(Listing(Out()), std::set<std::string>{});
}

// A save that fails takes back the outputs saved before it: the new edge maps folder goes
// and an earlier dominance map is left as it was.
TEST_F(CliTest, FailedSaveLeavesEveryOutputAsItWas)
{
    const std::vector<std::string> pictures = SmallTriple();
    WriteFile(Out() / "dominance.png", "an earlier dominance map");
    for (const fs::path &regions : {Out() / "missing" / "regions.png", Out() / "regions.jpg"}) {
        SCOPED_TRACE(regions.string());
        ExpectOneLineFailure(Run({"--edge-maps", (Out() / "edges").string(), "--dominance",
                                  (Out() / "dominance.png").string(), "--regions", regions.string(), pictures[0],
                                  pictures[1], pictures[2]}),
                             regions.string());
        EXPECT_EQ(Listing(Out()), std::set<std::string>{"dominance.png"});
        EXPECT_EQ(ReadFile(Out() / "dominance.png"), "an earlier dominance map");
    }
}

TEST_F(CliTest, TwoOutputsNamingOneFileAreRefused)
{
    const std::vector<std::string> pictures = SmallTriple();
    const std::string same = (Out() / "map.png").string();
    ExpectOneLineFailure(Run({"--dominance", same, "--regions", same, pictures[0], pictures[1], pictures[2]}), same);
    EXPECT_EQ(Listing(Out()), std::set<std::string>{});
}

TEST_F(CliTest, ExistingOutputsAreReplacedWithNothingLeftBeside)
{
    const std::vector<std::string> pictures = SmallTriple();
    WriteFile(Out() / "dominance.png", "an earlier dominance map");
    const CliRun run = Run({"--dominance", (Out() / "dominance.png").string(), "--regions",
                            (Out() / "regions.png").string(), pictures[0], pictures[1], pictures[2]});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Listing(Out()), (std::set<std::string>{"dominance.png", "regions.png"}));
    EXPECT_EQ(Load(Out() / "dominance.png").Width(), 8);
}

} // namespace
