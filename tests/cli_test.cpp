// edgedom-cli as a user runs it: command lines of the wrong shape, a picture it cannot
// read, pictures of different sizes, outputs it cannot write, too little memory, and maps
// written over their own pictures. A failure must come out as exit status 1 and one line
// "edgedom-cli: ..." naming the file, with every output left as it was. (Which picture files
// are refused, and why, is tested on TPicture.)
#include "picture.h"
#include "picture_bytes.h"
#include "program_runs.h"
#include "retouch.h"
#include "scratch_files.h"
#include "tagged_pictures.h"
#include "stack_file.h"
#include "stack_fusion.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <tuple>
#include <vector>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool UnderAddressSanitizer = true; // it reserves terabytes of address space
#else
constexpr bool UnderAddressSanitizer = false;
#endif

// Each test gets a scratch folder: pictures and the tool's standard output and error at
// its top, the files a command writes in out/.
class Cli : public testing::Test {
protected:
    void SetUp() override { fs::create_directory(Out()); }

    fs::path Out() const { return scratch_ / "out"; }

    CliRun Run(const Words &arguments, const Limits &limits = {}) const
    {
        return RunProgram(Concat({EDGEDOM_CLI}, arguments), limits);
    }

    // Runs words[0] (a full path) with the arguments after it, within the limits.
    CliRun RunProgram(const Words &words, const Limits &limits = {}) const
    {
        return ::RunProgram(words, limits, scratch_ / "stdout.txt", scratch_ / "stderr.txt");
    }

    // A picture of PatternTable(width, height, seed).
    std::string Pattern(int width, int height, unsigned seed) const
    {
        const std::string name = "pattern" + std::to_string(seed) + "-" + std::to_string(width) + "x"
                                 + std::to_string(height) + ".png";
        return WriteFile(scratch_ / name, GreyPng(PatternTable(width, height, seed))).string();
    }

    Words Triple(int width, int height) const
    {
        return {Pattern(width, height, 1), Pattern(width, height, 2), Pattern(width, height, 3)};
    }

    ScratchFolder scratch_;
};

// A failure is reported on exactly one line that starts with the tool's name, names the
// file and says why.
void ExpectOneLineFailure(const CliRun &run, const std::string &culprit, const std::string &reason = {})
{
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err.rfind("edgedom-cli: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(culprit), std::string::npos) << run.err << " does not name " << culprit;
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err << " does not say " << reason;
}

Words MapOptions(const fs::path &out)
{
    return {"--edge-maps", (out / "edges").string(), "--dominance", (out / "dominance.png").string(), "--regions",
            (out / "regions.png").string()};
}

} // namespace

