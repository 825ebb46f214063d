#include "core/base/time_left.h"

#include <gtest/gtest.h>

#include <vector>

namespace zentrowe {
namespace {

TEST(TimeLeft, TheRateSoFarGivesTheTimeLeftOnceASecondHasPassed)
{
    struct Case {
        double elapsed;
        std::int64_t done;
        std::int64_t total;
        std::optional<double> left;
    };
    const std::vector<Case> cases = {
        {10, 100, 1000, 90},           // a tenth done in 10 s: 90 s to go
        {30, 3, 4, 10},                // three of four in 30 s
        {5, 50, 50, 0},                // done
        {0.5, 10, 100, std::nullopt},  // too soon to tell
        {10, 0, 100, std::nullopt},    // nothing done yet
        {10, 101, 100, std::nullopt},  // past the end: a figure that says nothing
        {-1, 5, 10, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.done) + " of " + std::to_string(c.total));
        const auto left = secondsLeft(c.elapsed, c.done, c.total);
        ASSERT_EQ(left.has_value(), c.left.has_value());
        if (left) {
            EXPECT_DOUBLE_EQ(*left, *c.left);
        }
    }
}

TEST(TimeLeft, DurationsReadAsAClockShowsThem)
{
    const std::vector<std::pair<double, const char*>> cases = {
        {0, "0:00"}, {6.2, "0:07"}, {59.5, "1:00"}, {750, "12:30"}, {3723, "1:02:03"}, {-4, "0:00"},
    };
    for (const auto& [seconds, text] : cases) {
        SCOPED_TRACE(seconds);
        EXPECT_EQ(durationText(seconds), text);
    }
}

}  // namespace
}  // namespace zentrowe
