// The rules of the analysis computed the slow, obviously correct way, on tables: the edge
// strength map, the dominance map, the region map (by flood fill) and the focus stack. The
// tests and the fuzz targets compare the fast code with these.
#pragma once

#include "test_bitmaps.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

// min(255, |p - right| + |p - below|), a neighbour outside the picture counting as equal.
inline Table ReferenceEdges(const Table &grey)
{
    Table edges = grey;
    for (std::size_t y = 0; y < grey.size(); ++y)
        for (std::size_t x = 0; x < grey[y].size(); ++x) {
            const int p = grey[y][x];
            const int right = x + 1 < grey[y].size() ? grey[y][x + 1] : p;
            const int below = y + 1 < grey.size() ? grey[y + 1][x] : p;
            edges[y][x] = std::min(255, std::abs(p - right) + std::abs(p - below));
        }
    return edges;
}

// The class (1, 2, ...) whose map is strictly the largest, else the previous pixel's in scan
// order (0 before the first strict pixel). The maps have one size.
inline Table ReferenceDominance(const std::vector<Table> &maps)
{
    Table classes = maps[0];
    int running = 0;
    for (std::size_t y = 0; y < classes.size(); ++y)
        for (std::size_t x = 0; x < classes[y].size(); ++x) {
            int largest = -1, holders = 0, holder = 0;
            for (std::size_t i = 0; i < maps.size(); ++i)
                if (maps[i][y][x] > largest)
                    largest = maps[i][y][x], holders = 1, holder = static_cast<int>(i) + 1;
                else if (maps[i][y][x] == largest)
                    ++holders;
            running = holders == 1 ? holder : running;
            classes[y][x] = running;
        }
    return classes;
}

// Flood-fills each 8-connected region of each class 1 to classCount, then paints those of at
// least max(1, largest / 40) pixels with 50 x class; any other value is no class.
inline Table ReferenceRegionMap(const Table &classes, int classCount = 3)
{
    const int h = static_cast<int>(classes.size()), w = h ? static_cast<int>(classes[0].size()) : 0;
    Table painted(static_cast<std::size_t>(h), std::vector<int>(static_cast<std::size_t>(w), 0));
    for (int k = 1; k <= classCount; ++k) {
        Table region(static_cast<std::size_t>(h), std::vector<int>(static_cast<std::size_t>(w), -1));
        std::vector<int> sizes;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (classes[y][x] != k || region[y][x] >= 0)
                    continue;
                const int id = static_cast<int>(sizes.size());
                sizes.push_back(0);
                std::vector<std::pair<int, int>> todo{{y, x}};
                region[y][x] = id;
                while (!todo.empty()) {
                    const auto [cy, cx] = todo.back();
                    todo.pop_back();
                    ++sizes[id];
                    for (int ny = cy - 1; ny <= cy + 1; ++ny)
                        for (int nx = cx - 1; nx <= cx + 1; ++nx)
                            if (ny >= 0 && ny < h && nx >= 0 && nx < w && classes[ny][nx] == k && region[ny][nx] < 0) {
                                region[ny][nx] = id;
                                todo.push_back({ny, nx});
                            }
                }
            }
        const int largest = sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (region[y][x] >= 0 && sizes[region[y][x]] >= std::max(1, largest / 40))
                    painted[y][x] = 50 * k;
    }
    return painted;
}

// A picture as one table per channel: grey, or blue, green and red.
using Channels = std::vector<Table>;

// The pixels of the window of radius r around (y, x) clipped to h x w, and fn(y', x') on each.
template <class Fn>
int ForWindow(int y, int x, int r, int h, int w, Fn fn)
{
    int pixels = 0;
    for (int v = std::max(y - r, 0); v <= std::min(y + r, h - 1); ++v)
        for (int u = std::max(x - r, 0); u <= std::min(x + r, w - 1); ++u, ++pixels)
            fn(v, u);
    return pixels;
}

