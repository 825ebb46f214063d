#include "core/convert/lane_layout.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "track_note_support.h"

namespace zentrowe::convert {
namespace {

using testing::clock120;
using testing::inTimeOrder;
using testing::kBar;
using testing::kQuarter;
using testing::note;

std::vector<int> layout(const std::vector<TrackNote>& notes, LayoutLimits limits = {}, bool percussion = false)
{
    return layoutLanes(notes, std::vector<bool>(notes.size(), true), clock120(), LayoutOptions{limits, percussion});
}

// One note every `step` ticks, each lasting it.
std::vector<TrackNote> melody(const std::vector<int>& pitches, std::int64_t step, std::int64_t from = 0)
{
    std::vector<TrackNote> notes;
    for (const int pitch : pitches) {
        notes.push_back(note(from, step, pitch));
        from += step;
    }
    return notes;
}

TEST(LaneLayout, PitchOrderKeySpreadsTheWindowsPitchesByRank)
{
    struct Case {
        const char* name;
        std::vector<int> window;
        std::vector<double> keys;  // of the window's pitches, low to high
    };
    const std::vector<Case> cases{
        {"one pitch sits in the centre", {60}, {3}},
        {"two pitches a step either side", {60, 72}, {2, 4}},
        {"three", {60, 61, 90}, {1, 3, 5}},
        {"four use the whole keyboard", {60, 62, 64, 65}, {0, 2, 4, 6}},
        {"seven, one a key, whatever the intervals", {48, 50, 52, 53, 55, 57, 83}, {0, 1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<int, 128> counts{};
        for (const int pitch : c.window) {
            counts[static_cast<std::size_t>(pitch)] += 2;
        }
        for (std::size_t i = 0; i < c.window.size(); ++i) {
            EXPECT_DOUBLE_EQ(pitchOrderKey(c.window[i], counts), c.keys[i]);
        }
    }
}

TEST(LaneLayout, ScalesAndArpeggiosRunInTheirDirection)
{
    struct Case {
        const char* name;
        std::vector<int> pitches;
        std::vector<int> lanes;
    };
    const std::vector<Case> cases{
        {"a rising scale runs from key 1 to key 7", {60, 62, 64, 65, 67, 69, 71}, {0, 1, 2, 3, 4, 5, 6}},
        {"a falling scale from key 7 to key 1", {71, 69, 67, 65, 64, 62, 60}, {6, 5, 4, 3, 2, 1, 0}},
        {"chromatic steps as well as whole ones", {60, 61, 62, 63, 64, 65, 66}, {0, 1, 2, 3, 4, 5, 6}},
        {"a broken chord up and down", {48, 52, 55, 60, 55, 52, 48}, {0, 2, 4, 6, 4, 2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(layout(melody(c.pitches, kQuarter)), c.lanes);
    }
}

TEST(LaneLayout, ARisingRunLongerThanTheKeyboardClimbsAsAStaircase)
{
    // Two octaves of a major scale in eighths: fifteen notes for seven keys.
    const auto lanes = layout(melody({48, 50, 52, 53, 55, 57, 59, 60, 62, 64, 65, 67, 69, 71, 72}, kQuarter / 2));
    EXPECT_EQ(lanes.front(), 0);
    for (std::size_t i = 1; i < lanes.size(); ++i) {
        SCOPED_TRACE(i);
        if (lanes[i - 1] < kKeyCount - 1) {
            EXPECT_GT(lanes[i], lanes[i - 1]) << "only key 7 lets the run start again lower";
        }
    }
}

TEST(LaneLayout, ChordsTakeDistinctKeysInPitchOrder)
{
    struct Case {
        const char* name;
        std::vector<TrackNote> notes;
        std::vector<int> chordLanes;  // of the chord at tick 2 * kBar, low to high; empty: any
    };
    const auto chordAt = [](std::int64_t tick, std::vector<int> pitches) {
        std::vector<TrackNote> notes;
        for (const int pitch : pitches) {
            notes.push_back(note(tick, kQuarter, pitch));
        }
        return notes;
    };
    const auto with = [](std::vector<TrackNote> a, const std::vector<TrackNote>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return inTimeOrder(a);
    };
    const std::vector<Case> cases{
        {"a chord of four alone spreads over the keyboard", chordAt(2 * kBar, {60, 64, 67, 72}), {0, 2, 4, 6}},
        {"after a melody, placed among its pitches",
         with(melody({60, 62, 64, 65, 67, 69, 71, 72}, kQuarter), chordAt(2 * kBar, {60, 64, 67, 72})), {}},
        {"a unison is still two keys", chordAt(2 * kBar, {60, 60, 67, 72}), {}},
        {"seven notes fill the keyboard", chordAt(2 * kBar, {48, 50, 52, 53, 55, 57, 59}), {0, 1, 2, 3, 4, 5, 6}},
        {"nine notes: the two lowest play from the background", chordAt(2 * kBar, {40, 43, 48, 50, 52, 53, 55, 57, 59}),
         {kBackgroundLane, kBackgroundLane, 0, 1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto lanes = layout(c.notes);
        std::vector<int> chord;
        for (std::size_t i = 0; i < c.notes.size(); ++i) {
            if (c.notes[i].startTick == 2 * kBar) {
                chord.push_back(lanes[i]);
            }
        }
        std::erase(chord, kBackgroundLane);
        for (std::size_t i = 1; i < chord.size(); ++i) {
            EXPECT_LT(chord[i - 1], chord[i]);
        }
        if (!c.chordLanes.empty()) {
            std::vector<int> expected = c.chordLanes;
            std::erase(expected, kBackgroundLane);
            EXPECT_EQ(chord, expected);
            EXPECT_EQ(std::count(lanes.begin(), lanes.end(), kBackgroundLane),
                      std::count(c.chordLanes.begin(), c.chordLanes.end(), kBackgroundLane));
        }
    }
}

TEST(LaneLayout, NoLaneRepeatsFasterThanTheLimit)
{
    struct Case {
        const char* name;
        std::vector<int> pitches;  // in sixteenths at 120 BPM: 125 ms apart
    };
    const std::vector<Case> cases{
        {"one note struck again and again", std::vector<int>(32, 60)},
        {"a trill", {60, 62, 60, 62, 60, 62, 60, 62, 60, 62, 60, 62, 60, 62, 60, 62}},
        {"a tune with repeated notes", {64, 64, 65, 67, 67, 65, 64, 62, 60, 60, 62, 64, 64, 62, 62, 60}},
    };
    const auto clock = clock120();
    for (const Case& c : cases) {
        for (const double limit : {0.125, 0.25, 0.5}) {
            SCOPED_TRACE(std::string(c.name) + ", limit " + std::to_string(limit));
            const auto notes = melody(c.pitches, kQuarter / 4);
            const auto lanes = layout(notes, LayoutLimits{limit, 100});
            std::map<int, double> lastInLane;
            for (std::size_t i = 0; i < notes.size(); ++i) {
                ASSERT_NE(lanes[i], kBackgroundLane) << "seven keys leave room for every note at " << i;
                const double at = clock.seconds(notes[i].startTick);
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
    // Each bar: seven low notes and a leap up, so pitch order alone would put seven notes a bar
    // under the left hand and one under the right.
    std::vector<int> pitches;
    for (int bar = 0; bar < 12; ++bar) {
        pitches.insert(pitches.end(), {48, 50, 48, 50, 48, 50, 48, 79});
    }
    const auto notes = melody(pitches, kQuarter / 2);
    const auto sideCounts = [&](const std::vector<int>& lanes, int firstBar) {
        std::array<int, 2> sides{};
        for (std::size_t i = 0; i < notes.size(); ++i) {
            const auto bar = notes[i].startTick / kBar;
            if (bar >= firstBar && bar < firstBar + 4 && lanes[i] != 3 && lanes[i] >= 0 && lanes[i] < kKeyCount) {
                ++sides[lanes[i] < 3 ? 0 : 1];
            }
        }
        return sides;
    };
    for (const double ratio : {1.5, 2.0, 3.0}) {
        SCOPED_TRACE(ratio);
        const auto lanes = layout(notes, LayoutLimits{0.0, ratio});
        for (int firstBar = 0; firstBar + 4 <= 12; ++firstBar) {
            SCOPED_TRACE(firstBar);
            const auto sides = sideCounts(lanes, firstBar);
            EXPECT_LE(std::max(sides[0], sides[1]), ratio * std::min(sides[0], sides[1]) + kHandSlack);
        }
    }
    // The rule is what keeps them apart: with no bound the left hand takes most of a bar.
    const auto unbounded = sideCounts(layout(notes, LayoutLimits{0.0, 1000}), 4);
    EXPECT_GT(unbounded[0], 2 * unbounded[1] + kHandSlack);
}

TEST(LaneLayout, AHeldNoteKeepsItsLaneUntilItEnds)
{
    // A held low note under a run that would otherwise pass over its key.
    auto notes = melody({48, 50, 52, 53, 55, 57, 59, 60, 59, 57, 55, 53, 52, 50, 48}, kQuarter / 2, kQuarter);
    notes.push_back(note(0, 4 * kQuarter, 48, 90, true));
    notes = inTimeOrder(notes);
    const auto lanes = layout(notes);
    const std::size_t held = 0;
    ASSERT_TRUE(notes[held].held);
    for (std::size_t i = 1; i < notes.size(); ++i) {
        if (notes[i].startTick <= notes[held].endTick) {
            SCOPED_TRACE(i);
            EXPECT_NE(lanes[i], lanes[held]);
        }
    }
    EXPECT_NE(std::count(lanes.begin(), lanes.end(), lanes[held]), 1) << "the lane is free again after the note ends";
}

TEST(LaneLayout, TheScratchTakesOnlyAccentsOnStrongBeatsInPercussionMode)
{
    // Kick on every beat, accented on beats 1 and 3 of the first bar and on beat 2 of the
    // second; hi-hats on the eighths.
    std::vector<TrackNote> notes;
    for (int eighth = 0; eighth < 16; ++eighth) {
        const std::int64_t tick = std::int64_t{eighth} * kQuarter / 2;
        notes.push_back(note(tick, 100, 42, 70));
        if (eighth % 2 == 0) {
            const bool accent = eighth == 0 || eighth == 4 || eighth == 10;
            notes.push_back(note(tick, 100, 36, accent ? 110 : 90));
        }
    }
    notes = inTimeOrder(notes);
    for (const bool percussion : {true, false}) {
        SCOPED_TRACE(percussion ? "percussion" : "melodic");
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

TEST(LaneLayout, NotesLeftOutOrMisorderedListsPlayFromTheBackground)
{
    const auto notes = melody({60, 62, 64, 65}, kQuarter);
    const auto lanes = layoutLanes(notes, {true, false, true, false}, clock120(), {});
    EXPECT_EQ(lanes[1], kBackgroundLane);
    EXPECT_EQ(lanes[3], kBackgroundLane);
    EXPECT_LT(lanes[0], lanes[2]) << "pitch order among the notes kept";
    EXPECT_EQ(layoutLanes(notes, {true}, clock120(), {}), std::vector<int>(4, kBackgroundLane));
}

TEST(LaneLayout, PhrasesBreakAtRestsOfHalfAMeasure)
{
    const std::vector<TrackNote> notes{note(0, kQuarter, 60), note(kQuarter, kQuarter, 62),
                                       note(2 * kQuarter + kBar / 2 - 1, kQuarter, 64),
                                       note(5 * kQuarter + kBar, kQuarter, 65), note(6 * kQuarter + kBar, kQuarter, 67)};
    EXPECT_EQ(phraseNumbers(notes, std::vector<bool>(notes.size(), true), kBar), (std::vector<int>{0, 0, 0, 1, 1}));
}

TEST(LaneLayout, BeatStrengthOfFourFour)
{
    const std::vector<std::pair<std::int64_t, int>> cases{{0, 4},           {kBar, 4},         {kBar / 2, 3},
                                                          {kQuarter, 2},    {3 * kQuarter, 2}, {kQuarter / 2, 1},
                                                          {kQuarter / 4, 0}, {1, 0}};
    for (const auto& [tick, strength] : cases) {
        SCOPED_TRACE(tick);
        EXPECT_EQ(beatStrength(tick, kBar), strength);
    }
}

}  // namespace
}  // namespace zentrowe::convert
