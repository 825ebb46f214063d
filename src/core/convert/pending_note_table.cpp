#include "core/convert/pending_note_table.h"

#include <algorithm>

namespace zentrowe::convert {

std::optional<PendingNoteTable::PendingNote> PendingNoteTable::Queue::pop()
{
    if (m_head == m_notes.size()) {
        return std::nullopt;
    }
    const PendingNote oldest = m_notes[m_head++];
    if (m_head == m_notes.size()) {
        m_notes.clear();
        m_head = 0;
    }
    return oldest;
}

std::vector<PendingNoteTable::PendingNote> PendingNoteTable::Queue::take()
{
    std::vector<PendingNote> rest(m_notes.begin() + static_cast<std::ptrdiff_t>(m_head), m_notes.end());
    m_notes.clear();
    m_head = 0;
    return rest;
}

void PendingNoteTable::push(std::uint8_t channel, std::uint8_t note, std::int64_t startTime, std::uint8_t velocity)
{
    m_queues[key(channel, note)].push({startTime, velocity, m_starts++});
}

std::optional<PendingNoteTable::PendingNote> PendingNoteTable::pop(std::uint8_t channel, std::uint8_t note)
{
    return m_queues[key(channel, note)].pop();
}

std::vector<PendingNoteTable::Unended> PendingNoteTable::takeUnended()
{
    std::vector<Unended> unended;
    for (std::size_t index = 0; index < m_queues.size(); ++index) {
        for (const auto& start : m_queues[index].take()) {
            unended.push_back({static_cast<std::uint8_t>(index / 128), static_cast<std::uint8_t>(index % 128), start});
        }
    }
    std::sort(unended.begin(), unended.end(),
              [](const Unended& a, const Unended& b) { return a.start.order < b.start.order; });
    return unended;
}

}  // namespace zentrowe::convert