// The focus score of every pixel of a shot: E is the largest channel's edge strength (of each
// 16-bit channel's 8-bit rounding with sixteenBits), 0 within one pixel of an uncovered one; each window adds 8 x (sum of E^2) / pixels, in float as
// float(sum) x (1 / columns) x (8 / rows), the rounding FocusStack uses (for pictures below
// 6144 pixels a side, whose windows' sums need no low bits dropped).
inline std::vector<std::vector<float>> ReferenceFocusScores(const Channels &shot, const Table *coverage,
                                                           bool sixteenBits = false)
{
    const int h = static_cast<int>(shot[0].size()), w = h ? static_cast<int>(shot[0][0].size()) : 0;
    Table squares(static_cast<std::size_t>(h), std::vector<int>(static_cast<std::size_t>(w), 0));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int e = 0;
            for (const Table &channel : shot) {
                const auto at = [&](int v, int u) { return sixteenBits ? (channel[v][u] * 255 + 32767) / 65535 : channel[v][u]; };
                const int p = at(y, x), right = x + 1 < w ? at(y, x + 1) : p;
                const int below = y + 1 < h ? at(y + 1, x) : p;
                e = std::max(e, std::min(255, std::abs(p - right) + std::abs(p - below)));
            }
            if (coverage != nullptr)
                ForWindow(y, x, 1, h, w, [&](int v, int u) { e = (*coverage)[v][u] != 0 ? e : 0; });
            squares[y][x] = e * e;
        }
    std::vector<std::vector<float>> scores(static_cast<std::size_t>(h), std::vector<float>(static_cast<std::size_t>(w)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (const int r : {std::max(20, std::max(w, h) / 48), 3}) {
                long long sum = 0;
                ForWindow(y, x, r, h, w, [&](int v, int u) { sum += squares[v][u]; });
                const int rows = std::min(y + r, h - 1) - std::max(y - r, 0) + 1;
                const int columns = std::min(x + r, w - 1) - std::max(x - r, 0) + 1;
                scores[y][x] += static_cast<float>(sum) * (1.0f / static_cast<float>(columns))
                                * (8.0f / static_cast<float>(rows));
            }
    return scores;
}

// The focus stack's fold and feathering, pixel by pixel: the best and second-best score, shot
// and colour per pixel, a lead needing more than half the first shot's 1 % noise score more.
// sources, when given, gets each pixel's source: of the two shots blended, the one with more
// pixels in the window, the best on a tie.
inline Channels ReferenceFocusStack(const std::vector<Channels> &shots, const std::vector<Table> &coverage = {},
                                   bool sixteenBits = false, Table *sources = nullptr)
{
    const int h = static_cast<int>(shots[0][0].size()), w = h ? static_cast<int>(shots[0][0][0].size()) : 0;
    const float none = std::numeric_limits<float>::lowest(); // below every score: no shot covers the pixel
    std::vector<std::vector<float>> best, second;
    Table bestShot(static_cast<std::size_t>(h), std::vector<int>(static_cast<std::size_t>(w), 0)), secondShot = bestShot;
    float margin = 0;
    for (std::size_t i = 0; i < shots.size(); ++i) {
        const Table *mask = coverage.empty() ? nullptr : &coverage[i];
        const auto scores = ReferenceFocusScores(shots[i], mask, sixteenBits);
        const auto covered = [&](int y, int x) { return mask == nullptr || (*mask)[y][x] != 0; };
        if (i == 0) {
            best = second = scores;
            std::vector<int> bins;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    best[y][x] = covered(y, x) ? scores[y][x] : none;
                    second[y][x] = covered(y, x) ? 0 : none;
                    if (covered(y, x))
                        bins.push_back(static_cast<int>(std::min(scores[y][x], 65535.0f)));
                }
            std::sort(bins.begin(), bins.end());
            margin = bins.empty() ? 0 : static_cast<float>(bins[(bins.size() - 1) * 10 / 1000] * 4 / 8);
            continue;
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const float score = scores[y][x];
                if (!covered(y, x))
                    continue;
                if (score > best[y][x] + margin) {
                    const bool hadBest = best[y][x] != none;
                    second[y][x] = best[y][x], secondShot[y][x] = hadBest ? bestShot[y][x] : static_cast<int>(i);
                    best[y][x] = score, bestShot[y][x] = static_cast<int>(i);
                } else if (score > second[y][x]) {
                    second[y][x] = score, secondShot[y][x] = static_cast<int>(i);
                }
            }
    }
    Channels fused = shots[0];
    if (sources != nullptr)
        *sources = bestShot;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int b1 = bestShot[y][x], b2 = secondShot[y][x];
            int n1 = 0, n2 = 0;
            ForWindow(y, x, 5, h, w, [&](int v, int u) {
                n1 += bestShot[v][u] == b1;
                n2 += b2 != b1 && bestShot[v][u] == b2;
            });
            for (std::size_t c = 0; c < fused.size(); ++c)
                fused[c][y][x] = (n1 * shots[b1][c][y][x] + n2 * shots[b2][c][y][x] + (n1 + n2) / 2) / (n1 + n2);
            if (sources != nullptr && n2 > n1)
                (*sources)[y][x] = b2;
        }
    return fused;
}
