#include "core/chartset/double_play.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/chartset/chart_level.h"
#include "core/chartset/chart_set.h"
#include "track_note_support.h"

namespace zentrowe::testing {
namespace {

using chartset::kScratchLane;
using chartset::kSideLanes;

TEST(DoublePlayNames, TheDoublePlayFormIsNamedApartAndBelongsToTheSet)
{
    struct Case {
        const char* name;
        const char* setChart;  // the conversion's chart name the set is made from
        bool belongs;
    };
    const Case cases[] = {
        {"song_N_DP.bms", "song.bms", true},   {"song_X_DP.bmson", "song.bmson", true},
        {"song_B_DP.bmson", "song.bms", true},                                      // a set replaces both formats
        {"song_N.bms", "song.bms", true},      {"song_DP.bms", "song.bms", false},  // no difficulty
        {"song_Q_DP.bms", "song.bms", false},  {"song_N_DPX.bms", "song.bms", false},
        {"other_N_DP.bms", "song.bms", false}, {"song_N_DP.wav", "song.bms", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(chartset::belongsToChartSet(c.name, c.setChart), c.belongs);
    }
    EXPECT_EQ(chartset::doublePlayFileName("song_N.bms"), "song_N_DP.bms");
    EXPECT_EQ(chartset::doublePlayFileName("song_X.bmson"), "song_X_DP.bmson");
    EXPECT_EQ(chartset::doublePlayFileName("_H.bms"), "_H_DP.bms");  // a song named ".mid"
}

TEST(DoublePlayLevel, TheSecondSidesKeysAreKeysOfTheirOwn)
{
    // Eight notes a second for 10 s; the lanes each layout gives them, and what the level must see.
    struct Case {
        const char* name;
        int (*lane)(int i);
        double repeatShare;   // notes within 250 ms of one on their key
        double scratchShare;  // notes on either side's scratch
    };
    const Case cases[] = {
        {"key 1 of each side by turns: no key struck twice in 250 ms", [](int i) { return i % 2 * kSideLanes; }, 0.0,
         0.0},
        {"key 1 of the first side alone: every note but the first a repeat", [](int) { return 0; }, 79 / 80.0, 0.0},
        {"both scratches by turns", [](int i) { return kScratchLane + i % 2 * kSideLanes; }, 0.0, 1.0},
        {"the second side's scratch alone", [](int) { return kScratchLane + kSideLanes; }, 79 / 80.0, 1.0},
    };
    std::vector<TrackNote> notes;
    for (int i = 0; i < 80; ++i) {
        notes.push_back(note(i * 120, 100, 60 + i % 7));  // 960 ticks a second
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> lanes;
        for (int i = 0; i < 80; ++i) {
            lanes.push_back(c.lane(i));
        }
        const auto report = chartset::reportChart(notes, lanes, clock120(), chartset::Difficulty::Another);
        EXPECT_EQ(report.notes, 80);
        EXPECT_DOUBLE_EQ(report.repeatShare, c.repeatShare);
        EXPECT_DOUBLE_EQ(report.scratchShare, c.scratchShare);
    }
}

}  // namespace
}  // namespace zentrowe::testing
