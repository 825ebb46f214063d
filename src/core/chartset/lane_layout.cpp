#include "core/chartset/lane_layout.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <unordered_map>

namespace zentrowe::chartset {

namespace {

// Weights of the soft rules, in keys of distance from where pitch order wants a note: going
// against the melody's direction costs three keys, more than the window's lag behind a long run
// (whose notes all sit mid-window), so a run climbs to key 7 and starts again lower, as a
// staircase; unbalancing the hands costs more than any distance, so it gives way only to the
// hard rules (held lanes, chords, repeats).
constexpr double kContourPenalty = 3.0;
constexpr double kBalancePenalty = 100.0;
// A repeat within the window costs two keys, so that a repeated pitch alternates between its key
// and a neighbour rather than spending the budget of repeats; a note on a crowded middle costs
// more than any distance, so the phrase moves out to keys 1, 2, 6 and 7.
constexpr double kRepeatPenalty = 2.0;
constexpr double kMiddlePenalty = 10.0;

constexpr int kHandMeasures = 4;
constexpr std::int64_t kNoTick = std::numeric_limits<std::int64_t>::min();

// Keys 1-3 are the left hand, 5-7 the right; key 4 and the scratch belong to neither.
int sideOf(int lane)
{
    if (lane >= 0 && lane <= 2) {
        return 0;
    }
    if (lane >= 4 && lane <= 6) {
        return 1;
    }
    return -1;
}

// Notes per hand in each measure, and whether one more on a side keeps the 4 measures that end
// with its measure balanced. Only that window is asked: the windows reaching into measures not
// laid out yet would hold the notes still to come, and asking them now would crowd every
// measure's first notes onto one hand's slack. Each window is thus balanced when its last
// measure is laid out, the notes of that measure having been checked against it.
class HandCounts {
public:
    explicit HandCounts(double ratio) : m_ratio(ratio) { }

    bool allows(std::int64_t measure, int side) const
    {
        std::array<int, 2> sum{};
        for (std::int64_t m = measure - (kHandMeasures - 1); m <= measure; ++m) {
            if (const auto found = m_perMeasure.find(m); found != m_perMeasure.end()) {
                sum[0] += found->second[0];
                sum[1] += found->second[1];
            }
        }
        return handsBalanced(sum[static_cast<std::size_t>(side)], sum[static_cast<std::size_t>(1 - side)], m_ratio);
    }

    void add(std::int64_t measure, int side) { ++m_perMeasure[measure][static_cast<std::size_t>(side)]; }

private:
    double m_ratio;
    std::unordered_map<std::int64_t, std::array<int, 2>> m_perMeasure;
};

struct LaneState {
    double lastSeconds = -std::numeric_limits<double>::infinity();  // start, or a held note's end
    double lastStartSeconds = -std::numeric_limits<double>::infinity();
    std::int64_t heldUntilTick = kNoTick;
};

// The pitch-order key of every note in lanes: its window is the notes of its own part's phrase
// that start within a measure either side. Upcoming notes belong in it as much as past ones: a
// phrase's first note should already know where the phrase goes. Each part is ordered by its own
// pitches: a bass line under a melody would otherwise push every melody note to the right.
std::vector<double> pitchOrderKeys(std::span<const TrackNote> notes, const std::vector<bool>& inLanes,
                                   const std::vector<int>& phrases, std::int32_t ticksPerMeasure)
{
    std::map<std::uint16_t, std::vector<std::size_t>> keptByPart;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (inLanes[i]) {
            keptByPart[notes[i].part].push_back(i);
        }
    }
    std::vector<double> keys(notes.size(), 3.0);
    for (const auto& [part, kept] : keptByPart) {
        std::array<int, 128> counts{};
        std::size_t begin = 0;
        std::size_t end = 0;
        for (const std::size_t i : kept) {
            const int phrase = phrases[i];
            const std::int64_t tick = notes[i].startTick;
            // Both ends only move forward: notes are in time order and a part's phrase numbers
            // never fall.
            while (end < kept.size() &&
                   (phrases[kept[end]] < phrase ||
                    (phrases[kept[end]] == phrase && notes[kept[end]].startTick <= tick + ticksPerMeasure))) {
                ++counts[notes[kept[end]].note & 0x7F];
                ++end;
            }
            while (begin < end &&
                   (phrases[kept[begin]] < phrase || notes[kept[begin]].startTick < tick - ticksPerMeasure)) {
                --counts[notes[kept[begin]].note & 0x7F];
                ++begin;
            }
            keys[i] = pitchOrderKey(notes[i].note & 0x7F, counts);
        }
    }
    return keys;
}

// For each note, whether it is the first in lanes of a phrase of its part.
std::vector<bool> phraseStartsOf(std::span<const TrackNote> notes, const std::vector<bool>& inLanes,
                                 const std::vector<int>& phrases)
{
    std::map<std::uint16_t, int> lastPhrase;
    std::vector<bool> starts(notes.size(), false);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (!inLanes[i]) {
            continue;
        }
        const auto [last, first] = lastPhrase.try_emplace(notes[i].part, phrases[i]);
        starts[i] = first || last->second != phrases[i];
        last->second = phrases[i];
    }
    return starts;
}

