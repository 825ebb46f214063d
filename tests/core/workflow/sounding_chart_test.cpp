#include "core/workflow/sounding_chart.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/chart/timed_chart.h"

namespace zentrowe::workflow {
namespace {

constexpr std::int32_t kTicksPerMeasure = 1920;  // 480 a quarter note, 4/4

// The converted chart of a lane track at 120 BPM (a measure of 2 s): "a.ogg" on lane 11 at the
// start of measure 1 and "b.ogg" held on lane 12 (a long note, 51..) from half-way through it.
chart::Chart convertedChart()
{
    chart::Chart chart;
    chart.header.initialBpm = 120;
    chart.keysounds = {{1, "a.ogg"}, {2, "b.ogg"}};
    chart.addLine(1, 11, 2);
    chart.addObject(0, 1);
    chart.addLine(1, 52, 4);
    chart.addObject(2, 2);
    chart.addObject(3, 2);
    return chart;
}

// Two background keysounds, "c.ogg" at tick 480 and 960 (0.5 s, 1 s) and "d.ogg" at tick 960.
BackgroundKeysounds background()
{
    BackgroundKeysounds keysounds;
    keysounds.table.findOrAdd(60, 480, 100, 0);
    keysounds.table.findOrAdd(62, 480, 100, 480);
    keysounds.notes = {{480, 0}, {960, 0}, {960, 1}};
    return keysounds;
}

// Each sounding object as (file, seconds), in time order.
std::vector<std::pair<std::string, double>> sounds(const chart::Chart& chart)
{
    const auto timed = chart::timeChart(chart::ChartReading{chart, 0, {}});
    std::vector<std::pair<std::string, double>> heard;
    for (const auto& object : timed.objects) {
        if (object.kind != chart::ObjectKind::LongNoteEnd) {
            heard.emplace_back(timed.keysoundNames[object.code], object.seconds);
        }
    }
    return heard;
}

TEST(SoundingChart, EverySoundOfTheSetOnceAtTheSongsTime)
{
    const auto keysounds = background();
    const std::vector<std::string> fileNames = {"c.ogg", "d.ogg"};
    std::vector<audio::RenderJob> jobs(2);
    jobs[0].name = "c.ogg";
    jobs[1].name = "d.ogg";
    std::vector<BgmFile> slices(1);
    slices[0] = {"bgm-001.ogg", 9, 2, {}};
    struct Case {
        const char* name;
        bool withKeysounds;
        bool withSlices;
        std::set<std::string> silent;
        std::vector<std::pair<std::string, double>> expected;
    };
    const Case cases[] = {
        {"the lanes alone", false, false, {}, {{"a.ogg", 2}, {"b.ogg", 3}}},
        {"with the other tracks' notes",
         true,
         false,
         {},
         {{"c.ogg", 0.5}, {"c.ogg", 1}, {"d.ogg", 1}, {"a.ogg", 2}, {"b.ogg", 3}}},
        {"a silent one left out", true, false, {"c.ogg"}, {{"d.ogg", 1}, {"a.ogg", 2}, {"b.ogg", 3}}},
        {"a BGM slice at its measure", false, true, {}, {{"a.ogg", 2}, {"b.ogg", 3}, {"bgm-001.ogg", 4}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetBackground set;
        if (c.withKeysounds) {
            set.keysounds = &keysounds;
            set.keysoundFileNames = fileNames;
            set.keysoundJobs = jobs;
            set.firstCode = 3;
        }
        if (c.withSlices) {
            set.bgmFiles = slices;
        }
        const auto chart = soundingChart(convertedChart(), set, c.silent, kTicksPerMeasure);
        const auto heard = sounds(chart);
        ASSERT_EQ(heard.size(), c.expected.size());
        for (std::size_t k = 0; k < heard.size(); ++k) {
            EXPECT_EQ(heard[k].first, c.expected[k].first) << k;
            EXPECT_NEAR(heard[k].second, c.expected[k].second, 1e-9) << k;
        }
    }
}

}  // namespace
}  // namespace zentrowe::workflow
