#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <vector>

#include "core/base/progress.h"
#include "core/song/song_source.h"
#include "core/song/song_summary.h"
#include "core/song/track_part.h"

namespace zentrowe::song {

// A note start or end of a charted part, as a conversion meets it.
struct PartNote {
    std::int64_t time = 0;      // ticks from the song's start
    std::uint16_t part = 0;     // index among the parts read, kept to 16 bits as a keysound's source keeps it
    std::uint8_t channel = 0;   // 0 to 15, the status byte's nibble
    std::uint8_t note = 0;      // 1 to 126
    std::uint8_t velocity = 0;  // a start's, 1 to 127; 0 for an end

    bool starts() const { return velocity != 0; }
    friend bool operator==(const PartNote&, const PartNote&) = default;
};

// The note starts and ends of the parts a conversion charts, read from the song's bytes once
// (readPartNotes) in the order song::walkParts meets them: Note On events with a velocity start
// a note, Note Off events and Note On events of velocity 0 end one. Notes 0 and 127 are never
// charted, and note numbers of 0x80 and above (a damaged file) make no note, as they could not
// be written back into the keysound MIDI file. Velocities of 0x80 and above, which some writers
// put in Note On events, are clipped to 127 as synthesisers do. Eight bytes a note start or end
// (a million notes take 16 MB): each keeps its time as the ticks since the one before.
class PartNotes {
public:
    class Iterator;

    Iterator begin() const;
    Iterator end() const;
    // Note starts and ends held.
    std::size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    // The time of the last event of the parts the walk reached, meta and system-exclusive events
    // included: where the notes still sounding end.
    std::int64_t lastTime() const { return m_lastTime; }
    // Note On events with a velocity part `part` plays, of any note number, on each channel
    // index; zeros for a part not read.
    std::array<std::int64_t, 16> soundingNotesByChannel(std::size_t part) const;
    // Their sum.
    std::int64_t soundingNotes(std::size_t part) const;

private:
    friend class PartNoteReader;

    // A record's bits, low bits first: note (7; 0 marks a record that only moves the time on),
    // velocity (7), channel (4), part (16), ticks since the record before (30).
    static constexpr unsigned kVelocityShift = 7;
    static constexpr unsigned kChannelShift = 14;
    static constexpr unsigned kPartShift = 18;
    static constexpr unsigned kDeltaShift = 34;
    static constexpr std::int64_t kLargestDelta = (std::int64_t{1} << 30) - 1;

    void add(const PartNote& note);

    std::vector<std::uint64_t> m_records;
    std::size_t m_count = 0;
    std::int64_t m_recordedTime = 0;  // of the last record
    std::int64_t m_lastTime = 0;
    std::vector<std::array<std::int64_t, 16>> m_soundingNotes;  // per part read
};

// Steps through the notes, decoding each record as it comes to it.
class PartNotes::Iterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = PartNote;
    using difference_type = std::ptrdiff_t;
    using pointer = const PartNote*;
    using reference = const PartNote&;

    Iterator() = default;

    const PartNote& operator*() const { return m_note; }
    const PartNote* operator->() const { return &m_note; }
    Iterator& operator++()
    {
        ++m_at;
        settle();
        return *this;
    }
    Iterator operator++(int)
    {
        Iterator before = *this;
        ++*this;
        return before;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.m_at == b.m_at; }

private:
    friend class PartNotes;

    Iterator(const std::uint64_t* at, const std::uint64_t* end) : m_at(at), m_end(end) { settle(); }

    // Moves the time on by the record at m_at and past records that hold no note.
    void settle()
    {
        for (; m_at != m_end; ++m_at) {
            const std::uint64_t record = *m_at;
            m_time += static_cast<std::int64_t>(record >> kDeltaShift);
            const auto note = static_cast<std::uint8_t>(record & 0x7F);
            if (note != 0) {
                m_note = {m_time, static_cast<std::uint16_t>(record >> kPartShift),
                          static_cast<std::uint8_t>((record >> kChannelShift) & 0x0F), note,
                          static_cast<std::uint8_t>((record >> kVelocityShift) & 0x7F)};
                return;
            }
        }
    }

    const std::uint64_t* m_at = nullptr;
    const std::uint64_t* m_end = nullptr;
    std::int64_t m_time = 0;
    PartNote m_note;
};

inline PartNotes::Iterator PartNotes::begin() const
{
    return {m_records.data(), m_records.data() + m_records.size()};
}

inline PartNotes::Iterator PartNotes::end() const
{
    const std::uint64_t* last = m_records.data() + m_records.size();
    return {last, last};
}

// The notes of `parts` in `file`, walked together as song::walkParts walks them. A track cut
// short gives the notes before the damage. The walk stops at the first part whose track the
// song lacks: the notes are then left out, and only the parts before it are counted. Progress
// is in bytes of the parts' tracks; nothing when the sink asks to stop.
std::optional<PartNotes> readPartNotes(SongSource file, const SongSummary& song, std::span<const TrackPart> parts,
                                       ProgressThrottle& progress);
// The same without progress.
PartNotes readPartNotes(SongSource file, const SongSummary& song, std::span<const TrackPart> parts);

}  // namespace zentrowe::song
