#include "core/chart/chart_score.h"

#include <gtest/gtest.h>

#include <string_view>

#include "core/chart/bms_reader.h"

namespace zentrowe::chart {
namespace {

ChartScore score(std::string_view text)
{
    return scoreChart(readBms({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
}

// 120 BPM; measure 1 goes to 240 BPM halfway (hex tempo) and stops; measure 2 is half a measure
// long; measure 3 goes to 60 BPM by code. A long note in lane 12 from measure 1 to measure 3.
constexpr std::string_view kChart = R"(#BPM 120
#TITLE Ode
#PLAYLEVEL 3
#WAV01 click.wav
#BPM01 60
#STOP01 96
#00011:01010000
#00103:00F0
#00109:0001
#00152:0001
#00202:0.5
#00216:0101
#00308:01
#00352:01
#00319:01
)";

TEST(ChartScore, PlacesByBeatWhateverTheTempoAndStops)
{
    const auto chart = score(kChart);
    EXPECT_EQ(chart.title, "Ode");
    EXPECT_EQ(chart.playLevel, 3);
    // Four measures: 4 + 4 + 2 + 4 beats.
    EXPECT_EQ(chart.measureBeats, (std::vector<double>{0, 4, 8, 10, 14}));
    struct Expected {
        double beat;
        double endBeat;
        int lane;
        bool longNote;
    };
    const Expected expected[] = {
        {0, 0, 11, false}, {1, 1, 11, false}, {6, 10, 12, true}, {8, 8, 16, false}, {9, 9, 16, false},
        {10, 10, 19, false},
    };
    ASSERT_EQ(chart.notes.size(), std::size(expected));
    for (std::size_t k = 0; k < chart.notes.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_DOUBLE_EQ(chart.notes[k].beat, expected[k].beat);
        EXPECT_DOUBLE_EQ(chart.notes[k].endBeat, expected[k].endBeat);
        EXPECT_EQ(chart.notes[k].lane, expected[k].lane);
        EXPECT_EQ(chart.notes[k].longNote, expected[k].longNote);
    }
}

TEST(ChartScore, ListsTempoChangesAndTimesForTheDensity)
{
    const auto chart = score(kChart);
    ASSERT_EQ(chart.tempos.size(), 3U);
    EXPECT_DOUBLE_EQ(chart.tempos[0].bpm, 120);
    EXPECT_DOUBLE_EQ(chart.tempos[1].beat, 6);
    EXPECT_DOUBLE_EQ(chart.tempos[1].bpm, 240);
    EXPECT_DOUBLE_EQ(chart.tempos[2].beat, 10);
    EXPECT_DOUBLE_EQ(chart.tempos[2].bpm, 60);
    // By hand: measure 0 is 2 s at 120; measure 1 has 2 beats at 120 (1 s), the stop of half a
    // measure at 240 (2 beats, 0.5 s) and 2 beats at 240 (0.5 s); measure 2 is 2 beats at 240.
    const std::vector<double> seconds = {0, 0.5, 3, 4, 4.25, 4.5};
    ASSERT_EQ(chart.noteSeconds.size(), seconds.size());
    for (std::size_t k = 0; k < seconds.size(); ++k) {
        EXPECT_DOUBLE_EQ(chart.noteSeconds[k], seconds[k]) << k;
    }
    EXPECT_DOUBLE_EQ(chart.lengthSeconds, 4.5);
}

}  // namespace
}  // namespace zentrowe::chart
