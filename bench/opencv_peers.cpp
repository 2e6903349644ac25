#include "opencv_peers.h"

#include "bench_inputs.h"
#include "region_map.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

cv::Mat MatOf(const TBitmap &bitmap)
{
    const int channels = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    cv::Mat mat(bitmap.Height(), bitmap.Width(), CV_8UC(channels));
    for (int y = 0; y < mat.rows; ++y)
        std::memcpy(mat.ptr(y), bitmap.ScanLine(y), static_cast<std::size_t>(mat.cols) * channels);
    return mat;
}

void OpenCvEdgeStrengthMap(const cv::Mat &grey, cv::Mat &edges, PeerScratch &scratch)
{
    const int width = grey.cols, height = grey.rows;
    edges.create(grey.size(), CV_8UC1);
    if (width == 0 || height == 0)
        return;
    // |p - right| where there is a right-hand neighbour, 0 in the last column.
    edges.col(width - 1).setTo(0);
    if (width > 1) {
        const cv::Rect left(0, 0, width - 1, height), right(1, 0, width - 1, height);
        cv::absdiff(grey(left), grey(right), edges(left));
    }
    // Plus |p - below| (saturating) where there is a neighbour below; the last row keeps |p - right|.
    if (height > 1) {
        const cv::Rect top(0, 0, width, height - 1), bottom(0, 1, width, height - 1);
        cv::absdiff(grey(top), grey(bottom), scratch.below);
        cv::add(edges(top), scratch.below, edges(top));
    }
}

namespace {

// Writes k into scratch.strict where mine is strictly greater than both other maps.
void MarkStrictlyLargest(const cv::Mat &mine, const cv::Mat &other1, const cv::Mat &other2, int k,
                         PeerScratch &scratch)
{
    cv::compare(mine, other1, scratch.greater, cv::CMP_GT);
    cv::compare(mine, other2, scratch.mask, cv::CMP_GT);
    cv::bitwise_and(scratch.greater, scratch.mask, scratch.mask);
    scratch.strict.setTo(k, scratch.mask);
}

} // namespace

void OpenCvDominanceMap(const cv::Mat &first, const cv::Mat &second, const cv::Mat &third, cv::Mat &map,
                        PeerScratch &scratch)
{
    scratch.strict.create(first.size(), CV_8UC1);
    scratch.strict.setTo(0);
    MarkStrictlyLargest(first, second, third, 1, scratch);
    MarkStrictlyLargest(second, first, third, 2, scratch);
    MarkStrictlyLargest(third, first, second, 3, scratch);

    // Each pixel gets its strict class, or on a tie the class of the pixel before it.
    map.create(first.size(), CV_8UC3);
    std::uint8_t running = 0;
    for (int y = 0; y < map.rows; ++y) {
        const std::uint8_t *strict = scratch.strict.ptr<std::uint8_t>(y);
        std::uint8_t *out = map.ptr<std::uint8_t>(y);
        for (int x = 0; x < map.cols; ++x) {
            running = strict[x] != 0 ? strict[x] : running;
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = running;
        }
    }
}

namespace {

// The grey each component label of class k paints: 50 x k for components of at least
// max(1, L / 40) pixels, L the largest one's; 0 for the others and the background label 0.
void KeptGreyTable(const cv::Mat &stats, int labelCount, int k, std::vector<std::uint8_t> &greyOf)
{
    int largest = 0;
    for (int label = 1; label < labelCount; ++label)
        largest = std::max(largest, stats.at<int>(label, cv::CC_STAT_AREA));
    const int threshold = std::max(largest / 40, 1);
    greyOf.assign(static_cast<std::size_t>(labelCount), 0);
    for (int label = 1; label < labelCount; ++label)
        if (stats.at<int>(label, cv::CC_STAT_AREA) >= threshold)
            greyOf[label] = static_cast<std::uint8_t>(50 * k);
}

// Paints each pixel whose label has a grey in greyOf; other pixels stay as they are.
void PaintKept(const cv::Mat &labels, const std::vector<std::uint8_t> &greyOf, cv::Mat &regions)
{
    for (int y = 0; y < labels.rows; ++y) {
        const std::int32_t *label = labels.ptr<std::int32_t>(y);
        std::uint8_t *out = regions.ptr<std::uint8_t>(y);
        for (int x = 0; x < labels.cols; ++x) {
            const std::uint8_t grey = greyOf[label[x]];
            if (grey != 0)
                out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = grey;
        }
    }
}

} // namespace

