#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/convert/settings.h"
#include "core/keysound/keysound_states.h"
#include "core/workflow/background_keysounds.h"
#include "core/workflow/build_request.h"
#include "core/workflow/conversion.h"
#include "core/workflow/prepared_song.h"

namespace zentrowe::workflow {

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

// Converts the lanes' track; when its files and the other tracks' need more codes than base 36
// has, converts it again merged to fit (request.mergeToFit). Where nothing fits, the conversion
// as it was (the plan refuses it naming the ways out) or the lanes' own CodesExhausted.
Result<ConvertedTrack> convertForBuild(const BuildRequest& request, const PreparedSong& prepared,
                                       const std::filesystem::path& stage, ProgressSink& progress);

}  // namespace zentrowe::workflow
