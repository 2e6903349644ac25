// The region map computed the slow, obviously correct way, for comparison with the fast
// labeller in the tests and the fuzz targets.
#pragma once

#include "test_bitmaps.h"

#include <algorithm>
#include <utility>
#include <vector>

// The slow, obviously correct rule: flood-fill each 8-connected region of each class,
// then paint those of at least max(1, largest / 40) pixels with 50 x class.
inline Table ReferenceRegionMap(const Table &classes)
{
    const int h = static_cast<int>(classes.size()), w = h ? static_cast<int>(classes[0].size()) : 0;
    Table painted(static_cast<std::size_t>(h), std::vector<int>(static_cast<std::size_t>(w), 0));
    for (int k = 1; k <= 3; ++k) {
        std::vector<std::vector<int>> region(static_cast<std::size_t>(h), std::vector<int>(static_cast<std::size_t>(w), -1));
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
        const int threshold = std::max(1, largest / 40);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (region[y][x] >= 0 && sizes[region[y][x]] >= threshold)
                    painted[y][x] = 50 * k;
    }
    return painted;
}
