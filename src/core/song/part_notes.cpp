#include "core/song/part_notes.h"

#include <algorithm>
#include <cassert>
#include <numeric>

#include "core/song/track_walk.h"

namespace zentrowe::song {

std::array<std::int64_t, 16> PartNotes::soundingNotesByChannel(std::size_t part) const
{
    return part < m_soundingNotes.size() ? m_soundingNotes[part] : std::array<std::int64_t, 16>{};
}

std::int64_t PartNotes::soundingNotes(std::size_t part) const
{
    const auto byChannel = soundingNotesByChannel(part);
    return std::accumulate(byChannel.begin(), byChannel.end(), std::int64_t{0});
}

void PartNotes::add(const PartNote& note)
{
    // The walk's times never decrease: a track's deltas are unsigned, merged tracks are sorted.
    std::int64_t delta = note.time - m_recordedTime;
    assert(delta >= 0);
    for (; delta > kLargestDelta; delta -= kLargestDelta) {
        m_records.push_back(static_cast<std::uint64_t>(kLargestDelta) << kDeltaShift);
    }
    m_records.push_back(
        static_cast<std::uint64_t>(delta) << kDeltaShift | static_cast<std::uint64_t>(note.part) << kPartShift |
        static_cast<std::uint64_t>(note.channel) << kChannelShift |
        static_cast<std::uint64_t>(note.velocity) << kVelocityShift | static_cast<std::uint64_t>(note.note));
    m_recordedTime = note.time;
    ++m_count;
}

// Keeps the notes a conversion charts from the events walkParts hands over.
class PartNoteReader {
public:
    PartNoteReader(PartNotes& notes, std::size_t partCount) : m_notes(notes)
    {
        m_notes.m_soundingNotes.resize(partCount);
    }

    void onPart(std::size_t part) { m_part = part; }

    void onEvent(std::int64_t time, std::uint32_t, const ChannelEvent& event)
    {
        m_notes.m_lastTime = time;
        const std::uint8_t kind = event.kind();
        if (kind == 0x90 && event.data2 != 0) {
            ++m_notes.m_soundingNotes[m_part][event.channel()];
        }
        const std::uint8_t note = event.data1;
        if ((kind != 0x80 && kind != 0x90) || note == 0 || note >= 127) {
            return;
        }
        const auto velocity = kind == 0x90 ? std::min<std::uint8_t>(event.data2, 127) : std::uint8_t{0};
        m_notes.add({time, static_cast<std::uint16_t>(m_part), event.channel(), note, velocity});
    }
    void onEvent(std::int64_t time, std::uint32_t, const MetaEvent&) { m_notes.m_lastTime = time; }
    void onEvent(std::int64_t time, std::uint32_t, const SysExEvent&) { m_notes.m_lastTime = time; }

    // The notes of parts not all read: none at all.
    void dropNotes()
    {
        m_notes.m_records = {};
        m_notes.m_count = 0;
        m_notes.m_recordedTime = 0;
        m_notes.m_lastTime = 0;
    }

private:
    PartNotes& m_notes;
    std::size_t m_part = 0;
};

std::optional<PartNotes> readPartNotes(SongSource file, const SongSummary& song, std::span<const TrackPart> parts,
                                       ProgressThrottle& progress)
{
    const auto outside = std::find_if(parts.begin(), parts.end(), [&](const TrackPart& part) {
        return part.trackNumber < 1 || static_cast<std::size_t>(part.trackNumber) > song.tracks.size();
    });
    const auto walked = parts.first(static_cast<std::size_t>(outside - parts.begin()));
    PartNotes notes;
    PartNoteReader reader(notes, parts.size());
    if (!walked.empty()) {
        const auto onPart = [&reader](std::size_t part) { reader.onPart(part); };
        if (walkParts(file, song, walked, reader, progress, onPart) == WalkEnd::Cancelled) {
            return std::nullopt;
        }
    }
    if (walked.size() < parts.size()) {
        reader.dropNotes();
    }
    return notes;
}

PartNotes readPartNotes(SongSource file, const SongSummary& song, std::span<const TrackPart> parts)
{
    NullProgress quiet;
    ProgressThrottle throttle(quiet, 0);
    return std::move(readPartNotes(file, song, parts, throttle)).value();
}

}  // namespace zentrowe::song