// The layout as it goes, one strike (the notes of one start tick) after another.
class LanePlanner {
public:
    LanePlanner(std::span<const TrackNote> notes, const std::vector<bool>& inLanes, const song::Timeline& clock,
                const LayoutOptions& options)
        : m_notes(notes),
          m_inLanes(inLanes),
          m_clock(clock),
          m_options(options),
          m_measureTicks(clock.ticksPerMeasure()),
          m_phrases(phraseNumbers(notes, inLanes, m_measureTicks)),
          m_targets(pitchOrderKeys(notes, inLanes, m_phrases, m_measureTicks)),
          m_phraseStarts(phraseStartsOf(notes, inLanes, m_phrases)),
          m_hands(options.limits.handRatio),
          m_lanes(notes.size(), kBackgroundLane)
    {
    }

    std::vector<int> run()
    {
        std::vector<std::size_t> chord;
        for (std::size_t first = 0; first < m_notes.size();) {
            m_tick = m_notes[first].startTick;
            chord.clear();
            for (; first < m_notes.size() && m_notes[first].startTick == m_tick; ++first) {
                if (m_inLanes[first]) {
                    chord.push_back(first);
                }
            }
            if (!chord.empty()) {
                std::stable_sort(chord.begin(), chord.end(),
                                 [&](std::size_t a, std::size_t b) { return m_notes[a].note < m_notes[b].note; });
                placeStrike(chord);
            }
        }
        return std::move(m_lanes);
    }

private:
    struct Previous {
        int note;
        int lane;
        int phrase;
    };

