#pragma once

#include <array>
#include <cstdint>

#include "core/chart/chart_model.h"

namespace zentrowe::convert {

inline constexpr int kSlots = 192;  // a measure line has 192 two-character slots

using SlotCodes = std::array<std::uint16_t, kSlots>;  // code values; 0 is an empty slot ("00")

// The chart's channel lines as a conversion lays them out, kept in the chart model: a line costs
// its objects (a few bytes each), not its 192 slots. Without a chart the lines are dropped, for a
// conversion that reads its notes elsewhere.
class ChartLines {
public:
    explicit ChartLines(chart::Chart* chart) : m_chart(chart) { }

    // A line of 192 slots, followed by an empty line when asked.
    void appendLine(std::int64_t measure, std::uint8_t channel, const SlotCodes& slots, bool blankLineAfter);
    // A line holding a single code, followed by an empty line.
    void appendSingleCode(std::int64_t measure, std::uint8_t channel, int slot, std::uint16_t code);
    // One more empty line after the last line.
    void appendLineEnd();

private:
    chart::Chart* m_chart;
};

}  // namespace zentrowe::convert
