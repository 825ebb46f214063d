#pragma once

#include <string>

#include "core/song/song_summary.h"

namespace zentrowe::song {

// What a song says about itself, for a chart's #TITLE and #ARTIST; a text the song does not
// give is empty.
struct SongCredits {
    // The sequence name: the first track's name in format 0 and 1 (format 0 has only that
    // track; format 1 keeps song-wide events in its first track). Format 2 holds independent
    // patterns, so none of its track names names the song.
    std::string title;
    // The first copyright notice, which is as close as a MIDI file comes to naming its author.
    std::string artist;
};

// Texts as the summary decoded them (UTF-8, else code page 936), without surrounding spaces and
// the NUL padding some writers add.
SongCredits songCredits(const SongSummary& song);

}  // namespace zentrowe::song