    void placeStrike(std::vector<std::size_t>& chord)
    {
        m_seconds = m_clock.seconds(m_tick);
        m_measure = m_tick / m_measureTicks;
        // A drum part's strikes keep the scratch rule in a set drawn on several parts.
        const auto strikes = [&](std::size_t index) { return m_options.percussion || m_notes[index].drums; };
        if (m_options.limits.scratchLane) {
            takeScratchNote(chord, std::any_of(chord.begin(), chord.end(), strikes));
        }
        const std::vector<int> freeKeys = keysFreeFor(chord.size());
        // More notes than free keys: the lowest give way, the top voice being the tune.
        const std::size_t dropped = chord.size() > freeKeys.size() ? chord.size() - freeKeys.size() : 0;
        const std::size_t count = chord.size() - dropped;
        std::size_t lowest = 0;  // index in freeKeys the next note may take
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t index = chord[dropped + j];
            const std::size_t best = bestKey(index, freeKeys, lowest, freeKeys.size() - (count - j), count);
            place(index, freeKeys[best]);
            lowest = best + 1;
        }
        // Each part's contour follows its own top voice: the highest of its notes struck now.
        std::vector<std::uint16_t> seen;
        for (auto top = chord.rbegin(); top != chord.rend(); ++top) {
            const TrackNote& struck = m_notes[*top];
            if (std::find(seen.begin(), seen.end(), struck.part) == seen.end()) {
                seen.push_back(struck.part);
                if (m_lanes[*top] != kBackgroundLane) {
                    m_previous[struck.part] = Previous{struck.note, m_lanes[*top], m_phrases[*top]};
                }
            }
        }
    }

    // A drum strike's loudest note by the scratch rule, else the lowest note of an accent, goes
    // to the scratch and leaves the strike.
    void takeScratchNote(std::vector<std::size_t>& chord, bool drums)
    {
        if (drums) {
            if (isFree(kScratchLane, false)) {
                placeScratch(chord);
            }
        } else if (accentFits(chord)) {
            place(chord.front(), kScratchLane);
            ++m_scratchAccents;
            chord.erase(chord.begin());
        }
    }

    void placeScratch(std::vector<std::size_t>& chord)
    {
        const auto strikes = [&](std::size_t index) { return m_options.percussion || m_notes[index].drums; };
        const auto loudest = std::max_element(chord.begin(), chord.end(), [&](std::size_t a, std::size_t b) {
            return std::make_pair(strikes(a), m_notes[a].velocity) < std::make_pair(strikes(b), m_notes[b].velocity);
        });
        if (suitsScratch(m_notes[*loudest], true, m_measureTicks)) {
            place(*loudest, kScratchLane);
            chord.erase(loudest);
        }
    }

    // True when the strike (its notes in pitch order) is an accent the scratch may take now: its
    // lowest note is not held, the scratch is free and struck no note within the repeat window,
    // and the share of the notes placed has room for it (accentStrength).
    bool accentFits(const std::vector<std::size_t>& chord) const
    {
        const LayoutLimits& limits = m_options.limits;
        if (limits.scratchShare <= 0 || chord.empty() || m_notes[chord.front()].held) {
            return false;
        }
        const bool startsPhrase =
            std::any_of(chord.begin(), chord.end(), [&](std::size_t i) { return m_phraseStarts[i]; });
        const auto placedAfter = static_cast<double>(m_placed) + static_cast<double>(chord.size());
        const double room = limits.scratchShare * placedAfter + 1 - static_cast<double>(m_scratchAccents);
        const int strength = accentStrength(startsPhrase, chord.size(), m_tick, m_measureTicks);
        return strength > 0 && room >= 3 - strength && isFree(kScratchLane, false);
    }

    // The keys a strike of `chordSize` notes may take: not held, no faster repeat than the
    // limit, and a repeat within the window only while the budget of repeats has room for the
    // whole strike (and, for a chord, only where chord jacks are allowed).
    std::vector<int> keysFreeFor(std::size_t chordSize) const
    {
        const LayoutLimits& limits = m_options.limits;
        const auto size = static_cast<double>(chordSize);
        const bool jacks =
            (chordSize == 1 || limits.chordJacks) &&
            static_cast<double>(m_repeats) + size <= limits.repeatShare * (static_cast<double>(m_placed) + size);
        std::vector<int> keys;
        for (int lane = 0; lane < kKeyCount; ++lane) {
            if (isFree(lane, jacks)) {
                keys.push_back(lane);
            }
        }
        return keys;
    }

    bool isFree(int lane, bool repeatsAllowed) const
    {
        const LaneState& was = m_state[static_cast<std::size_t>(lane)];
        return m_tick > was.heldUntilTick &&
               repeatAllowed(was.lastSeconds, m_seconds, m_options.limits.minRepeatSeconds) &&
               (repeatsAllowed || !isRepeat(lane));
    }

    bool isRepeat(int lane) const
    {
        return m_seconds - m_state[static_cast<std::size_t>(lane)].lastStartSeconds < kRepeatWindowSeconds;
    }

    std::size_t bestKey(std::size_t index, const std::vector<int>& freeKeys, std::size_t lowest, std::size_t highest,
                        std::size_t count) const
    {
        const int note = m_notes[index].note;
        std::size_t best = lowest;
        double bestCost = std::numeric_limits<double>::infinity();
        // Of two keys alike, a rising line takes the right one.
        const Previous* previous = previousOf(index);
        const bool rising = previous != nullptr && note > previous->note;
        for (std::size_t k = lowest; k <= highest; ++k) {
            const double cost = costOf(index, freeKeys[k], count);
            if (cost < bestCost - 1e-9 || (rising && cost < bestCost + 1e-9)) {
                bestCost = cost;
                best = k;
            }
        }
        return best;
    }

    double costOf(std::size_t index, int lane, std::size_t count) const
    {
        const int note = m_notes[index].note;
        double cost = std::abs(lane - m_targets[index]);
        const Previous* previous = previousOf(index);
        if (count == 1 && previous != nullptr && previous->phrase == m_phrases[index]) {
            const bool against =
                (note > previous->note && lane <= previous->lane) || (note < previous->note && lane >= previous->lane);
            cost += against ? kContourPenalty : 0.0;
        }
        cost += m_options.limits.repeatShare < 1 && isRepeat(lane) ? kRepeatPenalty : 0.0;
        if (isMiddle(lane) && middleFull()) {
            cost += kMiddlePenalty;
        }
        if (const int side = sideOf(lane); side >= 0 && !m_hands.allows(m_measure, side)) {
            cost += kBalancePenalty;
        }
        return cost;
    }

    // The last note placed of `index`'s part (nullptr before its first).
    const Previous* previousOf(std::size_t index) const
    {
        const auto found = m_previous.find(m_notes[index].part);
        return found == m_previous.end() ? nullptr : &found->second;
    }

    static bool isMiddle(int lane) { return lane >= 2 && lane <= 4; }

    // True when one more note on keys 3-5 would take their share past the limit.
    bool middleFull() const
    {
        const double share = m_options.limits.middleShare;
        return share < 1 && static_cast<double>(m_middleNotes + 1) > share * static_cast<double>(m_keyNotes + 1);
    }

    void place(std::size_t index, int lane)
    {
        m_lanes[index] = lane;
        LaneState& now = m_state[static_cast<std::size_t>(lane)];
        const TrackNote& note = m_notes[index];
        m_repeats += isRepeat(lane) ? 1 : 0;
        ++m_placed;
        m_keyNotes += lane < kKeyCount ? 1 : 0;
        m_middleNotes += isMiddle(lane) ? 1 : 0;
        now.lastSeconds = note.held ? m_clock.seconds(note.endTick) : m_seconds;
        now.lastStartSeconds = m_seconds;
        now.heldUntilTick = note.held ? note.endTick : kNoTick;
        if (const int side = sideOf(lane); side >= 0) {
            m_hands.add(m_measure, side);
        }
    }

    std::span<const TrackNote> m_notes;
    const std::vector<bool>& m_inLanes;
    const song::Timeline& m_clock;
    const LayoutOptions& m_options;
    std::int32_t m_measureTicks;
    std::vector<int> m_phrases;
    std::vector<double> m_targets;
    std::vector<bool> m_phraseStarts;
    HandCounts m_hands;
    std::vector<int> m_lanes;
    std::array<LaneState, kScratchLane + 1> m_state{};
    std::map<std::uint16_t, Previous> m_previous;  // by part
    std::int64_t m_tick = 0;
    double m_seconds = 0;
    std::int64_t m_measure = 0;
    std::int64_t m_placed = 0;
    std::int64_t m_repeats = 0;
    std::int64_t m_keyNotes = 0;
    std::int64_t m_middleNotes = 0;
    std::int64_t m_scratchAccents = 0;
};

}  // namespace

