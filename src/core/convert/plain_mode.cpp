#include "core/convert/plain_mode.h"

namespace zentrowe::convert {

void placeNormalNote(ChartBuilder& chart, std::int64_t startTime, std::uint8_t note, std::uint16_t code)
{
    if (code == 0 || !chart.enterNote(startTime)) {
        return;
    }
    const int slot = chart.slotOf(startTime);
    const auto lane = pickLane(note, [&chart, slot](int candidate) { return !chart.taken(candidate, slot); });
    if (!lane) {
        chart.putBackground(slot, code);
    } else {
        chart.put(*lane, slot, code);
    }
    chart.notePlaced(startTime, lane, 0);
}

void PlainMode::noteStart(std::int64_t time, std::uint8_t channel, std::uint8_t note, std::uint8_t velocity)
{
    m_pending.push(channel, note, time, velocity);
}

void PlainMode::noteEnd(std::int64_t time, std::uint8_t channel, std::uint8_t note)
{
    if (const auto start = m_pending.pop(channel, note)) {
        place(note, *start, time);
    }
}

void PlainMode::trackEnd(std::int64_t time)
{
    for (const auto& unended : m_pending.takeUnended()) {
        place(unended.note, unended.start, time);
    }
}

void PlainMode::place(std::uint8_t note, PendingNoteTable::PendingNote start, std::int64_t endTime)
{
    const std::uint16_t code = m_chart.codeFor(note, start.startTime, endTime, start.velocity, start.order);
    placeNormalNote(m_chart, start.startTime, note, code);
}

}  // namespace zentrowe::convert
