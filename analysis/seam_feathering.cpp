// The last step of a focus stack: blends the two best colours of the pixels near a seam, where
// areas won by different shots meet, and copies the best colour everywhere else.
#include "focus_fold.h"
#include "running_sums.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr int FeatherRadius = 5;
constexpr int WindowSide = 2 * FeatherRadius + 1;

// Exact floor division by a pixel count d from 1 to 121, of numerators below 2^32 / 121:
// (n x ceil(2^32 / d)) >> 32. The numerators here stay below 121 x 65535 + 61.
class CountDivider {
public:
    CountDivider()
    {
        for (std::uint64_t d = 1; d < reciprocals_.size(); ++d)
            reciprocals_[d] = ((std::uint64_t{1} << 32) + d - 1) / d;
    }
    unsigned Divide(unsigned n, unsigned d) const { return static_cast<unsigned>(n * reciprocals_[d] >> 32); }

private:
    std::array<std::uint64_t, WindowSide * WindowSide + 1> reciprocals_{};
};

// The best labels (shot indexes) of the window's rows, in a ring of label rows, and per column
// the number of vertically neighbouring pairs in the window's rows that differ.
class LabelWindow {
public:
    LabelWindow(int width, int height, int labels)
        : width_(width), height_(height), labels_(labels), ring_(static_cast<std::size_t>(RingRows) * width),
          counts_(static_cast<std::size_t>(width) * labels),
          verticalSeams_(static_cast<std::size_t>(width)), uniform_(static_cast<std::size_t>(width)),
          seamColumns_(static_cast<std::size_t>(width)), steps_(static_cast<std::size_t>(width)),
          seamsBefore_(static_cast<std::size_t>(width + WindowSide)),
          stepsBefore_(static_cast<std::size_t>(width + WindowSide))
    {
    }

    // Moves the window to centre row y (rows must come in order 0, 1, ...): row y + radius
    // enters, the pair of rows above y - radius leaves.
    template <class Layout>
    void MoveTo(const FoldState<typename Layout::Packed> &state, int y)
    {
        for (; rowsRead_ < height_ && rowsRead_ <= y + FeatherRadius; ++rowsRead_) {
            ExtractLabels<Layout>(state.BestColours(rowsRead_), Row(rowsRead_));
            CountLabels(Row(rowsRead_), 1);
            if (rowsRead_ > 0)
                CountSeams(Row(rowsRead_ - 1), Row(rowsRead_), 1);
        }
        if (y - FeatherRadius - 1 >= 0) {
            CountLabels(Row(y - FeatherRadius - 1), -1);
            CountSeams(Row(y - FeatherRadius - 1), Row(y - FeatherRadius), -1);
        }
        FindUniformWindows(Row(y));
    }

    // Whether the window around column x of the centre row holds one label only.
    bool Uniform(int x) const { return uniform_[x] != 0; }

    // Pixels of the window's rows in column x that hold label.
    int InColumn(int x, int label) const { return counts_[static_cast<std::size_t>(x) * labels_ + label]; }

private:
    static constexpr int RingRows = WindowSide + 1;

    std::uint8_t *Row(int r) { return ring_.data() + static_cast<std::size_t>(r % RingRows) * width_; }

    template <class Layout>
    void ExtractLabels(const typename Layout::Packed *colours, std::uint8_t *labels)
    {
        // Each pixel gets the index of the shot its best colour came from.
        for (int x = 0; x < width_; ++x)
            labels[x] = static_cast<std::uint8_t>(colours[x] >> Layout::indexShift);
    }

    void CountLabels(const std::uint8_t *labels, int delta)
    {
        // Each pixel's label count in its column moves by delta.
        for (int x = 0; x < width_; ++x) {
            std::uint8_t &count = counts_[static_cast<std::size_t>(x) * labels_ + labels[x]];
            count = static_cast<std::uint8_t>(count + delta);
        }
    }

    void CountSeams(const std::uint8_t *upper, const std::uint8_t *lower, int delta)
    {
        // Each column's count moves by delta where the two rows differ.
        for (int x = 0; x < width_; ++x)
            verticalSeams_[x] = static_cast<std::uint8_t>(verticalSeams_[x] + (upper[x] != lower[x]) * delta);
    }

    // uniform_[x] = 1 when no column of x's window has a vertical seam in the window's rows and
    // no two neighbours of the window's centre row differ, so that the window holds one label.
    void FindUniformWindows(const std::uint8_t *centre)
    {
        // Each column gets 1 where its rows differ, and 1 where its centre label differs from the next.
        for (int x = 0; x < width_; ++x) {
            seamColumns_[x] = verticalSeams_[x] != 0;
            steps_[x] = x + 1 < width_ && centre[x] != centre[x + 1];
        }
        PaddedRunningSums(seamColumns_.data(), 0, seamsBefore_.data(), width_, FeatherRadius);
        PaddedRunningSums(steps_.data(), 0, stepsBefore_.data(), width_, FeatherRadius);
        // Each column gets 1 when its window's columns hold no seam, nor its pairs a step.
        for (int x = 0; x < width_; ++x)
            uniform_[x] = seamsBefore_[x + WindowSide] == seamsBefore_[x]
                          && stepsBefore_[x + WindowSide - 1] == stepsBefore_[x];
    }

