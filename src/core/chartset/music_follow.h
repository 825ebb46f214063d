#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/chartset/difficulty.h"
#include "core/chartset/long_notes.h"
#include "core/chartset/track_note.h"
#include "core/song/timeline.h"

namespace zentrowe::chartset {

// A chart that follows the music keeps the player busy where the chosen parts rest: a rest is a
// gap between two of their strikes (or before the first, or after the last, while the song
// plays) longer than kRestMeasures measures or kRestSeconds, whichever is shorter.
inline constexpr std::int64_t kRestMeasures = 2;
inline constexpr double kRestSeconds = 4.0;

// A stretch of a rest whose lane notes come from another part: every note of `part` that starts
// in [startTick, endTick) may go to the lanes (of a drum part, only its accents).
struct BorrowedStretch {
    std::int64_t startTick = 0;
    std::int64_t endTick = 0;
    std::uint16_t part = 0;  // TrackNote::part

    friend bool operator==(const BorrowedStretch&, const BorrowedStretch&) = default;
};

// Which notes the lanes may take when they follow the music.
struct FollowedMusic {
    std::vector<bool> laneCandidates;        // per note
    std::vector<BorrowedStretch> stretches;  // in time order
    std::size_t chosenParts = 0;             // parts below it are chosen; 0 when nothing is borrowed
};

// The notes of parts 0 to chosenParts - 1 are the chosen ones and may always go to the lanes.
// In each rest, measure by measure, the part that carries the music takes the lanes: the most
// melodic part (the most strikes there, a single note counting twice a chord's, at least two
// strikes), else the bass (median below kBassMedianNote), else the drums' accents (a strike on a
// beat or at kAccentVelocity and above); a part already taking the lanes keeps them while it has
// at least half the best one's strikes. Neighbouring measures of one part make one stretch.
// A chosenParts of 0, or at least as many parts as there are, lets every note go to the lanes
// and borrows nothing. Notes must be in time order.
FollowedMusic followMusic(std::span<const TrackNote> notes, std::size_t chosenParts, const song::Timeline& clock);

// `followed` with the lanes kept to the parts below `chosenParts` and nothing borrowed: the lanes
// of a part's own set when the charts do not follow the music. A chosenParts of 0 keeps it as it is.
void keepToChosenParts(FollowedMusic& followed, std::span<const TrackNote> notes, std::size_t chosenParts);

// The lanes of one chart (one per note, kBackgroundLane for the rest) made as chartLanes and
// fitLongNotes make them, over candidateNotes alone, so that the caps and levels count those;
// `fitted` gets every note, long notes as fitted. A flag list of another length lets every note in.
std::vector<int> candidateLanes(std::span<const TrackNote> notes, const FollowedMusic& followed,
                                const song::Timeline& clock, const DifficultyLimits& limits, bool percussion,
                                const LongNoteLength& longNoteMinimum, std::vector<TrackNote>& fitted);

// The notes `followed` lets into the lanes, in order (all of them for a flag list of another
// length). Where something is borrowed, a borrowed note and every chosen note but a drum's carry
// the music (TrackNote::carries), so that no part of the song is thinned away for another's
// sake; a drum's accent borrowed is placed as a key note: the drum kit's own scratch rule is for
// the drums chosen.
std::vector<TrackNote> candidateNotes(std::span<const TrackNote> notes, const FollowedMusic& followed);

}  // namespace zentrowe::chartset