void OpenCvRegionMap(const cv::Mat &dominance, cv::Mat &regions, PeerScratch &scratch)
{
    regions.create(dominance.size(), CV_8UC3);
    regions.setTo(cv::Scalar::all(0));
    cv::extractChannel(dominance, scratch.channel, 0);
    std::vector<std::uint8_t> greyOf;
    for (int k = 1; k <= 3; ++k) {
        cv::compare(scratch.channel, cv::Scalar(k), scratch.mask, cv::CMP_EQ);
        const int labelCount = cv::connectedComponentsWithStats(scratch.mask, scratch.labels, scratch.stats,
                                                                scratch.centroids, 8, CV_32S);
        KeptGreyTable(scratch.stats, labelCount, k, greyOf);
        PaintKept(scratch.labels, greyOf, regions);
    }
}

namespace {

// Writes whether OpenCV's result has ours's size and bytes, with the first difference.
bool ReportSameBytes(std::ostream &report, const std::string &what, const cv::Mat &theirs, const TBitmap &ours)
{
    const int channels = TBitmap::BytesPerPixel(ours.PixelFormat());
    report << "peer check: " << what << ": ";
    if (theirs.cols != ours.Width() || theirs.rows != ours.Height() || theirs.channels() != channels) {
        report << "DIFFERENT SIZE OR FORMAT\n";
        return false;
    }
    long long differing = 0;
    std::string first;
    for (int y = 0; y < theirs.rows; ++y) {
        const std::uint8_t *a = ours.ScanLine(y), *b = theirs.ptr<std::uint8_t>(y);
        for (int i = 0; i < theirs.cols * channels; ++i)
            if (a[i] != b[i] && differing++ == 0)
                first = " (first at x " + std::to_string(i / channels) + ", y " + std::to_string(y) + ": ours "
                        + std::to_string(a[i]) + ", OpenCV " + std::to_string(b[i]) + ")";
    }
    if (differing == 0)
        report << "OpenCV gives our bytes\n";
    else
        report << "DIFFERENT at " << differing << " bytes" << first << "\n";
    return differing == 0;
}

TBitmap OurRegionMap(const TBitmap &dominance)
{
    TBitmap copy, regions;
    copy.Assign(dominance);
    ComputeRegionMap(copy, regions, [](const std::string &) {});
    return regions;
}

} // namespace

bool CheckPeersGiveOurBytes(std::ostream &report)
{
    PeerScratch scratch;
    cv::Mat edges, dominance, regions;
    bool same = true;
    OpenCvRegionMap(MatOf(RandomClassMap(2048, 1536)), regions, scratch);
    same &= ReportSameBytes(report, "region map of the random 2048 x 1536 map", regions,
                            OurRegionMap(RandomClassMap(2048, 1536)));
    if (!HavePcbTriple()) {
        report << "peer check: the pcb triple is not under " << TestdataDir() << ", so it is not compared\n";
        return same;
    }
    for (int index = 1; index <= 3; ++index) {
        OpenCvEdgeStrengthMap(MatOf(PcbGrey(index, 1)), edges, scratch);
        same &= ReportSameBytes(report, "edge strength map of pcb " + std::to_string(index) + ".png", edges,
                                PcbEdgeMap(index, 1));
    }
    OpenCvDominanceMap(MatOf(PcbEdgeMap(1, 1)), MatOf(PcbEdgeMap(2, 1)), MatOf(PcbEdgeMap(3, 1)), dominance, scratch);
    same &= ReportSameBytes(report, "dominance map of the pcb triple", dominance, PcbDominanceMap(1));
    OpenCvRegionMap(MatOf(PcbDominanceMap(1)), regions, scratch);
    same &= ReportSameBytes(report, "region map of the pcb triple", regions, OurRegionMap(PcbDominanceMap(1)));
    return same;
}
