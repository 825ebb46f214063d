#include "core/song/timeline.h"

#include <algorithm>
#include <cmath>

namespace zentrowe::song {

namespace {

// Far beyond any rendering or tick count, and every double below it converts to an integer exactly.
constexpr double kLargestCount = 4611686018427387904.0;  // 2^62

std::int64_t nearestHeld(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    return std::llround(std::clamp(value, -kLargestCount, kLargestCount));
}

}  // namespace

Timeline::Timeline(std::int32_t ticksPerQuarter, std::span<const TempoChange> tempoMap)
    : m_ticksPerQuarter(std::max<std::int32_t>(ticksPerQuarter, 1))
{
    m_segments.push_back({0, 0.0, kDefaultTempoMicros});
    for (const TempoChange& change : tempoMap) {
        const std::int64_t tick = std::max<std::int64_t>(change.time, 0);
        Segment& last = m_segments.back();
        if (tick == last.tick) {
            last.tempoMicros = change.tempoMicros;
            continue;
        }
        m_segments.push_back({tick, secondsInto(last, tick), change.tempoMicros});
    }
}

Timeline Timeline::steady(std::int32_t ticksPerQuarter, std::uint32_t tempoMicros)
{
    const TempoChange only{tempoMicros, 0};
    return Timeline(ticksPerQuarter, std::span<const TempoChange>(&only, 1));
}

double Timeline::secondsInto(const Segment& segment, std::int64_t tick) const
{
    // In this order, a tick count at one tempo from tick 0 gives the seconds a steady-tempo
    // recording's cutter has always computed, to the last bit.
    return segment.seconds + static_cast<double>(tick - segment.tick) * static_cast<double>(segment.tempoMicros) /
                                 1000000.0 / static_cast<double>(m_ticksPerQuarter);
}

const Timeline::Segment& Timeline::segmentAt(std::int64_t tick) const
{
    const auto after = std::upper_bound(m_segments.begin() + 1, m_segments.end(), tick,
                                        [](std::int64_t t, const Segment& s) { return t < s.tick; });
    return *(after - 1);
}

double Timeline::seconds(std::int64_t tick) const
{
    return secondsInto(segmentAt(tick), tick);
}

std::int64_t Timeline::frame(std::int64_t tick, int sampleRate) const
{
    return nearestHeld(seconds(tick) * sampleRate);
}

std::int64_t Timeline::ticksAtTempo(std::int64_t fromTick, std::int64_t toTick, std::uint32_t tempoMicros) const
{
    if (toTick <= fromTick) {
        return 0;
    }
    const double steadyMicros = std::max<double>(tempoMicros, 1);
    // Each stretch weighed by its tempo against the steady one: a ratio of exactly 1 where they
    // are equal, so a span under that tempo alone sums to its own tick count.
    double ticks = 0;
    auto segment = m_segments.begin() + (&segmentAt(fromTick) - m_segments.data());
    for (std::int64_t at = fromTick; at < toTick; ++segment) {
        const auto next = segment + 1;
        const std::int64_t end = next == m_segments.end() ? toTick : std::min(toTick, next->tick);
        ticks += (static_cast<double>(end) - static_cast<double>(at)) * (segment->tempoMicros / steadyMicros);
        at = end;
    }
    return std::min<std::int64_t>(nearestHeld(ticks), std::int64_t{1} << 62);
}

}  // namespace zentrowe::song
