#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/base/staging_folder.h"
#include "core/convert/keysound_variants.h"
#include "core/convert/settings.h"
#include "core/keysound/keysound_states.h"
#include "core/workflow/background_keysounds.h"
#include "core/workflow/build_request.h"
#include "core/workflow/conversion.h"
#include "core/workflow/prepared_song.h"

namespace zentrowe::workflow {

// What the build converts its lanes' track with: the conversion as Start makes it, into the staging
// folder, and the build's own switches. A build keeps every note at its tick (convert::numberForBms
// for a BMS chart rather than 1/192 measure), leaves the code limit to its plan, which adds
// keysounds of its own, and writes the chart itself, complete, once its sounds are known.
struct BuildConversionRequest {
    ConversionRequest conversion;
    std::string title;                  // of a bmson chart; empty: the MIDI file's base name
    std::optional<std::string> artist;  // none: no artist
    std::string soundExtension;         // of every keysound file name: ".ogg" or ".wav"
    // Keysounds told apart by the channel state they are rendered with too.
    const convert::KeysoundVariants* variants = nullptr;
    // The chart keeps the song's tempo changes up to this tick too (the other tracks' last note),
    // where the track's own notes end earlier.
    std::int64_t lastTick = 0;
};

// convertTrack for a build, of the notes `prepared` holds for the request's parts: the chart is
// made and kept in the outcome, never written; only "K-Midi.mid" goes into the staging folder,
// each keysound played by the instrument of the state its first note starts with among the
// prepared note starts. Progress counts the notes. Refusals as convertTrack's, and for a BMS
// chart CodesExhausted for more distinct tempos than codes.
Result<ConversionOutcome> convertTrackForBuild(const BuildConversionRequest& request, const PreparedSong& prepared,
                                               ProgressSink& progress);

// The track converted as Start converts it, into the staging folder ("K-Midi.mid"; the chart is
// written later, complete, after the sounds it names), each keysound told apart by the channel
// state its note starts with: notes alike but for a state the track changes are keysounds of
// their own.
struct ConvertedTrack {
    keysound::KeysoundStates states;
    ConversionOutcome conversion;
    BackgroundKeysounds background;        // with BgmMode::Keysounds: the other tracks' notes
    convert::ConversionSettings settings;  // what it was converted with (merged to fit the codes)
    std::size_t mergedKeysounds = 0;       // the files merging left out
};

// Converts the lanes' track, its K-Midi.mid written into `staging` through the staging folder's
// file system; when its files and the other tracks' need more codes than base 36 has, converts
// it again merged to fit (request.mergeToFit). Where nothing fits, the conversion as it was (the
// plan refuses it naming the ways out) or the lanes' own CodesExhausted.
Result<ConvertedTrack> convertForBuild(const BuildRequest& request, const PreparedSong& prepared,
                                       const base::StagingFolder& staging, ProgressSink& progress);

}  // namespace zentrowe::workflow
