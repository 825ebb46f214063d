#include "core/workflow/lead_in.h"

#include <gtest/gtest.h>

namespace zentrowe::workflow {
namespace {

// A chart at `bpm` with one object on `channel` at `slot` of 192 in `measure`, a tempo change in
// measure 0 and, when asked, a measure length.
chart::Chart oneObject(double bpm, std::uint8_t channel, std::int32_t measure, std::uint32_t slot)
{
    chart::Chart chart;
    chart.header.initialBpm = bpm;
    chart.addLine(0, chart::kHexTempoChannel, 1);
    chart.addObject(0, static_cast<chart::ChartCode>(bpm));
    chart.addLine(measure, channel, 192);
    chart.addObject(slot, 1);
    return chart;
}

TEST(LeadIn, TheFirstObjectGetsAnEmptyMeasureAndASecondAndAHalfBeforeIt)
{
    struct Case {
        const char* name;
        chart::Chart chart;
        std::int32_t lastMeasure;
        std::int32_t measures;
    };
    const std::vector<Case> cases = {
        // 120 BPM: a measure is 2 s.
        {"a note at 0 s: one measure", oneObject(120, 11, 0, 0), 999, 1},
        {"the BGM at 0 s counts as well", oneObject(120, chart::kBackgroundChannel, 0, 0), 999, 1},
        {"a long note's start", oneObject(120, 51, 0, 0), 999, 1},
        // 300 BPM: a measure is 0.8 s, two make 1.6 s.
        {"a fast song: two measures", oneObject(300, 11, 0, 0), 999, 2},
        // 60 BPM: 3 s into measure 0 is late enough, but measure 0 is not empty.
        {"late in measure 0: still one", oneObject(60, 11, 0, 144), 999, 1},
        {"measure 1 at 2 s: already there", oneObject(120, 11, 1, 0), 999, 0},
        // 300 BPM: measure 1 is at 0.8 s, one more makes 1.6 s.
        {"measure 1 at 0.8 s: one more", oneObject(300, 11, 1, 0), 999, 1},
        {"a tempo line is no object", oneObject(120, chart::kHexTempoChannel, 5, 0), 999, 0},
        {"no room past the last measure", oneObject(120, 11, 0, 0), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(leadInMeasures(c.chart, c.lastMeasure), c.measures);
    }
}

TEST(LeadIn, EverythingMovesByWholeMeasures)
{
    auto chart = oneObject(120, 11, 3, 96);
    chart.measureLengths.push_back({3, 0.75, 0});
    addLeadIn(chart, 2);
    ASSERT_EQ(chart.lines.size(), 2u);
    EXPECT_EQ(chart.lines[0].measure, 2);  // the tempo at the song's start, now the first measure's
    EXPECT_EQ(chart.lines[1].measure, 5);
    EXPECT_EQ(chart.objects[1].slot, 96u);
    EXPECT_EQ(chart.measureLengths[0].measure, 5);
}

}  // namespace
}  // namespace zentrowe::workflow
