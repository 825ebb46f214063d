#include "core/chartset/lane_layout.h"

#include <gtest/gtest.h>

#include <map>

#include "core/chartset/difficulty.h"
#include "core/chartset/track_note_support.h"

namespace zentrowe::chartset {
namespace {

using testing::kBar;
using testing::kQuarter;
using testing::note;

std::vector<int> layout(const std::vector<TrackNote>& notes, LayoutLimits limits = {}, bool percussion = false)
{
    return layoutLanes(notes, std::vector<bool>(notes.size(), true), testing::clock120(), {limits, percussion});
}

// One note every `step` ticks, each lasting it, then any `extra` notes.
std::vector<TrackNote> melody(const std::vector<int>& pitches, std::int64_t step, std::vector<TrackNote> extra = {})
{
    for (std::size_t i = 0; i < pitches.size(); ++i) {
        extra.push_back(note(static_cast<std::int64_t>(i) * step, step, pitches[i]));
    }
    return testing::inTimeOrder(extra);
}

TEST(LaneLayout, RunsAndChordsFollowPitchOrder)
{
    struct Case {
        const char* name;
        std::vector<TrackNote> notes;
        std::vector<int> lanes;  // empty: only distinct keys rising with pitch at each tick
        bool staircase = false;  // each note right of the one before, unless that one is on key 7
    };
    const auto chord = [](std::vector<int> pitches) {
        std::vector<TrackNote> notes;
        for (const int pitch : pitches) {
            notes.push_back(note(2 * kBar, kQuarter, pitch));
        }
        return notes;
    };
    const std::vector<Case> cases{
        {"a rising scale runs from key 1 to key 7",
         melody({60, 62, 64, 65, 67, 69, 71}, kQuarter),
         {0, 1, 2, 3, 4, 5, 6}},
        {"a falling scale from key 7 to key 1", melody({71, 69, 67, 65, 64, 62, 60}, kQuarter), {6, 5, 4, 3, 2, 1, 0}},
        {"a broken chord up and down", melody({48, 52, 55, 60, 55, 52, 48}, kQuarter), {0, 2, 4, 6, 4, 2, 0}},
        {"a longer run climbs to key 7 and starts again lower",
         melody({48, 50, 52, 53, 55, 57, 59, 60, 62, 64, 65, 67, 69, 71, 72}, kQuarter / 2),
         {},
         true},
        {"a chord of four spreads over the keyboard", chord({60, 64, 67, 72}), {0, 2, 4, 6}},
        {"seven notes fill it", chord({48, 50, 52, 53, 55, 57, 59}), {0, 1, 2, 3, 4, 5, 6}},
        {"of nine, the two lowest play from the background",
         chord({40, 43, 48, 50, 52, 53, 55, 57, 59}),
         {kBackgroundLane, kBackgroundLane, 0, 1, 2, 3, 4, 5, 6}},
        {"a chord after a melody, a unison in a chord",
         melody({60, 62, 64, 65, 67, 69, 71, 72}, kQuarter, chord({60, 60, 67, 72})),
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto lanes = layout(c.notes);
        if (!c.lanes.empty()) {
            EXPECT_EQ(lanes, c.lanes);
        }
        for (std::size_t i = 1; i < lanes.size(); ++i) {
            const bool struck = c.notes[i].startTick == c.notes[i - 1].startTick && lanes[i - 1] != kBackgroundLane;
            if (struck || (c.staircase && lanes[i - 1] != kKeyCount - 1)) {
                EXPECT_GT(lanes[i], lanes[i - 1]) << i;
            }
        }
    }
}

TEST(LaneLayout, NoLaneRepeatsFasterThanTheLimit)
{
    const std::vector<std::vector<int>> tunes{std::vector<int>(32, 60),
                                              {60, 62, 60, 62, 60, 62, 60, 62, 60, 62},
                                              {64, 64, 65, 67, 67, 65, 64, 62, 60, 60, 62, 64, 64, 62, 62, 60}};
    for (const auto& tune : tunes) {
        for (const double limit : {0.125, 0.25, 0.5}) {
            SCOPED_TRACE(::testing::Message() << tune.size() << " notes, limit " << limit);
            const auto notes = melody(tune, kQuarter / 4);  // 125 ms apart
            const auto lanes = layout(notes, {limit, 100});
            std::map<int, double> lastInLane;
            for (std::size_t i = 0; i < notes.size(); ++i) {
                ASSERT_NE(lanes[i], kBackgroundLane) << "seven keys leave room for every note at " << i;
                const double at = testing::clock120().seconds(notes[i].startTick);
                if (const auto last = lastInLane.find(lanes[i]); last != lastInLane.end()) {
                    EXPECT_GE(at - last->second, limit - 1e-9) << "note " << i << " in lane " << lanes[i];
                }
                lastInLane[lanes[i]] = at;
            }
        }
    }
}

TEST(LaneLayout, HandsStayWithinTheirRatioOverEveryFourBars)
{
    // Each bar seven low notes and a leap up: pitch order alone puts four a bar under the left
    // hand, one under the right.
    std::vector<int> pitches;
    for (int bar = 0; bar < 12; ++bar) {
        pitches.insert(pitches.end(), {48, 50, 48, 50, 48, 50, 48, 79});
    }
    const auto notes = melody(pitches, kQuarter / 2);
    const auto sides = [&](const std::vector<int>& lanes, std::int64_t firstBar) {
        std::array<int, 2> count{};
        for (std::size_t i = 0; i < notes.size(); ++i) {
            const auto bar = notes[i].startTick / kBar;
            if (bar >= firstBar && bar < firstBar + 4 && lanes[i] != 3 && lanes[i] >= 0 && lanes[i] < kKeyCount) {
                ++count[lanes[i] < 3 ? 0 : 1];
            }
        }
        return count;
    };
    for (const double ratio : {1.5, 2.0, 3.0}) {
        const auto lanes = layout(notes, {0.0, ratio});
        for (int firstBar = 0; firstBar + 4 <= 12; ++firstBar) {
            SCOPED_TRACE(::testing::Message() << "ratio " << ratio << ", bars from " << firstBar);
            const auto count = sides(lanes, firstBar);
            EXPECT_LE(std::max(count[0], count[1]), ratio * std::min(count[0], count[1]) + kHandSlack);
        }
    }
    const auto unbounded = sides(layout(notes, {0.0, 1000}), 4);
    EXPECT_GT(unbounded[0], 2 * unbounded[1] + kHandSlack) << "without the rule the left hand takes most";
}

TEST(LaneLayout, AHeldNoteKeepsItsLaneUntilItEnds)
{
    // A low note held for a bar under a run that passes over its key.
    std::vector<TrackNote> notes{note(0, kBar, 48, 90, true)};
    for (const int pitch : {48, 50, 52, 53, 55, 57, 59, 60, 59, 57, 55, 53, 52, 50, 48}) {
        notes.push_back(note(notes.back().startTick + kQuarter / 2, kQuarter / 2, pitch));
    }
    const auto lanes = layout(notes);
    for (std::size_t i = 1; i < notes.size(); ++i) {
        if (notes[i].startTick <= kBar) {
            EXPECT_NE(lanes[i], lanes[0]) << i;
        }
    }
    EXPECT_NE(std::count(lanes.begin(), lanes.end(), lanes[0]), 1) << "the lane is free again after the note ends";
}

TEST(LaneLayout, TheScratchTakesOnlyAccentsOnStrongBeatsInPercussionMode)
{
    // Hi-hat eighths over a kick on every beat, accented on beats 1 and 3 of bar 1, 2 of bar 2.
    std::vector<TrackNote> notes;
    for (int eighth = 0; eighth < 16; ++eighth) {
        const std::int64_t tick = std::int64_t{eighth} * kQuarter / 2;
        notes.push_back(note(tick, 100, 42, 70));
        if (eighth % 2 == 0) {
            notes.push_back(note(tick, 100, 36, eighth == 0 || eighth == 4 || eighth == 10 ? 110 : 90));
        }
    }
    notes = testing::inTimeOrder(notes);
    for (const bool percussion : {true, false}) {
        SCOPED_TRACE(percussion);
        const auto lanes = layout(notes, {}, percussion);
        std::vector<std::int64_t> scratched;
        for (std::size_t i = 0; i < notes.size(); ++i) {
            if (lanes[i] == kScratchLane) {
                EXPECT_EQ(notes[i].note, 36);
                scratched.push_back(notes[i].startTick);
            }
        }
        EXPECT_EQ(scratched, (percussion ? std::vector<std::int64_t>{0, kBar / 2} : std::vector<std::int64_t>{}));
    }
}

TEST(LaneLayout, AccentsGoToTheScratchWithinTheirShareFromHyperUp)
{
    // 16 bars of eighths (8 a bar), a bar's rest after bar 8, the second phrase starting on beat
    // 2 of bar 10: accents are the first and third beats and the first note of each phrase.
    std::vector<TrackNote> notes;
    for (int eighth = 0; eighth < 8 * 16; ++eighth) {
        const std::int64_t tick = eighth < 64 ? std::int64_t{eighth} * kQuarter / 2
                                              : 9 * kBar + kQuarter + std::int64_t{eighth - 64} * kQuarter / 2;
        notes.push_back(note(tick, kQuarter / 2, 60 + (eighth * 5) % 12));
    }
    const std::int64_t secondPhrase = 9 * kBar + kQuarter;
    struct Case {
        Difficulty difficulty;
        bool scratch;
        double least;
        double most;
    };
    const Case cases[] = {
        {Difficulty::Beginner, true, 0, 0},     {Difficulty::Normal, true, 0, 0},
        {Difficulty::Hyper, true, 0.03, 0.10},  {Difficulty::Another, true, 0.03, 0.10},
        {Difficulty::Insane, true, 0.03, 0.10}, {Difficulty::Another, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(difficultyName(c.difficulty)) + (c.scratch ? "" : ", scratch off"));
        LayoutLimits limits = difficultyLimits(c.difficulty).layout;
        limits.scratchLane = c.scratch;
        const auto lanes = layout(notes, limits);
        int scratched = 0;
        for (std::size_t i = 0; i < notes.size(); ++i) {
            if (lanes[i] == kScratchLane) {
                ++scratched;
                EXPECT_TRUE(notes[i].startTick % (kBar / 2) == 0 || notes[i].startTick == secondPhrase)
                    << notes[i].startTick;
            }
        }
        const double share = scratched / static_cast<double>(notes.size());
        EXPECT_GE(share, c.least);
        EXPECT_LE(share, c.most);
    }
}

TEST(LaneLayout, TwoScratchNotesAreNeverCloserThanTheRepeatWindow)
{
    // A phrase starts before a downbeat: both are accents, and the scratch takes the second only
    // when it comes 250 ms or more after the first (at 120 BPM, 240 ticks).
    for (const std::int64_t before : {60, 180, 240, 480}) {
        SCOPED_TRACE(before);
        const std::vector<TrackNote> notes = {note(0, 100, 60), note(kBar - before, 40, 64), note(kBar, 100, 67)};
        LayoutLimits limits;
        limits.scratchShare = 1;  // every accent the lane allows
        const auto lanes = layout(notes, limits);
        EXPECT_EQ(lanes[0], kScratchLane);
        EXPECT_EQ(lanes[1], kScratchLane);
        EXPECT_EQ(lanes[2] == kScratchLane, before >= 240);
    }
}

// Two parts in one set: a melody on the beats over a bass line between them.
TEST(LaneLayout, EachPartKeepsItsOwnPitchOrder)
{
    struct Case {
        const char* name;
        std::vector<int> melody;  // part 0, one a beat
        std::vector<int> bass;    // part 1, an eighth after each beat
    };
    const std::vector<Case> cases{
        {"a rising tune over a falling bass", {72, 74, 76, 77, 79, 81, 83}, {55, 53, 52, 50, 48, 47, 45}},
        {"a falling tune over a rising bass", {83, 81, 79, 77, 76, 74, 72}, {45, 47, 48, 50, 52, 53, 55}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TrackNote> notes;
        for (std::size_t i = 0; i < c.melody.size(); ++i) {
            const auto beat = static_cast<std::int64_t>(i) * kQuarter;
            notes.push_back(note(beat, kQuarter / 2, c.melody[i]));
            notes.push_back(note(beat + kQuarter / 2, kQuarter / 2, c.bass[i]));
            notes.back().part = 1;
        }
        const auto lanes = layout(notes);
        std::map<std::uint16_t, std::vector<int>> byPart;
        for (std::size_t i = 0; i < notes.size(); ++i) {
            byPart[notes[i].part].push_back(lanes[i]);
        }
        const std::vector<int> rising{0, 1, 2, 3, 4, 5, 6};
        const std::vector<int> falling{6, 5, 4, 3, 2, 1, 0};
        EXPECT_EQ(byPart[0], c.melody.front() < c.melody.back() ? rising : falling);
        EXPECT_EQ(byPart[1], c.bass.front() < c.bass.back() ? rising : falling);
    }
}

TEST(LaneLayout, APartsPhraseEndsWithItsOwnRest)
{
    // Part 0 plays bar 0, rests through bar 1 while part 1 plays on, and comes back in bar 2.
    std::vector<TrackNote> notes{note(0, kQuarter, 72), note(kBar, kBar, 48), note(2 * kBar, kQuarter, 60),
                                 note(2 * kBar + kQuarter, kQuarter, 50)};
    notes[1].part = 1;
    notes[3].part = 1;
    EXPECT_EQ(phraseNumbers(notes, std::vector<bool>(notes.size(), true), kBar), (std::vector<int>{0, 0, 1, 0}));
}

}  // namespace
}  // namespace zentrowe::chartset
