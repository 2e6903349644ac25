// Fuzz target: arbitrary bytes as a stack file, read as though they were a file beside three
// shots 1.jpg, 2.jpg and 3.jpg. Reading must give a stack file or raise an Exception naming the
// file. A stack file read must hold 1 to MaxShots shots and strokes of them that can be painted;
// written again it must read back the same; and each stroke's pixels on a small picture must be
// those the slow reference measures.
#include "brush_stroke.h"
#include "exception.h"
#include "reference_rules.h"
#include "stack_file.h"
#include "stack_limits.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void Require(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "stack_file_fuzz: %s\n", what);
    std::abort();
}

// A folder of this process's own in memory (/dev/shm) with the three shots the seeds name,
// removed when the process ends. The shots are only looked for, never read.
struct ScratchShots {
    std::string folder, stackFile;
    ScratchShots()
    {
        folder = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/edgedom-fuzz-stack-")
                 + std::to_string(getpid());
        mkdir(folder.c_str(), 0700);
        for (const char *shot : {"1.jpg", "2.jpg", "3.jpg"})
            if (std::FILE *file = std::fopen((folder + "/" + shot).c_str(), "wb"))
                std::fclose(file);
        stackFile = folder + "/stack.edgedom";
    }
    ~ScratchShots()
    {
        for (const char *shot : {"1.jpg", "2.jpg", "3.jpg"})
            std::remove((folder + "/" + shot).c_str());
        rmdir(folder.c_str());
    }
};

bool SameStrokes(const std::vector<BrushStroke> &a, const std::vector<BrushStroke> &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].shot != b[i].shot || a[i].radius != b[i].radius || a[i].points.size() != b[i].points.size())
            return false;
        for (std::size_t j = 0; j < a[i].points.size(); ++j)
            if (a[i].points[j].x != b[i].points[j].x || a[i].points[j].y != b[i].points[j].y)
                return false;
    }
    return true;
}

// The stroke's spans on a 40 x 30 picture against the reference. Below half a pixel, a path far
// from the origin can lie so exactly along a row at the radius that rounding decides each pixel
// on its own; such strokes are only checked to stay in the picture.
void CheckSpans(const BrushStroke &stroke)
{
    constexpr int width = 40, height = 30;
    const std::vector<PixelSpan> spans = StrokeSpans(stroke, width, height);
    Table cover(height, std::vector<int>(width, 0));
    for (const PixelSpan &span : spans) {
        Require(span.y >= 0 && span.y < height && span.first >= 0 && span.first <= span.last && span.last < width,
                "a span outside the picture");
        for (int x = span.first; x <= span.last; ++x)
            cover[span.y][x] = 1;
    }
    if (stroke.radius >= 0.5 && stroke.points.size() <= 16)
        Require(cover == ReferenceStrokeCover(stroke, width, height), "spans differ from the reference");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const ScratchShots scratch;
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    StackFile stack;
    try {
        stack = ParseStackFile(bytes, scratch.stackFile);
    } catch (const Exception &refusal) {
        Require(refusal.Message().rfind("Cannot read the stack file " + scratch.stackFile + ": ", 0) == 0,
                "a refusal that does not name the file");
        return 0;
    }
    Require(!stack.shots.empty() && stack.shots.size() <= static_cast<std::size_t>(MaxShots), "shots out of range");
    for (const std::string &shot : stack.shots)
        Require(!shot.empty() && shot[0] == '/', "a shot's path not made absolute");
    for (const BrushStroke &stroke : stack.retouch) {
        Require(stroke.shot >= 0 && stroke.shot < static_cast<int>(stack.shots.size()), "a stroke of no shot");
        Require(StrokeFault(stroke).empty(), "a stroke that cannot be painted");
        CheckSpans(stroke);
    }
    const StackFile again = ParseStackFile(StackFileBytes(stack, scratch.stackFile), scratch.stackFile);
    Require(again.shots == stack.shots && again.align == stack.align && SameStrokes(again.retouch, stack.retouch),
            "written and read again, the stack file changed");
    return 0;
}
