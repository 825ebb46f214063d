#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <tuple>

#include "core/chartset/chart_level.h"
#include "core/chartset/difficulty.h"
#include "core/chartset/lane_layout.h"
#include "core/chartset/long_notes.h"
#include "core/chartset/music_follow.h"
#include "core/chartset/note_grid.h"
#include "core/chartset/track_note_support.h"

namespace zentrowe::chartset {
namespace {

using testing::kBar;
using testing::kQuarter;
using testing::note;

// What a player meets in a chart, counted here on its own from the lanes and times.
struct Measured {
    double repeatShare = 0;  // lane notes whose lane had a note less than 250 ms before
    int chordJacks = 0;      // of those, notes struck with another
    double middleShare = 0;  // key notes on keys 3-5
    int closePairs = 0;      // pairs of lane notes 0.5 to 30 ms apart
    double perSecond = 0;    // lane notes over the playing time
    int shortLongNotes = 0;  // held under 200 ms
    int quickPresses = 0;    // presses less than 80 ms after a release in their lane
    double scratchShare = 0;  // lane notes on the scratch
    int closeScratch = 0;     // scratch notes less than 120 ms after the one before
};

Measured measure(const std::vector<TrackNote>& notes, const std::vector<int>& lanes, const song::Timeline& clock)
{
    Measured m;
    std::map<int, double> lastStart;
    std::map<int, double> lastRelease;
    std::vector<double> times;
    int keyNotes = 0;
    int middle = 0;
    int repeats = 0;
    int scratch = 0;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (lanes[i] == kBackgroundLane) {
            continue;
        }
        const double at = clock.seconds(notes[i].startTick);
        if (lanes[i] == kScratchLane) {
            const auto last = lastStart.find(kScratchLane);
            m.closeScratch += last != lastStart.end() && at - last->second < 0.12 ? 1 : 0;
            ++scratch;
        }
        const bool chord = std::any_of(notes.begin(), notes.end(), [&](const TrackNote& other) {
            return &other != &notes[i] && other.startTick == notes[i].startTick &&
                   lanes[static_cast<std::size_t>(&other - notes.data())] >= 0;
        });
        if (const auto last = lastStart.find(lanes[i]); last != lastStart.end() && at - last->second < 0.25) {
            ++repeats;
            m.chordJacks += chord ? 1 : 0;
        }
        if (const auto release = lastRelease.find(lanes[i]); release != lastRelease.end()) {
            m.quickPresses += at - release->second < 0.08 - 1e-9 ? 1 : 0;
        }
        lastStart[lanes[i]] = at;
        if (notes[i].held) {
            const double end = clock.seconds(notes[i].endTick);
            m.shortLongNotes += end - at < 0.2 - 1e-9 ? 1 : 0;
            lastRelease[lanes[i]] = end;
        }
        keyNotes += lanes[i] < kKeyCount ? 1 : 0;
        middle += lanes[i] >= 2 && lanes[i] <= 4 ? 1 : 0;
        times.push_back(at);
    }
    for (std::size_t a = 0; a < times.size(); ++a) {
        for (std::size_t b = a + 1; b < times.size() && times[b] - times[a] <= 0.030; ++b) {
            m.closePairs += times[b] - times[a] >= 0.0005 ? 1 : 0;
        }
    }
    m.repeatShare = times.empty() ? 0 : static_cast<double>(repeats) / static_cast<double>(times.size());
    m.middleShare = keyNotes == 0 ? 0 : static_cast<double>(middle) / keyNotes;
    m.scratchShare = times.empty() ? 0 : static_cast<double>(scratch) / static_cast<double>(times.size());
    m.perSecond = static_cast<double>(times.size()) / playingSeconds(notes, clock);
    return m;
}

enum class Rule { Repeats, ChordJacks, Middle, Insane, LongNotes, Grid };

// True when the track, every note in the lanes where pitch order alone puts it, breaks `rule`:
// the case tests something.
bool breaks(Rule rule, const Measured& raw, const GridFit& grid)
{
    switch (rule) {
    case Rule::Repeats:
        return raw.repeatShare > 0.45;
    case Rule::ChordJacks:
        return raw.chordJacks > 0;
    case Rule::Middle:
        return raw.middleShare > 0.6;
    case Rule::Insane:
        return raw.closePairs > 0 && raw.perSecond > 20;
    case Rule::LongNotes:
        return raw.shortLongNotes > 0 && raw.quickPresses > 0;
    case Rule::Grid:
        break;
    }
    return grid.performance;
}

std::vector<TrackNote> repeated(std::vector<int> pattern, std::int64_t step, int count)
{
    std::vector<TrackNote> notes;
    for (int i = 0; i < count; ++i) {
        for (const int pitch : pattern) {
            notes.push_back(note(i * step, step / 2, pitch));
        }
    }
    return testing::inTimeOrder(notes);
}

// 120 BPM (960 ticks a second): a strum of six strings 8 ticks (8 ms) apart on every eighth.
std::vector<TrackNote> strums()
{
    std::vector<TrackNote> notes;
    for (int eighth = 0; eighth < 64; ++eighth) {
        for (int string = 0; string < 6; ++string) {
            notes.push_back(note(eighth * kQuarter / 2 + 8 * string, kQuarter / 2, 52 + 5 * string));
        }
    }
    return notes;
}

// A legato line of long notes on one pitch, each second: 0.5 s, then a 32nd (62.5 ms) later
// 0.15 s.
std::vector<TrackNote> heldLine()
{
    std::vector<TrackNote> notes;
    for (std::int64_t at = 0; at < 20 * 960; at += 960) {
        notes.push_back(note(at, 480, 60, 90, true));
        notes.push_back(note(at + 540, 144, 60, 90, true));
    }
    return notes;
}

// A vocal line of two pitches in quarters, the lower twice as often.
std::vector<TrackNote> twoPitches()
{
    std::vector<TrackNote> notes;
    for (int i = 0; i < 32; ++i) {
        notes.push_back(note(i * kQuarter, kQuarter / 2, i % 3 == 1 ? 62 : 60));
    }
    return notes;
}

// A melody played in: each note 5 to 40 ticks off its 16th (120 ticks at 120 BPM).
std::vector<TrackNote> playedIn()
{
    std::vector<TrackNote> notes;
    for (int i = 0; i < 64; ++i) {
        notes.push_back(note(i * 240 + 5 + (i * 37) % 36, 200, 60 + (i * 5) % 12));
    }
    return notes;
}

TEST(LaneRules, EveryChartOfEverySetKeepsTheRules)
{
    struct Case {
        const char* name;
        Rule rule;
        std::vector<TrackNote> notes;
        bool percussion = false;
        std::uint32_t quantize = 0;
    };
    std::vector<TrackNote> drums;  // hi-hat 16ths over kick and snare, 8 bars at 120 BPM
    for (int step = 0; step < 128; ++step) {
        drums.push_back(note(step * kQuarter / 4, 60, 42, step % 4 == 0 ? 110 : 80));
        if (step % 4 == 0) {
            drums.push_back(note(step * kQuarter / 4, 60, step % 8 == 0 ? 36 : 38, 110));
        }
    }
    const std::vector<Case> cases{
        {"a pitch repeated in 16ths", Rule::Repeats, repeated({60}, kQuarter / 4, 96)},
        {"a hi-hat in 16ths over kick and snare", Rule::Repeats, testing::inTimeOrder(drums), true},
        {"a three-note chord repeated in 16ths", Rule::ChordJacks, repeated({60, 64, 67}, kQuarter / 4, 48)},
        {"a line of two pitches", Rule::Middle, twoPitches()},
        {"strummed chords", Rule::Insane, strums()},
        {"long notes short and close", Rule::LongNotes, heldLine()},
        {"a melody played in", Rule::Grid, playedIn(), false, 16},
    };
    const auto clock = testing::clock120();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TrackNote> notes = c.notes;
        const auto raw = layoutLanes(notes, std::vector<bool>(notes.size(), true), clock, {{}, c.percussion});
        EXPECT_TRUE(breaks(c.rule, measure(notes, raw, clock), gridFit(notes, kBar)));
        EXPECT_EQ(gridFit(notes, kBar).performance, c.rule == Rule::Grid);
        for (TrackNote& n : notes) {
            n.startTick = c.quantize > 0 ? nearestGridTick(n.startTick, kBar, c.quantize) : n.startTick;
            n.endTick = std::max(n.endTick, n.startTick + 1);
        }
        notes = testing::inTimeOrder(notes);
        if (c.quantize > 0) {
            EXPECT_EQ(gridFit(notes, kBar).offShare[0], 0.0) << "quantized to 16ths";
        }

        const auto limits = setLimits(notes, clock, kAllDifficulties);
        std::vector<ChartReport> reports;
        for (std::size_t k = 0; k < kAllDifficulties.size(); ++k) {
            const Difficulty difficulty = kAllDifficulties[k];
            SCOPED_TRACE(difficultyName(difficulty));
            const auto lanes = chartLanes(notes, clock, limits[k], c.percussion);
            const auto fitted = fitLongNotes(notes, lanes, clock, {});
            const Measured m = measure(fitted, lanes, clock);
            constexpr std::array kRepeatBudget{0.05, 0.05, 0.15, 0.30, 0.45};
            EXPECT_LE(m.repeatShare, kRepeatBudget[k]);
            EXPECT_TRUE(difficulty >= Difficulty::Another || m.chordJacks == 0) << m.chordJacks;
            EXPECT_LE(m.middleShare, 0.6);
            EXPECT_EQ(m.closePairs, 0);
            EXPECT_LE(m.perSecond, 20.0);
            EXPECT_EQ(m.shortLongNotes, 0);
            EXPECT_EQ(m.quickPresses, 0);
            EXPECT_EQ(m.closeScratch, 0);
            if (!c.percussion) {
                // Accents from hyper up, never more than a tenth of the notes; below, none.
                EXPECT_LE(m.scratchShare, difficulty >= Difficulty::Hyper ? 0.10 : 0.0);
            }

            reports.push_back(reportChart(fitted, lanes, clock, difficulty));
            // The level sees no lane as special, and never falls when the chart is played faster.
            std::vector<int> mirrored = lanes;
            for (int& lane : mirrored) {
                lane = lane >= 0 && lane < kKeyCount ? kKeyCount - 1 - lane : lane;
            }
            EXPECT_EQ(reportChart(fitted, mirrored, clock, difficulty).level, reports.back().level);
            EXPECT_GE(reportChart(fitted, lanes, testing::clock240(), difficulty).level, reports.back().level);
        }
        keepLevelsRising(reports);
        for (std::size_t k = 1; k < reports.size(); ++k) {
            EXPECT_GT(reports[k].level, reports[k - 1].level) << k;
        }
    }
}

