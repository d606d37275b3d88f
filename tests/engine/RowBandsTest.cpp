#include "engine/RowBands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

namespace kavel {
namespace {

// Every row exactly once, band edges on the step, for pictures too small to split and large
// ones, and calls made from inside a band.
TEST(RowBandsTest, CoversEveryRowOnce) {
    struct Case {
        int rows, step;
        int64_t pixelsPerRow;
    } cases[] = {{0, 1, 640}, {1, 1, 640}, {480, 1, 640}, {481, 2, 1280}, {7, 2, 1 << 20}, {3, 4, 1 << 20},
                 {1080, 2, 1920}, {10, 1, 1}};
    for (const Case& c : cases) {
        const std::string name = std::to_string(c.rows) + " rows, step " + std::to_string(c.step);
        std::vector<std::atomic<int>> seen(c.rows);
        std::atomic<bool> misplaced{false};
        RunInRowBands(c.rows, c.step, c.pixelsPerRow, [&](int first, int end) {
            if (first % c.step != 0 || first >= end)
                misplaced = true;
            for (int row = first; row < end; ++row)
                ++seen[row];
        });
        EXPECT_FALSE(misplaced) << name;
        for (int row = 0; row < c.rows; ++row)
            ASSERT_EQ(seen[row], 1) << name << " row " << row;
    }

    std::atomic<int> inner{0};
    RunInRowBands(1080, 2, 1920, [&](int first, int end) {
        RunInRowBands(end - first, 1, 1920, [&](int a, int b) { inner += b - a; });
    });
    EXPECT_EQ(inner, 1080);
}

TEST(RowBandsTest, AnExceptionReachesTheCallerAfterEveryBand) {
    std::atomic<int> rows{0};
    EXPECT_THROW(RunInRowBands(1080, 1, 1920,
                               [&](int first, int end) {
                                   rows += end - first;
                                   if (end == 1080)
                                       throw std::runtime_error("last band");
                               }),
                 std::runtime_error);
    EXPECT_EQ(rows, 1080);
    // The helpers are still there for the next picture.
    rows = 0;
    RunInRowBands(1080, 1, 1920, [&](int first, int end) { rows += end - first; });
    EXPECT_EQ(rows, 1080);
}

}  // namespace
}  // namespace kavel
