#include "core/chart/chart_score.h"

#include <gtest/gtest.h>

#include <string_view>

#include "core/chart/bms_reader.h"
#include "support/test_support.h"

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

TEST(ChartScore, RefusesAChartWhoseTimeOutrunsAnyClock)
{
    testing::TempDir dir;
    // One note in measure 1 and one in measure 2: the chart lasts two measures of four beats.
    struct Case {
        const char* name;
        const char* timing;
        bool drawn;
    };
    const Case cases[] = {
        // 8 beats at 0.001 BPM: 480,000 s, five and a half days.
        {"slow.bms", "#BPM 0.001\n", true},
        // 8 beats at 1e-6 BPM: 4.8e8 s, inside the bound.
        {"slower.bms", "#BPM 0.000001\n", true},
        {"tiny.bms", "#BPM 0.0000001\n", false},
        {"subnormal.bms", "#BPM 4.9e-324\n", false},
        {"e-300.bms", "#BPM 1e-300\n", false},
        // 2e9 units of 1/192 measure at 120 BPM: 2e9 / 48 beats, 2.08e7 s.
        {"stop.bms", "#BPM 120\n#STOP01 2000000000\n#00109:01\n", true},
        {"longer stop.bms", "#BPM 120\n#STOP01 200000000000\n#00109:01\n", false},
        // Measure 1 of 1e9 measures: 4e9 beats at 120 BPM, 2e9 s.
        {"long measure.bms", "#BPM 120\n#00102:1000000000\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::writeFile(dir / c.name, std::string("#TITLE t\n#WAV01 k.wav\n#00111:01\n#00211:01\n") + c.timing);
        const auto read = readChartScore(dir / c.name);
        ASSERT_EQ(read.ok(), c.drawn) << (read ? "" : read.error().message);
        if (!c.drawn) {
            EXPECT_EQ(read.error().code, ErrorCode::TooLong);
            EXPECT_NE(read.error().message.find(c.name), std::string::npos) << read.error().message;
        }
    }
}

}  // namespace
}  // namespace zentrowe::chart
