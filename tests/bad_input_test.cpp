// Whatever a user throws at edgedom-cli: broken, lying, odd and oversized picture files,
// pictures of different sizes in every order, outputs that cannot be written, too little
// memory. A failure must come out as exit status 1 and one line "edgedom-cli: ..." naming
// the file, with every output left as it was; an odd but valid picture must be read as what
// it shows. The picture files come from bad_picture_files.h, written byte by byte.
#include "bad_picture_files.h"
#include "dominance.h"
#include "edge_strength.h"
#include "picture.h"
#include "region_map.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;
using namespace bad_files;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool UnderAddressSanitizer = true; // it reserves terabytes of address space
#else
constexpr bool UnderAddressSanitizer = false;
#endif

constexpr uid_t Nobody = 65534;

// ---- Running the tool -------------------------------------------------------------------

struct TLimits {
    rlim_t addressSpace = RLIM_INFINITY;
    rlim_t fileSize = RLIM_INFINITY;
    bool asNobody = false; // root ignores permissions: run as nobody to see them
};

struct TRun {
    int status = -1; // the exit status; -1 when the tool did not exit normally
    std::string out, err;
    long peakKilobytes = 0;
};

std::string ReadFile(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path &file, const std::string &bytes) { std::ofstream(file, std::ios::binary) << bytes; }

std::set<std::string> Listing(const fs::path &folder)
{
    std::set<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        names.insert(fs::relative(entry.path(), folder).string());
    return names;
}

TBitmap Load(const fs::path &file)
{
    TPicture picture;
    picture.LoadFromFile(file.string());
    return picture.Bitmap();
}

// Each test gets a scratch folder that user nobody may read: the tool's standard output and
// error are kept at its top, the files a command writes go to out/.
class BadInput : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "edgedom-bad-input-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
        scratch_ = pattern;
        fs::permissions(scratch_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                      | fs::perms::others_read | fs::perms::others_exec);
        fs::create_directory(Out());
    }

    void TearDown() override
    {
        std::error_code error;
        fs::remove_all(scratch_, error);
    }

    fs::path Out() const { return scratch_ / "out"; }

    fs::path Write(const std::string &name, const std::string &bytes) const
    {
        WriteFile(scratch_ / name, bytes);
        return scratch_ / name;
    }

    TRun Run(const std::vector<std::string> &arguments, const TLimits &limits = {}) const
    {
        std::vector<std::string> words{EDGEDOM_CLI};
        words.insert(words.end(), arguments.begin(), arguments.end());
        return RunProgram(words, limits);
    }

    // Runs words[0] (a full path) with the arguments after it, within the limits.
    TRun RunProgram(std::vector<std::string> words, const TLimits &limits = {}) const
    {
        std::vector<char *> argv;
        for (std::string &word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        const std::string out = (scratch_ / "stdout.txt").string(), err = (scratch_ / "stderr.txt").string();
        const bool becomeNobody = limits.asNobody && getuid() == 0;

        const pid_t pid = fork();
        if (pid == 0) { // only async-signal-safe calls from here to exec
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            signal(SIGXFSZ, SIG_IGN); // a write past the file size limit fails instead
            const rlimit fileSize{limits.fileSize, limits.fileSize}, space{limits.addressSpace, limits.addressSpace};
            setrlimit(RLIMIT_FSIZE, &fileSize);
            setrlimit(RLIMIT_AS, &space);
            if (becomeNobody && (setgroups(0, nullptr) != 0 || setgid(Nobody) != 0 || setuid(Nobody) != 0))
                _exit(126);
            execv(argv[0], argv.data());
            _exit(127);
        }
        TRun run;
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.peakKilobytes = usage.ru_maxrss;
        run.out = ReadFile(out);
        run.err = ReadFile(err);
        return run;
    }

    // A picture of the given size whose grey level at (x, y) depends only on seed and
    // (min(x, 7), min(y, 5)): past an 8 x 6 top-left part it repeats its last column and
    // row, so that part's edge map is the same in every larger picture.
    fs::path Pattern(int width, int height, unsigned seed) const
    {
        Table rows(static_cast<std::size_t>(height), std::vector<int>(static_cast<std::size_t>(width)));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const unsigned u = static_cast<unsigned>(std::min(x, 7)), v = static_cast<unsigned>(std::min(y, 5));
                rows[y][x] = static_cast<int>((u * 37 + v * 91 + seed * 53 + u * v * seed) % 256);
            }
        return Write("pattern" + std::to_string(seed) + "-" + std::to_string(width) + "x" + std::to_string(height)
                         + ".png",
                     GreyPng(rows));
    }

    fs::path scratch_;
};

