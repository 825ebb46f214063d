#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/base/file_reading.h"
#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/song/track_walk.h"

namespace zentrowe::song {

// One track of a song: where its events lie and the five texts of its row in the track list.
struct TrackSummary {
    TrackLocation location;
    std::string label;           // "音轨 01"
    std::int32_t noteCount = 0;  // Note On events with a velocity other than 0
    std::string name;            // the track's last track-name event, decoded
    std::string family;          // of the track's last Program Change
    std::string instrument;
};

// One Set Tempo event: microseconds per quarter note at an absolute tick.
struct TempoChange {
    std::uint32_t tempoMicros = 0;
    std::int64_t time = 0;

    friend bool operator==(const TempoChange&, const TempoChange&) = default;
};

inline constexpr std::uint32_t kDefaultTempoMicros = 500000;  // 120 BPM, the standard's default

// What the summary pass learns about a Standard MIDI File.
struct SongSummary {
    std::uint16_t format = 0;
    std::uint16_t declaredTrackCount = 0;  // what the header announces
    std::int32_t ticksPerQuarter = 0;
    std::int32_t ticksPerMeasure = 0;                          // a chart measure is always four quarter notes
    std::vector<TrackSummary> tracks;                          // the tracks actually read, in file order
    std::vector<TempoChange> tempoMap;                         // every non-zero Set Tempo, stably sorted by time
    std::uint32_t tempoMicros = kDefaultTempoMicros;           // the last Set Tempo met, in file order
    std::array<std::uint8_t, 3> tempoBytes{0x07, 0xA1, 0x20};  // its three data bytes
    // The smallest absolute tick of any track's first Note On (whatever its velocity); nothing
    // if the song has no Note On.
    std::optional<std::int64_t> firstNoteTime;
    // The text of the file's first Copyright Notice (meta type 02), decoded as track names are.
    std::optional<std::string> copyright;
    // Why reading stopped before every announced track was read, or that the file ends inside
    // a track it lists, if either happened.
    std::optional<std::string> warning;
    // How many bytes the file had when summarised: a later pass that finds fewer is reading a
    // different file (or a pipe already drained) and must not trust these track locations.
    std::uint64_t fileSize = 0;
};

std::string trackLabel(int trackNumber);

// The bytes of a MIDI file for a pass to walk, its 14-byte header checked before the rest is
// read (so a huge file that is no song costs nothing): CannotOpen if it is not a regular file or
// cannot be read; NotMidi and UnsupportedDivision as readSongSummary gives them.
Result<FileBytes> readSongFile(const std::filesystem::path& midiFile);

// Nothing if `file` (the song's bytes read again for a later pass) holds at least the bytes the
// summary saw; otherwise CannotOpen naming the file: its track locations cannot be trusted.
Status checkUnchangedSince(const SongSummary& song, std::span<const std::uint8_t> file,
                           const std::filesystem::path& midiFile);
// The same for a file read again as `fileSize` bytes.
Status checkUnchangedSince(const SongSummary& song, std::uint64_t fileSize, const std::filesystem::path& midiFile);

// Reads the file and summarises it. CannotOpen if it cannot be read or is not a regular file; NotMidi if the header is
// not that of a Standard MIDI File (shorter than 14 bytes, wrong magic, header length other
// than 6, format 0 with several tracks, 0x8000 or more tracks); UnsupportedDivision for SMPTE
// time; Cancelled if the sink asked to stop. A file damaged after its header still gives the
// tracks read before the damage, with a warning; so does a file that ends inside its last
// track.
Result<SongSummary> readSongSummary(const std::filesystem::path& midiFile, ProgressSink& progress);

// The same for bytes already in memory; `name` is what messages call the file.
Result<SongSummary> summarizeSong(std::span<const std::uint8_t> file, const std::string& name, ProgressSink& progress);

}  // namespace zentrowe::song
