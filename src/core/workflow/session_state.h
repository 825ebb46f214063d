#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "core/convert/settings.h"
#include "core/keysound/keysound_cuts.h"
#include "core/keysound/wav_cutter.h"
#include "core/song/song_summary.h"
#include "core/song/track_part.h"
#include "core/workflow/conversion.h"
#include "core/workflow/cut_plan.h"

namespace zentrowe::workflow {

// Where a session of the program stands. Opening a file leads to SongOpen; a conversion to
// Converted, where the list shows "K-Midi.mid" and only cutting and going back remain; going
// back returns to SongOpen with the source listed again.
enum class SessionStage {
    NoSong,     // nothing opened yet
    SongOpen,   // the source song is listed: a track can be listed or converted
    Converted,  // "K-Midi.mid" is listed: the recording can be cut, or the source listed again
};

// The song the user works on, owned by whoever drives the workflow (the window or the command
// line) and handed to each pass. The functions below move it from stage to stage; each takes
// what a pass returned successfully, so a failed pass leaves the state (and what is shown) as
// it was.
struct SongState {
    SessionStage stage = SessionStage::NoSong;
    std::filesystem::path sourceMidiPath;   // the file the user opened
    std::filesystem::path currentMidiPath;  // the file listed now: the source or the keysound file
    std::string chartFileName;              // deriveChartFileName(sourceMidiPath)
    std::filesystem::path outputFolder;     // where every output goes
    song::SongSummary song;                 // summary of currentMidiPath
    // The source song's ticks per measure, kept when the keysound file replaces it; names the
    // cut files' lengths.
    std::int32_t sourceTicksPerMeasure = 0;
    keysound::CutList cutList;                        // from the last read-back
    std::optional<ConversionOutcome> lastConversion;  // set while Converted
};

// `summary` was read from `midiFile`: it becomes the source song, listed; stage SongOpen. The
// output folder is kept.
void openSong(SongState& state, const std::filesystem::path& midiFile, song::SongSummary summary);

// runConversion succeeded: "K-Midi.mid" is listed and its cuts kept; stage Converted.
void finishConversion(SongState& state, ConversionOutcome outcome);

// The source song was read again (`summary`): listed again; stage SongOpen.
void returnToSource(SongState& state, song::SongSummary summary);

// What pressing Start converts from this state: track `trackNumber` (1-based) of the source
// song into the output folder.
ConversionRequest conversionRequest(const SongState& state, int trackNumber, convert::ConversionSettings settings);
// The same for parts, as `--track 4,2` or the window's ticked rows name them: the first part is
// the one charted (its track and channel), the others share its lanes. `parts` is not empty.
ConversionRequest conversionRequest(const SongState& state, std::span<const song::TrackPart> parts,
                                    convert::ConversionSettings settings);

// The cut the user asks for after the last conversion: its keysounds (renamed to
// `keysoundName` if given) cut from `recording` into the output folder. Refers to
// state.lastConversion, which must be set (stage Converted) and outlive the request.
CutPlanRequest cutPlanRequest(const SongState& state, std::filesystem::path recording,
                              std::optional<std::string> keysoundName, keysound::LeadIn leadIn);

}  // namespace zentrowe::workflow