// A failure is reported on exactly one line that starts with the tool's name and names the file.
void ExpectOneLineFailure(const TRun &run, const std::string &culprit, const std::string &reason = {})
{
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err.rfind("edgedom-cli: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(culprit), std::string::npos) << run.err << "does not name " << culprit;
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err << "does not say " << reason;
}

std::vector<std::string> MapOptions(const fs::path &out)
{
    return {"--edge-maps", (out / "edges").string(), "--dominance", (out / "dominance.png").string(), "--regions",
            (out / "regions.png").string()};
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

// ---- Picture files that cannot be used ---------------------------------------------------

TEST_F(BadInput, UnusablePictureFilesAreNamedInOneLineAndNothingIsWritten)
{
    int slot = 0;
    for (const TUnusable &bad : UnusablePictures()) {
        SCOPED_TRACE(bad.name);
        const std::string file = Make(scratch_, bad).string();
        std::vector<std::string> pictures = {Pattern(8, 6, 1), Pattern(8, 6, 2), Pattern(8, 6, 3)};
        pictures[static_cast<std::size_t>(slot++ % 3)] = file; // each place in turn
        ExpectOneLineFailure(Run(Concat(MapOptions(Out()), pictures)), file, bad.reason);
        ExpectOneLineFailure(Run({"--from-dominance", file, "--regions", (Out() / "regions.png").string()}), file,
                             bad.reason);
        EXPECT_EQ(Listing(Out()), std::set<std::string>{});
    }
}

// A header that announces more than MaxPixels is refused from the header alone: the tool
// stays small, whatever format lies.
TEST_F(BadInput, PictureAnnouncingAGigapixelIsRefusedBeforeAnyAllocation)
{
    // Each run is also kept under 2 GB of address space, so that a regression cannot take
    // the 3.6 GB these headers ask for: its allocation fails and the message says otherwise.
    for (const TUnusable &huge : HugeHeaderPictures()) {
        SCOPED_TRACE(huge.name);
        const std::string file = Make(scratch_, huge).string();
        const TRun run = Run(Concat(MapOptions(Out()), {file, file, file}),
                             {.addressSpace = UnderAddressSanitizer ? RLIM_INFINITY : rlim_t{2} << 30});
        ExpectOneLineFailure(run, file, huge.reason);
        EXPECT_LT(run.peakKilobytes, 200 * 1024);
        EXPECT_EQ(Listing(Out()), std::set<std::string>{});
    }
    // 89 bytes of MNG whose IHDR announces 16777216 x 47 pixels: Qt's MNG reader tells no
    // size before decoding, and decoding took 10 s and 3 GB before it failed. (Found by the
    // fuzzer.) The limit lets that through, so that the peak shows what it takes.
    const std::string mng =
        Write("huge.mng", "\x8AMNG\r\n\x1A\n\0\0\0\x0DIHDR\x01\0\0\0\0\0\0\x2F\x08\x04\0\0\0\xFC\x21\x7D\x34\0\0\0"
                          "\x1EIDD\0AT\x78\x9C\x63\xF0\xFD\x75\x5D\x44\x7D\x01\xC3\xBA\xCD\xFF\x5E\x2A\xEB\x31"
                          "\x74\x7D\x52\x94\x9F\xF7\x04\0\0\0\0\0\0\0\0\xD9\0\0\0\0IEND\xAE\x42\x60\x82"s)
            .string();
    const TRun run = Run({"--from-dominance", mng},
                         {.addressSpace = UnderAddressSanitizer ? RLIM_INFINITY : rlim_t{4} << 30});
    ExpectOneLineFailure(run, mng);
    EXPECT_LT(run.peakKilobytes, 200 * 1024);
}

// The largest pictures accepted, with too little memory to compare three of them: a PNG of
// 2^28 pixels, and a GIF of 41 bytes whose 16000 x 16000 screen Qt decodes (its reader
// announces only the 1 x 1 frame on it).
TEST_F(BadInput, TooLittleMemoryIsReportedInOneLine)
{
    if (UnderAddressSanitizer)
        GTEST_SKIP() << "an address space limit cannot be set under AddressSanitizer";
    const std::string blankRow(16384, '\0');
    const fs::path png = Write("blank.png", Png(16384, 16384, 0, 8, [&](std::uint32_t) { return blankRow; }));
    const fs::path gif = Write("screen.gif", "GIF89a" + LittleEndian(16000, 2) + LittleEndian(16000, 2)
                                                 + "\xF1\0\0\0\0\0\x55\x55\x55\xAA\xAA\xAA\xFF\xFF\xFF,"s
                                                 + LittleEndian(0, 4) + LittleEndian(1, 2) + LittleEndian(1, 2)
                                                 + "\0\x02\x02\x44\x01\0;"s);
    for (const fs::path &file : {png, gif})
        for (const rlim_t megabytes : {400, 1200}) {
            SCOPED_TRACE(file.filename().string() + " in " + std::to_string(megabytes) + " MB");
            const TRun run = Run(Concat(MapOptions(Out()), {file.string(), file.string(), file.string()}),
                                 {.addressSpace = megabytes << 20});
            ExpectOneLineFailure(run, "", "memory");
            EXPECT_EQ(Listing(Out()), std::set<std::string>{});
        }
}

// ---- Odd pictures that are fine ---------------------------------------------------------

TEST_F(BadInput, OddButValidPicturesAreReadAsTheyLook)
{
    for (const TOddPicture &odd : OddPictures()) {
        SCOPED_TRACE(odd.name);
        const fs::path file = Write(odd.name, odd.bytes);
        TBitmap loaded = Load(file);
        loaded.SetPixelFormat(pf8bit);
        const Table got = TableOf(loaded);
        ASSERT_EQ(got.size(), odd.greys.size());
        for (std::size_t y = 0; y < got.size(); ++y)
            for (std::size_t x = 0; x < got[y].size(); ++x)
                EXPECT_NEAR(got[y][x], odd.greys[y][x], odd.tolerance) << "at x=" << x << " y=" << y;

        const fs::path out = Out() / ("out of " + odd.name);
        const TRun run = Run(Concat(MapOptions(out), {file.string(), file.string(), file.string()}));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(Listing(out), (std::set<std::string>{"edges", "edges/edge1.png", "edges/edge2.png",
                                                       "edges/edge3.png", "dominance.png", "regions.png"}));
        const std::string missing = (scratch_ / ("no " + odd.name)).string();
        ExpectOneLineFailure(Run({file.string(), file.string(), missing}), missing, "does not exist");
    }
}

// ---- Pictures of different sizes ----------------------------------------------------------

// The first picture sets the size. A second or third picture smaller in either direction is
// refused naming it; a larger one is compared on its top-left part, which here has the
// same edge map as the 8 x 6 picture, so the dominance map must be that of three 8 x 6 ones.
TEST_F(BadInput, PicturesOfDifferentSizesInEveryOrder)
{
    const TRun reference = Run({"--dominance", (scratch_ / "reference.png").string(), Pattern(8, 6, 1).string(),
                                Pattern(8, 6, 2).string(), Pattern(8, 6, 3).string()});
    ASSERT_EQ(reference.status, 0) << reference.err;
    const std::string referenceMap = ReadFile(scratch_ / "reference.png");

    const std::vector<std::pair<int, int>> sizes = {{8, 6}, {10, 6}, {8, 9}, {11, 7}, {7, 6}, {8, 5}, {7, 9}};
    for (const auto &[w2, h2] : sizes)
        for (const auto &[w3, h3] : sizes) {
            const std::string second = Pattern(w2, h2, 2).string(), third = Pattern(w3, h3, 3).string();
            SCOPED_TRACE(second + " and " + third);
            const fs::path dominance = Out() / "dominance.png";
            const TRun run = Run({"--dominance", dominance.string(), Pattern(8, 6, 1).string(), second, third});
            const bool secondFits = w2 >= 8 && h2 >= 6, thirdFits = w3 >= 8 && h3 >= 6;
            if (!secondFits || !thirdFits) {
                const auto [which, w, h] = secondFits ? std::tuple("third", w3, h3) : std::tuple("second", w2, h2);
                ExpectOneLineFailure(run, secondFits ? third : second,
                                     std::string(which) + " picture (" + std::to_string(w) + " x " + std::to_string(h)
                                         + " pixels) is smaller than the first (8 x 6 pixels)");
                EXPECT_EQ(Listing(Out()), std::set<std::string>{});
                continue;
            }
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.out, reference.out);
            EXPECT_EQ(ReadFile(dominance), referenceMap);
            fs::remove(dominance);
        }
    // A larger first picture: the second and third are the smaller ones.
    ExpectOneLineFailure(Run({Pattern(11, 7, 1).string(), Pattern(8, 6, 2).string(), Pattern(8, 6, 3).string()}),
                         Pattern(8, 6, 2).string(), "second picture (8 x 6 pixels) is smaller");
}

// ---- Outputs that cannot be written -------------------------------------------------------

// Each place a map cannot be written to: the run fails naming it, an existing file there
// keeps its bytes and nothing else is left behind, no temporary file and no other map.
TEST_F(BadInput, UnwritableOutputsFailCleanly)
{
    const std::vector<std::string> pictures = {Pattern(300, 200, 1).string(), Pattern(300, 200, 2).string(),
                                               Pattern(300, 200, 3).string()};
    const fs::path readOnlyFolder = Out() / "read-only folder", writable = Out() / "writable";
    fs::create_directories(readOnlyFolder);
    fs::create_directories(writable);
    WriteFile(readOnlyFolder / "regions.bmp", "an earlier map");
    WriteFile(writable / "read-only.bmp", "an earlier map");
    WriteFile(writable / "regions.bmp", "an earlier map");
    fs::permissions(readOnlyFolder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read
                                        | fs::perms::others_exec);
    fs::permissions(writable, fs::perms::all);
    fs::permissions(writable / "read-only.bmp", fs::perms::owner_read | fs::perms::others_read);
    fs::permissions(writable / "regions.bmp", fs::perms::all);

    struct TCase {
        fs::path target;
        TLimits limits;
        std::string reason;
    };
    const std::vector<TCase> cases = {
        {readOnlyFolder / "regions.bmp", {.asNobody = true}, "Permission denied"},
        {writable / "read-only.bmp", {.asNobody = true}, "read-only"},
        {"/dev/full", {}, "not a regular file"},
        {writable / "regions.bmp", {.fileSize = 64 << 10}, "free space"}, // a full disk
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.target.string());
        const std::set<std::string> before = Listing(Out());
        const TRun run = Run({"--dominance", (writable / "dominance.png").string(), "--regions", c.target.string(),
                              pictures[0], pictures[1], pictures[2]},
                             c.limits);
        ExpectOneLineFailure(run, c.target.string(), c.reason);
        EXPECT_EQ(Listing(Out()), before);
        if (c.target.parent_path() != "/dev") {
            EXPECT_TRUE(ReadFile(c.target) == "an earlier map") << "the earlier map was replaced";
        }
    }
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    fs::permissions(readOnlyFolder, fs::perms::owner_all);
}

