#pragma once

#include <cstdint>

#include "core/convert/chart_builder.h"

namespace zentrowe::convert {

// Percussion mode: a chart note at every strike; lengths and note-offs play no part, and a
// keysound is a note number with a velocity, 100 ticks long.
class PercussionMode {
public:
    static constexpr int kBuffers = kLanes;
    static constexpr std::int64_t kDurationTicks = 100;

    explicit PercussionMode(ChartBuilder& chart) : m_chart(chart) { }

    void noteStart(std::int64_t time, std::uint8_t channel, std::uint8_t note, std::uint8_t velocity);
    void noteEnd(std::int64_t, std::uint8_t, std::uint8_t) { }
    void trackEnd(std::int64_t) { }

private:
    ChartBuilder& m_chart;
    std::uint64_t m_starts = 0;  // note starts so far, as the other modes' pending tables count them
};

}  // namespace zentrowe::convert
