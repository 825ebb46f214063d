#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/song/song_summary.h"

namespace zentrowe::keysound {

// Where one keysound lies in the keysound MIDI file, in that file's ticks.
struct CutListEntry {
    std::uint8_t note = 0;
    // Up to the next keysound's Note On (sound plus gap); for the last, its sound alone.
    std::int64_t length = 0;
    // From the file's first Note On, so the first keysound starts at 0.
    std::int64_t start = 0;

    friend bool operator==(const CutListEntry&, const CutListEntry&) = default;
};

using CutList = std::vector<CutListEntry>;

// Measures every keysound of one track of a keysound MIDI file: one entry per Note On with a
// velocity other than 0 and a note other than 0 and 127, which is keysound i of the table that
// wrote the file. `gapTicks` is the silence the writer put before each Note On and before the
// end of track. A track without such a Note On gives an empty list.
CutList collectKeysoundCuts(std::span<const std::uint8_t> file, const song::SongSummary& song, int trackNumber,
                            std::int64_t gapTicks);

// The keysound file read back after a conversion: its summary (what the track list shows from
// then on) and where each keysound lies. Errors as readSongSummary.
struct KeysoundReadBack {
    song::SongSummary song;
    CutList cuts;
};
Result<KeysoundReadBack> readBackKeysoundFile(const std::filesystem::path& keysoundFile, std::int64_t gapTicks,
                                              ProgressSink& progress);
// The same from the file's bytes, as its writer still holds them: `name` names the song in its
// summary and its errors.
Result<KeysoundReadBack> readBackKeysoundBytes(std::span<const std::uint8_t> keysoundMidi, const std::string& name,
                                               std::int64_t gapTicks, ProgressSink& progress);

}  // namespace zentrowe::keysound