// A map small enough to wait in a write buffer, on a full disk: the failed flush of the
// buffer must not pass for success. (The partial file once replaced the earlier map.)
TEST_F(BadInput, SmallMapOnAFullDiskKeepsTheEarlierMap)
{
    const fs::path regions = Out() / "regions.bmp"; // 7 KB; the limit leaves room for the message
    WriteFile(regions, "an earlier map");
    const TRun run = Run({"--regions", regions.string(), Pattern(60, 40, 1).string(), Pattern(60, 40, 2).string(),
                          Pattern(60, 40, 3).string()},
                         {.fileSize = 1024});
    ExpectOneLineFailure(run, regions.string(), "free space");
    EXPECT_EQ(ReadFile(regions), "an earlier map");
    EXPECT_EQ(Listing(Out()), std::set<std::string>{"regions.bmp"});
}

// A real full disk: a 64 KB tmpfs in a mount namespace of its own, where the earlier map
// fits and the new one does not.
TEST_F(BadInput, FullDiskKeepsTheEarlierMap)
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
    const TRun run = RunProgram({"/usr/bin/unshare", "--mount", "/bin/sh", "-c", script, "sh", disk.string(),
                                 EDGEDOM_CLI, Pattern(300, 200, 1).string(), Pattern(300, 200, 2).string(),
                                 Pattern(300, 200, 3).string()});
    if (run.status != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (it needs root in a mount namespace): " << run.err;
    EXPECT_EQ(run.out, "status 1\nregions.bmp\nan earlier map");
    const std::string err = ReadFile(Out() / "cli-stderr.txt");
    EXPECT_EQ(err.rfind("edgedom-cli: Cannot save " + (disk / "regions.bmp").string(), 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// Writing a map over one of the pictures works: every picture is read before anything is written.
TEST_F(BadInput, MapsMayReplaceTheirOwnPictures)
{
    const std::vector<std::string> pictures = {Pattern(30, 20, 1).string(), Pattern(30, 20, 2).string(),
                                               Pattern(30, 20, 3).string()};
    const TRun elsewhere = Run(Concat(MapOptions(Out()), pictures));
    ASSERT_EQ(elsewhere.status, 0) << elsewhere.err;
    const TRun inPlace = Run({"--dominance", pictures[0], "--regions", pictures[2], pictures[0], pictures[1],
                              pictures[2]});
    ASSERT_EQ(inPlace.status, 0) << inPlace.err;
    EXPECT_EQ(ReadFile(pictures[0]), ReadFile(Out() / "dominance.png"));
    EXPECT_EQ(ReadFile(pictures[2]), ReadFile(Out() / "regions.png"));
    EXPECT_EQ(Load(pictures[2]).Width(), 30);
}

// ---- Maps with no pixels ------------------------------------------------------------------

// Maps 0 pixels wide or high come from no picture file, but the steps take any bitmap.
TEST(DegenerateSizes, ZeroWidthOrHeightMapsGoThroughEveryStep)
{
    for (const auto &[width, height] : std::vector<std::pair<int, int>>{{0, 0}, {0, 5}, {5, 0}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        TBitmap pictures[3];
        for (TBitmap &picture : pictures) {
            picture.SetSize(width, height);
            ComputeEdgeStrengthMap(picture);
        }
        TBitmap dominance = ComputeDominanceMap(pictures[0], pictures[1], pictures[2]), regions;
        std::vector<std::string> messages;
        ComputeRegionMap(dominance, regions, [&](const std::string &message) { messages.push_back(message); });
        EXPECT_EQ(regions.Width(), width);
        EXPECT_EQ(regions.Height(), height);
        EXPECT_EQ(messages, (std::vector<std::string>(3, "We get max =0")));
    }
}