// The longest stretch of a chart with nothing to press while at least `minNotes` of the song's
// notes start in it, from the song's first note to its last: what leaves a player standing idle.
double longestIdleSeconds(const std::vector<TrackNote>& notes, const std::vector<int>& lanes,
                          const song::Timeline& clock, std::ptrdiff_t minNotes = 4)
{
    std::vector<double> presses{clock.seconds(notes.front().startTick)};
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (lanes[i] != kBackgroundLane) {
            presses.push_back(clock.seconds(notes[i].startTick));
        }
    }
    presses.push_back(clock.seconds(notes.back().startTick) + 1e-6);
    double longest = 0;
    for (std::size_t k = 1; k < presses.size(); ++k) {
        const auto starts = std::count_if(notes.begin(), notes.end(), [&](const TrackNote& n) {
            const double at = clock.seconds(n.startTick);
            return at > presses[k - 1] && at < presses[k];
        });
        longest = starts >= minNotes ? std::max(longest, presses[k] - presses[k - 1]) : longest;
    }
    return longest;
}

// `bars` bars of `part` from bar `from`: notes `perBar` a bar, cycling `pitches`.
std::vector<TrackNote> partBars(std::uint16_t part, int from, int bars, int perBar, std::vector<int> pitches,
                                bool drums = false)
{
    std::vector<TrackNote> notes;
    for (int i = 0; i < bars * perBar; ++i) {
        TrackNote n = note(std::int64_t{from} * kBar + i * (kBar / perBar), kBar / perBar / 2,
                           pitches[static_cast<std::size_t>(i) % pitches.size()], drums && i % 2 == 0 ? 110 : 80);
        n.part = part;
        n.drums = drums;
        notes.push_back(n);
    }
    return notes;
}

