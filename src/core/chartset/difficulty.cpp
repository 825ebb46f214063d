#include "core/chartset/difficulty.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <set>

#include "core/chartset/part_selection.h"

namespace zentrowe::chartset {

namespace {

// Keys 3-5 take at most this share of a chart's key notes as the layout goes, which keeps them
// under 60 % of the finished chart.
constexpr double kMiddleShare = 0.55;

struct DifficultyText {
    std::string_view name;
    std::string_view subtitle;
    char letter;
};

constexpr std::array<DifficultyText, 5> kTexts = {{
    {"beginner", "[BEGINNER]", 'B'},
    {"normal", "[NORMAL]", 'N'},
    {"hyper", "[HYPER]", 'H'},
    {"another", "[ANOTHER]", 'A'},
    {"insane", "[INSANE]", 'X'},
}};

const DifficultyText& textsOf(Difficulty difficulty)
{
    return kTexts[static_cast<std::size_t>(difficulty)];
}

std::string_view trimmedSpaces(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

Error badDifficulty(std::string_view name, const std::string& why)
{
    return Error{ErrorCode::InvalidSetting, "difficulty \"" + std::string(name) + "\" " + why +
                                                "; the difficulties are beginner, normal, hyper, another and insane"}
        .about("difficulties")
        .withValue(std::string(name));
}

// The time over which the notes per second are capped: the playing time, or the time from the
// first start to the last where that is shorter (by the last note's length), as a player counts
// the notes of a chart by the presses, not by how long the last one rings. At least one second.
double strikingSeconds(std::span<const TrackNote> notes, const song::Timeline& clock)
{
    if (notes.empty()) {
        return 1.0;
    }
    const double starts = clock.seconds(notes.back().startTick) - clock.seconds(notes.front().startTick);
    return std::max(1.0, std::min(playingSeconds(notes, clock), starts));
}

}  // namespace

DifficultyLimits difficultyLimits(Difficulty difficulty)
{
    // Strikes at least half the average gap apart: a local burst may reach twice the average.
    // Insane keeps every strike 30 ms from the next: closer, a strummed chord reads as a
    // staircase no hand can play, so the strum becomes one strike.
    switch (difficulty) {
    case Difficulty::Beginner:
        return {1, 2.0, 1.0 / 4, {0.5, 2.0, 0.05, false, kMiddleShare}};
    case Difficulty::Normal:
        return {2, 4.0, 1.0 / 8, {0.25, 2.0, 0.05, false, kMiddleShare}};
    case Difficulty::Hyper:
        return {3, 7.0, 1.0 / 14, {0.125, 2.5, 0.15, false, kMiddleShare, 0.04}};
    case Difficulty::Another:
        return {4, 10.0, 1.0 / 20, {0.06, 3.0, 0.30, true, kMiddleShare, 0.06}};
    case Difficulty::Insane:
        break;
    }
    return {0, 20.0, 0.03, {0.06, 3.0, 0.45, true, kMiddleShare, 0.07}};
}

std::string_view difficultyName(Difficulty difficulty)
{
    return textsOf(difficulty).name;
}

std::string_view difficultySubtitle(Difficulty difficulty)
{
    return textsOf(difficulty).subtitle;
}

int difficultyNumber(Difficulty difficulty)
{
    return static_cast<int>(difficulty) + 1;
}

char difficultyLetter(Difficulty difficulty)
{
    return textsOf(difficulty).letter;
}

std::string chartStem(std::string_view name, Difficulty difficulty)
{
    std::string stem(name);
    stem += '_';
    stem += difficultyLetter(difficulty);
    return stem;
}

Result<std::vector<Difficulty>> parseDifficulties(std::string_view text)
{
    std::array<bool, kAllDifficulties.size()> asked{};
    std::size_t from = 0;
    while (true) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string_view name = trimmedSpaces(text.substr(from, comma - from));
        const auto found =
            std::find_if(kTexts.begin(), kTexts.end(), [&](const DifficultyText& texts) { return texts.name == name; });
        if (found == kTexts.end()) {
            return badDifficulty(name, name.empty() ? "is empty" : "is unknown");
        }
        bool& once = asked[static_cast<std::size_t>(found - kTexts.begin())];
        if (once) {
            return badDifficulty(name, "is named twice");
        }
        once = true;
        if (comma == text.size()) {
            break;
        }
        from = comma + 1;
    }
    std::vector<Difficulty> difficulties;
    for (const Difficulty difficulty : kAllDifficulties) {
        if (asked[static_cast<std::size_t>(difficulty)]) {
            difficulties.push_back(difficulty);
        }
    }
    return difficulties;
}

std::vector<Difficulty> defaultDifficulties(std::span<const TrackNote> notes, const song::Timeline& clock)
{
    std::vector<Difficulty> set = {Difficulty::Normal, Difficulty::Hyper, Difficulty::Another};
    const std::vector<bool> another = thinNotes(notes, clock, difficultyLimits(Difficulty::Another));
    if (std::find(another.begin(), another.end(), false) != another.end()) {
        set.push_back(Difficulty::Insane);
    }
    return set;
}

NoteWeight noteWeight(const TrackNote& note, bool topVoice, std::int32_t ticksPerMeasure)
{
    return {beatStrength(note.startTick, ticksPerMeasure) + (topVoice ? 2 : 0), note.velocity,
            std::max<std::int64_t>(note.endTick - note.startTick, 0)};
}

namespace {

// The distinct start ticks of a track's notes, with their times and top voices.
struct Strikes {
    std::vector<std::size_t> strikeOf;  // per note
    std::vector<std::int64_t> ticks;
    std::vector<double> seconds;
    std::vector<int> topNote;
};

Strikes strikesOf(std::span<const TrackNote> notes, const song::Timeline& clock)
{
    Strikes strikes;
    strikes.strikeOf.resize(notes.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (strikes.ticks.empty() || notes[i].startTick != strikes.ticks.back()) {
            strikes.ticks.push_back(notes[i].startTick);
            strikes.seconds.push_back(clock.seconds(notes[i].startTick));
            strikes.topNote.push_back(notes[i].note);
        }
        strikes.strikeOf[i] = strikes.ticks.size() - 1;
        strikes.topNote.back() = std::max<int>(strikes.topNote.back(), notes[i].note);
    }
    return strikes;
}

// The notes' indices, heaviest first; equal weights keep the track's order.
std::vector<std::size_t> heaviestFirst(std::span<const TrackNote> notes, const Strikes& strikes,
                                       std::int32_t ticksPerMeasure)
{
    std::vector<NoteWeight> weights(notes.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        weights[i] = noteWeight(notes[i], notes[i].note == strikes.topNote[strikes.strikeOf[i]], ticksPerMeasure);
    }
    std::vector<std::size_t> order(notes.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return weights[a] > weights[b]; });
    return order;
}

// Keeps notes one at a time while the limits allow them.
class NoteKeeper {
public:
    NoteKeeper(std::span<const TrackNote> notes, const Strikes& strikes, const DifficultyLimits& limits)
        : notes_(notes), strikes_(strikes), limits_(limits), keep_(notes.size(), false), down_(strikes.ticks.size(), 0)
    {
    }

