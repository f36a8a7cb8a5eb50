#pragma once
// Reads a region as a picture: which pixels of a small grid it covers, and how often. A region
// with non-overlapping rectangles covers every pixel at most once.

#include <array>
#include <string>
#include <vector>

#include "ControlBase/RectRegion.h"

namespace RegionTest {

constexpr int kGrid = 48;

struct Box
{
    int left, top, right, bottom;
};

using Coverage = std::array<std::array<int, kGrid>, kGrid>;

inline Coverage CoverageOf(const Orv::RectRegion& region)
{
    Coverage cover{};
    for (const Orv::RectNode* n = region.GetFirst(); n != nullptr; n = n->next) {
        for (int y = n->top; y < n->bottom; ++y) {
            for (int x = n->left; x < n->right; ++x) {
                ++cover[y][x];
            }
        }
    }
    return cover;
}

inline Coverage CoverageOf(const std::vector<Box>& boxes)
{
    Coverage cover{};
    for (const Box& b : boxes) {
        for (int y = b.top; y < b.bottom; ++y) {
            for (int x = b.left; x < b.right; ++x) {
                cover[y][x] = 1;
            }
        }
    }
    return cover;
}

// "" when every pixel is covered exactly as expected (1 or 0), else the first difference.
inline std::string CompareArea(const Orv::RectRegion& region, const std::vector<Box>& expected)
{
    const Coverage got = CoverageOf(region);
    const Coverage want = CoverageOf(expected);
    for (int y = 0; y < kGrid; ++y) {
        for (int x = 0; x < kGrid; ++x) {
            if (got[y][x] != want[y][x]) {
                return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") covered " +
                       std::to_string(got[y][x]) + " times, expected " + std::to_string(want[y][x]);
            }
        }
    }
    return {};
}

inline bool HasEmptyNode(const Orv::RectRegion& region)
{
    for (const Orv::RectNode* n = region.GetFirst(); n != nullptr; n = n->next) {
        if (n->left >= n->right || n->top >= n->bottom) {
            return true;
        }
    }
    return false;
}

}  // namespace RegionTest