    int width_, height_, labels_, rowsRead_ = 0;
    std::vector<std::uint8_t> ring_, counts_, verticalSeams_, uniform_;
    std::vector<std::uint32_t> seamColumns_, steps_, seamsBefore_, stepsBefore_;
};

// The counts of a pixel's best and second labels in its window. Neighbouring pixels near a seam
// mostly share both labels, so the counts of the previous pixel's window are moved along by a
// column where they can be, instead of counted anew.
class LabelCounts {
public:
    explicit LabelCounts(const LabelWindow &window) : window_(window) {}

    void Forget() { label1_ = -1; }

    void MoveTo(int first, int last, int label1, int label2)
    {
        if (label1 != label1_ || label2 != label2_) {
            n1_ = n2_ = 0;
            first_ = first, last_ = first - 1;
        }
        for (int x = first_; x < first; ++x)
            n1_ -= window_.InColumn(x, label1), n2_ -= window_.InColumn(x, label2);
        for (int x = last_ + 1; x <= last; ++x)
            n1_ += window_.InColumn(x, label1), n2_ += window_.InColumn(x, label2);
        first_ = first, last_ = last, label1_ = label1, label2_ = label2;
    }
    unsigned N1() const { return static_cast<unsigned>(n1_); }
    unsigned N2() const { return label2_ != label1_ ? static_cast<unsigned>(n2_) : 0; }

private:
    const LabelWindow &window_;
    int first_ = 0, last_ = -1, label1_ = -1, label2_ = -1, n1_ = 0, n2_ = 0;
};

// Writes one row of the result from the best and second colours of its pixels and the labels
// of its window, and, when sources is given, the label each pixel's colour takes most from.
template <class Layout>
void FeatherRow(const typename Layout::Packed *best, const typename Layout::Packed *second, const LabelWindow &window,
                typename Layout::Channel *out, std::uint8_t *sources, int width)
{
    using Channel = typename Layout::Channel;
    constexpr auto channelMask = static_cast<typename Layout::Packed>((1ULL << Layout::channelBits) - 1);
    static const CountDivider divider;
    LabelCounts counts(window);
    // Each pixel gets its best colour.
    for (int x = 0; x < width; ++x)
        for (int c = 0; c < Layout::channels; ++c)
            out[Layout::channels * x + c] = static_cast<Channel>(best[x] >> (Layout::channelBits * c) & channelMask);
    // Each pixel's source is its best label.
    for (int x = 0; sources != nullptr && x < width; ++x)
        sources[x] = static_cast<std::uint8_t>(best[x] >> Layout::indexShift);
    // Each pixel whose window holds more than one label gets the blend of its best and second
    // colours weighted by their labels' pixels in the window.
    for (int x = 0; x < width; ++x) {
        if (window.Uniform(x)) {
            counts.Forget();
            continue;
        }
        counts.MoveTo(std::max(x - FeatherRadius, 0), std::min(x + FeatherRadius, width - 1),
                      static_cast<int>(best[x] >> Layout::indexShift), static_cast<int>(second[x] >> Layout::indexShift));
        const unsigned n1 = counts.N1(), n2 = counts.N2(), total = n1 + n2;
        if (sources != nullptr && n2 > n1)
            sources[x] = static_cast<std::uint8_t>(second[x] >> Layout::indexShift);
        for (int c = 0; c < Layout::channels; ++c) {
            const auto c1 = static_cast<unsigned>(best[x] >> (Layout::channelBits * c) & channelMask);
            const auto c2 = static_cast<unsigned>(second[x] >> (Layout::channelBits * c) & channelMask);
            out[Layout::channels * x + c] = static_cast<Channel>(divider.Divide(n1 * c1 + n2 * c2 + total / 2, total));
        }
    }
}

} // namespace

template <class Layout>
void FeatherSeams(const FoldState<typename Layout::Packed> &state, int shots, TBitmap &result, TBitmap *sources)
{
    LabelWindow window(result.Width(), result.Height(), shots);
    for (int y = 0; y < result.Height(); ++y) {
        window.MoveTo<Layout>(state, y);
        FeatherRow<Layout>(state.BestColours(y), state.SecondColours(y), window,
                           reinterpret_cast<typename Layout::Channel *>(result.ScanLine(y)),
                           sources != nullptr ? sources->ScanLine(y) : nullptr, result.Width());
    }
}

template void FeatherSeams<Grey8>(const FoldState<std::uint32_t> &, int, TBitmap &, TBitmap *);
template void FeatherSeams<Colour24>(const FoldState<std::uint32_t> &, int, TBitmap &, TBitmap *);
template void FeatherSeams<Colour48>(const FoldState<std::uint64_t> &, int, TBitmap &, TBitmap *);