// `bars` bars of `part` from bar `from`, quiet and off the beat: one note every `everyBeats`
// beats, each an eighth after the beat, cycling `pitches`. What thinning weighs least.
std::vector<TrackNote> offBeats(std::uint16_t part, int from, int bars, int everyBeats, std::vector<int> pitches)
{
    std::vector<TrackNote> notes;
    for (int i = 0; i * everyBeats < bars * 4; ++i) {
        TrackNote n = note(std::int64_t{from} * kBar + i * everyBeats * kQuarter + kQuarter / 2, kQuarter / 4,
                           pitches[static_cast<std::size_t>(i) % pitches.size()], 50);
        n.part = part;
        notes.push_back(n);
    }
    return notes;
}

std::vector<TrackNote> partsTogether(std::initializer_list<std::vector<TrackNote>> parts)
{
    std::vector<TrackNote> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return testing::inTimeOrder(all);
}

struct FollowCase {
    const char* name;
    std::vector<TrackNote> notes;
    std::size_t chosenParts;
    std::vector<std::uint16_t> borrowedParts;  // the parts the stretches take, in order
};

std::vector<FollowCase> followCases()
{
    // 120 BPM: 32 bars are 64 s; the chosen parts rest for 12 to 16 bars (24 to 32 s).
    const std::vector<int> lead{72, 74, 76, 79, 81, 79, 76, 74};
    const std::vector<int> bass{36, 36, 43, 41};
    const std::vector<int> kit{36, 42, 38, 42};
    return {
        {"a lead resting 12 bars over bass and drums",
         partsTogether({partBars(0, 0, 10, 8, lead), partBars(0, 22, 10, 8, lead), partBars(1, 0, 32, 4, bass),
                        partBars(2, 0, 32, 8, kit, true)}),
         1,
         {1}},
        {"a lead entering at bar 16 over pads and drums",
         partsTogether({partBars(0, 16, 16, 8, lead), partBars(1, 0, 32, 1, {60}), partBars(1, 0, 32, 1, {64}),
                        partBars(2, 0, 32, 8, kit, true)}),
         1,
         {2}},
        {"a lead stopping at bar 8 while a counter-melody goes on",
         partsTogether(
             {partBars(0, 0, 8, 8, lead), partBars(1, 0, 32, 4, {60, 62, 64, 67}), partBars(2, 0, 32, 4, bass)}),
         1,
         {1}},
        {"two chosen parts trading phrases around a melody",
         partsTogether({partBars(0, 0, 8, 8, lead), partBars(1, 8, 8, 4, {65, 67}), partBars(1, 24, 8, 4, {65, 67}),
                        partBars(2, 0, 32, 2, {84, 86, 88})}),
         2,
         {2}},
        {"a busy lead going quiet off the beat while pads and drums play",
         partsTogether({partBars(0, 0, 16, 8, lead), offBeats(0, 16, 16, 6, lead), partBars(1, 0, 32, 1, {60}),
                        partBars(2, 0, 32, 8, kit, true)}),
         1,
         {}},
        {"a busy lead resting 12 s while a quiet part plays off the beat",
         partsTogether({partBars(0, 0, 10, 8, lead), partBars(0, 16, 16, 8, lead), offBeats(1, 0, 32, 2, {60, 64}),
                        partBars(2, 0, 32, 8, kit, true)}),
         1,
         {1}},
    };
}

