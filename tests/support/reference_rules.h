// The rules of the analysis computed the slow, obviously correct way, on tables: the edge
// strength map, the dominance map and the region map (by flood fill). The tests and the
// fuzz targets compare the fast code with these.
#pragma once

#include "test_bitmaps.h"

#include <algorithm>
#include <cstdlib>
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

// The class whose map is strictly the largest, else the previous pixel's in scan order
// (0 before the first strict pixel). The maps have one size.
inline Table ReferenceDominance(const Table &a, const Table &b, const Table &c)
{
    Table classes = a;
    int running = 0;
    for (std::size_t y = 0; y < a.size(); ++y)
        for (std::size_t x = 0; x < a[y].size(); ++x) {
            const int p = a[y][x], q = b[y][x], r = c[y][x];
            running = p > q && p > r ? 1 : q > p && q > r ? 2 : r > p && r > q ? 3 : running;
            classes[y][x] = running;
        }
    return classes;
}

// Flood-fills each 8-connected region of each class 1 to 3, then paints those of at least
// max(1, largest / 40) pixels with 50 x class; any other value is no class.
inline Table ReferenceRegionMap(const Table &classes)
{
    const int h = static_cast<int>(classes.size()), w = h ? static_cast<int>(classes[0].size()) : 0;
    Table painted(static_cast<std::size_t>(h), std::vector<int>(static_cast<std::size_t>(w), 0));
    for (int k = 1; k <= 3; ++k) {
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
