#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/song/song_credits.h"
#include "core/song/timeline.h"
#include "core/song/track_part.h"

namespace zentrowe::workflow {

// The song a build is made from, read once before its first step: every step takes this value
// rather than working out the charted parts, the timeline or the credits from the request and
// the MIDI file's bytes again.
struct PreparedSong {
    std::span<const std::uint8_t> file;  // the MIDI file's bytes, held by the caller for the build's length
    std::vector<song::TrackPart> parts;  // the charted parts: the chosen ones, then those the lanes follow
    song::Timeline timeline;             // ticks to seconds and frames under the song's tempo map
    song::SongCredits credits;           // title and author as the song names them
};

}  // namespace zentrowe::workflow
