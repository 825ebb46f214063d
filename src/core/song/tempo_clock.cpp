#include "core/song/tempo_clock.h"

#include <algorithm>

namespace zentrowe::song {

TempoClock::TempoClock(std::int32_t ticksPerQuarter, std::span<const TempoChange> tempoMap)
    : m_ticksPerQuarter(std::max<std::int32_t>(ticksPerQuarter, 1))
{
    const auto perTick = [this](std::uint32_t tempoMicros) {
        return static_cast<double>(tempoMicros) / 1e6 / m_ticksPerQuarter;
    };
    m_segments.push_back({0, 0.0, perTick(kDefaultTempoMicros)});
    for (const TempoChange& change : tempoMap) {
        const std::int64_t tick = std::max<std::int64_t>(change.time, 0);
        Segment& last = m_segments.back();
        if (tick == last.tick) {
            last.secondsPerTick = perTick(change.tempoMicros);
            continue;
        }
        const double at = last.seconds + static_cast<double>(tick - last.tick) * last.secondsPerTick;
        m_segments.push_back({tick, at, perTick(change.tempoMicros)});
    }
}

double TempoClock::seconds(std::int64_t tick) const
{
    const auto after = std::upper_bound(m_segments.begin() + 1, m_segments.end(), tick,
                                        [](std::int64_t t, const Segment& s) { return t < s.tick; });
    const Segment& segment = *(after - 1);
    return segment.seconds + static_cast<double>(tick - segment.tick) * segment.secondsPerTick;
}

}  // namespace zentrowe::song