// The longest stretch between lane notes over the notes `followed` lets into the lanes, where
// one of them starts.
double longestBareSeconds(const std::vector<TrackNote>& notes, const FollowedMusic& followed,
                          const std::vector<int>& lanes, const song::Timeline& clock)
{
    std::vector<TrackNote> taken;
    std::vector<int> takenLanes;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (followed.laneCandidates[i]) {
            taken.push_back(notes[i]);
            takenLanes.push_back(lanes[i]);
        }
    }
    return longestIdleSeconds(taken, takenLanes, clock, 1);
}

// One chart of a followed set (the k-th difficulty) against the lane rules; its report.
ChartReport expectFollowedChart(const FollowCase& c, const FollowedMusic& followed, const song::Timeline& clock,
                                const DifficultyLimits& limits, std::size_t k)
{
    std::vector<TrackNote> fitted;
    const auto lanes = candidateLanes(c.notes, followed, clock, limits, false, {}, fitted);
    EXPECT_LE(longestIdleSeconds(c.notes, lanes, clock), 8.0);
    // Among the notes the lanes may take, a lane note at least every kPulseSeconds.
    EXPECT_LE(longestBareSeconds(c.notes, followed, lanes, clock), kPulseSeconds);
    const Measured m = measure(fitted, lanes, clock);
    constexpr std::array kRepeatBudget{0.05, 0.05, 0.15, 0.30, 0.45};
    EXPECT_LE(m.repeatShare, kRepeatBudget[k]);
    EXPECT_TRUE(kAllDifficulties[k] >= Difficulty::Another || m.chordJacks == 0) << m.chordJacks;
    EXPECT_LE(m.middleShare, 0.6);
    EXPECT_EQ(m.closePairs, 0);
    EXPECT_EQ(m.closeScratch, 0);
    EXPECT_LE(m.scratchShare, kAllDifficulties[k] >= Difficulty::Hyper ? 0.10 : 0.0);
    for (std::size_t i = 0; i < c.notes.size(); ++i) {
        // Another part's note is struck only in a stretch borrowed from it.
        const bool borrowed = std::any_of(followed.stretches.begin(), followed.stretches.end(), [&](const auto& s) {
            return s.part == c.notes[i].part && c.notes[i].startTick >= s.startTick && c.notes[i].startTick < s.endTick;
        });
        EXPECT_TRUE(lanes[i] == kBackgroundLane || c.notes[i].part < c.chosenParts || borrowed) << i;
    }
    return reportChart(fitted, lanes, clock, kAllDifficulties[k]);
}