    bool tryKeep(std::size_t i)
    {
        const std::size_t strike = strikes_.strikeOf[i];
        const std::size_t lastDown = lastStrikeDown(i);
        if (tooManyAtOnce(strike, lastDown) || tooCloseToKept(strike)) {
            return false;
        }
        keep_[i] = true;
        ++kept_;
        keptStrikes_.insert(strike);
        for (std::size_t s = strike; s <= lastDown; ++s) {
            ++down_[s];
        }
        return true;
    }

    // Where the kept strikes leave more than kPulseSeconds between them with strikes of the track
    // in between (or before the first kept, or after the last), the heaviest of those the limits
    // allow is kept too. Heaviest first, one pass: a gap only shrinks, so a note passed over had
    // a wide gap then and the limits refused it.
    void keepPulse(const std::vector<std::size_t>& order)
    {
        const std::vector<double>& seconds = strikes_.seconds;
        for (const std::size_t i : order) {
            const std::size_t strike = strikes_.strikeOf[i];
            if (keep_[i] || keptStrikes_.contains(strike)) {
                continue;
            }
            const auto after = keptStrikes_.lower_bound(strike);
            const double to = after == keptStrikes_.end() ? seconds.back() : seconds[*after];
            const double from = after == keptStrikes_.begin() ? seconds.front() : seconds[*std::prev(after)];
            if (to - from > kPulseSeconds) {
                tryKeep(i);
            }
        }
    }

    bool kept(std::size_t i) const { return keep_[i]; }
    std::size_t keptCount() const { return kept_; }
    std::vector<bool> takeKeep() { return std::move(keep_); }

private:
    // A held note stays down through the strikes before its release.
    std::size_t lastStrikeDown(std::size_t i) const
    {
        std::size_t lastDown = strikes_.strikeOf[i];
        if (notes_[i].held) {
            while (lastDown + 1 < strikes_.ticks.size() && strikes_.ticks[lastDown + 1] < notes_[i].endTick) {
                ++lastDown;
            }
        }
        return lastDown;
    }

    bool tooManyAtOnce(std::size_t strike, std::size_t lastDown) const
    {
        return limits_.maxNotesAtOnce > 0 && std::any_of(down_.begin() + static_cast<std::ptrdiff_t>(strike),
                                                         down_.begin() + static_cast<std::ptrdiff_t>(lastDown) + 1,
                                                         [&](int atOnce) { return atOnce >= limits_.maxNotesAtOnce; });
    }