TEST_F(Cli, HelpAndVersionGoToStandardOutputAndBadUsageToStandardErrorWithStatus2)
{
    const CliRun help = Run({"--help"}), version = Run({"--version"});
    EXPECT_EQ(std::tie(help.status, help.err), std::tuple(0, ""));
    EXPECT_EQ(help.out.rfind("Usage: edgedom-cli", 0), 0u) << help.out;
    EXPECT_EQ(std::tie(version.status, version.err), std::tuple(0, ""));
    EXPECT_EQ(version.out.rfind("edgedom-cli ", 0), 0u) << version.out;
    const std::vector<Words> commands = {
        {}, {"a.png", "b.png"}, {"a.png", "b.png", "c.png", "d.png"}, {"--bogus", "a.png", "b.png", "c.png"},
        {"a.png", "b.png", "c.png", "--regions"}, {"--dominance", "--regions", "r.png", "a.png", "b.png", "c.png"},
        {"--dominance=", "a.png", "b.png", "c.png"}, {"--regions", "r.png", "--regions=s.png", "a.png", "b.png", "c.png"},
        {"--from-dominance"}, {"--from-dominance", "d.png", "a.png"}, {"--from-dominance", "d.png", "--dominance", "e.png"},
        {"--from-dominance", "d.png", "--edge-maps", "dir"}, {"--from-dominance", "d.png", "--align"},
        {"--fused", "f.png", "a.png"}, {"--regions", "r.png", "1", "2", "3", "4", "5", "6"},
        {"--jpeg-quality", "90", "a.png", "b.png", "c.png"}, {"--fused", "f.jpg", "--jpeg-quality", "101", "a", "b"},
        {"--fused", "f.jpg", "--jpeg-quality=9x", "a", "b"}, {"--align", "--align", "a", "b", "c"},
        {"--quiet=yes", "a", "b", "c"}, Concat({"--fused", "f.png"}, Words(256, "a.png")),
        {"--no-metadata", "--dominance", "d.png", "a.png", "b.png"},
        {"--stack", "s.edgedom", "--fused", "f.png", "a.png"}, {"--stack", "s.edgedom", "--from-dominance", "d.png"},
        {"--stack", "s.edgedom", "--align", "--fused", "f.png"}, {"--stack", "s.edgedom"},
        {"--batch", "out"}, {"--batch", "out", "--fused", "f.png", "dir"}, {"--batch", "out", "--edge-maps", "e", "dir"},
        {"--batch", "out", EDGEDOM_CLI}, {"--split-gap", "2", "--fused", "f.png", "a", "b"},
        {"--batch", "out", "-j0", "dir"}, {"--batch", "out", "--format", "gif", "dir"},
        {"--batch", "out", "--jpeg-quality", "90", "dir"}, {"--batch", "out", "--split-gap", "1s", "dir"},
    };
    for (const Words &command : commands) {
        SCOPED_TRACE(::testing::PrintToString(command));
        const CliRun run = Run(command);
        EXPECT_EQ(run.status, 2);
        // One line saying what is wrong, then where to read more: not the whole help.
        EXPECT_EQ(run.err.rfind("edgedom-cli: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
        EXPECT_TRUE(run.err.ends_with("\nTry 'edgedom-cli --help' for more information.\n")) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_TRUE(Listing(Out()).empty());
}

// A damaged PNG: libpng's own complaint must not reach the standard error beside the line.
TEST_F(Cli, UnreadablePictureIsReportedInOneLineAndNothingIsWritten)
{
    const std::string png = GreyPng(Table(6, std::vector<int>(8, 7)));
    const std::string damaged = WriteFile(scratch_ / "damaged.png", png.substr(0, 30) + "X" + png.substr(31)).string();
    const Words pictures = Triple(8, 6);
    for (const Words &command : {Concat(MapOptions(Out()), {pictures[0], damaged, pictures[2]}),
                                 Words{"--from-dominance", damaged, "--regions", (Out() / "regions.png").string()}}) {
        ExpectOneLineFailure(Run(command), "Cannot load " + damaged + ": ", "damaged");
        EXPECT_TRUE(Listing(Out()).empty());
    }
}

// The first picture sets the size. A later picture smaller in either direction is refused
// (the refusal names it: its place, then the reason); a larger one is compared on its top-left part, whose edge map here is that of the
// 8 x 6 picture, so the dominance map must be that of three 8 x 6 ones.
TEST_F(Cli, PicturesOfDifferentSizes)
{
    const fs::path dominance = Out() / "dominance.png";
    const std::vector<std::pair<std::array<int, 6>, std::string>> cases = { // width and height of each
        {{8, 6, 8, 6, 8, 6}, ""}, // the reference for the other runs that succeed
        {{8, 6, 10, 6, 8, 9}, ""},
        {{8, 6, 11, 7, 11, 7}, ""},
        {{8, 6, 7, 6, 8, 6}, "1 it is 7 x 6 pixels, smaller than the first picture (8 x 6 pixels)"},
        {{8, 6, 10, 6, 8, 5}, "2 it is 8 x 5 pixels, smaller than the first picture (8 x 6 pixels)"},
        {{11, 7, 8, 6, 11, 7}, "1 it is 8 x 6 pixels, smaller than the first picture (11 x 7 pixels)"},
    };
    CliRun reference;
    std::string referenceMap;
    for (const auto &[sizes, refusal] : cases) {
        const Words pictures = {Pattern(sizes[0], sizes[1], 1), Pattern(sizes[2], sizes[3], 2),
                                Pattern(sizes[4], sizes[5], 3)};
        SCOPED_TRACE(::testing::PrintToString(pictures));
        const CliRun run = Run(Concat({"--dominance", dominance.string()}, pictures));
        if (!refusal.empty()) {
            const std::string smaller = pictures[refusal[0] - '0'];
            ExpectOneLineFailure(run, "Cannot compare " + smaller + " with " + pictures[0] + ": ", refusal.substr(2));
            EXPECT_TRUE(Listing(Out()).empty());
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.err;
        if (referenceMap.empty())
            reference = run, referenceMap = ReadFile(dominance);
        EXPECT_EQ(run.out, reference.out);
        EXPECT_EQ(ReadFile(dominance), referenceMap);
        fs::remove(dominance);
    }
}

// Each place a map cannot be written to: the run fails naming it, the maps saved before are
// taken back (the edge maps' new folder included), an existing file keeps its bytes and
// nothing is left beside, no temporary file and no other map.
TEST_F(Cli, FailedSavesLeaveEveryOutputAsItWas)
{
    const Words pictures = Triple(300, 200);
    const fs::path readOnlyFolder = Out() / "read-only folder", writable = Out() / "writable";
    fs::create_directories(readOnlyFolder);
    fs::create_directories(writable);
    for (const fs::path &file : {readOnlyFolder / "regions.bmp", writable / "read-only.bmp", writable / "regions.bmp",
                                 writable / "dominance.png"})
        WriteFile(file, "an earlier map");
    fs::permissions(readOnlyFolder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read
                                        | fs::perms::others_exec);
    fs::permissions(writable, fs::perms::all);
    fs::permissions(writable / "read-only.bmp", fs::perms::owner_read | fs::perms::others_read);
    for (const char *file : {"regions.bmp", "dominance.png"})
        fs::permissions(writable / file, fs::perms::all);
    const std::vector<std::tuple<fs::path, Limits, std::string>> cases = {
        {writable / "missing" / "regions.png", {}, "could not be created"},
        {readOnlyFolder / "regions.bmp", {.asNobody = true}, "Permission denied"},
        {writable / "read-only.bmp", {.asNobody = true}, "read-only"},
        {writable / "regions.bmp", {.fileSize = 64 << 10}, "free space"}, // a full disk
    };
    for (const auto &[target, limits, reason] : cases) {
        SCOPED_TRACE(target.string());
        const std::set<std::string> before = Listing(Out());
        const CliRun run = Run(Concat({"--edge-maps", (writable / "edges").string(), "--dominance",
                                       (writable / "dominance.png").string(), "--regions", target.string()},
                                      pictures),
                               limits);
        ExpectOneLineFailure(run, target.string(), reason);
        EXPECT_EQ(Listing(Out()), before);
        EXPECT_EQ(ReadFile(writable / "dominance.png"), "an earlier map");
        if (fs::is_regular_file(target)) {
            EXPECT_EQ(ReadFile(target), "an earlier map");
        }
    }
    fs::permissions(readOnlyFolder, fs::perms::owner_all);
}

TEST_F(Cli, TwoOutputsNamingOneFileAreRefused)
{
    const std::string same = (Out() / "map.png").string();
    ExpectOneLineFailure(Run(Concat({"--dominance", same, "--regions", same}, Triple(8, 6))), same);
    EXPECT_TRUE(Listing(Out()).empty());
}

// A real full disk: a 64 KB tmpfs in a mount namespace of its own, where the earlier map
// fits and the new one does not.
TEST_F(Cli, FullDiskKeepsTheEarlierMap)
{
    const std::string script = R"(
        mount -t tmpfs -o size=64k edgedom "$1" || exit 77
        printf 'an earlier map' > "$1/regions.bmp"
        "$2" --regions "$1/regions.bmp" "$3" "$4" "$5" > /dev/null 2> "$1/../cli-stderr.txt"
        echo "status $?"; ls -A "$1"; cat "$1/regions.bmp")";
    const fs::path disk = Out() / "disk";
    fs::create_directory(disk);
    if (!fs::exists("/usr/bin/unshare"))
        GTEST_SKIP() << "no unshare to mount a small disk with";
    const CliRun run = RunProgram(Concat({"/usr/bin/unshare", "--mount", "/bin/sh", "-c", script, "sh",
                                          disk.string(), EDGEDOM_CLI},
                                         Triple(300, 200)));
    if (run.status != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (it needs root in a mount namespace): " << run.err;
    EXPECT_EQ(run.out, "status 1\nregions.bmp\nan earlier map");
    const std::string err = ReadFile(Out() / "cli-stderr.txt");
    EXPECT_EQ(err.rfind("edgedom-cli: Cannot save " + (disk / "regions.bmp").string(), 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// The largest pictures accepted, with too little memory to compare three of them: a PNG of
// 2^28 pixels, and a GIF of 41 bytes whose 16000 x 16000 screen Qt decodes. Running out of
// memory must be told from damage, wherever it happens.
TEST_F(Cli, TooLittleMemoryIsReportedInOneLine)
{
    if (UnderAddressSanitizer)
        GTEST_SKIP() << "an address space limit cannot be set under AddressSanitizer";
    const std::string blankRow(16384, '\0');
    const fs::path png = WriteFile(scratch_ / "blank.png", Png(16384, 16384, 0, 8, [&](std::uint32_t) { return blankRow; }));
    const fs::path gif = WriteFile(scratch_ / "screen.gif", "GIF89a" + LittleEndian(16000, 2) + LittleEndian(16000, 2)
                                                                + "\xF1\0\0\0\0\0\x55\x55\x55\xAA\xAA\xAA\xFF\xFF\xFF,"s
                                                                + LittleEndian(0, 4) + LittleEndian(1, 2)
                                                                + LittleEndian(1, 2) + "\0\x02\x02\x44\x01\0;"s);
    for (const fs::path &file : {png, gif})
        for (const rlim_t megabytes : {400, 1200}) {
            SCOPED_TRACE(file.filename().string() + " in " + std::to_string(megabytes) + " MB");
            const CliRun run = Run(Concat(MapOptions(Out()), {file.string(), file.string(), file.string()}),
                                   {.addressSpace = megabytes << 20});
            ExpectOneLineFailure(run, "", "memory");
            EXPECT_TRUE(Listing(Out()).empty());
        }
}

// Every picture is read before anything is written, so maps may replace their own pictures;
// the replaced files leave nothing behind.
TEST_F(Cli, MapsMayReplaceTheirOwnPictures)
{
    const Words pictures = Triple(30, 20);
    const CliRun elsewhere = Run(Concat(MapOptions(Out()), pictures));
    ASSERT_EQ(elsewhere.status, 0) << elsewhere.err;
    const CliRun inPlace = Run({"--dominance", pictures[0], "--regions", pictures[2], pictures[0], pictures[1], pictures[2]});
    ASSERT_EQ(inPlace.status, 0) << inPlace.err;
    EXPECT_EQ(ReadFile(pictures[0]), ReadFile(Out() / "dominance.png"));
    EXPECT_EQ(ReadFile(pictures[2]), ReadFile(Out() / "regions.png"));
    for (const std::string &name : Listing(scratch_.Path()))
        EXPECT_EQ(name.find("edgedom-old"), std::string::npos) << name;
}

// Stacks of any length: every output for N pictures, classes 1 to N, one message per class;
// a picture repeated comes back exactly as the fused picture, in 16 bits too; the progress line
// shows only on a terminal and not with --quiet.
TEST_F(Cli, FusesStacksOfAnyLength)
{
    const std::string picture = Pattern(40, 30, 7);
    for (const int count : {2, 5}) {
        SCOPED_TRACE(count);
        Words pictures = {picture};
        for (int i = 1; i < count; ++i)
            pictures.push_back(Pattern(40, 30, static_cast<unsigned>(i)));
        const fs::path out = Out() / std::to_string(count);
        const CliRun run = Run(Concat({"--fused", (out / "fused.png").string(), "--edge-maps", out.string(),
                                       "--dominance", (out / "dominance.png").string(), "--regions",
                                       (out / "regions.png").string(), "--source-map", (out / "sources.png").string()},
                                      pictures));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), count) << run.out;
        EXPECT_EQ(Listing(out).size(), static_cast<std::size_t>(count + 4));
        for (const char *map : {"dominance.png", "sources.png"}) { // classes 1 to N, shot numbers 1 to N
            TPicture numbers;
            numbers.LoadFromFile((out / map).string());
            const std::vector<std::uint8_t> values = Bytes(numbers.Bitmap());
            EXPECT_LE(*std::max_element(values.begin(), values.end()), count) << map;
        }
    }
    TPicture sixteen;
    sixteen.Bitmap() = ChannelBitmap({PatternTable(40, 30, 1), PatternTable(40, 30, 2), PatternTable(40, 30, 3)});
    sixteen.Bitmap().SetPixelFormat(pf48bit);
    sixteen.SaveToFile((scratch_ / "sixteen.png").string());
    for (const auto &[input, fused] : {std::pair{picture, Out() / "same.png"},
                                       std::pair{(scratch_ / "sixteen.png").string(), Out() / "same.tif"}}) {
        ASSERT_EQ(Run({"--fused", fused.string(), input, input, input}).status, 0);
        TPicture original, result;
        original.LoadFromFile(input, PictureDepth::KeepSixteenBits);
        result.LoadFromFile(fused.string(), PictureDepth::KeepSixteenBits);
        EXPECT_EQ(result.Bitmap().PixelFormat(), original.Bitmap().PixelFormat());
        EXPECT_EQ(Bytes(result.Bitmap()), Bytes(original.Bitmap()));
    }
    if (!fs::exists("/usr/bin/script"))
        GTEST_SKIP() << "no script command to run the tool on a terminal";
    for (const std::string quiet : {"", "--quiet "}) {
        const std::string command = std::string(EDGEDOM_CLI) + " " + quiet + "--fused " + (Out() / "t.png").string()
                                    + " " + picture + " " + picture + " " + picture;
        const CliRun run = RunProgram({"/usr/bin/script", "-qec", command, "/dev/null"});
        EXPECT_EQ(run.out.find("fusing 3 of 3: " + fs::path(picture).filename().string()) != std::string::npos,
                  quiet.empty())
            << run.out;
    }
}

// With --align, a picture of another scene is refused naming it, and nothing is written; a
// stack that did not move gives the same outputs as without alignment.
TEST_F(Cli, AlignsOntoTheFirstPictureOrRefuses)
{
    const Words pictures = {Pattern(160, 120, 1), Pattern(160, 120, 1), Pattern(160, 120, 1)};
    const Words still = Concat({"--fused", (Out() / "still.png").string(), "--dominance",
                                (Out() / "still-dominance.png").string()},
                               pictures);
    ASSERT_EQ(Run(still).status, 0);
    const CliRun aligned = Run({"--align", "--fused", (Out() / "aligned.png").string(), "--dominance",
                                (Out() / "aligned-dominance.png").string(), pictures[0], pictures[1], pictures[2]});
    ASSERT_EQ(aligned.status, 0) << aligned.err;
    EXPECT_EQ(ReadFile(Out() / "aligned.png"), ReadFile(Out() / "still.png"));
    EXPECT_EQ(ReadFile(Out() / "aligned-dominance.png"), ReadFile(Out() / "still-dominance.png"));
    const std::set<std::string> before = Listing(Out());
    const std::string other = Pattern(160, 120, 9);
    const CliRun refused = Run({"--align", "--fused", (Out() / "refused.png").string(), pictures[0], other});
    ExpectOneLineFailure(refused, "Cannot align " + other + " with " + pictures[0] + ": ");
    EXPECT_EQ(Listing(Out()), before);
}

// The fused picture carries the first picture's metadata, none with --no-metadata; damaged
// metadata is left out with one warning line, and the fusion goes on.
TEST_F(Cli, FusedPictureCarriesTheFirstPicturesMetadata)
{
    const std::string tagged = (scratch_ / "tagged.jpg").string(), damaged = (scratch_ / "damaged.jpg").string();
    TPicture shot;
    shot.Assign(ChannelBitmap({PatternTable(40, 30, 1), PatternTable(40, 30, 2), PatternTable(40, 30, 3)}));
    shot.SaveToFile(tagged, PictureSaveOptions{});
    WriteTags(tagged, ShotTags());
    std::string bytes = ReadFile(tagged);
    bytes.replace(bytes.find("Exif\0\0"s) + 6, 4, "XXXX"); // no TIFF header: a corrupt EXIF block
    WriteFile(damaged, bytes);
    const std::vector<std::tuple<std::string, Words, std::string>> cases = { // first picture, options, warning
        {tagged, {}, ""},
        {tagged, {"--no-metadata"}, ""},
        {damaged, {}, "edgedom-cli: warning: The metadata of " + damaged + " is damaged ("},
    };
    for (const auto &[first, options, warning] : cases) {
        SCOPED_TRACE(first + " " + testing::PrintToString(options));
        const fs::path fused = Out() / "fused.jpg";
        const CliRun run = Run(Concat(Concat({"--fused", fused.string()}, options), {first, first}));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err.substr(0, warning.size()), warning);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), warning.empty() ? 0 : 1) << run.err;
        const bool carried = first == tagged && options.empty();
        EXPECT_EQ(ReadTags(fused.string())["Exif.Image.Model"], carried ? "Canon EOS 5D Mark IV" : "");
        EXPECT_EQ(ReadTags(fused.string()).empty(), !carried);
    }
}

// A stack file renders as its shots fused with its alignment and its strokes applied; a stack
// file that cannot be used, or too many shots for --regions, fails in one line, writing nothing.
TEST_F(Cli, RendersAStackFileAsItsFusionWithItsStrokes)
{
    const Words shots = {WriteFile(scratch_ / "1.png", GreyPng(Texture(3))).string(),
                         WriteFile(scratch_ / "2.png", GreyPng(Texture(3, 4, -3, 30))).string(),
                         WriteFile(scratch_ / "3.png", GreyPng(Texture(3, -2, 5, 60))).string()};
    const StackFile stack{shots, true, {{2, 10, {{20, 20}, {60, 30}}}, {1, 30, {{-10, 75}}}, {0, 6, {{50, 35}}}}};
    const std::string file = (scratch_ / "retouched.edgedom").string();
    WriteStackFile(file, stack);
    const fs::path fused = Out() / "fused.png", sources = Out() / "sources.png";
    const CliRun run = Run({"--stack", file, "--fused", fused.string(), "--source-map", sources.string()});
    ASSERT_EQ(run.status, 0) << run.err;

    StackObserver unseen;
    StackResult expected = FuseStack(shots, {.align = true, .sourceMap = true}, unseen);
    ApplyRetouch(expected, stack.retouch);
    TPicture picture, map;
    picture.LoadFromFile(fused.string());
    map.LoadFromFile(sources.string());
    EXPECT_EQ(Bytes(picture.Bitmap()), Bytes(expected.fused.Bitmap()));
    EXPECT_EQ(Bytes(map.Bitmap()), Bytes(expected.sourceMap));

    const std::set<std::string> before = Listing(Out());
    const std::string missing = WriteFile(scratch_ / "missing.edgedom",
                                          R"({"edgedom-stack": 1, "shots": ["1.png", "4.png"]})").string();
    ExpectOneLineFailure(Run({"--stack", missing, "--fused", (Out() / "f.png").string()}), missing, "is missing");
    WriteStackFile(file, {Words(6, shots[0]), false, {}});
    ExpectOneLineFailure(Run({"--stack", file, "--regions", (Out() / "r.png").string()}), file, "at most 5 apart");
    EXPECT_EQ(Listing(Out()), before);
}
