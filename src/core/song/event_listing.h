#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/song/song_summary.h"

namespace zentrowe::song {

// Receives the rows of an event listing, one per event, in track order. The texts are valid only
// during the call.
class EventRowSink {
public:
    virtual ~EventRowSink() = default;
    virtual void addRow(std::string_view delta, std::string_view label, std::string_view description) = 0;
};

// Lists every event of track `trackNumber` (1-based) of a file already summarised: delta time in
// ticks, event label ("Note on", "FF", ...) and description. Events the walk passes over (a data
// byte with no running status, system statuses other than 0xF0, 0xF7 and 0xFF) give no row.
// TrackOutOfRange if the number is not that of a track read; Cancelled if asked to stop.
Status listTrackEvents(std::span<const std::uint8_t> file, const SongSummary& song, int trackNumber, EventRowSink& sink,
                       ProgressSink& progress);

// The same, reading the file again (CannotOpen if it cannot be read).
Status listTrackEvents(const std::filesystem::path& midiFile, const SongSummary& song, int trackNumber,
                       EventRowSink& sink, ProgressSink& progress);

// The track a user typed as decimal digits (checked by the caller), as a number: TrackOutOfRange
// like checkTrackNumber, quoting the digits as typed ("track 99999999999999999999 does not
// exist") however large they are.
Result<int> trackNumberFromDigits(const SongSummary& song, std::string_view digits, const std::string& fileName);

// TrackOutOfRange naming the number and the valid range, or nothing if the track exists.
Status checkTrackNumber(const SongSummary& song, int trackNumber, const std::string& fileName);

}  // namespace zentrowe::song
