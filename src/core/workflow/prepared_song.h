#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/audio/synth_renderer.h"
#include "core/convert/settings.h"
#include "core/keysound/exclusive_classes.h"
#include "core/keysound/keysound_states.h"
#include "core/song/part_notes.h"
#include "core/song/song_credits.h"
#include "core/song/song_source.h"
#include "core/song/timeline.h"
#include "core/song/track_part.h"
#include "core/workflow/background_keysounds.h"
#include "core/workflow/build_request.h"

namespace zentrowe::workflow {

// The song a build is made from, read once before its first step: every step takes this value
// rather than working out the charted parts, their notes, the timeline, the credits, the notes'
// channel states or the other parts' events from the request and the MIDI file's bytes again.
struct PreparedSong {
    std::uint64_t sourceSize = 0;        // bytes of the MIDI file as read for the build
    std::vector<song::TrackPart> parts;  // the charted parts: the chosen ones, then those the lanes follow
    song::Timeline timeline;             // ticks to seconds and frames under the song's tempo map
    song::SongCredits credits;           // title and author as the song names them
    // The charted parts' note starts and ends: what the conversion charts (again for each
    // merging it tries).
    song::PartNotes partNotes;
    // Every note start of the charted parts, in the order the conversion meets them, with the
    // channel state it starts with (its instrument: song::instrumentOf) and its sounding and
    // choke lengths under the soundfont's choke groups.
    keysound::TrackNoteStarts notes;
    // The soundfont's choke groups; none where it cannot be read (the renderer names it).
    std::optional<keysound::ExclusiveClasses> chokeGroups;
    // With a BGM of any kind: the events of the parts not charted as they sound
    // (audio::sequenceOtherParts), what the BGM is rendered from.
    std::vector<audio::TimedEvent> otherParts;
    // With a BGM in one file: of each track (by 0-based index), the tick its sequence ends at
    // (audio::lastSequencedTicks), to name the track a BGM too long lasts for.
    std::vector<std::int64_t> trackEndTicks;
    // With the other tracks as keysounds: the note starts of each track the charted parts do not
    // take whole, choked as the lanes' notes are (readOtherTrackStarts).
    std::vector<TrackStarts> otherTracks;

    const keysound::ExclusiveClasses* groups() const { return chokeGroups ? &*chokeGroups : nullptr; }
};

// The song of `request` (its parts as the request charts them, after the parts a set or double
// play adds) from its MIDI file: the bytes, walked by each thing it reads, or, as a build passes
// it, the song's events decoded once (song::decodeSong), which it reads from memory with the same
// result. Bytes that end early give the notes before the damage.
PreparedSong prepareSong(const BuildRequest& request, song::SongSource file);

// The other tracks' notes as keysounds merged as `settings` ask (BgmMode::Keysounds): the
// prepared note starts through collectBackgroundKeysounds.
BackgroundKeysounds backgroundKeysounds(const PreparedSong& prepared, const song::SongSummary& song,
                                        const convert::ConversionSettings& settings);

}  // namespace zentrowe::workflow
