#include "core/chartset/long_notes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace zentrowe::chartset {

namespace {

// The last tick at or after `from` whose time is at most `seconds` (`from` itself if none).
std::int64_t lastTickBy(const song::Timeline& clock, std::int64_t from, std::int64_t until, double seconds)
{
    std::int64_t low = from;
    std::int64_t high = until;
    while (low < high) {
        const std::int64_t middle = low + (high - low + 1) / 2;
        if (clock.seconds(middle) <= seconds) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return low;
}

double leastSeconds(const TrackNote& note, const song::Timeline& clock, const LongNoteLength& minimum)
{
    if (minimum.unit == LongNoteLength::Unit::Seconds) {
        return std::max(kLeastLongNoteSeconds, minimum.value);
    }
    const auto beatTicks = static_cast<std::int64_t>(std::llround(minimum.value * clock.ticksPerQuarter()));
    return std::max(kLeastLongNoteSeconds, clock.seconds(note.startTick + beatTicks) - clock.seconds(note.startTick));
}

}  // namespace

std::optional<LongNoteLength> parseLongNoteLength(std::string_view text)
{
    double value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (status != std::errc{} || !(value > 0) || !std::isfinite(value)) {
        return std::nullopt;
    }
    std::string_view unit = text.substr(static_cast<std::size_t>(end - text.data()));
    unit.remove_prefix(std::min(unit.find_first_not_of(' '), unit.size()));
    if (unit == "s") {
        return LongNoteLength{value, LongNoteLength::Unit::Seconds};
    }
    if (unit == "ms") {
        return LongNoteLength{value / 1000, LongNoteLength::Unit::Seconds};
    }
    if (unit == "beat" || unit == "beats") {
        return LongNoteLength{value, LongNoteLength::Unit::Beats};
    }
    return std::nullopt;
}

std::vector<TrackNote> fitLongNotes(std::span<const TrackNote> notes, std::span<const int> lanes,
                                    const song::Timeline& clock, const LongNoteLength& minimum)
{
    std::vector<TrackNote> fitted(notes.begin(), notes.end());
    if (lanes.size() != notes.size()) {
        return fitted;
    }
    // Walking back, the next press in each lane is known when a note is reached.
    std::array<std::optional<std::int64_t>, kScratchLane + 1> nextPress{};
    for (std::size_t i = notes.size(); i-- > 0;) {
        if (lanes[i] < 0 || lanes[i] > kScratchLane) {
            continue;
        }
        auto& next = nextPress[static_cast<std::size_t>(lanes[i])];
        TrackNote& note = fitted[i];
        if (note.held) {
            if (next && clock.seconds(*next) - clock.seconds(note.endTick) < kReleaseGapSeconds) {
                const double release = clock.seconds(*next) - kReleaseGapSeconds;
                note.endTick = lastTickBy(clock, note.startTick, std::min(note.endTick, *next), release);
            }
            note.held = clock.seconds(note.endTick) - clock.seconds(note.startTick) >=
                        leastSeconds(note, clock, minimum) - 1e-9;
        }
        next = note.startTick;
    }
    return fitted;
}

}  // namespace zentrowe::chartset
