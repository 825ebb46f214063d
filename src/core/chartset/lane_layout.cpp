#include "core/chartset/lane_layout.h"

#include <algorithm>
#include <cmath>
#include <limits>
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
    std::int64_t heldUntilTick = kNoTick;
};

// The pitch-order key of every note in lanes: its window is the notes of its phrase that start
// within a measure either side. Upcoming notes belong in it as much as past ones: a phrase's
// first note should already know where the phrase goes.
std::vector<double> pitchOrderKeys(std::span<const TrackNote> notes, const std::vector<bool>& inLanes,
                                   const std::vector<int>& phrases, std::int32_t ticksPerMeasure)
{
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (inLanes[i]) {
            kept.push_back(i);
        }
    }
    std::vector<double> keys(notes.size(), 3.0);
    std::array<int, 128> counts{};
    std::size_t begin = 0;
    std::size_t end = 0;
    for (const std::size_t i : kept) {
        const int phrase = phrases[i];
        const std::int64_t tick = notes[i].startTick;
        // Both ends only move forward: notes are in time order and phrase numbers never fall.
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
    return keys;
}

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
    std::vector<int> phrases(notes.size(), 0);
    int phrase = 0;
    std::optional<std::int64_t> soundingUntil;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (inLanes[i]) {
            if (soundingUntil && 2 * (notes[i].startTick - *soundingUntil) >= ticksPerMeasure) {
                ++phrase;
            }
            soundingUntil = std::max(soundingUntil.value_or(kNoTick), std::max(notes[i].endTick, notes[i].startTick));
        }
        phrases[i] = phrase;
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

std::vector<int> layoutLanes(std::span<const TrackNote> notes, const std::vector<bool>& inLanes,
                             const song::TempoClock& clock, const LayoutOptions& options)
{
    std::vector<int> lanes(notes.size(), kBackgroundLane);
    if (inLanes.size() != notes.size()) {
        return lanes;
    }
    const std::int32_t measureTicks = clock.ticksPerMeasure();
    const std::vector<int> phrases = phraseNumbers(notes, inLanes, measureTicks);
    const std::vector<double> targets = pitchOrderKeys(notes, inLanes, phrases, measureTicks);
    const double minRepeat = options.limits.minRepeatSeconds;

    std::array<LaneState, kScratchLane + 1> state{};
    HandCounts hands(options.limits.handRatio);
    struct Previous {
        int note;
        int lane;
        int phrase;
    };
    std::optional<Previous> previous;

    std::vector<std::size_t> chord;
    for (std::size_t first = 0; first < notes.size();) {
        const std::int64_t tick = notes[first].startTick;
        chord.clear();
        std::size_t next = first;
        for (; next < notes.size() && notes[next].startTick == tick; ++next) {
            if (inLanes[next]) {
                chord.push_back(next);
            }
        }
        first = next;
        if (chord.empty()) {
            continue;
        }
        std::stable_sort(chord.begin(), chord.end(),
                         [&](std::size_t a, std::size_t b) { return notes[a].note < notes[b].note; });
        const double seconds = clock.seconds(tick);
        const std::int64_t measure = tick / measureTicks;
        const auto isFree = [&](int lane) {
            const LaneState& was = state[static_cast<std::size_t>(lane)];
            return tick > was.heldUntilTick && repeatAllowed(was.lastSeconds, seconds, minRepeat);
        };
        const auto place = [&](std::size_t index, int lane) {
            lanes[index] = lane;
            LaneState& now = state[static_cast<std::size_t>(lane)];
            now.lastSeconds = notes[index].held ? clock.seconds(notes[index].endTick) : seconds;
            now.heldUntilTick = notes[index].held ? notes[index].endTick : kNoTick;
            if (const int side = sideOf(lane); side >= 0) {
                hands.add(measure, side);
            }
        };

        // A drum part's strikes keep the scratch rule in a set drawn on several parts.
        const auto strikes = [&](std::size_t index) { return options.percussion || notes[index].drums; };
        if (std::any_of(chord.begin(), chord.end(), strikes) && isFree(kScratchLane)) {
            const auto loudest = std::max_element(chord.begin(), chord.end(), [&](std::size_t a, std::size_t b) {
                return std::make_pair(strikes(a), notes[a].velocity) < std::make_pair(strikes(b), notes[b].velocity);
            });
            if (suitsScratch(notes[*loudest], true, measureTicks)) {
                place(*loudest, kScratchLane);
                chord.erase(loudest);
            }
        }

        std::vector<int> freeKeys;
        for (int lane = 0; lane < kKeyCount; ++lane) {
            if (isFree(lane)) {
                freeKeys.push_back(lane);
            }
        }
        // More notes than free keys: the lowest give way, the top voice being the tune.
        const std::size_t dropped = chord.size() > freeKeys.size() ? chord.size() - freeKeys.size() : 0;
        const std::size_t count = chord.size() - dropped;
        std::size_t lowest = 0;  // index in freeKeys the next note may take
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t index = chord[dropped + j];
            const int note = notes[index].note;
            const std::size_t highest = freeKeys.size() - (count - j);
            std::size_t best = lowest;
            double bestCost = std::numeric_limits<double>::infinity();
            // Of two keys alike, a rising line takes the right one.
            const bool rising = previous && note > previous->note;
            for (std::size_t k = lowest; k <= highest; ++k) {
                const int lane = freeKeys[k];
                double cost = std::abs(lane - targets[index]);
                if (count == 1 && previous && previous->phrase == phrases[index]) {
                    const bool against = (note > previous->note && lane <= previous->lane) ||
                                         (note < previous->note && lane >= previous->lane);
                    cost += against ? kContourPenalty : 0.0;
                }
                if (const int side = sideOf(lane); side >= 0 && !hands.allows(measure, side)) {
                    cost += kBalancePenalty;
                }
                if (cost < bestCost - 1e-9 || (rising && cost < bestCost + 1e-9)) {
                    bestCost = cost;
                    best = k;
                }
            }
            place(index, freeKeys[best]);
            lowest = best + 1;
        }
        if (count > 0) {
            const std::size_t top = chord.back();
            previous = Previous{notes[top].note, lanes[top], phrases[top]};
        }
    }
    return lanes;
}

}  // namespace zentrowe::chartset
