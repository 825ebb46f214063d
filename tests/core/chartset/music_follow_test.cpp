#include "core/chartset/music_follow.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/chartset/track_note_support.h"

namespace zentrowe::chartset {
namespace {

using testing::kBar;
using testing::kQuarter;

// `count` notes of `part` from `start`, `step` ticks apart, each `length` long, cycling `pitches`.
std::vector<TrackNote> run(std::uint16_t part, std::int64_t start, std::int64_t step, int count,
                           std::vector<int> pitches, int velocity = 90, bool drums = false)
{
    std::vector<TrackNote> notes;
    for (int i = 0; i < count; ++i) {
        TrackNote note =
            testing::note(start + i * step, step / 2, pitches[static_cast<std::size_t>(i) % pitches.size()], velocity);
        note.part = part;
        note.drums = drums;
        notes.push_back(note);
    }
    return notes;
}

std::vector<TrackNote> song(std::initializer_list<std::vector<TrackNote>> parts)
{
    std::vector<TrackNote> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return testing::inTimeOrder(all);
}

// A chosen part in quarters over the bars [from, to).
std::vector<TrackNote> chosen(int fromBar, int toBar)
{
    return run(0, std::int64_t{fromBar} * kBar, kQuarter, 4 * (toBar - fromBar), {72, 74, 76, 77});
}

std::vector<TrackNote> pads(std::uint16_t part, int bars)
{
    std::vector<TrackNote> notes;
    for (const int pitch : {60, 64, 67}) {
        const auto held = run(part, 0, kBar, bars, {pitch});
        notes.insert(notes.end(), held.begin(), held.end());
    }
    return notes;
}

TEST(MusicFollow, RestsOfTheChosenPartsGoToThePartThatCarriesTheMusic)
{
    const auto clock = testing::clock120();  // a bar is 2 s: a rest is over 2 bars (4 s)
    const song::Timeline slow(kQuarter, std::vector<song::TempoChange>{{1000000, 0}});  // a bar is 4 s
    // A rest starts a tick after the chosen part's last strike (a bar's fourth beat here), and the
    // part-measure before the next bar holds one strike of the others: not enough to carry.
    const auto fiveQuarterRest =
        song({chosen(0, 1), run(0, 2 * kBar, kQuarter, 4, {72}), run(1, 0, kQuarter / 2, 24, {79, 81})});
    struct Case {
        const char* name;
        std::vector<TrackNote> notes;
        const song::Timeline* clock;
        std::vector<BorrowedStretch> expected;
    };
    const std::vector<Case> cases{
        {"a rest of one bar borrows nothing",
         song({chosen(0, 2), chosen(3, 6), run(1, 0, kQuarter / 2, 48, {79, 81})}),
         &clock,
         {}},
        {"a melody carries a rest over the bass",
         song({chosen(0, 2), chosen(6, 8), run(1, 0, kQuarter, 32, {36, 38}), run(2, 0, kQuarter / 2, 64, {79, 81})}),
         &clock,
         {{2 * kBar, 6 * kBar, 2}}},
        {"pads strike once a bar: the bass carries, and the song's end closes the last rest",
         song({chosen(0, 2), pads(1, 6), run(2, 0, kQuarter, 24, {36, 40})}),
         &clock,
         {{2 * kBar, 5 * kBar + 3 * kQuarter + 1, 2}}},
        {"drums alone give the rest their accents",
         song({chosen(0, 2), chosen(6, 7), run(1, 0, kQuarter / 2, 56, {42}, 80, true)}),
         &clock,
         {{2 * kBar, 6 * kBar, 1}}},
        {"a melody keeps the lanes against one with less than twice its strikes",
         song(
             {chosen(0, 2), chosen(8, 9), run(1, 0, kQuarter, 36, {60, 62}), run(2, 4 * kBar, kQuarter / 2, 16, {84})}),
         &clock,
         {{2 * kBar, 8 * kBar, 1}}},
        {"at 60 BPM five quarters are over 4 s though under two bars", fiveQuarterRest, &slow, {{kBar, 2 * kBar, 1}}},
        {"at 120 BPM five quarters are no rest", fiveQuarterRest, &clock, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FollowedMusic followed = followMusic(c.notes, 1, *c.clock);
        EXPECT_EQ(followed.stretches, c.expected);
        for (std::size_t i = 0; i < c.notes.size(); ++i) {
            const TrackNote& note = c.notes[i];
            const bool inStretch = std::any_of(c.expected.begin(), c.expected.end(), [&](const BorrowedStretch& s) {
                return s.part == note.part && note.startTick >= s.startTick && note.startTick < s.endTick;
            });
            // Of the drums only the strikes on a beat are accents (velocity 80 is under one).
            const bool accent = !note.drums || note.startTick % kQuarter == 0;
            EXPECT_EQ(followed.laneCandidates[i], note.part == 0 || (inStretch && accent)) << "note " << i;
        }
    }
}

TEST(MusicFollow, EveryNoteIsACandidateWithoutOtherPartsOrChosenOnes)
{
    const auto clock = testing::clock120();
    const auto notes = song({chosen(0, 1), chosen(5, 6), run(1, 0, kQuarter, 24, {60})});
    for (const std::size_t chosenParts : {std::size_t{0}, std::size_t{2}}) {
        SCOPED_TRACE(chosenParts);
        const FollowedMusic followed = followMusic(notes, chosenParts, clock);
        EXPECT_TRUE(followed.stretches.empty());
        EXPECT_EQ(followed.laneCandidates, std::vector<bool>(notes.size(), true));
    }
    // The candidates' lanes are those of the candidates alone, at their places in the song.
    const FollowedMusic followed = followMusic(notes, 1, clock);
    std::vector<TrackNote> fitted;
    const auto lanes = candidateLanes(notes, followed, clock, difficultyLimits(Difficulty::Insane), false, {}, fitted);
    const auto alone = chartLanes(candidateNotes(notes, followed), clock, Difficulty::Insane, false);
    std::vector<int> placed;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (followed.laneCandidates[i]) {
            placed.push_back(lanes[i]);
        } else {
            EXPECT_EQ(lanes[i], kBackgroundLane) << "note " << i;
        }
    }
    EXPECT_EQ(placed, alone);
    EXPECT_EQ(fitted.size(), notes.size());
}

}  // namespace
}  // namespace zentrowe::chartset
