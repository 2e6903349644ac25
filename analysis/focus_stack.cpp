#include "focus_stack.h"

#include "exception.h"
#include "focus_fold.h"
#include "focus_score.h"
#include "stack_limits.h"

#include <string>

namespace {

// The lead margin is this share (in eighths) of the first shot's noise level, which is the
// score this share (per thousand) of its covered pixels do not exceed: the flattest areas'.
constexpr int MarginEighths = 4;
constexpr int NoisePerMille = 10;
constexpr int NoiseBins = 65536;

std::string FormatName(TPixelFormat format)
{
    return format == pf8bit ? "8-bit grey" : format == pf24bit ? "24-bit colour" : "48-bit colour";
}

// The smallest score v that more than (count - 1) x NoisePerMille / 1000 of the counted scores
// do not exceed (0 when none were counted).
int NoiseLevel(const std::vector<std::uint32_t> &histogram)
{
    unsigned long long count = 0;
    for (const std::uint32_t bin : histogram)
        count += bin;
    if (count == 0)
        return 0;
    const unsigned long long rank = (count - 1) * NoisePerMille / 1000;
    unsigned long long atOrBelow = 0;
    for (int v = 0; v < NoiseBins; ++v) {
        atOrBelow += histogram[v];
        if (atOrBelow > rank)
            return v;
    }
    return NoiseBins - 1;
}

// The fold of one pixel layout: the state of every pixel (see FoldState) and the row buffers.
template <class Layout>
class FusionOf : public FocusStack::Fusion {
public:
    FusionOf(int width, int height, TPixelFormat format)
        : Fusion(width, height, format), state_(width, height), scorer_(width, height),
          colours_(static_cast<std::size_t>(width)), allCovered_(static_cast<std::size_t>(width), 255)
    {
    }

    void Add(const TBitmap &shot, const TBitmap *coverage) override
    {
        scorer_.Start(shot, coverage);
        std::vector<std::uint32_t> histogram(shots == 0 ? NoiseBins : 0);
        for (int y = 0; y < height; ++y) {
            const float *scores = scorer_.NextRow();
            const std::uint8_t *covered = coverage != nullptr ? coverage->ScanLine(y) : allCovered_.data();
            PackRow<Layout>(shot.ScanLine(y), shots, colours_.data(), width);
            const FoldRows<typename Layout::Packed> state = state_.Row(y);
            if (shots == 0) {
                StartRow(scores, covered, colours_.data(), state.best, state.second, state.bestColour,
                         state.secondColour, width);
                CountScores(scores, covered, histogram.data(), width);
            } else {
                FoldRow(scores, covered, colours_.data(), margin_, state.best, state.second, state.bestColour,
                        state.secondColour, width);
            }
        }
        if (shots == 0)
            margin_ = static_cast<float>(NoiseLevel(histogram) * MarginEighths / 8);
        ++shots;
    }

    TBitmap Result(TBitmap *sources) const override
    {
        TBitmap result;
        result.SetPixelFormat(format);
        result.SetSize(width, height);
        if (sources != nullptr) {
            sources->SetPixelFormat(pf8bit);
            sources->SetSize(width, height);
        }
        FeatherSeams<Layout>(state_, shots, result, sources);
        return result;
    }

private:
    FoldState<typename Layout::Packed> state_;
    FocusScorer scorer_;
    std::vector<typename Layout::Packed> colours_;
    std::vector<std::uint8_t> allCovered_;
    float margin_ = 0;
};

void RequireSize(const TBitmap &bitmap, int width, int height, const char *what)
{
    if (bitmap.Width() >= width && bitmap.Height() >= height)
        return;
    throw Exception(std::string("The ") + what + " (" + SizeText(bitmap) + ") is smaller than the stack's first shot ("
                    + SizeText(width, height) + "). Fusion compares the shots pixel by pixel: use shots of the same size.");
}

} // namespace

FocusStack::FocusStack(int width, int height, TPixelFormat format)
{
    if (width < 0 || height < 0)
        throw Exception("Cannot fuse shots of " + SizeText(width, height) + ": width and height must not be negative.");
    if (format == pf8bit)
        fusion_ = std::make_unique<FusionOf<Grey8>>(width, height, format);
    else if (format == pf24bit)
        fusion_ = std::make_unique<FusionOf<Colour24>>(width, height, format);
    else
        fusion_ = std::make_unique<FusionOf<Colour48>>(width, height, format);
}

FocusStack::FocusStack(FocusStack &&) noexcept = default;
FocusStack &FocusStack::operator=(FocusStack &&) noexcept = default;
FocusStack::~FocusStack() = default;

void FocusStack::Add(const TBitmap &shot, const TBitmap *coverage)
{
    Fusion &fusion = *fusion_;
    if (fusion.shots == MaxShots)
        throw Exception("A focus stack holds at most " + std::to_string(MaxShots) + " shots: fuse fewer at once.");
    if (shot.PixelFormat() != fusion.format)
        throw Exception("A shot in " + FormatName(shot.PixelFormat()) + " cannot join a stack in "
                        + FormatName(fusion.format) + ": convert the shot first.");
    RequireSize(shot, fusion.width, fusion.height, "shot");
    if (coverage != nullptr) {
        if (coverage->PixelFormat() != pf8bit)
            throw Exception("A shot's coverage must be an 8-bit mask, not " + FormatName(coverage->PixelFormat()) + ".");
        RequireSize(*coverage, fusion.width, fusion.height, "shot's coverage mask");
    }
    fusion.Add(shot, coverage);
}

int FocusStack::ShotCount() const noexcept { return fusion_->shots; }

TBitmap FocusStack::Result(TBitmap *sources) const
{
    if (fusion_->shots == 0)
        throw Exception("No shot has been added to the focus stack: there is nothing to fuse.");
    return fusion_->Result(sources);
}
