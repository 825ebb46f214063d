#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/chart/chart_model.h"
#include "core/convert/keysound_table.h"
#include "core/convert/keysound_variants.h"
#include "core/convert/placed_note_sink.h"
#include "core/convert/settings.h"
#include "core/song/part_notes.h"
#include "core/song/song_summary.h"
#include "core/song/track_part.h"

namespace zentrowe::convert {

// What a conversion makes: the chart (line type, base, tempo and keysound definitions and the
// channel lines as the BMS chart lays them out) and the keysounds it names.
struct GeneratedChart {
    chart::Chart chart;
    KeysoundTable keysounds;
    std::int64_t lastPlacedTick = 0;  // the latest note start or long-note end placed
};

// Converts one track (1-based) of a song whose bytes are `file` and whose summary is `song`, in
// the mode of `settings`, into the chart model: keysound files are named after their stems with
// `soundExtension`. Tempo changes after the last note (or long-note end) the chart places
// change nothing in it and are left out.
// Keysounds are merged as settings.merge asks before they get codes; the table then counts the
// keysounds merging saved. With `variants` (a build's), keysounds are told apart by their
// variants too and their stems carry the variants' suffixes. Refusals: TrackOutOfRange, UnsupportedDivision (division
// 0), CodesExhausted (keysounds past "ZZ" or, in base 62, "zz": the message counts the track's keysounds and names the
// choices that would fit; or more distinct tempos than codes), MeasureOutOfRange (a note or long-note end at measure
// 1000 or later), Cancelled (the progress sink asked to stop).
Result<GeneratedChart> generateChart(std::span<const std::uint8_t> file, const song::SongSummary& song, int trackNumber,
                                     const ConversionSettings& settings, ProgressSink& progress,
                                     std::string_view soundExtension = ".OGG",
                                     const KeysoundVariants* variants = nullptr);

// The same for the notes of several parts (tracks, or channels of a track) in one chart, walked
// together in time order (song::walkParts); each keysound's source names the part and channel of
// the note that made it. Refusals as above, TrackOutOfRange for any part's track.
Result<GeneratedChart> generateChart(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                     std::span<const song::TrackPart> parts, const ConversionSettings& settings,
                                     ProgressSink& progress, std::string_view soundExtension = ".OGG",
                                     const KeysoundVariants* variants = nullptr);

// The same walk for a chart that keeps exact times: every note goes to `notes` as it is placed,
// in the lane the BMS chart gives it. No code limit and no measure limit apply (keysounds past
// "ZZ" have no code) and the result's chart is empty. Refusals: as generateChart, less
// CodesExhausted, and MeasureOutOfRange only from measure kExactMeasureLimit on.
Result<GeneratedChart> generatePlacedNotes(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                           int trackNumber, const ConversionSettings& settings, PlacedNoteSink& notes,
                                           ProgressSink& progress, const KeysoundVariants* variants = nullptr);
Result<GeneratedChart> generatePlacedNotes(std::span<const std::uint8_t> file, const song::SongSummary& song,
                                           std::span<const song::TrackPart> parts, const ConversionSettings& settings,
                                           PlacedNoteSink& notes, ProgressSink& progress,
                                           const KeysoundVariants* variants = nullptr);
// generateChart and generatePlacedNotes from the notes of `parts` read beforehand
// (song::readPartNotes of those parts), which the entry points above read from the bytes first:
// progress counts the notes rather than bytes.
Result<GeneratedChart> generateChart(const song::PartNotes& partNotes, const song::SongSummary& song,
                                     std::span<const song::TrackPart> parts, const ConversionSettings& settings,
                                     ProgressSink& progress, std::string_view soundExtension = ".OGG",
                                     const KeysoundVariants* variants = nullptr);
Result<GeneratedChart> generatePlacedNotes(const song::PartNotes& partNotes, const song::SongSummary& song,
                                           std::span<const song::TrackPart> parts, const ConversionSettings& settings,
                                           PlacedNoteSink& notes, ProgressSink& progress,
                                           const KeysoundVariants* variants = nullptr);

}  // namespace zentrowe::convert
