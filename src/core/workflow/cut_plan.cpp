#include "core/workflow/cut_plan.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/folder_lock.h"
#include "core/chart/wav_names.h"
#include "core/convert/keysound_name.h"
#include "core/convert/keysound_table.h"
#include "core/keysound/keysound_cuts.h"
#include "core/song/song_summary.h"

namespace zentrowe::workflow {

namespace {

bool isDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A stem is name + note + "-" + length + "-" + velocity; the note, known from the keysound
// file, tells where the name ends even when the name itself ends in digits.
Result<std::string> renamedStem(const std::string& stem, std::uint8_t note, const std::string& name)
{
    const auto refuse = [&] {
        return Error{ErrorCode::InvalidSetting, "keysound \"" + stem + "\" does not end in " + std::to_string(note) +
                                                    "-<length>-<velocity>, so its keysound name cannot be replaced"}
            .about("stemEnding")
            .withValue(stem)
            .withNumber(note);
    };
    const std::string_view text = stem;
    const auto lastDash = text.rfind('-');
    if (lastDash == std::string_view::npos || lastDash == 0 || !isDigits(text.substr(lastDash + 1))) {
        return refuse();
    }
    const auto lengthDash = text.rfind('-', lastDash - 1);
    if (lengthDash == std::string_view::npos || !isDigits(text.substr(lengthDash + 1, lastDash - lengthDash - 1))) {
        return refuse();
    }
    const std::string noteText = std::to_string(note);
    if (!text.substr(0, lengthDash).ends_with(noteText)) {
        return refuse();
    }
    return name + stem.substr(lengthDash - noteText.size());
}

// The chart's stems, and where each keysound lies from reading "K-Midi.mid" beside it back.
Status planFromChart(const std::filesystem::path& chart, const std::optional<std::string>& name,
                     keysound::CutRequest& request)
{
    // Keysound i is the i-th "#WAVxx name" line of the chart, in file order; its stem is the name
    // without the final ".OGG" the chart writer adds.
    auto stems = chart::readWavNames(chart);
    if (!stems) {
        return stems.error();
    }
    for (auto& stem : *stems) {
        if (stem.ends_with(".OGG")) {
            stem.resize(stem.size() - 4);
        }
    }
    const auto keysoundMidi = request.outputFolder / kKeysoundMidiFileName;
    auto bytes = song::readSongFile(keysoundMidi);
    if (!bytes) {
        return bytes.error();
    }
    NullProgress quiet;
    auto song = song::summarizeSong(bytes->bytes(), displayPath(keysoundMidi), quiet);
    if (!song) {
        return song.error();
    }
    // The gap the keysound file was written with is the time of its first Note On.
    request.gapTicks = song->firstNoteTime.value_or(0);
    request.cuts = keysound::collectKeysoundCuts(bytes->bytes(), *song, 1, request.gapTicks);
    if (request.cuts.empty()) {
        return Error{ErrorCode::EmptyTrack,
                     displayPath(keysoundMidi) + ": holds no keysounds, so there is nothing to cut"};
    }
    request.ticksPerQuarter = song->ticksPerQuarter;
    request.tempoMicros = song->tempoMicros;
    request.keysoundStems = std::move(stems).value();
    if (name) {
        for (std::size_t i = 0; i < request.keysoundStems.size() && i < request.cuts.size(); ++i) {
            auto renamed = renamedStem(request.keysoundStems[i], request.cuts[i].note, *name);
            if (!renamed) {
                Error error = renamed.error();
                error.message = displayPath(chart) + ": " + error.message;
                return std::move(error).inFile(displayPath(chart));
            }
            request.keysoundStems[i] = std::move(renamed).value();
        }
    }
    return {};
}

// The stems the conversion's chart defines (or with the new name), and the read-back it made.
void planFromConversion(const ConversionOutcome& outcome, const std::optional<std::string>& name,
                        keysound::CutRequest& request)
{
    const std::string& prefix = name ? *name : outcome.keysoundName;
    request.keysoundStems.reserve(outcome.keysounds.size());
    for (const auto& entry : outcome.keysounds.entries()) {
        request.keysoundStems.push_back(convert::keysoundStem(prefix, entry, outcome.sourceTicksPerMeasure));
    }
    request.cuts = outcome.cuts;
    request.ticksPerQuarter = outcome.keysoundSong.ticksPerQuarter;
    request.tempoMicros = outcome.keysoundSong.tempoMicros;
    request.gapTicks = outcome.gapTicks;
}

std::filesystem::path folderOf(const std::filesystem::path& file)
{
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

}  // namespace

Result<keysound::CutRequest> planCut(const CutPlanRequest& request)
{
    if (request.keysoundName) {
        if (auto named = convert::checkKeysoundName(*request.keysoundName); !named) {
            return named.error();
        }
    }
    keysound::CutRequest cut;
    cut.recording = request.recording;
    cut.leadIn = request.leadIn;
    if (const auto* chart = std::get_if<std::filesystem::path>(&request.source)) {
        cut.outputFolder = folderOf(*chart);
        cut.protectedFiles = {*chart, cut.outputFolder / kKeysoundMidiFileName};
        if (auto planned = planFromChart(*chart, request.keysoundName, cut); !planned) {
            return planned.error();
        }
    } else {
        const ConversionOutcome& outcome = std::get<std::reference_wrapper<const ConversionOutcome>>(request.source);
        cut.outputFolder = folderOf(outcome.chartPath);
        cut.protectedFiles = {outcome.chartPath, outcome.keysoundMidiPath};
        planFromConversion(outcome, request.keysoundName, cut);
    }
    if (request.outputFolder) {
        cut.outputFolder = *request.outputFolder;
    }
    return cut;
}

Result<keysound::CutReport> cutKeysounds(const CutPlanRequest& request, ProgressSink& progress)
{
    auto cut = planCut(request);
    if (!cut) {
        return cut.error();
    }
    const auto lock = FolderLock::acquire(cut->outputFolder);
    if (!lock) {
        return lock.error();
    }
    return keysound::cutRecording(*cut, progress);
}

}  // namespace zentrowe::workflow
