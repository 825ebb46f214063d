#include "core/convert/difficulty.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "track_note_support.h"

namespace zentrowe::convert {
namespace {

using testing::clock120;
using testing::clock240;
using testing::denseTrack;
using testing::kBar;
using testing::kQuarter;
using testing::note;

TEST(Difficulty, ListsParseEasiestFirst)
{
    struct Case {
        const char* text;
        std::vector<Difficulty> set;
        const char* badValue;  // nullptr: accepted
    };
    using enum Difficulty;
    const std::vector<Case> cases{
        {"normal,hyper,another", {Normal, Hyper, Another}, nullptr},
        {" insane , beginner", {Beginner, Insane}, nullptr},
        {"hyper", {Hyper}, nullptr},
        {"normal,expert", {}, "expert"},
        {"Normal", {}, "Normal"},
        {"normal,,hyper", {}, ""},
        {"", {}, ""},
        {"hyper,", {}, ""},
        {"hyper,hyper", {}, "hyper"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseDifficulties(c.text);
        if (c.badValue == nullptr) {
            ASSERT_TRUE(parsed.ok()) << parsed.error().message;
            EXPECT_EQ(*parsed, c.set);
        } else {
            ASSERT_FALSE(parsed.ok());
            EXPECT_EQ(parsed.error().code, ErrorCode::InvalidSetting);
            EXPECT_EQ(parsed.error().subject, "difficulties");
            EXPECT_EQ(parsed.error().value, c.badValue);
            EXPECT_NE(parsed.error().message.find("\"" + std::string(c.badValue) + "\""), std::string::npos);
        }
    }
}

TEST(Difficulty, NamesOfASet)
{
    const std::vector<std::tuple<Difficulty, const char*, const char*, int>> cases{
        {Difficulty::Beginner, "song_B", "[BEGINNER]", 1}, {Difficulty::Normal, "song_N", "[NORMAL]", 2},
        {Difficulty::Hyper, "song_H", "[HYPER]", 3},       {Difficulty::Another, "song_A", "[ANOTHER]", 4},
        {Difficulty::Insane, "song_X", "[INSANE]", 5},
    };
    for (const auto& [difficulty, stem, subtitle, number] : cases) {
        SCOPED_TRACE(stem);
        EXPECT_EQ(chartStem("song", difficulty), stem);
        EXPECT_EQ(difficultySubtitle(difficulty), subtitle);
        EXPECT_EQ(difficultyNumber(difficulty), number);
        const auto parsed = parseDifficulties(difficultyName(difficulty));
        ASSERT_TRUE(parsed.ok());
        EXPECT_EQ(*parsed, std::vector<Difficulty>{difficulty});
    }
}

// The caps every chart of the set must meet, checked on what the chart holds.
void expectWithinCaps(const std::vector<TrackNote>& notes, const std::vector<int>& lanes, const song::TempoClock& clock,
                      Difficulty difficulty)
{
    const DifficultyLimits limits = difficultyLimits(difficulty);
    ASSERT_EQ(lanes.size(), notes.size());
    std::int64_t inLanes = 0;
    std::map<int, double> lastInLane;  // start, or a held note's end
    std::map<int, std::int64_t> heldUntil;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const int lane = lanes[i];
        ASSERT_TRUE(lane == kBackgroundLane || (lane >= 0 && lane <= kScratchLane)) << lane;
        if (lane == kBackgroundLane) {
            continue;
        }
        ++inLanes;
        const double at = clock.seconds(notes[i].startTick);
        if (const auto last = lastInLane.find(lane); last != lastInLane.end()) {
            const double gap = at - last->second;
            EXPECT_GE(gap, limits.layout.minRepeatSeconds - 1e-9) << "note " << i << " lane " << lane;
            if (difficulty < Difficulty::Another) {
                EXPECT_GE(gap, 0.125 - 1e-9) << "a jack below another, note " << i;
            }
            EXPECT_GT(gap, 0.0) << "two notes of a chord in lane " << lane;
        }
        if (const auto held = heldUntil.find(lane); held != heldUntil.end()) {
            EXPECT_GT(notes[i].startTick, held->second) << "lane " << lane << " is held";
        }
        lastInLane[lane] = notes[i].held ? clock.seconds(notes[i].endTick) : at;
        if (notes[i].held) {
            heldUntil[lane] = notes[i].endTick;
        }
        if (limits.maxNotesAtOnce > 0) {
            // Notes down at this strike: those struck with it and held notes not yet released.
            int down = 0;
            for (std::size_t j = 0; j < notes.size(); ++j) {
                const bool struck = notes[j].startTick == notes[i].startTick;
                const bool holding = notes[j].held && notes[j].startTick < notes[i].startTick &&
                                     notes[j].endTick > notes[i].startTick;
                down += lanes[j] != kBackgroundLane && (struck || holding) ? 1 : 0;
            }
            EXPECT_LE(down, limits.maxNotesAtOnce) << "at tick " << notes[i].startTick;
        }
    }
    if (limits.maxNotesPerSecond > 0) {
        EXPECT_LE(static_cast<double>(inLanes) / playingSeconds(notes, clock), limits.maxNotesPerSecond);
    }
}

TEST(Difficulty, EveryChartOfADenseTrackMeetsItsCaps)
{
    const auto clock = clock240();
    for (const bool held : {false, true}) {
        // 16 notes a second and a 5-note chord on every beat, 20 seconds.
        const auto notes = denseTrack(20, held);
        std::int64_t previous = 0;
        for (const Difficulty difficulty : kAllDifficulties) {
            SCOPED_TRACE(std::string(difficultyName(difficulty)) + (held ? ", held chords" : ""));
            const auto lanes = chartLanes(notes, clock, difficulty, false);
            expectWithinCaps(notes, lanes, clock, difficulty);
            const auto inLanes = static_cast<std::int64_t>(notes.size()) - std::count(lanes.begin(), lanes.end(), kBackgroundLane);
            EXPECT_GT(inLanes, previous) << "each difficulty holds more than the one before";
            previous = inLanes;
            // Thinning gets close to the density asked for, not far under it.
            const double cap = difficultyLimits(difficulty).maxNotesPerSecond;
            if (cap > 0) {
                EXPECT_GE(static_cast<double>(inLanes) / playingSeconds(notes, clock), 0.75 * cap);
            }
        }
    }
}

TEST(Difficulty, ThinningKeepsTheTuneFirst)
{
    // Every beat of 4 bars at 120 BPM: a chord of three, the melody on top; then quiet off-beat
    // eighths in the middle voice.
    std::vector<TrackNote> notes;
    for (int beat = 0; beat < 16; ++beat) {
        const std::int64_t tick = std::int64_t{beat} * kQuarter;
        notes.push_back(note(tick, kQuarter, 48, 90));
        notes.push_back(note(tick, kQuarter, 55, 90));
        notes.push_back(note(tick, kQuarter, 72 + beat % 5, 90));
        notes.push_back(note(tick + kQuarter / 2, kQuarter / 2, 60, 60));
    }
    notes = testing::inTimeOrder(notes);
    const auto keep = thinNotes(notes, clock120(), difficultyLimits(Difficulty::Beginner));
    // Beginner: 2 notes a second over 8 seconds, one at a time: the melody's beats, which are
    // exactly 2 a second, and nothing else.
    for (std::size_t i = 0; i < notes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(keep[i], notes[i].note >= 72);
    }
}

TEST(Difficulty, WeightsRankBeatThenTopVoiceThenLoudnessThenLength)
{
    struct Case {
        const char* name;
        TrackNote better;
        bool betterOnTop;
        TrackNote worse;
        bool worseOnTop;
    };
    const std::vector<Case> cases{
        {"a downbeat over beat 3", note(0, 10, 60, 10), false, note(kBar / 2, 10, 60, 127), false},
        {"the top voice on a beat over an inner voice on beat 3", note(kQuarter, 10, 60), true, note(kBar / 2, 10, 60), false},
        {"louder at the same place", note(kQuarter, 10, 60, 91), false, note(kQuarter, 900, 60, 90), false},
        {"longer when as loud", note(kQuarter, 11, 60), false, note(kQuarter, 10, 60), false},
        {"an eighth over a sixteenth", note(kQuarter / 2, 10, 60), false, note(kQuarter / 4, 10, 60), false},
        {"the top voice over an inner one on the same beat", note(kQuarter, 10, 60, 1), true, note(kQuarter, 10, 50, 127), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_GT(noteWeight(c.better, c.betterOnTop, kBar), noteWeight(c.worse, c.worseOnTop, kBar));
    }
}

TEST(Difficulty, TheDefaultSetAddsInsaneOnlyForATrackDenserThanAnother)
{
    std::vector<TrackNote> calm;
    for (int beat = 0; beat < 32; ++beat) {
        calm.push_back(note(std::int64_t{beat} * kQuarter, kQuarter, 60 + beat % 7));
    }
    using enum Difficulty;
    EXPECT_EQ(defaultDifficulties(calm, clock120()), (std::vector<Difficulty>{Normal, Hyper, Another}));
    EXPECT_EQ(defaultDifficulties(denseTrack(8), clock240()), (std::vector<Difficulty>{Normal, Hyper, Another, Insane}));
}

}  // namespace
}  // namespace zentrowe::convert