TEST(LaneRules, ChartsFollowingTheMusicLeaveNoLongIdleStretchAndKeepTheRules)
{
    const auto clock = testing::clock120();
    for (const FollowCase& c : followCases()) {
        SCOPED_TRACE(c.name);
        const FollowedMusic followed = followMusic(c.notes, c.chosenParts, clock);
        std::vector<std::uint16_t> borrowedParts;
        for (const auto& stretch : followed.stretches) {
            if (borrowedParts.empty() || borrowedParts.back() != stretch.part) {
                borrowedParts.push_back(stretch.part);
            }
        }
        EXPECT_EQ(borrowedParts, c.borrowedParts);
        const auto limits = setLimits(candidateNotes(c.notes, followed), clock, kAllDifficulties);
        std::vector<ChartReport> reports;
        for (std::size_t k = 0; k < kAllDifficulties.size(); ++k) {
            SCOPED_TRACE(difficultyName(kAllDifficulties[k]));
            reports.push_back(expectFollowedChart(c, followed, clock, limits[k], k));
        }
        keepLevelsRising(reports);
        for (std::size_t k = 1; k < reports.size(); ++k) {
            EXPECT_GT(reports[k].level, reports[k - 1].level) << k;
        }
    }
}

TEST(LaneRules, LongNoteLengthsAndGridsAreReadWithTheirUnits)
{
    using Unit = LongNoteLength::Unit;
    const std::vector<std::tuple<const char*, bool, double, Unit>> lengths{
        {"0.3s", true, 0.3, Unit::Seconds}, {"300ms", true, 0.3, Unit::Seconds}, {"1beat", true, 1, Unit::Beats},
        {"1.5 beats", true, 1.5, Unit::Beats}, {"24", false, 0, Unit::Seconds},   {"0s", false, 0, Unit::Seconds},
        {"-1s", false, 0, Unit::Seconds},     {"2 bars", false, 0, Unit::Seconds}, {"s", false, 0, Unit::Seconds}};
    for (const auto& [text, ok, value, unit] : lengths) {
        SCOPED_TRACE(text);
        const auto parsed = parseLongNoteLength(text);
        ASSERT_EQ(parsed.has_value(), ok);
        if (ok) {
            EXPECT_DOUBLE_EQ(parsed->value, value);
            EXPECT_EQ(parsed->unit, unit);
        }
    }
    // At 120 BPM a beat is 0.5 s: a held note of 0.4 s is long under 0.3s, not under 1beat.
    const std::vector<TrackNote> held{note(0, 384, 60, 90, true)};
    EXPECT_TRUE(fitLongNotes(held, std::vector<int>{3}, testing::clock120(), *parseLongNoteLength("0.3s"))[0].held);
    EXPECT_FALSE(fitLongNotes(held, std::vector<int>{3}, testing::clock120(), *parseLongNoteLength("1beat"))[0].held);

    EXPECT_EQ(parseQuantizeGrid("24"), 24u);
    EXPECT_EQ(parseQuantizeGrid("12"), std::nullopt);
    EXPECT_EQ(nearestGridTick(kBar - 10, kBar, 16), kBar) << "to the next measure's first line";
    EXPECT_EQ(nearestGridTick(kBar + 45, kBar, 32), kBar + 60);
}

}  // namespace
}  // namespace zentrowe::chartset
