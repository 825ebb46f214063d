#include "core/song/note_density.h"

#include <gtest/gtest.h>

#include <vector>

namespace zentrowe::song {
namespace {

TEST(NoteDensity, AverageOverThePlayingTimeAndPeakOverTwoSeconds)
{
    struct Case {
        const char* what;
        std::vector<double> starts;
        double lastEnd;
        double average;
        double peak;
    };
    const std::vector<Case> cases = {
        {"no notes", {}, 5, 0, 0},
        // 10 notes from 0 s, the last ending at 10 s: one a second; no two seconds hold more than 2.
        {"even", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 10, 1, 1},
        // A burst of 8 notes in half a second among 2 notes 19 s apart: 10 notes over 20 s, and
        // 8 notes within two seconds, 4 a second.
        {"burst", {0, 5, 5.0625, 5.125, 5.1875, 5.25, 5.3125, 5.375, 5.4375, 19}, 20, 0.5, 4},
        // A chord at one instant plays for at least one second: 3 a second, and no window beats it.
        {"one chord", {2, 2, 2}, 2, 3, 3},
        // A long note held past the last start lengthens the playing time.
        {"held to the end", {0, 1}, 8, 0.25, 1},
        // An end given before the last start counts as that start.
        {"end too early", {0, 1, 2, 3}, 0, 4.0 / 3.0, 4.0 / 3.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const NoteDensity density = noteDensity(c.starts, c.lastEnd);
        EXPECT_DOUBLE_EQ(density.average, c.average);
        EXPECT_DOUBLE_EQ(density.peak, c.peak);
    }
}

TEST(NoteDensity, BusiestWindowCountsStartsBeforeItsEnd)
{
    const std::vector<double> starts = {0, 0.5, 1, 1.5, 2, 2.5};
    // [0, 2) holds four starts; the note at 2 s belongs to the next window.
    EXPECT_DOUBLE_EQ(busiestDensity(starts, 2), 2);
    EXPECT_DOUBLE_EQ(busiestDensity(starts, 60), 6.0 / 60);
    EXPECT_DOUBLE_EQ(busiestDensity(starts, 0), 0);
    EXPECT_DOUBLE_EQ(busiestDensity({}, 2), 0);
}

}  // namespace
}  // namespace zentrowe::song
