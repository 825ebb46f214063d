#include "core/chartset/music_follow.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include "core/chartset/lane_layout.h"
#include "core/chartset/part_selection.h"

namespace zentrowe::chartset {

namespace {

// What a part can carry when the chosen parts rest, in the order the lanes prefer it.
enum class Carrier { Melodic, Bass, Drums };

// A tick range [start, end) in which the chosen parts strike nothing.
using TickRange = std::pair<std::int64_t, std::int64_t>;

bool isAccent(const TrackNote& note, std::int32_t ticksPerMeasure)
{
    return note.velocity >= kAccentVelocity || beatStrength(note.startTick, ticksPerMeasure) >= 2;
}

bool isRest(std::int64_t fromTick, std::int64_t toTick, const song::Timeline& clock)
{
    return toTick - fromTick > kRestMeasures * clock.ticksPerMeasure() ||
           clock.seconds(fromTick, toTick) > kRestSeconds;
}

// The rests of the chosen parts while the song plays: before their first strike, between two
// strikes, after their last; each without the strikes that bound it.
std::vector<TickRange> restsOf(std::span<const TrackNote> notes, std::size_t chosenParts, const song::Timeline& clock)
{
    std::vector<std::int64_t> strikes;
    for (const TrackNote& note : notes) {
        if (note.part < chosenParts && (strikes.empty() || strikes.back() != note.startTick)) {
            strikes.push_back(note.startTick);
        }
    }
    const std::int64_t songStart = notes.front().startTick;
    const std::int64_t songEnd = notes.back().startTick + 1;
    if (strikes.empty()) {
        return {{songStart, songEnd}};
    }
    std::vector<TickRange> rests;
    if (isRest(songStart, strikes.front(), clock)) {
        rests.emplace_back(songStart, strikes.front());
    }
    for (std::size_t k = 1; k < strikes.size(); ++k) {
        if (isRest(strikes[k - 1], strikes[k], clock)) {
            rests.emplace_back(strikes[k - 1] + 1, strikes[k]);
        }
    }
    if (isRest(strikes.back(), songEnd, clock)) {
        rests.emplace_back(strikes.back() + 1, songEnd);
    }
    return rests;
}

// A part's strikes in one measure of a rest: how melodic (a single note 1, a chord 0.5), how many,
// how many of them accents.
struct Tally {
    double melodic = 0;
    int strikes = 0;
    int accents = 0;
};

std::map<std::uint16_t, Tally> tallyParts(std::span<const TrackNote> window, std::size_t chosenParts,
                                          std::int32_t ticksPerMeasure)
{
    std::map<std::pair<std::int64_t, std::uint16_t>, std::pair<int, bool>> struck;  // notes, any accent
    for (const TrackNote& note : window) {
        if (note.part >= chosenParts) {
            auto& [count, accent] = struck[{note.startTick, note.part}];
            ++count;
            accent = accent || isAccent(note, ticksPerMeasure);
        }
    }
    std::map<std::uint16_t, Tally> tallies;
    for (const auto& [where, strike] : struck) {
        Tally& tally = tallies[where.second];
        tally.melodic += strike.first == 1 ? 1.0 : 0.5;
        ++tally.strikes;
        tally.accents += strike.second ? 1 : 0;
    }
    return tallies;
}

// The part of `kind` that carries a measure, by `score`, at least `least`; the part before keeps
// it while it has half the best one's score.
std::optional<std::uint16_t> bestOfKind(const std::map<std::uint16_t, Tally>& tallies,
                                        const std::vector<Carrier>& carriers, Carrier kind,
                                        double (*score)(const Tally&), double least,
                                        std::optional<std::uint16_t> before)
{
    std::optional<std::uint16_t> best;
    double bestScore = 0;
    for (const auto& [part, tally] : tallies) {
        if (carriers[part] == kind && score(tally) >= least && score(tally) > bestScore) {
            best = part;
            bestScore = score(tally);
        }
    }
    if (best && before && tallies.contains(*before) && carriers[*before] == kind) {
        const double kept = score(tallies.at(*before));
        if (kept >= least && kept >= bestScore / 2) {
            return before;
        }
    }
    return best;
}

std::optional<std::uint16_t> carrierOf(const std::map<std::uint16_t, Tally>& tallies,
                                       const std::vector<Carrier>& carriers, std::optional<std::uint16_t> before)
{
    if (auto melodic = bestOfKind(
            tallies, carriers, Carrier::Melodic, [](const Tally& t) { return t.melodic; }, 1.0, before);
        melodic && tallies.at(*melodic).strikes >= 2) {
        return melodic;
    }
    if (auto bass = bestOfKind(
            tallies, carriers, Carrier::Bass, [](const Tally& t) { return double(t.strikes); }, 1.0, before)) {
        return bass;
    }
    return bestOfKind(
        tallies, carriers, Carrier::Drums, [](const Tally& t) { return double(t.accents); }, 1.0, before);
}

std::vector<Carrier> carriersOf(std::span<const TrackNote> notes)
{
    std::vector<Carrier> carriers;
    for (const PartRole role : partRoles(notes)) {
        carriers.push_back(role == PartRole::Drums  ? Carrier::Drums
                           : role == PartRole::Bass ? Carrier::Bass
                                                    : Carrier::Melodic);
    }
    return carriers;
}

std::span<const TrackNote> notesStartingIn(std::span<const TrackNote> notes, std::int64_t from, std::int64_t to)
{
    const auto first = std::lower_bound(notes.begin(), notes.end(), from,
                                        [](const TrackNote& note, std::int64_t tick) { return note.startTick < tick; });
    const auto last = std::lower_bound(first, notes.end(), to,
                                       [](const TrackNote& note, std::int64_t tick) { return note.startTick < tick; });
    return {first, last};
}

// Each rest measure by measure: the part that carries it, neighbours of one part joined.
std::vector<BorrowedStretch> borrowedStretches(std::span<const TrackNote> notes, std::size_t chosenParts,
                                               const song::Timeline& clock)
{
    const std::int32_t measure = clock.ticksPerMeasure();
    const auto carriers = carriersOf(notes);
    std::vector<BorrowedStretch> stretches;
    for (const auto& [restStart, restEnd] : restsOf(notes, chosenParts, clock)) {
        std::optional<std::uint16_t> before;
        for (std::int64_t from = restStart; from < restEnd; from = (from / measure + 1) * measure) {
            const std::int64_t to = std::min(restEnd, (from / measure + 1) * measure);
            before = carrierOf(tallyParts(notesStartingIn(notes, from, to), chosenParts, measure), carriers, before);
            if (!before) {
                continue;
            }
            if (!stretches.empty() && stretches.back().part == *before && stretches.back().endTick == from) {
                stretches.back().endTick = to;
            } else {
                stretches.push_back({from, to, *before});
            }
        }
    }
    return stretches;
}

}  // namespace

FollowedMusic followMusic(std::span<const TrackNote> notes, std::size_t chosenParts, const song::Timeline& clock)
{
    FollowedMusic followed;
    followed.laneCandidates.assign(notes.size(), true);
    const bool others =
        std::any_of(notes.begin(), notes.end(), [&](const TrackNote& note) { return note.part >= chosenParts; });
    if (chosenParts == 0 || !others) {
        return followed;
    }
    followed.chosenParts = chosenParts;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        followed.laneCandidates[i] = notes[i].part < chosenParts;
    }
    followed.stretches = borrowedStretches(notes, chosenParts, clock);
    const auto carriers = carriersOf(notes);
    for (const BorrowedStretch& stretch : followed.stretches) {
        const auto taken = notesStartingIn(notes, stretch.startTick, stretch.endTick);
        const auto first = static_cast<std::size_t>(taken.data() - notes.data());
        for (std::size_t i = first; i < first + taken.size(); ++i) {
            const bool drums = carriers[stretch.part] == Carrier::Drums;
            followed.laneCandidates[i] =
                followed.laneCandidates[i] ||
                (notes[i].part == stretch.part && (!drums || isAccent(notes[i], clock.ticksPerMeasure())));
        }
    }
    return followed;
}