double pitchOrderKey(int note, const std::array<int, 128>& windowCounts)
{
    int distinct = 0;
    int rank = 0;
    for (int pitch = 0; pitch < 128; ++pitch) {
        if (windowCounts[static_cast<std::size_t>(pitch)] > 0) {
            rank += pitch < note ? 1 : 0;
            ++distinct;
        }
    }
    if (distinct <= 1) {
        return 3.0;
    }
    // Two pitches sit on keys 3 and 5, three on 2, 4 and 6: a few pitches need no leaps across
    // the keyboard; four or more use all seven keys.
    const double span = std::min(6.0, 2.0 * (distinct - 1));
    const double key = 3.0 - span / 2 + rank * span / (distinct - 1);
    return std::clamp(key, 0.0, 6.0);
}

std::vector<int> phraseNumbers(std::span<const TrackNote> notes, const std::vector<bool>& inLanes,
                               std::int32_t ticksPerMeasure)
{
    struct PartPhrase {
        int number = 0;
        std::optional<std::int64_t> soundingUntil;
    };
    std::map<std::uint16_t, PartPhrase> parts;
    std::vector<int> phrases(notes.size(), 0);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        PartPhrase& part = parts[notes[i].part];
        if (inLanes[i]) {
            if (part.soundingUntil && 2 * (notes[i].startTick - *part.soundingUntil) >= ticksPerMeasure) {
                ++part.number;
            }
            part.soundingUntil =
                std::max(part.soundingUntil.value_or(kNoTick), std::max(notes[i].endTick, notes[i].startTick));
        }
        phrases[i] = part.number;
    }
    return phrases;
}

