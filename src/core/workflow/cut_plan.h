#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/keysound/wav_cutter.h"
#include "core/workflow/conversion.h"

namespace zentrowe::workflow {

// Where the keysounds to cut come from: the chart a conversion wrote (keysound i is its i-th
// "#WAV" line, and "K-Midi.mid" beside it is read back for where each lies), or the outcome of
// the conversion just run, held in memory.
using CutSource = std::variant<std::filesystem::path, std::reference_wrapper<const ConversionOutcome>>;

// What the user chose for a cut.
struct CutPlanRequest {
    std::filesystem::path recording;  // the rendering of "K-Midi.mid"
    CutSource source;
    // A new keysound name: replaces the name at the start of every keysound's stem. Nothing
    // keeps the stems the chart has.
    std::optional<std::string> keysoundName;
    keysound::LeadIn leadIn = keysound::LeadIn::Auto;
    // Where the cut files go; nothing means beside the chart.
    std::optional<std::filesystem::path> outputFolder;
};

// Turns the user's choices into the cutter's request; reads nothing but the chart and
// "K-Midi.mid" (for a chart source), writes nothing. Refusals: InvalidSetting with the same
// sentence the settings dialog gives for a keysound name the name rule refuses; InvalidSetting
// for a chart line starting "#WAV" that is not "#WAVxx name" (naming the chart and line), or,
// when renaming, a stem that does not end in its note, length and velocity (naming the stem);
// CannotOpen for an unreadable chart or "K-Midi.mid"; NotMidi or UnsupportedDivision for a
// "K-Midi.mid" that is not a keysound file.
Result<keysound::CutRequest> planCut(const CutPlanRequest& request);

// planCut, then the cut itself (keysound::cutRecording, with its refusals and progress in
// files): everything a cut command does between the user's choices and the files. The output
// folder is locked while the cut writes (FolderBusy if another pass keeps it locked).
Result<keysound::CutReport> cutKeysounds(const CutPlanRequest& request, ProgressSink& progress);

}  // namespace zentrowe::workflow