void keepToChosenParts(FollowedMusic& followed, std::span<const TrackNote> notes, std::size_t chosenParts)
{
    if (chosenParts == 0) {
        return;
    }
    followed.stretches.clear();
    followed.chosenParts = 0;  // nothing borrowed: the notes are weighed as one part's
    followed.laneCandidates.assign(notes.size(), false);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        followed.laneCandidates[i] = notes[i].part < chosenParts;
    }
}

std::vector<TrackNote> candidateNotes(std::span<const TrackNote> notes, const FollowedMusic& followed)
{
    if (followed.laneCandidates.size() != notes.size()) {
        return {notes.begin(), notes.end()};
    }
    std::vector<TrackNote> candidates;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (followed.laneCandidates[i]) {
            candidates.push_back(notes[i]);
            const bool borrowed = followed.chosenParts > 0 && notes[i].part >= followed.chosenParts;
            candidates.back().carries = followed.chosenParts > 0 && (borrowed || !notes[i].drums);
            candidates.back().drums = notes[i].drums && !borrowed;
        }
    }
    return candidates;
}

std::vector<int> candidateLanes(std::span<const TrackNote> notes, const FollowedMusic& followed,
                                const song::Timeline& clock, const DifficultyLimits& limits, bool percussion,
                                const LongNoteLength& longNoteMinimum, std::vector<TrackNote>& fitted)
{
    const bool all = followed.laneCandidates.size() != notes.size();
    std::vector<std::size_t> index;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (all || followed.laneCandidates[i]) {
            index.push_back(i);
        }
    }
    const auto candidates = candidateNotes(notes, followed);
    const auto placed = chartLanes(candidates, clock, limits, percussion);
    const auto placedFitted = fitLongNotes(candidates, placed, clock, longNoteMinimum);
    fitted.assign(notes.begin(), notes.end());
    std::vector<int> lanes(notes.size(), kBackgroundLane);
    for (std::size_t k = 0; k < index.size(); ++k) {
        lanes[index[k]] = placed[k];
        fitted[index[k]] = placedFitted[k];
        fitted[index[k]].drums = notes[index[k]].drums;
    }
    return lanes;
}

}  // namespace zentrowe::chartset
