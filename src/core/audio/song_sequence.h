#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/audio/synth_renderer.h"
#include "core/convert/keysound_table.h"
#include "core/song/song_source.h"
#include "core/song/song_summary.h"
#include "core/song/track_part.h"

namespace zentrowe::audio {

// Every channel voice event (notes, key and channel pressure, controllers with bank select,
// program changes, pitch bend) of every track but `skippedTrackNumber` (1-based; 0 skips none),
// read with the track walk every pass uses, merged across tracks in time order (tracks in file
// order at equal times) and placed at frames through the song's tempo map. Of the skipped track,
// the events other than notes on channels the other tracks play notes on, up to their last
// event: on a shared channel its pedal and controllers act on their notes too. Notes numbered 128
// or above are left out; other bytes go on as read. Tracks cut short by the file's end give the
// events read before.
std::vector<TimedEvent> sequenceTracks(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                       int skippedTrackNumber);

// Of each track of the song (by 0-based index), the tick of the last event sequenceParts places of
// it as a part taken whole, which ends that sequence (what other tracks send on its channels stops
// there too); -1 for a track with no channel voice event.
std::vector<std::int64_t> lastSequencedTicks(song::SongSource file, const song::SongSummary& song);

// sequenceTracks less the notes of `skipped` parts: a track a part takes whole is skipped as
// above; of a track a part takes one channel of, every event but that channel's notes stays.
std::vector<TimedEvent> sequenceOtherParts(song::SongSource file, const song::SongSummary& song,
                                           std::span<const song::TrackPart> skipped);

// The channel voice events of the parts' tracks, placed as sequenceTracks places them, less the
// notes of channels no part takes, with what the other tracks send on their channels other than
// notes up to the last of these events: the parts as they sound in the song.
std::vector<TimedEvent> sequenceParts(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                      std::span<const song::TrackPart> parts);

}  // namespace zentrowe::audio
