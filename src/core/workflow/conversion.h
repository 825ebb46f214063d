#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "core/base/file_system.h"
#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/base/same_file.h"
#include "core/chart/chart_model.h"
#include "core/convert/keysound_table.h"
#include "core/convert/keysound_variants.h"
#include "core/convert/settings.h"
#include "core/keysound/keysound_cuts.h"
#include "core/song/song_summary.h"
#include "core/song/track_part.h"

namespace zentrowe::workflow {

// What pressing Start converts.
struct ConversionRequest {
    std::filesystem::path sourceMidiPath;  // re-read for the track's bytes
    song::SongSummary song;                // its summary: track locations, division, tempo map
    std::string chartFileName;             // song::deriveChartFileName(sourceMidiPath)
    std::filesystem::path outputFolder;
    int trackNumber = 0;  // 1-based; 0 means no track chosen
    int channel = 0;      // 1 to 16: only the notes of this MIDI channel of the track; 0: all
    // Further parts whose notes share the lanes (a build's): walked with the track in time order.
    std::vector<song::TrackPart> moreParts;
    convert::ConversionSettings settings;  // settings.bmson: a bmson chart, named with ".bmson"
    // What a bmson chart is called (a BMS chart leaves that to build):
    std::string title;                  // empty: the MIDI file's base name
    std::optional<std::string> artist;  // none: no artist
    // Of every keysound file name; none: ".OGG" in a BMS chart, as the manual path names the
    // files it cuts, ".ogg" in a bmson chart.
    std::optional<std::string> soundExtension;
    // False: the chart is made (ConversionOutcome::chart) but not written, for a caller that
    // completes it and writes it once itself; "K-Midi.mid" is still written.
    bool writeChart = true;
    // A build's: keysounds told apart by the channel state they are rendered with too.
    const convert::KeysoundVariants* variants = nullptr;
    // A build's: a BMS chart too keeps every note at its tick (convert::numberForBms) rather than
    // at 1/192 measure, and the code limit is left to the caller, who adds keysounds of its own.
    bool exactTimes = false;
    // A build's, with exactTimes: the chart keeps the song's tempo changes up to this tick too (the
    // other tracks' last note), where the track's own notes end earlier.
    std::int64_t lastTick = 0;
    // What the chart and "K-Midi.mid" are put in place through; none: the real file system.
    FileSystem* fileSystem = nullptr;
};

// What a finished conversion wrote and learned.
struct ConversionOutcome {
    convert::KeysoundTable keysounds;
    std::filesystem::path chartPath;         // outputFolder / chartFileName
    std::filesystem::path keysoundMidiPath;  // outputFolder / "K-Midi.mid"
    song::SongSummary keysoundSong;          // "K-Midi.mid" read back: what the track list shows now
    keysound::CutList cuts;                  // where each keysound lies in "K-Midi.mid"
    std::int32_t sourceTicksPerMeasure = 0;  // the source song's, for naming the cut files
    std::string keysoundName;                // the prefix the chart's keysound files carry
    std::int64_t gapTicks = 0;               // the silence before each keysound in "K-Midi.mid"
    chart::Chart chart;                      // the chart made, if not written (writeChart false)
    bool allNotesOnDrumChannel = false;      // outside percussion mode: a hint that it would suit
};

inline constexpr const char* kKeysoundMidiFileName = "K-Midi.mid";

// The Start sequence: converts track `trackNumber` of the source file in the mode the settings
// pick, writes the chart and "K-Midi.mid" into the output folder (each through a temporary file
// renamed into place) and reads "K-Midi.mid" back. Progress is in bytes of the track.
// In bmson mode the chart is named after the MIDI file with ".bmson"; no code limit applies,
// and the measure limit is convert::kExactMeasureLimit rather than 1000.
// Refusals, with nothing written: TrackOutOfRange (track 0 or past the tracks read); EmptyTrack
// (the track has no note that makes a keysound, naming the track; of several parts or a channel,
// the first part without a note, naming it);
// UnsupportedDivision (a division of 0); CannotOpen (source unreadable); CodesExhausted
// (keysound codes past "ZZ", or more than 1295 distinct tempos); MeasureOutOfRange (a note or
// long-note end at measure 1000 or later); NoteTooLong (a keysound longer than a delta time of
// "K-Midi.mid" holds); WouldOverwriteSource (an output would replace the source file);
// Cancelled. WriteFailed if a file cannot be written; the chart and "K-Midi.mid" are then both
// left as they were (or absent, as they were). The output folder is made when missing (and
// removed again, if still empty, when the conversion is refused) and locked while the
// conversion writes: FolderBusy if another pass keeps it locked.
Result<ConversionOutcome> runConversion(const ConversionRequest& request, ProgressSink& progress);

// runConversion on the song's bytes already read, into request.outputFolder as it is (neither
// made nor locked): for a pass that converts as one of its steps.
Result<ConversionOutcome> convertTrack(const ConversionRequest& request, std::span<const std::uint8_t> source,
                                       ProgressSink& progress);

// Every part whose notes the conversion charts: the track (or its channel), then moreParts.
std::vector<song::TrackPart> chartedParts(const ConversionRequest& request);

// The chart's file name the conversion writes: request.chartFileName, or its bmson variant.
std::string convertedChartFileName(const ConversionRequest& request);

}  // namespace zentrowe::workflow
