#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/base/file_system.h"
#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/base/same_file.h"
#include "core/chart/chart_model.h"
#include "core/convert/keysound_table.h"
#include "core/convert/settings.h"
#include "core/keysound/keysound_cuts.h"
#include "core/song/channel_state.h"
#include "core/song/part_notes.h"
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
    chart::Chart chart;                      // the chart made, when the caller writes it (a build's)
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
// made nor locked).
Result<ConversionOutcome> convertTrack(const ConversionRequest& request, std::span<const std::uint8_t> source,
                                       ProgressSink& progress);

// The steps convertTrack is made of, which the build's conversion (workflow/build_conversion)
// shares. Each refuses as convertTrack does at that step.

// The parts to chart, once the source (`sourceSize` bytes when `notes`, the charted parts' notes
// as song::readPartNotes reads them, were read) is known unchanged since its summary and every
// part asked for plays a note.
Result<std::vector<song::TrackPart>> partsToConvert(const ConversionRequest& request, const song::PartNotes& notes,
                                                    std::uint64_t sourceSize);
// "K-Midi.mid" of `keysounds`, each played by its instrument; EmptyTrack, naming `parts`, when
// the parts made no keysound.
Result<std::vector<std::uint8_t>> keysoundMidiFile(const ConversionRequest& request,
                                                   std::span<const song::TrackPart> parts,
                                                   const convert::KeysoundTable& keysounds,
                                                   std::span<const song::ChannelInstrument> instruments);
// An outcome with the paths the conversion writes; WouldOverwriteSource, or Cancelled.
Result<ConversionOutcome> outcomePaths(const ConversionRequest& request, ProgressSink& progress);
// Puts "K-Midi.mid" in place, and with `chart` the outcome's chart with it: neither replaces an
// earlier file without the other.
Status writeConvertedFiles(const ConversionRequest& request, const ConversionOutcome& outcome,
                           std::span<const std::uint8_t> keysoundMidi, bool chart, ProgressSink& progress);
// Completes the outcome with the conversion's keysounds and what "K-Midi.mid", as written from
// `keysoundMidi`, tells: its summary and its cuts; `notes` are those of `parts`.
Status completeOutcome(ConversionOutcome& outcome, const ConversionRequest& request,
                       std::span<const song::TrackPart> parts, const song::PartNotes& notes,
                       std::span<const std::uint8_t> keysoundMidi, convert::KeysoundTable keysounds);

// Every part whose notes the conversion charts: the track (or its channel), then moreParts.
std::vector<song::TrackPart> chartedParts(const ConversionRequest& request);

// The chart's file name the conversion writes: request.chartFileName, or its bmson variant.
std::string convertedChartFileName(const ConversionRequest& request);

}  // namespace zentrowe::workflow
