#include "core/chartset/chart_level.h"

#include <gtest/gtest.h>

#include <string>

#include "core/chartset/track_note_support.h"

namespace zentrowe::chartset {
namespace {

using testing::clock240;
using testing::denseTrack;
using testing::note;

TEST(ChartLevel, TheGuidelinesDensitiesGiveItsLevels)
{
    struct Case {
        double notesPerSecond;
        bool insane;
        int level;
    };
    const std::vector<Case> cases{{1.5, false, 1},  {4.0, false, 4},   {7.0, false, 7},  {10.2, false, 10},
                                  {13.8, false, 12}, {0.0, false, 1},   {2.75, false, 3}, {5.5, false, 6},
                                  {5.4, false, 5},   {12.0, false, 11}, {30.0, false, 12}, {30.0, true, 21}, {1000, true, 99}};
    for (const Case& c : cases) {
        EXPECT_EQ(levelForDensity(c.notesPerSecond, c.insane), c.level) << c.notesPerSecond << (c.insane ? " insane" : "");
    }
}

TEST(ChartLevel, AChartOfEvenDensityGetsTheLevelTheTableGives)
{
    // At 120 BPM a second is two quarters: divisions chosen so that each density is a whole
    // number of ticks apart.
    struct Case {
        std::int32_t ticksPerQuarter;
        std::int64_t stepTicks;
        double notesPerSecond;
        int level;
    };
    const std::vector<Case> cases{{480, 640, 1.5, 1}, {480, 240, 4.0, 4}, {420, 120, 7.0, 7}, {510, 100, 10.2, 10},
                                  {690, 100, 13.8, 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.notesPerSecond);
        const song::Timeline clock(c.ticksPerQuarter, {});
        std::vector<TrackNote> notes;
        for (int i = 0; i < 200; ++i) {
            notes.push_back(note(i * c.stepTicks, c.stepTicks, 60 + i % 7));
        }
        std::vector<int> lanes;  // spread over the keys: no lane struck again soon
        for (std::size_t i = 0; i < notes.size(); ++i) {
            lanes.push_back(static_cast<int>(i % kKeyCount));
        }
        const ChartReport report = reportChart(notes, lanes, clock, Difficulty::Hyper);
        // 200 notes over the 199 steps from the first start to the last: a chart's ordinary
        // note ends where it starts.
        EXPECT_NEAR(report.averageDensity, c.notesPerSecond * 200 / 199, 1e-9);
        EXPECT_NEAR(report.peakDensity, c.notesPerSecond, 0.5);
        EXPECT_EQ(report.level, c.level);
    }
}

TEST(ChartLevel, ReportCountsLaneAndBackgroundNotesChordsAndPeak)
{
    // 120 BPM: a chord of three at 0, a single note at 1 s, then two notes at 10 s (tick 9600).
    const std::vector<TrackNote> notes{note(0, 100, 60), note(0, 100, 64), note(0, 100, 67), note(960, 100, 62),
                                       note(9600, 960, 60), note(9600, 960, 62)};
    const std::vector<int> lanes{0, 2, 4, kBackgroundLane, 3, kBackgroundLane};
    const ChartReport report = reportChart(notes, lanes, song::Timeline(480, {}), Difficulty::Normal);
    EXPECT_EQ(report.notes, 4);
    EXPECT_EQ(report.backgroundNotes, 2);
    EXPECT_EQ(report.largestChord, 3);
    // The lane notes play from 0 to 10 s: the background's notes count for nothing, and an
    // ordinary note ends where it starts, as the chart shows it.
    EXPECT_DOUBLE_EQ(report.averageDensity, 4 / 10.0);
    EXPECT_DOUBLE_EQ(report.peakDensity, 1.5);          // three notes in the first two seconds
    EXPECT_EQ(reportChart(notes, std::vector<int>{0}, song::Timeline(480, {}), Difficulty::Normal).backgroundNotes, 6)
        << "a lane list of another length";
}

TEST(ChartLevel, ScratchNotesWeighMoreThanKeyNotes)
{
    // Eight notes a second for 20 s, every eighth note on the scratch or on key 1 instead.
    std::vector<TrackNote> notes;
    std::vector<int> keys;
    std::vector<int> scratch;
    for (int i = 0; i < 160; ++i) {
        notes.push_back(note(i * 60, 50, 60 + i % 7));
        keys.push_back(i % 7);
        scratch.push_back(i % 8 == 0 ? kScratchLane : i % 7);
    }
    const song::Timeline clock(480, {});
    const ChartReport onKeys = reportChart(notes, keys, clock, Difficulty::Another);
    const ChartReport onScratch = reportChart(notes, scratch, clock, Difficulty::Another);
    EXPECT_DOUBLE_EQ(onKeys.scratchShare, 0);
    EXPECT_DOUBLE_EQ(onScratch.scratchShare, 20 / 160.0);
    EXPECT_DOUBLE_EQ(onKeys.terms.scratch, 0);
    EXPECT_GT(onScratch.terms.scratch, 0);
    EXPECT_GT(onScratch.terms.total(), onKeys.terms.total());
}

TEST(ChartLevel, LevelsRiseAcrossTheSet)
{
    const auto clock = clock240();
    const auto notes = denseTrack(30);
    std::vector<ChartReport> reports;
    for (const Difficulty difficulty : kAllDifficulties) {
        reports.push_back(reportChart(notes, chartLanes(notes, clock, difficulty, false), clock, difficulty));
    }
    for (std::size_t i = 1; i < reports.size(); ++i) {
        SCOPED_TRACE(difficultyName(reports[i].difficulty));
        EXPECT_GT(reports[i].level, reports[i - 1].level);
    }
    EXPECT_GT(reports.back().level, 12) << "the full track is denser than the table's last level";
    // Strictly: no two charts of a set at one level; under insane, no level past 12.
    std::vector<ChartReport> set(3);
    std::tie(set[0].level, set[1].level, set[2].level) = std::tuple{5, 4, 9};
    keepLevelsRising(set);
    EXPECT_EQ(std::tie(set[1].level, set[2].level), std::tuple(6, 9));
    std::tie(set[0].level, set[1].level, set[2].level) = std::tuple{12, 12, 12};
    keepLevelsRising(set);
    EXPECT_EQ(std::tie(set[0].level, set[1].level, set[2].level), std::tuple(10, 11, 12));
}

TEST(ChartLevel, HeaderLinesAndTheGaugeTotalAboveItsFloor)
{
    const std::vector<std::pair<std::int64_t, int>> totals{{0, 160}, {100, 160}, {173, 160}, {200, 179}, {2000, 574}, {-5, 160}};
    for (const auto& [notes, total] : totals) {
        EXPECT_EQ(gaugeTotal(notes), total) << notes;
    }
    ChartReport report;
    report.difficulty = Difficulty::Hyper;
    report.notes = 1000;
    report.level = 7;
    EXPECT_EQ(headerLines(chartHeader(report)), "#PLAYLEVEL 7\r\n#DIFFICULTY 3\r\n#SUBTITLE [HYPER]\r\n#RANK 2\r\n#TOTAL 461\r\n");
}

}  // namespace
}  // namespace zentrowe::chartset
