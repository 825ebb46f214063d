#include "core/convert/chart_lines.h"

namespace zentrowe::convert {

void ChartLines::appendLine(std::int64_t measure, std::uint8_t channel, const SlotCodes& slots, bool blankLineAfter)
{
    if (m_chart == nullptr) {
        return;
    }
    // Measures are below kMeasureLimit here (or kExactMeasureLimit, whose lines are dropped).
    m_chart->addLine(static_cast<std::int32_t>(measure), channel, kSlots, blankLineAfter ? 1 : 0);
    for (std::size_t slot = 0; slot < slots.size(); ++slot) {
        if (slots[slot] != 0) {
            m_chart->addObject(static_cast<std::uint32_t>(slot), slots[slot]);
        }
    }
}

void ChartLines::appendSingleCode(std::int64_t measure, std::uint8_t channel, int slot, std::uint16_t code)
{
    if (m_chart == nullptr) {
        return;
    }
    m_chart->addLine(static_cast<std::int32_t>(measure), channel, kSlots, 1);
    m_chart->addObject(static_cast<std::uint32_t>(slot), code);
}

void ChartLines::appendLineEnd()
{
    if (m_chart != nullptr && !m_chart->lines.empty()) {
        ++m_chart->lines.back().blankLinesAfter;
    }
}

}  // namespace zentrowe::convert
