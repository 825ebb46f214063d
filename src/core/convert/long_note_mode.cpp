#include "core/convert/long_note_mode.h"

#include <algorithm>

#include "core/base/exact_ratio.h"

namespace zentrowe::convert {

LongNoteMode::LongNoteMode(ChartBuilder& chart, std::int32_t threshold) : m_chart(chart), m_threshold(threshold)
{
    m_laneBusyUntil.fill(-1);
}

void LongNoteMode::noteStart(std::int64_t time, std::uint8_t channel, std::uint8_t note, std::uint8_t velocity)
{
    m_pending.push(channel, note, time, velocity);
}

void LongNoteMode::noteEnd(std::int64_t time, std::uint8_t channel, std::uint8_t note)
{
    if (const auto start = m_pending.pop(channel, note)) {
        place(note, *start, time);
    }
}

void LongNoteMode::trackEnd(std::int64_t time)
{
    for (const auto& unended : m_pending.takeUnended()) {
        place(unended.note, unended.start, time);
    }
}

void LongNoteMode::place(std::uint8_t note, PendingNoteTable::PendingNote start, std::int64_t endTime)
{
    const std::int64_t startTime = start.startTime;
    // An end this far out (held for more slots than any threshold, and far past measure 999 at
    // any division) only makes the note long and its end unplaceable; holding it there keeps the
    // arithmetic below in range without changing what happens to the note.
    endTime = std::min(endTime, startTime + kLongestDurationTicks);
    const std::uint16_t code = m_chart.codeFor(note, startTime, endTime, start.velocity, start.order);
    if (code == 0 || !m_chart.enterNote(startTime)) {
        return;
    }
    const std::int32_t tpm = m_chart.ticksPerMeasure();
    const int slot = m_chart.slotOf(startTime);
    // Positions in 1/192 of a measure from the start of the song: rounded, while the slot is
    // floored.
    const std::int64_t startPosition = roundRatioHalfEven(startTime * kSlots, tpm);
    const std::int64_t endPosition = roundRatioHalfEven(endTime * kSlots, tpm);
    const std::int64_t heldSlots = floorRatio((endTime - startTime) * kSlots, tpm);
    // A long note held 0 slots would put its start and end marker on one slot, which breaks the
    // pairing of markers in every player: it is a normal note whatever the threshold.
    const bool isLong = heldSlots > 0 && heldSlots >= m_threshold;

    const auto lane =
        pickLane(note, [this, slot, startPosition](int candidate) { return isFree(candidate, slot, startPosition); });
    if (!lane) {
        m_chart.putBackground(slot, code);
        m_chart.notePlaced(startTime, lane, 0);
        return;
    }
    m_laneBusyUntil[static_cast<std::size_t>(*lane)] = endPosition;
    if (!isLong) {
        m_chart.put(*lane, slot, code);
        m_chart.notePlaced(startTime, lane, 0);
        return;
    }
    m_chart.notePlaced(startTime, lane, endTime - startTime);
    const int longBuffer = kLanes + *lane;
    m_chart.put(longBuffer, slot, code);
    const std::int64_t endSlot = slot + heldSlots;
    m_chart.putEndMarker(endTime, longBuffer, m_chart.measureOf(startTime) + endSlot / kSlots,
                         static_cast<int>(endSlot % kSlots), code);
}

bool LongNoteMode::isFree(int lane, int slot, std::int64_t startPosition) const
{
    // The lane's last end first: in a dense track it is what blocks most lanes.
    return m_laneBusyUntil[static_cast<std::size_t>(lane)] < startPosition && !m_chart.taken(lane, slot) &&
           !m_chart.taken(kLanes + lane, slot);
}

}  // namespace zentrowe::convert
