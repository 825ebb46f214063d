#include "core/audio/onset_timing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace zentrowe::audio {
namespace {

constexpr int kRate = 8000;  // timing needs no more, and the test stays quick

// Decaying tones struck at `starts` (seconds), each `shift` seconds off, the same on both sides.
StereoSound struck(const std::vector<double>& starts, double totalSeconds, double shift = 0, double shiftFrom = 0)
{
    StereoSound sound{kRate, std::vector<float>(static_cast<std::size_t>(totalSeconds * kRate) * 2, 0.0F)};
    for (std::size_t n = 0; n < starts.size(); ++n) {
        const double start = starts[n] + (starts[n] >= shiftFrom ? shift : 0);
        const auto first = static_cast<std::size_t>(std::lround(start * kRate));
        const double hertz = 220.0 * std::pow(2.0, static_cast<double>(n % 7) / 12);
        for (std::size_t i = 0; i < static_cast<std::size_t>(0.4 * kRate) && first + i < sound.frames(); ++i) {
            const double t = static_cast<double>(i) / kRate;
            const auto value = static_cast<float>(0.4 * std::exp(-8 * t) * std::sin(2 * std::numbers::pi * hertz * t));
            sound.samples[2 * (first + i)] += value;
            sound.samples[2 * (first + i) + 1] += value;
        }
    }
    return sound;
}

TEST(OnsetTiming, FindsHowLateOrEarlyTheNotesAreOverallAndInTheWorstStretch)
{
    // Thirty notes over 24 s, unevenly spaced, on an even grid of 125 ms (a 16th at 120 BPM) too.
    std::vector<double> starts;
    for (int k = 0; k < 30; ++k) {
        starts.push_back(0.1 + 0.8 * k + ((k * 7) % 5) * 0.125);
    }
    std::vector<double> grid;
    for (int k = 0; k < 64; ++k) {
        grid.push_back(0.5 + 0.125 * k);
    }
    struct Case {
        const char* name;
        std::vector<double> starts;
        double shift;       // seconds
        double shiftFrom;   // from this start on
        double lag;         // expected, whole
        double worstLag;    // expected, worst stretch
    };
    const std::vector<Case> cases = {
        {"in time", starts, 0, 0, 0, 0},
        {"30 ms late", starts, 0.030, 0, 0.030, 0.030},
        {"30 ms early", starts, -0.030, 0, -0.030, -0.030},
        {"100 ms late, every note padded", starts, 0.100, 0, 0.100, 0.100},
        {"in time on an even grid", grid, 0, 0, 0, 0},
        {"30 ms late on an even grid", grid, 0.030, 0, 0.030, 0.030},
        {"the last stretch 40 ms late", starts, 0.040, 16, 0, 0.040},
    };
    const auto reference = struck(starts, 25);
    const auto gridReference = struck(grid, 25);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto& base = c.starts.size() == grid.size() ? gridReference : reference;
        const auto timing = compareTiming(base, struck(c.starts, 25, c.shift, c.shiftFrom));
        ASSERT_TRUE(timing.measured);
        EXPECT_NEAR(timing.lagSeconds, c.lag, 0.004);
        EXPECT_NEAR(timing.worstLagSeconds, c.worstLag, 0.004);
        EXPECT_GT(timing.stretches, 0);
    }
}

TEST(OnsetTiming, SilenceHasNothingToMeasure)
{
    const StereoSound silence{kRate, std::vector<float>(2 * kRate, 0.0F)};
    EXPECT_FALSE(compareTiming(silence, struck({0.5}, 1)).measured);
    EXPECT_FALSE(compareTiming(struck({0.5}, 1), silence).measured);
}

}  // namespace
}  // namespace zentrowe::audio