    bool tooCloseToKept(std::size_t strike) const
    {
        if (limits_.minStrikeSeconds <= 0 || keptStrikes_.contains(strike)) {
            return false;
        }
        const std::vector<double>& seconds = strikes_.seconds;
        const auto after = keptStrikes_.lower_bound(strike);
        if (after != keptStrikes_.end() && seconds[*after] - seconds[strike] < limits_.minStrikeSeconds) {
            return true;
        }
        return after != keptStrikes_.begin() && seconds[strike] - seconds[*std::prev(after)] < limits_.minStrikeSeconds;
    }

    std::span<const TrackNote> notes_;
    const Strikes& strikes_;
    const DifficultyLimits& limits_;
    std::vector<bool> keep_;
    std::vector<int> down_;  // lane notes struck or held at each strike
    std::set<std::size_t> keptStrikes_;
    std::size_t kept_ = 0;
};

// Several parts: each tier first takes up to its share of the target.
void keepTierShares(std::span<const TrackNote> notes, std::int32_t ticksPerMeasure, std::size_t target,
                    std::vector<std::size_t>& order, NoteKeeper& keeper)
{
    const PartTiers tiers = tierNotes(notes, ticksPerMeasure);
    order = tiers.order;
    std::array<std::size_t, 3> keptOfTier{};
    for (const std::size_t i : order) {
        const auto tier = static_cast<std::size_t>(tiers.tierOf[i]);
        const double share = kTierShares[tier] * static_cast<double>(target);
        if (keeper.keptCount() < target && static_cast<double>(keptOfTier[tier]) < share && keeper.tryKeep(i)) {
            ++keptOfTier[tier];
        }
    }
}

}  // namespace

std::vector<bool> thinNotes(std::span<const TrackNote> notes, const song::Timeline& clock,
                            const DifficultyLimits& limits)
{
    const std::size_t count = notes.size();
    if (limits.maxNotesAtOnce <= 0 && limits.maxNotesPerSecond <= 0 && limits.minStrikeSeconds <= 0) {
        return std::vector<bool>(count, true);
    }
    const Strikes strikes = strikesOf(notes, clock);
    std::vector<std::size_t> order = heaviestFirst(notes, strikes, clock.ticksPerMeasure());
    std::size_t target = count;
    if (limits.maxNotesPerSecond > 0) {
        const double allowed = std::floor(limits.maxNotesPerSecond * strikingSeconds(notes, clock) + 1e-9);
        target = std::min(count, static_cast<std::size_t>(allowed));
    }
    NoteKeeper keeper(notes, strikes, limits);
    if (drawsOnSeveralParts(notes)) {
        keepTierShares(notes, clock.ticksPerMeasure(), target, order, keeper);
    }
    // The rest fills in order of weight.
    for (const std::size_t i : order) {
        if (keeper.keptCount() == target) {
            break;
        }
        if (!keeper.kept(i)) {
            keeper.tryKeep(i);
        }
    }
    keeper.keepPulse(order);
    return keeper.takeKeep();
}

std::vector<DifficultyLimits> setLimits(std::span<const TrackNote> notes, const song::Timeline& clock,
                                        std::span<const Difficulty> set)
{
    std::vector<DifficultyLimits> limits;
    for (const Difficulty difficulty : set) {
        limits.push_back(difficultyLimits(difficulty));
    }
    const double seconds = playingSeconds(notes, clock);
    if (!(seconds > 0)) {
        return limits;
    }
    for (std::size_t i = limits.size(); i-- > 1;) {
        const auto kept = thinNotes(notes, clock, limits[i]);
        const auto keptCount = static_cast<double>(std::count(kept.begin(), kept.end(), true));
        const double step = std::max(kSetStep * keptCount, 1.0) / seconds;
        auto& lower = limits[i - 1];
        if (lower.maxNotesPerSecond <= 0 || step < lower.maxNotesPerSecond) {
            lower.maxNotesPerSecond = step;
        }
    }
    return limits;
}

std::vector<int> chartLanes(std::span<const TrackNote> notes, const song::Timeline& clock,
                            const DifficultyLimits& limits, bool percussion)
{
    return layoutLanes(notes, thinNotes(notes, clock, limits), clock, LayoutOptions{limits.layout, percussion});
}

std::vector<int> chartLanes(std::span<const TrackNote> notes, const song::Timeline& clock, Difficulty difficulty,
                            bool percussion)
{
    return chartLanes(notes, clock, difficultyLimits(difficulty), percussion);
}

}  // namespace zentrowe::chartset
