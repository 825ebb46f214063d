#include "core/chartset/difficulty.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/chartset/track_note_support.h"

namespace zentrowe::chartset {
namespace {

using testing::kQuarter;
using testing::note;

TEST(Difficulty, ListsParseEasiestFirstAndNameTheirCharts)
{
    using enum Difficulty;
    const std::vector<std::pair<const char*, std::vector<Difficulty>>> good{
        {"normal,hyper,another", {Normal, Hyper, Another}}, {" insane , beginner", {Beginner, Insane}}, {"hyper", {Hyper}}};
    for (const auto& [text, set] : good) {
        const auto parsed = parseDifficulties(text);
        ASSERT_TRUE(parsed.ok()) << text;
        EXPECT_EQ(*parsed, set) << text;
    }
    const std::vector<std::pair<const char*, const char*>> bad{
        {"normal,expert", "expert"}, {"Normal", "Normal"}, {"normal,,hyper", ""}, {"", ""}, {"hyper,", ""}, {"hyper,hyper", "hyper"}};
    for (const auto& [text, value] : bad) {
        SCOPED_TRACE(text);
        const auto parsed = parseDifficulties(text);
        ASSERT_FALSE(parsed.ok());
        EXPECT_EQ(parsed.error().code, ErrorCode::InvalidSetting);
        EXPECT_EQ(parsed.error().value, value);
        EXPECT_NE(parsed.error().message.find('"' + std::string(value) + '"'), std::string::npos);
    }
    std::string stems;
    for (const Difficulty difficulty : kAllDifficulties) {
        stems += chartStem("s", difficulty) + std::string(difficultySubtitle(difficulty)) + ' ';
    }
    EXPECT_EQ(stems, "s_B[BEGINNER] s_N[NORMAL] s_H[HYPER] s_A[ANOTHER] s_X[INSANE] ");
}

// The caps every chart of a set must meet, checked on what the chart holds.
void expectWithinCaps(const std::vector<TrackNote>& notes, const std::vector<int>& lanes, Difficulty difficulty)
{
    const auto clock = testing::clock240();
    const DifficultyLimits limits = difficultyLimits(difficulty);
    ASSERT_EQ(lanes.size(), notes.size());
    std::map<int, double> lastInLane;  // start, or a held note's end
    std::map<int, std::int64_t> heldUntil;
    std::map<std::int64_t, int> down;  // lane notes down at each strike
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const int lane = lanes[i];
        ASSERT_TRUE(lane >= kBackgroundLane && lane <= kScratchLane) << lane;
        if (lane == kBackgroundLane) {
            continue;
        }
        const double at = clock.seconds(notes[i].startTick);
        if (const auto last = lastInLane.find(lane); last != lastInLane.end()) {
            EXPECT_GE(at - last->second, limits.layout.minRepeatSeconds - 1e-9) << "note " << i;
            EXPECT_TRUE(difficulty >= Difficulty::Another || at - last->second >= 0.125 - 1e-9) << "a jack at " << i;
            EXPECT_GT(at - last->second, 0.0) << "two notes of a chord in lane " << lane;
        }
        EXPECT_GT(notes[i].startTick, heldUntil.try_emplace(lane, -1).first->second) << "lane " << lane << " is held";
        lastInLane[lane] = notes[i].held ? clock.seconds(notes[i].endTick) : at;
        heldUntil[lane] = notes[i].held ? notes[i].endTick : -1;
        std::int64_t counted = -1;  // a held note is down at every strike before its end
        for (std::size_t j = i; j < notes.size() && (j == i || (notes[i].held && notes[j].startTick < notes[i].endTick)); ++j) {
            if (notes[j].startTick != counted) {
                ++down[notes[j].startTick];
                counted = notes[j].startTick;
            }
        }
    }
    for (const auto& [tick, atOnce] : down) {
        EXPECT_TRUE(limits.maxNotesAtOnce == 0 || atOnce <= limits.maxNotesAtOnce) << atOnce << " at once at " << tick;
    }
    const auto inLanes = static_cast<double>(notes.size()) - static_cast<double>(std::count(lanes.begin(), lanes.end(), kBackgroundLane));
    if (limits.maxNotesPerSecond > 0) {
        const double density = inLanes / playingSeconds(notes, clock);
        EXPECT_LE(density, limits.maxNotesPerSecond);
        EXPECT_GE(density, 0.75 * limits.maxNotesPerSecond) << "thinning gets close to the density asked for";
    }
}

TEST(Difficulty, EveryChartOfADenseTrackMeetsItsCaps)
{
    for (const bool held : {false, true}) {
        // 16 notes a second and a 5-note chord on every beat, 20 seconds.
        const auto notes = testing::denseTrack(20, held);
        std::size_t previous = 0;
        for (const Difficulty difficulty : kAllDifficulties) {
            SCOPED_TRACE(std::string(difficultyName(difficulty)) + (held ? ", held chords" : ""));
            const auto lanes = chartLanes(notes, testing::clock240(), difficulty, false);
            expectWithinCaps(notes, lanes, difficulty);
            const auto inLanes = notes.size() - static_cast<std::size_t>(std::count(lanes.begin(), lanes.end(), kBackgroundLane));
            EXPECT_GT(inLanes, previous) << "each difficulty holds more than the one before";
            previous = inLanes;
        }
        EXPECT_GE(static_cast<double>(previous), 0.9 * 20 * playingSeconds(notes, testing::clock240()))
            << "insane plays nearly 20 notes a second";
    }
}

TEST(Difficulty, ASetOfACalmTrackIsSpreadAStepApartBelowItsHardest)
{
    // Two quarter notes a second for 20 s: under every cap, yet a set of three copies would be no
    // choice at all. Dense tracks keep their own caps (the test above).
    std::vector<TrackNote> calm;
    for (int i = 0; i < 40; ++i) {
        calm.push_back(note(i * kQuarter, kQuarter / 2, 60 + i % 7));
    }
    const auto clock = testing::clock120();
    const std::vector<Difficulty> set = {Difficulty::Normal, Difficulty::Hyper, Difficulty::Another};
    const auto limits = setLimits(calm, clock, set);
    ASSERT_EQ(limits.size(), set.size());
    std::vector<std::size_t> kept;
    for (std::size_t k = 0; k < set.size(); ++k) {
        const auto keep = thinNotes(calm, clock, limits[k]);
        kept.push_back(static_cast<std::size_t>(std::count(keep.begin(), keep.end(), true)));
    }
    EXPECT_EQ(kept.back(), calm.size()) << "the hardest plays the whole track";
    for (std::size_t k = 0; k + 1 < kept.size(); ++k) {
        EXPECT_LE(static_cast<double>(kept[k]), kSetStep * static_cast<double>(kept[k + 1]) + 1) << k;
        EXPECT_GE(static_cast<double>(kept[k]), 0.6 * static_cast<double>(kept[k + 1])) << k;
    }
    // A one-chart set is the difficulty's own.
    EXPECT_EQ(setLimits(calm, clock, std::vector<Difficulty>{Difficulty::Hyper})[0].maxNotesPerSecond,
              difficultyLimits(Difficulty::Hyper).maxNotesPerSecond);
}

TEST(Difficulty, ThinningKeepsTheTuneFirst)
{
    // 8 seconds: on every beat a chord with the melody on top, and quiet off-beat eighths.
    std::vector<TrackNote> notes;
    for (int beat = 0; beat < 16; ++beat) {
        const std::int64_t tick = std::int64_t{beat} * kQuarter;
        for (const int pitch : {48, 55, 72 + beat % 5}) {
            notes.push_back(note(tick, kQuarter, pitch, 90));
        }
        notes.push_back(note(tick + kQuarter / 2, kQuarter / 2, 60, 60));
    }
    notes = testing::inTimeOrder(notes);
    // Beginner: one at a time, 2 a second over the 7.75 s from the first press to the last: 15
    // of the melody's 16 beats and nothing else.
    const auto keep = thinNotes(notes, testing::clock120(), difficultyLimits(Difficulty::Beginner));
    int melody = 0;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        EXPECT_TRUE(!keep[i] || notes[i].note >= 72) << i;
        melody += keep[i] ? 1 : 0;
    }
    EXPECT_EQ(melody, 15);
    // Then louder, then longer.
    EXPECT_GT(noteWeight(note(kQuarter, 10, 60, 91), false, 4 * kQuarter), noteWeight(note(kQuarter, 900, 60, 90), false, 4 * kQuarter));
    EXPECT_GT(noteWeight(note(kQuarter, 11, 60), false, 4 * kQuarter), noteWeight(note(kQuarter, 10, 60), false, 4 * kQuarter));
}

TEST(Difficulty, TheDefaultSetAddsInsaneOnlyForATrackDenserThanAnother)
{
    std::vector<TrackNote> calm;
    for (int beat = 0; beat < 32; ++beat) {
        calm.push_back(note(std::int64_t{beat} * kQuarter, kQuarter, 60 + beat % 7));
    }
    using enum Difficulty;
    EXPECT_EQ(defaultDifficulties(calm, testing::clock120()), (std::vector<Difficulty>{Normal, Hyper, Another}));
    EXPECT_EQ(defaultDifficulties(testing::denseTrack(8), testing::clock240()),
              (std::vector<Difficulty>{Normal, Hyper, Another, Insane}));
}

}  // namespace
}  // namespace zentrowe::chartset
