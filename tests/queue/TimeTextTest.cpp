#include "queue/TimeText.h"

#include <gtest/gtest.h>

using namespace kavel;

TEST(TimeTextTest, FormatDuration) {
    struct Case {
        int64_t us;
        const char* text;
    } cases[] = {
        {5025678000LL, "01:23:45.678"}, {-1, "00:00:00.000"}, {0, "00:00:00.000"},
        {999, "00:00:00.000"},          {1000, "00:00:00.001"}, {90000000000LL, "25:00:00.000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatDuration(c.us), c.text) << c.us;
}

TEST(TimeTextTest, FormatSeconds) {
    struct Case {
        int64_t seconds;
        const char* text;
    } cases[] = {{3725, "1:02:05"}, {-5, "0:00:00"}, {59, "0:00:59"}, {360000, "100:00:00"}};
    for (const Case& c : cases)
        EXPECT_EQ(FormatSeconds(c.seconds), c.text) << c.seconds;
}
