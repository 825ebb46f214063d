#include "app/picture/chart_picture.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_bound.h"

namespace zentrowe::testing {
namespace {

// A score of measures of these lengths in beats, a note of key 1 at the start of each, the whole
// at 120 BPM unless `lengthSeconds` says otherwise.
chart::ChartScore scoreOf(const std::vector<double>& measureBeats, double lengthSeconds)
{
    chart::ChartScore score;
    score.title = "t";
    score.measureBeats = {0};
    for (const double beats : measureBeats) {
        score.notes.push_back({score.measureBeats.back(), score.measureBeats.back(), 11, false});
        score.noteSeconds.push_back(score.measureBeats.back() / 2);
        score.measureBeats.push_back(score.measureBeats.back() + beats);
    }
    score.tempos = {{0, 120}};
    score.lengthSeconds = lengthSeconds;
    return score;
}

TEST(ChartPicture, DrawsAbsurdTimesAndLengthsWithinBoundedWork)
{
    struct Case {
        const char* name;
        chart::ChartScore score;
        chart::ChartScore sameSize;  // drawn as tall and wide
    };
    const Case cases[] = {
        // Two measures at 1e-6 BPM: 4.8e8 s, one graph bar a second would be 480 million bars.
        {"tiny tempo", scoreOf({4, 4}, 4.8e8), scoreOf({4, 4}, 4)},
        // A measure of 1e9 measures is drawn as one of 16 (64 beats), the note after it above it.
        {"long measure", scoreOf({4e9, 4}, 2e9), scoreOf({64, 4}, 34)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QImage image;
        const auto growth = residentGrowth([&] { image = picture::drawChartPicture(c.score); });
        ASSERT_FALSE(image.isNull());
        EXPECT_LT(growth, 256 << 20);
        const QImage expected = picture::drawChartPicture(c.sameSize);
        EXPECT_EQ(image.size(), expected.size());
    }
}

}  // namespace
}  // namespace zentrowe::testing