bool repeatAllowed(double lastSeconds, double seconds, double minRepeatSeconds)
{
    return seconds - lastSeconds >= minRepeatSeconds;
}

bool handsBalanced(int mine, int other, double ratio)
{
    return mine + 1 <= ratio * other + kHandSlack;
}

int beatStrength(std::int64_t tick, std::int32_t ticksPerMeasure)
{
    const auto on = [&](std::int64_t parts) { return (tick * parts) % ticksPerMeasure == 0; };
    if (ticksPerMeasure <= 0) {
        return 0;
    }
    if (on(1)) {
        return 4;
    }
    if (on(2)) {
        return 3;
    }
    if (on(4)) {
        return 2;
    }
    return on(8) ? 1 : 0;
}

bool suitsScratch(const TrackNote& note, bool loudestOfChord, std::int32_t ticksPerMeasure)
{
    return loudestOfChord && note.velocity >= kAccentVelocity && beatStrength(note.startTick, ticksPerMeasure) >= 3;
}

int accentStrength(bool startsPhrase, std::size_t notes, std::int64_t tick, std::int32_t ticksPerMeasure)
{
    // A strum played in, or humanised by its writer, lands a few ticks off the beat it is on.
    const std::int64_t eighth = std::max(ticksPerMeasure / 8, 1);
    const std::int64_t nearest = (tick + eighth / 2) / eighth * eighth;
    const int beat = std::abs(tick - nearest) * 48 <= ticksPerMeasure ? beatStrength(nearest, ticksPerMeasure) : 0;
    if (startsPhrase || beat == 4) {
        return 2;
    }
    return beat == 3 || (notes > 1 && beat >= 1) ? 1 : 0;
}

std::vector<int> layoutLanes(std::span<const TrackNote> notes, const std::vector<bool>& inLanes,
                             const song::Timeline& clock, const LayoutOptions& options)
{
    if (inLanes.size() != notes.size()) {
        return std::vector<int>(notes.size(), kBackgroundLane);
    }
    return LanePlanner(notes, inLanes, clock, options).run();
}

}  // namespace zentrowe::chartset
