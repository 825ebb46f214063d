#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/song/song_source.h"
#include "core/song/song_summary.h"
#include "core/song/track_part.h"

namespace zentrowe::workflow {

// A note start as choosing a build's parts weighs it: keysound::readNoteStarts of its part read
// alone, without the channel state or the choke groups (24 bytes, half a NoteStart).
struct PartNoteStart {
    std::int64_t startTick = 0;
    std::int64_t lengthTicks = 0;
    std::uint8_t channel = 0;   // 0 to 15
    std::uint8_t note = 0;      // 1 to 126
    std::uint8_t velocity = 0;  // 1 to 127

    friend bool operator==(const PartNoteStart&, const PartNoteStart&) = default;
};

// What choosing a build's parts reads of the song, each thing read at most once for the whole
// choice: the song's channel parts (song::listChannelParts) and the note starts of each part it
// asks about. Both are read on first asking, so a build that neither follows the music, charts a
// set per part nor plays double reads no note. It keeps `file` (the bytes or the song's decoded
// events, which a build passes) and `song`, which must outlive it; drop it once the parts are
// chosen, as it holds their notes. Bytes that end early give the rows and notes before the damage.
class SongParts {
public:
    SongParts(song::SongSource file, const song::SongSummary& song) : m_file(file), m_song(&song) { }

    const song::SongSummary& song() const { return *m_song; }
    // Every (track, channel) with notes, as song::listChannelParts lists them.
    const std::vector<song::ChannelPartRow>& rows();
    // The note starts of `part` read alone, in the order the conversion meets them; none for a
    // part whose track is out of range.
    const std::vector<PartNoteStart>& noteStarts(const song::TrackPart& part);
    // Reads of a part's notes so far: one per distinct part asked about.
    std::size_t noteReads() const { return m_noteReads; }

private:
    song::SongSource m_file;
    const song::SongSummary* m_song;
    std::optional<std::vector<song::ChannelPartRow>> m_rows;
    std::map<std::pair<int, int>, std::vector<PartNoteStart>> m_notes;  // by track number, channel
    std::size_t m_noteReads = 0;
};

}  // namespace zentrowe::workflow
