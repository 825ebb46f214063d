#include "core/workflow/song_parts.h"

#include "core/keysound/keysound_states.h"

namespace zentrowe::workflow {

const std::vector<song::ChannelPartRow>& SongParts::rows()
{
    if (!m_rows) {
        m_rows = song::listChannelParts(m_file, *m_song);
    }
    return *m_rows;
}

const std::vector<PartNoteStart>& SongParts::noteStarts(const song::TrackPart& part)
{
    const auto [held, added] = m_notes.try_emplace({part.trackNumber, part.channel});
    if (added) {
        ++m_noteReads;
        const auto read = keysound::readNoteStarts(m_file, *m_song, std::span(&part, 1));
        held->second.reserve(read.notes.size());
        for (const auto& start : read.notes) {
            held->second.push_back({start.startTick, start.lengthTicks, start.channel, start.note, start.velocity});
        }
    }
    return held->second;
}

}  // namespace zentrowe::workflow
