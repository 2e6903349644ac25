// OpenCV doing the work of our pixel algorithms, for comparison in the same run: each
// peer is a fair, plain use of OpenCV's own functions and gives byte for byte what ours
// gives, which CheckPeersGiveOurBytes verifies. Run single-threaded (cv::setNumThreads(1)).
#pragma once

#include "bitmap.h"

#include <opencv2/core.hpp>

#include <ostream>

// Mats a peer keeps from one call to the next, so that repeated calls allocate nothing.
struct PeerScratch {
    cv::Mat below, greater, mask, strict, channel, labels, stats, centroids;
};

// A continuous copy of a bitmap: CV_8UC1 for pf8bit, CV_8UC3 for pf24bit.
cv::Mat MatOf(const TBitmap &bitmap);

// The edge strength map of a CV_8UC1 grey picture into edges (CV_8UC1, the same size):
// min(255, |p - right| + |p - below|), a neighbour outside the picture counting as equal.
void OpenCvEdgeStrengthMap(const cv::Mat &grey, cv::Mat &edges, PeerScratch &scratch);

// The dominance map of three CV_8UC1 edge maps of one size into map (CV_8UC3, each pixel
// its class in all three bytes): the strictly largest map's class, on ties the class of
// the pixel before in scan order, starting from 0.
void OpenCvDominanceMap(const cv::Mat &first, const cv::Mat &second, const cv::Mat &third, cv::Mat &map,
                        PeerScratch &scratch);

// The region map of a CV_8UC3 dominance map into regions (CV_8UC3): per class k, the
// 8-connected components of the pixels whose byte 0 is k with at least max(1, L / 40)
// pixels, L the class's largest, painted 50 x k; every other pixel 0.
void OpenCvRegionMap(const cv::Mat &dominance, cv::Mat &regions, PeerScratch &scratch);

// Runs each peer and its counterpart of ours on the pcb triple (the region maps also on a
// random class map), writes one line per comparison to report and returns whether all gave
// the same bytes. Without the pcb triple only the random map is compared.
bool CheckPeersGiveOurBytes(std::ostream &report);
